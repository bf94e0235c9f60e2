// The shared sequence of the provisioning entry points: what the host sees on each path.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "KrvnProvEntry.h"
#include "ProvTestCluster.h"

namespace provtest {
namespace {

struct OpRow {
    int op;
    short success;
    short failure;
};
// The statuses the host framework expects of each operation.
const std::vector<OpRow> kRows = {
    {ZY_KRVN_PROV_OP_CREATE, 0, 1}, {ZY_KRVN_PROV_OP_DELETE, 20, 21}, {ZY_KRVN_PROV_OP_RESIZE, 2, 3},
    {ZY_KRVN_PROV_OP_MAP, 9, 11},   {ZY_KRVN_PROV_OP_UNMAP, 14, 15},
};

class ProvEntryTest : public ProvClusterTest {};

// The count is 16 bits from the host: a negative one must never be used to index the list.
TEST_F(ProvEntryTest, CountsBelowOneAreRefusedWithoutTouchingAnyItem) {
    addDisk();
    addDisk();
    for (const OpRow& row : kRows) {
        for (short count : {short(0), short(-1), short(SHRT_MIN)}) {
            SCOPED_TRACE(std::to_string(row.op) + " count " + std::to_string(count));
            batch[0].clear();
            batch[1].clear();
            logs.clear();
            EXPECT_EQ(1, provEntry(row.op, batch.data(), count, &batch.os));
            EXPECT_TRUE(batch[0].calls.empty() && batch[1].calls.empty());
            EXPECT_TRUE(logs.contains("[5:Invalid disk count-[" + std::to_string(count) + "]]")) << logs.dump();
        }
    }
    EXPECT_EQ(0u, srv.requestCount());
}

TEST_F(ProvEntryTest, ANullItemFailsEveryOtherItemWithItsOperationsStatus) {
    for (const OpRow& row : kRows) {
        SCOPED_TRACE(row.op);
        FakeLunBatch local;
        for (int i = 0; i < 3; ++i) local.add();
        local.setNull(2);
        EXPECT_EQ(1, provEntry(row.op, local.data(), 3, &local.os));
        EXPECT_EQ((std::vector<short>{row.failure, row.failure, -1}), local.statuses());
        EXPECT_EQ(70003, local[0].lastErrorCode);
        EXPECT_EQ("Empty disk info at idx-[2] of total-[3]", local[0].lastErrorMessage);
        EXPECT_EQ(0, local[1].lastErrorCalls);
    }
}

TEST_F(ProvEntryTest, MissingOsUtilListOrOperationIsReportedWithoutACrash) {
    addDisk();
    EXPECT_EQ(1, provEntry(ZY_KRVN_PROV_OP_CREATE, batch.data(), 1, nullptr));
    EXPECT_EQ(1, batch[0].status);
    EXPECT_EQ("OS util is not valid. It is either NULL or not initialized", batch[0].lastErrorMessage);
    EXPECT_EQ(1, provEntry(ZY_KRVN_PROV_OP_DELETE, nullptr, 2, &batch.os));
    EXPECT_EQ(1, provEntry(ZY_KRVN_PROV_OP_RESOLVE, batch.data(), 1, &batch.os));
    EXPECT_EQ(1, provEntry(99, batch.data(), 1, &batch.os));
    EXPECT_EQ(1, batch[0].lastErrorCalls);   // resolve and unknown codes touch nothing
}

TEST_F(ProvEntryTest, ExceptionsFromTheHostBecomeAnInternalErrorOnTheFailurePath) {
    struct Case {
        std::string itemThrows;
        bool nonStandard;
        bool osThrows;
        std::string text;   // "" when the item cannot even take the error
    };
    const std::vector<Case> cases = {
        {"getSize", false, false, "Internal error-[fake host failure in getSize]"},
        {"getDiskName", true, false, "Internal error-[unknown]"},
        {"", false, true, "Internal error-[fake host failure in getJobId]"},
        {"setLastError", false, false, ""},
        {"getStatus", false, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.itemThrows + (c.osThrows ? "os" : ""));
        FakeLunBatch local;
        FakeLunInfo& item = local.add();
        item.storedPassword = key.encrypt(kClearPassword);
        item.size = 1;   // refused, so getStatus is reached on the failure path
        item.throwOn = c.itemThrows;
        item.throwNonStandard = c.nonStandard;
        if (c.osThrows) local.os.throwOn = "getJobId";
        EXPECT_EQ(1, provEntry(ZY_KRVN_PROV_OP_CREATE, local.data(), 1, &local.os));
        if (c.text.empty()) continue;
        EXPECT_EQ(70003, item.lastErrorCode);
        EXPECT_EQ(c.text, item.lastErrorMessage);
        EXPECT_EQ(1, item.status);
    }
}

TEST_F(ProvEntryTest, SetProvStatusLeavesItemsAtTheSuccessStatus) {
    addDisk().status = 9;
    addDisk().status = 9;
    addDisk().status = 4;
    batch.setNull(1);
    setProvStatus(9, 11, batch.data(), 3);
    EXPECT_EQ((std::vector<short>{9, 9, 11}), batch.statuses());
    EXPECT_FALSE(batch[0].called("setStatus"));
    setProvStatus(9, 11, batch.data(), -3);
    setProvStatus(9, 11, nullptr, 3);
    EXPECT_EQ(1u, batch[2].count("setStatus"));
}

TEST_F(ProvEntryTest, CreateStopsAtTheRefusedDiskAndTheEntryFailsTheRest) {
    for (int i = 0; i < 3; ++i) addDisk();
    answer("AddVirtualDisk", okAnswer("AddVirtualDisk", R"([{"status":"ok","name":"vd1"}])"));
    answer("AddVirtualDisk", okAnswer("AddVirtualDisk", R"([{"status":"error","name":"vd2","message":"no space"}])"));
    EXPECT_EQ(1, provEntry(ZY_KRVN_PROV_OP_CREATE, batch.data(), batch.count(), &batch.os));
    EXPECT_EQ((std::vector<short>{0, 1, 1}), batch.statuses());
    EXPECT_EQ((std::vector<std::string>{"Login", "AddVirtualDisk", "AddVirtualDisk"}), sentTypes());
    EXPECT_EQ(70003, batch[0].lastErrorCode);
    EXPECT_EQ("Disk-[vd2] creation failed. Error-[no space]", batch[0].lastErrorMessage);
    EXPECT_FALSE(batch[2].called("setLunName"));
}

TEST_F(ProvEntryTest, ClusterMessagesFollowTheFinalErrorText) {
    addDisk();
    answer("Login", errorAnswer("Login", "bad credentials"));
    EXPECT_EQ(1, provEntry(ZY_KRVN_PROV_OP_DELETE, batch.data(), 1, &batch.os));
    EXPECT_EQ(21, batch[0].status);
    EXPECT_TRUE(has(batch[0].lastErrorMessage, "\nErrors returned by cluster-[bad credentials ]"));
    EXPECT_EQ((std::vector<std::string>{"Login"}), sentTypes());   // nothing after a failed login
}

TEST_F(ProvEntryTest, SuccessfulDeleteLogsOutAndLeavesNoErrorOnTheItems) {
    addDisk(5);
    addDisk(3);
    EXPECT_EQ(0, provEntry(ZY_KRVN_PROV_OP_DELETE, batch.data(), batch.count(), &batch.os)) << logs.dump();
    EXPECT_EQ((std::vector<short>{20, 20}), batch.statuses());
    EXPECT_EQ((std::vector<std::string>{"Login", "DeleteVDisk", "Logout"}), sentTypes());
    EXPECT_EQ(0, batch[0].lastErrorCalls);
    EXPECT_EQ((std::vector<std::string>{"vd3", "vd5"}), requestDisks(sent("DeleteVDisk").at(0)));
    EXPECT_FALSE(logs.contains(kClearPassword));
}

TEST_F(ProvEntryTest, VersionIsWrittenWholeOrNotAtAll) {
    short major = -7, minor = -7, revision = -7;
    provVersion(&major, nullptr, &revision);
    EXPECT_TRUE(major == -7 && revision == -7);
    provVersion(&major, &minor, &revision);
    EXPECT_EQ((std::vector<short>{1, 1, 1}), (std::vector<short>{major, minor, revision}));
    EXPECT_TRUE(logs.containsAt(3, "KRVN  Version: major-[1] minor-[1] revision-[1]"));
}

}  // namespace
}  // namespace provtest
