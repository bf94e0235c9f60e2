// Snapshot unmap: the outcome of each item, the removal order, what other hosts keep, the
// per-call lists and the final rescan, against a scripted cluster, a scripted iSCSI module and
// the fake host.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "KrvnCtx.h"
#include "KrvnUtils.h"
#include "MapTestCluster.h"

using namespace ZYSnapKrvn;
using namespace maptest;

namespace {

using Script = std::vector<std::pair<std::string, std::vector<std::string>>>;

const std::string kClone = "ZY_snap-1_1_1700000000";
const std::string kOtherIqn = "iqn.1994-05.com.example:host2";

// What the map of item <id> left: its clone, with serial 500<id>, on sp1.
void mapped(krvntest::FakeSnapInfo& item, const std::string& clone) {
    item.metadata[149] = clone + "**500" + std::to_string(item.snapId) + "**sp1**";
    item.mappedDevice = "/dev/sd" + std::string(1, static_cast<char>('w' + item.snapId));
}

// DeleteVDisk succeeds for every disk it names.
std::string deleteAnswer(const RecordedRequest& r) {
    const std::string marker = "virtualDisks:['";
    const size_t at = r.request.find(marker) + marker.size();
    return nameList("DeleteVDisk", {r.request.substr(at, r.request.find('\'', at) - at)}, true);
}

}  // namespace

