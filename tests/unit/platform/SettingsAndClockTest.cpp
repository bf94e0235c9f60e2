// The settings store and the virtual clock.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "ScopedSettings.h"
#include "WqSleep.h"
#include "ZYPlatformInfo.h"

namespace {

TEST(PlatformSettings, EveryCallSeesTheFileAsItIsNowAndAMissingFileIsEmpty) {
    krvntest::ScopedSettings settings;  // restores the environment afterwards
    ZYPlatformInfo info;
    std::string value;
    for (const char* text : {"first", "second"}) {
        settings.set("Ovelin", "sZYKorvanName", text);
        ASSERT_NE(info.getString("Ovelin", "sZYKorvanName", &value), 0);
        EXPECT_EQ(value, text);
    }
    EXPECT_EQ(info.getString("Platform", "sZYKorvanName", &value), 0) << "sections are separate";
    settings.erase("Ovelin", "sZYKorvanName");
    EXPECT_EQ(info.getString("Ovelin", "sZYKorvanName", &value), 0);
    EXPECT_EQ(value, "second") << "a missing key leaves the target";

    settings.set("Ovelin", "sZYKorvanName", "present");
    setenv("ZY_SETTINGS_FILE", "/nonexistent/krvn/settings.ini", 1);
    EXPECT_EQ(info.getString("Ovelin", "sZYKorvanName", &value), 0);
    EXPECT_EQ(ZyPlatform::platformString("logFile", "fallback"), "fallback");
    unsetenv("ZY_SETTINGS_FILE");
    EXPECT_EQ(ZYPlatformInfo::settingsPath(), "/etc/zykorvan/settings.ini");
}

TEST(PlatformSettings, AScopeReadsTheFileOnceForItsOwnThreadAndScopesNest) {
    krvntest::ScopedSettings settings;
    ZYPlatformInfo info;
    std::string value;
    auto read = [&info, &value] {
        value.clear();
        info.getString("Ovelin", "sKey", &value);
        return value;
    };
    settings.set("Ovelin", "sKey", "before");
    {
        ZYPlatformSettingsScope call;
        settings.set("Ovelin", "sKey", "changed");
        EXPECT_EQ("before", read()) << "one reading per scope";
        std::string otherThread;
        std::thread([&otherThread] {
            ZYPlatformInfo mine;
            mine.getString("Ovelin", "sKey", &otherThread);
        }).join();
        EXPECT_EQ("changed", otherThread) << "another thread has no scope of this one";
        {
            ZYPlatformSettingsScope inner;
            EXPECT_EQ("changed", read());
        }
        EXPECT_EQ("before", read()) << "the outer scope is back";
    }
    EXPECT_EQ("changed", read());

    // How the file was read: whole, one refused line (the others still read), not at all.
    std::ofstream(settings.path()) << "[Ovelin]\nsKey=kept\n[broken\nsOther=also\n";
    std::string path;
    int openError = -1;
    {
        ZYPlatformSettingsScope broken;
        EXPECT_EQ(3, broken.status(&path, &openError));
        EXPECT_EQ(settings.path(), path);
        EXPECT_EQ("kept", read());
    }
    setenv("ZY_SETTINGS_FILE", "/nonexistent/krvn/settings.ini", 1);
    ZYPlatformSettingsScope missing;
    EXPECT_EQ(-1, missing.status(&path, &openError));
    EXPECT_EQ(ENOENT, openError);
    EXPECT_EQ("/nonexistent/krvn/settings.ini", path);
}

TEST(PlatformSettings, NumbersAreDecimalIntegersAndAnythingElseIsAbsent) {
    krvntest::ScopedSettings settings;
    ZYPlatformInfo info;
    const std::pair<const char*, long> cases[] = {
        {"42", 42},  {"-5", -5},    {" 7 ", 7},  {"+3", 3}, {"0", 0},
        {"abc", -1}, {"12abc", -1}, {"1.5", -1}, {"", -1},  {"99999999999999999999", -1}};  // -1: absent
    for (const auto& [text, expected] : cases) {
        settings.set("Ovelin", "nZYKorvanValue", text);
        settings.set("Platform", "connectTimeoutSec", text);
        unsigned long value = 12345;
        EXPECT_EQ(info.getNumber("Ovelin", "nZYKorvanValue", &value) != 0, expected != -1) << "[" << text << "]";
        EXPECT_EQ(static_cast<long>(value), expected != -1 ? expected : 12345) << "[" << text << "]";
        EXPECT_EQ(ZyPlatform::platformNumber("connectTimeoutSec", 30), expected != -1 ? expected : 30) << text;
        EXPECT_EQ(ZyPlatform::platformNumber("nZYKorvanValue", -77), -77) << "platformNumber reads [Platform] only";
    }
}

TEST(PlatformClock, VirtualSleepReturnsAtOnceAndTheClockFollowsElseTheSleepIsReal) {
    krvntest::ScopedSettings settings;  // virtualTime=1
    const long long clockBefore = ZyPlatform::clockNowSeconds();
    const unsigned long long sleptBefore = ZyPlatform::virtualSleptMs();
    const unsigned long long countBefore = ZyPlatform::sleepCount();
    auto start = std::chrono::steady_clock::now();
    WQSLEEP(3600u * 1000u);
    WQSLEEP(500u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(ZyPlatform::virtualSleptMs() - sleptBefore, 3600u * 1000u + 500u);
    EXPECT_EQ(ZyPlatform::sleepCount() - countBefore, 2u);
    EXPECT_NEAR(ZyPlatform::clockNowSeconds() - clockBefore, 3601, 1);

    // Each thread has its own virtual clock: another thread's sleeps neither show here nor
    // start from this thread's.
    unsigned long long otherSlept = 0;
    long long otherClock = 0;
    std::thread([&] {
        WQSLEEP(7000u);
        otherSlept = ZyPlatform::virtualSleptMs();
        otherClock = ZyPlatform::clockNowSeconds();
    }).join();
    EXPECT_EQ(otherSlept, 7000u);
    EXPECT_NEAR(otherClock - clockBefore, 7, 1);
    EXPECT_EQ(ZyPlatform::virtualSleptMs() - sleptBefore, 3600u * 1000u + 500u);

    settings.set("Platform", "virtualTime", "0");
    start = std::chrono::steady_clock::now();
    WQSLEEP(30u);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
    EXPECT_EQ(ZyPlatform::virtualSleptMs() - sleptBefore, 3600u * 1000u + 500u);
}

}  // namespace
