// The provisioning engine against a scripted cluster: create, resize, delete, map and unmap.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "FixtureDisks.h"
#include "ProvTestCluster.h"
#include "WqSleep.h"

namespace provtest {
namespace {

const std::string kShowTwo = okAnswer(
    "ShowTarget", R"({"Lun Information":[{"Lun Id":"vd1","Target":"iqn.sp1.vd1","SCSI SN":"1001","Online":"Yes"},)"
                  R"({"Lun Id":"vd2","Target":"iqn.sp1.vd2","SCSI SN":"1002","Online":"Yes"}]})");
const std::string kCluster = "001A2B3C4D5E6F";  // the scripted cluster's serial

class ProvEngineTest : public ProvClusterTest {
protected:
    void TearDown() override {
        utils.reset();
        ctx.reset();
    }

    // A context of the operation over the batch, initialised and logged in; requests cleared.
    void open(int op) {
        utils.reset();
        ctx = std::make_unique<KrvnProvCtx>(&batch.os, 0, op);
        ASSERT_EQ(0, ctx->initialize(batch.data(), batch.count())) << ctx->errorString();
        utils = std::make_unique<TestProvUtils>(ctx.get());
        iscsi = IscsiJournal();
        utils->adopt(new ScriptedIscsiModule(iscsi));
        ASSERT_EQ(0u, utils->rest_connectToArray()) << ctx->errorString();
        srv.clearRequests();
    }

    // Host devices that answer the inquiries like cluster vDisks.
    std::string addDevice(const std::string& name, const std::string& serial, const std::string& cluster = kCluster) {
        settings.set("Platform", "deviceBackend", "fixture");
        settings.set("Platform", "deviceFixtureDir", disks.dir());
        return disks.add(name, serial, cluster);
    }

