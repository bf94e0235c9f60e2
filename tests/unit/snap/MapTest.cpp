// Snapshot map: choice of the data path, clones reused or created, the freeze wait, exposing
// and opening the clones, and recognising the new devices, against a scripted cluster, a
// scripted iSCSI module, fixture disks and the fake host.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <unistd.h>
#include <vector>

#include "KrvnCtx.h"
#include "KrvnUtils.h"
#include "MapTestCluster.h"
#include "WqSleep.h"

using namespace ZYSnapKrvn;
using namespace maptest;

namespace {

std::string localHostName() {
    char name[256] = {};
    gethostname(name, sizeof(name) - 1);
    return name;
}

bool startsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

// True when name is prefix followed by a time (seconds) no earlier than `from` and no later
// than one second after it.
bool stampedAt(const std::string& name, const std::string& prefix, long long from) {
    if (!startsWith(name, prefix)) return false;
    const long long t = std::stoll(name.substr(prefix.size()));
    return t >= from && t <= from + 1;
}

// Serial of a clone by the snapshot it was made from: snap-<n> gives 500<n>.
std::string cloneDetails(const RecordedRequest& r) {
    const std::string name = enginetest::requestParam(r, "virtualDisk");
    const size_t at = name.find("snap-");
    return vdiskAnswer(name, 5000 + std::stoll(name.substr(at + 5, 1)));
}

}  // namespace

TEST(MapInterfacesTest, HostInterfacesDecideTheDataPathAndOnlyIscsiHostsCanMap) {
    krvntest::ScopedSettings settings;
    settings.set("Platform", "logFile", "/dev/null");
    struct Row {
        const char* name;
        std::vector<std::string> wwpns;
        std::vector<std::string> iqns;
        bool hostAnswers;
        uint16_t arrayOffers;
        uint16_t host;
        uint16_t chosen;
        const char* error;   // empty: getHostInterfaces succeeds
    };
    const std::string host = localHostName();
    const std::string noIscsi = "No appropriate host interfaces (FC and / or iSCSI) found for host [" + host + "].";
    const Row rows[] = {
        {"iSCSI only", {}, {kIqn}, true, 1, 1, 1, ""},
        {"FC and iSCSI", {"210000e08b05050a"}, {kIqn}, true, 1, 3, 1, ""},
        {"FC preferred when both remain", {"210000e08b05050a"}, {kIqn}, true, 3, 3, 2, ""},
        {"FC only", {"210000e08b05050a"}, {}, true, 1, 2, 0, noIscsi.c_str()},
        {"nothing", {}, {}, true, 1, 1, 1, noIscsi.c_str()},
        {"host refuses", {}, {kIqn}, false, 1, 0, 0, "Failed to get SCSI interface list (wwpn & iqn) for host ["},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        krvntest::FakeOSUtil os;
        os.hostWwpns = row.wwpns;
        os.hostIqns = row.iqns;
        os.hostInterfacesOk = row.hostAnswers;
        KrvnCtx ctx(&os, 0, ZY_KRVN_SNAP_OP_MAP);
        ctx.arrayDetails.arrayId = "clusterA";
        KrvnUtils utils(&ctx);
        ctx.mapCtx = new KrvnMapCtx();
        ctx.mapCtx->arrayInterfaces = row.arrayOffers;

        const int rc = utils.getHostInterfaces();
        EXPECT_EQ(row.error[0] == '\0' ? 0 : 1, rc);
        EXPECT_NE(std::string::npos, ctx.errorString().find(row.error)) << ctx.errorString();
        EXPECT_EQ(row.host, ctx.mapCtx->hostInterfaces);
        ASSERT_EQ(1u, os.count("getHostSCSIInterfaces"));
        EXPECT_EQ(host, os.named("getHostSCSIInterfaces")[0].args[0]);
        EXPECT_EQ("clusterA", os.named("getHostSCSIInterfaces")[0].args[1]);
        if (row.hostAnswers && !row.wwpns.empty()) {
            EXPECT_EQ("21:00:00:e0:8b:05:05:0a", ctx.mapCtx->hostWwpns[0]);
        }
        if (rc != 0) continue;
        utils.decideMapConnectionType();
        EXPECT_EQ(row.chosen, ctx.mapCtx->connectionType);
    }
}

