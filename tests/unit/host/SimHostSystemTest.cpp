// The OS utility in simulator mode, against the simulator in this process.
#include <gtest/gtest.h>

#include "HostJob.h"
#include "HostTestDir.h"
#include "HostTexts.h"
#include "SimHarness.h"
#include "ZYPassword.h"

using namespace KrvnHost;
using krvntest::SimHarness;

TEST(HostOSUtilOverSimulator, InterfacesDevicesRescansAndMapInformationComeFromTheSimulatedHost) {
    SimHarness sim(2);
    ASSERT_TRUE(sim.ok()) << sim.error();
    std::unique_ptr<HostSystem> system = makeHostSystem();
    ASSERT_NE(dynamic_cast<SimHostSystem*>(system.get()), nullptr) << "settings choose the simulator";
    HostState state;
    HostOSUtil util(state, *system, 3);
    const std::string host = SimHarness::hostName();

    std::vector<std::string> wwpns{"stale"}, iqns, devices;
    ASSERT_TRUE(util.getHostSCSIInterfaces(host.c_str(), "krvn-cluster", wwpns, iqns));
    EXPECT_EQ(iqns, std::vector<std::string>{SimHarness::iqn()});
    EXPECT_TRUE(wwpns.empty());
    EXPECT_FALSE(util.getHostSCSIInterfaces("no-such-host", "krvn-cluster", wwpns, iqns));
    ASSERT_TRUE(util.getDeviceList(host.c_str(), "", devices));
    EXPECT_EQ(devices, (std::vector<std::string>{"/dev/sdb", "/dev/sdc"}));
    ASSERT_TRUE(util.getDeviceList(host.c_str(), "sdc", devices));
    EXPECT_EQ(devices, std::vector<std::string>{"/dev/sdc"});
    const char* none[] = {nullptr};
    EXPECT_EQ(util.refreshBus(host.c_str(), none, none), 0);
    EXPECT_EQ(sim.state()["hosts"][0]["rescans"], 1);
    EXPECT_NE(util.refreshBus("no-such-host", none, none), 0);

    // The map information of a provisioning map: each host with its initiators.
    krvnhosttest::TempDir dir;
    Plugin unloaded;
    HostJob job(StateFile(dir.file("state.json")), unloaded);
    std::string error;
    ASSERT_TRUE(job.begin(&error)) << error;
    std::string text = job.initiatorInfoFor({SimHarness::hostName()}, &error);
    ASSERT_FALSE(text.empty()) << error;
    nlohmann::json info = nlohmann::json::parse(text);
    ASSERT_EQ(info["hosts"].size(), 1u);
    EXPECT_EQ(info["hosts"][0]["hostname"], SimHarness::hostName());
    EXPECT_EQ(info["hosts"][0]["protocol"], "3") << "the protocol travels as text";
    EXPECT_EQ(info["hosts"][0]["endpoints"][0]["endpoint"], SimHarness::iqn());
    EXPECT_TRUE(job.initiatorInfoFor({"no-such-host"}, &error).empty());
    EXPECT_FALSE(error.empty());
    CallOutcome nothing = job.runSnap(SnapOp::Snap, {});
    EXPECT_EQ(nothing.result, 1);
    EXPECT_FALSE(nothing.hostError.empty()) << "no items is the host's failure, not a call with count 0";
}

// A whole snapshot cycle through the real plug-in: what the host keeps between calls is all
// the plug-in has, so each call must find what the previous one left on the items.
TEST(HostJobOverSimulator, SnapshotCycleKeepsItemsBetweenJobsAndForgetsUnmappedDevices) {
    SimHarness sim(1);
    ASSERT_TRUE(sim.ok()) << sim.error();
    krvnhosttest::TempDir dir;
    dir.write("secret.key", std::string(32, 's'));
    sim.settings().set("Platform", "keyFile", dir.file("secret.key"));
    sim.settings().set("Platform", "logFile", dir.file("plugin.log"));
    Plugin plugin;
    std::string error;
    ASSERT_TRUE(plugin.load(std::string(KRVN_BUILD_LIB_DIR) + "/libZYKorvanSnap.so", &error)) << error;
    const StateFile file(dir.file("state.json"));
    long long id = 0;
    {
        HostJob job(file, plugin);
        ASSERT_TRUE(job.begin(&error)) << error;
        // The serial is known, so prepare ties the item by the serial alone.
        ArrayEntry a{1, SimHarness::kClusterName, "", "127.0.0.1", SimHarness::kUser, "", "1A2B3C4D5E6F70",
                     {{kCfgServerPort, sim.port()}}, {{kCfgStorageProxyList, {SimHarness::kProxy}}}};
        ASSERT_TRUE(ZYPassword::encrypt(SimHarness::kPassword, &a.storedPassword, &error)) << error;
        job.state().arrays.push_back(a);
        id = job.addSnapItem("/dev/sdb", 0, 1);
        CallOutcome prepare = job.runSnap(SnapOp::Prepare, {id});
        ASSERT_EQ(prepare.result, 0) << prepare.errorText;
        EXPECT_EQ(job.state().findSnap(id)->arrayNumber, 1);
    }
    for (SnapOp op : {SnapOp::Snap, SnapOp::Map}) {
        HostJob job(file, plugin);
        ASSERT_TRUE(job.begin(&error)) << error;
        CallOutcome o = job.runSnap(op, {});
        ASSERT_EQ(o.result, 0) << snapOpName(op) << ": " << o.errorText << o.hostError;
        EXPECT_EQ(o.snapIds, std::vector<long long>{id}) << "the default selection of " << snapOpName(op);
    }
    HostJob job(file, plugin);
    ASSERT_TRUE(job.begin(&error)) << error;
    EXPECT_EQ(job.state().findSnap(id)->status, kSnapMapped);
    EXPECT_FALSE(job.state().findSnap(id)->mappedDevice.empty());
    CallOutcome unmap = job.runSnap(SnapOp::Unmap, {});
    ASSERT_EQ(unmap.result, 0) << unmap.errorText;
    EXPECT_EQ(job.state().findSnap(id)->status, kSnapUnmapped);
    EXPECT_EQ(job.state().findSnap(id)->mappedDevice, "");
}
