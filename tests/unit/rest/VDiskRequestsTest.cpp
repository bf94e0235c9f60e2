// vDisk queries: the list, one disk by name or serial, the field conversions.
#include "RestFixture.h"

namespace {

using namespace krvntest;
using namespace ZYKorvanCommon;

TEST_F(RestTest, DiskListMustHoldAtLeastOneDiskAndEachRecordStartsFromTheDefaults) {
    for (const std::string result : {R"({"disks":[]})", R"({"disks":{"name":"vd1"}})", R"({"vdisks":[{}]})"}) {
        ctx().resetError();
        srv.reply(200, okAnswer("ListVirtualDisks", result));
        std::vector<KrvnDisk> disks;
        EXPECT_EQ(19u, utils().rest_getAllVDiskDetails(disks)) << result;
        EXPECT_EQ("Invalid REST response. The field-[disks] is either not present or empty.", errorText());
        EXPECT_TRUE(disks.empty());
    }
    // A serial beyond a double's precision must survive the reading.
    srv.reply(200, okAnswer("ListVirtualDisks", R"({"disks":[{"vDiskName":"vd1","scsiSerialNumber":9007199254740993},)"
                                                R"({"vDiskName":"vd2"}]})"));
    std::vector<KrvnDisk> disks(1);
    ASSERT_EQ(0u, utils().rest_getAllVDiskDetails(disks));
    ASSERT_EQ(3u, disks.size());
    EXPECT_EQ("vd1", disks[1].vDiskName);
    EXPECT_EQ(9007199254740993, disks[1].scsiSerialNumber);
    EXPECT_EQ("vd2", disks[2].vDiskName);
    EXPECT_EQ(0, disks[2].scsiSerialNumber);
}

TEST_F(RestTest, DiskFieldsAreTakenOnlyWhenPresentWithTheirTypeAndInRange) {
    JsonDocument doc;
    ASSERT_TRUE(doc.parseObject(R"({"isClone":true,"frozen":"yes","compressed":1,"encryption":true,
        "blockSize":4096.9,"replicationFactor":70000,"scsiSerialNumber":"77",
        "vDiskName":"vd1","diskType":5,"status":"Online","freezeReason":"clone",
        "targetLocations":["10.0.0.1:3260","sp2",7,"sp3:"]})"));
    KrvnDisk disk;
    disk.replicationFactor = 2;
    disk.scsiSerialNumber = 5;
    disk.diskType = "BLOCK";
    disk.frozen = true;
    disk.targetLocations = {"kept"};
    utils().parseDiskFields(doc.root(), disk);
    EXPECT_TRUE(disk.isClone && disk.encryption);
    EXPECT_TRUE(disk.frozen && !disk.compressed);  // neither a string nor a number is a boolean
    EXPECT_EQ(4096, disk.blockSize);               // truncated toward zero
    EXPECT_EQ(2, disk.replicationFactor);          // out of 16-bit range: left alone
    EXPECT_EQ(5, disk.scsiSerialNumber);           // a string serial is ignored
    EXPECT_EQ("BLOCK", disk.diskType);
    EXPECT_EQ("vd1|Online|clone", disk.vDiskName + "|" + disk.status + "|" + disk.freezeReason);
    EXPECT_EQ((std::vector<std::string>{"kept", "10.0.0.1", "sp2", "sp3"}), disk.targetLocations);

    JsonDocument extremes;
    ASSERT_TRUE(
        extremes.parseObject(R"({"scsiSerialNumber":-9223372036854775807,"blockSize":-3.7,"replicationFactor":-2})"));
    utils().parseDiskFields(extremes.root(), disk);
    EXPECT_EQ(-9223372036854775807LL, disk.scsiSerialNumber);
    EXPECT_EQ(-3, disk.blockSize);
    EXPECT_EQ(-2, disk.replicationFactor);
}

TEST_F(RestTest, SingleDiskQueriesClassifyTheClustersNotFoundAndDeletingSentences) {
    // {by serial, cluster's message, code}
    const std::vector<std::tuple<bool, std::string, unsigned int>> rows = {
        {false, "Vdisk vd1 couldn't be found", 21},
        {false, "VDisk is marked for delete :vd1", 20},
        {false, "Error: Vdisk vd1 couldn't be found.", 21},  // searched for, not matched whole
        {false, "Vdisk vd10 couldn't be found", 19},
        {false, "Unable to find virtual disk with scsi sn: 42", 19},
        {true, "Unable to find virtual disk with scsi sn: 42", 21},
        {true, "Vdisk vd1 couldn't be found", 19},
    };
    for (const auto& [bySerial, message, code] : rows) {
        ctx().resetError();
        KrvnDisk disk;
        disk.vDiskName = "vd1";
        disk.scsiSerialNumber = 42;
        srv.reply(200, errorAnswer(bySerial ? "GetVirtualDiskByScsiSn" : "VirtualDiskDetails", message));
        EXPECT_EQ(code, bySerial ? utils().rest_getVDiskDetailsBySSN(disk) : utils().rest_getVDiskDetails(disk))
            << message;
        EXPECT_EQ(static_cast<int>(code), ctx().errorCode) << message;
    }
}

}  // namespace
