// Snapshot create, delete, revert and reconcile against a scripted cluster, the fake host and a
// scripted iSCSI module: which requests go out, in which order, and what each item ends with.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "../common/IscsiScriptedModule.h"
#include "FakeSnapHost.h"
#include "LogCapture.h"
#include "ScopedSettings.h"
#include "ScriptedServer.h"
#include "SnapshotOpsScript.h"
#include "WqSleep.h"

using namespace ZYSnapKrvn;
using namespace enginetest;
using krvntest::FakeSnapBatch;
using krvntest::ScriptedServer;

namespace {

const std::string kSerial = "A1B2C3D4E5F601";

// Items with ids 1..n on the given source vDisks and snapshot names ("" = none yet).
struct Source {
    std::string vDisk;
    std::string snap;
};

class ModuleEngine : public KrvnUtils {
public:
    using KrvnUtils::KrvnUtils;
    void adopt(ZyISCSIModule* module) { iscsi = module; }
};

struct OpsFixture : ::testing::Test {
    krvntest::ScopedSettings settings;
    ScriptedServer srv;
    FakeSnapBatch batch;
    std::unique_ptr<EngineRun> run;
    iscsitest::ModuleJournal journal;

    void SetUp() override { ASSERT_TRUE(srv.start()); }
    void TearDown() override { run.reset(); }

    void start(int opType, const std::vector<Source>& sources) {
        for (size_t i = 0; i < sources.size(); ++i) {
            auto& item = batch.add(0);
            item.metadata[6] = kSerial + "**" + sources[i].vDisk + "**" + std::to_string(1000 + i) + "**" +
                               (sources[i].snap.empty() ? "" : sources[i].snap + "**");
            item.configLists["SMCONFIG_STORAGE_PROXY_LIST_KEY"] = {"sp1"};
        }
        run = std::make_unique<EngineRun>(batch, srv, opType);
        ASSERT_EQ(0, run->initResult) << run->ctx->errorString();
        auto engine = std::make_unique<ModuleEngine>(run->ctx.get());
        engine->adopt(new iscsitest::ScriptedModule(journal));
        run->utils = std::move(engine);
        ASSERT_EQ(0u, run->login(srv));
    }
    KrvnUtils& engine() { return *run->utils; }
    KrvnCtx& ctx() { return *run->ctx; }
    std::vector<int> statuses() {
        std::vector<int> out;
        for (size_t i = 0; i < batch.size(); ++i) out.push_back(batch[i].status);
        return out;
    }
};

std::string snapList(const std::vector<std::string>& names) {
    std::string out = "[";
    for (const auto& n : names) out += (out.size() > 1 ? "," : "") + std::string(R"({"name":")") + n + R"(","details":{}})";
    return out + "]";
}

// DeleteSnapshot and RevertToSnapshot name the snapshot at the top level of the answer.
std::string namedAnswer(const std::string& type, const std::string& name) {
    return R"({"status":"ok","type":")" + type + R"(","requestId":"q","name":")" + name + R"("})";
}

TEST_F(OpsFixture, SourcesOfOneVDiskShareOneKeyOfTheRequestAndItsSnapshotName) {
    start(ZY_KRVN_SNAP_OP_CREATE, {{"vol1", ""}, {"vol2", ""}, {"vol1", ""}});
    srv.reply(200, okAnswer("MakeSnapshot", R"([{"status":"ok","name":"vol1","snapshotName":"vol1$s1"},
                                              {"status":"ok","name":"vol2","snapshotName":"vol2$s9"}])"));
    EXPECT_EQ(0u, engine().createSnaps()) << ctx().errorString();
    ASSERT_EQ(1u, srv.requestCount());
    const std::string body = srv.lastRequest().request;
    EXPECT_EQ(body.find("vol1"), body.rfind("vol1")) << body;
    EXPECT_EQ((std::vector<int>{5, 5, 5}), statuses());
    EXPECT_EQ("vol1$s1", batch[2].snapName);
    EXPECT_EQ(kSerial + "**vol1**1002**vol1$s1**", batch[2].metadata[6]);
    EXPECT_EQ(kSerial + "**vol2**1001**vol2$s9**", batch[1].metadata[6]);
}

TEST_F(OpsFixture, PartialCreationKeepsTheSnapshotsMadeAndFailsTheStep) {
    struct Case {
        const char* answer;
        unsigned int rc;
        const char* text;
    };
    const Case cases[] = {
        {R"([{"status":"ok","name":"vol1","snapshotName":"s1"},{"status":"ok","name":"vol2","snapshotName":"s2"},
             {"status":"error","name":"vol3","message":"no space"}])",
         1, "Snapshot creation failed for : device-[vol3] status-[error] error-[no space]"},
        {R"([{"status":"ok","name":"vol1","snapshotName":"s1"},{"status":"ok","name":"vol2","snapshotName":"s2"}])", 18,
         "Created snapshots for only [2] devices out of [3] on the array-[clusterA]. "},
    };
    for (const Case& c : cases) {
        batch = FakeSnapBatch();
        start(ZY_KRVN_SNAP_OP_CREATE, {{"vol1", ""}, {"vol2", ""}, {"vol3", ""}});
        srv.reply(200, okAnswer("MakeSnapshot", c.answer));
        EXPECT_EQ(c.rc, engine().createSnaps()) << c.text;
        EXPECT_EQ(static_cast<int>(c.rc), ctx().errorCode);
        EXPECT_EQ(c.text, ctx().errorString());
        EXPECT_EQ((std::vector<int>{5, 5, 0}), statuses()) << c.text;
        EXPECT_FALSE(batch[2].called("setSnapName")) << c.text;
        EXPECT_EQ(kSerial + "**vol3**1002**", batch[2].metadata[6]) << c.text;
        run.reset();
    }
}

