// Positional formatting and splitting of the platform strings.
#include "CWqString.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kMaxDoubleDigits = 17;

std::string wholeNumberText(double value) {
    char text[400];
    std::snprintf(text, sizeof text, "%.0f", value);
    return text;
}

std::string shortestText(double value) {
    char text[64];
    for (int digits = 1; digits <= kMaxDoubleDigits; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, value);
        if (std::strtod(text, nullptr) == value) break;
    }
    return text;
}

}  // namespace

CWqString::CWqString(double value)
    : std::string(std::isfinite(value) && value == std::trunc(value) ? wholeNumberText(value) : shortestText(value)) {}

CWqString CWqString::Format(const CWqString& format, const std::vector<CWqString>& args) {
    CWqString out;
    size_t pos = 0;
    while (pos < format.size()) {
        size_t open = format.find('{', pos);
        if (open == std::string::npos) break;
        out.append(format, pos, open - pos);
        size_t digitsEnd = open + 1;
        while (digitsEnd < format.size() && std::isdigit(static_cast<unsigned char>(format[digitsEnd]))) {
            ++digitsEnd;
        }
        bool placeholder =
            digitsEnd > open + 1 && digitsEnd - open <= 10 && digitsEnd < format.size() && format[digitsEnd] == '}';
        size_t index = placeholder ? std::strtoul(format.c_str() + open + 1, nullptr, 10) : 0;
        if (index >= 1 && index <= args.size()) {
            out += args[index - 1];
            pos = digitsEnd + 1;
        } else {
            // Not a placeholder, or one without an argument: kept as written.
            out += '{';
            pos = open + 1;
        }
    }
    if (pos < format.size()) out.append(format, pos, std::string::npos);
    return out;
}

std::string FXString::Format(const char* format, const std::string& arg1) {
    return CWqString::Format(CWqString(format), {CWqString(arg1)});
}

void FXString::Split(const std::string& text, const std::string& separator, std::vector<std::string>& pieces,
                     int /*flags*/) {
    pieces.clear();
    if (text.empty()) return;
    if (separator.empty()) {
        pieces.push_back(text);
        return;
    }
    size_t start = 0;
    while (start < text.size()) {
        size_t found = text.find(separator, start);
        if (found == std::string::npos) {
            pieces.push_back(text.substr(start));
            return;
        }
        pieces.push_back(text.substr(start, found - start));
        start = found + separator.size();
    }
}
