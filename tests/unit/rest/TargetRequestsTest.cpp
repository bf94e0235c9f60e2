// Target, LUN and access requests.
#include "RestFixture.h"

namespace {

using namespace krvntest;
using namespace ZYKorvanCommon;

TEST_F(RestTest, TargetRowsReplaceTheLastReadWithStrictSerialAndOnlineRules) {
    std::map<std::string, std::vector<KrvnSCSITarget>> targets;
    // A table read before, with more rows than the next answer and every field set: none of it
    // may survive into the rows read over it.
    targets["sp1"].assign(6, KrvnSCSITarget{"lun-old", "iqn.t:old", 7, true});
    srv.reply(200, okAnswer("ShowTarget", R"({"Lun Information":[
        {"Lun Id":"lun-vd1","Target":"iqn.t:sp1.vd1","SCSI SN":"-123","Online":"Yes"},
        {"Lun Id":"lun-vd2","Online":"yes"}, {"SCSI SN":"12x","Online":"Yes "}, {"SCSI SN":"99999999999999999999"}]})"));
    ASSERT_EQ(0u, utils().rest_getSCSITargetIQNs("sp1", targets));
    const auto& rows = targets["sp1"];
    ASSERT_EQ(4u, rows.size());
    EXPECT_EQ("lun-vd1", rows[0].lunId);
    EXPECT_EQ("iqn.t:sp1.vd1", rows[0].targetIqn);
    EXPECT_EQ(-123, rows[0].scsiSerialNumber);
    EXPECT_EQ((std::vector<std::string>{"lun-vd2", "", ""}),
              (std::vector<std::string>{rows[1].lunId, rows[2].lunId, rows[3].targetIqn}));
    // Only an exact "Yes" is online; a serial that is not a whole 64-bit number is none.
    EXPECT_EQ((std::vector<bool>{true, false, false, false}),
              (std::vector<bool>{rows[0].online, rows[1].online, rows[2].online, rows[3].online}));
    EXPECT_EQ((std::vector<int64_t>{0, 0, 0}),
              (std::vector<int64_t>{rows[1].scsiSerialNumber, rows[2].scsiSerialNumber, rows[3].scsiSerialNumber}));

    // A table without rows empties the proxy's; another proxy's table stays as read.
    srv.reply(200, okAnswer("ShowTarget", R"({"Other":[]})"));
    ASSERT_EQ(0u, utils().rest_getSCSITargetIQNs("sp2", targets));
    EXPECT_TRUE(targets.count("sp2") && targets["sp2"].empty());
    EXPECT_EQ(4u, targets["sp1"].size());
    srv.reply(200, okAnswer("ShowTarget", R"({"Other":[]})"));
    ASSERT_EQ(0u, utils().rest_getSCSITargetIQNs("sp1", targets));
    EXPECT_TRUE(targets["sp1"].empty());
}

// Unmap's look-up reads the same table for one LUN: the first row of that LUN whose target
// names the proxy, whatever rows come after it; every row is counted for the log line.
TEST_F(RestTest, OneLunsTargetIsTheFirstRowOfThatLunOnTheProxy) {
    const std::string table = okAnswer("ShowTarget", R"({"Lun Information":[
        {"Lun Id":"c1","Target":"iqn.t:sp2.c1"}, {"Lun Id":"c1x","Target":"iqn.t:sp1.c1x"}, {"Target":"iqn.t:sp1"},
        {"Lun Id":"c1","Target":"iqn.t:sp1.c1"}, {"Lun Id":"c1","Target":"iqn.t:sp1.later"}, {"Lun Id":"c2"}]})");
    const std::pair<std::string, std::string> cases[] = {{"c1", "iqn.t:sp1.c1"}, {"c9", ""}, {"c2", ""}};
    for (const auto& [lun, expected] : cases) {
        std::string target = "stale";
        srv.reply(200, table);
        ASSERT_EQ(0u, utils().rest_findSCSITargetOfLun("sp1", lun, target));
        EXPECT_EQ(expected, target) << lun;
    }
    ctx().restResponse = table;
    std::string target;
    size_t rows = 0;
    ASSERT_EQ(0, utils().processFindSCSITargetOfLun("sp1", "c1", target, rows));
    EXPECT_EQ(6u, rows);
    ctx().restResponse = okAnswer("ShowTarget", R"({"Other":[]})");
    ASSERT_EQ(0, utils().processFindSCSITargetOfLun("sp1", "c1", target, rows));
    EXPECT_EQ("", target);
    EXPECT_EQ(0u, rows);
}

