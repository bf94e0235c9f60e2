// Disk administration requests.
#include "RestFixture.h"

namespace {

using namespace krvntest;
using namespace ZYKorvanCommon;

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
    EXPECT_EQ(
        "Disk-[b] deletion failed. Error-[busy]Disk-[c] deletion failed. Error-[Vdisk a couldn't be found]"
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

TEST_F(RestTest, CreateAndResizeTolerateOnlyTheirExactSentences) {
    KrvnDisk disk;
    disk.vDiskName = "vd1";
    auto create = [&] { return utils().rest_createDisk(disk); };
    auto resize = [&] { return utils().rest_resizeDisk(disk); };
    auto refusal = [](const std::string& type, const std::string& message) {
        return okAnswer(type, R"([{"status":"error","name":"vd1","message":")" + message + "\"}]");
    };
    const std::string exists = "vd1 vDisk has already been created";
    const std::string createFailed = "Disk-[vd1] creation failed. Error-[";
    LogCapture log;
    expectAnswers({
        {create, okAnswer("AddVirtualDisk", R"([{"status":"ok","name":"vd1"}])"), 0, ""},
        {create, refusal("AddVirtualDisk", exists), 0, ""},
        {create, refusal("AddVirtualDisk", "Error: " + exists), 19, createFailed + "Error: " + exists + "]"},
        {create, refusal("AddVirtualDisk", "vd2 vDisk has already been created"), 19,
         createFailed + "vd2 vDisk has already been created]"},
        {resize, refusal("ResizeDisks", "Error: Shrinking of virtual disk is not supported."), 0, ""},
        {resize, refusal("ResizeDisks", "no capacity"), 19, "Resize for disk-[vd1] failed. Error-[no capacity]"},
    });
    EXPECT_TRUE(log.containsAt(-1, "KRVN  The requested size is lesser than current size for disk-[vd1].."));
    EXPECT_EQ("PUT", srv.requests()[0].method);
}

}  // namespace
