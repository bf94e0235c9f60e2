// The platform logger: level filter, file or stderr sink, whole-line writes.
#include "EvDebug.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

#include "PlatformSettings.h"

namespace {

// One lock for every logger of the process: lines from different objects and threads never
// interleave, and the capture sink sees them in the order they were written.
std::mutex g_writeLock;
EvDebug::CaptureSink g_sink = nullptr;
void* g_sinkUser = nullptr;

constexpr int kErrorLevel = -1;
constexpr size_t kLineBuffer = 1024;
constexpr size_t kTypicalLine = 256;
constexpr long long kRotationCheckMs = 1000;

// Appends the formatted text to `line`: formatted once into a buffer on the stack, which most
// lines fit; a longer one is formatted again, in place, at its length.
void appendFormatted(std::string& line, const char* format, va_list args) {
    if (!format) return;
    char first[kLineBuffer];
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(first, sizeof first, format, copy);
    va_end(copy);
    if (needed < 0) return;
    const size_t length = static_cast<size_t>(needed);
    if (length < sizeof first) {
        line.append(first, length);
        return;
    }
    const size_t start = line.size();
    line.resize(start + length);
    va_copy(copy, args);
    std::vsnprintf(&line[start], length + 1, format, copy);
    va_end(copy);
}

void appendNumber(std::string& line, long long value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    line.append(digits, static_cast<size_t>(end - digits));
}

// "YYYY-MM-DD hh:mm:ss.mmm pid job level ": the head of every line.
void startLine(std::string& line, long pid, long long jobId, int level) {
    struct timeval now;
    gettimeofday(&now, nullptr);
    // The date and time change once a second; many lines share them.
    thread_local time_t cachedSecond = -1;
    thread_local char cachedText[48];
    thread_local size_t cachedUsed = 0;
    if (now.tv_sec != cachedSecond) {
        struct tm parts;
        localtime_r(&now.tv_sec, &parts);
        cachedUsed = std::strftime(cachedText, sizeof cachedText, "%Y-%m-%d %H:%M:%S", &parts);
        cachedSecond = now.tv_sec;
    }
    line.assign(cachedText, cachedUsed);
    const long ms = static_cast<long>(now.tv_usec / 1000);
    const char fraction[] = {'.', static_cast<char>('0' + ms / 100), static_cast<char>('0' + ms / 10 % 10),
                             static_cast<char>('0' + ms % 10), ' '};
    line.append(fraction, sizeof fraction);
    appendNumber(line, pid);
    line += ' ';
    appendNumber(line, jobId);
    line += ' ';
    appendNumber(line, level);
    line += ' ';
}

long long steadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
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
    const ZyPlatform::CurrentSettings current;
    const ZyPlatform::SettingsStore& settings = *current;
    level_ =
        static_cast<int>(settings.platformInteger(ZyPlatform::Setting::kDebugLevel, ZyPlatform::Default::kDebugLevel));
    file_ = settings.platformText(ZyPlatform::Setting::kLogFile, "");
    pid_ = static_cast<long>(getpid());
}

EvDebug::~EvDebug() {
    if (fd_ >= 0) ::close(fd_);
}

int EvDebug::sinkFd() {
    if (file_.empty()) return -1;
    const long long now = steadyMs();
    if (fd_ >= 0 && now - checkedMs_ < kRotationCheckMs) return fd_;
    checkedMs_ = now;
    struct stat info {};
    const bool present = ::stat(file_.c_str(), &info) == 0;
    if (fd_ >= 0 && present && static_cast<unsigned long long>(info.st_ino) == inode_) return fd_;
    // Not open yet, or the path names another file now (rotated, or removed).
    if (fd_ >= 0) ::close(fd_);
    fd_ = ::open(file_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    struct stat opened {};
    inode_ = fd_ >= 0 && ::fstat(fd_, &opened) == 0 ? static_cast<unsigned long long>(opened.st_ino) : 0;
    return fd_;
}

void EvDebug::setCaptureSink(CaptureSink sink, void* user) {
    std::lock_guard<std::mutex> lock(g_writeLock);
    g_sink = sink;
    g_sinkUser = user;
}

void EvDebug::vdebugLvl(int level, long long jobId, const char* format, va_list args) {
    jobId_.store(jobId, std::memory_order_relaxed);
    if (level != kErrorLevel && level > level_) return;
    write(level, jobId, nullptr, format, args);
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
    write(kNormalLevel, 0, prefix, format, args);
    va_end(args);
}

void EvDebug::write(int level, long long jobId, const char* prefix, const char* format, va_list args) {
    // One buffer and one formatting pass for the whole line, head included.
    std::string line;
    line.reserve(kTypicalLine);
    startLine(line, pid_, jobId, level);
    const size_t textStart = line.size();
    if (prefix) line += prefix;
    appendFormatted(line, format, args);
    line += '\n';

    std::lock_guard<std::mutex> lock(g_writeLock);
    // Append mode keeps each line whole when several processes (host, simulator) share the file.
    const int fd = sinkFd();
    writeAll(fd >= 0 ? fd : STDERR_FILENO, line);
    if (g_sink) g_sink(level, jobId, line.substr(textStart, line.size() - 1 - textStart), g_sinkUser);
}