TEST_F(RestTest, ExposingMappingAndUnmappingTolerateOnlyTheExactSentences) {
    const std::string exposed = R"([{"status":"ok","name":"vd1","targets":[{"status":"error","name":"sp1","message":")";
    const std::string exposeFailed = "Expose to storage proxy-[sp1] for disk-[vd1] failed. Error-[";
    const std::string notMapped = "vDisk:vd1 is currently not mapped to any controllers(s)";
    const std::string unmapFailed = "The UnmapLun request has failed. REST Error-[";
    auto addLun = [&] { return utils().rest_addLUNConnection({"vd1", "vd2"}, {"sp1", "sp2"}); };
    auto getAccess = [&] {
        std::vector<KrvnAccessInfo> a;
        return utils().rest_getAccessForDisk("vd1", a);
    };
    auto removeAccess = [&] { return utils().rest_removeAccess("vd1", "sp1", "iqn.h"); };
    auto removeLun = [&] { return utils().rest_removeLUN("vd1", "tg1"); };
    expectAnswers({
        {addLun, okAnswer("AddLun", exposed + R"( is already associated with the host sp1"}]}])"), 0, ""},
        {addLun, okAnswer("AddLun", exposed + R"(vd1 is already associated with the host sp1"}]}])"), 1,
         exposeFailed + "vd1 is already associated with the host sp1]"},
        {addLun, okAnswer("AddLun", exposed + R"( is already associated with the host sp2"}]}])"), 1,
         exposeFailed + " is already associated with the host sp2]"},
        {addLun, okAnswer("AddLun", R"([{"status":"ok","name":"vd1"},{"status":"error","name":"vd2",
            "message":"no target"},{"status":"error","name":"vd3"}])"),
         1, "Failed to expose the disk-[vd2] to one or more targets. Error-[no target]"},
        {addLun, okAnswer("AddLun", R"([{"status":"ok","name":"vd1","targets":"sp1"}])"), 0, ""},
        {[&] {
             return utils().rest_addHostAccessToDisks({"vd1", "vd2"}, "iqn.h", "sp1");
         },
         okAnswer("PersistACLAccess", R"([{"status":"ok","name":"vd1"},{"status":"denied","name":"vd2",
            "message":"acl full"}])"),
         1, "Mapping disk-[vd2] to host-[iqn.h] via storage proxy-[sp1] failed. Error-[acl full]"},
        {getAccess, errorAnswer("GetACLInformation", "Error: Vdisk vd1 couldn't be found."), 27,
         "The GetACLInformation request has failed. REST Error-[Error: Vdisk vd1 couldn't be found. ]"},
        {getAccess, errorAnswer("GetACLInformation", "Vdisk vd9 couldn't be found"), 19,
         "The GetACLInformation request has failed. REST Error-[Vdisk vd9 couldn't be found ]"},
        {removeAccess, okAnswer("RemoveACLAccess", "\"done\""), 0, ""},
        {removeAccess, errorAnswer("RemoveACLAccess", "nope"), 19,
         "The RemoveACLAccess request has failed. REST Error-[nope ]"},
        {removeLun, okAnswer("UnmapLun", "{}"), 0, ""},
        {removeLun, errorAnswer("UnmapLun", "vDisk:vd2 is currently not mapped to any controllers(s)"), 19,
         unmapFailed + "vDisk:vd2 is currently not mapped to any controllers(s) ]"},
        {removeLun, errorAnswer("UnmapLun", notMapped + "."), 19, unmapFailed + notMapped + ". ]"},
        {removeLun, errorAnswer("UnmapLun", ""), 19, unmapFailed + " ]"},
    });
    // An already unmapped disk counts as done; the envelope's verdict stays for the record.
    srv.reply(200, errorAnswer("UnmapLun", notMapped));
    EXPECT_EQ(0, removeLun());
    EXPECT_EQ(19, ctx().errorCode);
}

TEST_F(RestTest, AccessListReadsEveryHostAndItsInitiators) {
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
}

}  // namespace
