// Sleep and clock of the platform, both honouring [Platform] virtualTime.
//
// With virtualTime=1 a sleep returns at once and advances a virtual offset that the clock
// reading follows, so fixed waits cost nothing in tests and demos. The offset belongs to the
// calling thread: a call on virtual time sees exactly the waits it made, whatever other threads
// sleep meanwhile, as a lone call would.
#pragma once

void WQSLEEP_InTeRnAl(unsigned int milliseconds, const char* file, int line);
#define WQSLEEP(ms) WQSLEEP_InTeRnAl((ms), __FILE__, __LINE__)

namespace ZyPlatform {
// Seconds since 1970-01-01 UTC, plus this thread's virtual offset.
long long clockNowSeconds();
// Milliseconds slept virtually by this thread so far (for tests).
unsigned long long virtualSleptMs();
// Number of sleeps requested by this thread so far, virtual or real (for tests).
unsigned long long sleepCount();
}  // namespace ZyPlatform
