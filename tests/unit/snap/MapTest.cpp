// Snapshot map: the data path, clones reused or created, the freeze wait, exposing the clones and
// recognising the new devices (the whole map runs against the simulator in the integration tests).
#include <gtest/gtest.h>

#include <unistd.h>
#include <tuple>

#include "LogCapture.h"
#include "SnapTestSupport.h"
#include "WqSleep.h"

using namespace ZYSnapKrvn;
using namespace snaptest;

namespace {

const std::string kIqn2 = "iqn.1994-05.com.example:host1b";

std::string localHostName() {
    char name[256] = {};
    return gethostname(name, sizeof(name) - 1), std::string(name);
}

// True when name is prefix followed by a time (seconds) within a second after `from`.
bool stampedAt(const std::string& name, const std::string& prefix, long long from) {
    const long long t = name.rfind(prefix, 0) == 0 ? std::stoll(name.substr(prefix.size())) : -1;
    return t >= from && t <= from + 1;
}

std::string clonesAnswer(const Strings& names) { return nameList("ListClonesForSnapshot", names); }

// The snapshot has these clones already; any clone asked for is made.
TypedCluster& cloning(EngineRun& run, const Strings& existing) {
    return run.cluster()
        .on("ListClonesForSnapshot", {clonesAnswer(existing)})
        .on("CloneSnapshot", {okNames("CloneSnapshot", {"c"})});
}

struct MapFixture : ::testing::Test {
    DiskSettings settings;
    krvntest::FixtureDisks& disks = settings.disks;
    EngineRun r;
};

}  // namespace

TEST(MapInterfacesTest, HostInterfacesDecideTheDataPathAndOnlyIscsiHostsCanMap) {
    krvntest::QuietSettings settings;
    // error empty: getHostInterfaces succeeds.
    struct Row {
        const char* name;
        Strings wwpns, iqns;
        bool hostAnswers;
        uint16_t arrayOffers, host, chosen;
        const char* error;
    };
    const std::string host = localHostName(), wwpn = "210000e08b05050a";
    const std::string noIscsi = "No appropriate host interfaces (FC and / or iSCSI) found for host [" + host + "].";
    const Row rows[] = {
        {"iSCSI only", {}, {kIqn}, true, 1, 1, 1, ""},
        {"FC and iSCSI", {wwpn}, {kIqn}, true, 1, 3, 1, ""},
        {"FC preferred when both remain", {wwpn}, {kIqn}, true, 3, 3, 2, ""},
        {"FC only", {wwpn}, {}, true, 1, 2, 0, noIscsi.c_str()},
        {"host refuses", {}, {kIqn}, false, 1, 0, 0, "Failed to get SCSI interface list (wwpn & iqn) for host ["},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        krvntest::FakeOSUtil os;
        std::tie(os.hostWwpns, os.hostIqns, os.hostInterfacesOk) = std::tie(row.wwpns, row.iqns, row.hostAnswers);
        KrvnCtx ctx(&os, 0, ZY_KRVN_SNAP_OP_MAP);
        ctx.arrayDetails.arrayId = "clusterA";
        KrvnUtils utils(&ctx);
        (ctx.mapCtx = new KrvnMapCtx())->arrayInterfaces = row.arrayOffers;
        const int rc = utils.getHostInterfaces();
        EXPECT_EQ(row.error[0] == '\0' ? 0 : 1, rc);
        EXPECT_NE(std::string::npos, ctx.errorString().find(row.error)) << ctx.errorString();
        EXPECT_EQ((Strings{host, "clusterA"}), os.named("getHostSCSIInterfaces").at(0).args);
        if (rc == 0) utils.decideMapConnectionType();
        EXPECT_EQ((std::vector<int>{row.host, row.chosen}),
                  (std::vector<int>{ctx.mapCtx->hostInterfaces, rc == 0 ? ctx.mapCtx->connectionType : row.chosen}));
        EXPECT_TRUE(!row.hostAnswers || row.wwpns.empty() ||
                    ctx.mapCtx->hostWwpns == Strings{"21:00:00:e0:8b:05:05:0a"});
    }
}

