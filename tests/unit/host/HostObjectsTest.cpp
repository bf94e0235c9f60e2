// The host objects' side of the contract: buffer-size answers, the array entry behind each
// item, and the state the plug-in's calls leave.
#include <gtest/gtest.h>

#include "HostObjects.h"
#include "HostTexts.h"
#include "ScopedSettings.h"
#include "TempDir.h"
#include "ZYPassword.h"

using namespace KrvnHost;
using krvntest::TempDir;

namespace {

const std::string kKey(32, 'k');

// A host with two Korvan arrays and one of another vendor, passwords stored under kKey.
struct HostFixture {
    TempDir dir;
    krvntest::ScopedSettings settings;
    HostState state;
    LinuxHostSystem system{dir.path()};
    HostOSUtil util{state, system, 41};
    JobLog log{state, 41};

    HostFixture() {
        state.snaps.reserve(16);  // the host objects keep references into it
        dir.write("secret.key", kKey);
        settings.set("Platform", "keyFile", dir.file("secret.key"));
        addArray(1, "alpha", kKorvanVendor, "pass,wo}rd\\x");
        addArray(2, "other", "Someone Else", "p");
        addArray(3, "beta", kKorvanVendor, "b");
    }
    void addArray(int number, const std::string& name, const std::string& vendor, const std::string& clear) {
        state.arrays.push_back({number, name, vendor, "ctl-" + name, "admin", "", "", {}, {}});
        EXPECT_TRUE(ZYPassword::encryptWithKey(clear, kKey, &state.arrays.back().storedPassword));
    }
    SnapItem& addSnap(long long id) {
        state.snaps.push_back(SnapItem{});
        state.snaps.back().id = id;
        return state.snaps.back();
    }
};

}  // namespace

TEST(HostOSUtil, ArrayListByVendorAnswersTheSizeNeededUntilTheNamesAndTheirNulFit) {
    HostFixture h;
    std::vector<char> buffer(64, 'x');
    // Exactly the names without room for the NUL does not fit, and nothing is written.
    int answer = h.util.getArrayListByVendor(kKorvanVendor, '|', 10, buffer.data());
    EXPECT_EQ(answer, 11);
    EXPECT_EQ(buffer[0], 'x');
    ASSERT_EQ(h.util.getArrayListByVendor(kKorvanVendor, '|', answer, buffer.data()), 0);
    EXPECT_STREQ(buffer.data(), "alpha|beta");
    ASSERT_EQ(h.util.getArrayListByVendor(kKorvanVendor, ';', 64, buffer.data()), 0);
    EXPECT_STREQ(buffer.data(), "alpha;beta");
    ASSERT_EQ(h.util.getArrayListByVendor("No Such Vendor", '|', 64, buffer.data()), 0);
    EXPECT_STREQ(buffer.data(), "");
    EXPECT_LE(h.util.getArrayListByVendor(nullptr, '|', 64, buffer.data()), 0) << "must not invite a retry";
}

TEST(HostOSUtil, ArrayDetailsRaiseTheSizeWhenTooSmallAndEscapeTheValues) {
    HostFixture h;
    const std::string expected =
        "{arrayName:alpha,arrayNumber:1,vendor:Pellart Distributed Storage,"
        "hostName:ctl-alpha,hostUserName:admin,hostPassword:pass\\,wo\\}rd\\\\x,serial:}";
    std::vector<char> buffer(4096, 'x');
    unsigned short size = 16;
    EXPECT_GT(h.util.getArrayDetailsByName("alpha", buffer.data(), &size), 0);
    EXPECT_EQ(size, expected.size() + 1);
    ASSERT_EQ(h.util.getArrayDetailsByName("alpha", buffer.data(), &size), 0);
    EXPECT_EQ(std::string(buffer.data()), expected);
    size = 4096;
    EXPECT_LT(h.util.getArrayDetailsByName("nobody", buffer.data(), &size), 0) << "an unknown array is no retry";
    EXPECT_EQ(size, 4096);
}

