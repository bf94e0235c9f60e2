// The built plug-in, loaded as a host loads it, mapping snapshots of the simulator's vDisks to
// this host as block devices and unmapping them again, including clones and sources removed on
// the cluster behind its back. Virtual time keeps the plug-in's fixed waits free.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "FakeSnapHost.h"
#include "PluginLoader.h"
#include "SimHarness.h"
#include "SimRest.h"

using namespace krvntest;

namespace {

const KrvnHost::PluginApi& plugin() {
    static KrvnHost::Plugin loaded;
    static std::string error;
    if (!loaded.loaded() && !loaded.load(std::string(KRVN_BUILD_LIB_DIR) + "/libZYKorvanSnap.so", &error))
        ADD_FAILURE() << error;
    return loaded.api();
}

// Snapshot items on the given source vDisks of the simulator (several items may share one),
// already snapshotted by the plug-in, with a host whose device list follows the simulator.
struct MapWorld {
    explicit MapWorld(const std::vector<std::string>& sources) : sim(2), batch(static_cast<int>(sources.size())) {
        EXPECT_TRUE(sim.ok()) << sim.error();
        sim.settings().set("Platform", "logFile", "/dev/null");
        std::string clusterSerial = std::string(SimHarness::kClusterHash).substr(2);
        std::transform(clusterSerial.begin(), clusterSerial.end(), clusterSerial.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        for (size_t i = 0; i < batch.size(); ++i) {
            krvntest::FakeSnapInfo& item = batch[i];
            item.sourceDevice = "/dev/source-of-" + sources[i];
            item.metadata[kMetaSnapshot] = clusterSerial + "**" + sources[i] + "**" +
                                           std::to_string(sim.vdisk(sources[i]).value("serial", 0LL)) + "**";
            item.arrayRecord.name = SimHarness::kClusterName;
            item.arrayRecord.controlHost = "127.0.0.1";
            item.arrayRecord.user = SimHarness::kUser;
            item.arrayRecord.encryptedPassword = SimHarness::kPassword;
            item.configInts["SMCONFIG_NAME_SERVER_PORT"] = sim.port();
            item.configInts["SMCONFIG_NAME_SNAP_OP_RETRY_COUNT"] = 2;
            item.configLists["SMCONFIG_STORAGE_PROXY_LIST_KEY"] = {SimHarness::kProxy};
        }
        batch.os.hostIqns = {SimHarness::iqn()};
        batch.os.deviceLists = {hostPaths()};
        batch.os.onRefreshBus = [this](krvntest::FakeOSUtil& os) { os.deviceLists = {hostPaths()}; };
        EXPECT_EQ(0, run(plugin().snapDevices)) << batch[0].lastErrorMessage;
    }

    int run(zyso_snap_fn entry) { return entry == nullptr ? -1 : entry(batch.data(), batch.count(), &batch.os); }
    std::vector<int> statuses() {
        std::vector<int> out;
        for (size_t i = 0; i < batch.size(); ++i) out.push_back(batch[i].status);
        return out;
    }
    korvansim::Json host() {
        const korvansim::Json state = sim.state();
        for (const auto& h : state["hosts"])
            if (h.value("name", "") == SimHarness::hostName()) return h;
        return korvansim::Json::object();
    }
    std::vector<std::string> hostPaths() {
        std::vector<std::string> paths;
        const korvansim::Json h = host();
        for (const auto& device : h["devices"]) paths.push_back(device.value("path", ""));
        return paths;
    }
    // The serial the simulator's INQUIRY data gives a device of this host (0 when none).
    long long deviceSerial(const std::string& path) {
        const korvansim::Json h = host();
        for (const auto& device : h["devices"])
            if (device.value("path", "") == path) return std::stoll(device["serial"].dump());
        return 0;
    }
    // The clone named in an item's clone metadata.
    std::string cloneOf(size_t i) {
        return batch[i].metadata[kMetaClone].substr(0, batch[i].metadata[kMetaClone].find("**"));
    }
    std::vector<std::string> clonesOnCluster() {
        std::vector<std::string> out;
        const korvansim::Json state = sim.state();
        for (const auto& disk : state["vdisks"])
            if (disk.value("isClone", false)) out.push_back(disk.value("name", ""));
        return out;
    }
    int requests(const std::string& type) { return sim.counters()["requests"].value(type, 0); }
    // What a map may change and an unmap must restore: vDisks, exposures, ACLs, sessions and
    // devices (bus rescans are counted by the simulator and are not undone).
    korvansim::Json footprint() {
        korvansim::Json state = sim.state();
        for (auto& h : state["hosts"]) h.erase("rescans");
        return {{"vdisks", state["vdisks"]}, {"hosts", state["hosts"]}};
    }
    // A vDisk removed on the cluster behind the plug-in's back.
    void removeOnCluster(const std::string& vDisk) {
        bool removed = false;
        sim.sim().withState([&](korvansim::Cluster& cluster, korvansim::SanBackend& san) {
            removed = korvansim::removeVDisk(cluster, san, vDisk);
        });
        ASSERT_TRUE(removed) << vDisk;
    }

    SimHarness sim;
    krvntest::FakeSnapBatch batch;
};

}  // namespace

TEST(SnapshotMap, SnapshotsMapToDevicesOfTheirClonesAndUnmapLeavesTheSimulatorAsBefore) {
    MapWorld w({"vol1", "vol1", "vol2"});
    ASSERT_EQ(w.batch[0].snapName, w.batch[1].snapName);
    const korvansim::Json before = w.footprint();

    ASSERT_EQ(0, w.run(plugin().mapSnaps)) << w.batch[0].lastErrorMessage;
    EXPECT_EQ((std::vector<int>{kSnapMapped, kSnapMapped, kSnapMapped}), w.statuses());
    std::vector<std::string> devices;
    for (size_t i = 0; i < w.batch.size(); ++i) {
        SCOPED_TRACE(i);
        const korvansim::Json clone = w.sim.vdisk(w.cloneOf(i));
        ASSERT_FALSE(clone.is_null());
        EXPECT_EQ(w.batch[i].snapName, clone.value("cloneOf", ""));
        EXPECT_EQ(clone.value("serial", 0LL), w.deviceSerial(w.batch[i].mappedDevice));
        EXPECT_EQ(w.cloneOf(i) + "**" + std::to_string(clone.value("serial", 0LL)) + "**" + SimHarness::kProxy + "**",
                  w.batch[i].metadata[kMetaClone]);
        devices.push_back(w.batch[i].mappedDevice);
    }
    std::sort(devices.begin(), devices.end());
    EXPECT_EQ(devices.end(), std::unique(devices.begin(), devices.end()));
    EXPECT_EQ(3u, w.clonesOnCluster().size());

    // A second map finds every clone on the host already and changes nothing.
    const int clonesMade = w.requests("CloneSnapshot");
    const korvansim::Json mapped = w.footprint();
    ASSERT_EQ(0, w.run(plugin().mapSnaps)) << w.batch[0].lastErrorMessage;
    EXPECT_EQ((std::vector<int>{kSnapMapped, kSnapMapped, kSnapMapped}), w.statuses());
    EXPECT_EQ(clonesMade, w.requests("CloneSnapshot"));
    EXPECT_EQ(1, w.requests("AddLun"));
    EXPECT_EQ(mapped, w.footprint());

    ASSERT_EQ(0, w.run(plugin().unmapSnaps)) << w.batch[0].lastErrorMessage;
    EXPECT_EQ((std::vector<int>{kSnapUnmapped, kSnapUnmapped, kSnapUnmapped}), w.statuses());
    EXPECT_TRUE(w.clonesOnCluster().empty());
    EXPECT_EQ(before, w.footprint());

    // Nothing is left to remove: a repeated unmap still reports every item unmapped.
    ASSERT_EQ(0, w.run(plugin().unmapSnaps)) << w.batch[0].lastErrorMessage;
    EXPECT_EQ((std::vector<int>{kSnapUnmapped, kSnapUnmapped, kSnapUnmapped}), w.statuses());
    EXPECT_EQ(before, w.footprint());
    EXPECT_EQ(w.requests("Login"), w.requests("Logout"));
}

TEST(SnapshotMap, UnmapCountsClonesAndSourcesDeletedOnTheClusterAsUnmapped) {
    MapWorld w({"vol1", "vol1", "vol2"});
    ASSERT_EQ(0, w.run(plugin().mapSnaps)) << w.batch[0].lastErrorMessage;
    const std::string unmappedClone = w.cloneOf(1);
    w.removeOnCluster(w.cloneOf(0));
    w.removeOnCluster("vol2");

    ASSERT_EQ(0, w.run(plugin().unmapSnaps)) << w.batch[0].lastErrorMessage;
    EXPECT_EQ((std::vector<int>{kSnapUnmapped, kSnapUnmapped, kSnapUnmapped}), w.statuses());
    EXPECT_TRUE(w.sim.vdisk(unmappedClone).is_null());
    EXPECT_EQ(1, w.requests("DeleteVDisk"));
    EXPECT_EQ(1, w.requests("UnmapLun"));
}

TEST(SnapshotMap, AMapWhoseDevicesNeverShowUpTellsTheHostWhy) {
    MapWorld w({"vol1", "vol2"});
    w.batch.os.onRefreshBus = nullptr;  // the host never sees the new devices

    EXPECT_EQ(1, w.run(plugin().mapSnaps));
    EXPECT_EQ((std::vector<int>{kSnapNotMapped, kSnapNotMapped}), w.statuses());
    EXPECT_EQ(62009, w.batch[0].lastErrorCode);
    EXPECT_EQ(0u, w.batch[0].lastErrorMessage.find("Not all devices are found. Total - [2], Found - [0]"))
        << w.batch[0].lastErrorMessage;
}
