// Every request body byte for byte, and the refusal of values that cannot travel inside the
// cluster's quotes.
#include <functional>

#include "RestFixture.h"

namespace {

using namespace krvntest;
using namespace ZYKorvanCommon;
using U = KrvnCommonUtils;
using S = std::string;

KrvnDisk diskForCreate() {
    KrvnDisk disk;
    disk.vDiskName = "vd&1";
    disk.sizeUnit = "GB";
    disk.size = 10;
    disk.diskType = "BLOCK";
    disk.scsi3pr = disk.compressed = true;
    disk.blockSize = 4096;
    disk.replicationFactor = 3;
    disk.description = "for+tests 100%";
    return disk;
}

TEST_F(RestTest, EveryTemplateIsBuiltWithItsPlaceholdersFilled) {
    struct Row {
        std::function<int(U&, S&)> build;
        std::string expected;
    };
    KrvnDisk named, bySerial, resize;
    named.vDiskName = "vd+1";
    bySerial.scsiSerialNumber = INT64_MIN;
    resize.vDiskName = "vd%2";
    resize.sizeUnit = "TB";
    resize.size = 2.5;
    const S s = "sessionId:'sess-0123456789'}";
    const S vdm = "category:VirtualDiskManagement, ";
    const S snm = "category:SnapshotManagement, ";
    const std::vector<Row> rows = {
        {[](U& u, S& o) { return u.buildReqBodyForKorvanConnect(o); },
         "request={type:Login, category:UserManagement, params:{userName:'admin', password:'s3cret-pw', "
         "cluster:'clusterA'}}"},
        {[](U& u, S& o) { return u.buildReqBodyForKorvanDisconnect(o); },
         "request={type:Logout, category:UserManagement, " + s},
        {[](U& u, S& o) { return u.buildReqBodyForKorvanGetAllVDisks(o); },
         "request={type:ListVirtualDisks, " + vdm + s},
        {[&](U& u, S& o) { return u.buildReqBodyForKorvanGetVDisk(o, named); },
         "request={type:VirtualDiskDetails, " + vdm + "params:{virtualDisk:'vd+1'}, " + s},
        {[&](U& u, S& o) { return u.buildReqBodyForKorvanGetVDiskBySSN(o, bySerial); },
         "request={type:GetVirtualDiskByScsiSn, " + vdm + "params:{scsiSn:'-9223372036854775808'}, " + s},
        {[](U& u, S& o) {
             return u.buildReqBodyForKorvanCreateSnaps(o, {{"b&", "x"}, {"a+", ""}});
         },
         "request={type:MakeSnapshot, " + snm + "params:{virtualDisks:['a+','b&']}, " + s},
        {[](U& u, S& o) { return u.buildReqBodyForKorvanGetSnapList(o, "vd1"); },
         "request={type:ListSnapshots, " + snm + "params:{virtualDisk:'vd1'}, " + s},
        {[](U& u, S& o) { return u.buildReqBodyForKorvanDeleteSnap(o, "sn 1"); },
         "request={type:DeleteSnapshot, " + snm + "params:{snapshotName:'sn 1'}, " + s},
        {[](U& u, S& o) { return u.buildReqBodyForKorvanRevert(o, "sn2"); },
         "request={type:RevertToSnapshot, " + snm + "params:{snapshotName:'sn2'}, " + s},
        {[](U& u, S& o) { return u.buildReqBodyForKorvanGetCloneDetails(o, "sn3"); },
         "request={type:ListClonesForSnapshot, " + snm + "params:{snapshotName:'sn3'}, " + s},
        {[](U& u, S& o) { return u.buildReqBodyForKorvanCreateClone(o, "cl1", "sn4"); },
         "request={type:CloneSnapshot, " + snm + "params:{name:'cl1', clonedSnapshotName:'sn4'}, " + s},
        {[](U& u, S& o) { return u.buildReqBodyForKorvanGetSCSITgtIQNs(o, "sp1"); },
         "request={type:ShowTarget, category:ClusterWatch, params:{host:'sp1', protocols:'block'}, " + s},
        {[](U& u, S& o) {
             return u.buildReqBodyForKorvanAddLUN(o, {"vd2", "vd1"}, {"sp1", "sp2"});
         },
         "request={type:AddLun, " + vdm +
             "params:{virtualDisks:['vd2','vd1'], targets:['sp1','sp2'], "
             "readonly:false}, " +
             s},
        {[](U& u, S& o) { return u.buildReqBodyForKorvanAddHostAccessToDisks(o, {"vd1"}, "iqn.host:1", "sp1"); },
         "request={type:PersistACLAccess, " + vdm +
             "params:{virtualDisks:['vd1'], host:'sp1', address:'iqn.host:1', "
             "type:iqn}, " +
             s},
        {[](U& u, S& o) { return u.buildReqBodyForKorvanGetAccessList(o, "vd1"); },
         "request={type:GetACLInformation, " + vdm + "params:{virtualDisk:'vd1'}, " + s},
        {[](U& u, S& o) { return u.buildReqBodyForKorvanRemoveAccess(o, "vd1", "sp1", "iqn.host:1"); },
         "request={type:RemoveACLAccess, " + vdm + "params:{virtualDisk:'vd1', host:'sp1', address:['iqn.host:1']}, " +
             s},
        {[](U& u, S& o) { return u.buildReqBodyForKorvanRemoveLUN(o, "vd1", "tg1"); },
         "request={type:UnmapLun, " + vdm + "params:{virtualDisk:'vd1', target:'tg1'}, " + s},
        {[](U& u, S& o) {
             return u.buildReqBodyForKorvanDeleteDisk(o, {{"z1", false}, {"a1", true}});
         },
         "request={type:DeleteVDisk, " + vdm + "params:{virtualDisks:['a1','z1']}, " + s},
        {[](U& u, S& o) { return u.buildReqBodyForKorvanGetClusterSettingInfo(o); },
         "request={type:GetClusterSettingInfo, category:ClusterWatch, " + s},
        {[](U& u, S& o) { return u.buildReqBodyForKorvanCreateDisk(o, diskForCreate()); },
         "request={type:AddVirtualDisk, " + vdm +
             "params:{name:'vd&1', size:{unit:'GB', value:10}, diskType:BLOCK, "
             "scsi3pr:true, deduplication:false, compressed:true, blockSize:4096, replicationFactor:3, "
             "encryption:false, "
             "description:'for+tests 100%', cacheEnabled:false}, " +
             s},
        {[&](U& u, S& o) { return u.buildReqBodyForKorvanResizeDisk(o, resize); },
         "request={type:ResizeDisks, " + vdm + "params:{virtualDisks:['vd%2'], size:{unit:'TB', value:2.5}}, " + s},
    };
    for (const Row& row : rows) {
        std::string body = "stale";
        EXPECT_EQ(0, row.build(utils(), body)) << row.expected;
        EXPECT_EQ(row.expected, body);
    }
}

TEST_F(RestTest, UnsafeValuesAreRefusedBeforeAnythingIsSent) {
    KrvnDisk quoted, described = diskForCreate();
    quoted.vDiskName = "vd'1";
    described.description = "del\x7f";
    std::map<std::string, std::string> sources = {{"ok1", ""}, {"bad\\name", ""}};
    std::map<std::string, bool> disks = {{"tab\there", false}};
    std::vector<std::string> names;
    LogCapture log;
    // The session id row comes last: it spoils the session for every later row.
    const std::vector<std::pair<std::function<int()>, std::string>> rows = {
        {[&] { return utils().rest_getVDiskDetails(quoted); }, "vd'1"},
        {[&] { return utils().rest_createSnaps(sources); }, "bad\\name"},
        {[&] { return utils().rest_deleteDisk(disks); }, "tab\there"},
        {[&] { return utils().rest_createDisk(described); }, "del\x7f"},
        {[&] { return utils().rest_addLUNConnection({"vd1"}, {"sp\n1"}); }, "sp\n1"},
        {[&] { return utils().rest_removeAccess("vd1", "sp1", "iqn'x"); }, "iqn'x"},
        {[&] {
             ctx().arrayDetails.userPswd = "pa'ss";
             return utils().rest_connectToArray();
         },
         "******"},
        {[&] {
             ctx().arrayDetails.sessionId = "s'1";
             return utils().rest_getSnapListForSource("vd1", names);
         },
         "******"},
    };
    for (const auto& [operation, shown] : rows) {
        ctx().resetError();
        EXPECT_EQ(1, operation()) << shown;
        EXPECT_EQ(1, ctx().errorCode) << shown;
        EXPECT_EQ("Refusing to send a request with an unsafe value-[" + shown + "]", errorText());
    }
    EXPECT_FALSE(log.contains("pa'ss") || log.contains("s'1"));
    EXPECT_EQ(0u, srv.requestCount());
}

}  // namespace
