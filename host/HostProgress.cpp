#include "HostProgress.h"

#include <cctype>
#include <cstdio>

#include "WqSleep.h"

namespace KrvnHost {

namespace {

const double kPlainEverySec = 10;
const char* const kRedraw = "\r";
const char* const kClearToEnd = "\033[K";

double platformSeconds() {
    static const auto origin = std::chrono::steady_clock::now();
    std::chrono::duration<double> real = std::chrono::steady_clock::now() - origin;
    return real.count() + static_cast<double>(ZyPlatform::virtualSleptMs()) / 1000;
}

// One line of plain words: the plug-in's lines may hold newlines, tabs and runs of blanks.
std::string oneLine(const std::string& text) {
    std::string out;
    for (char c : text) {
        bool blank = std::isspace(static_cast<unsigned char>(c));
        if (blank && (out.empty() || out.back() == ' ')) continue;
        out += blank ? ' ' : c;
    }
    if (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

// Rulers of stars or dashes, behind the plug-in's tag or not, say nothing about the step: a
// line says something when it holds more letters and digits than other marks.
bool saysSomething(const std::string& text) {
    int words = 0, marks = 0;
    for (char c : text) {
        auto u = static_cast<unsigned char>(c);
        if (std::isalnum(u))
            ++words;
        else if (!std::isspace(u))
            ++marks;
    }
    return words > marks;
}

}  // namespace

std::string elapsedText(double seconds) {
    long total = seconds > 0 ? static_cast<long>(seconds) : 0;
    char text[32];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    return text;
}

std::string progressLine(const std::string& operation, double seconds, const std::string& step, size_t width) {
    std::string line = "korvan-host: " + operation + " " + elapsedText(seconds);
    if (!step.empty()) line += " " + step;
    if (line.size() > width) line.resize(width);
    return line;
}

ProgressDisplay::ProgressDisplay(std::ostream& out, Options options) : out_(out), options_(std::move(options)) {
    if (!options_.clock) options_.clock = platformSeconds;
}

ProgressDisplay::~ProgressDisplay() { stopTicker(); }

void ProgressDisplay::callStarted(const std::string& operation) {
    if (options_.mode == ProgressMode::Quiet) return;
    std::lock_guard<std::mutex> lock(mutex_);
    operation_ = operation;
    step_.clear();
    start_ = lastPrinted_ = options_.clock();
    running_ = true;
    if (options_.mode != ProgressMode::Status) return;
    showLocked();
    if (options_.tick.count() > 0)
        ticker_ = std::thread([this] {
            std::unique_lock<std::mutex> lock(mutex_);
            while (!wake_.wait_for(lock, options_.tick, [this] { return !running_; })) showLocked();
        });
}

void ProgressDisplay::jobLine(const std::string& text) {
    if (options_.mode == ProgressMode::Quiet) return;
    std::string line = oneLine(text);
    if (!saysSomething(line)) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!running_) return;
    if (options_.mode == ProgressMode::Follow) {
        out_ << progressLine(operation_, options_.clock() - start_, line, std::string::npos) << "\n" << std::flush;
        return;
    }
    // A plain line due now tells what the time went on: the step that ends here.
    if (!options_.terminal) showLocked();
    step_ = line;
    if (options_.terminal) showLocked();
}

void ProgressDisplay::tick() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (running_ && options_.mode == ProgressMode::Status) showLocked();
}

void ProgressDisplay::callFinished() {
    stopTicker();
    std::lock_guard<std::mutex> lock(mutex_);
    if (options_.mode == ProgressMode::Status && options_.terminal && !operation_.empty())
        out_ << kRedraw << kClearToEnd << std::flush;
    operation_.clear();
}

void ProgressDisplay::showLocked() {
    const double now = options_.clock();
    if (options_.terminal) {
        // The last column stays free: a terminal that wraps there would leave the line behind.
        size_t width = options_.width > 1 ? options_.width - 1 : 1;
        out_ << kRedraw << progressLine(operation_, now - start_, step_, width) << kClearToEnd << std::flush;
    } else if (now - lastPrinted_ >= kPlainEverySec) {
        lastPrinted_ = now;
        out_ << progressLine(operation_, now - start_, step_, std::string::npos) << "\n" << std::flush;
    }
}

void ProgressDisplay::stopTicker() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        running_ = false;
    }
    wake_.notify_all();
    if (ticker_.joinable()) ticker_.join();
}

}  // namespace KrvnHost
