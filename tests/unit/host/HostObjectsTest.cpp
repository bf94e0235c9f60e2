#include <gtest/gtest.h>

#include <cstring>

#include "HostObjects.h"
#include "HostTestDir.h"
#include "HostTexts.h"
#include "ScopedSettings.h"
#include "ZYPassword.h"

using namespace KrvnHost;
using krvnhosttest::TempDir;

namespace {

const std::string kKey(32, 'k');

// A host with two Korvan arrays and one of another vendor, passwords stored under kKey.
struct HostFixture {
    TempDir dir;
    krvntest::ScopedSettings settings;
    HostState state;
    std::unique_ptr<LinuxHostSystem> system = std::make_unique<LinuxHostSystem>(dir.path());
    JobLog log{state, 41};

    HostFixture() {
        state.snaps.reserve(16);   // the host objects keep references into it
        dir.write("secret.key", kKey);
        settings.set("Platform", "keyFile", dir.file("secret.key"));
        addArray(1, "alpha", kKorvanVendor, "pass,wo}rd\\x");
        addArray(2, "other", "Someone Else", "p");
        addArray(3, "beta", kKorvanVendor, "b");
    }
    void addArray(int number, const std::string& name, const std::string& vendor, const std::string& clear) {
        ArrayEntry a;
        a.number = number;
        a.name = name;
        a.vendor = vendor;
        a.controlHost = "ctl-" + name;
        a.user = "admin";
        EXPECT_TRUE(ZYPassword::encryptWithKey(clear, kKey, &a.storedPassword));
        state.arrays.push_back(a);
    }
    SnapItem& addSnap(long long id) {
        SnapItem s;
        s.id = id;
        s.sourceDevice = "/dev/sd" + std::string(1, static_cast<char>('a' + id));
        state.snaps.push_back(s);
        return state.snaps.back();
    }
};

}  // namespace

TEST(HostOSUtil, ArrayListByVendorAnswersTheSizeNeededUntilTheNamesAndTheirNulFit) {
    HostFixture h;
    HostOSUtil util(h.state, *h.system, 41);
    const std::string expected = "alpha|beta";
    std::vector<char> buffer(64, 'x');

    // Exactly the names without room for the NUL does not fit.
    int answer = util.getArrayListByVendor(kKorvanVendor, '|', static_cast<int>(expected.size()), buffer.data());
    EXPECT_EQ(answer, static_cast<int>(expected.size()) + 1);
    EXPECT_EQ(buffer[0], 'x') << "nothing written when it does not fit";
    EXPECT_GT(util.getArrayListByVendor(kKorvanVendor, '|', 0, buffer.data()), 0);

    ASSERT_EQ(util.getArrayListByVendor(kKorvanVendor, '|', answer, buffer.data()), 0);
    EXPECT_STREQ(buffer.data(), expected.c_str());
    ASSERT_EQ(util.getArrayListByVendor(kKorvanVendor, ';', 64, buffer.data()), 0);
    EXPECT_STREQ(buffer.data(), "alpha;beta");

    ASSERT_EQ(util.getArrayListByVendor("No Such Vendor", '|', 64, buffer.data()), 0);
    EXPECT_STREQ(buffer.data(), "");
    EXPECT_LE(util.getArrayListByVendor(nullptr, '|', 64, buffer.data()), 0) << "must not invite a retry";
}

TEST(HostOSUtil, ArrayDetailsRaiseTheSizeWhenTooSmallAndEscapeTheValues) {
    HostFixture h;
    HostOSUtil util(h.state, *h.system, 41);
    const std::string expected = "{arrayName:alpha,arrayNumber:1,vendor:Pellart Distributed Storage,"
                                 "hostName:ctl-alpha,hostUserName:admin,"
                                 "hostPassword:pass\\,wo\\}rd\\\\x,serial:}";

    std::vector<char> small(16, '\0');
    unsigned short size = static_cast<unsigned short>(small.size());
    EXPECT_GT(util.getArrayDetailsByName("alpha", small.data(), &size), 0);
    EXPECT_EQ(size, expected.size() + 1);

    std::vector<char> fits(size, 'x');
    ASSERT_EQ(util.getArrayDetailsByName("alpha", fits.data(), &size), 0);
    EXPECT_EQ(std::string(fits.data()), expected);

    unsigned short big = 4096;
    std::vector<char> buffer(big, '\0');
    EXPECT_LT(util.getArrayDetailsByName("nobody", buffer.data(), &big), 0) << "an unknown array is no retry";
    EXPECT_EQ(big, 4096);
}

