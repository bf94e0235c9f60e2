// Target, LUN and access requests.
#include "RestFixture.h"

namespace {

using namespace krvntest;
using namespace ZYKorvanCommon;

TEST_F(RestTest, TargetRowsAreReadPerProxyWithStrictSerialAndOnlineRules) {
    LogCapture log;
    std::map<std::string, std::vector<KrvnSCSITarget>> targets;
    targets["sp1"].resize(1);
    srv.reply(200, okAnswer("ShowTarget", R"({"Lun Information":[
        {"Lun Id":"lun-vd1","Target":"iqn.t:sp1.vd1","SCSI SN":"-123","Online":"Yes"},
        {"Lun Id":"lun-vd2","Online":"yes"},
        {"SCSI SN":"12x","Online":"Yes "},
        {"SCSI SN":"99999999999999999999"}]})"));
    ASSERT_EQ(0u, utils().rest_getSCSITargetIQNs("sp1", targets));
    const auto& rows = targets["sp1"];
    ASSERT_EQ(5u, rows.size());
    EXPECT_EQ("lun-vd1", rows[1].lunId);
    EXPECT_EQ("iqn.t:sp1.vd1", rows[1].targetIqn);
    EXPECT_EQ(-123, rows[1].scsiSerialNumber);
    EXPECT_TRUE(rows[1].online);
    EXPECT_FALSE(rows[2].online);
    EXPECT_EQ(0, rows[2].scsiSerialNumber);
    EXPECT_EQ(0, rows[3].scsiSerialNumber);   // not a whole number
    EXPECT_FALSE(rows[3].online);
    EXPECT_EQ(0, rows[4].scsiSerialNumber);   // beyond 64 bits
    EXPECT_TRUE(log.containsAt(0, "KRVN >>  Got [5] SCSI target IQNs from the cluster.."));

    log.clear();
    srv.reply(200, okAnswer("ShowTarget", R"({"Other":[]})"));
    ASSERT_EQ(0u, utils().rest_getSCSITargetIQNs("sp2", targets));
    EXPECT_TRUE(targets.count("sp2"));
    EXPECT_TRUE(targets["sp2"].empty());
    EXPECT_TRUE(log.containsAt(0, "KRVN >>  Got [0] SCSI target IQNs from the cluster.."));

    srv.reply(500, "");
    EXPECT_EQ(1u, utils().rest_getSCSITargetIQNs("sp3", targets));
    EXPECT_EQ("Failed to get SCSI target IQN details for storage proxy-[sp3]", errorText());
}

TEST_F(RestTest, AddLunAcceptsOnlyTheExactAlreadyExposedSentence) {
    struct Row {
        std::string result;
        unsigned int code;
        std::string text;
    };
    const std::vector<Row> rows = {
        {R"([{"status":"ok","name":"vd1","targets":[{"status":"error","name":"sp1",
             "message":" is already associated with the host sp1"}]}])",
         0, ""},
        {R"([{"status":"ok","name":"vd1","targets":[{"status":"error","name":"sp1",
             "message":"vd1 is already associated with the host sp1"}]}])",
         1, "Expose to storage proxy-[sp1] for disk-[vd1] failed. Error-[vd1 is already associated with the host sp1]"},
        {R"([{"status":"ok","name":"vd1","targets":[{"status":"error","name":"sp1",
             "message":" is already associated with the host sp2"}]}])",
         1, "Expose to storage proxy-[sp1] for disk-[vd1] failed. Error-[ is already associated with the host sp2]"},
        {R"([{"status":"ok","name":"vd1"},{"status":"error","name":"vd2","message":"no target"},
             {"status":"error","name":"vd3"}])",
         1, "Failed to expose the disk-[vd2] to one or more targets. Error-[no target]"},
        {R"([{"status":"ok","name":"vd1","targets":"sp1"}])", 0, ""},
    };
    for (const Row& row : rows) {
        ctx().resetError();
        srv.reply(200, okAnswer("AddLun", row.result));
        EXPECT_EQ(row.code, utils().rest_addLUNConnection({"vd1", "vd2"}, {"sp1", "sp2"})) << row.result;
        EXPECT_EQ(row.text, errorText()) << row.result;
    }
    srv.reply(500, "");
    EXPECT_EQ(1u, utils().rest_addLUNConnection({"vd1", "vd2"}, {"sp1", "sp2"}));
    EXPECT_EQ("Failed to expose [vd1,vd2] disks to [sp1,sp2] storage proxies", errorText());
}

