// The demo's whole life cycle, run the way `./run demo` runs it but on virtual time: a real
// korvan-sim child process, the real plug-in, korvan-host's objects and state file.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "Demo.h"

TEST(DemoLifecycle, EveryStepOfTheLifeCycleGivesItsStatuses) {
    KrvnHost::DemoOptions options;
    options.simPath = KRVN_BUILD_BIN_DIR "/korvan-sim";
    options.pluginPath = KRVN_BUILD_LIB_DIR "/libZYKorvanSnap.so";
    options.virtualTime = true;
    std::ostringstream out;
    EXPECT_EQ(0, KrvnHost::runDemo(options, out)) << out.str();
    for (const std::string step : {"supported", "prepare", "snap", "map", "unmap", "revert", "reconcile", "delete",
                                   "lun create", "lun map", "lun unmap", "lun resize", "lun delete"}) {
        const std::regex passed("\\n\\s*\\d+\\s+" + step + "\\s+[0-9.]+ s\\s+ok ");
        EXPECT_TRUE(std::regex_search(out.str(), passed)) << step << " did not pass:\n" << out.str();
    }
}