TEST(LunInfo, InitiatorInfoAnswersTwoWithTheLengthNeededThenTheText) {
    HostFixture h;
    LunItem item;
    item.id = 5;
    item.initiatorInfo = std::string(R"({"hosts":[{"hostname":"h1","hostos":"Linux","protocol":"3","endpoints":[)") +
                         R"({"endpoint":"iqn.2001-04.com.example:h1"}]}]})";
    HostLunInfo lun(h.state, item);

    unsigned short length = 10;
    std::vector<char> small(length, '\0');
    EXPECT_EQ(lun.getInitiatorInfo(small.data(), &length), 2);
    EXPECT_EQ(length, item.initiatorInfo.size() + 1);
    std::vector<char> fits(length, 'x');
    ASSERT_EQ(lun.getInitiatorInfo(fits.data(), &length), 0);
    EXPECT_EQ(std::string(fits.data()), item.initiatorInfo);

    item.initiatorInfo.clear();
    EXPECT_NE(lun.getInitiatorInfo(fits.data(), &length), 0) << "no map information is no success";
}

TEST(LunInfo, ClusterDetailsAndConfigurationComeFromTheItemsArrayEntry) {
    HostFixture h;
    h.state.arrays[0].configInts[kCfgRetryCount] = 2;
    h.state.arrays[0].configLists[kCfgStorageProxyList] = {"p1", "p2"};
    h.state.settings["nZYKorvanReplicationFactor"] = "2";
    h.state.settings["bZYKorvanCreateDiskEncryptDisable"] = "true";
    LunItem item;
    item.arrayName = "alpha";
    item.diskName = "d1";
    HostLunInfo lun(h.state, item);

    char buffer[512];
    unsigned short length = sizeof buffer;
    ASSERT_EQ(lun.getClusterControlHost(buffer, &length), 0);
    EXPECT_STREQ(buffer, "ctl-alpha");
    ASSERT_EQ(lun.getClusterPassword(buffer, &length), 0);
    EXPECT_EQ(std::string(buffer).rfind("ZYP1:", 0), 0u) << "the stored form, the plug-in decrypts it";
    std::string value;
    ASSERT_EQ(lun.getConfigValue(kCfgRetryCount, &value), 0);
    EXPECT_EQ(value, "2");
    ASSERT_EQ(lun.getConfigValue(kCfgStorageProxyList, &value), 0);
    EXPECT_EQ(value, "p1|:|p2");
    EXPECT_NE(lun.getConfigValue(kCfgServerPort, &value), 0);
    int number = 0;
    bool flag = false;
    ASSERT_EQ(lun.getSettingInt("nZYKorvanReplicationFactor", &number), 0);
    EXPECT_EQ(number, 2);
    ASSERT_EQ(lun.getSettingBool("bZYKorvanCreateDiskEncryptDisable", &flag), 0);
    EXPECT_TRUE(flag);
    EXPECT_NE(lun.getSettingInt("nZYKorvanMissing", &number), 0);

    item.arrayName = "gone";
    EXPECT_NE(lun.getClusterName(buffer, &length), 0);
}

