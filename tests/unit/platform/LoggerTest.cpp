// The platform logger: level filter, file sink, line format, capture and whole-line writes.
#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "EvDebug.h"
#include "LogCapture.h"
#include "ScopedSettings.h"

namespace {

using krvntest::LogCapture;
using krvntest::ScopedSettings;

class LoggerTest : public ::testing::Test {
protected:
    LoggerTest() {
        char tmpl[] = "/tmp/krvn-log-XXXXXX";
        int fd = mkstemp(tmpl);
        if (fd >= 0) close(fd);
        logFile_ = tmpl;
        settings_.set("Platform", "logFile", logFile_);
    }
    ~LoggerTest() override { std::remove(logFile_.c_str()); }

    std::vector<std::string> fileLines() const {
        std::ifstream in(logFile_);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    ScopedSettings settings_;
    std::string logFile_;
};

TEST_F(LoggerTest, LevelFilterDropsDetailAboveTheSettingButNeverErrors) {
    struct Case {
        const char* setting;
        int expectedLevel;
        std::vector<int> written;  // of the levels -1, 0, 2, 3, 5, 7, 8
    } cases[] = {
        {"8", 8, {-1, 0, 2, 3, 5, 7, 8}},
        {"2", 2, {-1, 0, 2}},
        {"-3", -3, {-1}},
        {"loud", 2, {-1, 0, 2}},  // not a number: the default applies
    };
    for (const Case& c : cases) {
        settings_.set("Platform", "debugLevel", c.setting);
        std::remove(logFile_.c_str());
        LogCapture capture;
        EvDebug log(nullptr);
        EXPECT_EQ(log.getDebugLevel(), c.expectedLevel) << c.setting;
        for (int level : {-1, 0, 2, 3, 5, 7, 8}) log.debugLvl(level, 9, "line at %d", level);

        std::vector<int> captured;
        for (const auto& line : capture.lines()) captured.push_back(line.level);
        EXPECT_EQ(captured, c.written) << c.setting;
        EXPECT_EQ(fileLines().size(), c.written.size()) << c.setting;
    }
}

TEST_F(LoggerTest, EachCallWritesOneLineWithTimePidJobLevelAndWholeText) {
    EvDebug log(nullptr);
    const std::string longText(20000, 'x');
    log.debugLvl(2, 4242, "KRVN  step [%s]", "disk1");
    log.debugLvl(0, "KRVN  no job");
    log.debugLvl(-1, 7, "%s|end", longText.c_str());
    log.Debug("KRVN  ", "loaded %s", "module");

    std::vector<std::string> lines = fileLines();
    ASSERT_EQ(lines.size(), 4u);
    const std::string pid = std::to_string(getpid());
    const std::regex shape(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} (\d+) (-?\d+) (-?\d+) (.*)$)");
    struct Expected {
        const char* job;
        const char* level;
        std::string text;
    } expected[] = {
        {"4242", "2", "KRVN  step [disk1]"},
        {"0", "0", "KRVN  no job"},
        {"7", "-1", longText + "|end"},
        {"0", "0", "KRVN  loaded module"},
    };
    for (size_t i = 0; i < lines.size(); ++i) {
        std::smatch parts;
        ASSERT_TRUE(std::regex_match(lines[i], parts, shape)) << lines[i].substr(0, 120);
        EXPECT_EQ(parts[1], pid);
        EXPECT_EQ(parts[2], expected[i].job);
        EXPECT_EQ(parts[3], expected[i].level);
        EXPECT_EQ(parts[4], expected[i].text) << "line " << i;
    }
}

TEST_F(LoggerTest, SettingsApplyFromTheNextLoggerAndCaptureEndsWithItsObject) {
    settings_.set("Platform", "debugLevel", "2");
    EvDebug before(nullptr);
    settings_.set("Platform", "debugLevel", "5");
    EvDebug after(nullptr);
    EXPECT_EQ(before.getDebugLevel(), 2);
    EXPECT_EQ(after.getDebugLevel(), 5);
    {
        LogCapture capture;
        before.debugLvl(5, 1, "KRVN  dropped");
        after.debugLvl(5, 1, "KRVN  kept");
        EXPECT_FALSE(capture.contains("dropped"));
        EXPECT_EQ(capture.count("KRVN  kept"), 1u);
    }
    LogCapture later;
    after.debugLvl(0, 1, "KRVN  after capture");
    EXPECT_EQ(later.texts(), std::vector<std::string>{"KRVN  after capture"});
}

TEST_F(LoggerTest, ConcurrentWritersNeverInterleaveLines) {
    constexpr int kThreads = 4;
    constexpr int kLinesEach = 200;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([t] {
            EvDebug log(nullptr);
            const std::string body(3000, static_cast<char>('a' + t));
            for (int i = 0; i < kLinesEach; ++i) log.debugLvl(0, t, "<%s>", body.c_str());
        });
    }
    for (auto& w : writers) w.join();
    std::vector<std::string> lines = fileLines();
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLinesEach));
    for (const std::string& line : lines) {
        size_t open = line.find('<');
        ASSERT_NE(open, std::string::npos);
        const std::string body = line.substr(open + 1, line.size() - open - 2);
        ASSERT_EQ(body.size(), 3000u);
        EXPECT_EQ(body.find_first_not_of(body[0]), std::string::npos);
        EXPECT_EQ(line.back(), '>');
    }
}

}  // namespace