    IscsiJournal iscsi;
    std::unique_ptr<KrvnProvCtx> ctx;
    std::unique_ptr<TestProvUtils> utils;
    FixtureDisks disks;
};

// ---- Create, resize, delete --------------------------------------------------------------------

TEST_F(ProvEngineTest, CreateSendsTheWholeRecordAndNamesTheItems) {
    addDisk();
    addDisk().blockSize = 512;
    open(ZY_KRVN_PROV_OP_CREATE);
    answer("AddVirtualDisk",
           okAnswer("AddVirtualDisk",
                    R"([{"status":"error","name":"vd1","message":"vd1 vDisk has already been created"}])"));
    EXPECT_EQ(0, utils->create_vDisks()) << ctx->errorString();
    EXPECT_EQ((std::vector<short>{kLunCreated, kLunCreated}), batch.statuses());
    EXPECT_EQ("vd2", batch[1].deviceName);
    EXPECT_TRUE(
        logs.contains("Disk - < name-[vd2] type-[BLOCK] size-[10 GB] SCSI serial-[0] block size-[512] repln "
                      "factor-[3] isDeduped-[true] isCompressed-[true] isSCSI3pr-[false] IsEncrypted-[true] "
                      "target IQN-[] description-[Created by Pellart] >"));
    const RecordedRequest body = sent("AddVirtualDisk").at(1);
    EXPECT_EQ("PUT", body.method);
    EXPECT_TRUE(has(body.request,
                    "params:{name:'vd2', size:{unit:'GB', value:10}, diskType:BLOCK, scsi3pr:false, "
                    "deduplication:true, compressed:true, blockSize:512, replicationFactor:3, "
                    "encryption:true, description:'Created by Pellart', cacheEnabled:false}"));
}

TEST_F(ProvEngineTest, ResizeSendsWholeGigabytesAndFailsWithTheClustersReason) {
    addDisk().size = (41L << 30) / 2;  // 20.5 GB
    open(ZY_KRVN_PROV_OP_RESIZE);
    answer("ResizeDisks", okAnswer("ResizeDisks", R"([{"status":"error","name":"vd1","message":"quota"}])"));
    EXPECT_EQ(19, utils->resize_vDisks());
    EXPECT_EQ(kLunResizeFailed, batch[0].status);
    EXPECT_EQ("Resize for disk-[vd1] failed. Error-[quota]", ctx->errorString());
    EXPECT_TRUE(has(sent("ResizeDisks").at(0).request, "size:{unit:'GB', value:20}"));
}

// One group request; when it names a missing disk, one request per disk, a missing one
// counting as deleted. Every disk not confirmed fails, and the error says why.
TEST_F(ProvEngineTest, DeleteTakesTheGroupAnswerOrFallsBackToOneByOne) {
    using Names = std::vector<std::string>;
    const std::string missing = errorAnswer("DeleteVDisk", "Vdisk vd2 couldn't be found");
    auto group = [](const std::string& elements) { return okAnswer("DeleteVDisk", "[" + elements + "]"); };
    const std::string vd1ok = R"({"status":"ok","name":"vd1"})";
    struct Case {
        const char* name;
        Names disks;
        std::vector<std::string> answers;  // "" drops the connection
        int rc;
        std::vector<short> statuses;
        std::vector<Names> sentDisks;
        int code;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"group names one failure",
         {"vd1", "vd2"},
         {group(vd1ok + R"(,{"status":"error","name":"vd2","message":"busy"})")},
         1,
         {kLunDeleted, kLunDeleteFailed},
         {{"vd1", "vd2"}},
         19,
         "Deletion for disks-[vd2] failed."},
        {"group leaves one unconfirmed",
         {"vd1", "vd2"},
         {group(vd1ok)},
         1,
         {kLunDeleted, kLunDeleteFailed},
         {{"vd1", "vd2"}},
         1,
         "One or more disks failed to delete"},
        {"no answer", {"vd1", "vd2"}, {""}, 1, {kLunDeleteFailed, kLunDeleteFailed}, {{"vd1", "vd2"}}, 1, ""},
        {"one name under two ids", {"same", "same"}, {}, 0, {kLunDeleted, kLunDeleteFailed}, {{"same"}}, -1, ""},
        {"one by one, one refused",
         {"vd1", "vd2", "vd3"},
         {missing, group(vd1ok), missing, group(R"({"status":"error","name":"vd3","message":"locked"})")},
         1,
         {kLunDeleted, kLunDeleted, kLunDeleteFailed},
         {{"vd1", "vd2", "vd3"}, {"vd1"}, {"vd2"}, {"vd3"}},
         1,
         "One or more disks failed to delete"},
        {"one by one, a disk found gone later keeps the refused one's reason",
         {"vd1", "vd2", "vd3"},
         {missing, group(R"({"status":"error","name":"vd1","message":"locked"})"), missing,
          group(R"({"status":"ok","name":"vd3"})")},
         1,
         {kLunDeleteFailed, kLunDeleted, kLunDeleted},
         {{"vd1", "vd2", "vd3"}, {"vd1"}, {"vd2"}, {"vd3"}},
         1,
         "Disk-[vd1] deletion failed. Error-[locked]Deletion for disks-[vd1] failed.One or more disks failed to "
         "delete"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        batch = FakeLunBatch();
        for (const auto& name : c.disks) addDisk().diskName = name;
        open(ZY_KRVN_PROV_OP_DELETE);
        for (const auto& body : c.answers) answer("DeleteVDisk", body);
        EXPECT_EQ(c.rc, utils->delete_vDisks());
        EXPECT_EQ(c.statuses, batch.statuses());
        std::vector<Names> sentDisks;
        for (const auto& r : sent("DeleteVDisk")) sentDisks.push_back(requestDisks(r));
        EXPECT_EQ(c.sentDisks, sentDisks);
        EXPECT_EQ(c.code, ctx->errorCode);
        EXPECT_TRUE(has(ctx->errorString(), c.text));
    }
}

// ---- Map and unmap -----------------------------------------------------------------------------

TEST_F(ProvEngineTest, MapAndUnmapRefuseHostEntriesThatAreNotUsableISCSIHosts) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"({"hosts":[{"hostname":"h1","protocol":"4","endpoints":[{"endpoint":"wwn"}]}]})",
         "Invalid protocol type-[4], expecting [3]"},
        {R"({"hosts":[{"hostname":"h1","protocol":3,"endpoints":[{"endpoint":"iqn.a"}]}]})",
         "Invalid protocol type-[0], expecting [3]"},
        {R"({"hosts":[{"protocol":"3","endpoints":[{"endpoint":"iqn.a"}]}]})", "Got empty host name"},
        {R"({"hosts":[{"hostname":"h1","protocol":"3","endpoints":[{}]}]})", "Got empty initiators"},
    };
    for (const auto& [info, sentence] : cases) {
        SCOPED_TRACE(info);
        batch = FakeLunBatch();
        addDisk().initiatorInfo = info;
        open(ZY_KRVN_PROV_OP_MAP);
        EXPECT_EQ(25, utils->map_vDisks());
        EXPECT_EQ(sentence, ctx->errorString());
        EXPECT_EQ(kLunMapFailed, batch[0].status);
        EXPECT_TRUE(sent("AddLun").empty());

        answer("GetACLInformation", okAnswer("GetACLInformation", R"([{"host":"sp1","initiator":[{"ip":"iqn.a"}]}])"));
        open(ZY_KRVN_PROV_OP_UNMAP);
        EXPECT_EQ(25, utils->unmap_vDisks());
        EXPECT_EQ(sentence, ctx->errorString());
        EXPECT_EQ(kLunUnmapFailed, batch[0].status);
        EXPECT_TRUE(sent("RemoveACLAccess").empty());
    }
}

