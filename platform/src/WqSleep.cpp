// Sleep and clock honouring [Platform] virtualTime.
#include "WqSleep.h"

#include <atomic>
#include <chrono>
#include <ctime>
#include <thread>

#include "PlatformSettings.h"
#include "ZYPlatformInfo.h"

namespace {
std::atomic<unsigned long long> g_virtualOffsetMs{0};
std::atomic<unsigned long long> g_sleepCount{0};

bool virtualTimeOn() { return ZyPlatform::platformNumber(ZyPlatform::Setting::kVirtualTime, 0) != 0; }
}  // namespace

void WQSLEEP_InTeRnAl(unsigned int milliseconds, const char* /*file*/, int /*line*/) {
    ++g_sleepCount;
    if (virtualTimeOn()) {
        g_virtualOffsetMs += milliseconds;
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

namespace ZyPlatform {

long long clockNowSeconds() {
    return static_cast<long long>(std::time(nullptr)) + static_cast<long long>(g_virtualOffsetMs.load() / 1000);
}

unsigned long long virtualSleptMs() { return g_virtualOffsetMs.load(); }

unsigned long long sleepCount() { return g_sleepCount.load(); }

}  // namespace ZyPlatform
