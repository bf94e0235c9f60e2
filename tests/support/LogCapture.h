// Test helper: collects every line the platform logger writes while the object lives.
//
// Only lines that pass the logger's level filter arrive (ScopedSettings sets debugLevel=8).
// One capture at a time per process; lines from any thread are collected.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "EvDebug.h"

namespace krvntest {

class LogCapture {
public:
    struct Line {
        int level;
        long long jobId;
        std::string text;
    };

    LogCapture() { EvDebug::setCaptureSink(&LogCapture::receive, this); }
    ~LogCapture() { EvDebug::setCaptureSink(nullptr, nullptr); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<Line> lines() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }
    std::vector<std::string> texts() const {
        std::vector<std::string> out;
        for (const Line& line : lines()) out.push_back(line.text);
        return out;
    }
    // Number of lines that contain the text.
    size_t count(const std::string& text) const {
        size_t n = 0;
        for (const Line& line : lines()) n += line.text.find(text) != std::string::npos;
        return n;
    }
    bool contains(const std::string& text) const { return count(text) > 0; }
    // True when some line at that level contains the text.
    bool containsAt(int level, const std::string& text) const {
        for (const Line& line : lines()) {
            if (line.level == level && line.text.find(text) != std::string::npos) return true;
        }
        return false;
    }
    // Everything captured, one line each, for failure messages.
    std::string dump() const {
        std::string out;
        for (const Line& line : lines()) out += std::to_string(line.level) + " " + line.text + "\n";
        return out;
    }
    void clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.clear();
    }

private:
    static void receive(int level, long long jobId, const std::string& text, void* user) {
        auto* self = static_cast<LogCapture*>(user);
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->lines_.push_back({level, jobId, text});
    }
    mutable std::mutex mutex_;
    std::vector<Line> lines_;
};

}  // namespace krvntest
