// The built plug-in, loaded as the host loads it, provisioning vDisks on the simulator: create,
// resize (grow and a refused shrink), map to this host, unmap, and delete, including a disk
// that is already gone. Virtual time keeps the plug-in's fixed waits free.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FakeWorld.h"

using namespace krvntest;

TEST(ProvisioningLifecycle, DisksAreCreatedResizedMappedUnmappedAndDeleted) {
    const KrvnHost::PluginApi& p = harden::plugin();
    constexpr long kGiB = 1L << 30;
    harden::LunWorld w(0);
    // A fresh batch of items for the named disks, pointed at the simulator and this host.
    auto items = [&w](const std::vector<std::string>& names) -> FakeLunBatch& {
        w.batch = FakeLunBatch();
        for (const std::string& name : names)
            harden::onSimCluster(w.batch.add(), name, w.sim.port(), w.key.encrypt(SimHarness::kPassword));
        harden::attachHostToSim(w.batch.os, w.sim);
        return w.batch;
    };
    auto deviceOf = [&w](const std::string& vDisk) {
        for (const auto& device : harden::simHost(w.sim, "devices"))
            if (device.value("vdisk", "") == vDisk) return device.value("path", "");
        return std::string();
    };

    // Create: sizes in whole GB, the host's block size and description.
    FakeLunBatch& created = items({"prov1", "prov2"});
    created[0].size = 10 * kGiB + kGiB / 2;
    created[1].size = 5 * kGiB;
    created[1].blockSize = 512;
    created[1].description = "scratch";
    ASSERT_EQ(0, w.run(p.createLUNs)) << created[0].lastErrorMessage;
    EXPECT_EQ((std::vector<short>{kLunCreated, kLunCreated}), created.statuses());
    EXPECT_EQ("prov1", created[0].lunName);
    ASSERT_FALSE(w.sim.vdisk("prov1").is_null());
    EXPECT_EQ(10 * kGiB, w.sim.vdisk("prov1")["sizeBytes"].get<long>());
    EXPECT_EQ(512, w.sim.vdisk("prov2")["blockSize"].get<int>());
    EXPECT_EQ("scratch", w.sim.vdisk("prov2")["description"].get<std::string>());

    // Creating an existing disk again counts as created.
    items({"prov1"});
    EXPECT_EQ(0, w.run(p.createLUNs));
    EXPECT_EQ(kLunCreated, w.batch[0].status);

    // Resize: prov1 grows; prov2 is asked to shrink, which the cluster refuses and keeps.
    FakeLunBatch& resized = items({"prov1", "prov2"});
    resized[0].size = 20 * kGiB;
    resized[1].size = 2 * kGiB;
    ASSERT_EQ(0, w.run(p.resizeLUNs)) << resized[0].lastErrorMessage;
    EXPECT_EQ((std::vector<short>{kLunResized, kLunResized}), resized.statuses());
    EXPECT_EQ(20 * kGiB, w.sim.vdisk("prov1")["sizeBytes"].get<long>());
    EXPECT_EQ(5 * kGiB, w.sim.vdisk("prov2")["sizeBytes"].get<long>());

    // Map prov1 to this host: exposed, granted, logged in, found by its serial.
    FakeLunBatch& mapped = items({"prov1"});
    ASSERT_EQ(0, w.run(p.mapLUNs)) << mapped[0].lastErrorMessage;
    EXPECT_EQ(kLunMapped, mapped[0].status);
    const std::string device = deviceOf("prov1");
    ASSERT_FALSE(device.empty());
    EXPECT_EQ(device, mapped[0].deviceName);
    const auto exposures = w.sim.vdisk("prov1")["exposures"];
    ASSERT_EQ(1u, exposures.size());
    EXPECT_EQ(SimHarness::kProxy, exposures[0]["proxy"].get<std::string>());
    EXPECT_EQ(std::vector<std::string>{SimHarness::iqn()}, exposures[0]["initiators"].get<std::vector<std::string>>());

    // Unmap leaves no access, no LUN and no device behind; a second unmap finds nothing to undo.
    FakeLunBatch& unmapped = items({"prov1"});
    unmapped[0].deviceName = device;
    ASSERT_EQ(0, w.run(p.unmapLUNs)) << unmapped[0].lastErrorMessage;
    EXPECT_EQ(kLunUnmapped, unmapped[0].status);
    EXPECT_TRUE(w.sim.vdisk("prov1")["exposures"].empty()) << w.sim.vdisk("prov1").dump();
    EXPECT_TRUE(deviceOf("prov1").empty());
    ASSERT_FALSE(unmapped.os.refreshes.empty());
    EXPECT_EQ(std::vector<std::string>{device}, unmapped.os.refreshes.back().devices);
    items({"prov1"});
    EXPECT_EQ(0, w.run(p.unmapLUNs));
    EXPECT_EQ(kLunUnmapped, w.batch[0].status);

    // A disk the cluster does not have fails its map with the cluster's words.
    FakeLunBatch& nowhere = items({"nowhere"});
    EXPECT_EQ(1, w.run(p.mapLUNs));
    EXPECT_EQ(kLunMapFailed, nowhere[0].status);
    EXPECT_EQ(70003, nowhere[0].lastErrorCode);
    EXPECT_NE(std::string::npos, nowhere[0].lastErrorMessage.find("Vdisk nowhere couldn't be found"))
        << nowhere[0].lastErrorMessage;
    EXPECT_TRUE(harden::simDevices(w.sim).empty());

    // Delete, with a disk the cluster never had: all reported deleted.
    FakeLunBatch& deleted = items({"prov1", "ghost", "prov2"});
    ASSERT_EQ(0, w.run(p.deleteLUNs)) << deleted[0].lastErrorMessage;
    EXPECT_EQ((std::vector<short>{kLunDeleted, kLunDeleted, kLunDeleted}), deleted.statuses());
    EXPECT_TRUE(w.sim.vdisk("prov1").is_null());
    EXPECT_TRUE(w.sim.vdisk("prov2").is_null());

    items({"prov1"});
    EXPECT_EQ(1, w.run(p.resolveLunsToUsers));
    EXPECT_TRUE(w.batch[0].calls.empty());
}
