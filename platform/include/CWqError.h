// CWqError: the platform's error value.
#pragma once

#include <string>

class CWqError {
public:
    CWqError() = default;
    CWqError(int code, std::string text) : code_(code), text_(std::move(text)) {}
    bool IsError() const { return code_ != 0; }
    std::string AsString() const { return text_; }
    int Code() const { return code_; }
    void Set(int code, const std::string& text) {
        code_ = code;
        text_ = text;
    }
    void Clear() {
        code_ = 0;
        text_.clear();
    }

private:
    int code_ = 0;
    std::string text_;
};