TEST_F(MapFixture, MapCreatesExposesOpensAndRecognisesEachClone) {
    r.item(1);
    r.item(2);
    r.batch.os.hostIqns = {kIqn, "iqn.1994-05.com.example:host1b"};
    r.batch.os.deviceLists = {{"/dev/sda"}, {"/dev/sda", "/dev/sdx", "/dev/sdy"}};
    disks.add("sdx", "5001", kClusterSerial);
    disks.add("sdy", "5002", kClusterSerial);
    r.cluster->on("ShowTarget", {lunsAnswer({})})
        .onFn("ShowTarget", [this](const RecordedRequest&) { return lunsAnswer(r.cluster->created()); })
        .on("ListClonesForSnapshot", {clonesAnswer({})})
        .on("CloneSnapshot", {nameList("CloneSnapshot", {"c"}, true)})
        .onFn("VirtualDiskDetails", cloneDetails)
        .onFn("AddLun", [this](const RecordedRequest&) { return addLunAnswer(r.cluster->created()); })
        .on("PersistACLAccess", {nameList("PersistACLAccess", {"c"}, true)});
    r.start(ZY_KRVN_SNAP_OP_MAP);

    ASSERT_EQ(0, r.utils().mapSnaps()) << r.ctx().errorString();

    const std::vector<std::string> expected = {
        "ShowTarget", "ListClonesForSnapshot", "CloneSnapshot", "VirtualDiskDetails", "ListClonesForSnapshot",
        "CloneSnapshot", "VirtualDiskDetails", "AddLun", "PersistACLAccess", "PersistACLAccess", "ShowTarget"};
    EXPECT_EQ(expected, r.types());
    const std::vector<std::string> clones = r.cluster->created();
    ASSERT_EQ(2u, clones.size());
    EXPECT_TRUE(startsWith(clones[0], "ZY_snap-1_1_"));
    EXPECT_TRUE(startsWith(clones[1], "ZY_snap-2_2_"));
    EXPECT_EQ((std::vector<std::string>{kIqn, "iqn.1994-05.com.example:host1b"}), r.params("PersistACLAccess", "address"));
    for (const auto& req : r.srv.requests()) {
        if (enginetest::requestType(req) != "AddLun") continue;
        EXPECT_NE(std::string::npos, req.request.find("'" + clones[0] + "','" + clones[1] + "'")) << req.request;
        EXPECT_NE(std::string::npos, req.request.find("targets:['sp1']")) << req.request;
    }
    EXPECT_EQ((std::vector<std::string>{"discover sp1", "login sp1 " + targetOf(clones[0]),
                                        "login sp1 " + targetOf(clones[1])}),
              r.journal.calls);
    EXPECT_EQ(12, r.batch[0].status);
    EXPECT_EQ(12, r.batch[1].status);
    EXPECT_EQ("/dev/sdx", r.batch[0].mappedDevice);
    EXPECT_EQ("/dev/sdy", r.batch[1].mappedDevice);
    EXPECT_EQ(clones[0] + "**5001**sp1**", r.batch[0].metadata[149]);
    EXPECT_EQ(clones[1] + "**5002**sp1**", r.batch[1].metadata[149]);
    ASSERT_EQ(1u, r.batch.os.refreshes.size());
    EXPECT_EQ(r.batch.os.hostIqns, r.batch.os.refreshes[0].initiators);
}

