// Small readers shared by the cluster operations' payload halves.
#pragma once

#include <string>

#include "KrvnJson.h"

namespace ZYKorvanCommon {

// A member read as a string; absent or of another type reads as empty.
inline std::string jsonText(const JsonValue& object, const char* key) {
    std::string value;
    object.getString(key, value);
    return value;
}

}  // namespace ZYKorvanCommon
