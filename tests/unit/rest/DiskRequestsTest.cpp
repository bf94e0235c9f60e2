// Disk administration requests.
#include "RestFixture.h"

namespace {

using namespace krvntest;
using namespace ZYKorvanCommon;

TEST_F(RestTest, CreatingADiskThatAlreadyExistsCountsAsCreated) {
    KrvnDisk disk;
    disk.vDiskName = "vd1";
    disk.sizeUnit = "GB";
    disk.size = 1;
    srv.reply(200, okAnswer("AddVirtualDisk", R"([{"status":"ok","name":"vd1"}])"));
    EXPECT_EQ(0, utils().rest_createDisk(disk));
    EXPECT_EQ("PUT", srv.lastRequest().method);

    srv.reply(200, okAnswer("AddVirtualDisk", R"([{"status":"error","name":"vd1",
        "message":"vd1 vDisk has already been created"}])"));
    EXPECT_EQ(0, utils().rest_createDisk(disk));
    EXPECT_EQ(-1, ctx().errorCode);
    EXPECT_EQ("", errorText());

    for (const std::string message : {"Error: vd1 vDisk has already been created", "vd2 vDisk has already been created"}) {
        ctx().resetError();
        srv.reply(200, okAnswer("AddVirtualDisk", R"([{"status":"error","name":"vd1","message":")" + message + R"("}])"));
        EXPECT_EQ(19, utils().rest_createDisk(disk)) << message;
        EXPECT_EQ("Disk-[vd1] creation failed. Error-[" + message + "]", errorText());
    }
    srv.reply(500, "");
    EXPECT_EQ(1, utils().rest_createDisk(disk));
    EXPECT_EQ("Failed to create disk-[vd1] on the cluster-[clusterA]", errorText());
}

TEST_F(RestTest, DeletingDisksMarksEveryDiskTheClusterNoLongerHas) {
    std::map<std::string, bool> two = {{"a", false}, {"b", false}};
    srv.reply(200, okAnswer("DeleteVDisk", R"([{"status":"ok","name":"a"},
        {"status":"error","name":"b","message":"Error: Vdisk b couldn't be found."}])"));
    EXPECT_EQ(0, utils().rest_deleteDisk(two));
    EXPECT_TRUE(two["a"]);
    EXPECT_TRUE(two["b"]);

    std::map<std::string, bool> three = {{"a", false}, {"b", false}, {"c", false}};
    srv.reply(200, okAnswer("DeleteVDisk", R"([{"status":"error","name":"b","message":"busy"},
        {"status":"ok","name":"a"},{"status":"error","name":"c","message":"Vdisk a couldn't be found"}])"));
    EXPECT_EQ(19, utils().rest_deleteDisk(three));
    EXPECT_TRUE(three["a"]);
    EXPECT_FALSE(three["b"]);
    EXPECT_FALSE(three["c"]);
    EXPECT_EQ("Disk-[b] deletion failed. Error-[busy]Disk-[c] deletion failed. Error-[Vdisk a couldn't be found]"
              "Deletion for disks-[b,c] failed.",
              errorText());

    // The whole request refused because one disk is missing: the caller deletes one by one.
    std::map<std::string, bool> refused = {{"x", false}, {"y", false}};
    srv.reply(200, errorAnswer("DeleteVDisk", "Vdisk y couldn't be found"));
    EXPECT_EQ(27, utils().rest_deleteDisk(refused));
    EXPECT_FALSE(refused["y"]);
    srv.reply(200, errorAnswer("DeleteVDisk", "Vdisk z couldn't be found"));
    EXPECT_EQ(19, utils().rest_deleteDisk(refused));
    srv.reply(500, "");
    EXPECT_EQ(1, utils().rest_deleteDisk(refused));
    EXPECT_EQ("Failed to delete one or more disks on the cluster-[clusterA]", errorText());
}

TEST_F(RestTest, ResizeToleratesOnlyTheShrinkRefusal) {
    LogCapture log;
    KrvnDisk disk;
    disk.vDiskName = "vd1";
    disk.sizeUnit = "GB";
    disk.size = 5;
    srv.reply(200, okAnswer("ResizeDisks", R"([{"status":"error","name":"vd1",
        "message":"Error: Shrinking of virtual disk is not supported."}])"));
    EXPECT_EQ(0, utils().rest_resizeDisk(disk));
    EXPECT_TRUE(log.containsAt(-1, "KRVN  The requested size is lesser than current size for disk-[vd1].."));
    srv.reply(200, okAnswer("ResizeDisks", R"([{"status":"error","name":"vd1","message":"no capacity"}])"));
    EXPECT_EQ(19, utils().rest_resizeDisk(disk));
    EXPECT_EQ("Resize for disk-[vd1] failed. Error-[no capacity]", errorText());
    srv.reply(500, "");
    EXPECT_EQ(1, utils().rest_resizeDisk(disk));
    EXPECT_EQ("Failed to resize disk-[vd1] on the cluster-[clusterA]", errorText());
}

TEST_F(RestTest, ClusterHashIsNormalisedToTheHostsForm) {
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"000abc", "BC"}, {"000", "00"}, {"0x1a2b", "1A2B"}, {"x", ""}, {"0", ""}, {"ab", "B"},
    };
    for (const auto& [hash, expected] : rows) {
        ctx().arrayDetails.clusterUniqueId = "previous";
        srv.reply(200, okAnswer("GetClusterSettingInfo", R"({"clusterNameHash":")" + hash + R"("})"));
        EXPECT_EQ(0, utils().rest_getClusterSettingInfo()) << hash;
        EXPECT_EQ(expected, ctx().arrayDetails.clusterUniqueId) << hash;
    }
    for (const std::string result : {R"({"clusterNameHash":""})", R"({"clusterNameHash":12})", "{}"}) {
        ctx().resetError();
        srv.reply(200, okAnswer("GetClusterSettingInfo", result));
        EXPECT_EQ(19, utils().rest_getClusterSettingInfo()) << result;
        EXPECT_EQ("Failed to get the cluster name hash from the REST response", errorText());
    }
    srv.reply(500, "");
    EXPECT_EQ(1, utils().rest_getClusterSettingInfo());
    EXPECT_EQ("Failed to get cluster setting info from the cluster-[clusterA]", errorText());
}

}  // namespace
