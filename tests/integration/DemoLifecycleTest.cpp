// The demo's whole life cycle, run the way `./run demo` runs it but on virtual time: a real
// korvan-sim child process, the real plug-in, korvan-host's objects and state file.
#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <regex>
#include <sstream>

#include "Demo.h"

TEST(DemoLifecycle, EveryStepGivesItsStatusesTheDataFollowsTheSnapshotsAndNothingIsLeftBehind) {
    KrvnHost::DemoOptions options;
    options.simPath = KRVN_BUILD_BIN_DIR "/korvan-sim";
    options.pluginPath = KRVN_BUILD_LIB_DIR "/libZYKorvanSnap.so";
    options.virtualTime = true;
    std::ostringstream out;
    EXPECT_EQ(0, KrvnHost::runDemo(options, out)) << out.str();
    const std::string text = out.str();
    for (const std::string step : {"supported", "prepare", "snap", "map", "unmap", "revert", "reconcile", "delete",
                                   "lun create", "lun map", "lun unmap", "lun resize", "lun delete"}) {
        const std::regex passed("\\n\\s*\\d+\\s+" + step + "\\s+[0-9.]+ s\\s+ok ");
        EXPECT_TRUE(std::regex_search(text, passed)) << step << " did not pass:\n" << text;
    }
    for (const char* line :
         {"0 supported      a vDisk of the simulated cluster",
          "/dev/krvn-blank-padded  1 not supported  (fixture) the same vDisk as a target captured it",
          "/dev/other-vendor       1 not supported  (fixture) another vendor's disk: the vendor is not",
          "/dev/missing            1 not supported  (fixture) no device at that path",
          "#1 #2 #3: 5 snapshot created (expected 5 snapshot created)",
          "#1: 22 reverted, #2: 24 gone from the array, #3: 22 reverted"})
        EXPECT_NE(text.find(line), std::string::npos) << line << " in\n" << text;
    // The data path proves the snapshots: three mapped snapshots and three reverted sources read the
    // pattern written before the snap, though B was written over the sources after it.
    const std::regex patternA("reads fnv1a:[0-9a-f]{16}: pattern A, ok");
    EXPECT_EQ(6, std::distance(std::sregex_iterator(text.begin(), text.end(), patternA), std::sregex_iterator()))
        << text;
    EXPECT_EQ(text.find("NOT pattern"), std::string::npos) << text;
    EXPECT_NE(text.find("holds 1073741824 bytes, the size created"), std::string::npos) << text;
    std::smatch work;
    ASSERT_TRUE(std::regex_search(text, work, std::regex("work directory : (\\S+)"))) << text;
    EXPECT_FALSE(std::filesystem::exists(work[1].str())) << "a demo that passed removes its directory";
}
