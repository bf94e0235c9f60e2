// Settings for the snapshot context and entry point tests: virtual time, full debug level, and
// the log lines kept out of the test output (LogCapture still sees every one).
#pragma once

#include "ScopedSettings.h"

namespace krvntest {

struct QuietSettings : ScopedSettings {
    QuietSettings() { set("Platform", "logFile", "/dev/null"); }
};

}  // namespace krvntest