TEST_F(MapFixture, ClonesAreReusedByPrefixOrExactTestMountNameAndCreatedOtherwise) {
    // details: clone -> answer; reused empty: a new clone is made; looked: VirtualDiskDetails
    // asked, in order, before any creation.
    struct Row {
        const char* name;
        bool testMount;
        Strings clones;
        std::map<std::string, std::string> details;
        std::string reused;
        Strings looked;
    };
    const std::string deleted = "ZY_snap-1_1_98", good = "ZY_snap-1_1_99", exact = "ZYClone_snap-1_2";
    const Row rows[] = {
        {"prefix match", false, {"ZY_snap-2_1_5", good}, {{good, vdiskAnswer(good, 7001)}}, good, {good}},
        {"deleted candidate skipped",
         false,
         {deleted, good},
         {{deleted, notFound("VirtualDiskDetails", deleted)}, {good, vdiskAnswer(good, 7001)}},
         good,
         {deleted, good}},
        {"marked for delete",
         false,
         {deleted},
         {{deleted, errorAnswer("VirtualDiskDetails", "VDisk is marked for delete :" + deleted)}},
         "",
         {deleted}},
        {"test mount ignores a longer name", true, {"ZYClone_snap-1_22"}, {}, "", {}},
        {"test mount takes the exact name",
         true,
         {"ZYClone_snap-1_22", exact},
         {{exact, vdiskAnswer(exact, 7001)}},
         exact,
         {exact}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EngineRun run;
        krvntest::FakeSnapInfo& item = run.item(1);
        item.cloneNumber = 2;
        if (row.testMount) item.flags.insert(0x8000);
        cloning(run, row.clones).on("VirtualDiskDetails", {vdiskAnswer("new", 7002)});
        for (const auto& [clone, answer] : row.details) run.cluster().onDisk("VirtualDiskDetails", clone, {answer});
        run.start(ZY_KRVN_SNAP_OP_MAP);
        const long long before = ZyPlatform::clockNowSeconds();

        ASSERT_EQ(0, run.utils->checkCreateCloneOfSnaps()) << run.ctx->errorString();
        const KrvnSnapObject& obj = run.object(1);
        Strings looked = run.params("VirtualDiskDetails", "virtualDisk");
        const Strings made = run.params("CloneSnapshot", "name");
        ASSERT_EQ(row.reused.empty() ? 1u : 0u, made.size());
        if (row.reused.empty()) {  // a new clone, read back once made
            EXPECT_TRUE(row.testMount ? made[0] == exact : stampedAt(made[0], "ZY_snap-1_1_", before)) << made[0];
            EXPECT_EQ(Strings{"snap-1"}, run.params("CloneSnapshot", "clonedSnapshotName"));
            EXPECT_EQ(made[0], looked.back());
            looked.pop_back();
        }
        EXPECT_EQ(row.looked, looked);
        const std::string clone =
            (row.reused.empty() ? made[0] : row.reused) + (row.reused.empty() ? "**7002" : "**7001");
        EXPECT_EQ(clone, obj.mountCloneName + "**" + std::to_string(obj.cloneScsiSerial));
        EXPECT_EQ(clone + "**sp1**", item.metadata[kMetaClone]);
    }
}

TEST_F(MapFixture, NewClonesOfOneMapShareOneTimeAndEachSnapshotIsListedOnce) {
    // The clock moves on after each clone is made (virtual time is the calling thread's, so the
    // item's callback moves it): the names must not follow it.
    for (long long id : {1, 2, 3})
        r.item(id, id < 3 ? "snap-7" : "snap-8").onCall = [](const krvntest::FakeCall& call) {
            if (call.name == "setMetadata") WQSLEEP(5000);
        };
    r.cluster()
        .on("ListClonesForSnapshot", {clonesAnswer({})})
        .on("CloneSnapshot", {okNames("CloneSnapshot", {"c"})})
        .on("VirtualDiskDetails", {vdiskAnswer("c", 7001)});
    r.start(ZY_KRVN_SNAP_OP_MAP);
    const long long before = ZyPlatform::clockNowSeconds();

    ASSERT_EQ(0, r.utils->checkCreateCloneOfSnaps()) << r.ctx->errorString();
    const Strings made = r.params("CloneSnapshot", "name");
    ASSERT_TRUE(!made.empty() && stampedAt(made[0], "ZY_snap-7_1_", before)) << made.size();
    const std::string t = made[0].substr(12);
    EXPECT_EQ((Strings{"ZY_snap-7_1_" + t, "ZY_snap-7_2_" + t, "ZY_snap-8_3_" + t}), made);
    EXPECT_EQ((Strings{"snap-7", "snap-8"}), r.params("ListClonesForSnapshot", "snapshotName"));
}

TEST_F(MapFixture, FrozenClonesAreAwaitedInVirtualTimeUpToTheConfiguredLimit) {
    // minutes: nZYKorvanCloneFreezeWaitTimeInMin or null; frozen: answers from the read at creation
    // on, the last repeating; a failure names the limit.
    struct Row {
        const char* name;
        const char* minutes;
        std::vector<bool> frozen;
        bool firstMapped;
        int rc;
        unsigned sleptS;
    };
    const Row rows[] = {
        {"unfreezes on the third check", nullptr, {true, true, true, false}, false, 0, 60},
        {"limit from the setting", "1", {true}, false, 1, 60},
        {"default limit", nullptr, {true}, false, 1, 3600},
        {"items already mapped are not awaited", "1", {true, true, false}, true, 0, 30},
        {"a huge limit is clamped, never wrapped into none", "9223372036854775807", {true, true, false}, false, 0, 30},
    };
    // A test-mount name tells the new clone's answers apart from the mapped item's prefix.
    const std::string clone = "ZYClone_snap-2_1";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.minutes)
            settings.set("Ovelin", "nZYKorvanCloneFreezeWaitTimeInMin", row.minutes);
        else
            settings.erase("Ovelin", "nZYKorvanCloneFreezeWaitTimeInMin");
        EngineRun run;
        if (row.firstMapped) run.item(1).status = kSnapMapped;
        run.item(2).flags.insert(0x8000);
        cloning(run, {}).on("VirtualDiskDetails", {notFound("VirtualDiskDetails", "ZY_snap-1_1_")});
        for (bool frozen : row.frozen)
            run.cluster().onDisk("VirtualDiskDetails", clone, {vdiskAnswer(clone, 7001, frozen)});
        run.start(ZY_KRVN_SNAP_OP_MAP);
        const unsigned long long slept = ZyPlatform::virtualSleptMs();

        EXPECT_EQ(row.rc, run.utils->checkCreateCloneOfSnaps());
        EXPECT_EQ(row.sleptS * 1000ULL, ZyPlatform::virtualSleptMs() - slept);
        EXPECT_EQ(
            row.rc ? "Clones [1] out of [1] remain frozen even after waiting for [" + std::to_string(row.sleptS) + "s]"
                   : "",
            run.ctx->errorString());
        EXPECT_EQ(Strings{clone}, run.params("CloneSnapshot", "name"));
    }
}

