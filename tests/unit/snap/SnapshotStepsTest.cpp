// Snapshot create, delete, revert and reconcile: the requests, their order, and each item's end state.
#include <gtest/gtest.h>

#include "LogCapture.h"
#include "SnapTestSupport.h"
#include "WqSleep.h"

using namespace ZYSnapKrvn;
using namespace snaptest;

namespace {

// Items 1..n on the given source vDisks with the given snapshot names ("" = none yet).
struct OpsFixture : ::testing::Test {
    krvntest::QuietSettings settings;
    EngineRun r;
    void start(int opType, const std::vector<std::pair<std::string, std::string>>& sources) {
        for (const auto& [vDisk, snap] : sources) r.item(0, snap, vDisk);
        r.start(opType);
    }
    void reply(const Strings& bodies) {
        for (const auto& b : bodies) r.srv.reply(200, b);
    }
};

std::string snapList(const Strings& names) { return nameList("ListSnapshots", names, R"(,"details":{})"); }

// DeleteSnapshot and RevertToSnapshot name the snapshot at the top level of the answer.
std::string namedAnswer(const std::string& type, const std::string& name) {
    return R"({"status":"ok","type":")" + type + R"(","requestId":"q","name":")" + name + R"("})";
}

TEST(SnapshotOps, CreationAsksOnceForSourcesOfOneVDiskAndKeepsTheSnapshotsMadeWhenOthersFail) {
    krvntest::QuietSettings settings;
    const std::string made = R"({"status":"ok","name":"vol1","snapshotName":"vol1$s1"},)"
                             R"({"status":"ok","name":"vol2","snapshotName":"s2"})";
    struct Case {
        std::string answer;
        unsigned int rc;
        const char* text;
    };
    for (const Case& c :
         {Case{made + R"(,{"status":"error","name":"vol3","message":"no space"})", 1,
               "Snapshot creation failed for : device-[vol3] status-[error] error-[no space]"},
          Case{made, 18, "Created snapshots for only [3] devices out of [4] on the array-[clusterA]. "}}) {
        SCOPED_TRACE(c.text);
        EngineRun r;
        for (const char* vDisk : {"vol1", "vol2", "vol3", "vol1"}) r.item(0, "", vDisk);
        r.start(ZY_KRVN_SNAP_OP_CREATE);
        r.srv.reply(200, okAnswer("MakeSnapshot", "[" + c.answer + "]"));
        EXPECT_EQ(c.rc, r.utils->createSnaps());
        EXPECT_EQ(c.text, r.ctx->errorString());
        ASSERT_EQ(1u, r.srv.requestCount());
        const std::string body = r.srv.lastRequest().request;
        EXPECT_EQ(body.find("vol1"), body.rfind("vol1")) << body;
        EXPECT_EQ((std::vector<int>{kSnapCreated, kSnapCreated, kSnapNew, kSnapCreated}), r.batch.statuses());
        EXPECT_EQ(std::string(kClusterSerial) + "**vol3**1003**", r.batch[2].metadata[kMetaSnapshot]);
        EXPECT_EQ(std::string(kClusterSerial) + "**vol1**1004**vol1$s1**", r.batch[3].metadata[kMetaSnapshot]);
    }
}

TEST_F(OpsFixture, DeleteCountsEveryGoneSnapshotAsDeletedAndKeepsEveryFailureReason) {
    start(ZY_KRVN_SNAP_OP_DELETE, {{"vol1", "s1"},
                                   {"vol1", "s2"},
                                   {"vol1", "s3"},
                                   {"vol2", "s4"},
                                   {"vol3", ""},
                                   {"vol2", "s5"},
                                   {"vol4", "s6"},
                                   {"vol4", "s7"},
                                   {"vol5", "s8"},
                                   {"vol5", "s9"}});
    // s2 went meanwhile; a failed list (of vol4) is not cached.
    reply({snapList({"s1", "s2"}), namedAnswer("DeleteSnapshot", "s1"),
           errorAnswer("DeleteSnapshot", "Invalid snapshot value entered"), notFound("ListSnapshots", "vol2"),
           notFound("ListSnapshots", "vol2")});
    r.srv.reply(500, "");
    // s9 went meanwhile too: that cluster message comes after the failures and must not
    // stand for them.
    reply({snapList({"s7"}), errorAnswer("DeleteSnapshot", "snapshot is busy"), snapList({"s8", "s9"}),
           namedAnswer("DeleteSnapshot", "s8"), errorAnswer("DeleteSnapshot", "Invalid snapshot value entered")});
    EXPECT_EQ(1u, r.utils->deleteSnaps());
    EXPECT_EQ((Strings{"ListSnapshots vol1", "DeleteSnapshot s1", "DeleteSnapshot s2", "ListSnapshots vol2",
                       "ListSnapshots vol2", "ListSnapshots vol4", "ListSnapshots vol4", "DeleteSnapshot s7",
                       "ListSnapshots vol5", "DeleteSnapshot s8", "DeleteSnapshot s9"}),
              r.requests(""));
    EXPECT_EQ((std::vector<int>{kSnapDeleted, kSnapDeleted, kSnapDeleted, kSnapDeleted, kSnapDeleted, kSnapDeleted,
                                kSnapNew, kSnapNew, kSnapDeleted, kSnapDeleted}),
              r.batch.statuses());
    // The last success does not wipe what the host is told about the two failures.
    EXPECT_EQ(19, r.ctx->errorCode);
    EXPECT_NE(std::string::npos, r.ctx->errorString().find("Failed to get snapshot list for source device-[vol4]"));
    EXPECT_NE(std::string::npos, r.ctx->errorString().find("snapshot is busy"));
    EXPECT_EQ("snapshot is busy ", r.ctx->restErrors.str());
}

TEST(SnapshotOps, CreationRefusesAnItemThatHoldsASnapshotAlreadyAndLeavesItAsItIs) {
    krvntest::QuietSettings settings;
    EngineRun r;
    r.item(1, "", "vol1");
    const std::string held = r.item(2, "vol2$s1", "vol2").metadata[kMetaSnapshot];
    r.start(ZY_KRVN_SNAP_OP_CREATE);
    r.srv.reply(200, okAnswer("MakeSnapshot", R"([{"status":"ok","name":"vol1","snapshotName":"vol1$s2"}])"));
    EXPECT_EQ(9u, r.utils->createSnaps());
    EXPECT_EQ("The snap-[2] already holds snapshot-[vol2$s1]. A new snapshot needs a new snap item.",
              r.ctx->errorString());
    ASSERT_EQ(1u, r.srv.requestCount());
    EXPECT_EQ(std::string::npos, r.srv.lastRequest().request.find("vol2")) << "no second snapshot for it";
    EXPECT_EQ((std::vector<int>{kSnapCreated, kSnapNew}), r.batch.statuses());
    EXPECT_EQ(held, r.batch[1].metadata[kMetaSnapshot]);
    EXPECT_FALSE(r.batch[1].called("setSnapName"));
}

TEST_F(OpsFixture, RevertLogsAllTargetsOutFirstAndBackInAfterASnapshotIsFoundMissing) {
    start(ZY_KRVN_SNAP_OP_REVERT, {{"vol1", "s1"}, {"vol2", "s2"}, {"vol1", "s3"}});
    reply({lunsAnswer({"vol2", "vol1"}), snapList({"s1", "s3"}), namedAnswer("RevertToSnapshot", "s1"),
           snapList({"other"})});
    const unsigned long long before = ZyPlatform::virtualSleptMs();
    EXPECT_EQ(1u, r.utils->revertSnaps());
    EXPECT_EQ((Strings{"ShowTarget sp1", "ListSnapshots vol1", "RevertToSnapshot s1", "ListSnapshots vol2"}),
              r.requests(""));
    const std::string vol1 = " sp1 " + targetOf("vol1"), vol2 = " sp1 " + targetOf("vol2");
    EXPECT_EQ((Strings{"logout" + vol1, "logout" + vol2, "logout" + vol1, "discover sp1", "discover sp1",
                       "login" + vol1, "login" + vol2}),
              r.journal.calls);
    EXPECT_EQ((std::vector<int>{kSnapReverted, kSnapNew, kSnapNew}), r.batch.statuses());
    EXPECT_EQ("Snapshot-[s2] not found on the array-[clusterA]", r.ctx->errorString());
    EXPECT_EQ(3000u + 3000u, ZyPlatform::virtualSleptMs() - before);
}

TEST_F(OpsFixture, ReconcileCountsEveryOutcomeAndMarksOnlyWhatIsGone) {
    start(ZY_KRVN_SNAP_OP_RECONCILE,
          {{"vol1", "s1"}, {"vol1", "s2"}, {"vol2", "s3"}, {"vol3", "s4"}, {"vol1", "s5"}, {"vol3", "s6"}});
    r.object(5).snapName.clear();
    for (size_t i = 0; i < r.batch.size(); ++i) r.batch[i].status = kSnapCreated;
    reply({snapList({"s1", "s5"}), notFound("ListSnapshots", "vol2"), errorAnswer("ListSnapshots", "cluster busy"),
           snapList({"s6"})});
    krvntest::LogCapture log;
    EXPECT_EQ(0u, r.utils->reconSnaps());
    EXPECT_EQ((Strings{"ListSnapshots vol1", "ListSnapshots vol2", "ListSnapshots vol3", "ListSnapshots vol3"}),
              r.requests(""));
    EXPECT_EQ((std::vector<int>{kSnapCreated, kSnapGoneFromArray, kSnapGoneFromArray, kSnapCreated, kSnapCreated,
                                kSnapCreated}),
              r.batch.statuses());
    EXPECT_TRUE(log.containsAt(
        0, "KRVN >>  Reconcile stats Total-[6] : Found-[2] Externally Deleted-[2] Skipped-[1] Failed-[1]"));
}

}  // namespace