TEST_F(MapFixture, MapEndsAtOnceWhenEveryCloneIsAlreadyOnTheHostAndRefusesFcOnlyHosts) {
    r.item(1);
    r.item(2);
    const std::string clone1 = "ZY_snap-1_1_1700000000", clone2 = "ZY_snap-2_2_1700000000";
    r.cluster->on("ShowTarget", {lunsAnswer({clone2, clone1})});
    r.journal.devices = {{targetOf(clone1), "/dev/sdm"}, {targetOf(clone2), "/dev/sdn"}};
    r.start(ZY_KRVN_SNAP_OP_MAP);

    ASSERT_EQ(0, r.utils().mapSnaps()) << r.ctx().errorString();
    EXPECT_EQ(std::vector<std::string>{"ShowTarget"}, r.types());
    EXPECT_EQ("/dev/sdm", r.batch[0].mappedDevice);
    EXPECT_EQ("/dev/sdn", r.batch[1].mappedDevice);
    EXPECT_EQ(12, r.batch[0].status);
    EXPECT_EQ(12, r.batch[1].status);
    EXPECT_FALSE(r.batch.os.called("refreshBus"));
    EXPECT_FALSE(r.batch.os.called("getDeviceList"));

    MapRun fcOnly;
    fcOnly.item(1);
    fcOnly.batch.os.hostWwpns = {"210000e08b05050a"};
    fcOnly.batch.os.hostIqns = {};
    fcOnly.cluster->on("ShowTarget", {lunsAnswer({})});
    fcOnly.start(ZY_KRVN_SNAP_OP_MAP);
    EXPECT_EQ(1, fcOnly.utils().mapSnaps());
    EXPECT_EQ(1, fcOnly.ctx().errorCode);
    EXPECT_EQ(std::vector<std::string>{"ShowTarget"}, fcOnly.types());
}