TEST_F(ProvEngineTest, MapWithoutDiscoveryPassesFailsEvenWhenEveryRequestSucceeded) {
    FakeLunInfo& item = addDisk();
    item.setIscsiHost("h1", {"iqn.a", "iqn.b"});
    item.configs["SMCONFIG_NAME_SNAP_OP_RETRY_COUNT"] = "0";
    open(ZY_KRVN_PROV_OP_MAP);
    answer("ShowTarget", kShowTwo);
    EXPECT_EQ(1, utils->map_vDisks());
    EXPECT_EQ(kLunMapFailed, item.status);
    EXPECT_EQ((std::vector<std::string>{"GetClusterSettingInfo", "AddLun", "PersistACLAccess", "PersistACLAccess",
                                        "ShowTarget"}),
              sentTypes());
    EXPECT_TRUE(has(sent("PersistACLAccess").at(1).request, "host:'sp1', address:'iqn.b'"));
    EXPECT_EQ(kCluster, ctx->arrayDetails.clusterUniqueId);
    EXPECT_EQ(1001, ctx->disks.begin()->second->scsiSerial);
    EXPECT_TRUE(batch.os.refreshes.empty());  // no pass, no rescan
}

TEST_F(ProvEngineTest, MapFindsDevicesThatAppearInALaterPass) {
    for (int i = 0; i < 2; ++i) addDisk().setIscsiHost("h1", {"iqn.a"});
    const std::string devA = addDevice("krvnA", "1002");
    const std::string devB = addDevice("krvnB", "1001");
    const std::string stranger = addDevice("krvnC", "1001", "FFFFFFFFFFFFFF");  // another cluster's
    batch.os.deviceLists = {{stranger, devA}, {stranger, devA, devB}, {"/dev/never"}};
    open(ZY_KRVN_PROV_OP_MAP);
    answer("ShowTarget", kShowTwo);
    const auto sleptBefore = ZyPlatform::virtualSleptMs();
    EXPECT_EQ(0, utils->map_vDisks()) << logs.dump();
    EXPECT_EQ((std::vector<short>{kLunMapped, kLunMapped}), batch.statuses());
    EXPECT_EQ(devB, batch[0].deviceName);
    EXPECT_EQ(devA, batch[1].deviceName);
    EXPECT_EQ(2u, batch.os.count("getDeviceList"));  // stopped once both were found
    ASSERT_EQ(2u, batch.os.refreshes.size());
    EXPECT_EQ((std::vector<std::string>{"iqn.a"}), batch.os.refreshes[0].initiators);
    EXPECT_TRUE(batch.os.refreshes[0].devices.empty());
    EXPECT_EQ((std::vector<std::string>{"discover sp1", "login sp1 iqn.sp1.vd1", "login sp1 iqn.sp1.vd2"}),
              iscsi.calls);
    // The login wait and two pass intervals, all virtual.
    EXPECT_EQ(3000u + 2 * 10000u, ZyPlatform::virtualSleptMs() - sleptBefore);
}

TEST_F(ProvEngineTest, MapLeavesUnfoundDisksFailedWithoutADeviceAndSaysWhy) {
    for (int i = 0; i < 2; ++i) addDisk().setIscsiHost("h1", {"iqn.a"});
    batch[0].configs["SMCONFIG_NAME_SNAP_OP_RETRY_COUNT"] = "2";
    batch[0].configs["SMCONFIG_NAME_SNAP_OP_RETRY_INTERVAL_IN_SEC"] = "-5";  // no wait, not a huge one
    batch.os.deviceLists = {{addDevice("krvnA", "1002")}};
    settings.set("Ovelin", "sZYKorvanClusterUniqueId_clusterA", kCluster);
    open(ZY_KRVN_PROV_OP_MAP);
    answer("ShowTarget", kShowTwo);
    const auto sleptBefore = ZyPlatform::virtualSleptMs();
    EXPECT_EQ(1, utils->map_vDisks());
    EXPECT_EQ(3000u, ZyPlatform::virtualSleptMs() - sleptBefore);
    EXPECT_TRUE(sent("GetClusterSettingInfo").empty());  // the setting wins
    EXPECT_EQ((std::vector<short>{kLunMapFailed, kLunMapped}), batch.statuses());
    EXPECT_EQ("", batch[0].deviceName);
    EXPECT_EQ(2u, batch.os.count("getDeviceList"));
    EXPECT_EQ(1, ctx->errorCode);
    EXPECT_EQ("Not all devices are found. Total - [2], Found - [1]", ctx->errorString());
}

