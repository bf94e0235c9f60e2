// The built plug-in, loaded as the host loads it, provisioning vDisks on the simulator: create,
// resize (grow and a refused shrink), map to this host, unmap, and delete, including a disk
// that is already gone. Virtual time keeps the plug-in's fixed waits free.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <string>
#include <vector>

#include "FakeLunHost.h"
#include "SimHarness.h"

using namespace krvntest;

namespace {

typedef int (*LunEntry)(ZYSO::LUNInfo** luns, short count, ZYSO::ZYOSUtil* osUtil);

struct LunEntries {
    LunEntry create = nullptr, remove = nullptr, resize = nullptr, map = nullptr, unmap = nullptr, resolve = nullptr;
};

const LunEntries& plugin() {
    static LunEntries entries = [] {
        LunEntries e;
        void* lib = dlopen(KRVN_BUILD_LIB_DIR "/libZYKorvanSnap.so", RTLD_NOW | RTLD_LOCAL);
        if (lib == nullptr) {
            ADD_FAILURE() << dlerror();
            return e;
        }
        auto entry = [lib](const char* name) { return reinterpret_cast<LunEntry>(dlsym(lib, name)); };
        e.create = entry("zyso_createLUNs");
        e.remove = entry("zyso_deleteLUNs");
        e.resize = entry("zyso_resizeLUNs");
        e.map = entry("zyso_mapLUNs");
        e.unmap = entry("zyso_unmapLUNs");
        e.resolve = entry("zyso_resolveLunsToUsers");
        return e;
    }();
    return entries;
}

constexpr long kGiB = 1L << 30;

class ProvisioningLifecycle : public ::testing::Test {
protected:
    ProvisioningLifecycle() : sim(0) {}

    void SetUp() override {
        ASSERT_TRUE(sim.ok()) << sim.error();
        sim.settings().set("Platform", "keyFile", key.path());
        sim.settings().set("Platform", "logFile", "/dev/null");
        const LunEntries& p = plugin();
        ASSERT_TRUE(p.create && p.remove && p.resize && p.map && p.unmap && p.resolve);
    }

    // A fresh batch of items for the named disks, pointed at the simulator and, for map and
    // unmap, at this host and its initiator.
    FakeLunBatch& items(const std::vector<std::string>& names) {
        batch = std::make_unique<FakeLunBatch>();
        for (const std::string& name : names) {
            FakeLunInfo& item = batch->add();
            item.diskName = name;
            item.clusterName = SimHarness::kClusterName;
            item.userName = SimHarness::kUser;
            item.storedPassword = key.encrypt(SimHarness::kPassword);
            item.configs["SMCONFIG_NAME_SERVER_PORT"] = std::to_string(sim.port());
            item.configs["SMCONFIG_STORAGE_PROXY_LIST_KEY"] = SimHarness::kProxy;
            item.setIscsiHost(SimHarness::hostName(), {SimHarness::iqn()});
        }
        // The host sees what the simulated SAN gives it after each rescan.
        batch->os.onRefreshBus = [this](krvntest::FakeOSUtil& os) { os.deviceLists = {hostDevices()}; };
        return *batch;
    }

    int run(LunEntry entry) { return entry(batch->data(), batch->count(), &batch->os); }

    std::vector<std::string> hostDevices() {
        std::vector<std::string> out;
        const korvansim::Json state = sim.state();  // the loops below read into it
        for (const auto& host : state["hosts"])
            if (host.value("name", "") == SimHarness::hostName())
                for (const auto& device : host["devices"]) out.push_back(device.value("path", ""));
        return out;
    }
    std::string deviceOf(const std::string& vDisk) {
        const korvansim::Json state = sim.state();
        for (const auto& host : state["hosts"])
            for (const auto& device : host["devices"])
                if (device.value("vdisk", "") == vDisk) return device.value("path", "");
        return "";
    }

