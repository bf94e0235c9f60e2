#include <gtest/gtest.h>

#include "KrvnCommonCtx.h"
#include "KrvnCommonUtils.h"
#include "SimSan.h"
#include "SimSeed.h"

using korvansim::Cluster;
using korvansim::Json;
using korvansim::MemorySan;
using korvansim::SanStatus;

namespace {

const std::string kHost = "host1";
const std::string kIqn = korvansim::defaultIqn(kHost);

struct San {
    San() {
        Json seed = korvansim::defaultSeed(kHost, 1);
        seed["hosts"].push_back({{"name", "other"}, {"iqns", {"iqn.other"}}});
        std::string message;
        EXPECT_TRUE(cluster.load(seed, message)) << message;
        EXPECT_TRUE(san.load(seed["hosts"], cluster, message)) << message;
        korvansim::VDisk* vol = cluster.find("vol1");
        target = Cluster::targetIqnFor("sp1", "vol1");
        vol->exposures.push_back({"sp1", target, {}});
    }
    std::vector<std::string> devices(const std::string& host = kHost) {
        std::vector<std::string> out;
        EXPECT_TRUE(san.devices(host, out).ok());
        return out;
    }
    void grant(const std::string& iqn) { cluster.find("vol1")->exposures[0].initiators.push_back(iqn); }

