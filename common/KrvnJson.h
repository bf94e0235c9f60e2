// Typed, non-throwing access to JSON texts the plug-in reads (cluster answers, the host's map
// information), over simdjson's DOM.
//
// Reading rules used everywhere: a member is taken only when present with the wanted JSON
// type, otherwise the target is left as it was and the call answers false. Integers are exact
// to 64 bits; a floating value is truncated toward zero for an integer field; a number outside
// the field's range counts as a member of the wrong type (never wrapped). Nothing here throws.
// A JsonValue is a view: it lives no longer than the JsonDocument it came from.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace ZYKorvanCommon {

class JsonValue {
public:
    JsonValue();  // an absent value
    bool isPresent() const;
    bool isObject() const;
    bool isArray() const;
    bool isString() const;
    bool isBool() const;
    bool isNumber() const;

    // Members of an object (absent when this is not an object or has no such key).
    JsonValue member(std::string_view key) const;
    bool has(std::string_view key) const { return member(key).isPresent(); }
    bool getString(std::string_view key, std::string& out) const;
    // The same as a view into the document's text: valid while the document lives.
    bool getStringView(std::string_view key, std::string_view& out) const;
    bool getBool(std::string_view key, bool& out) const;
    bool getInt64(std::string_view key, int64_t& out) const;
    bool getInt32(std::string_view key, int32_t& out) const;
    bool getInt16(std::string_view key, int16_t& out) const;
    bool getObject(std::string_view key, JsonValue& out) const;
    bool getArray(std::string_view key, JsonValue& out) const;

    // This value itself.
    bool asString(std::string& out) const;
    bool asStringView(std::string_view& out) const;
    bool asBool(bool& out) const;
    bool asInt64(int64_t& out) const;

    // Arrays: element count (0 when not an array) and the elements in order, each touched
    // once (simdjson arrays have no index: reaching element i walks the i before it).
    size_t size() const;
    void forEachElement(const std::function<void(const JsonValue&)>& fn) const;
    // The same while fn answers true; false when fn stopped the walk.
    bool forEachElementWhile(const std::function<bool(const JsonValue&)>& fn) const;

    // Objects: members in ascending byte-wise key order.
    void forEachMemberSorted(const std::function<void(const std::string& key, const JsonValue&)>& fn) const;
    size_t memberCount() const;

    // The simdjson element, held by value without exposing simdjson to callers
    // (a dom::element is a trivially copyable document pointer and tape index).
    static constexpr size_t kStorage = 16;
    alignas(8) unsigned char storage_[kStorage];
    bool present_ = false;
};

class JsonDocument {
public:
    JsonDocument();
    ~JsonDocument();
    JsonDocument(const JsonDocument&) = delete;
    JsonDocument& operator=(const JsonDocument&) = delete;

    // True when the text is valid JSON whose top level is an object. A string with room for
    // the parser's read-ahead past its end (ZYSnapRESTAPI::kAnswerSlack, as the transport
    // leaves each answer) is parsed where it lies; any other text is copied first.
    bool parseObject(std::string_view text);
    bool parseObject(const std::string& text);
    bool parseObject(const char* text) { return parseObject(std::string_view(text)); }
    JsonValue root() const;
    // simdjson's reason for the last failure ("" after success).
    const std::string& error() const { return error_; }

    // The parser behind a document; a few are kept between documents (KrvnJson.cpp).
    struct State;

private:
    bool parse(std::string_view text, bool padded);

    std::unique_ptr<State> state_;
    std::string error_;
};

// A member read as a string; absent or of another type reads as empty.
inline std::string jsonText(const JsonValue& object, const char* key) {
    std::string value;
    object.getString(key, value);
    return value;
}

}  // namespace ZYKorvanCommon
