// Progress of korvan-host's entry calls on standard error, while the plug-in works.
//
// An entry call is synchronous and can take minutes (clones unfreezing, devices appearing).
// Every line the plug-in writes for the job reaches the display on the calling thread during
// the call (CallWatcher); the display keeps the operation, the latest line and the start time.
//   Status  one line "korvan-host: OP M:SS LATEST-LINE". On a terminal it is redrawn in place
//           on every line and every second, and erased when the call ends; elsewhere it is
//           printed as a plain line at most every ten seconds of the call, so a short call
//           prints nothing and a long one leaves a readable trail.
//   Follow  every line as it comes, as plain lines with the elapsed time.
//   Quiet   nothing.
// While no line arrives, only a ticker thread can advance the elapsed time: it runs during
// Status calls, and it and the calling thread write under one lock. Elapsed time follows the
// platform's clock, so under [Platform] virtualTime=1 it counts the waits the plug-in skipped.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>

#include "HostObjects.h"

namespace KrvnHost {

enum class ProgressMode { Status, Follow, Quiet };

// "0:05", "1:05", "1:02:03".
std::string elapsedText(double seconds);
// "korvan-host: OP M:SS STEP", cut to at most width characters.
std::string progressLine(const std::string& operation, double seconds, const std::string& step, size_t width);

class ProgressDisplay final : public CallWatcher {
public:
    struct Options {
        ProgressMode mode = ProgressMode::Status;
        bool terminal = false;                 // draw in place with control codes
        size_t width = 80;                     // columns of the terminal
        std::chrono::milliseconds tick{1000};  // 0: no ticker thread; the caller calls tick()
        std::function<double()> clock;         // seconds; empty: the platform's clock
    };
    ProgressDisplay(std::ostream& out, Options options);
    ~ProgressDisplay() override;
    ProgressDisplay(const ProgressDisplay&) = delete;
    ProgressDisplay& operator=(const ProgressDisplay&) = delete;

    void callStarted(const std::string& operation) override;
    void jobLine(const std::string& text) override;
    void callFinished() override;
    // What the ticker does each second: redraw the line, or print it when a plain line is due.
    void tick();

private:
    void showLocked();  // mutex_ held
    void stopTicker();

    std::ostream& out_;
    Options options_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::thread ticker_;
    bool running_ = false;
    std::string operation_, step_;
    double start_ = 0, lastPrinted_ = 0;
};

}  // namespace KrvnHost
