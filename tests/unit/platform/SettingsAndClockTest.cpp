// The settings store and the virtual clock.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "ScopedSettings.h"
#include "WqSleep.h"
#include "ZYPlatformInfo.h"

namespace {

using krvntest::ScopedSettings;

TEST(PlatformSettings, EveryCallSeesTheFileAsItIsNow) {
    ScopedSettings settings;
    ZYPlatformInfo info;
    std::string value;
    settings.set("Ovelin", "sZYKorvanName", "first");
    ASSERT_NE(info.getString("Ovelin", "sZYKorvanName", &value), 0);
    EXPECT_EQ(value, "first");

    settings.set("Ovelin", "sZYKorvanName", "second");
    ASSERT_NE(info.getString("Ovelin", "sZYKorvanName", &value), 0);
    EXPECT_EQ(value, "second");

    settings.erase("Ovelin", "sZYKorvanName");
    value = "untouched";
    EXPECT_EQ(info.getString("Ovelin", "sZYKorvanName", &value), 0);
    EXPECT_EQ(value, "untouched");
    EXPECT_EQ(info.getString("Platform", "sZYKorvanName", &value), 0) << "sections are separate";
}

TEST(PlatformSettings, NumbersAreDecimalIntegersAndAnythingElseIsAbsent) {
    ScopedSettings settings;
    ZYPlatformInfo info;
    struct Case {
        const char* text;
        bool found;
        long value;
    } cases[] = {
        {"42", true, 42},         {"-5", true, -5},      {" 7 ", true, 7},
        {"+3", true, 3},          {"0", true, 0},        {"abc", false, 0},
        {"12abc", false, 0},      {"1.5", false, 0},     {"", false, 0},
        {"99999999999999999999", false, 0},
    };
    for (const Case& c : cases) {
        settings.set("Ovelin", "nZYKorvanValue", c.text);
        unsigned long value = 12345;
        int found = info.getNumber("Ovelin", "nZYKorvanValue", &value);
        EXPECT_EQ(found != 0, c.found) << "[" << c.text << "]";
        if (c.found) {
            EXPECT_EQ(static_cast<long>(value), c.value) << "[" << c.text << "]";
        }
        EXPECT_EQ(ZyPlatform::platformNumber("nZYKorvanValue", -77), -77)
            << "platformNumber reads [Platform] only";
    }
    settings.set("Platform", "connectTimeoutSec", "12");
    EXPECT_EQ(ZyPlatform::platformNumber("connectTimeoutSec", 30), 12);
    settings.set("Platform", "connectTimeoutSec", "soon");
    EXPECT_EQ(ZyPlatform::platformNumber("connectTimeoutSec", 30), 30);
}

TEST(PlatformSettings, MissingFileIsAnEmptyStoreAndTheDefaultPathApplies) {
    ScopedSettings settings;  // restores the environment afterwards
    settings.set("Ovelin", "sZYKorvanName", "present");
    setenv("ZY_SETTINGS_FILE", "/nonexistent/krvn/settings.ini", 1);
    ZYPlatformInfo info;
    std::string value;
    unsigned long number = 0;
    EXPECT_EQ(info.getString("Ovelin", "sZYKorvanName", &value), 0);
    EXPECT_EQ(info.getNumber("Ovelin", "nZYKorvanRetry", &number), 0);
    EXPECT_EQ(ZyPlatform::platformString("logFile", "fallback"), "fallback");
    EXPECT_EQ(ZYPlatformInfo::settingsPath(), "/nonexistent/krvn/settings.ini");
    unsetenv("ZY_SETTINGS_FILE");
    EXPECT_EQ(ZYPlatformInfo::settingsPath(), "/etc/zykorvan/settings.ini");
}

TEST(PlatformClock, VirtualSleepReturnsAtOnceAndTheClockFollows) {
    ScopedSettings settings;  // virtualTime=1
    const long long clockBefore = ZyPlatform::clockNowSeconds();
    const unsigned long long sleptBefore = ZyPlatform::virtualSleptMs();
    const unsigned long long countBefore = ZyPlatform::sleepCount();
    const auto realStart = std::chrono::steady_clock::now();

    WQSLEEP(3600u * 1000u);
    WQSLEEP(500u);

    const auto realElapsed = std::chrono::steady_clock::now() - realStart;
    EXPECT_LT(realElapsed, std::chrono::milliseconds(500));
    EXPECT_EQ(ZyPlatform::virtualSleptMs() - sleptBefore, 3600u * 1000u + 500u);
    EXPECT_EQ(ZyPlatform::sleepCount() - countBefore, 2u);
    const long long advanced = ZyPlatform::clockNowSeconds() - clockBefore;
    EXPECT_GE(advanced, 3600);
    EXPECT_LE(advanced, 3602);
}

TEST(PlatformClock, WithoutVirtualTimeTheSleepIsReal) {
    ScopedSettings settings;
    settings.set("Platform", "virtualTime", "0");
    const unsigned long long sleptBefore = ZyPlatform::virtualSleptMs();
    const auto realStart = std::chrono::steady_clock::now();
    WQSLEEP(30u);
    EXPECT_GE(std::chrono::steady_clock::now() - realStart, std::chrono::milliseconds(30));
    EXPECT_EQ(ZyPlatform::virtualSleptMs(), sleptBefore);
}

}  // namespace
