// The calling thread's CPU time, for the platform's call tallies.
#pragma once

#include <ctime>

namespace ZyPlatform {

inline long long threadCpuNs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

}  // namespace ZyPlatform
