// Snapshot unmap: each item's outcome, the removal order, what other hosts keep, the final rescan.
#include <gtest/gtest.h>

#include "SnapTestSupport.h"

using namespace ZYSnapKrvn;
using namespace snaptest;

namespace {

using Script = std::map<std::string, Strings>;

const std::string kClone = "ZY_snap-1_1_1700000000";
const std::string kOtherIqn = "iqn.1994-05.com.example:host2";
const std::string kSnaps = "ListSnapshots", kClones = "ListClonesForSnapshot", kAcl = "GetACLInformation";

// One ACL entry per proxy: {proxy, initiator IQNs}.
std::string aclAnswer(const std::vector<std::pair<std::string, Strings>>& entries) {
    std::string out;
    for (const auto& [proxy, iqns] : entries)
        out += (out.empty() ? "" : ",") + std::string(R"({"host":")") + proxy + R"(","initiator":)" +
               joined(iqns, [](const std::string& i) { return R"({"ip":")" + i + R"(","name":"x"})"; }) + "}";
    return okAnswer(kAcl, "[" + out + "]");
}

// DeleteVDisk succeeds for every disk it names.
std::string deleteAnswer(const RecordedRequest& r) { return okNames("DeleteVDisk", {requestParam(r, "")}); }

}  // namespace

TEST(Unmap, OutcomeOfEachSituation) {
    krvntest::QuietSettings settings;
    // script: changes to a cluster where everything the map made is still there;
    // rescansDevice: the item's device is handed to the rescan.
    struct Row {
        const char* name;
        bool cloneMetadata;
        Script script;
        int status;
        Strings requests;
        bool rescansDevice;
        bool proxyListed = true;  // the array's storage proxy list names sp1
    };
    const Strings walk = {kSnaps, kClones, "VirtualDiskDetails", "ShowTarget", kAcl};
    auto plus = [&walk](Strings more) { return more.insert(more.begin(), walk.begin(), walk.end()), more; };
    const auto fails = [](const std::string& type) { return Script::value_type{type, {errorAnswer(type, "busy")}}; };
    const Script::value_type oneClone = {kClones, {nameList(kClones, {kClone})}}, noAcl = {kAcl, {aclAnswer({})}};
    const Strings all = plus({"RemoveACLAccess", kAcl, "UnmapLun", kAcl, "DeleteVDisk"});
    const Row rows[] = {
        {"source vDisk gone", true, {{kSnaps, {notFound(kSnaps, "vol1")}}}, kSnapUnmapped, {kSnaps}, false},
        {"snapshot gone", true, {{kSnaps, {nameList(kSnaps, {"snap-9"})}}}, kSnapUnmapped, {kSnaps}, false},
        {"snapshot list fails", true, {fails(kSnaps)}, kSnapUnmapFailed, {kSnaps}, false},
        {"clone gone",
         true,
         {{kClones, {nameList(kClones, {"ZY_snap-1_2_1"})}}},
         kSnapUnmapped,
         {kSnaps, kClones},
         false},
        {"two clones and no metadata",
         false,
         {{kClones, {nameList(kClones, {"ZY_snap-1_1_1", "ZY_snap-1_1_2"})}}},
         kSnapUnmapFailed,
         {kSnaps, kClones},
         false},
        {"no metadata: the snapshot's one clone, through the array's proxy",
         false,
         {oneClone},
         kSnapUnmapped,
         all,
         true},
        {"no metadata and no proxy listed: an unused clone is deleted",
         false,
         {oneClone, noAcl},
         kSnapUnmapped,
         {kSnaps, kClones, kAcl, "DeleteVDisk"},
         false,
         false},
        {"no metadata and no proxy listed: a clone in use stays",
         false,
         {oneClone, {kAcl, {aclAnswer({{"sp2", {kOtherIqn}}})}}},
         kSnapUnmapped,
         {kSnaps, kClones, kAcl},
         false,
         false},
        {"no metadata and no proxy listed: the delete fails",
         false,
         {oneClone, noAcl, fails("DeleteVDisk")},
         kSnapUnmapFailed,
         {kSnaps, kClones, kAcl, "DeleteVDisk"},
         false,
         false},
        {"LUN table fails",
         true,
         {fails("ShowTarget")},
         kSnapUnmapFailed,
         {kSnaps, kClones, "VirtualDiskDetails", "ShowTarget"},
         false},
        {"access removal fails",
         true,
         {{kAcl, {aclAnswer({{"sp1", {kIqn}}})}}, fails("RemoveACLAccess")},
         kSnapUnmapFailed,
         plus({"RemoveACLAccess"}),
         false},
        {"everything removed", true, {}, kSnapUnmapped, all, true},
        {"LUN already off the target",
         true,
         {{"UnmapLun",
           {errorAnswer("UnmapLun", "vDisk:" + kClone + " is currently not mapped to any controllers(s)")}}},
         kSnapUnmapped,
         all,
         true},
        {"another host keeps the LUN and the clone",
         true,
         {{kAcl, {aclAnswer({{"sp1", {kIqn, kOtherIqn}}}), aclAnswer({{"sp1", {kOtherIqn}}})}}},
         kSnapUnmapped,
         plus({"RemoveACLAccess", kAcl, kAcl}),
         true},
        {"another proxy's entry is left alone",
         true,
         {{kAcl, {aclAnswer({{"sp2", {kIqn}}})}}},
         kSnapUnmapped,
         plus({kAcl, kAcl}),
         true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EngineRun run;
        krvntest::FakeSnapInfo& item = run.item(1);  // as the map left it: clone metadata and a device
        item.mappedDevice = "/dev/sdx";
        if (row.cloneMetadata) item.metadata[kMetaClone] = kClone + "**5001**sp1**";
        if (!row.proxyListed) item.configLists.erase("SMCONFIG_STORAGE_PROXY_LIST_KEY");
        Script script = {{kSnaps, {nameList(kSnaps, {"snap-0", "snap-1"})}},
                         {kClones, {nameList(kClones, {"ZY_snap-1_2_1", kClone})}},
                         {"VirtualDiskDetails", {vdiskAnswer(kClone, 5001)}},
                         {"ShowTarget", {lunsAnswer({"ZY_snap-1_1_17", kClone})}},
                         {kAcl, {aclAnswer({{"sp1", {kIqn}}}), aclAnswer({{"sp1", {}}}), aclAnswer({})}},
                         {"RemoveACLAccess", {okAnswer("RemoveACLAccess")}},
                         {"UnmapLun", {okAnswer("UnmapLun", "{}")}}};
        for (const auto& [type, answers] : row.script) script[type] = answers;
        for (const auto& [type, answers] : script) run.cluster().on(type, answers);
        if (!script.count("DeleteVDisk")) run.cluster().onFn("DeleteVDisk", deleteAnswer);
        run.start(ZY_KRVN_SNAP_OP_UNMAP);

        EXPECT_EQ(row.status == kSnapUnmapped ? 0 : 1, run.utils->unmapSnaps());
        EXPECT_EQ(row.status, item.status);
        EXPECT_EQ(row.requests, run.requests());
        ASSERT_EQ(1u, run.batch.os.refreshes.size());
        EXPECT_EQ(row.rescansDevice ? Strings{"/dev/sdx"} : Strings{}, run.batch.os.refreshes[0].devices);
        // Only this host's initiator, only through the clone's own proxy, only by name.
        const std::map<std::string, std::string> mustHold = {
            {"RemoveACLAccess", "host:'sp1', address:['" + std::string(kIqn) + "']"},
            {"UnmapLun", "target:'sp1'"},
            {"DeleteVDisk", kClone}};
        for (const auto& q : run.srv.requests())
            EXPECT_NE(std::string::npos,
                      q.request.find(mustHold.count(requestType(q)) ? mustHold.at(requestType(q)) : ""));
        // The session goes first, whatever happens on the cluster afterwards.
        const bool logsOut = row.requests.size() >= walk.size() && row.requests[walk.size() - 1] == kAcl;
        EXPECT_EQ(logsOut ? Strings{"logout sp1 " + targetOf(kClone)} : Strings{}, run.journal.calls);
    }
}

TEST(Unmap, TheHostLearnsWhyItemsFailedWhateverTheItemsAfterThemDid) {
    krvntest::QuietSettings settings;
    EngineRun run;
    for (int id : {1, 2, 3}) run.item(id);  // vol<id>, snap-<id>, no clone metadata
    // 1: its snapshot list fails; 2: two clones fit its name; 3: its source is gone, which the
    // cluster says in a message of its own that must not stand for the failures before it.
    run.cluster()
        .onDisk(kSnaps, "vol1", {errorAnswer(kSnaps, "busy")})
        .onDisk(kSnaps, "vol2", {nameList(kSnaps, {"snap-2"})})
        .on(kClones, {nameList(kClones, {"ZY_snap-2_2_1", "ZY_snap-2_2_2"})})
        .onDisk(kSnaps, "vol3", {notFound(kSnaps, "vol3")});
    run.start(ZY_KRVN_SNAP_OP_UNMAP);
    EXPECT_EQ(1, run.utils->unmapSnaps());
    EXPECT_EQ((std::vector<int>{kSnapUnmapFailed, kSnapUnmapFailed, kSnapUnmapped}), run.batch.statuses());
    EXPECT_EQ(1, run.ctx->errorCode);
    EXPECT_EQ(
        "The ListSnapshots request has failed. REST Error-[busy ]"
        "Snapshot-[snap-2] has [2] clones with prefix name-[ZY_snap-2_2_]. Not able to choose the right clone "
        "for cleanup..\nErrors returned by cluster-[busy ]",
        run.ctx->getFinalErrorStr());
}