TEST_F(MapFixture, ClonesAreReusedByPrefixOrExactTestMountNameAndCreatedOtherwise) {
    struct Row {
        const char* name;
        bool testMount;
        std::vector<std::string> clones;
        std::vector<std::pair<std::string, std::string>> details;   // clone -> answer
        const char* reused;                  // empty: a new clone is created
        std::vector<std::string> looked;     // VirtualDiskDetails asked, in order, before any creation
    };
    const std::string deleted = "ZY_snap-1_1_98", good = "ZY_snap-1_1_99";
    const Row rows[] = {
        {"prefix match", false, {"ZY_snap-2_1_5", good}, {{good, vdiskAnswer(good, 7001)}}, "ZY_snap-1_1_99", {good}},
        {"deleted candidate skipped",
         false,
         {deleted, good},
         {{deleted, notFound("VirtualDiskDetails", deleted)}, {good, vdiskAnswer(good, 7001)}},
         "ZY_snap-1_1_99",
         {deleted, good}},
        {"marked for delete",
         false,
         {deleted},
         {{deleted, enginetest::errorAnswer("VirtualDiskDetails", "VDisk is marked for delete :" + deleted)}},
         "",
         {deleted}},
        {"test mount ignores a longer name", true, {"ZYClone_snap-1_22"}, {}, "", {}},
        {"test mount takes the exact name",
         true,
         {"ZYClone_snap-1_22", "ZYClone_snap-1_2"},
         {{"ZYClone_snap-1_2", vdiskAnswer("ZYClone_snap-1_2", 7001)}},
         "ZYClone_snap-1_2",
         {"ZYClone_snap-1_2"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        MapRun run;
        krvntest::FakeSnapInfo& item = run.item(1);
        item.cloneNumber = 2;
        if (row.testMount) item.flags.insert(0x8000);
        run.cluster->on("ListClonesForSnapshot", {clonesAnswer(row.clones)})
            .on("CloneSnapshot", {nameList("CloneSnapshot", {"c"}, true)})
            .on("VirtualDiskDetails", {vdiskAnswer("new", 7002)});
        for (const auto& [clone, answer] : row.details) run.cluster->onParam("VirtualDiskDetails", "virtualDisk", clone, {answer});
        run.start(ZY_KRVN_SNAP_OP_MAP);
        const long long before = ZyPlatform::clockNowSeconds();

        ASSERT_EQ(0, run.utils().checkCreateCloneOfSnaps()) << run.ctx().errorString();
        EXPECT_EQ(-1, run.ctx().errorCode);
        EXPECT_EQ("", run.ctx().errorString());
        const KrvnSnapObject& obj = run.object(1);
        std::vector<std::string> looked = run.params("VirtualDiskDetails", "virtualDisk");
        if (row.reused[0] != '\0') {
            EXPECT_EQ(row.reused, obj.mountCloneName);
            EXPECT_EQ(7001, obj.cloneScsiSerial);
            EXPECT_EQ(0u, run.countOf("CloneSnapshot"));
        } else {
            const std::vector<std::string> made = run.params("CloneSnapshot", "name");
            ASSERT_EQ(1u, made.size());
            const std::string expectedName = made[0];
            if (row.testMount) {
                EXPECT_EQ("ZYClone_snap-1_2", expectedName);
            } else {
                EXPECT_TRUE(stampedAt(expectedName, "ZY_snap-1_1_", before)) << expectedName;
            }
            EXPECT_EQ(std::vector<std::string>{"snap-1"}, run.params("CloneSnapshot", "clonedSnapshotName"));
            EXPECT_EQ(expectedName, obj.mountCloneName);
            EXPECT_EQ(7002, obj.cloneScsiSerial);
            ASSERT_FALSE(looked.empty());
            EXPECT_EQ(expectedName, looked.back());
            looked.pop_back();
        }
        EXPECT_EQ(row.looked, looked);
        EXPECT_EQ(obj.mountCloneName + "**" + std::to_string(obj.cloneScsiSerial) + "**sp1**", item.metadata[149]);
    }
}

TEST_F(MapFixture, NewClonesOfOneMapShareOneTimeAndEachSnapshotIsListedOnce) {
    r.item(1, "snap-7");
    r.item(2, "snap-7");
    r.item(3, "snap-8");
    // The clock moves on while the first clone is made: the names must not follow it.
    bool first = true;
    r.cluster->on("ListClonesForSnapshot", {clonesAnswer({})})
        .onFn("CloneSnapshot",
              [&first](const RecordedRequest&) {
                  if (first) WQSLEEP(5000);
                  first = false;
                  return nameList("CloneSnapshot", {"c"}, true);
              })
        .on("VirtualDiskDetails", {vdiskAnswer("c", 7001)});
    r.start(ZY_KRVN_SNAP_OP_MAP);
    krvntest::LogCapture log;
    const long long before = ZyPlatform::clockNowSeconds();

    ASSERT_EQ(0, r.utils().checkCreateCloneOfSnaps()) << r.ctx().errorString();
    const std::vector<std::string> made = r.params("CloneSnapshot", "name");
    ASSERT_EQ(3u, made.size());
    EXPECT_TRUE(stampedAt(made[0], "ZY_snap-7_1_", before)) << made[0];
    const std::string t = made[0].substr(std::string("ZY_snap-7_1_").size());
    EXPECT_EQ((std::vector<std::string>{"ZY_snap-7_1_" + t, "ZY_snap-7_2_" + t, "ZY_snap-8_3_" + t}), made);
    EXPECT_EQ((std::vector<std::string>{"snap-7", "snap-8"}), r.params("ListClonesForSnapshot", "snapshotName"));
    EXPECT_EQ(1u, log.count("KRVN >>  Got [0] clones for snapshot-[snap-7] from cache.."));
}

TEST_F(MapFixture, FrozenClonesAreAwaitedInVirtualTimeUpToTheConfiguredLimit) {
    struct Row {
        const char* name;
        const char* minutes;                 // nZYKorvanCloneFreezeWaitTimeInMin, or null
        std::vector<bool> frozenAnswers;     // after the one read at creation, the last repeats
        bool firstAlreadyMapped;
        int rc;
        unsigned long long sleptMs;
        const char* error;
    };
    const Row rows[] = {
        {"unfreezes on the third check", nullptr, {true, true, false}, false, 0, 60000, ""},
        {"limit from the setting", "1", {true}, false, 1, 60000,
         "Clones [1] out of [1] remain frozen even after waiting for [60s]"},
        {"default limit", nullptr, {true}, false, 1, 3600000,
         "Clones [1] out of [1] remain frozen even after waiting for [3600s]"},
        {"items already mapped are not awaited", "1", {true, false}, true, 0, 30000, ""},
    };
    // The new clone has a test-mount name, so its answers can be told apart from those of an
    // item that is already on the host: that one's prefix names no vDisk at all.
    const std::string clone = "ZYClone_snap-2_1";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.minutes) {
            settings.set("Ovelin", "nZYKorvanCloneFreezeWaitTimeInMin", row.minutes);
        } else {
            settings.erase("Ovelin", "nZYKorvanCloneFreezeWaitTimeInMin");
        }
        MapRun run;
        if (row.firstAlreadyMapped) run.item(1).status = 12;
        run.item(2).flags.insert(0x8000);
        run.cluster->on("ListClonesForSnapshot", {clonesAnswer({})})
            .on("CloneSnapshot", {nameList("CloneSnapshot", {"c"}, true)})
            .on("VirtualDiskDetails", {notFound("VirtualDiskDetails", "ZY_snap-1_1_")})
            .onParam("VirtualDiskDetails", "virtualDisk", clone, {vdiskAnswer(clone, 7001, true)});
        for (bool frozen : row.frozenAnswers)
            run.cluster->onParam("VirtualDiskDetails", "virtualDisk", clone, {vdiskAnswer(clone, 7001, frozen)});
        run.start(ZY_KRVN_SNAP_OP_MAP);
        krvntest::LogCapture log;
        const unsigned long long slept = ZyPlatform::virtualSleptMs();

        EXPECT_EQ(row.rc, run.utils().checkCreateCloneOfSnaps());
        EXPECT_EQ(row.sleptMs, ZyPlatform::virtualSleptMs() - slept);
        EXPECT_NE(std::string::npos, run.ctx().errorString().find(row.error)) << run.ctx().errorString();
        EXPECT_EQ(1u, run.countOf("CloneSnapshot"));
        EXPECT_TRUE(log.contains("KRVN  Clone-[" + clone + "] remains frozen : Reason-[cloning]"));
    }
}