    SimHarness sim;
    krvntest::TestKeyFile key;
    std::unique_ptr<FakeLunBatch> batch;
};

TEST_F(ProvisioningLifecycle, DisksAreCreatedResizedMappedUnmappedAndDeleted) {
    const LunEntries& p = plugin();

    // Create: sizes in whole GB, the host's block size and description.
    FakeLunBatch& created = items({"prov1", "prov2"});
    created[0].size = 10 * kGiB + kGiB / 2;
    created[1].size = 5 * kGiB;
    created[1].blockSize = 512;
    created[1].description = "scratch";
    ASSERT_EQ(0, run(p.create)) << created[0].lastErrorMessage;
    EXPECT_EQ((std::vector<short>{kLunCreated, kLunCreated}), created.statuses());
    EXPECT_EQ("prov1", created[0].lunName);
    ASSERT_FALSE(sim.vdisk("prov1").is_null());
    EXPECT_EQ(10 * kGiB, sim.vdisk("prov1")["sizeBytes"].get<long>());
    EXPECT_EQ(512, sim.vdisk("prov2")["blockSize"].get<int>());
    EXPECT_EQ("scratch", sim.vdisk("prov2")["description"].get<std::string>());

    // Creating an existing disk again counts as created.
    items({"prov1"});
    EXPECT_EQ(0, run(p.create));
    EXPECT_EQ(kLunCreated, (*batch)[0].status);

    // Resize: prov1 grows; prov2 is asked to shrink, which the cluster refuses and keeps.
    FakeLunBatch& resized = items({"prov1", "prov2"});
    resized[0].size = 20 * kGiB;
    resized[1].size = 2 * kGiB;
    ASSERT_EQ(0, run(p.resize)) << resized[0].lastErrorMessage;
    EXPECT_EQ((std::vector<short>{kLunResized, kLunResized}), resized.statuses());
    EXPECT_EQ(20 * kGiB, sim.vdisk("prov1")["sizeBytes"].get<long>());
    EXPECT_EQ(5 * kGiB, sim.vdisk("prov2")["sizeBytes"].get<long>());

    // Map prov1 to this host: exposed, granted, logged in, found by its serial.
    FakeLunBatch& mapped = items({"prov1"});
    ASSERT_EQ(0, run(p.map)) << mapped[0].lastErrorMessage;
    EXPECT_EQ(kLunMapped, mapped[0].status);
    const std::string device = deviceOf("prov1");
    ASSERT_FALSE(device.empty());
    EXPECT_EQ(device, mapped[0].deviceName);
    const auto exposures = sim.vdisk("prov1")["exposures"];
    ASSERT_EQ(1u, exposures.size());
    EXPECT_EQ(SimHarness::kProxy, exposures[0]["proxy"].get<std::string>());
    EXPECT_EQ(std::vector<std::string>{SimHarness::iqn()}, exposures[0]["initiators"].get<std::vector<std::string>>());

    // Unmap leaves no access, no LUN and no device behind.
    FakeLunBatch& unmapped = items({"prov1"});
    unmapped[0].deviceName = device;
    ASSERT_EQ(0, run(p.unmap)) << unmapped[0].lastErrorMessage;
    EXPECT_EQ(kLunUnmapped, unmapped[0].status);
    EXPECT_TRUE(sim.vdisk("prov1")["exposures"].empty()) << sim.vdisk("prov1").dump();
    EXPECT_TRUE(deviceOf("prov1").empty());
    ASSERT_FALSE(unmapped.os.refreshes.empty());
    EXPECT_EQ(std::vector<std::string>{device}, unmapped.os.refreshes.back().devices);

    // A second unmap finds nothing to undo and still succeeds.
    items({"prov1"});
    EXPECT_EQ(0, run(p.unmap));
    EXPECT_EQ(kLunUnmapped, (*batch)[0].status);

    // Delete, with a disk the cluster never had: all reported deleted.
    FakeLunBatch& deleted = items({"prov1", "ghost", "prov2"});
    ASSERT_EQ(0, run(p.remove)) << deleted[0].lastErrorMessage;
    EXPECT_EQ((std::vector<short>{kLunDeleted, kLunDeleted, kLunDeleted}), deleted.statuses());
    EXPECT_TRUE(sim.vdisk("prov1").is_null());
    EXPECT_TRUE(sim.vdisk("prov2").is_null());

    items({"prov1"});
    EXPECT_EQ(1, run(p.resolve));
    EXPECT_TRUE((*batch)[0].calls.empty());
}

TEST_F(ProvisioningLifecycle, MapOfAMissingDiskFailsWithTheClustersWordsAndMarksTheDisk) {
    const LunEntries& p = plugin();
    FakeLunBatch& mapped = items({"nowhere"});
    EXPECT_EQ(1, run(p.map));
    EXPECT_EQ(kLunMapFailed, mapped[0].status);
    EXPECT_EQ(70003, mapped[0].lastErrorCode);
    EXPECT_NE(std::string::npos, mapped[0].lastErrorMessage.find("Vdisk nowhere couldn't be found"))
        << mapped[0].lastErrorMessage;
    EXPECT_TRUE(hostDevices().empty());
}

}  // namespace