    Cluster cluster;
    MemorySan san;
    std::string target;
};

TEST(SimSan, LoginNeedsAnAclEntryForAnInitiatorOfTheHost) {
    San s;
    std::string device;
    SanStatus refused = s.san.login(s.cluster, kHost, "sp1", s.target, device);
    EXPECT_EQ(refused.http, 403);
    s.grant("iqn.other");
    EXPECT_EQ(s.san.login(s.cluster, kHost, "sp1", s.target, device).http, 403) << "another host's initiator";
    EXPECT_EQ(s.san.login(s.cluster, kHost, "sp2", s.target, device).http, 403) << "wrong portal";
    EXPECT_EQ(s.san.login(s.cluster, kHost, "sp1", s.target + "x", device).http, 403) << "unknown target";
    EXPECT_EQ(s.san.login(s.cluster, "nohost", "sp1", s.target, device).http, 404);
    EXPECT_EQ(s.devices(), std::vector<std::string>({"/dev/sdb"})) << "nothing appeared";

    s.grant(kIqn);
    ASSERT_TRUE(s.san.login(s.cluster, kHost, "sp1:3260", s.target, device).ok());
    EXPECT_EQ(device, "/dev/sdc");
    std::string again;
    ASSERT_TRUE(s.san.login(s.cluster, kHost, "sp1", s.target, again).ok());
    EXPECT_EQ(again, device) << "a second login keeps the session";
    std::vector<std::string> targets;
    ASSERT_TRUE(s.san.discover(s.cluster, kHost, "sp1", targets).ok());
    EXPECT_EQ(targets, std::vector<std::string>({s.target}));
    EXPECT_EQ(s.san.discover(s.cluster, kHost, "sp7", targets).http, 404);
}

TEST(SimSan, DevicesComeWithLoginAndGoWithLogoutUnderPathsNeverReused) {
    San s;
    s.grant(kIqn);
    std::string device;
    ASSERT_TRUE(s.san.login(s.cluster, kHost, "sp1", s.target, device).ok());
    EXPECT_EQ(s.devices(), std::vector<std::string>({"/dev/sdb", "/dev/sdc"}));
    EXPECT_EQ(s.san.sessionDevice(kHost, s.target), "/dev/sdc");
    EXPECT_EQ(s.san.sessionDevice("other", s.target), "");

    ASSERT_TRUE(s.san.logout(kHost, "sp1", s.target).ok());
    EXPECT_EQ(s.devices(), std::vector<std::string>({"/dev/sdb"}));
    EXPECT_EQ(s.san.sessionDevice(kHost, s.target), "");
    EXPECT_EQ(s.san.logout(kHost, "sp1", s.target).http, 404);

    ASSERT_TRUE(s.san.login(s.cluster, kHost, "sp1", s.target, device).ok());
    EXPECT_EQ(device, "/dev/sdd");
    // The cluster withdrawing the target ends the session.
    s.san.targetRemoved(s.target);
    EXPECT_EQ(s.devices(), std::vector<std::string>({"/dev/sdb"}));

    for (int i = 0; i < 30; ++i) ASSERT_TRUE(s.san.attach(s.cluster, "other", "vol1", device).ok());
    EXPECT_EQ(device, "/dev/sdae") << "names go on past sdz as the kernel's do";
    std::vector<std::string> rescanned;
    ASSERT_TRUE(s.san.rescan(kHost, rescanned).ok());
    EXPECT_EQ(rescanned, s.devices());
}

TEST(SimSan, InquiryPagesReadBackThroughThePluginsOwnParsers) {
    San s;
    ZYKorvanCommon::KrvnCommonCtx ctx(nullptr);
    ZYKorvanCommon::KrvnCommonUtils utils(&ctx);
    auto page = [&](bool evpd, int code) {
        std::string bytes;
        SanStatus st = s.san.inquiry(s.cluster, kHost, "/dev/sdb", evpd, code, bytes);
        EXPECT_TRUE(st.ok()) << st.message;
        EXPECT_EQ(bytes.size(), 255u);
        bytes.resize(255);
        return bytes;
    };
    auto raw = [](const std::string& b) { return reinterpret_cast<const unsigned char*>(b.data()); };

    std::string standard = page(false, 0);
    std::string vendor, product, revision;
    utils.getStdDetailsFromSCSIResp(raw(standard), vendor, product, revision);
    EXPECT_EQ(standard[1], 0);
    EXPECT_EQ(vendor, "_KORVAN_");
    EXPECT_EQ(product, "VIRTUAL-DISK");
    EXPECT_EQ(utils.checkStdPageInfoForKorvan("/dev/sdb", vendor, product, revision), 0);

    std::string serialPage = page(true, 0x80), serial;
    EXPECT_EQ(static_cast<unsigned char>(serialPage[1]), 0x80);
    utils.getDiskSerialIdFromSCSIResp(raw(serialPage), serial);
    EXPECT_EQ(serial, std::to_string(s.cluster.find("vol1")->serial));

    std::string idPage = page(true, 0x83), clusterSerial;
    EXPECT_EQ(static_cast<unsigned char>(idPage[1]), 0x83);
    EXPECT_EQ(std::string(idPage.data() + 56, 4), std::string("\x01\x03\x00\x10", 4));
    utils.getArrayIdFromSCSIResp(raw(idPage), clusterSerial);
    EXPECT_EQ(clusterSerial, "1A2B3C4D5E6F70");
    EXPECT_EQ(clusterSerial, korvansim::normaliseNameHash(s.cluster.nameHash()));

    EXPECT_EQ(page(true, 0)[5], static_cast<char>(0x80));
    std::string bytes;
    EXPECT_EQ(s.san.inquiry(s.cluster, kHost, "/dev/sdb", true, 0x81, bytes).http, 400);
    EXPECT_EQ(s.san.inquiry(s.cluster, kHost, "/dev/sdz", false, 0, bytes).http, 404);
    EXPECT_EQ(s.san.inquiry(s.cluster, "nohost", "/dev/sdb", false, 0, bytes).http, 404);
}

TEST(SimSan, SeedsWhoseHashCannotBeACapturedSerialAreRefused) {
    for (const char* hash : {"0x1a2b", "0x1a2b3c4d5e6f7g", "", "0x1a2b3c4d5e6f7011"}) {
        Json seed = korvansim::defaultSeed(kHost, 1);
        seed["cluster"]["hash"] = hash;
        Cluster cluster;
        std::string message;
        EXPECT_FALSE(cluster.load(seed, message)) << hash;
        EXPECT_NE(message.find("14 hexadecimal digits"), std::string::npos) << message;
    }
    EXPECT_EQ(korvansim::normaliseNameHash("000abc"), "BC");
    EXPECT_EQ(korvansim::normaliseNameHash("000"), "00");
    Json seed = korvansim::defaultSeed(kHost, 1);
    seed["hosts"][0]["devices"] = {"ghost"};
    Cluster cluster;
    MemorySan san;
    std::string message;
    ASSERT_TRUE(cluster.load(seed, message));
    EXPECT_FALSE(san.load(seed["hosts"], cluster, message));
    EXPECT_EQ(message, "Vdisk ghost couldn't be found");
}

}  // namespace
