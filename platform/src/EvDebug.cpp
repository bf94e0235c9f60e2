// The platform logger: level filter, file or stderr sink, whole-line writes.
#include "EvDebug.h"

#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <vector>

#include "PlatformSettings.h"

namespace {

// One lock for every logger of the process: lines from different objects and threads never
// interleave, and the capture sink sees them in the order they were written.
std::mutex g_writeLock;
EvDebug::CaptureSink g_sink = nullptr;
void* g_sinkUser = nullptr;

constexpr int kErrorLevel = -1;

std::string formatText(const char* format, va_list args) {
    if (!format) return std::string();
    std::vector<char> buffer(256);
    for (;;) {
        va_list copy;
        va_copy(copy, args);
        int needed = std::vsnprintf(buffer.data(), buffer.size(), format, copy);
        va_end(copy);
        if (needed < 0) return std::string();
        if (static_cast<size_t>(needed) < buffer.size()) return std::string(buffer.data(), needed);
        buffer.resize(static_cast<size_t>(needed) + 1);
    }
}

std::string timestamp() {
    struct timeval now;
    gettimeofday(&now, nullptr);
    struct tm parts;
    localtime_r(&now.tv_sec, &parts);
    char text[64];
    size_t used = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    std::snprintf(text + used, sizeof text - used, ".%03ld", static_cast<long>(now.tv_usec / 1000));
    return text;
}

void writeAll(int fd, const std::string& line) {
    size_t done = 0;
    while (done < line.size()) {
        ssize_t n = ::write(fd, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

}  // namespace

EvDebug::EvDebug(EvDebugFileInstance* /*instance*/) {
    ZyPlatform::SettingsStore settings = ZyPlatform::SettingsStore::load();
    level_ =
        static_cast<int>(settings.platformInteger(ZyPlatform::Setting::kDebugLevel, ZyPlatform::Default::kDebugLevel));
    file_ = settings.platformText(ZyPlatform::Setting::kLogFile, "");
}

EvDebug::~EvDebug() = default;

void EvDebug::setCaptureSink(CaptureSink sink, void* user) {
    std::lock_guard<std::mutex> lock(g_writeLock);
    g_sink = sink;
    g_sinkUser = user;
}

void EvDebug::vdebugLvl(int level, long long jobId, const char* format, va_list args) {
    jobId_.store(jobId, std::memory_order_relaxed);
    if (level != kErrorLevel && level > level_) return;
    write(level, jobId, formatText(format, args));
}

void EvDebug::debugLvl(int level, long long jobId, const char* format, ...) {
    va_list args;
    va_start(args, format);
    vdebugLvl(level, jobId, format, args);
    va_end(args);
}

void EvDebug::debugLvl(int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    vdebugLvl(level, jobId_.load(std::memory_order_relaxed), format, args);
    va_end(args);
}

void EvDebug::Debug(const char* prefix, const char* format, ...) {
    constexpr int kNormalLevel = 0;
    if (kNormalLevel > level_) return;
    va_list args;
    va_start(args, format);
    std::string text = std::string(prefix ? prefix : "") + formatText(format, args);
    va_end(args);
    write(kNormalLevel, 0, text);
}

void EvDebug::write(int level, long long jobId, const std::string& text) {
    char head[96];
    std::snprintf(head, sizeof head, " %ld %lld %d ", static_cast<long>(getpid()), jobId, level);
    std::string line = timestamp() + head + text + "\n";

    std::lock_guard<std::mutex> lock(g_writeLock);
    int fd = STDERR_FILENO;
    int opened = -1;
    if (!file_.empty()) {
        // Opened per line in append mode so that several processes (host, simulator) can
        // share one file and a rotated file is picked up at the next line.
        opened = ::open(file_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (opened >= 0) fd = opened;
    }
    writeAll(fd, line);
    if (opened >= 0) ::close(opened);
    if (g_sink) g_sink(level, jobId, text, g_sinkUser);
}
