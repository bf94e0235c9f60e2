// The platform logger: level filter, file sink, line format and whole-line writes.
#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <regex>
#include <thread>

#include "EvDebug.h"
#include "LogCapture.h"
#include "ScopedSettings.h"

namespace {

class LoggerTest : public ::testing::Test {
protected:
    LoggerTest() { settings_.set("Platform", "logFile", logFile_); }
    ~LoggerTest() override { std::remove(logFile_.c_str()); }
    std::vector<std::string> fileLines() const {
        std::ifstream in(logFile_);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    krvntest::ScopedSettings settings_;
    const std::string logFile_ = settings_.path() + ".log";
};

TEST_F(LoggerTest, LevelFilterDropsDetailAboveTheSettingButNeverErrors) {
    const struct {
        const char* setting;
        int level;
        std::vector<int> written;  // of the levels -1, 0, 2, 5, 8
    } cases[] = {{"8", 8, {-1, 0, 2, 5, 8}},
                 {"2", 2, {-1, 0, 2}},
                 {"-3", -3, {-1}},
                 {"loud", 2, {-1, 0, 2}}};  // not a number: the default applies
    for (const auto& c : cases) {
        settings_.set("Platform", "debugLevel", c.setting);
        std::remove(logFile_.c_str());
        krvntest::LogCapture capture;
        EvDebug log(nullptr);
        EXPECT_EQ(log.getDebugLevel(), c.level) << c.setting;
        for (int level : {-1, 0, 2, 5, 8}) log.debugLvl(level, 9, "line at %d", level);
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
    log.debugLvl(-1, 7, "%s|end", longText.c_str());
    log.debugLvl(3, "KRVN  no job given");  // the job of this logger's last line
    log.Debug("KRVN  ", "loaded %s", "module");
    EvDebug().debugLvl(0, "KRVN  %s", "fresh logger");
    const std::vector<std::string> lines = fileLines();
    const std::string pid = std::to_string(getpid());
    const std::vector<std::string> expected = {pid + " 4242 2 KRVN  step [disk1]", pid + " 7 -1 " + longText + "|end",
                                               pid + " 7 3 KRVN  no job given", pid + " 0 0 KRVN  loaded module",
                                               pid + " 0 0 KRVN  fresh logger"};
    ASSERT_EQ(lines.size(), expected.size());
    const std::regex stamp(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )");
    for (size_t i = 0; i < lines.size(); ++i) {
        std::smatch time;
        ASSERT_TRUE(std::regex_search(lines[i], time, stamp)) << lines[i].substr(0, 80);
        EXPECT_EQ(time.suffix().str(), expected[i]) << "line " << i;
    }
}

TEST_F(LoggerTest, ConcurrentWritersNeverInterleaveLines) {
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([t] {
            EvDebug log(nullptr);
            const std::string body(3000, static_cast<char>('a' + t));
            for (int i = 0; i < 200; ++i) log.debugLvl(0, t, "<%s>", body.c_str());
        });
    }
    for (auto& w : writers) w.join();
    const std::vector<std::string> lines = fileLines();
    ASSERT_EQ(lines.size(), 800u);
    for (const std::string& line : lines) {
        const size_t open = line.find('<');
        ASSERT_NE(open, std::string::npos);
        ASSERT_EQ(line.size() - open, 3002u) << line.substr(0, 80);
        EXPECT_EQ(line.find_first_not_of(line[open + 1], open + 1), line.size() - 1);
    }
}

}  // namespace