TEST(LunInfo, ClusterDetailsConfigurationAndMapInformationFollowTheContract) {
    HostFixture h;
    h.state.arrays[0].configLists[kCfgStorageProxyList] = {"p1", "p2"};
    h.state.settings["nZYKorvanReplicationFactor"] = "2";
    h.state.settings["bZYKorvanCreateDiskEncryptDisable"] = "true";
    LunItem item;
    item.arrayName = "alpha";
    HostLunInfo lun(h.state, item);
    char buffer[512];
    unsigned short length = sizeof buffer;
    ASSERT_EQ(lun.getClusterControlHost(buffer, &length), 0);
    EXPECT_STREQ(buffer, "ctl-alpha");
    ASSERT_EQ(lun.getClusterPassword(buffer, &length), 0);
    EXPECT_EQ(std::string(buffer).rfind("ZYP1:", 0), 0u) << "the stored form, the plug-in decrypts it";
    std::string value;
    ASSERT_EQ(lun.getConfigValue(kCfgStorageProxyList, &value), 0);
    EXPECT_EQ(value, "p1|:|p2");
    EXPECT_NE(lun.getConfigValue(kCfgServerPort, &value), 0);
    int number = 0;
    bool flag = false;
    ASSERT_EQ(lun.getSettingInt("nZYKorvanReplicationFactor", &number), 0);
    ASSERT_EQ(lun.getSettingBool("bZYKorvanCreateDiskEncryptDisable", &flag), 0);
    EXPECT_TRUE(number == 2 && flag);
    EXPECT_NE(lun.getSettingInt("nZYKorvanMissing", &number), 0);
    item.arrayName = "gone";
    EXPECT_NE(lun.getClusterName(buffer, &length), 0);

    // The map information answers 2 with the length it needs, then the text.
    item.initiatorInfo = R"({"hosts":[{"hostname":"h1","protocol":"3","endpoints":[{"endpoint":"iqn.x:h1"}]}]})";
    length = 10;
    EXPECT_EQ(lun.getInitiatorInfo(buffer, &length), 2);
    EXPECT_EQ(length, item.initiatorInfo.size() + 1);
    ASSERT_EQ(lun.getInitiatorInfo(buffer, &length), 0);
    EXPECT_EQ(std::string(buffer), item.initiatorInfo);
    item.initiatorInfo.clear();
    EXPECT_NE(lun.getInitiatorInfo(buffer, &length), 0) << "no map information is no success";
}

TEST(SnapInfo, SetArrayInfoTakesNameAndSerialOnceThenTheSerialAlone) {
    HostFixture h;
    HostSnapInfo a(h.state, h.addSnap(1), h.log);
    HostSnapInfo b(h.state, h.addSnap(2), h.log);
    // A serial no entry has yet, an unknown name, no serial, nothing at all.
    for (const char* refused :
         {"1A2B3C4D5E6F70", "nosuch|1A2B3C4D5E6F70", "beta|", "", static_cast<const char*>(nullptr)})
        EXPECT_NE(a.setArrayInfo(refused), 0) << (refused ? refused : "null");
    EXPECT_EQ(a.getArrayNumber(), 0);
    ASSERT_EQ(a.setArrayInfo("beta|1A2B3C4D5E6F70"), 0);
    EXPECT_EQ(a.getArrayNumber(), 3);
    EXPECT_EQ(h.state.findArray("beta")->serial, "1A2B3C4D5E6F70");
    ASSERT_EQ(b.setArrayInfo("1A2B3C4D5E6F70"), 0);
    EXPECT_EQ(b.getArrayNumber(), 3);
}