TEST_F(OpsFixture, DeleteFetchesEachListOnceAndCountsEveryGoneSnapshotAsDeleted) {
    start(ZY_KRVN_SNAP_OP_DELETE,
          {{"vol1", "s1"}, {"vol1", "s2"}, {"vol1", "s3"}, {"vol2", "s4"}, {"vol3", ""}, {"vol2", "s5"}});
    srv.reply(200, okAnswer("ListSnapshots", snapList({"s1", "s2"})));
    srv.reply(200, namedAnswer("DeleteSnapshot", "s1"));
    srv.reply(200, errorAnswer("DeleteSnapshot", "Invalid snapshot value entered"));
    srv.reply(200, errorAnswer("ListSnapshots", "Vdisk vol2 couldn't be found"));
    srv.reply(200, errorAnswer("ListSnapshots", "Vdisk vol2 couldn't be found"));
    krvntest::LogCapture log;
    EXPECT_EQ(0u, engine().deleteSnaps()) << ctx().errorString();
    EXPECT_EQ((std::vector<std::string>{"ListSnapshots vol1", "DeleteSnapshot s1", "DeleteSnapshot s2",
                                        "ListSnapshots vol2", "ListSnapshots vol2"}),
              requestLog(srv));
    EXPECT_EQ((std::vector<int>{20, 20, 20, 20, 20, 20}), statuses());
    EXPECT_EQ(2u, log.count("snapshots for source device-[vol1] from cache."));
    EXPECT_TRUE(log.containsAt(0, "KRVN >>  Snapshot name is empty for snap-[5] - may be operation had failed"));
    EXPECT_TRUE(log.containsAt(0, "KRVN >>  Snapshot-[s3] for source device-[vol1] is not found in the list."));
    EXPECT_TRUE(log.containsAt(0, "KRVN >>  Source device-[vol2] is not found on array. Marking the snapshot-[s4]"));
    EXPECT_TRUE(log.containsAt(0, "KRVN >>  Array did not find the snapshot-[s2]."));
}

TEST_F(OpsFixture, DeleteFailuresFailTheStepKeepTheirReasonsAndNeverStopTheRest) {
    start(ZY_KRVN_SNAP_OP_DELETE, {{"vol1", "s1"}, {"vol1", "s2"}, {"vol2", "s3"}});
    srv.reply(500, "");                                            // list of vol1: not cached
    srv.reply(200, okAnswer("ListSnapshots", snapList({"s2"})));
    srv.reply(200, errorAnswer("DeleteSnapshot", "snapshot is busy"));
    srv.reply(200, okAnswer("ListSnapshots", snapList({"s3"})));
    srv.reply(200, namedAnswer("DeleteSnapshot", "s3"));
    EXPECT_EQ(1u, engine().deleteSnaps());
    EXPECT_EQ((std::vector<std::string>{"ListSnapshots vol1", "ListSnapshots vol1", "DeleteSnapshot s2",
                                        "ListSnapshots vol2", "DeleteSnapshot s3"}),
              requestLog(srv));
    EXPECT_EQ((std::vector<int>{0, 0, 20}), statuses());
    // The last success does not wipe what the host is told about the two failures.
    EXPECT_EQ(19, ctx().errorCode);
    EXPECT_NE(std::string::npos, ctx().errorString().find("Failed to get snapshot list for source device-[vol1]"));
    EXPECT_NE(std::string::npos, ctx().errorString().find("snapshot is busy"));
}

std::string targetsOf(const std::vector<std::string>& vDisks) {
    std::string rows;
    for (const auto& v : vDisks)
        rows += (rows.empty() ? "" : ",") + std::string(R"({"Lun Id":")") + v + R"(","Target":"iqn.sp1.)" + v +
                R"(","SCSI SN":"77","Online":"Yes"})";
    return R"({"Lun Information":[)" + rows + "]}";
}

