// ZyException: the platform's exception type.
#pragma once

#include <exception>
#include <string>

class ZyException : public std::exception {
public:
    ZyException(const std::string& object, const std::string& message, const char* file, int line, int code = -1)
        : object_(object), message_(message), file_(file ? file : ""), line_(line), code_(code) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& object() const { return object_; }
    int code() const { return code_; }
    int line() const { return line_; }

private:
    std::string object_, message_, file_;
    int line_;
    int code_;
};