TEST_F(MapFixture, DevicesBelongToItemsByClusterSerialAndCloneSerial) {
    r.item(1);
    r.item(2);
    r.item(3).status = 12;
    r.start(ZY_KRVN_SNAP_OP_MAP);
    r.object(1).cloneScsiSerial = 5001;
    r.object(2).cloneScsiSerial = 5002;
    r.object(3).cloneScsiSerial = 5003;
    const std::vector<std::string> devices = {
        disks.add("sdw", "5002", kOtherClusterSerial),   // right serial, another cluster
        disks.add("sdx", "9999", kClusterSerial),        // this cluster, nobody's clone
        "/dev/sd-missing",                               // cannot be inquired
        disks.add("sdy", "5001", kClusterSerial),
        disks.add("sdz", "5003", kClusterSerial),        // item 3 is mapped already
    };
    krvntest::LogCapture log;
    unsigned long found = 0;

    EXPECT_EQ(1, r.utils().checkForMappedDevices(&r.map(), devices, found));
    EXPECT_EQ(2u, found);
    EXPECT_EQ(-1, r.ctx().errorCode);
    EXPECT_EQ("/dev/sdy", r.batch[0].mappedDevice);
    EXPECT_EQ(12, r.batch[0].status);
    EXPECT_EQ(11, r.batch[1].status);
    EXPECT_EQ("", r.batch[1].mappedDevice);
    EXPECT_TRUE(r.batch[1].called("setMappedDevice"));
    for (const char* foreign : {"/dev/sdw", "/dev/sdx", "/dev/sdz"})
        EXPECT_TRUE(log.contains(std::string("KRVN  SCSI inquiry on device-[") + foreign +
                                 "] done. It is not associated with any of the snapshot in current map request.."))
            << foreign;
    EXPECT_TRUE(log.contains("KRVN  Not all devices are found. Total - [3], Found - [2]"));
}

