#include <gtest/gtest.h>

#include <sstream>

#include "HostReport.h"

using namespace KrvnHost;

TEST(HostReport, FailureShowsItemsCodeAndTextAndNoOutputShowsAPassword) {
    HostState state;
    ArrayEntry array;
    array.name = "krvn-cluster";
    array.storedPassword = "ZYP1:c2VjcmV0";
    state.arrays.push_back(array);
    SnapItem item;
    item.id = 4;
    item.status = 11;
    item.snapName = "vol1$snap$000001";
    state.snaps.push_back(item);
    CallOutcome outcome;
    outcome.operation = "map";
    outcome.result = 1;
    outcome.errorCode = 62009;
    outcome.errorText = "Snapshot map operation failed..";
    outcome.snapIds = {4};

    std::ostringstream failure, arrays, success;
    printOutcome(failure, outcome, state);
    for (const char* part : {"11 not mapped", "vol1$snap$000001", "FAILED", "error 62009: Snapshot map operation failed.."})
        EXPECT_NE(failure.str().find(part), std::string::npos) << part << " in " << failure.str();
    nlohmann::json j = outcomeJson(outcome, state);
    EXPECT_EQ(j["errorCode"], 62009);
    EXPECT_EQ(j["items"][0]["statusName"], "not mapped");

    printArrayTable(arrays, state);
    EXPECT_EQ(arrays.str().find("ZYP1:"), std::string::npos);
    EXPECT_EQ(arrayJson(array).dump().find("ZYP1:"), std::string::npos);
    outcome.result = 0;
    printOutcome(success, outcome, state);
    EXPECT_EQ(success.str().find("error 62009"), std::string::npos) << "no error line on success";
}