TEST_F(MapFixture, DevicesBelongToItemsByClusterSerialAndCloneSerial) {
    for (int id : {1, 2, 3}) r.item(id).status = id == 3 ? kSnapMapped : kSnapNew;
    r.start(ZY_KRVN_SNAP_OP_MAP);
    for (long long id : {1, 2, 3}) r.object(id).cloneScsiSerial = 5000 + id;
    r.object(3).snapState = 12;  // as the check of the targets already on the host leaves it
    const Strings devices = {
        disks.add("sdw", "5002", "B1B2C3D4E5F602"),  // right serial, another cluster
        disks.add("sdx", "9999", kClusterSerial),    // this cluster, nobody's clone
        "/dev/sd-missing",                           // cannot be inquired
        disks.add("sdy", "5001", kClusterSerial),
        disks.add("sdz", "5003", kClusterSerial),  // item 3 is mapped already
    };
    unsigned long found = 0;
    EXPECT_EQ(1, r.utils->checkForMappedDevices(&r.map(), devices, found));
    EXPECT_EQ(2u, found);
    EXPECT_EQ((std::vector<int>{kSnapMapped, kSnapNotMapped, kSnapMapped}), r.batch.statuses());
    EXPECT_EQ((Strings{"/dev/sdy", ""}), (Strings{r.batch[0].mappedDevice, r.batch[1].mappedDevice}));
    EXPECT_FALSE(r.batch[2].called("setMappedDevice"));
}

TEST_F(MapFixture, DevicesThatShowUpOnlyOnARetryAreFoundAndMissingOnesFailWithAReason) {
    // The host hands the clone a path it had listed before the map: only a retry, which looks
    // at every device rather than the new ones, can find it. Two retries 10 s apart, 2 min wait.
    settings.set("Ovelin", "nZYKorvanPostMapWaitInMin", "2");
    disks.add("sdx", "5001", kClusterSerial);
    for (const bool appears : {true, false}) {
        EngineRun run;
        run.item(1);
        run.batch.os.deviceLists =
            appears ? std::vector<Strings>{{"/dev/sdx"}} : std::vector<Strings>{{}, {"/dev/sdq"}};
        run.start(ZY_KRVN_SNAP_OP_MAP);
        run.object(1).cloneScsiSerial = 5001;
        run.map().devicesBefore = {"/dev/sdx"};
        const unsigned long long slept = ZyPlatform::virtualSleptMs();
        EXPECT_EQ(appears ? 0 : 1, run.utils->performPostMapSteps());
        EXPECT_EQ(appears ? 133000u : 143000u, ZyPlatform::virtualSleptMs() - slept);
        EXPECT_EQ(appears ? 2u : 3u, run.batch.os.refreshes.size());
        EXPECT_EQ(appears ? "/dev/sdx" : "", run.batch[0].mappedDevice);
        EXPECT_EQ(appears ? -1 : 1, run.ctx->errorCode);
        EXPECT_EQ(appears ? "" : "Not all devices are found. Total - [1], Found - [0]", run.ctx->errorString());
    }
}

