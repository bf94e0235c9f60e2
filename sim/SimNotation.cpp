#include "SimNotation.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace korvansim {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Deep nesting is refused rather than followed, so a hostile body cannot exhaust the stack.
constexpr int kMaxDepth = 64;

bool isDelimiter(char c) {
    return std::isspace(static_cast<unsigned char>(c)) || c == '{' || c == '}' || c == '[' || c == ']' || c == ',' ||
           c == ':' || c == '\'' || c == '"';
}

class NotationReader {
public:
    explicit NotationReader(const std::string& text) : text_(text) {}

    bool readDocument(nlohmann::json& out, std::string& message) {
        bool ok = readValue(out, 0) && (skipBlanks(), pos_ == text_.size() || fail("unexpected text after the value"));
        if (!ok) message = "Unable to parse the request: " + error_ + " at offset " + std::to_string(pos_);
        return ok;
    }

private:
    bool fail(const std::string& why) {
        if (error_.empty()) error_ = why;
        return false;
    }
    void skipBlanks() {
        while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    }
    bool atEnd() { return skipBlanks(), pos_ >= text_.size(); }

    bool readValue(nlohmann::json& out, int depth) {
        if (depth > kMaxDepth) return fail("nesting deeper than " + std::to_string(kMaxDepth));
        if (atEnd()) return fail("a value was expected but the text ended");
        char c = text_[pos_];
        if (c == '{') return readObject(out, depth);
        if (c == '[') return readArray(out, depth);
        if (c == '\'' || c == '"') {
            std::string s;
            if (!readQuoted(s)) return false;
            out = s;
            return true;
        }
        std::string word;
        if (!readWord(word)) return false;
        out = wordValue(word);
        return true;
    }

    bool readObject(nlohmann::json& out, int depth) {
        ++pos_;
        out = nlohmann::json::object();
        if (atEnd()) return fail("unterminated object");
        if (text_[pos_] == '}') return ++pos_, true;
        for (;;) {
            std::string key;
            if (atEnd()) return fail("unterminated object");
            if (text_[pos_] == '\'' || text_[pos_] == '"') {
                if (!readQuoted(key)) return false;
            } else if (!readWord(key)) {
                return false;
            }
            if (atEnd() || text_[pos_] != ':') return fail("':' expected after member '" + key + "'");
            ++pos_;
            nlohmann::json value;
            if (!readValue(value, depth + 1)) return false;
            out[key] = std::move(value);
            if (atEnd()) return fail("unterminated object");
            if (text_[pos_] == ',') {
                ++pos_;
                continue;
            }
            if (text_[pos_] == '}') return ++pos_, true;
            return fail("',' or '}' expected in object");
        }
    }

    bool readArray(nlohmann::json& out, int depth) {
        ++pos_;
        out = nlohmann::json::array();
        if (atEnd()) return fail("unterminated array");
        if (text_[pos_] == ']') return ++pos_, true;
        for (;;) {
            nlohmann::json value;
            if (!readValue(value, depth + 1)) return false;
            out.push_back(std::move(value));
            if (atEnd()) return fail("unterminated array");
            if (text_[pos_] == ',') {
                ++pos_;
                continue;
            }
            if (text_[pos_] == ']') return ++pos_, true;
            return fail("',' or ']' expected in array");
        }
    }

    // No escapes: the plug-in sends names unescaped, so a backslash is an ordinary byte.
    bool readQuoted(std::string& out) {
        char quote = text_[pos_++];
        size_t end = text_.find(quote, pos_);
        if (end == std::string::npos) return fail("unterminated string");
        out = text_.substr(pos_, end - pos_);
        pos_ = end + 1;
        return true;
    }

    bool readWord(std::string& out) {
        size_t start = pos_;
        while (pos_ < text_.size() && !isDelimiter(text_[pos_])) ++pos_;
        if (pos_ == start) return fail(std::string("unexpected character '") + text_[pos_] + "'");
        out = text_.substr(start, pos_ - start);
        return true;
    }

    static nlohmann::json wordValue(const std::string& word) {
        if (word == "true") return true;
        if (word == "false") return false;
        if (word == "null") return nullptr;
        if (looksNumeric(word)) {
            bool integral = word.find_first_of(".eE") == std::string::npos;
            errno = 0;
            if (integral) {
                long long v = std::strtoll(word.c_str(), nullptr, 10);
                if (errno == 0) return v;
            }
            errno = 0;
            double d = std::strtod(word.c_str(), nullptr);
            if (errno == 0) return d;
        }
        return word;
    }

    // The shape of a JSON number: -?digits(.digits)?([eE][+-]?digits)?
    static bool looksNumeric(const std::string& w) {
        size_t i = 0, n = w.size();
        auto digits = [&] {
            size_t s = i;
            while (i < n && std::isdigit(static_cast<unsigned char>(w[i]))) ++i;
            return i > s;
        };
        if (i < n && w[i] == '-') ++i;
        if (!digits()) return false;
        if (i < n && w[i] == '.') {
            ++i;
            if (!digits()) return false;
        }
        if (i < n && (w[i] == 'e' || w[i] == 'E')) {
            ++i;
            if (i < n && (w[i] == '+' || w[i] == '-')) ++i;
            if (!digits()) return false;
        }
        return i == n;
    }

    const std::string& text_;
    size_t pos_ = 0;
    std::string error_;
};

}  // namespace

std::string percentEncode(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        }
    }
    return out;
}

std::string formDecode(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

bool formField(const std::string& body, const std::string& name, std::string& value) {
    size_t start = 0;
    while (start <= body.size()) {
        size_t end = body.find('&', start);
        if (end == std::string::npos) end = body.size();
        std::string field = body.substr(start, end - start);
        size_t eq = field.find('=');
        if (formDecode(field.substr(0, eq)) == name) {
            value = eq == std::string::npos ? std::string() : formDecode(field.substr(eq + 1));
            return true;
        }
        start = end + 1;
    }
    return false;
}

bool parseNotation(const std::string& text, nlohmann::json& value, std::string& message) {
    NotationReader reader(text);
    return reader.readDocument(value, message);
}

}  // namespace korvansim
