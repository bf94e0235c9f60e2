// Sleep and clock honouring [Platform] virtualTime.
#include "WqSleep.h"

#include <chrono>
#include <ctime>
#include <thread>

#include "PlatformSettings.h"
#include "ZYPlatformInfo.h"

namespace {
// Per thread: concurrent calls each see the time their own waits took, as they would on a real
// clock, and one call's sleeps can never cut another's wait short.
thread_local unsigned long long t_virtualOffsetMs = 0;
thread_local unsigned long long t_sleepCount = 0;

bool virtualTimeOn() { return ZyPlatform::platformNumber(ZyPlatform::Setting::kVirtualTime, 0) != 0; }
}  // namespace

void WQSLEEP_InTeRnAl(unsigned int milliseconds, const char* /*file*/, int /*line*/) {
    ++t_sleepCount;
    if (virtualTimeOn()) {
        t_virtualOffsetMs += milliseconds;
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

namespace ZyPlatform {

long long clockNowSeconds() {
    return static_cast<long long>(std::time(nullptr)) + static_cast<long long>(t_virtualOffsetMs / 1000);
}

unsigned long long virtualSleptMs() { return t_virtualOffsetMs; }

unsigned long long sleepCount() { return t_sleepCount; }

}  // namespace ZyPlatform
