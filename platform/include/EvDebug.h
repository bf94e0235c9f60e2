// EvDebug: the platform logger.
//
// One line per call: time, pid, job id, level, text. The sink (a file or stderr) and the level
// filter come from the settings file ([Platform] logFile, debugLevel) when the object is
// constructed; errors (-1) are always written. Writes are thread-safe and line-atomic. The file
// is opened in append mode once per object (several processes may share it) and opened again
// when it has been moved or removed, which is looked at once a second.
//
// A line logged without a job id takes the job id of the last line this object logged with
// one (0 before any): a logger serves one entry call, so the lines of a component that knows
// no job (the HTTP transport) are filed under the job they belong to.
#pragma once

#include <atomic>
#include <cstdarg>
#include <string>

class EvDebugFileInstance;  // the maker's file handle; always null in this stand-in

class EvDebug {
public:
    explicit EvDebug(EvDebugFileInstance* instance = nullptr);
    virtual ~EvDebug();
    EvDebug(const EvDebug&) = delete;
    EvDebug& operator=(const EvDebug&) = delete;

    void debugLvl(int level, long long jobId, const char* format, ...) __attribute__((format(printf, 4, 5)));
    void debugLvl(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));
    void vdebugLvl(int level, long long jobId, const char* format, va_list args);
    // One line made of the prefix and the formatted text (used by EvEvent).
    void Debug(const char* prefix, const char* format, ...) __attribute__((format(printf, 3, 4)));

    int getDebugLevel() const { return level_; }

    // While set, every line that passes the level filter also goes to this sink (process-wide),
    // on the writing thread and under the logger's lock, so the sink must not log: for a host
    // that shows the log as it comes (korvan-host's progress) and for tests. Null removes it.
    typedef void (*CaptureSink)(int level, long long jobId, const std::string& text, void* user);
    static void setCaptureSink(CaptureSink sink, void* user);

private:
    // Formats and writes one whole line: head, prefix (may be null), text.
    void write(int level, long long jobId, const char* prefix, const char* format, va_list args);
    // Under the write lock: the descriptor to write to (the file's, reopened when it was
    // rotated away), or -1 for stderr.
    int sinkFd();
    int level_;
    std::string file_;  // empty: stderr
    // The job of the last line logged with a job id. Atomic: an object that threads share stays
    // safe to write through.
    std::atomic<long long> jobId_{0};
    long pid_;
    int fd_ = -1;
    unsigned long long inode_ = 0;
    long long checkedMs_ = 0;  // when the file's identity was last compared with the path's
};

// A short-lived log object used while loading the iSCSI module.
class EvEvent : public EvDebug {
public:
    EvEvent() : EvDebug(nullptr) {}
};
