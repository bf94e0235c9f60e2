// The real plug-in loaded through the host library, as korvan-host loads it.
#include <gtest/gtest.h>

#include "FixtureDevices.h"
#include "HostJob.h"
#include "HostTexts.h"
#include "ScopedSettings.h"
#include "TempDir.h"

using namespace KrvnHost;
using krvntest::TempDir;

namespace {

const std::string kPluginPath = std::string(KRVN_BUILD_LIB_DIR) + "/libZYKorvanSnap.so";

// A job over the loaded plug-in, a state file and the captured SCSI fixture devices.
struct PluginHost {
    TempDir dir;
    krvntest::ScopedSettings settings;
    Plugin plugin;
    std::unique_ptr<HostJob> job;
    std::vector<FixtureDevice> devices;
    std::string error;

    PluginHost() {
        devices = buildFixtureDevices(dir.file("devices"), std::string(KRVN_FIXTURE_DIR) + "/scsi", &error);
        EXPECT_FALSE(devices.empty()) << error;
        settings.set("Platform", "deviceBackend", "fixture");
        settings.set("Platform", "deviceFixtureDir", dir.file("devices"));
        settings.set("Platform", "logFile", dir.file("plugin.log"));
        EXPECT_TRUE(plugin.load(kPluginPath, &error)) << error;
        job = std::make_unique<HostJob>(StateFile(dir.file("state.json")), plugin);
        EXPECT_TRUE(job->begin(&error)) << error;
        job->setSystem(std::make_unique<LinuxHostSystem>(dir.path()));
    }
    void addArray(int number, const std::string& name) {  // nothing listens on its port
        job->state().arrays.push_back(
            {number, name, kKorvanVendor, "127.0.0.1", "admin", "", "", {{kCfgServerPort, 1}}, {}});
    }
    SnapItem& item(long long id) { return *job->state().findSnap(id); }
    bool logHas(const HostState& state, const std::string& text) const {
        for (const auto& line : state.log)
            if (line.text.find(text) != std::string::npos) return true;
        return false;
    }
};

}  // namespace

TEST(PluginThroughHost, LoadsEveryEntryPointAnswersItsVersionAndKnowsItsDevices) {
    PluginHost h;
    short major = 0, minor = 0, revision = 0;
    h.plugin.api().version(&major, &minor, &revision);
    EXPECT_EQ(major * 100 + minor * 10 + revision, 111);
    major = minor = revision = 0;
    h.plugin.api().provVersion(&major, &minor, &revision);
    EXPECT_EQ(major * 100 + minor * 10 + revision, 111);

    Plugin missing;
    EXPECT_FALSE(missing.load(std::string(KRVN_BUILD_LIB_DIR) + "/libZyPlatform.so", &h.error));
    EXPECT_NE(h.error.find("zyso_version"), std::string::npos) << h.error;
    // The support check over the captured devices accepts only the Korvan vDisk.
    for (const auto& d : h.devices) EXPECT_EQ(h.job->isSupported(d.path), d.korvan ? 0 : 1) << d.path << ": " << d.what;
}

// Failures that need no cluster still cross every boundary: the item slots the plug-in calls
// (status, array number, id, log, last error) must land where the host expects them.
TEST(PluginThroughHost, ItemSlotsReachTheHostInOrderOnFailurePaths) {
    PluginHost h;
    long long first = h.job->addSnapItem("/dev/sdb", 0, 1);
    long long second = h.job->addSnapItem("/dev/sdc", 0, 1);
    h.item(first).status = h.item(second).status = kSnapPrepared;

    // Items that were never tied to an array cannot be snapped.
    CallOutcome snap = h.job->runSnap(SnapOp::Snap, {first, second});
    EXPECT_EQ(snap.result, 1);
    EXPECT_EQ(snap.errorCode, 60001);
    EXPECT_NE(snap.errorText.find("The snap-[" + std::to_string(first) + "] is not associated"), std::string::npos)
        << snap.errorText;
    EXPECT_EQ(h.item(first).status, kSnapCreateFailed);
    EXPECT_EQ(h.item(second).status, kSnapCreateFailed);
    EXPECT_EQ(h.item(second).lastErrorCode, 0) << "only the first item gets the error";
    EXPECT_TRUE(h.logHas(h.job->state(), "KRVN  Going to create [2] snapshots.."));

    ZYSO::SnapInfo* none[] = {nullptr};
    EXPECT_EQ(h.plugin.api().unprepareDevices(none, 1, nullptr), 1);
}

TEST(PluginThroughHost, ItemsOfDifferentArraysGoInOneCallPerArray) {
    PluginHost h;
    h.addArray(1, "array1");
    h.addArray(2, "array2");
    std::vector<long long> ids;
    for (int array : {1, 2, 1}) {
        ids.push_back(h.job->addSnapItem("/dev/sdb", 0, 1));
        h.item(ids.back()).arrayNumber = array;
        h.item(ids.back()).status = kSnapCreated;
    }
    // Items without snapshot metadata are deleted without a cluster.
    CallOutcome del = h.job->runSnap(SnapOp::Delete, ids);
    EXPECT_EQ(del.result, 0) << del.errorText << del.hostError;
    EXPECT_EQ(del.snapIds, (std::vector<long long>{ids[0], ids[2], ids[1]}));
    // The outcome and the job log were saved with the items.
    HostState saved;
    ASSERT_TRUE(StateFile(h.dir.file("state.json")).load(&saved, &h.error)) << h.error;
    for (long long id : ids) EXPECT_EQ(saved.findSnap(id)->status, kSnapDeleted);
    EXPECT_TRUE(h.logHas(saved, "KRVN  Going to delete [2] snapshots.."));
    EXPECT_TRUE(h.logHas(saved, "KRVN  Going to delete [1] snapshots.."));
}

// Prepare of a fixture vDisk reaches every Array Management slot: the host cannot place the
// cluster serial, so the plug-in lists the vendor's arrays, reads each one's details and ties
// the item with "name|serial"; only the login at the end fails.
TEST(PluginThroughHost, PrepareTiesTheItemToTheArrayWhoseClusterIdMatches) {
    PluginHost h;
    const std::string clusterSerial = "001A2B3C4D5E6F";  // of the captured Korvan target
    h.settings.set("Ovelin", "sZYKorvanClusterUniqueId_other", "FFFFFFFFFFFFFF");
    h.settings.set("Ovelin", "sZYKorvanClusterUniqueId_beta", clusterSerial);
    h.addArray(1, "other");
    h.addArray(2, "beta");
    long long id = h.job->addSnapItem(h.devices[0].path, 0, 1);

    CallOutcome prepare = h.job->runSnap(SnapOp::Prepare, {id});
    EXPECT_EQ(h.item(id).arrayNumber, 2);
    EXPECT_EQ(h.job->state().findArray("beta")->serial, clusterSerial);
    EXPECT_EQ(h.job->state().findArray("other")->serial, "");
    EXPECT_EQ(prepare.result, 1) << "no cluster listens";
    EXPECT_EQ(prepare.errorCode, 62008);
    EXPECT_EQ(h.item(id).status, kSnapPrepareFailed);
}