TEST(SnapInfo, SetArrayInfoTakesNameAndSerialOnceThenTheSerialAlone) {
    HostFixture h;
    SnapItem& first = h.addSnap(1);
    SnapItem& second = h.addSnap(2);
    HostSnapInfo a(h.state, first, h.log);
    HostSnapInfo b(h.state, second, h.log);

    EXPECT_NE(a.setArrayInfo("1A2B3C4D5E6F70"), 0) << "no entry has this serial yet";
    EXPECT_EQ(a.getArrayNumber(), 0);
    EXPECT_NE(a.setArrayInfo("nosuch|1A2B3C4D5E6F70"), 0);
    EXPECT_NE(a.setArrayInfo("beta|"), 0);
    EXPECT_NE(a.setArrayInfo(""), 0);
    EXPECT_NE(a.setArrayInfo(nullptr), 0);
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
    EXPECT_TRUE(snap.getArrayInfo(&info)) << "true is failure while the item has no array";
    int value = 0;
    EXPECT_NE(snap.getConfigInt(kCfgServerPort, &value), 0);

    item.arrayNumber = 1;
    ASSERT_FALSE(snap.getArrayInfo(&info));
    ASSERT_NE(info, nullptr);
    std::string text;
    int number = 0;
    EXPECT_EQ(info->getArrayNumber(&number), 0);
    EXPECT_EQ(number, 1);
    EXPECT_EQ(info->getControlHost(&text), 0);
    EXPECT_EQ(text, "ctl-alpha");
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
    int count = 0;
    ASSERT_EQ(snap.getConfigListSize(kCfgStorageProxyList, &count), 0);
    EXPECT_EQ(count, 2);
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

TEST(SnapInfo, ItemStateAndJobLogLandInTheState) {
    HostFixture h;
    SnapItem& item = h.addSnap(9);
    item.flags = kFlagTestClone;
    HostSnapInfo snap(h.state, item, h.log);

    snap.setStatus(5);
    snap.setSnapName("vol1$snap$000001");
    EXPECT_EQ(snap.setMetadata(kMetaSnapshot, "a**b**c**"), 0);
    snap.setMappedDevice("/dev/sdq");
    snap.setMappedDevice(nullptr);
    snap.setLastError(60001, "Snapshot creation failed");
    snap.log(1, "KRVN  ", "Going to create [%d] snapshots..", 3);

    EXPECT_EQ(item.status, 5);
    EXPECT_EQ(item.snapName, "vol1$snap$000001");
    std::string value;
    ASSERT_TRUE(snap.getMetadata(kMetaSnapshot, &value));
    EXPECT_EQ(value, "a**b**c**");
    EXPECT_FALSE(snap.getMetadata(kMetaClone, &value));
    EXPECT_EQ(item.mappedDevice, "");
    EXPECT_EQ(item.lastErrorCode, 60001);
    EXPECT_TRUE(snap.isFlagSet(0x8000));
    EXPECT_FALSE(snap.isFlagSet(0x0001));
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
    root.write("sys/block/sdb/size", "1");
    root.write("sys/block/sda/size", "1");
    root.write("sys/block/loop0/size", "1");
    root.write("sys/block/nvme0n1/size", "1");
    root.write("sys/class/scsi_host/host0/scan", "");
    root.write("sys/class/scsi_host/host1/scan", "");
    LinuxHostSystem system(root.path());

    std::vector<std::string> wwpns, iqns, devices;
    std::string error;
    ASSERT_TRUE(system.interfaces("ignored", &wwpns, &iqns, &error)) << error;
    EXPECT_EQ(iqns, std::vector<std::string>{"iqn.1993-08.org.debian:01:abc"});
    EXPECT_EQ(wwpns, std::vector<std::string>{"0x21000024ff3dd0a1"});
    ASSERT_TRUE(system.devices("ignored", &devices, &error)) << error;
    EXPECT_EQ(devices, (std::vector<std::string>{"/dev/sda", "/dev/sdb"}));
    ASSERT_TRUE(system.rescan("ignored", &error)) << error;
    EXPECT_EQ(root.read("sys/class/scsi_host/host0/scan"), "- - -");
    EXPECT_EQ(root.read("sys/class/scsi_host/host1/scan"), "- - -");

    TempDir empty;
    LinuxHostSystem bare(empty.path());
    EXPECT_FALSE(bare.rescan("ignored", &error));
    EXPECT_FALSE(bare.devices("ignored", &devices, &error));
}
