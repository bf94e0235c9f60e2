// The OS utility in simulator mode, against the simulator in this process.
#include <gtest/gtest.h>

#include "HostJob.h"
#include "HostTexts.h"
#include "SimHarness.h"
#include "TempDir.h"
#include "ZYPassword.h"

using namespace KrvnHost;
using krvntest::SimHarness;

namespace {

// The real plug-in over the simulator of `seed`, with a key file and a plug-in log of its own.
struct PluginOverSim {
    explicit PluginOverSim(const korvansim::Json& seed) : sim(seed) {
        EXPECT_TRUE(sim.ok()) << sim.error();
        dir.write("secret.key", std::string(32, 's'));
        sim.settings().set("Platform", "keyFile", dir.file("secret.key"));
        sim.settings().set("Platform", "logFile", dir.file("plugin.log"));
        EXPECT_TRUE(plugin.load(std::string(KRVN_BUILD_LIB_DIR) + "/libZYKorvanSnap.so", &error)) << error;
    }
    // Array 1: the simulated cluster, with its password stored as korvan-host stores it.
    ArrayEntry array(const std::string& vendor, const std::string& serial) {
        ArrayEntry a{1,
                     SimHarness::kClusterName,
                     vendor,
                     "127.0.0.1",
                     SimHarness::kUser,
                     "",
                     serial,
                     {{kCfgServerPort, sim.port()}},
                     {{kCfgStorageProxyList, {SimHarness::kProxy}}}};
        EXPECT_TRUE(ZYPassword::encrypt(SimHarness::kPassword, &a.storedPassword, &error)) << error;
        return a;
    }

