// The built plug-in, loaded as the host loads it, taking source vDisks of the simulator through
// prepare, create, revert, reconcile and delete, including objects that disappear on the
// cluster behind its back. Virtual time keeps the plug-in's fixed waits free.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include <httplib.h>

#include "FakeSnapHost.h"
#include "SimHarness.h"

using namespace krvntest;

namespace {

typedef int (*SnapEntry)(ZYSO::SnapInfo** items, int count, ZYSO::ZYOSUtil* osUtil);

struct SnapEntries {
    SnapEntry prepare = nullptr, create = nullptr, remove = nullptr, revert = nullptr, reconcile = nullptr;
};

const SnapEntries& plugin() {
    static SnapEntries entries = [] {
        SnapEntries e;
        void* lib = dlopen(KRVN_BUILD_LIB_DIR "/libZYKorvanSnap.so", RTLD_NOW | RTLD_LOCAL);
        if (lib == nullptr) {
            ADD_FAILURE() << dlerror();
            return e;
        }
        auto entry = [lib](const char* name) { return reinterpret_cast<SnapEntry>(dlsym(lib, name)); };
        e.prepare = entry("zyso_prepareDevices");
        e.create = entry("zyso_snapDevices");
        e.remove = entry("zyso_deleteSnaps");
        e.revert = entry("zyso_revertSnaps");
        e.reconcile = entry("zyso_reconcileSnaps");
        return e;
    }();
    return entries;
}

// The cluster serial a device of the default cluster reports: its name hash without the
// "0x", in upper case.
std::string clusterSerial() {
    std::string hash = std::string(SimHarness::kClusterHash).substr(2);
    std::transform(hash.begin(), hash.end(), hash.begin(), [](unsigned char c) { return std::toupper(c); });
    return hash;
}

// N source vDisks attached to this host and exposed to it through the storage proxy, so that
// revert has sessions to close and reopen.
korvansim::Json exposedSeed(int vdisks) {
    korvansim::Json seed = SimHarness::defaultSeed(vdisks);
    for (auto& disk : seed["vdisks"])
        disk["exposures"] = {{{"proxy", SimHarness::kProxy}, {"initiators", {SimHarness::iqn()}}}};
    return seed;
}

struct Lifecycle {
    explicit Lifecycle(int sources) : sim(exposedSeed(sources)), batch(sources) {
        EXPECT_TRUE(sim.ok()) << sim.error();
        std::vector<std::string> devices;
        const korvansim::Json state = sim.state();
        for (const auto& host : state["hosts"])
            if (host.value("name", "") == SimHarness::hostName())
                for (const auto& device : host["devices"]) devices.push_back(device.value("path", ""));
        EXPECT_EQ(static_cast<size_t>(sources), devices.size());
        for (size_t i = 0; i < batch.size(); ++i) {
            krvntest::FakeSnapInfo& item = batch[i];
            if (i < devices.size()) item.sourceDevice = devices[i];
            // Until prepare ties it, the host knows the item's array only by the cluster serial.
            item.arrayNumber = 0;
            item.arrayNumberForDetails[clusterSerial()] = 1;
            item.arrayRecord.name = SimHarness::kClusterName;
            item.arrayRecord.controlHost = "127.0.0.1";
            item.arrayRecord.user = SimHarness::kUser;
            item.arrayRecord.encryptedPassword = SimHarness::kPassword;
            item.configInts["SMCONFIG_NAME_SERVER_PORT"] = sim.port();
            item.configInts["SMCONFIG_NAME_SNAP_OP_RETRY_COUNT"] = 2;
            item.configLists["SMCONFIG_STORAGE_PROXY_LIST_KEY"] = {SimHarness::kProxy};
        }
    }
    int run(SnapEntry entry) {
        if (entry == nullptr) return -1;
        return entry(batch.data(), batch.count(), &batch.os);
    }
    std::vector<int> statuses() {
        std::vector<int> out;
        for (size_t i = 0; i < batch.size(); ++i) out.push_back(batch[i].status);
        return out;
    }
    std::vector<std::string> snapshotsOf(const std::string& vDisk) {
        std::vector<std::string> out;
        const korvansim::Json disk = sim.vdisk(vDisk);
        if (!disk.is_null())
            for (const auto& s : disk["snapshots"]) out.push_back(s.get<std::string>());
        return out;
    }
    // The targets this host is logged in to.
    std::vector<std::string> sessionTargets() {
        std::vector<std::string> out;
        const korvansim::Json state = sim.state();
        for (const auto& host : state["hosts"])
            if (host.value("name", "") == SimHarness::hostName())
                for (const auto& session : host["sessions"]) out.push_back(session.value("target", ""));
        return out;
    }
    int requests(const std::string& type) { return sim.counters()["requests"].value(type, 0); }
    // A change made on the cluster behind the plug-in's back.
    void admin(const std::string& path, const std::string& name) {
        httplib::Client client("127.0.0.1", sim.port());
        auto answer = client.Post(path, korvansim::Json{{"name", name}}.dump(), "application/json");
        ASSERT_TRUE(answer && answer->status == 200) << path << " " << name;
    }

