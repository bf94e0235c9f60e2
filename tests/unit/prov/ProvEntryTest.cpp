// The shared sequence of the provisioning entry points: what the host sees on each path.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <fstream>
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
    {ZY_KRVN_PROV_OP_CREATE, kLunCreated, kLunCreateFailed}, {ZY_KRVN_PROV_OP_DELETE, kLunDeleted, kLunDeleteFailed},
    {ZY_KRVN_PROV_OP_RESIZE, kLunResized, kLunResizeFailed}, {ZY_KRVN_PROV_OP_MAP, kLunMapped, kLunMapFailed},
    {ZY_KRVN_PROV_OP_UNMAP, kLunUnmapped, kLunUnmapFailed},
};

class ProvEntryTest : public ProvClusterTest {};

// Nothing is read from the items before the input is known sound. The count is 16 bits from
// the host: a negative one must never be used to index the list.
TEST_F(ProvEntryTest, UnsoundInputIsRefusedBeforeAnyItemIsRead) {
    const std::string list = "KRVN  Input disk list validation failed [",
                      objects = "KRVN  Input internal object validation failed [";
    struct Case {
        bool nullOs, nullList;
        short count;
        std::string logLine, text;  // text: what the first item is told ("": no item is touched)
    };
    const std::string os = "OS util is not valid. It is either NULL or not initialized",
                      hole = "Empty disk info at idx-[2] of total-[3]";
    const std::vector<Case> cases = {
        {false, false, 0, list + "5:Invalid disk count-[0]].", ""},
        {false, false, -1, list + "5:Invalid disk count-[-1]].", ""},
        {false, false, SHRT_MIN, list + "5:Invalid disk count-[-32768]].", ""},
        {false, true, 3, objects + "7:Empty disk list passed]", ""},
        {true, false, 2, objects + "4:" + os + "].", os},
        {false, false, 3, objects + "7:" + hole + "].", hole},  // the third item is null
    };
    for (const OpRow& row : kRows) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::to_string(row.op) + " " + c.logLine);
            FakeLunBatch local;
            for (int i = 0; i < 3; ++i) local.add();
            local.setNull(2);
            EXPECT_EQ(1,
                      provEntry(row.op, c.nullList ? nullptr : local.data(), c.count, c.nullOs ? nullptr : &local.os));
            EXPECT_TRUE(logs.containsAt(-1, c.logLine)) << logs.dump();
            EXPECT_FALSE(local[0].called("getDiskName") || local[1].called("getDiskName"));
            if (c.text.empty()) {
                EXPECT_TRUE(local[0].calls.empty() && local[1].calls.empty());
                continue;
            }
            EXPECT_EQ((std::vector<short>{row.failure, row.failure, kLunNew}), local.statuses());
            EXPECT_EQ(70003, local[0].lastErrorCode);
            EXPECT_EQ(c.text, local[0].lastErrorMessage);
            EXPECT_EQ(0, local[1].lastErrorCalls);
        }
    }
    EXPECT_EQ(0u, srv.requestCount());
    addDisk();
    EXPECT_EQ(1, provEntry(99, batch.data(), 1, &batch.os));
    EXPECT_TRUE(batch[0].calls.empty()) << "an unknown operation touches nothing";
}

// Every host operation throwing is run through the built library elsewhere; here, the words.
TEST_F(ProvEntryTest, ExceptionsFromTheHostBecomeAnInternalErrorNamingWhatWasThrown) {
    for (bool nonStandard : {false, true}) {
        FakeLunBatch local;
        FakeLunInfo& item = local.add();
        item.throwOn = "getDiskName";
        item.throwNonStandard = nonStandard;
        EXPECT_EQ(1, provEntry(ZY_KRVN_PROV_OP_CREATE, local.data(), 1, &local.os));
        EXPECT_EQ(nonStandard ? "Internal error-[unknown]" : "Internal error-[fake host failure in getDiskName]",
                  item.lastErrorMessage);
        EXPECT_EQ(kLunCreateFailed, item.status);
    }
}