TEST_F(MapFixture, UnmapOutcomeOfEachSituation) {
    struct Row {
        const char* name;
        bool cloneMetadata;
        Script script;
        int status;
        std::vector<std::string> requests;
        bool rescansDevice;   // the item's device is handed to the rescan
    };
    const std::string lists[] = {"ListSnapshots", "ListClonesForSnapshot"};
    const std::vector<std::string> walk = {lists[0], lists[1], "VirtualDiskDetails", "ShowTarget", "GetACLInformation"};
    auto plus = [&walk](std::vector<std::string> more) {
        std::vector<std::string> out = walk;
        out.insert(out.end(), more.begin(), more.end());
        return out;
    };
    const std::string acl = "GetACLInformation";
    const Row rows[] = {
        {"source vDisk gone", true, {{lists[0], {notFound(lists[0], "vol1")}}}, 14, {lists[0]}, false},
        {"snapshot gone", true, {{lists[0], {snapsAnswer({"snap-9"})}}}, 14, {lists[0]}, false},
        {"snapshot list fails", true, {{lists[0], {enginetest::errorAnswer(lists[0], "busy")}}}, 15, {lists[0]}, false},
        {"clone gone", true, {{lists[1], {clonesAnswer({"ZY_snap-1_2_1"})}}}, 14, {lists[0], lists[1]}, false},
        {"clone list fails", true, {{lists[1], {enginetest::errorAnswer(lists[1], "busy")}}}, 15, {lists[0], lists[1]}, false},
        {"two clones and no metadata", false,
         {{lists[1], {clonesAnswer({"ZY_snap-1_1_1", "ZY_snap-1_1_2"})}}}, 15, {lists[0], lists[1]}, false},
        {"one unused clone and no metadata", false,
         {{lists[1], {clonesAnswer({"ZY_snap-1_1_1"})}}, {acl, {aclAnswer({})}}}, 14,
         {lists[0], lists[1], acl, "DeleteVDisk"}, false},
        {"one clone in use and no metadata", false,
         {{lists[1], {clonesAnswer({"ZY_snap-1_1_1"})}}, {acl, {aclAnswer({{"sp2", {kOtherIqn}}})}}}, 14,
         {lists[0], lists[1], acl}, false},
        {"no metadata and the delete fails", false,
         {{lists[1], {clonesAnswer({"ZY_snap-1_1_1"})}}, {acl, {aclAnswer({})}},
          {"DeleteVDisk", {enginetest::errorAnswer("DeleteVDisk", "busy")}}}, 15,
         {lists[0], lists[1], acl, "DeleteVDisk"}, false},
        {"clone details fail", true, {{"VirtualDiskDetails", {enginetest::errorAnswer("VirtualDiskDetails", "busy")}}},
         15, {lists[0], lists[1], "VirtualDiskDetails"}, false},
        {"LUN table fails", true, {{"ShowTarget", {enginetest::errorAnswer("ShowTarget", "busy")}}}, 15,
         {lists[0], lists[1], "VirtualDiskDetails", "ShowTarget"}, false},
        {"access removal fails", true,
         {{acl, {aclAnswer({{"sp1", {kIqn}}})}}, {"RemoveACLAccess", {enginetest::errorAnswer("RemoveACLAccess", "busy")}}},
         15, plus({"RemoveACLAccess"}), false},
        {"everything removed", true, {}, 14, plus({"RemoveACLAccess", acl, "UnmapLun", acl, "DeleteVDisk"}), true},
        {"LUN already off the target", true,
         {{"UnmapLun", {enginetest::errorAnswer("UnmapLun", "vDisk:" + kClone +
                                                                " is currently not mapped to any controllers(s)")}}},
         14, plus({"RemoveACLAccess", acl, "UnmapLun", acl, "DeleteVDisk"}), true},
        {"another host keeps the LUN and the clone", true,
         {{acl, {aclAnswer({{"sp1", {kIqn, kOtherIqn}}}), aclAnswer({{"sp1", {kOtherIqn}}})}}}, 14,
         plus({"RemoveACLAccess", acl, acl}), true},
        {"another proxy's entry is left alone", true, {{acl, {aclAnswer({{"sp2", {kIqn}}})}}}, 14,
         plus({acl, acl}), true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        MapRun run;
        krvntest::FakeSnapInfo& item = run.item(1);
        mapped(item, kClone);
        if (!row.cloneMetadata) item.metadata.erase(149);
        // A cluster where everything the map made is still there, except what the row changes.
        Script script = {{lists[0], {snapsAnswer({"snap-0", "snap-1"})}},
                         {lists[1], {clonesAnswer({"ZY_snap-1_2_1", kClone})}},
                         {"VirtualDiskDetails", {vdiskAnswer(kClone, 5001)}},
                         {"ShowTarget", {lunsAnswer({"ZY_snap-1_1_17", kClone})}},
                         {acl, {aclAnswer({{"sp1", {kIqn}}}), aclAnswer({{"sp1", {}}}), aclAnswer({})}},
                         {"RemoveACLAccess", {enginetest::okAnswer("RemoveACLAccess")}},
                         {"UnmapLun", {enginetest::okAnswer("UnmapLun", "{}")}}};
        bool deleteScripted = false;
        for (const auto& [rowType, rowAnswers] : row.script) {
            auto it = std::find_if(script.begin(), script.end(), [&](const auto& e) { return e.first == rowType; });
            if (it != script.end()) it->second = rowAnswers;
            else script.emplace_back(rowType, rowAnswers);
            deleteScripted = deleteScripted || rowType == "DeleteVDisk";
        }
        for (const auto& [type, answers] : script) run.cluster->on(type, answers);
        if (!deleteScripted) run.cluster->onFn("DeleteVDisk", deleteAnswer);
        run.start(ZY_KRVN_SNAP_OP_UNMAP);

        EXPECT_EQ(row.status == 14 ? 0 : 1, run.utils().unmapSnaps());
        EXPECT_EQ(row.status, item.status);
        EXPECT_EQ(row.requests, run.types());
        ASSERT_EQ(1u, run.batch.os.refreshes.size());
        EXPECT_EQ(row.rescansDevice ? std::vector<std::string>{"/dev/sdx"} : std::vector<std::string>{},
                  run.batch.os.refreshes[0].devices);
        // Only this host's initiator, only through the clone's own proxy, only by name.
        for (const std::string& address : run.params("RemoveACLAccess", "host")) EXPECT_EQ("sp1", address);
        for (const auto& r : run.srv.requests()) {
            const std::string type = enginetest::requestType(r);
            const std::string mustHold = type == "RemoveACLAccess" ? "address:['" + std::string(kIqn) + "']"
                                         : type == "UnmapLun"      ? "target:'sp1'"
                                         : type == "DeleteVDisk"   ? (row.cloneMetadata ? kClone : "ZY_snap-1_1_1")
                                                                   : "";
            EXPECT_NE(std::string::npos, r.request.find(mustHold)) << r.request;
        }
        // The session goes first, whatever happens on the cluster afterwards.
        const bool logsOut = row.requests.size() >= walk.size() && row.requests[walk.size() - 1] == acl;
        EXPECT_EQ(logsOut ? std::vector<std::string>{"logout sp1 " + targetOf(kClone)} : std::vector<std::string>{},
                  run.journal.calls);
    }
}

TEST_F(MapFixture, UnmapListsEachVDiskAndSnapshotOnceAndKeepsGoingPastAFailedItem) {
    mapped(r.item(1, "snap-1", "vol1"), "ZY_snap-1_1_5");
    mapped(r.item(2, "snap-1", "vol1"), "ZY_snap-1_2_5");
    mapped(r.item(3, "snap-3", "vol3"), "ZY_snap-3_3_5");
    r.cluster->onParam("ListSnapshots", "virtualDisk", "vol1", {snapsAnswer({"snap-1"})})
        .onParam("ListSnapshots", "virtualDisk", "vol3", {snapsAnswer({"snap-3"})})
        .onParam("ListClonesForSnapshot", "snapshotName", "snap-1", {clonesAnswer({"ZY_snap-1_1_5", "ZY_snap-1_2_5"})})
        .onParam("ListClonesForSnapshot", "snapshotName", "snap-3", {clonesAnswer({"ZY_snap-3_3_5"})})
        .onParam("VirtualDiskDetails", "virtualDisk", "ZY_snap-3_3_5",
                 {enginetest::errorAnswer("VirtualDiskDetails", "busy")})
        .on("VirtualDiskDetails", {vdiskAnswer("c", 5001)})
        .on("ShowTarget", {lunsAnswer({"ZY_snap-1_1_5", "ZY_snap-1_2_5"})})
        .on("GetACLInformation", {aclAnswer({})})
        .onFn("DeleteVDisk", deleteAnswer);
    r.start(ZY_KRVN_SNAP_OP_UNMAP);
    krvntest::LogCapture log;

    EXPECT_EQ(1, r.utils().unmapSnaps());
    EXPECT_EQ(14, r.batch[0].status);
    EXPECT_EQ(14, r.batch[1].status);
    EXPECT_EQ(15, r.batch[2].status);
    EXPECT_EQ((std::vector<std::string>{"vol1", "vol3"}), r.params("ListSnapshots", "virtualDisk"));
    EXPECT_EQ((std::vector<std::string>{"snap-1", "snap-3"}), r.params("ListClonesForSnapshot", "snapshotName"));
    EXPECT_TRUE(log.contains("KRVN >>  Got [1] snapshots for vDisk-[vol1] from cache"));
    EXPECT_TRUE(log.contains("KRVN >>  Got [2] clones for snapshot-[snap-1] from cache"));
    EXPECT_EQ(2u, r.countOf("DeleteVDisk"));
    ASSERT_EQ(1u, r.batch.os.refreshes.size());
    EXPECT_EQ((std::vector<std::string>{"/dev/sdx", "/dev/sdy"}), r.batch.os.refreshes[0].devices);
    EXPECT_EQ(r.batch.os.hostIqns, r.batch.os.refreshes[0].initiators);
}

TEST_F(MapFixture, UnmapWithoutTheHostsInitiatorsTouchesNothing) {
    mapped(r.item(1), kClone);
    mapped(r.item(2), "ZY_snap-2_2_1700000000");
    r.batch.os.hostInterfacesOk = false;
    r.start(ZY_KRVN_SNAP_OP_UNMAP);

    EXPECT_EQ(1, r.utils().unmapSnaps());
    EXPECT_EQ(15, r.batch[0].status);
    EXPECT_EQ(15, r.batch[1].status);
    EXPECT_EQ(0u, r.srv.requestCount());
    EXPECT_FALSE(r.batch.os.called("refreshBus"));
    EXPECT_NE(std::string::npos, r.ctx().errorString().find("Failed to get SCSI interface list"));
}
