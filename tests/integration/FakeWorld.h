// Integration helper: the built plug-in (loaded with dlopen as a host loads it) driven through
// the recording fakes of the host objects against an in-process korvan-sim.
//
// SnapWorld: snapshot items on this host's source vDisks (vol1..), the array record and the
// OS utility answering from the simulator (array details, this host's initiator, its device
// list re-read from the simulator at every bus rescan). LunWorld: provisioning items for new
// disks, the stored password enciphered under a key file of the test's own. Both keep
// virtual time on (SimHarness), so the plug-in's fixed waits cost nothing.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FakeLunHost.h"
#include "FakeSnapHost.h"
#include "PluginLoader.h"
#include "SimHarness.h"

namespace harden {

using krvntest::SimHarness;

inline const KrvnHost::PluginApi& plugin() {
    static KrvnHost::Plugin loaded;
    static std::string error;
    if (!loaded.loaded() && !loaded.load(std::string(KRVN_BUILD_LIB_DIR) + "/libZYKorvanSnap.so", &error))
        ADD_FAILURE() << error;
    return loaded.api();
}

// The device paths the simulator gives this host, in order of appearance. Safe on any thread.
inline std::vector<std::string> simDevices(SimHarness& sim) {
    std::vector<std::string> paths;
    const korvansim::Json state = sim.sim().state();
    for (const auto& host : state["hosts"]) {
        if (host.value("name", "") != SimHarness::hostName()) continue;
        for (const auto& device : host["devices"]) paths.push_back(device.value("path", ""));
    }
    return paths;
}

inline void attachHostToSim(krvntest::FakeOSUtil& os, SimHarness& sim) {
    os.hostIqns = {SimHarness::iqn()};
    os.deviceLists = {simDevices(sim)};
    os.onRefreshBus = [&sim](krvntest::FakeOSUtil& self) { self.deviceLists = {simDevices(sim)}; };
}

// The default seed with the source vDisks exposed to this host on the storage proxy, as
// sources reached over iSCSI are (revert logs the host out of their targets and back in).
inline korvansim::Json exposedSourcesSeed(int vdisks, const std::string& password = SimHarness::kPassword) {
    korvansim::Json seed = SimHarness::defaultSeed(vdisks);
    for (auto& user : seed["cluster"]["users"]) user["password"] = password;
    for (auto& disk : seed["vdisks"])
        disk["exposures"] = {{{"proxy", SimHarness::kProxy}, {"initiators", {SimHarness::iqn()}}}};
    return seed;
}

struct SnapWorld {
    explicit SnapWorld(int items = 1, const std::string& password = SimHarness::kPassword)
        : sim(exposedSourcesSeed(items, password)), batch(items) {
        EXPECT_TRUE(sim.ok()) << sim.error();
        sim.settings().set("Platform", "logFile", "/dev/null");
        const std::vector<std::string> devices = simDevices(sim);
        for (size_t i = 0; i < batch.size(); ++i) {
            krvntest::FakeSnapInfo& item = batch[i];
            if (i < devices.size()) item.sourceDevice = devices[i];
            item.arrayRecord.name = SimHarness::kClusterName;
            item.arrayRecord.controlHost = "127.0.0.1";
            item.arrayRecord.user = SimHarness::kUser;
            item.arrayRecord.encryptedPassword = password;  // the fake decrypts as is
            item.configInts["SMCONFIG_NAME_SERVER_PORT"] = sim.port();
            item.configInts["SMCONFIG_NAME_SNAP_OP_RETRY_COUNT"] = 2;
            item.configLists["SMCONFIG_STORAGE_PROXY_LIST_KEY"] = {SimHarness::kProxy};
        }
        batch.os.arrayList = SimHarness::kClusterName;
        batch.os.arrayDetails[SimHarness::kClusterName] = std::string("{id:1,hostName:127.0.0.1,hostUserName:") +
                                                          SimHarness::kUser + ",hostPassword:" + password + "}";
        attachHostToSim(batch.os, sim);
    }
    int run(zyso_snap_fn entry) { return entry(batch.data(), batch.count(), &batch.os); }

    SimHarness sim;
    krvntest::FakeSnapBatch batch;
};

struct LunWorld {
    explicit LunWorld(int items = 1, const std::string& password = SimHarness::kPassword)
        : sim(exposedSourcesSeed(0, password)) {
        EXPECT_TRUE(sim.ok()) << sim.error();
        sim.settings().set("Platform", "logFile", "/dev/null");
        sim.settings().set("Platform", "keyFile", key.path());
        for (int i = 0; i < items; ++i) {
            krvntest::FakeLunInfo& item = batch.add();
            item.diskName = "pv" + std::to_string(i + 1);
            item.clusterName = SimHarness::kClusterName;
            item.controlHost = "127.0.0.1";
            item.userName = SimHarness::kUser;
            item.storedPassword = key.encrypt(password);
            item.size = 2L << 30;
            item.configs["SMCONFIG_NAME_SERVER_PORT"] = std::to_string(sim.port());
            item.configs["SMCONFIG_NAME_SNAP_OP_RETRY_COUNT"] = "2";
            item.configs["SMCONFIG_STORAGE_PROXY_LIST_KEY"] = SimHarness::kProxy;
            item.setIscsiHost(SimHarness::hostName(), {SimHarness::iqn()});
        }
        attachHostToSim(batch.os, sim);
    }
    int run(zyso_lun_fn entry) { return entry(batch.data(), batch.count(), &batch.os); }

    SimHarness sim;
    krvntest::TestKeyFile key;
    krvntest::FakeLunBatch batch;
};

}  // namespace harden
