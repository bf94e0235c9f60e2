#include <gtest/gtest.h>

#include <sstream>

#include "HostReport.h"

using namespace KrvnHost;

TEST(HostReport, FailureShowsItemsCodeAndTextAndNoOutputShowsAPassword) {
    HostState state;
    state.arrays.push_back({1, "krvn-cluster", "", "", "", "ZYP1:c2VjcmV0", "", {}, {}});
    state.snaps.push_back(SnapItem{});
    state.snaps[0].id = 4;
    state.snaps[0].status = 11;
    state.snaps[0].snapName = "vol1$snap$000001";
    CallOutcome outcome{"map", 1, 62009, "Snapshot map operation failed..", "", 0, {4}, {}};

    std::ostringstream failure, arrays, success;
    printOutcome(failure, outcome, state);
    for (const char* part : {"11 not mapped", "vol1$snap$000001", "FAILED", "error 62009: Snapshot map operation failed.."})
        EXPECT_NE(failure.str().find(part), std::string::npos) << part << " in " << failure.str();
    nlohmann::json j = outcomeJson(outcome, state);
    EXPECT_EQ(j["errorCode"], 62009);
    EXPECT_EQ(j["items"][0]["statusName"], "not mapped");

    printArrayTable(arrays, state);
    EXPECT_EQ(arrays.str().find("ZYP1:"), std::string::npos);
    EXPECT_EQ(arrayJson(state.arrays[0]).dump().find("ZYP1:"), std::string::npos);
    outcome.result = 0;
    printOutcome(success, outcome, state);
    EXPECT_EQ(success.str().find("error 62009"), std::string::npos) << "no error line on success";
}
