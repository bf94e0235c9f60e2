// The built plug-in, loaded as the host loads it, taking source vDisks of the simulator through
// prepare, create, map, unmap, revert, reconcile and delete, including objects (sources,
// snapshots, clones) that disappear on the cluster behind its back. Virtual time keeps the
// plug-in's fixed waits free.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "FakeWorld.h"

using namespace krvntest;
using harden::SnapWorld;
using Strings = std::vector<std::string>;

namespace {

const KrvnHost::PluginApi& api() { return harden::plugin(); }

// The cluster serial a device of the default cluster reports: its name hash without the
// "0x", in upper case.
std::string clusterSerial() {
    std::string hash = std::string(SimHarness::kClusterHash).substr(2);
    std::transform(hash.begin(), hash.end(), hash.begin(), [](unsigned char c) { return std::toupper(c); });
    return hash;
}

Strings snapshotsOf(SnapWorld& w, const std::string& vDisk) {
    Strings out;
    const korvansim::Json disk = w.sim.vdisk(vDisk);
    if (!disk.is_null())
        for (const auto& s : disk["snapshots"]) out.push_back(s.get<std::string>());
    return out;
}

// Items 1 and 2 on vol1 (one snapshot between them), item 3 on vol2, prepared and snapshotted.
struct MapWorld : SnapWorld {
    MapWorld() : SnapWorld(3) {
        batch[2].sourceDevice = batch[1].sourceDevice;
        batch[1].sourceDevice = batch[0].sourceDevice;
        EXPECT_EQ(0, run(api().prepareDevices)) << batch[0].lastErrorMessage;
        EXPECT_EQ(0, run(api().snapDevices)) << batch[0].lastErrorMessage;
    }
    // The clone named in an item's clone metadata.
    std::string cloneOf(size_t i) {
        return batch[i].metadata[kMetaClone].substr(0, batch[i].metadata[kMetaClone].find("**"));
    }
    Strings clonesOnCluster() {
        Strings out;
        for (const auto& disk : sim.state()["vdisks"])
            if (disk.value("isClone", false)) out.push_back(disk.value("name", ""));
        return out;
    }
    // The serial the simulator's INQUIRY data gives a device of this host (0 when none).
    long long deviceSerial(const std::string& path) {
        for (const auto& device : harden::simHost(sim, "devices"))
            if (device.value("path", "") == path) return std::stoll(device["serial"].dump());
        return 0;
    }
    // What a map may change and an unmap must restore: vDisks, exposures, ACLs, sessions and
    // devices (bus rescans are counted by the simulator and are not undone).
    korvansim::Json footprint() {
        korvansim::Json state = sim.state();
        for (auto& h : state["hosts"]) h.erase("rescans");
        return {{"vdisks", state["vdisks"]}, {"hosts", state["hosts"]}};
    }
};

}  // namespace

TEST(SnapshotLifecycle, SourcesGoFromPrepareThroughCreateRevertReconcileAndDelete) {
    SnapWorld w(2);
    for (size_t i = 0; i < w.batch.size(); ++i) {
        // Until prepare ties it, the host knows the item's array only by the cluster serial.
        w.batch[i].arrayNumber = 0;
        w.batch[i].arrayNumberForDetails[clusterSerial()] = 1;
    }
    ASSERT_EQ(0, w.run(api().prepareDevices)) << w.batch[0].lastErrorMessage;
    EXPECT_EQ((std::vector<int>{kSnapPrepared, kSnapPrepared}), w.batch.statuses());
    const std::string serial1 = std::to_string(w.sim.vdisk("vol1").value("serial", 0LL));
    EXPECT_EQ(clusterSerial() + "**vol1**" + serial1 + "**", w.batch[0].metadata[kMetaSnapshot]);
    EXPECT_EQ(1, w.batch[0].arrayNumber);

    ASSERT_EQ(0, w.run(api().snapDevices)) << w.batch[0].lastErrorMessage;
    EXPECT_EQ((std::vector<int>{kSnapCreated, kSnapCreated}), w.batch.statuses());
    const std::string snap1 = w.batch[0].snapName, snap2 = w.batch[1].snapName;
    EXPECT_EQ(Strings{snap1}, snapshotsOf(w, "vol1"));
    EXPECT_EQ(Strings{snap2}, snapshotsOf(w, "vol2"));
    EXPECT_EQ(w.batch[0].metadata[kMetaSnapshot], clusterSerial() + "**vol1**" + serial1 + "**" + snap1 + "**");

    ASSERT_EQ(0, w.run(api().revertSnaps)) << w.batch[0].lastErrorMessage;
    EXPECT_EQ((std::vector<int>{kSnapReverted, kSnapReverted}), w.batch.statuses());
    EXPECT_EQ(snap1, w.sim.vdisk("vol1").value("revertedTo", ""));
    EXPECT_EQ(snap2, w.sim.vdisk("vol2").value("revertedTo", ""));
    Strings sessions;
    for (const auto& session : harden::simHost(w.sim, "sessions")) sessions.push_back(session.value("target", ""));
    EXPECT_EQ((Strings{"iqn.2020-01.com.korvan:sp1:vol1", "iqn.2020-01.com.korvan:sp1:vol2"}), sessions);

    ASSERT_EQ(0, w.run(api().reconcileSnaps)) << w.batch[0].lastErrorMessage;
    EXPECT_EQ((std::vector<int>{kSnapReverted, kSnapReverted}), w.batch.statuses());

    ASSERT_EQ(0, w.run(api().deleteSnaps)) << w.batch[0].lastErrorMessage;
    EXPECT_EQ((std::vector<int>{kSnapDeleted, kSnapDeleted}), w.batch.statuses());
    EXPECT_TRUE(snapshotsOf(w, "vol1").empty());
    EXPECT_TRUE(snapshotsOf(w, "vol2").empty());
    // Every call that logged in also logged out.
    EXPECT_EQ(5, w.requests("Login"));
    EXPECT_EQ(5, w.requests("Logout"));
    EXPECT_EQ(0, w.batch[0].lastErrorCalls);
}

