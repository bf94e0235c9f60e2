// CWqString: the platform string with positional formatting.
//
// Format replaces "{n}" (n counted from 1) by the n-th argument; a placeholder without an
// argument stays as it is. Numbers become decimal text; a double that is a whole number has no
// fraction ("10"), any other the shortest text that reads back as the same double.
#pragma once

#include <string>
#include <vector>

class CWqString : public std::string {
public:
    CWqString() = default;
    CWqString(const char* text) : std::string(text ? text : "") {}
    CWqString(const std::string& text) : std::string(text) {}
    CWqString(int value) : std::string(std::to_string(value)) {}
    CWqString(short value) : std::string(std::to_string(value)) {}
    CWqString(long value) : std::string(std::to_string(value)) {}
    CWqString(long long value) : std::string(std::to_string(value)) {}
    CWqString(unsigned long value) : std::string(std::to_string(value)) {}
    CWqString(unsigned long long value) : std::string(std::to_string(value)) {}
    CWqString(double value);

    static CWqString Format(const CWqString& format, const std::vector<CWqString>& args);
};

class FXString {
public:
    // "{1}" replaced by the argument.
    static std::string Format(const char* format, const std::string& arg1);
    // The pieces of text between separators, in order (a separator at the end gives no extra
    // piece; two in a row give an empty piece). flags is the maker's and unused.
    static void Split(const std::string& text, const std::string& separator, std::vector<std::string>& pieces,
                      int flags);
};