TEST_F(OpsFixture, RevertLogsAllTargetsOutFirstAndBackInAfterASnapshotIsFoundMissing) {
    start(ZY_KRVN_SNAP_OP_REVERT, {{"vol1", "s1"}, {"vol2", "s2"}, {"vol1", "s3"}});
    srv.reply(200, okAnswer("ShowTarget", targetsOf({"vol2", "vol1"})));
    srv.reply(200, okAnswer("ListSnapshots", snapList({"s1", "s3"})));
    srv.reply(200, namedAnswer("RevertToSnapshot", "s1"));
    srv.reply(200, okAnswer("ListSnapshots", snapList({"other"})));
    unsigned long long before = ZyPlatform::virtualSleptMs();
    EXPECT_EQ(1u, engine().revertSnaps());
    EXPECT_EQ((std::vector<std::string>{"ShowTarget sp1", "ListSnapshots vol1", "RevertToSnapshot s1",
                                        "ListSnapshots vol2"}),
              requestLog(srv));
    EXPECT_EQ((std::vector<std::string>{"logout sp1 iqn.sp1.vol1", "logout sp1 iqn.sp1.vol2", "logout sp1 iqn.sp1.vol1",
                                        "discover sp1", "discover sp1", "login sp1 iqn.sp1.vol1",
                                        "login sp1 iqn.sp1.vol2"}),
              journal.calls);
    EXPECT_EQ((std::vector<int>{22, 0, 0}), statuses());
    EXPECT_EQ(22, ctx().errorCode);
    EXPECT_EQ("Snapshot-[s2] not found on the array-[clusterA]", ctx().errorString());
    EXPECT_EQ(3000u + 3000u, ZyPlatform::virtualSleptMs() - before);
    EXPECT_EQ(nullptr, engine().iscsiModule());   // released while its library is still loaded
}

TEST_F(OpsFixture, RevertOfASourceWithoutTargetRevertsNothingAndStillLogsBackIn) {
    start(ZY_KRVN_SNAP_OP_REVERT, {{"vol1", "s1"}, {"volX", "s2"}});
    srv.reply(200, okAnswer("ShowTarget", targetsOf({"vol1"})));
    journal.failures["iqn.sp1.vol1"] = -1;   // and the host cannot get back in
    EXPECT_EQ(1u, engine().revertSnaps());
    EXPECT_EQ(std::vector<std::string>{"ShowTarget"}, requestTypes(srv));
    EXPECT_EQ(1u, std::count(journal.calls.begin(), journal.calls.end(), "logout sp1 iqn.sp1.vol1"));
    EXPECT_EQ(6u, std::count(journal.calls.begin(), journal.calls.end(), "login sp1 iqn.sp1.vol1"));
    EXPECT_EQ((std::vector<int>{0, 0}), statuses());
    EXPECT_EQ("Failed to get the SCSI target IQN for the device-[volX]Not able to do iSCSI logon for targets after "
              "repeated attempts (6 times) and hence failing the operation.",
              ctx().errorString());
}

TEST_F(OpsFixture, ReconcileCountsEveryOutcomeAndMarksOnlyWhatIsGone) {
    start(ZY_KRVN_SNAP_OP_RECONCILE,
          {{"vol1", "s1"}, {"vol1", "s2"}, {"vol2", "s3"}, {"vol3", "s4"}, {"vol1", "s5"}, {"vol3", "s6"}});
    ctx().snapItems.at(5)->snapName.clear();
    for (size_t i = 0; i < batch.size(); ++i) batch[i].status = 5;
    srv.reply(200, okAnswer("ListSnapshots", snapList({"s1", "s5"})));
    srv.reply(200, errorAnswer("ListSnapshots", "Vdisk vol2 couldn't be found"));
    srv.reply(200, errorAnswer("ListSnapshots", "cluster busy"));
    srv.reply(200, okAnswer("ListSnapshots", snapList({"s6"})));
    krvntest::LogCapture log;
    EXPECT_EQ(0u, engine().reconSnaps());
    EXPECT_EQ((std::vector<std::string>{"ListSnapshots vol1", "ListSnapshots vol2", "ListSnapshots vol3",
                                        "ListSnapshots vol3"}),
              requestLog(srv));
    EXPECT_EQ((std::vector<int>{5, 24, 24, 5, 5, 5}), statuses());
    EXPECT_TRUE(log.containsAt(0, "KRVN >>  Reconcile stats Total-[6] : Found-[2] Externally Deleted-[2] Skipped-[1] "
                                  "Failed-[1]"))
        << log.dump();
    EXPECT_TRUE(log.containsAt(0, "KRVN >>  Empty name for snapshot-[5] - may be operation had failed"));
}

}  // namespace
