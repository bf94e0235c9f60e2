// Disk administration requests.
#include "RestFixture.h"

namespace {

using namespace krvntest;
using namespace ZYKorvanCommon;

TEST_F(RestTest, CreatingADiskThatAlreadyExistsCountsAsCreated) {
    KrvnDisk disk;
    disk.vDiskName = "vd1";
    const std::string exists = "vd1 vDisk has already been created";
    // {cluster's message ("" for success), code}
    const std::vector<std::pair<std::string, int>> rows = {
        {"", 0}, {exists, 0}, {"Error: " + exists, 19}, {"vd2 vDisk has already been created", 19}};
    for (const auto& [message, code] : rows) {
        ctx().resetError();
        srv.reply(200, okAnswer("AddVirtualDisk", message.empty() ? R"([{"status":"ok","name":"vd1"}])"
                                                  : R"([{"status":"error","name":"vd1","message":")" + message + "\"}]"));
        EXPECT_EQ(code, utils().rest_createDisk(disk)) << message;
        EXPECT_EQ(code ? "Disk-[vd1] creation failed. Error-[" + message + "]" : "", errorText());
        EXPECT_EQ("PUT", srv.lastRequest().method);
    }
}

TEST_F(RestTest, DeletingDisksMarksEveryDiskTheClusterNoLongerHas) {
    std::map<std::string, bool> two = {{"a", false}, {"b", false}};
    srv.reply(200, okAnswer("DeleteVDisk", R"([{"status":"ok","name":"a"},
        {"status":"error","name":"b","message":"Error: Vdisk b couldn't be found."}])"));
    EXPECT_EQ(0, utils().rest_deleteDisk(two));
    EXPECT_EQ((std::map<std::string, bool>{{"a", true}, {"b", true}}), two);

    std::map<std::string, bool> three = {{"a", false}, {"b", false}, {"c", false}};
    srv.reply(200, okAnswer("DeleteVDisk", R"([{"status":"error","name":"b","message":"busy"},
        {"status":"ok","name":"a"},{"status":"error","name":"c","message":"Vdisk a couldn't be found"}])"));
    EXPECT_EQ(19, utils().rest_deleteDisk(three));
    EXPECT_EQ((std::map<std::string, bool>{{"a", true}, {"b", false}, {"c", false}}), three);
    EXPECT_EQ("Disk-[b] deletion failed. Error-[busy]Disk-[c] deletion failed. Error-[Vdisk a couldn't be found]"
              "Deletion for disks-[b,c] failed.",
              errorText());

    // The whole request refused because one of its disks is missing: the caller deletes one by one.
    std::map<std::string, bool> refused = {{"x", false}, {"y", false}};
    srv.reply(200, errorAnswer("DeleteVDisk", "Vdisk y couldn't be found"));
    EXPECT_EQ(27, utils().rest_deleteDisk(refused));
    EXPECT_FALSE(refused["y"]);
    srv.reply(200, errorAnswer("DeleteVDisk", "Vdisk z couldn't be found"));
    EXPECT_EQ(19, utils().rest_deleteDisk(refused));
}

TEST_F(RestTest, ResizeToleratesOnlyTheShrinkRefusal) {
    LogCapture log;
    KrvnDisk disk;
    disk.vDiskName = "vd1";
    srv.reply(200, okAnswer("ResizeDisks", R"([{"status":"error","name":"vd1",
        "message":"Error: Shrinking of virtual disk is not supported."}])"));
    EXPECT_EQ(0, utils().rest_resizeDisk(disk));
    EXPECT_TRUE(log.containsAt(-1, "KRVN  The requested size is lesser than current size for disk-[vd1].."));
    srv.reply(200, okAnswer("ResizeDisks", R"([{"status":"error","name":"vd1","message":"no capacity"}])"));
    EXPECT_EQ(19, utils().rest_resizeDisk(disk));
    EXPECT_EQ("Resize for disk-[vd1] failed. Error-[no capacity]", errorText());
}

TEST_F(RestTest, ClusterHashIsNormalisedToTheHostsForm) {
    // {hash the cluster sends ("" member missing or not text), what the host is given (code 19 when empty)}
    const std::vector<std::pair<std::string, std::string>> rows = {
        {R"("000abc")", "BC"}, {R"("000")", "00"}, {R"("0x1a2b")", "1A2B"}, {R"("x")", ""},
        {R"("0")", ""},        {R"("ab")", "B"},   {R"("")", "-"},          {"12", "-"},
    };
    for (const auto& [hash, expected] : rows) {
        ctx().resetError();
        ctx().arrayDetails.clusterUniqueId = "previous";
        srv.reply(200, okAnswer("GetClusterSettingInfo", R"({"clusterNameHash":)" + hash + "}"));
        if (expected == "-") {
            EXPECT_EQ(19, utils().rest_getClusterSettingInfo()) << hash;
            EXPECT_EQ("Failed to get the cluster name hash from the REST response", errorText());
            continue;
        }
        EXPECT_EQ(0, utils().rest_getClusterSettingInfo()) << hash;
        EXPECT_EQ(expected, ctx().arrayDetails.clusterUniqueId) << hash;
    }
}

}  // namespace
