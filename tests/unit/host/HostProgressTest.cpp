// korvan-host's progress display, on a clock the test moves and without its ticker thread.
#include <gtest/gtest.h>

#include <sstream>

#include "HostProgress.h"

using namespace KrvnHost;

namespace {

struct Display {
    explicit Display(ProgressMode mode, bool terminal, size_t width = 80)
        : display(out, {mode, terminal, width, std::chrono::milliseconds(0), [this] { return now; }}) {}
    // What was written since the last call.
    std::string taken() {
        std::string text = out.str();
        out.str("");
        return text;
    }
    double now = 100;
    std::ostringstream out;
    ProgressDisplay display;
};

}  // namespace

TEST(HostProgress, OnATerminalOneLineIsRedrawnWithTheLatestStepAndErasedAtTheEnd) {
    for (auto [seconds, text] :
         {std::pair<double, const char*>{0, "0:00"}, {59.9, "0:59"}, {65, "1:05"}, {3723, "1:02:03"}, {-1, "0:00"}})
        EXPECT_EQ(elapsedText(seconds), text);

    Display d(ProgressMode::Status, true, 40);
    d.display.callStarted("map");
    EXPECT_EQ(d.taken(), "\rkorvan-host: map 0:00\033[K");
    d.now += 65;
    d.display.jobLine("KRVN  Check and wait\n\t\tfor [1]   clones ");
    EXPECT_EQ(d.taken(), "\rkorvan-host: map 1:05 KRVN Check and wa\033[K") << "one line, cut before the last column";
    d.display.jobLine("KRVN  ******************");
    EXPECT_EQ(d.taken(), "") << "a ruler is no step";
    d.now += 60;
    d.display.tick();
    EXPECT_EQ(d.taken(), "\rkorvan-host: map 2:05 KRVN Check and wa\033[K") << "the ticker moves the time on";
    d.display.callFinished();
    EXPECT_EQ(d.taken(), "\r\033[K");
    d.display.jobLine("KRVN  after the call");
    d.display.tick();
    EXPECT_EQ(d.taken(), "");
}

TEST(HostProgress, ElsewhereLinesArePlainStatusEveryTenSecondsFollowEveryLineQuietNone) {
    Display status(ProgressMode::Status, false);
    status.display.callStarted("map");
    status.display.jobLine("KRVN  Creating clone");
    status.now += 9;
    status.display.tick();
    EXPECT_EQ(status.taken(), "") << "a short call prints nothing";
    status.now += 21;  // a wait of the plug-in, seen when its next line comes
    status.display.jobLine("KRVN  Clone remains frozen");
    status.now += 10;
    status.display.tick();
    status.display.callFinished();
    EXPECT_EQ(status.taken(),
              "korvan-host: map 0:30 KRVN Creating clone\n"
              "korvan-host: map 0:40 KRVN Clone remains frozen\n");

    Display follow(ProgressMode::Follow, true);
    follow.display.callStarted("lun map");
    follow.display.jobLine("KRVN  one");
    follow.now += 3;
    follow.display.jobLine("KRVN  two");
    follow.display.tick();
    follow.display.callFinished();
    EXPECT_EQ(follow.taken(), "korvan-host: lun map 0:00 KRVN one\nkorvan-host: lun map 0:03 KRVN two\n");

    Display quiet(ProgressMode::Quiet, true);
    quiet.display.callStarted("map");
    quiet.display.jobLine("KRVN  one");
    quiet.now += 60;
    quiet.display.tick();
    quiet.display.callFinished();
    EXPECT_EQ(quiet.taken(), "");
}
