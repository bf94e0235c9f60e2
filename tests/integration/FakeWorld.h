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

#include <httplib.h>

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

// One list of this host as the simulator has it ("devices", "sessions"), by value so that a
// range-for over it is safe. Safe on any thread.
inline korvansim::Json simHost(SimHarness& sim, const char* list) {
    const korvansim::Json state = sim.sim().state();
    for (const auto& host : state["hosts"])
        if (host.value("name", "") == SimHarness::hostName()) return host.value(list, korvansim::Json::array());
    return korvansim::Json::array();
}

// The device paths the simulator gives this host, in order of appearance. Safe on any thread.
inline std::vector<std::string> simDevices(SimHarness& sim) {
    std::vector<std::string> paths;
    for (const auto& device : simHost(sim, "devices")) paths.push_back(device.value("path", ""));
    return paths;
}

// A change made on the cluster behind the plug-in's back: /sim/admin/<what> of the named object.
inline void simAdmin(SimHarness& sim, const std::string& what, const std::string& name) {
    httplib::Client client("127.0.0.1", sim.port());
    auto answer = client.Post("/sim/admin/" + what, korvansim::Json{{"name", name}}.dump(), "application/json");
    ASSERT_TRUE(answer && answer->status == 200) << what << " " << name;
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

// A snapshot item of the simulated cluster at 127.0.0.1:port, and the OS utility's Array
// Management entry for it. The fake item decrypts the stored password as is.
inline void onSimArray(krvntest::FakeSnapInfo& item, krvntest::FakeOSUtil& os, int port, const std::string& password) {
    item.arrayRecord.name = SimHarness::kClusterName;
    item.arrayRecord.controlHost = "127.0.0.1";
    item.arrayRecord.user = SimHarness::kUser;
    item.arrayRecord.encryptedPassword = password;
    item.configInts["SMCONFIG_NAME_SERVER_PORT"] = port;
    item.configInts["SMCONFIG_NAME_SNAP_OP_RETRY_COUNT"] = 2;
    item.configLists["SMCONFIG_STORAGE_PROXY_LIST_KEY"] = {SimHarness::kProxy};
    os.arrayList = SimHarness::kClusterName;
    os.arrayDetails[SimHarness::kClusterName] =
        std::string("{id:1,hostName:127.0.0.1,hostUserName:") + SimHarness::kUser + ",hostPassword:" + password + "}";
}

// A provisioning item for a new 2 GiB disk of the simulated cluster at 127.0.0.1:port, mapped to
// this host's initiator.
inline void onSimCluster(krvntest::FakeLunInfo& item, const std::string& disk, int port,
                         const std::string& storedPassword) {
    item.diskName = disk;
    item.clusterName = SimHarness::kClusterName;
    item.controlHost = "127.0.0.1";
    item.userName = SimHarness::kUser;
    item.storedPassword = storedPassword;
    item.size = 2L << 30;
    item.configs["SMCONFIG_NAME_SERVER_PORT"] = std::to_string(port);
    item.configs["SMCONFIG_NAME_SNAP_OP_RETRY_COUNT"] = "2";
    item.configs["SMCONFIG_STORAGE_PROXY_LIST_KEY"] = SimHarness::kProxy;
    item.setIscsiHost(SimHarness::hostName(), {SimHarness::iqn()});
}

struct SnapWorld {
    explicit SnapWorld(int items = 1, const std::string& password = SimHarness::kPassword)
        : sim(exposedSourcesSeed(items, password)), batch(items) {
        EXPECT_TRUE(sim.ok()) << sim.error();
        sim.settings().set("Platform", "logFile", "/dev/null");
        const std::vector<std::string> devices = simDevices(sim);
        for (size_t i = 0; i < batch.size(); ++i) {
            if (i < devices.size()) batch[i].sourceDevice = devices[i];
            onSimArray(batch[i], batch.os, sim.port(), password);
        }
        attachHostToSim(batch.os, sim);
    }
    int run(zyso_snap_fn entry) { return entry(batch.data(), batch.count(), &batch.os); }
    int requests(const std::string& type) { return sim.counters()["requests"].value(type, 0); }

    SimHarness sim;
    krvntest::FakeSnapBatch batch;
};

struct LunWorld {
    explicit LunWorld(int items = 1, const std::string& password = SimHarness::kPassword)
        : sim(exposedSourcesSeed(0, password)) {
        EXPECT_TRUE(sim.ok()) << sim.error();
        sim.settings().set("Platform", "logFile", "/dev/null");
        sim.settings().set("Platform", "keyFile", key.path());
        for (int i = 0; i < items; ++i)
            onSimCluster(batch.add(), "pv" + std::to_string(i + 1), sim.port(), key.encrypt(password));
        attachHostToSim(batch.os, sim);
    }
    int run(zyso_lun_fn entry) { return entry(batch.data(), batch.count(), &batch.os); }

    SimHarness sim;
    krvntest::TestKeyFile key;
    krvntest::FakeLunBatch batch;
};

}  // namespace harden