TEST(SnapshotLifecycle, ObjectsRemovedBehindThePluginsBackAreReconciledAndCountAsDeleted) {
    SnapWorld w(3);
    ASSERT_EQ(0, w.run(api().prepareDevices)) << w.batch[0].lastErrorMessage;
    ASSERT_EQ(0, w.run(api().snapDevices)) << w.batch[0].lastErrorMessage;
    harden::simAdmin(w.sim, "deleteVDisk", "vol2");
    harden::simAdmin(w.sim, "deleteSnapshot", w.batch[2].snapName);

    ASSERT_EQ(0, w.run(api().reconcileSnaps)) << w.batch[0].lastErrorMessage;
    EXPECT_EQ((std::vector<int>{kSnapCreated, kSnapGoneFromArray, kSnapGoneFromArray}), w.batch.statuses());

    // The source without a target stops the revert before anything is reverted.
    EXPECT_EQ(1, w.run(api().revertSnaps));
    EXPECT_EQ((std::vector<int>{kSnapRevertFailed, kSnapRevertFailed, kSnapRevertFailed}), w.batch.statuses());
    EXPECT_EQ(60005, w.batch[0].lastErrorCode);
    EXPECT_EQ("Failed to get the SCSI target IQN for the device-[vol2]", w.batch[0].lastErrorMessage);
    EXPECT_EQ("", w.sim.vdisk("vol1").value("revertedTo", ""));
    EXPECT_EQ(0, w.requests("RevertToSnapshot"));

    const int listsBefore = w.requests("ListSnapshots");
    ASSERT_EQ(0, w.run(api().deleteSnaps)) << w.batch[0].lastErrorMessage;
    EXPECT_EQ((std::vector<int>{kSnapDeleted, kSnapDeleted, kSnapDeleted}), w.batch.statuses());
    EXPECT_EQ(1, w.requests("DeleteSnapshot"));
    EXPECT_EQ(3, w.requests("ListSnapshots") - listsBefore);
    EXPECT_TRUE(snapshotsOf(w, "vol1").empty());
}

