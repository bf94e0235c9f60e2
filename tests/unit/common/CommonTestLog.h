// Lines the platform logger writes while an object of this class lives (process-wide sink).
#pragma once

#include <string>
#include <vector>

#include "EvDebug.h"

namespace krvntest {

struct CapturedLine {
    int level;
    long long jobId;
    std::string text;
};

class CommonLogCapture {
public:
    CommonLogCapture() { EvDebug::setCaptureSink(&CommonLogCapture::sink, this); }
    ~CommonLogCapture() { EvDebug::setCaptureSink(nullptr, nullptr); }
    CommonLogCapture(const CommonLogCapture&) = delete;
    CommonLogCapture& operator=(const CommonLogCapture&) = delete;

    const std::vector<CapturedLine>& lines() const { return lines_; }
    // True when a line at that level equals text.
    bool has(int level, const std::string& text) const {
        for (const auto& l : lines_)
            if (l.level == level && l.text == text) return true;
        return false;
    }
    bool anyContains(const std::string& part) const {
        for (const auto& l : lines_)
            if (l.text.find(part) != std::string::npos) return true;
        return false;
    }
    size_t countAt(int level) const {
        size_t n = 0;
        for (const auto& l : lines_) n += l.level == level ? 1 : 0;
        return n;
    }

private:
    static void sink(int level, long long jobId, const std::string& text, void* user) {
        static_cast<CommonLogCapture*>(user)->lines_.push_back({level, jobId, text});
    }
    std::vector<CapturedLine> lines_;
};

}  // namespace krvntest