TEST_F(MapFixture, DevicesThatShowUpOnlyOnARetryAreFoundAndMissingOnesFailWithAReason) {
    // The host hands the clone a path it had listed before the map: only a retry, which looks
    // at every device rather than the new ones, can find it.
    settings.set("Ovelin", "nZYKorvanPostMapWaitInMin", "2");
    r.item(1);
    r.batch.os.deviceLists = {{"/dev/sdx"}};
    r.start(ZY_KRVN_SNAP_OP_MAP);
    r.object(1).cloneScsiSerial = 5001;
    r.map().devicesBefore = {"/dev/sdx"};
    r.map().hostName = "h1";
    disks.add("sdx", "5001", kClusterSerial);
    unsigned long long slept = ZyPlatform::virtualSleptMs();

    EXPECT_EQ(0, r.utils().performPostMapSteps());
    EXPECT_EQ(3000u + 10000u + 120000u, ZyPlatform::virtualSleptMs() - slept);
    EXPECT_EQ(2u, r.batch.os.refreshes.size());
    EXPECT_EQ("/dev/sdx", r.batch[0].mappedDevice);

    MapRun missing;
    missing.item(1);
    missing.batch.os.deviceLists = {{}, {"/dev/sdq"}};
    missing.start(ZY_KRVN_SNAP_OP_MAP);
    missing.object(1).cloneScsiSerial = 5001;
    slept = ZyPlatform::virtualSleptMs();

    EXPECT_EQ(1, missing.utils().performPostMapSteps());
    EXPECT_EQ(3000u + 2 * 10000u + 120000u, ZyPlatform::virtualSleptMs() - slept);
    EXPECT_EQ(3u, missing.batch.os.refreshes.size());
    EXPECT_EQ(1, missing.ctx().errorCode);
    EXPECT_EQ("Not all devices are found. Total - [1], Found - [0]", missing.ctx().errorString());
    EXPECT_EQ(11, missing.batch[0].status);
}

TEST_F(MapFixture, ExposeAndAccessCarryOnlyClonesNotYetOnTheHost) {
    r.item(1).status = 12;
    r.item(2);
    r.batch.os.hostIqns = {kIqn, "iqn.1994-05.com.example:host1b"};
    r.cluster->on("AddLun", {addLunAnswer({"ZY_snap-2_2_"})})
        .on("PersistACLAccess", {nameList("PersistACLAccess", {"ZY_snap-2_2_"}, true)});
    r.start(ZY_KRVN_SNAP_OP_MAP);
    r.map().hostIqns = r.batch.os.hostIqns;

    ASSERT_EQ(0, r.utils().checkAddCloneToSCSITarget());
    ASSERT_EQ(0, r.utils().checkAddAccessToClone());
    EXPECT_EQ((std::vector<std::string>{"AddLun", "PersistACLAccess", "PersistACLAccess"}), r.types());
    for (const auto& req : r.srv.requests()) {
        EXPECT_NE(std::string::npos, req.request.find("virtualDisks:['ZY_snap-2_2_']")) << req.request;
        EXPECT_EQ(std::string::npos, req.request.find("ZY_snap-1")) << req.request;
    }

    // Nothing left to expose: an empty disk list is never sent.
    r.batch[1].status = 12;
    r.srv.clearRequests();
    EXPECT_EQ(0, r.utils().checkAddCloneToSCSITarget());
    EXPECT_EQ(0, r.utils().checkAddAccessToClone());
    EXPECT_EQ(0u, r.srv.requestCount());
}

TEST_F(MapFixture, EachCloneNeedsATargetOfTheStorageProxy) {
    r.item(1);
    r.item(2);
    // The second clone is listed, but with a target of another proxy.
    std::string rows = lunsAnswer({"ZY_snap-1_1_42"});
    rows.insert(rows.find("]}"), R"(,{"Lun Id":"ZY_snap-2_2_42","Target":")" + targetOf("ZY_snap-2_2_42", "sp2") +
                                     R"(","SCSI SN":"1","Online":"Yes"})");
    r.cluster->on("ShowTarget", {rows});
    r.start(ZY_KRVN_SNAP_OP_MAP);
    r.object(1).mountCloneName = "ZY_snap-1_1_42";
    r.object(2).mountCloneName = "ZY_snap-2_2_42";

    EXPECT_EQ(1, r.utils().refreshArrayInterfaces());
    EXPECT_EQ(targetOf("ZY_snap-1_1_42"), r.object(1).snapTarget);
    EXPECT_EQ("", r.object(2).snapTarget);
    EXPECT_EQ("Failed to find target IQN for one or more clones. Found only [1] out of [2]...",
              r.ctx().errorString());
}