    SimHarness sim;
    krvntest::FakeSnapBatch batch;
};

TEST(SnapshotLifecycle, SourcesGoFromPrepareThroughCreateRevertReconcileAndDelete) {
    Lifecycle w(2);
    ASSERT_EQ(0, w.run(plugin().prepare)) << w.batch[0].lastErrorMessage;
    EXPECT_EQ((std::vector<int>{kSnapPrepared, kSnapPrepared}), w.statuses());
    const std::string serial1 = std::to_string(w.sim.vdisk("vol1").value("serial", 0LL));
    EXPECT_EQ(clusterSerial() + "**vol1**" + serial1 + "**", w.batch[0].metadata[kMetaSnapshot]);
    EXPECT_EQ(1, w.batch[0].arrayNumber);

    ASSERT_EQ(0, w.run(plugin().create)) << w.batch[0].lastErrorMessage;
    EXPECT_EQ((std::vector<int>{kSnapCreated, kSnapCreated}), w.statuses());
    const std::string snap1 = w.batch[0].snapName, snap2 = w.batch[1].snapName;
    EXPECT_EQ(std::vector<std::string>{snap1}, w.snapshotsOf("vol1"));
    EXPECT_EQ(std::vector<std::string>{snap2}, w.snapshotsOf("vol2"));
    EXPECT_EQ(w.batch[0].metadata[kMetaSnapshot], clusterSerial() + "**vol1**" + serial1 + "**" + snap1 + "**");

    ASSERT_EQ(0, w.run(plugin().revert)) << w.batch[0].lastErrorMessage;
    EXPECT_EQ((std::vector<int>{kSnapReverted, kSnapReverted}), w.statuses());
    EXPECT_EQ(snap1, w.sim.vdisk("vol1").value("revertedTo", ""));
    EXPECT_EQ(snap2, w.sim.vdisk("vol2").value("revertedTo", ""));
    EXPECT_EQ((std::vector<std::string>{"iqn.2020-01.com.korvan:sp1:vol1", "iqn.2020-01.com.korvan:sp1:vol2"}),
              w.sessionTargets());

    ASSERT_EQ(0, w.run(plugin().reconcile)) << w.batch[0].lastErrorMessage;
    EXPECT_EQ((std::vector<int>{kSnapReverted, kSnapReverted}), w.statuses());

    ASSERT_EQ(0, w.run(plugin().remove)) << w.batch[0].lastErrorMessage;
    EXPECT_EQ((std::vector<int>{kSnapDeleted, kSnapDeleted}), w.statuses());
    EXPECT_TRUE(w.snapshotsOf("vol1").empty());
    EXPECT_TRUE(w.snapshotsOf("vol2").empty());
    // Every call that logged in also logged out.
    EXPECT_EQ(5, w.requests("Login"));
    EXPECT_EQ(5, w.requests("Logout"));
    EXPECT_EQ(0, w.batch[0].lastErrorCalls);
}

TEST(SnapshotLifecycle, ObjectsRemovedBehindThePluginsBackAreReconciledAndCountAsDeleted) {
    Lifecycle w(3);
    ASSERT_EQ(0, w.run(plugin().prepare)) << w.batch[0].lastErrorMessage;
    ASSERT_EQ(0, w.run(plugin().create)) << w.batch[0].lastErrorMessage;
    w.admin("/sim/admin/deleteVDisk", "vol2");
    w.admin("/sim/admin/deleteSnapshot", w.batch[2].snapName);

    ASSERT_EQ(0, w.run(plugin().reconcile)) << w.batch[0].lastErrorMessage;
    EXPECT_EQ((std::vector<int>{kSnapCreated, kSnapGoneFromArray, kSnapGoneFromArray}), w.statuses());

    // The source without a target stops the revert before anything is reverted.
    EXPECT_EQ(1, w.run(plugin().revert));
    EXPECT_EQ((std::vector<int>{kSnapRevertFailed, kSnapRevertFailed, kSnapRevertFailed}), w.statuses());
    EXPECT_EQ(60005, w.batch[0].lastErrorCode);
    EXPECT_EQ("Failed to get the SCSI target IQN for the device-[vol2]", w.batch[0].lastErrorMessage);
    EXPECT_EQ("", w.sim.vdisk("vol1").value("revertedTo", ""));
    EXPECT_EQ(0, w.requests("RevertToSnapshot"));

    const int listsBefore = w.requests("ListSnapshots");
    ASSERT_EQ(0, w.run(plugin().remove)) << w.batch[0].lastErrorMessage;
    EXPECT_EQ((std::vector<int>{kSnapDeleted, kSnapDeleted, kSnapDeleted}), w.statuses());
    EXPECT_EQ(1, w.requests("DeleteSnapshot"));
    EXPECT_EQ(3, w.requests("ListSnapshots") - listsBefore);
    EXPECT_TRUE(w.snapshotsOf("vol1").empty());
}

TEST(SnapshotLifecycle, SourcesTheClusterCannotServeFailOnlyTheirItems) {
    Lifecycle gone(3);
    const std::string serial3 = std::to_string(gone.sim.vdisk("vol3").value("serial", 0LL));
    gone.admin("/sim/admin/deleteVDisk", "vol3");
    EXPECT_EQ(1, gone.run(plugin().prepare));
    EXPECT_EQ((std::vector<int>{kSnapPrepared, kSnapPrepared, kSnapPrepareFailed}), gone.statuses());
    EXPECT_EQ(62008, gone.batch[0].lastErrorCode);
    EXPECT_EQ(
        "Found only [2] devices out of [3] on the array-[krvn-cluster] - logged in as [admin] user.\n"
        "Errors returned by cluster-[Unable to find virtual disk with scsi sn: " +
            serial3 + " ]",
        gone.batch[0].lastErrorMessage);

    Lifecycle marked(3);
    ASSERT_EQ(0, marked.run(plugin().prepare)) << marked.batch[0].lastErrorMessage;
    marked.admin("/sim/admin/markForDelete", "vol2");
    EXPECT_EQ(1, marked.run(plugin().create));
    EXPECT_EQ((std::vector<int>{kSnapCreated, kSnapCreateFailed, kSnapCreated}), marked.statuses());
    EXPECT_EQ(60001, marked.batch[0].lastErrorCode);
    EXPECT_EQ(1u, marked.snapshotsOf("vol1").size());
    EXPECT_TRUE(marked.snapshotsOf("vol2").empty());
    EXPECT_EQ(1u, marked.snapshotsOf("vol3").size());
}

}  // namespace
