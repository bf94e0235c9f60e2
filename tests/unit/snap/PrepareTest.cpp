// Source preparation: device inquiry, identifying the array in Array Management, matching a
// candidate array, the array details text and discovery of the source vDisks, against fixture
// devices, the fake host and a scripted cluster.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "FakeSnapHost.h"
#include "KrvnCtx.h"
#include "KrvnUtils.h"
#include "LogCapture.h"
#include "ScopedSettings.h"
#include "ScriptedServer.h"
#include "SnapshotOpsScript.h"

using namespace ZYSnapKrvn;
using namespace enginetest;
using krvntest::FakeSnapBatch;
using krvntest::ScriptedServer;

namespace {

// Fixture devices: /dev/X answers from <dir>/X/page00.bin, page80.bin, page83.bin.
class FixtureDevices {
public:
    explicit FixtureDevices(krvntest::ScopedSettings& settings) {
        char tmpl[] = "/tmp/krvn-prep-devices-XXXXXX";
        dir_ = mkdtemp(tmpl);
        settings.set("Platform", "deviceBackend", "fixture");
        settings.set("Platform", "deviceFixtureDir", dir_);
    }
    ~FixtureDevices() { std::filesystem::remove_all(dir_); }

    // A Korvan vDisk; the cluster serial is 14 upper-case hexadecimal digits.
    void korvan(const std::string& name, const std::string& serial, const std::string& clusterSerial,
                const std::string& vendor = "_KORVAN_") {
        std::vector<unsigned char> std0(255, 0), p80(255, 0), p83(255, 0);
        std::copy(vendor.begin(), vendor.end(), std0.begin() + 8);
        const std::string product = "VIRTUAL-DISK";
        std::copy(product.begin(), product.end(), std0.begin() + 16);
        p80[1] = 0x80;
        p80[3] = static_cast<unsigned char>(serial.size());
        std::copy(serial.begin(), serial.end(), p80.begin() + 4);
        // The designator at offset 56: the cluster serial is its hex text without the first digit.
        const std::string hex = "6" + clusterSerial + "0";
        p83[1] = 0x83;
        p83[59] = static_cast<unsigned char>(hex.size() / 2);
        for (size_t i = 0; i < hex.size() / 2; ++i)
            p83[60 + i] = static_cast<unsigned char>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
        write(name, "page00.bin", std0);
        write(name, "page80.bin", p80);
        write(name, "page83.bin", p83);
    }
    void write(const std::string& name, const std::string& file, const std::vector<unsigned char>& bytes) {
        std::filesystem::create_directories(dir_ + "/" + name);
        std::ofstream out(dir_ + "/" + name + "/" + file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    void remove(const std::string& name) { std::filesystem::remove_all(dir_ + "/" + name); }

private:
    std::string dir_;
};

const std::string kSerialA = "A1B2C3D4E5F601";
const std::string kSerialB = "B1B2C3D4E5F602";

// A host item that, like a host without the serial in its Array Management, cannot tie itself
// to an array from the cluster serial alone: only "name|serial" texts are accepted.
class SerialBlindItem : public krvntest::FakeSnapInfo {
public:
    using FakeSnapInfo::FakeSnapInfo;
    int setArrayInfo(const char* details) override {
        if (std::string(details).find('|') == std::string::npos) {
            arrayInfoTexts.push_back(details);
            return 1;
        }
        return FakeSnapInfo::setArrayInfo(details);
    }
};

struct PrepareFixture : ::testing::Test {
    krvntest::ScopedSettings settings;
    FixtureDevices devices{settings};
    krvntest::FakeOSUtil os;
    std::vector<std::unique_ptr<krvntest::FakeSnapInfo>> items;
    std::vector<ZYSO::SnapInfo*> pointers;
    ScriptedServer srv;   // outlives the context, whose client may still hold a connection
    std::unique_ptr<KrvnCtx> ctx;
    std::unique_ptr<KrvnUtils> utils;

    ~PrepareFixture() override {
        utils.reset();
        ctx.reset();
    }
    template <class Item = krvntest::FakeSnapInfo>
    Item& add(long long id, const std::string& device) {
        auto item = std::make_unique<Item>(id);
        item->sourceDevice = device;
        item->arrayNumber = 0;   // the host does not know the array before preparation
        Item& ref = *item;
        pointers.push_back(item.get());
        items.push_back(std::move(item));
        return ref;
    }
    void start() {
        utils.reset();
        ctx = std::make_unique<KrvnCtx>(&os, 0, ZY_KRVN_SNAP_OP_PREPARE);
        ASSERT_EQ(0, ctx->initialize(pointers.data(), static_cast<int>(pointers.size())));
        utils = std::make_unique<KrvnUtils>(ctx.get());
    }
    std::vector<std::string> detailsLookups() const {
        std::vector<std::string> names;
        for (const auto& call : os.named("getArrayDetailsByName")) names.push_back(call.args.at(0));
        return names;
    }
};

TEST_F(PrepareFixture, InquiryReadsEverySourceAndTiesAllToTheClusterOfTheFirstDevice) {
    devices.korvan("sdb", "1001", kSerialA);
    devices.korvan("sdc", " 10\n02 ", kSerialB);
    auto& first = add(7, "/dev/sdb");
    auto& second = add(3, "/dev/sdc");
    start();
    ASSERT_EQ(0, utils->InquireDeviceDetails()) << ctx->errorString();
    EXPECT_EQ("1001", ctx->snapItems.at(7)->sourceVDiskId);
    EXPECT_EQ("1002", ctx->snapItems.at(3)->sourceVDiskId);
    // Items are walked by id, so the device of item 3 is "the first device".
    EXPECT_EQ(kSerialB, ctx->arrayDetails.scsiArrayId);
    EXPECT_EQ(std::vector<std::string>{kSerialB}, first.arrayInfoTexts);
    EXPECT_EQ(std::vector<std::string>{kSerialB}, second.arrayInfoTexts);
    EXPECT_FALSE(os.called("getArrayListByVendor"));
}

TEST_F(PrepareFixture, InquiryStopsAtTheFirstDeviceThatIsNotAUsableKorvanVDisk) {
    struct Case {
        const char* what;
        std::function<void(FixtureDevices&)> breakSecond;
        int code;
        const char* text;
        const char* notInquired;   // the third device's inquiry of the failing page
    };
    const std::vector<Case> cases = {
        {"another vendor", [](FixtureDevices& d) { d.korvan("sdc", "1002", kSerialA, "IET     "); }, 3,
         "Vendor id-[IET     ] is for device-[/dev/sdc] is not matching", "device-[/dev/sdd] - EVPD-[0]"},
        {"no such device", [](FixtureDevices& d) { d.remove("sdc"); }, 2, "Failed to get ZyDevice for device-[/dev/sdc]",
         "device-[/dev/sdd] - EVPD-[0]"},
        {"wrong page answered",
         [](FixtureDevices& d) {
             std::vector<unsigned char> page(255, 0);
             page[1] = 0x83;
             d.write("sdc", "page80.bin", page);
         },
         3, "Skipping the device..", "device-[/dev/sdd] - EVPD-[1], SCSI page code-[80h]"},
        {"empty serial",
         [](FixtureDevices& d) {
             std::vector<unsigned char> page(255, 0);
             page[1] = 0x80;
             d.write("sdc", "page80.bin", page);
         },
         3, "vDisk serial number is empty for device-[/dev/sdc]", "device-[/dev/sdd] - EVPD-[1], SCSI page code-[80h]"},
    };
    add(1, "/dev/sdb");
    add(2, "/dev/sdc");
    add(3, "/dev/sdd");
    for (const Case& c : cases) {
        devices.korvan("sdb", "1001", kSerialA);
        devices.korvan("sdc", "1002", kSerialA);
        devices.korvan("sdd", "1003", kSerialA);
        c.breakSecond(devices);
        start();
        krvntest::LogCapture log;
        EXPECT_EQ(c.code, utils->InquireDeviceDetails()) << c.what;
        EXPECT_NE(std::string::npos, ctx->errorString().find(c.text)) << c.what << ": " << ctx->errorString();
        // Preparation stops at the failing device: the page is not asked of the devices after it.
        EXPECT_FALSE(log.contains(c.notInquired)) << c.what;
        EXPECT_TRUE(ctx->snapItems.at(3)->sourceVDiskId.empty()) << c.what;
    }
}

TEST_F(PrepareFixture, VMwareSourcesCannotBePreparedAndLeaveNoErrorText) {
    add(1, "datastore1/disk.vmdk;ovltype:vmware");
    start();
    EXPECT_EQ(1, utils->InquireDeviceDetails());
    EXPECT_EQ("", ctx->errorString());
}

TEST_F(PrepareFixture, IdentifyingTriesEveryListedNameInOrderAndTiesTheItemToTheMatch) {
    devices.korvan("sdb", "1001", kSerialA);
    auto& item = add<SerialBlindItem>(1, "/dev/sdb");
    item.arrayNumberForDetails["b|" + kSerialA] = 7;
    os.arrayList = "a||b|";
    os.arrayDetails["a"] = "{id:1,hostName:ha,hostUserName:ua,hostPassword:pa}";
    os.arrayDetails["b"] = "{id:2,hostName:hb,hostUserName:ub,hostPassword:pb}";
    // Both ids come from the settings, so no cluster is asked.
    settings.set("Ovelin", "sZYKorvanClusterUniqueId_a", "FFFFFFFFFFFFFF");
    settings.set("Ovelin", "sZYKorvanClusterUniqueId_b", kSerialA);
    start();
    ctx->arrayDetails.controlHostName = "prepared-host";
    ctx->arrayDetails.arrayId = "prepared-array";

    ASSERT_EQ(0, utils->InquireDeviceDetails()) << ctx->errorString();
    EXPECT_EQ((std::vector<std::string>{"a", "", "b"}), detailsLookups());
    EXPECT_EQ((std::vector<std::string>{kSerialA, "b|" + kSerialA}), item.arrayInfoTexts);
    EXPECT_EQ(7, item.arrayNumber);
    auto list = os.named("getArrayListByVendor");
    ASSERT_EQ(1u, list.size());
    EXPECT_EQ((std::vector<std::string>{"Pellart Distributed Storage", "124", "4096"}), list[0].args);
    // The candidates' details never stay in the context.
    EXPECT_EQ("prepared-host", ctx->arrayDetails.controlHostName);
    EXPECT_EQ("prepared-array", ctx->arrayDetails.arrayId);
    EXPECT_EQ(-1, ctx->errorCode);
}

TEST_F(PrepareFixture, ATooSmallArrayListBufferIsDoubledUpToAMebibyteAndNoListFailsTheDevice) {
    devices.korvan("sdb", "1001", kSerialA);
    auto& item = add<SerialBlindItem>(1, "/dev/sdb");
    item.arrayNumberForDetails["b|" + kSerialA] = 4;
    const std::string longName(20000, 'x');
    os.arrayList = longName + "|b";
    os.arrayListResults = {1, 1, 1};
    os.arrayDetails["b"] = "{id:2,hostName:hb}";
    settings.set("Ovelin", "sZYKorvanClusterUniqueId_b", kSerialA);
    start();
    ASSERT_EQ(0, utils->InquireDeviceDetails()) << ctx->errorString();
    std::vector<std::string> sizes;
    for (const auto& call : os.named("getArrayListByVendor")) sizes.push_back(call.args.at(2));
    EXPECT_EQ((std::vector<std::string>{"4096", "8192", "16384", "32768"}), sizes);
    EXPECT_EQ((std::vector<std::string>{longName, "b"}), detailsLookups());

    // A host that never stops asking for more gets 1 MiB at most; the device's array stays
    // unknown, which fails its preparation.
    os.clear();
    os.arrayListResults.assign(40, 1);
    item.arrayNumber = 0;
    start();
    krvntest::LogCapture log;
    EXPECT_EQ(9, utils->InquireDeviceDetails());
    EXPECT_EQ("Array details not found in Array Management for [" + kSerialA +
                  "]. Please make sure the array details are entered and configured in Array Management.",
              ctx->errorString());
    EXPECT_TRUE(log.containsAt(-1, "KRVN  Snapshot preparation failed for device-[/dev/sdb]. Error-[9:"));
    sizes.clear();
    for (const auto& call : os.named("getArrayListByVendor")) sizes.push_back(call.args.at(2));
    ASSERT_EQ(9u, sizes.size());
    EXPECT_EQ("1048576", sizes.back());
}

TEST_F(PrepareFixture, MatchingAsksEachCandidateClusterForItsIdAndLogsOutOfEveryOne) {
    ASSERT_TRUE(srv.start());
    devices.korvan("sdb", "1001", kSerialA);
    auto& item = add<SerialBlindItem>(1, "/dev/sdb");
    item.arrayNumberForDetails["c|" + kSerialA] = 3;
    os.arrayList = "a|b|c";
    // The details carry no port; the fragment keeps the default port out of the request.
    const std::string host = "127.0.0.1:" + std::to_string(srv.port()) + "/rest/#";
    for (const char* name : {"a", "b", "c"})
        os.arrayDetails[name] = "{id:9,hostName:" + host + ",hostUserName:admin,hostPassword:pw-" + name + "}";
    const std::string hashOf = "0x" + kSerialA;
    srv.reply(200, krvntest::loginAnswer("sess-a"));
    srv.reply(200, errorAnswer("GetClusterSettingInfo", "cluster busy"));
    srv.reply(200, logoutAnswer());
    srv.reply(200, krvntest::loginAnswer("sess-b"));
    srv.reply(200, okAnswer("GetClusterSettingInfo", R"({"clusterNameHash":"0x00000000000001"})"));
    srv.reply(200, logoutAnswer());
    srv.reply(200, krvntest::loginAnswer("sess-c"));
    srv.reply(200, okAnswer("GetClusterSettingInfo", R"({"clusterNameHash":")" + hashOf + R"("})"));
    srv.reply(200, logoutAnswer());
    start();

    ASSERT_EQ(0, utils->InquireDeviceDetails()) << ctx->errorString();
    EXPECT_EQ((std::vector<std::string>{"Login", "GetClusterSettingInfo", "Logout", "Login", "GetClusterSettingInfo",
                                        "Logout", "Login", "GetClusterSettingInfo", "Logout"}),
              requestTypes(srv));
    auto requests = srv.requests();
    EXPECT_NE(std::string::npos, requests[0].request.find("pw-a"));
    EXPECT_NE(std::string::npos, requests[5].request.find("sess-b"));
    EXPECT_EQ(3, item.arrayNumber);
    EXPECT_EQ(-1, ctx->errorCode);
    EXPECT_TRUE(ctx->arrayDetails.sessionId.empty());
}

TEST_F(PrepareFixture, ArrayDetailsTextIsCutAtCommasAndUnescaped) {
    struct Case {
        std::string text;
        int result;
        std::string host, user, password;
    };
    const std::vector<Case> cases = {
        {"{id:1,hostName:h1,hostUserName:u1,hostPassword:p1,port:9}", 0, "h1", "u1", "p1"},
        // An escaped comma still ends the value; the backslash left at its end is dropped.
        {"{x:1,hostName:ab\\,cd,hostPassword:pw}", 0, "ab", "keep-user", "pw"},
        {"{,hostName:a\\tb\\nc\\\\d\\qe\\b\\f\\r,hostUserName:u\\}", 0, "a\tb\nc\\dqe\b\f\r", "u", "keep-pw"},
        {"{,hostUserName:only}", 1, "", "only", "keep-pw"},
        {",hostName:no-end", 1, "", "keep-user", "keep-pw"},
        {"", 1, "", "keep-user", "keep-pw"},
    };
    add(1, "/dev/sdb");
    start();
    for (const Case& c : cases) {
        ZYKorvanCommon::KrvnArrayDetails details;
        details.userName = "keep-user";
        details.userPswd = "keep-pw";
        EXPECT_EQ(c.result, utils->parseArrayDetails(c.text, details)) << c.text;
        EXPECT_EQ(c.host, details.controlHostName) << c.text;
        EXPECT_EQ(c.user, details.userName) << c.text;
        EXPECT_EQ(c.password, details.userPswd) << c.text;
    }
}

struct DiscoveryFixture : ::testing::Test {
    krvntest::ScopedSettings settings;
    ScriptedServer srv;
    FakeSnapBatch batch{2};
    std::unique_ptr<EngineRun> run;

    void SetUp() override {
        ASSERT_TRUE(srv.start());
        batch[0].metadata.clear();
        batch[1].metadata.clear();
        run = std::make_unique<EngineRun>(batch, srv, ZY_KRVN_SNAP_OP_PREPARE);
        ASSERT_EQ(0, run->initResult);
        ASSERT_EQ(0, run->utils->GetArrayDetailsFromDB());
        ASSERT_EQ(0u, run->login(srv));
        run->ctx->arrayDetails.scsiArrayId = kSerialA;
        run->object(1).sourceVDiskId = "1001";
        run->object(2).sourceVDiskId = "1002";
    }
};

TEST_F(DiscoveryFixture, EachFoundSourceGetsItsNameAndMetadataAndTheShortfallIsCode17) {
    srv.reply(200, okAnswer("GetVirtualDiskByScsiSn", R"({"vDiskName":"vol1","scsiSerialNumber":1001})"));
    srv.reply(200, errorAnswer("GetVirtualDiskByScsiSn", "Unable to find virtual disk with scsi sn: 1002"));
    EXPECT_EQ(17, run->utils->discoverArrayVDiskDetails());
    EXPECT_EQ("Found only [1] devices out of [2] on the array-[clusterA] - logged in as [admin] user.",
              run->ctx->errorString());
    EXPECT_EQ((std::vector<std::string>{"GetVirtualDiskByScsiSn 1001", "GetVirtualDiskByScsiSn 1002"}),
              requestLog(srv));
    EXPECT_EQ(1, batch[0].status);
    EXPECT_EQ(kSerialA + "**vol1**1001**", batch[0].metadata[6]);
    EXPECT_EQ("vol1", run->object(1).sourceVDiskName);
    auto uuids = batch[0].named("generateSnapUUID");
    ASSERT_EQ(1u, uuids.size());
    EXPECT_EQ((std::vector<std::string>{"-", "0"}), uuids[0].args);
    EXPECT_EQ(0, batch[1].status);
    EXPECT_EQ(0u, batch[1].metadata.count(6));

    srv.reply(200, okAnswer("GetVirtualDiskByScsiSn", R"({"vDiskName":"vol1","scsiSerialNumber":1001})"));
    srv.reply(200, okAnswer("GetVirtualDiskByScsiSn", R"({"vDiskName":"vol2","scsiSerialNumber":1002})"));
    run->ctx->resetError();
    EXPECT_EQ(0, run->utils->discoverArrayVDiskDetails());
    EXPECT_EQ(1, batch[1].status);
    EXPECT_EQ(kSerialA + "**vol2**1002**", batch[1].metadata[6]);
}

TEST_F(DiscoveryFixture, BruteForceQueriesOnlyPlainDisksAndStopsOnceAllSourcesAreFound) {
    settings.set("Ovelin", "nZYKorvanEnableBruteForceDiscovery", "1");
    batch[1].status = 1;   // prepared by an earlier run: still to be found again
    srv.reply(200, okAnswer("ListVirtualDisks", R"({"disks":[
        {"vDiskName":"clone1","isClone":true,"scsiSerialNumber":1001},
        {"vDiskName":"nfs1","diskType":"NFS_MASTER_DISK","scsiSerialNumber":1002},
        {"vDiskName":"other","scsiSerialNumber":9},
        {"vDiskName":"vol2","scsiSerialNumber":1002},
        {"vDiskName":"gone","scsiSerialNumber":5},
        {"vDiskName":"vol1","scsiSerialNumber":1001},
        {"vDiskName":"never","scsiSerialNumber":1001}]})"));
    srv.reply(200, okAnswer("VirtualDiskDetails", R"({"vDiskName":"other","scsiSerialNumber":9})"));
    srv.reply(200, okAnswer("VirtualDiskDetails", R"({"vDiskName":"vol2","scsiSerialNumber":1002})"));
    srv.reply(200, errorAnswer("VirtualDiskDetails", "Vdisk gone couldn't be found"));
    srv.reply(200, okAnswer("VirtualDiskDetails", R"({"vDiskName":"vol1","scsiSerialNumber":1001})"));
    EXPECT_EQ(0, run->utils->discoverArrayVDiskDetails()) << run->ctx->errorString();
    EXPECT_EQ((std::vector<std::string>{"ListVirtualDisks", "VirtualDiskDetails other", "VirtualDiskDetails vol2",
                                        "VirtualDiskDetails gone", "VirtualDiskDetails vol1"}),
              requestLog(srv));
    EXPECT_EQ(kSerialA + "**vol1**1001**", batch[0].metadata[6]);
    EXPECT_EQ(kSerialA + "**vol2**1002**", batch[1].metadata[6]);
    EXPECT_EQ(1, batch[0].status);
    EXPECT_EQ(-1, run->ctx->errorCode);
}

}  // namespace