TEST_F(RestTest, HostAccessIsGrantedListedAndWithdrawn) {
    srv.reply(200, okAnswer("PersistACLAccess", R"([{"status":"ok","name":"vd1"},{"status":"denied","name":"vd2",
        "message":"acl full"}])"));
    EXPECT_EQ(1u, utils().rest_addHostAccessToDisks({"vd1", "vd2"}, "iqn.h", "sp1"));
    EXPECT_EQ("Mapping disk-[vd2] to host-[iqn.h] via storage proxy-[sp1] failed. Error-[acl full]", errorText());
    srv.replyDrop();
    EXPECT_EQ(1u, utils().rest_addHostAccessToDisks({"vd1", "vd2"}, "iqn.h", "sp1"));
    EXPECT_EQ("Failed to map [vd1,vd2] disks to [iqn.h] host via [sp1] storage proxy", errorText());

    std::vector<KrvnAccessInfo> access;
    srv.reply(200, okAnswer("GetACLInformation", R"([{"host":"sp1","initiator":[{"ip":"10.0.0.9","name":"iqn.a"},
        {"other":1}]},{"host":"sp2"}])"));
    ASSERT_EQ(0u, utils().rest_getAccessForDisk("vd1", access));
    ASSERT_EQ(2u, access.size());
    EXPECT_EQ("sp1", access[0].host);
    ASSERT_EQ(2u, access[0].initiators.size());
    EXPECT_EQ("10.0.0.9", access[0].initiators[0].ip);
    EXPECT_EQ("iqn.a", access[0].initiators[0].name);
    EXPECT_EQ("", access[0].initiators[1].name);
    EXPECT_TRUE(access[1].initiators.empty());

    srv.reply(200, errorAnswer("GetACLInformation", "Error: Vdisk vd1 couldn't be found."));
    EXPECT_EQ(27u, utils().rest_getAccessForDisk("vd1", access));
    EXPECT_EQ(27, ctx().errorCode);
    srv.reply(200, errorAnswer("GetACLInformation", "Vdisk vd9 couldn't be found"));
    EXPECT_EQ(19u, utils().rest_getAccessForDisk("vd1", access));

    srv.reply(200, okAnswer("RemoveACLAccess", "\"done\""));
    EXPECT_EQ(0u, utils().rest_removeAccess("vd1", "sp1", "iqn.h"));
    srv.reply(200, errorAnswer("RemoveACLAccess", "nope"));
    EXPECT_EQ(19u, utils().rest_removeAccess("vd1", "sp1", "iqn.h"));
    srv.reply(500, "");
    EXPECT_EQ(1u, utils().rest_removeAccess("vd1", "sp1", "iqn.h"));
    EXPECT_EQ("Failed to unmap the disk-[vd1] from host-[iqn.h]", errorText());
}

TEST_F(RestTest, UnmapLunTreatsAnAlreadyUnmappedDiskAsDone) {
    srv.reply(200, okAnswer("UnmapLun", "{}"));
    EXPECT_EQ(0u, utils().rest_removeLUN("vd1", "tg1"));
    EXPECT_EQ(-1, ctx().errorCode);

    srv.reply(200, errorAnswer("UnmapLun", "vDisk:vd1 is currently not mapped to any controllers(s)"));
    EXPECT_EQ(0u, utils().rest_removeLUN("vd1", "tg1"));
    EXPECT_EQ(19, ctx().errorCode);   // the envelope's verdict stays for the record

    for (const std::string message : {"vDisk:vd2 is currently not mapped to any controllers(s)",
                                      "vDisk:vd1 is currently not mapped to any controllers(s).", ""}) {
        ctx().resetError();
        srv.reply(200, errorAnswer("UnmapLun", message));
        EXPECT_EQ(19u, utils().rest_removeLUN("vd1", "tg1")) << message;
    }
    srv.reply(500, "");
    EXPECT_EQ(1u, utils().rest_removeLUN("vd1", "tg1"));
    EXPECT_EQ("Failed to hide the disk-[vd1] from target-[tg1]", errorText());
}

}  // namespace
