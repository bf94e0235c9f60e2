#include <gtest/gtest.h>

#include "SimSan.h"
#include "SimSeed.h"

using korvansim::Cluster;
using korvansim::Json;
using korvansim::MemorySan;
using Devices = std::vector<std::string>;

namespace {

const std::string kHost = "host1";
const std::string kIqn = korvansim::defaultIqn(kHost);

// vol1 exposed on sp1 with an empty access list; host1 sees /dev/sdb, "other" sees nothing.
struct San {
    San() {
        Json seed = korvansim::defaultSeed(kHost, 1);
        seed["hosts"].push_back({{"name", "other"}, {"iqns", {"iqn.other"}}});
        std::string message;
        EXPECT_TRUE(cluster.load(seed, message) && san.load(seed["hosts"], cluster, message)) << message;
        cluster.find("vol1")->exposures.push_back({"sp1", target, {}});
    }
    int login(const std::string& portal, const std::string& host = kHost, std::string target = "") {
        return san.login(cluster, host, portal, target.empty() ? this->target : target, device).http;
    }
    Devices devices() {
        Devices out;
        EXPECT_TRUE(san.devices(kHost, out).ok());
        return out;
    }
    void grant(const std::string& iqn) { cluster.find("vol1")->exposures[0].initiators.push_back(iqn); }

    Cluster cluster;
    MemorySan san;
    std::string target = Cluster::targetIqnFor("sp1", "vol1");
    std::string device;
};

TEST(SimSan, LoginNeedsAnAclEntryOfTheHostAndDevicesComeAndGoWithSessionsUnderPathsNeverReused) {
    San s;
    EXPECT_EQ(s.login("sp1"), 403);
    s.grant("iqn.other");
    EXPECT_EQ(s.login("sp1"), 403) << "another host's initiator";
    EXPECT_EQ(s.login("sp2"), 403) << "wrong portal";
    EXPECT_EQ(s.login("sp1", kHost, s.target + "x"), 403) << "unknown target";
    EXPECT_EQ(s.login("sp1", "nohost"), 404);
    EXPECT_EQ(s.devices(), Devices({"/dev/sdb"})) << "nothing appeared";

    s.grant(kIqn);
    ASSERT_EQ(s.login("sp1:3260"), 200);
    EXPECT_EQ(s.device, "/dev/sdc");
    s.device.clear();
    ASSERT_EQ(s.login("sp1"), 200);
    EXPECT_EQ(s.device, "/dev/sdc") << "a second login keeps the session";
    Devices targets;
    ASSERT_TRUE(s.san.discover(s.cluster, kHost, "sp1", targets).ok());
    EXPECT_EQ(targets, Devices({s.target}));
    EXPECT_EQ(s.san.discover(s.cluster, kHost, "sp7", targets).http, 404);

    EXPECT_EQ(s.devices(), Devices({"/dev/sdb", "/dev/sdc"}));
    EXPECT_EQ(s.san.sessionDevice(kHost, s.target), "/dev/sdc");
    EXPECT_EQ(s.san.sessionDevice("other", s.target), "");

    ASSERT_TRUE(s.san.logout(kHost, "sp1", s.target).ok());
    EXPECT_EQ(s.devices(), Devices({"/dev/sdb"}));
    EXPECT_EQ(s.san.sessionDevice(kHost, s.target), "");
    EXPECT_EQ(s.san.logout(kHost, "sp1", s.target).http, 404);

    ASSERT_EQ(s.login("sp1"), 200);
    EXPECT_EQ(s.device, "/dev/sdd");
    s.san.targetRemoved(s.target);
    EXPECT_EQ(s.devices(), Devices({"/dev/sdb"})) << "the cluster withdrawing the target ends the session";

    for (int i = 0; i < 30; ++i) ASSERT_TRUE(s.san.attach(s.cluster, "other", "vol1", s.device).ok());
    EXPECT_EQ(s.device, "/dev/sdae") << "names go on past sdz as the kernel's do";
    Devices rescanned;
    ASSERT_TRUE(s.san.rescan(kHost, rescanned).ok());
    EXPECT_EQ(rescanned, s.devices());
}

// The plug-in's own page parsers read these pages in SimBackends; here the bytes they rely on.
TEST(SimSan, InquiryAnswersCarryTheIdentityBytesWhereTheHostLooks) {
    San s;
    std::string bytes;
    auto page = [&](bool evpd, int code) {
        EXPECT_TRUE(s.san.inquiry(s.cluster, kHost, "/dev/sdb", evpd, code, bytes).ok());
        EXPECT_EQ(bytes.size(), 255u);
        bytes.resize(255);
        return bytes;
    };
    EXPECT_EQ(page(false, 0).substr(8, 24), std::string("_KORVAN_VIRTUAL-DISK\0\0\0\0", 24));
    EXPECT_EQ(page(true, 0x80).substr(1, 1), "\x80");
    EXPECT_NE(bytes.find(std::to_string(s.cluster.find("vol1")->serial)), std::string::npos);
    EXPECT_EQ(page(true, 0x83).substr(56, 4), std::string("\x01\x03\x00\x10", 4)) << "an NAA designator";
    EXPECT_EQ(page(true, 0)[5], '\x80') << "the supported pages list the serial page";
    EXPECT_EQ(s.san.inquiry(s.cluster, kHost, "/dev/sdb", true, 0x81, bytes).http, 400);
    EXPECT_EQ(s.san.inquiry(s.cluster, kHost, "/dev/sdz", false, 0, bytes).http, 404);
    EXPECT_EQ(s.san.inquiry(s.cluster, "nohost", "/dev/sdb", false, 0, bytes).http, 404);
}

TEST(SimSan, SeedsWhoseHashCannotBeACapturedSerialAreRefused) {
    std::string message;
    for (const char* hash : {"0x1a2b", "0x1a2b3c4d5e6f7g", "", "0x1a2b3c4d5e6f7011"}) {
        Json seed = korvansim::defaultSeed(kHost, 1);
        seed["cluster"]["hash"] = hash;
        EXPECT_FALSE(Cluster().load(seed, message)) << hash;
        EXPECT_NE(message.find("14 hexadecimal digits"), std::string::npos) << message;
    }
    EXPECT_EQ(korvansim::normaliseNameHash("000abc"), "BC");
    EXPECT_EQ(korvansim::normaliseNameHash("000"), "00");

    Json seed = korvansim::defaultSeed(kHost, 1);
    seed["hosts"][0]["devices"] = {"ghost"};
    Cluster cluster;
    ASSERT_TRUE(cluster.load(seed, message));
    EXPECT_FALSE(MemorySan().load(seed["hosts"], cluster, message));
    EXPECT_EQ(message, "Vdisk ghost couldn't be found");
}

}  // namespace