TEST_F(ProvEngineTest, MapFailsWhenADiskHasNoTargetOnTheProxy) {
    addDisk().setIscsiHost("h1", {"iqn.a"});
    addDisk(7).setIscsiHost("h1", {"iqn.a"});
    open(ZY_KRVN_PROV_OP_MAP);
    answer("ShowTarget", kShowTwo);
    EXPECT_EQ(1, utils->map_vDisks());
    EXPECT_EQ("Failed to find target IQN for one or more disk. Found only [1] out of [2]", ctx->errorString());
    EXPECT_TRUE(iscsi.calls.empty());
}

TEST_F(ProvEngineTest, UnmapRemovesTheLunOnlyWhenNoInitiatorIsLeftOnTheProxy) {
    const std::vector<std::pair<std::string, bool>> cases = {
        // access list afterwards, LUN removed
        {R"([{"host":"sp1","initiator":[]}])", true},
        {R"([{"host":"sp1","initiator":[{"ip":"iqn.other"}]}])", false},
        {"[]", false},
    };
    for (const auto& [after, lunRemoved] : cases) {
        SCOPED_TRACE(after);
        batch = FakeLunBatch();
        FakeLunInfo& item = addDisk();
        item.setIscsiHost("h1", {"iqn.a", "iqn.none"});
        item.deviceName = "/dev/sdq";
        open(ZY_KRVN_PROV_OP_UNMAP);
        answer("GetACLInformation",
               okAnswer("GetACLInformation", R"([{"host":"sp1","initiator":[{"ip":"iqn.other"},{"ip":"iqn.a"}]}])"));
        answer("GetACLInformation", okAnswer("GetACLInformation", after));
        answer("ShowTarget", kShowTwo);
        EXPECT_EQ(0, utils->unmap_vDisks()) << ctx->errorString();
        EXPECT_EQ(kLunUnmapped, item.status);
        std::vector<std::string> expected = {"VirtualDiskDetails", "GetACLInformation", "ShowTarget", "RemoveACLAccess",
                                             "GetACLInformation"};
        if (lunRemoved) expected.push_back("UnmapLun");
        EXPECT_EQ(expected, sentTypes());
        EXPECT_TRUE(has(sent("RemoveACLAccess").at(0).request, "virtualDisk:'vd1', host:'sp1', address:['iqn.a']"));
        if (lunRemoved) {
            EXPECT_TRUE(has(sent("UnmapLun").at(0).request, "virtualDisk:'vd1', target:'sp1'"));
        }
        EXPECT_EQ((std::vector<std::string>{"logout sp1 iqn.sp1.vd1"}), iscsi.calls);
        EXPECT_EQ((std::vector<std::string>{"iqn.a"}), batch.os.refreshes.at(0).initiators);  // only what had access
    }
}

// A disk that is gone or has no access is unmapped already; any other cluster failure stops.
TEST_F(ProvEngineTest, UnmapCountsAGoneOrUnmappedDiskAsUnmappedAndStopsAtAnyOtherFailure) {
    struct Case {
        std::string type, body;
        int rc;
        std::vector<short> statuses;
        std::vector<std::string> sent;
    };
    const std::string details = "VirtualDiskDetails", acl = "GetACLInformation";
    const std::vector<Case> cases = {
        {details,
         errorAnswer(details, "Vdisk vd1 couldn't be found"),
         0,
         {kLunUnmapped, kLunUnmapped},
         {details, details, acl}},
        {details,
         errorAnswer(details, "VDisk is marked for delete :vd1"),
         0,
         {kLunUnmapped, kLunUnmapped},
         {details, details, acl}},
        {acl,
         errorAnswer(acl, "Vdisk vd1 couldn't be found"),
         0,
         {kLunUnmapped, kLunUnmapped},
         {details, acl, details, acl}},
        {acl, okAnswer(acl, "[]"), 0, {kLunUnmapped, kLunUnmapped}, {details, acl, details, acl}},
        {details, errorAnswer(details, "internal error"), 19, {kLunUnmapFailed, kLunNew}, {details}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        batch = FakeLunBatch();
        addDisk().setIscsiHost("h1", {"iqn.a"});
        addDisk().setIscsiHost("h1", {"iqn.a"});  // the second disk has nothing to undo either
        open(ZY_KRVN_PROV_OP_UNMAP);
        answer(c.type, c.body);
        EXPECT_EQ(c.rc, utils->unmap_vDisks()) << ctx->errorString();
        EXPECT_EQ(c.statuses, batch.statuses());
        EXPECT_EQ(c.sent, sentTypes());
        EXPECT_EQ(c.rc != 0, batch.os.refreshes.empty());  // no rescan after a failure
    }
}

}  // namespace
}  // namespace provtest
