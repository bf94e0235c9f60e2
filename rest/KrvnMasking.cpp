#include "KrvnMasking.h"

#include <algorithm>
#include <string_view>

namespace ZYKorvanCommon {

namespace {

// Where the value of a masked key starts when no ":" follows it: past the key and a quote.
constexpr size_t kValueGap = 2;
constexpr char kMaskChar = '*';
constexpr char kLogCutNote[] = "... [";
constexpr char kLogCutNoteEnd[] = " bytes]";
constexpr char kErrorCutNote[] = "...";

// One past the end of the value that starts at `start`.
size_t valueEnd(const std::string& text, size_t start) {
    size_t first = text.find_first_not_of(" \t", start);
    if (first != std::string::npos && (text[first] == '\'' || text[first] == '"')) {
        const char quote = text[first];
        for (size_t i = first + 1; i < text.size(); ++i) {
            // JSON escapes a quote inside its strings; the cluster's own notation has none.
            if (quote == '"' && text[i] == '\\') {
                ++i;
                continue;
            }
            if (text[i] == quote) return i + 1;
        }
        return text.size();
    }
    size_t end = text.find(',', start);
    if (end == std::string::npos) end = text.find('}', start);
    return end == std::string::npos ? text.size() : end;
}

void maskKey(std::string& text, std::string_view key) {
    size_t pos = text.find(key);
    while (pos != std::string::npos) {
        const size_t colon = text.find(':', pos);
        const size_t start = colon != std::string::npos ? colon + 1 : pos + key.size() + kValueGap;
        if (start >= text.size()) return;
        const size_t end = valueEnd(text, start);
        std::fill(text.begin() + static_cast<std::ptrdiff_t>(start), text.begin() + static_cast<std::ptrdiff_t>(end),
                  kMaskChar);
        pos = text.find(key, std::max(end, pos + key.size()));
    }
}

std::string maskedPrefix(const std::string& in, size_t limit) {
    std::string out(in, 0, std::min(limit, in.size()));
    maskKey(out, ZY_KRVN_MASK_VAL_KEY_SESS_ID);
    maskKey(out, ZY_KRVN_MASK_VAL_KEY_PSWD);
    return out;
}

}  // namespace

void maskSecrets(const std::string& in, std::string& out) { out = maskedPrefix(in, in.size()); }

std::string maskedForLog(const std::string& in, size_t limit) {
    std::string out = maskedPrefix(in, limit);
    if (in.size() > limit) out += kLogCutNote + std::to_string(in.size()) + kLogCutNoteEnd;
    return out;
}

std::string maskedForError(const std::string& in, size_t limit) {
    std::string out = maskedPrefix(in, limit);
    if (in.size() > limit) out += kErrorCutNote;
    return out;
}

}  // namespace ZYKorvanCommon