TEST(SnapInfo, ArrayRecordConfigurationAndPasswordFollowTheItemsArray) {
    HostFixture h;
    h.state.arrays[0].configInts[kCfgServerPort] = 9090;
    h.state.arrays[0].configLists[kCfgStorageProxyList] = {"proxy-one", ""};
    SnapItem& item = h.addSnap(1);
    HostSnapInfo snap(h.state, item, h.log);
    ZYSO::ArrayInfo* info = nullptr;
    int value = 0;
    EXPECT_TRUE(snap.getArrayInfo(&info)) << "true is failure while the item has no array";
    EXPECT_NE(snap.getConfigInt(kCfgServerPort, &value), 0);

    item.arrayNumber = 1;
    ASSERT_FALSE(snap.getArrayInfo(&info));
    std::string stored, clear;
    EXPECT_EQ(info->getEncryptedPassword(&stored), 0);
    snap.decryptPassword(stored, &clear);
    EXPECT_EQ(clear, "pass,wo}rd\\x");
    snap.releaseArrayInfo(&info);
    EXPECT_EQ(info, nullptr);
    snap.decryptPassword("not stored form", &clear);
    EXPECT_EQ(clear, "");

    ASSERT_EQ(snap.getConfigInt(kCfgServerPort, &value), 0);
    EXPECT_EQ(value, 9090);
    EXPECT_NE(snap.getConfigInt(kCfgRetryCount, &value), 0);
    ASSERT_EQ(snap.getConfigListSize(kCfgStorageProxyList, &value), 0);
    EXPECT_EQ(value, 2);
    // A null buffer asks for the length with its NUL; a shorter buffer is refused.
    int length = 0;
    ASSERT_EQ(snap.getConfigListItem(kCfgStorageProxyList, 0, nullptr, &length), 0);
    EXPECT_EQ(length, 10);
    std::vector<char> buffer(static_cast<size_t>(length));
    int shortLength = length - 1;
    EXPECT_EQ(snap.getConfigListItem(kCfgStorageProxyList, 0, buffer.data(), &shortLength), 1);
    ASSERT_EQ(snap.getConfigListItem(kCfgStorageProxyList, 0, buffer.data(), &length), 0);
    EXPECT_STREQ(buffer.data(), "proxy-one");
    ASSERT_EQ(snap.getConfigListItem(kCfgStorageProxyList, 1, nullptr, &length), 0);
    EXPECT_EQ(length, 1);
    EXPECT_EQ(snap.getConfigListItem(kCfgStorageProxyList, 2, nullptr, &length), 1);
}

TEST(SnapInfo, JobLogFlagsAndSnapshotIdsAreWhatThePluginExpects) {
    HostFixture h;
    SnapItem& item = h.addSnap(9);
    item.flags = kFlagTestClone;
    item.mappedDevice = "/dev/sdq";
    HostSnapInfo snap(h.state, item, h.log);
    snap.setMappedDevice(nullptr);
    EXPECT_EQ(item.mappedDevice, "");
    std::string value;
    EXPECT_FALSE(snap.getMetadata(kMetaClone, &value));
    EXPECT_TRUE(snap.isFlagSet(0x8000));
    EXPECT_FALSE(snap.isFlagSet(0x0001));
    snap.log(1, "KRVN  ", "Going to create [%d] snapshots..", 3);
    ASSERT_EQ(h.state.log.size(), 1u);
    EXPECT_EQ(h.state.log[0].text, "KRVN  Going to create [3] snapshots..");
    EXPECT_EQ(h.state.log[0].jobId, 41);

    std::string u1, u2;
    snap.generateSnapUUID("-", nullptr, &u1);
    snap.generateSnapUUID("-", nullptr, &u2);
    EXPECT_EQ(u1.size(), 36u);
    EXPECT_EQ(u1[8], '-');
    EXPECT_EQ(u1[14], '4') << "a version 4 UUID";
    EXPECT_NE(u1, u2);
}

TEST(LinuxHostSystem, ReadsInitiatorsAndDevicesAndRescansEveryScsiHost) {
    TempDir root;
    root.write("etc/iscsi/initiatorname.iscsi", "## comment\nInitiatorName=iqn.1993-08.org.debian:01:abc\n");
    root.write("sys/class/fc_host/host3/port_name", "0x21000024ff3dd0a1\n");
    for (const char* block : {"sdb", "sda", "loop0", "nvme0n1"})
        root.write(std::string("sys/block/") + block + "/size", "1");
    for (const char* host : {"host0", "host1"}) root.write(std::string("sys/class/scsi_host/") + host + "/scan", "");
    LinuxHostSystem system(root.path());
    std::vector<std::string> wwpns, iqns, devices;
    std::string error;
    ASSERT_TRUE(system.interfaces("ignored", &wwpns, &iqns, &error)) << error;
    EXPECT_EQ(iqns, std::vector<std::string>{"iqn.1993-08.org.debian:01:abc"});
    EXPECT_EQ(wwpns, std::vector<std::string>{"0x21000024ff3dd0a1"});
    ASSERT_TRUE(system.devices("ignored", &devices, &error)) << error;
    EXPECT_EQ(devices, (std::vector<std::string>{"/dev/sda", "/dev/sdb"}));
    ASSERT_TRUE(system.rescan("ignored", &error)) << error;
    EXPECT_EQ(root.read("sys/class/scsi_host/host0/scan") + root.read("sys/class/scsi_host/host1/scan"), "- - -- - -");

    TempDir empty;
    LinuxHostSystem bare(empty.path());
    EXPECT_FALSE(bare.rescan("ignored", &error));
    EXPECT_FALSE(bare.devices("ignored", &devices, &error));
}