// What the cluster said reaches the first item; items stop where the engine stopped.
TEST_F(ProvEntryTest, EachPathLeavesItsStatusesRequestsAndFinalErrorText) {
    struct Case {
        int op;
        std::vector<long> ids;
        std::vector<std::pair<std::string, std::string>> answers;  // request type, answer
        int rc;
        std::vector<short> statuses;
        std::vector<std::string> sent;
        std::string text;  // part of the first item's error text; "" for none at all
    };
    const std::vector<Case> cases = {
        {ZY_KRVN_PROV_OP_CREATE,
         {1, 2, 3},
         {{"AddVirtualDisk", okAnswer("AddVirtualDisk", R"([{"status":"ok","name":"vd1"}])")},
          {"AddVirtualDisk", okAnswer("AddVirtualDisk", R"([{"status":"error","name":"vd2","message":"no space"}])")}},
         1,
         {kLunCreated, kLunCreateFailed, kLunCreateFailed},
         {"Login", "AddVirtualDisk", "AddVirtualDisk", "Logout"},
         "Disk-[vd2] creation failed. Error-[no space]"},
        // Items start at 0, create's success status: none was created, so none may say so.
        {ZY_KRVN_PROV_OP_CREATE,
         {1, 2},
         {{"Login", errorAnswer("Login", "bad credentials")}},
         1,
         {kLunCreateFailed, kLunCreateFailed},
         {"Login"},
         "\nErrors returned by cluster-[bad credentials ]"},
        {ZY_KRVN_PROV_OP_DELETE,
         {1},
         {{"Login", errorAnswer("Login", "bad credentials")}},
         1,
         {kLunDeleteFailed},
         {"Login"},
         "\nErrors returned by cluster-[bad credentials ]"},
        {ZY_KRVN_PROV_OP_DELETE, {5, 3}, {}, 0, {kLunDeleted, kLunDeleted}, {"Login", "DeleteVDisk", "Logout"}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.op) + " " + c.sent.back());
        batch = FakeLunBatch();
        srv.clearRequests();
        for (long id : c.ids) addDisk(id);
        for (const auto& [type, body] : c.answers) answer(type, body);
        EXPECT_EQ(c.rc, provEntry(c.op, batch.data(), batch.count(), &batch.os)) << logs.dump();
        EXPECT_EQ(c.statuses, batch.statuses());
        EXPECT_EQ(c.sent, sentTypes());
        EXPECT_EQ(c.text.empty() ? 0 : 70003, batch[0].lastErrorCode);
        EXPECT_TRUE(has(batch[0].lastErrorMessage, c.text));
    }
    EXPECT_EQ((std::vector<std::string>{"vd3", "vd5"}), requestDisks(sent("DeleteVDisk").at(0)));  // in id order
    EXPECT_FALSE(logs.contains(kClearPassword));
}

// A file that is missing or broken would otherwise mean "every default" without a word.
TEST_F(ProvEntryTest, ASettingsFileNotReadWholeIsSaidOncePerCallAtTheErrorLevel) {
    addDisk();
    std::ofstream(settings.path()) << "[Platform]\nlogFile=/dev/null\n[broken\n";
    EXPECT_EQ(1, provEntry(ZY_KRVN_PROV_OP_CREATE, batch.data(), 0, &batch.os));
    EXPECT_EQ(1u, logs.count("has a line the parser refuses (line 3)")) << logs.dump();
    setenv("ZY_SETTINGS_FILE", "/nonexistent/krvn-settings.ini", 1);  // the fixture puts it back
    logs.clear();
    EXPECT_EQ(1, provEntry(ZY_KRVN_PROV_OP_CREATE, batch.data(), 0, &batch.os));
    EXPECT_TRUE(logs.containsAt(-1,
                                "KRVN  The settings file-[/nonexistent/krvn-settings.ini] cannot be read (No such "
                                "file or directory): every setting takes its default."))
        << logs.dump();
    EXPECT_EQ(1u, logs.count("cannot be read"));
}

TEST_F(ProvEntryTest, VersionIsWrittenWholeOrNotAtAll) {
    short major = -7, minor = -7, revision = -7;
    provVersion(&major, nullptr, &revision);
    EXPECT_TRUE(major == -7 && revision == -7);
    provVersion(&major, &minor, &revision);
    EXPECT_TRUE(logs.containsAt(3, "KRVN  Version: major-[1] minor-[1] revision-[1]"));
}

}  // namespace
}  // namespace provtest
