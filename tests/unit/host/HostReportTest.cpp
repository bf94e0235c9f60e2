#include <gtest/gtest.h>

#include <sstream>

#include "HostReport.h"
#include "HostSizes.h"
#include "HostTexts.h"
#include "ScopedSettings.h"
#include "TempDir.h"

using namespace KrvnHost;

TEST(HostReport, FailureShowsItemsCodeAndTextAndNoOutputShowsAPassword) {
    HostState state;
    state.arrays.push_back({1, "krvn-cluster", "", "", "", "ZYP1:c2VjcmV0", "", {}, {}});
    state.snaps.push_back(SnapItem{});
    state.snaps[0].id = 4;
    state.snaps[0].status = kSnapNotMapped;
    state.snaps[0].snapName = "vol1$snap$000001";
    CallOutcome outcome{"map", 1, 62009, "Snapshot map operation failed..", "", 0, {4}, {}, {"look at sp1"}};

    std::ostringstream failure, arrays, success;
    printOutcome(failure, outcome, state);
    for (const char* part : {"11 not mapped", "vol1$snap$000001", "FAILED",
                             "error 62009: Snapshot map operation failed..", "note: look at sp1"})
        EXPECT_NE(failure.str().find(part), std::string::npos) << part << " in " << failure.str();
    nlohmann::json j = outcomeJson(outcome, state);
    EXPECT_EQ(j["errorCode"], 62009);
    EXPECT_EQ(j["items"][0]["statusName"], "not mapped");
    EXPECT_EQ(j["notes"][0], "look at sp1");

    printArrayTable(arrays, state);
    EXPECT_EQ(arrays.str().find("ZYP1:"), std::string::npos);
    EXPECT_EQ(arrayJson(state.arrays[0]).dump().find("ZYP1:"), std::string::npos);
    outcome.result = 0;
    printOutcome(success, outcome, state);
    EXPECT_EQ(success.str().find("error 62009"), std::string::npos) << "no error line on success";
}

TEST(HostSizes, SizesAreRefusedByValueAndWhatThePluginChangesIsNamed) {
    const struct {
        const char *gib, *bytes;
        long long size;  // 0: refused with the message
        const char* message;
    } rows[] = {
        {"10", "", 10LL << 30, ""},
        {"", "1610612736", 1610612736, ""},
        {"8589934591", "", 8589934591LL << 30, ""},
        {"0", "", 0, "--size-gb 0 is not a size: give a whole number above 0"},
        {"-2", "", 0, "--size-gb -2 is not a size: give a whole number above 0"},
        {"", "-99999999999999999999", 0,
         "--size-bytes -99999999999999999999 is not a size: give a whole number above 0"},
        {"8589934592", "", 0, "--size-gb 8589934592 is too large: at most 8589934591 GiB"},
        {"", "9223372036854775808", 0,
         "--size-bytes 9223372036854775808 is too large: at most 9223372036854775807 bytes"},
        {"1.5", "", 0, "--size-gb 1.5 is not a whole number"},
        {"", "", 0, "give exactly one of --size-gb and --size-bytes"},
        {"1", "1", 0, "give exactly one of --size-gb and --size-bytes"},
    };
    for (const auto& row : rows) {
        long long size = 0;
        std::string error;
        EXPECT_EQ(sizeFromOptions(row.gib, row.bytes, &size, &error), row.size != 0) << row.gib << row.bytes;
        EXPECT_EQ(size, row.size);
        EXPECT_EQ(error, row.message);
    }
    EXPECT_EQ(sizeNote(1610612736), "the plug-in makes whole GiB: 1610612736 bytes gives a disk of 1 GiB");
    EXPECT_EQ(sizeNote(2LL << 30), "");
    EXPECT_EQ(blockSizeNote(1000),
              "block size 1000 is not one the cluster takes (512, 4096, 65536): the plug-in "
              "creates the disk with 4096");
    for (long taken : {512L, 4096L, 65536L}) EXPECT_EQ(blockSizeNote(taken), "");
}

TEST(HostReport, ASettingsFileThatGivesNothingIsNamedWithItsCause) {
    krvntest::TempDir dir;
    krvntest::ScopedSettings settings;
    settings.set("Platform", "keyFile", "/k");
    EXPECT_EQ(settingsWarning(), "") << "a file read whole";
    const struct {
        std::string path, text, expected;
    } rows[] = {
        {dir.file("absent.ini"), "",
         "the settings file " + dir.file("absent.ini") + " cannot be read (No such file or directory)"},
        {dir.path(), "", "the settings file " + dir.path() + " cannot be read (Is a directory)"},
        {dir.file("broken.ini"), "; comment\n[Platform\nkeyFile=/k\n",
         "line 2 of the settings file " + dir.file("broken.ini") + " cannot be parsed: \"[Platform\""},
    };
    for (const auto& row : rows) {
        if (!row.text.empty()) dir.write("broken.ini", row.text);
        setenv("ZY_SETTINGS_FILE", row.path.c_str(), 1);
        EXPECT_EQ(settingsWarning().rfind(row.expected, 0), 0u) << settingsWarning();
    }
}
