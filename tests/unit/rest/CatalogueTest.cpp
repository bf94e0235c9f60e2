// Every request body, byte for byte as the cluster decodes it, and the refusal of values
// that cannot travel inside the cluster's quotes.
#include <functional>

#include "RestFixture.h"
#include "ZYSnapRESTAPI.h"

namespace {

using namespace krvntest;
using namespace ZYKorvanCommon;

using Builder = std::function<int(KrvnCommonUtils&, std::string&)>;

KrvnDisk diskForCreate() {
    KrvnDisk disk;
    disk.vDiskName = "vd&1";
    disk.sizeUnit = "GB";
    disk.size = 10;
    disk.diskType = "BLOCK";
    disk.scsi3pr = true;
    disk.compressed = true;
    disk.blockSize = 4096;
    disk.replicationFactor = 3;
    disk.description = "for+tests 100%";
    return disk;
}

TEST_F(RestTest, EveryTemplateArrivesWithItsPlaceholdersFilled) {
    struct Row {
        const char* name;
        Builder build;
        std::string expected;
    };
    KrvnDisk named;
    named.vDiskName = "vd+1";
    KrvnDisk bySerial;
    bySerial.scsiSerialNumber = INT64_MIN;
    KrvnDisk resize;
    resize.vDiskName = "vd%2";
    resize.sizeUnit = "TB";
    resize.size = 2.5;
    const std::string s = "sessionId:'sess-0123456789'}";
    const std::vector<Row> rows = {
        {"login", [](KrvnCommonUtils& u, std::string& o) { return u.buildReqBodyForKorvanConnect(o); },
         "request={type:Login, category:UserManagement, params:{userName:'admin', password:'s3cret-pw', "
         "cluster:'clusterA'}}"},
        {"logout", [](KrvnCommonUtils& u, std::string& o) { return u.buildReqBodyForKorvanDisconnect(o); },
         "request={type:Logout, category:UserManagement, " + s},
        {"all vdisks", [](KrvnCommonUtils& u, std::string& o) { return u.buildReqBodyForKorvanGetAllVDisks(o); },
         "request={type:ListVirtualDisks, category:VirtualDiskManagement, " + s},
        {"vdisk", [&](KrvnCommonUtils& u, std::string& o) { return u.buildReqBodyForKorvanGetVDisk(o, named); },
         "request={type:VirtualDiskDetails, category:VirtualDiskManagement, params:{virtualDisk:'vd+1'}, " + s},
        {"by serial", [&](KrvnCommonUtils& u, std::string& o) { return u.buildReqBodyForKorvanGetVDiskBySSN(o, bySerial); },
         "request={type:GetVirtualDiskByScsiSn, category:VirtualDiskManagement, "
         "params:{scsiSn:'-9223372036854775808'}, " + s},
        {"snapshots",
         [](KrvnCommonUtils& u, std::string& o) {
             return u.buildReqBodyForKorvanCreateSnaps(o, {{"b&", "x"}, {"a+", ""}});
         },
         "request={type:MakeSnapshot, category:SnapshotManagement, params:{virtualDisks:['a+','b&']}, " + s},
        {"snap list", [](KrvnCommonUtils& u, std::string& o) { return u.buildReqBodyForKorvanGetSnapList(o, "vd1"); },
         "request={type:ListSnapshots, category:SnapshotManagement, params:{virtualDisk:'vd1'}, " + s},
        {"delete snap", [](KrvnCommonUtils& u, std::string& o) { return u.buildReqBodyForKorvanDeleteSnap(o, "sn 1"); },
         "request={type:DeleteSnapshot, category:SnapshotManagement, params:{snapshotName:'sn 1'}, " + s},
        {"revert", [](KrvnCommonUtils& u, std::string& o) { return u.buildReqBodyForKorvanRevert(o, "sn2"); },
         "request={type:RevertToSnapshot, category:SnapshotManagement, params:{snapshotName:'sn2'}, " + s},
        {"clones", [](KrvnCommonUtils& u, std::string& o) { return u.buildReqBodyForKorvanGetCloneDetails(o, "sn3"); },
         "request={type:ListClonesForSnapshot, category:SnapshotManagement, params:{snapshotName:'sn3'}, " + s},
        {"clone",
         [](KrvnCommonUtils& u, std::string& o) { return u.buildReqBodyForKorvanCreateClone(o, "cl1", "sn4"); },
         "request={type:CloneSnapshot, category:SnapshotManagement, params:{name:'cl1', clonedSnapshotName:'sn4'}, " + s},
        {"targets", [](KrvnCommonUtils& u, std::string& o) { return u.buildReqBodyForKorvanGetSCSITgtIQNs(o, "sp1"); },
         "request={type:ShowTarget, category:ClusterWatch, params:{host:'sp1', protocols:'block'}, " + s},
        {"add lun",
         [](KrvnCommonUtils& u, std::string& o) {
             return u.buildReqBodyForKorvanAddLUN(o, {"vd2", "vd1"}, {"sp1", "sp2"});
         },
         "request={type:AddLun, category:VirtualDiskManagement, params:{virtualDisks:['vd2','vd1'], "
         "targets:['sp1','sp2'], readonly:false}, " + s},
        {"add access",
         [](KrvnCommonUtils& u, std::string& o) {
             return u.buildReqBodyForKorvanAddHostAccessToDisks(o, {"vd1"}, "iqn.host:1", "sp1");
         },
         "request={type:PersistACLAccess, category:VirtualDiskManagement, params:{virtualDisks:['vd1'], host:'sp1', "
         "address:'iqn.host:1', type:iqn}, " + s},
        {"access list", [](KrvnCommonUtils& u, std::string& o) { return u.buildReqBodyForKorvanGetAccessList(o, "vd1"); },
         "request={type:GetACLInformation, category:VirtualDiskManagement, params:{virtualDisk:'vd1'}, " + s},
        {"remove access",
         [](KrvnCommonUtils& u, std::string& o) {
             return u.buildReqBodyForKorvanRemoveAccess(o, "vd1", "sp1", "iqn.host:1");
         },
         "request={type:RemoveACLAccess, category:VirtualDiskManagement, params:{virtualDisk:'vd1', host:'sp1', "
         "address:['iqn.host:1']}, " + s},
        {"remove lun", [](KrvnCommonUtils& u, std::string& o) { return u.buildReqBodyForKorvanRemoveLUN(o, "vd1", "tg1"); },
         "request={type:UnmapLun, category:VirtualDiskManagement, params:{virtualDisk:'vd1', target:'tg1'}, " + s},
        {"delete disks",
         [](KrvnCommonUtils& u, std::string& o) {
             return u.buildReqBodyForKorvanDeleteDisk(o, {{"z1", false}, {"a1", true}});
         },
         "request={type:DeleteVDisk, category:VirtualDiskManagement, params:{virtualDisks:['a1','z1']}, " + s},
        {"cluster info",
         [](KrvnCommonUtils& u, std::string& o) { return u.buildReqBodyForKorvanGetClusterSettingInfo(o); },
         "request={type:GetClusterSettingInfo, category:ClusterWatch, " + s},
        {"create disk",
         [](KrvnCommonUtils& u, std::string& o) { return u.buildReqBodyForKorvanCreateDisk(o, diskForCreate()); },
         "request={type:AddVirtualDisk, category:VirtualDiskManagement, params:{name:'vd&1', size:{unit:'GB', "
         "value:10}, diskType:BLOCK, scsi3pr:true, deduplication:false, compressed:true, blockSize:4096, "
         "replicationFactor:3, encryption:false, description:'for+tests 100%', cacheEnabled:false}, " + s},
        {"resize", [&](KrvnCommonUtils& u, std::string& o) { return u.buildReqBodyForKorvanResizeDisk(o, resize); },
         "request={type:ResizeDisks, category:VirtualDiskManagement, params:{virtualDisks:['vd%2'], "
         "size:{unit:'TB', value:2.5}}, " + s},
    };
    for (const Row& row : rows) {
        std::string body = "stale";
        ASSERT_EQ(0, row.build(utils(), body)) << row.name;
        EXPECT_EQ(row.expected, body) << row.name;
        srv.reply(200, "{}");
        std::string response;
        ASSERT_TRUE(ctx().restClient->post("", body, response)) << row.name;
        EXPECT_EQ(row.expected, "request=" + srv.lastRequest().request) << row.name;
    }
    EXPECT_EQ(rows.size(), srv.requestCount());
}

TEST_F(RestTest, UnsafeValuesAreRefusedBeforeAnythingIsSent) {
    struct Row {
        const char* name;
        std::function<unsigned int()> operation;
        std::string shown;
    };
    KrvnDisk quoted;
    quoted.vDiskName = "vd'1";
    std::map<std::string, std::string> sources = {{"ok1", ""}, {"bad\\name", ""}};
    std::map<std::string, bool> disks = {{"tab\there", false}};
    KrvnDisk described = diskForCreate();
    described.description = std::string("del\x7f");
    const std::vector<Row> rows = {
        {"quote", [&] { return utils().rest_getVDiskDetails(quoted); }, "vd'1"},
        {"backslash in a list", [&] { return utils().rest_createSnaps(sources); }, "bad\\name"},
        {"control character", [&] { return static_cast<unsigned int>(utils().rest_deleteDisk(disks)); }, "tab\there"},
        {"delete character", [&] { return static_cast<unsigned int>(utils().rest_createDisk(described)); }, "del\x7f"},
        {"newline in a proxy", [&] { return utils().rest_addLUNConnection({"vd1"}, {"sp\n1"}); }, "sp\n1"},
        {"host address", [&] { return utils().rest_removeAccess("vd1", "sp1", "iqn'x"); }, "iqn'x"},
    };
    for (const Row& row : rows) {
        ctx().resetError();
        EXPECT_EQ(1u, row.operation()) << row.name;
        EXPECT_EQ(1, ctx().errorCode) << row.name;
        EXPECT_EQ("Refusing to send a request with an unsafe value-[" + row.shown + "]", errorText()) << row.name;
        EXPECT_TRUE(ctx().restRequest.empty()) << row.name;
    }
    // A session id that could not travel is refused as well.
    ctx().arrayDetails.sessionId = "s'1";
    std::vector<std::string> names;
    EXPECT_EQ(1u, utils().rest_getSnapListForSource("vd1", names));
    EXPECT_EQ("Refusing to send a request with an unsafe value-[s'1]", errorText());
    EXPECT_EQ(0u, srv.requestCount());
}

TEST_F(RestTest, UnsafePasswordIsRefusedWithoutQuotingIt) {
    KrvnTestSession fresh(srv, false);
    LogCapture log;
    fresh.ctx.arrayDetails.userPswd = "pa'ss";
    EXPECT_EQ(1u, fresh.utils.rest_connectToArray());
    EXPECT_EQ("Refusing to send a request with an unsafe value-[******]", fresh.ctx.errorString());
    EXPECT_FALSE(log.contains("pa'ss"));
    EXPECT_EQ(0u, srv.requestCount());
}

}  // namespace