    SimHarness sim;
    krvntest::TempDir dir;
    Plugin plugin;
    std::string error;
};

}  // namespace

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
    krvntest::TempDir dir;
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
    PluginOverSim w(SimHarness::defaultSeed(1));
    Plugin& plugin = w.plugin;
    std::string& error = w.error;
    const StateFile file(w.dir.file("state.json"));
    long long id = 0;
    {
        HostJob job(file, plugin);
        ASSERT_TRUE(job.begin(&error)) << error;
        // The serial is known, so prepare ties the item by the serial alone.
        job.state().arrays.push_back(w.array("", "1A2B3C4D5E6F70"));
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

// What korvan-host learns from the cluster itself around the provisioning calls, and the hint
// when prepare cannot tie a device to an array entry.
TEST(HostJobOverSimulator, ProvisioningShowsAdoptedDisksTheClustersSizesAndRefusedShrinks) {
    // A cluster serial of its own: a default simulator on port 8080 must not match it.
    korvansim::Json seed = SimHarness::defaultSeed(1);
    seed["cluster"]["hash"] = "0x2468ace0246802";
    PluginOverSim w(seed);
    SimHarness& sim = w.sim;
    std::string& error = w.error;
    HostJob job(StateFile(w.dir.file("state.json")), w.plugin);
    ASSERT_TRUE(job.begin(&error)) << error;
    job.state().arrays.push_back(w.array(kKorvanVendor, ""));

    // Without the serial the plug-in tries the array on the default port, not the simulator's.
    CallOutcome prepare = job.runSnap(SnapOp::Prepare, {job.addSnapItem("/dev/sdb", 0, 1)});
    ASSERT_EQ(prepare.notes.size(), 1u) << prepare.errorText;
    for (const char* part : {"arrays add krvn-cluster --serial 2468ACE0246802",
                             "sZYKorvanClusterUniqueId_krvn-cluster=2468ACE0246802", "default REST port (8080"})
        EXPECT_NE(prepare.notes[0].find(part), std::string::npos) << part << " in " << prepare.notes[0];

    auto item = [&](const std::string& name, long long bytes, long blockSize) {
        LunItem l;
        l.diskName = name, l.arrayName = SimHarness::kClusterName, l.sizeBytes = bytes, l.blockSize = blockSize;
        l.initiatorInfo = job.initiatorInfoFor({SimHarness::hostName()}, &error);
        return job.addLunItem(l);
    };
    auto run = [&](LunOp op, long id) {
        CallOutcome o = job.runLun(op, {id});
        EXPECT_EQ(o.result, 0) << lunOpName(op) << ": " << o.errorText << o.hostError;
        return o;
    };
    const long long gib = 1LL << 30;
    const long source = item("vol1", 3 * gib, 4096);  // a typo for a new disk's name
    CallOutcome adopt = run(LunOp::Create, source);
    EXPECT_TRUE(job.state().findLun(source)->preexisting);
    EXPECT_EQ(job.state().findLun(source)->clusterSizeBytes, 10 * gib) << "the source's size, not the 3 GiB asked";
    EXPECT_EQ(adopt.notes, std::vector<std::string>{"the cluster already had a disk named vol1 (10 GiB); this item "
                                                    "now refers to it, and lun delete " +
                                                    std::to_string(source) + " deletes it only with --force"});
    EXPECT_EQ(job.runLun(LunOp::Delete, {source}).result, 1);
    EXPECT_FALSE(sim.vdisk("vol1").is_null());

    const long disk = item("data1", gib + gib / 2, 1000);
    CallOutcome create = run(LunOp::Create, disk);
    EXPECT_FALSE(job.state().findLun(disk)->preexisting);
    EXPECT_EQ(job.state().findLun(disk)->clusterSizeBytes, gib);
    EXPECT_EQ(create.notes.size(), 2u) << "whole GiB and the block size";
    EXPECT_EQ(sim.vdisk("data1")["blockSize"], 4096);
    run(LunOp::Map, disk);
    EXPECT_FALSE(job.state().findLun(disk)->deviceName.empty());
    run(LunOp::Unmap, disk);
    EXPECT_EQ(job.state().findLun(disk)->deviceName, "") << "the device is gone from this host";
    job.state().findLun(disk)->sizeBytes = 5 * gib;
    EXPECT_TRUE(run(LunOp::Resize, disk).notes.empty());
    job.state().findLun(disk)->sizeBytes = 2 * gib;
    CallOutcome shrink = run(LunOp::Resize, disk);
    EXPECT_EQ(job.state().findLun(disk)->status, kLunResized) << "the plug-in's status stands";
    EXPECT_EQ(job.state().findLun(disk)->clusterSizeBytes, 5 * gib);
    ASSERT_EQ(shrink.notes.size(), 1u);
    EXPECT_NE(shrink.notes[0].find("data1 keeps its size of 5 GiB (asked 2 GiB)"), std::string::npos)
        << shrink.notes[0];
    run(LunOp::Delete, disk);
    EXPECT_EQ(job.state().findLun(disk)->clusterSizeBytes, 0);
    EXPECT_TRUE(sim.vdisk("data1").is_null());

    // A create killed once the cluster had made the disk leaves the item as saved before the
    // call: new, with its create tried. Creating that disk again finishes that item, which
    // takes the disk as its own.
    const long killed = item("data2", gib, 4096);
    run(LunOp::Create, killed);
    job.state().findLun(killed)->status = kLunNew;
    LunItem again;
    again.diskName = "data2", again.arrayName = SimHarness::kClusterName, again.sizeBytes = 2 * gib;
    ASSERT_EQ(job.lunItemForCreate(again), killed);
    EXPECT_EQ(job.state().findLun(killed)->sizeBytes, 2 * gib);
    EXPECT_EQ(run(LunOp::Create, killed).notes,
              std::vector<std::string>{"data2 (1 GiB) was made by an earlier, interrupted create of this item, which "
                                       "now refers to it"});
    EXPECT_FALSE(job.state().findLun(killed)->preexisting);
    run(LunOp::Delete, killed);
    EXPECT_NE(job.lunItemForCreate(again), killed) << "a deleted item is not created again";
}