TEST_F(MapFixture, ClonesWithoutATargetAreRecordedForTheMapToReportAndNotLoggedHere) {
    r.item(1);
    r.item(2);
    r.cluster().on("ShowTarget", {lunsAnswer({"ZY_snap-1_1_5", "ZY_snap-9_9_1"})});
    r.start(ZY_KRVN_SNAP_OP_MAP);
    krvntest::LogCapture log;
    EXPECT_EQ(1, r.utils->refreshArrayInterfaces());
    EXPECT_EQ(1, r.ctx->errorCode);
    EXPECT_EQ("Failed to find target IQN for one or more clones. Found only [1] out of [2]...", r.ctx->errorString());
    EXPECT_FALSE(log.contains("Failed to find target IQN")) << log.dump();
}

// A row carries a clone when the clone's name is inside its LUN id; a test mount's clone only
// when the id is its name exactly. Each item takes the first row that carries its clone.
TEST_F(MapFixture, EachItemTakesTheFirstRowCarryingItsCloneAndATestMountOnlyItsExactName) {
    r.item(1);
    r.item(2);
    krvntest::FakeSnapInfo& testMount = r.item(3);
    testMount.flags.insert(0x8000);
    testMount.cloneNumber = 7;
    r.cluster().on("ShowTarget", {lunsAnswer({"X-ZYClone_snap-3_7-copy", "ZY_snap-1_1_7", "ZYClone_snap-3_7",
                                              "pre-ZY_snap-2_2_9", "ZY_snap-1_1_8", "ZY_snap-2_2_1"})});
    r.start(ZY_KRVN_SNAP_OP_MAP);
    ASSERT_EQ(0, r.utils->refreshArrayInterfaces()) << r.ctx->errorString();
    EXPECT_EQ(targetOf("ZY_snap-1_1_7"), r.object(1).snapTarget);
    EXPECT_EQ(targetOf("pre-ZY_snap-2_2_9"), r.object(2).snapTarget);
    EXPECT_EQ(targetOf("ZYClone_snap-3_7"), r.object(3).snapTarget);
}

TEST_F(MapFixture, ExposeAndAccessCarryOnlyClonesNotYetOnTheHostAndNeverAnEmptyList) {
    r.item(1).status = kSnapMapped;
    r.item(2);
    r.batch.os.hostIqns = {kIqn, kIqn2};
    r.cluster()
        .on("AddLun",
            {nameList("AddLun", {"ZY_snap-2_2_"}, R"(,"status":"ok","targets":[{"name":"sp1","status":"ok"}])")})
        .on("PersistACLAccess", {okNames("PersistACLAccess", {"ZY_snap-2_2_"})});
    r.start(ZY_KRVN_SNAP_OP_MAP);
    r.map().hostIqns = r.batch.os.hostIqns;
    ASSERT_EQ(0, r.utils->checkAddCloneToSCSITarget());
    ASSERT_EQ(0, r.utils->checkAddAccessToClone());
    EXPECT_EQ((Strings{"AddLun", "PersistACLAccess", "PersistACLAccess"}), r.requests());
    EXPECT_EQ((Strings{kIqn, kIqn2}), r.params("PersistACLAccess", "address"));
    for (const auto& q : r.srv.requests())
        EXPECT_NE(std::string::npos, q.request.find("virtualDisks:['ZY_snap-2_2_']"));

    r.batch[1].status = kSnapMapped;
    r.srv.clearRequests();
    EXPECT_EQ(0, r.utils->checkAddCloneToSCSITarget());
    EXPECT_EQ(0, r.utils->checkAddAccessToClone());
    EXPECT_EQ(0u, r.srv.requestCount());
}

TEST_F(MapFixture, ACloneTheHostIsAlreadyLoggedInToIsRecordedOnItsItemForUnmapToFind) {
    // An earlier map of these items got as far as the login, but its host died before it kept
    // their clone metadata: the clones are exposed, and item 1's is on the host.
    r.item(1);
    r.item(2);
    r.cluster().on("ShowTarget", {lunsAnswer({"ZY_snap-1_1_1700000000", "ZY_snap-2_2_1700000001"})});
    r.start(ZY_KRVN_SNAP_OP_MAP);
    r.journal.devices[targetOf("ZY_snap-1_1_1700000000")] = "/dev/sdq";
    ASSERT_EQ(0, r.utils->getArrayInterfaces());
    bool allMapped = true;
    EXPECT_EQ(0, r.utils->checkAndTryiSCSITargetLogon(allMapped));
    EXPECT_FALSE(allMapped);
    EXPECT_EQ((std::vector<int>{kSnapMapped, kSnapNew}), r.batch.statuses());
    EXPECT_EQ("/dev/sdq", r.batch[0].mappedDevice);
    EXPECT_EQ("ZY_snap-1_1_1700000000**1**sp1**", r.batch[0].metadata[kMetaClone]);
    EXPECT_EQ(0u, r.batch[1].metadata.count(149)) << "a clone not yet on the host is recorded when it is reused";
}