TEST(SnapshotLifecycle, SourcesTheClusterCannotServeFailOnlyTheirItems) {
    SnapWorld gone(3);
    const std::string serial3 = std::to_string(gone.sim.vdisk("vol3").value("serial", 0LL));
    harden::simAdmin(gone.sim, "deleteVDisk", "vol3");
    EXPECT_EQ(1, gone.run(api().prepareDevices));
    EXPECT_EQ((std::vector<int>{kSnapPrepared, kSnapPrepared, kSnapPrepareFailed}), gone.batch.statuses());
    EXPECT_EQ(62008, gone.batch[0].lastErrorCode);
    EXPECT_EQ(
        "Found only [2] devices out of [3] on the array-[krvn-cluster] - logged in as [admin] user.\n"
        "Errors returned by cluster-[Unable to find virtual disk with scsi sn: " +
            serial3 + " ]",
        gone.batch[0].lastErrorMessage);

    SnapWorld marked(3);
    ASSERT_EQ(0, marked.run(api().prepareDevices)) << marked.batch[0].lastErrorMessage;
    harden::simAdmin(marked.sim, "markForDelete", "vol2");
    EXPECT_EQ(1, marked.run(api().snapDevices));
    EXPECT_EQ((std::vector<int>{kSnapCreated, kSnapCreateFailed, kSnapCreated}), marked.batch.statuses());
    EXPECT_EQ(60001, marked.batch[0].lastErrorCode);
    EXPECT_EQ(1u, snapshotsOf(marked, "vol1").size());
    EXPECT_TRUE(snapshotsOf(marked, "vol2").empty());
    EXPECT_EQ(1u, snapshotsOf(marked, "vol3").size());
}

TEST(SnapshotMap, SnapshotsMapToDevicesOfTheirClonesAndUnmapLeavesTheSimulatorAsBefore) {
    MapWorld w;
    ASSERT_EQ(w.batch[0].snapName, w.batch[1].snapName);
    const korvansim::Json before = w.footprint();

    ASSERT_EQ(0, w.run(api().mapSnaps)) << w.batch[0].lastErrorMessage;
    EXPECT_EQ((std::vector<int>{kSnapMapped, kSnapMapped, kSnapMapped}), w.batch.statuses());
    Strings devices;
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
    ASSERT_EQ(0, w.run(api().mapSnaps)) << w.batch[0].lastErrorMessage;
    EXPECT_EQ((std::vector<int>{kSnapMapped, kSnapMapped, kSnapMapped}), w.batch.statuses());
    EXPECT_EQ(clonesMade, w.requests("CloneSnapshot"));
    EXPECT_EQ(1, w.requests("AddLun"));
    EXPECT_EQ(mapped, w.footprint());

    ASSERT_EQ(0, w.run(api().unmapSnaps)) << w.batch[0].lastErrorMessage;
    EXPECT_EQ((std::vector<int>{kSnapUnmapped, kSnapUnmapped, kSnapUnmapped}), w.batch.statuses());
    EXPECT_TRUE(w.clonesOnCluster().empty());
    EXPECT_EQ(before, w.footprint());

    // Nothing is left to remove: a repeated unmap still reports every item unmapped.
    ASSERT_EQ(0, w.run(api().unmapSnaps)) << w.batch[0].lastErrorMessage;
    EXPECT_EQ((std::vector<int>{kSnapUnmapped, kSnapUnmapped, kSnapUnmapped}), w.batch.statuses());
    EXPECT_EQ(before, w.footprint());
    EXPECT_EQ(w.requests("Login"), w.requests("Logout"));
}

TEST(SnapshotMap, UnmapCountsClonesAndSourcesDeletedOnTheClusterAsUnmapped) {
    MapWorld w;
    ASSERT_EQ(0, w.run(api().mapSnaps)) << w.batch[0].lastErrorMessage;
    const std::string unmappedClone = w.cloneOf(1);
    harden::simAdmin(w.sim, "deleteVDisk", w.cloneOf(0));
    harden::simAdmin(w.sim, "deleteVDisk", "vol2");

    ASSERT_EQ(0, w.run(api().unmapSnaps)) << w.batch[0].lastErrorMessage;
    EXPECT_EQ((std::vector<int>{kSnapUnmapped, kSnapUnmapped, kSnapUnmapped}), w.batch.statuses());
    EXPECT_TRUE(w.sim.vdisk(unmappedClone).is_null());
    EXPECT_EQ(1, w.requests("DeleteVDisk"));
    EXPECT_EQ(1, w.requests("UnmapLun"));
}

TEST(SnapshotMap, AMapWhoseDevicesNeverShowUpTellsTheHostWhy) {
    MapWorld w;
    w.batch.os.onRefreshBus = nullptr;  // the host never sees the new devices

    EXPECT_EQ(1, w.run(api().mapSnaps));
    EXPECT_EQ((std::vector<int>{kSnapNotMapped, kSnapNotMapped, kSnapNotMapped}), w.batch.statuses());
    EXPECT_EQ(62009, w.batch[0].lastErrorCode);
    EXPECT_EQ(0u, w.batch[0].lastErrorMessage.find("Not all devices are found. Total - [3], Found - [0]"))
        << w.batch[0].lastErrorMessage;
}
