#include "KrvnNumbers.h"

#include <algorithm>
#include <charconv>
#include <climits>

namespace ZYKorvanCommon {

namespace {

long long saturatedProduct(long long value, long long factor) {
    if (value <= 0 || factor <= 0) return 0;
    if (value > LLONG_MAX / factor) return LLONG_MAX;
    return value * factor;
}

}  // namespace

unsigned int waitMs(long long units, long long msPerUnit) {
    return static_cast<unsigned int>(std::min<long long>(saturatedProduct(units, msPerUnit), UINT_MAX));
}

bool parseScsiSerial(std::string_view text, int64_t& serial) {
    int64_t parsed = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, parsed, 10);
    if (text.empty() || ec != std::errc() || ptr != end) return false;
    serial = parsed;
    return true;
}

}  // namespace ZYKorvanCommon
