// The real plug-in loaded through the host library, as korvan-host loads it.
#include <gtest/gtest.h>

#include "FixtureDevices.h"
#include "HostJob.h"
#include "HostTestDir.h"
#include "HostTexts.h"
#include "ScopedSettings.h"

using namespace KrvnHost;
using krvnhosttest::TempDir;

namespace {

const std::string kPluginPath = std::string(KRVN_BUILD_LIB_DIR) + "/libZYKorvanSnap.so";

bool logHas(const HostState& state, const std::string& text) {
    for (const auto& line : state.log)
        if (line.text.find(text) != std::string::npos) return true;
    return false;
}

}  // namespace

TEST(PluginThroughHost, LoadsEveryEntryPointAndAnswersItsVersion) {
    Plugin plugin;
    std::string error;
    ASSERT_TRUE(plugin.load(kPluginPath, &error)) << error;
    short major = 0, minor = 0, revision = 0;
    plugin.api().version(&major, &minor, &revision);
    EXPECT_EQ(major, 1);
    EXPECT_EQ(minor, 1);
    EXPECT_EQ(revision, 1);
    major = minor = revision = 0;
    plugin.api().provVersion(&major, &minor, &revision);
    EXPECT_EQ(major * 100 + minor * 10 + revision, 111);

    Plugin missing;
    EXPECT_FALSE(missing.load(std::string(KRVN_BUILD_LIB_DIR) + "/libZyPlatform.so", &error));
    EXPECT_NE(error.find("zyso_version"), std::string::npos) << error;
}

TEST(PluginThroughHost, SupportCheckOverFixtureDevicesAcceptsOnlyTheKorvanVDisk) {
    TempDir dir;
    std::string error;
    std::vector<FixtureDevice> devices =
        buildFixtureDevices(dir.file("devices"), std::string(KRVN_FIXTURE_DIR) + "/scsi", &error);
    ASSERT_FALSE(devices.empty()) << error;
    krvntest::ScopedSettings settings;
    settings.set("Platform", "deviceBackend", "fixture");
    settings.set("Platform", "deviceFixtureDir", dir.file("devices"));
    settings.set("Platform", "logFile", dir.file("plugin.log"));

    Plugin plugin;
    ASSERT_TRUE(plugin.load(kPluginPath, &error)) << error;
    HostJob job(StateFile(dir.file("state.json")), plugin);
    ASSERT_TRUE(job.begin(&error)) << error;
    job.setSystem(std::make_unique<LinuxHostSystem>(dir.path()));
    for (const auto& d : devices) {
        SCOPED_TRACE(d.path + ": " + d.what);
        EXPECT_EQ(job.isSupported(d.path), d.korvan ? 0 : 1);
    }
}

// Failures that need no cluster still cross every boundary: the item slots the plug-in calls
// (status, array number, id, log, last error) must land where the host expects them.
TEST(PluginThroughHost, ItemSlotsReachTheHostInOrderOnFailurePaths) {
    TempDir dir;
    krvntest::ScopedSettings settings;
    settings.set("Platform", "logFile", dir.file("plugin.log"));
    std::string error;
    Plugin plugin;
    ASSERT_TRUE(plugin.load(kPluginPath, &error)) << error;
    HostJob job(StateFile(dir.file("state.json")), plugin);
    ASSERT_TRUE(job.begin(&error)) << error;
    job.setSystem(std::make_unique<LinuxHostSystem>(dir.path()));
    long long first = job.addSnapItem("/dev/sdb", 0, 1);
    long long second = job.addSnapItem("/dev/sdc", 0, 1);
    job.state().findSnap(first)->status = 1;
    job.state().findSnap(second)->status = 1;

    // Items that were never tied to an array cannot be snapped.
    CallOutcome snap = job.runSnap(SnapOp::Snap, {first, second});
    EXPECT_EQ(snap.result, 1);
    EXPECT_EQ(snap.errorCode, 60001);
    EXPECT_NE(snap.errorText.find("The snap-[" + std::to_string(first) + "] is not associated"),
              std::string::npos)
        << snap.errorText;
    EXPECT_EQ(job.state().findSnap(first)->status, 6);
    EXPECT_EQ(job.state().findSnap(second)->status, 6);
    EXPECT_EQ(job.state().findSnap(second)->lastErrorCode, 0) << "only the first item gets the error";
    EXPECT_TRUE(logHas(job.state(), "KRVN  Going to create [2] snapshots.."));
    EXPECT_TRUE(logHas(job.state(), "KRVN  Snapshot creation failed.."));

    // Delete of items with no array marks them deleted without a cluster.
    CallOutcome del = job.runSnap(SnapOp::Delete, {first, second});
    EXPECT_EQ(del.result, 0) << del.errorText;
    EXPECT_EQ(job.state().findSnap(first)->status, 20);
    EXPECT_EQ(job.state().findSnap(second)->status, 20);

    // The outcome was saved with the items.
    HostState saved;
    ASSERT_TRUE(StateFile(dir.file("state.json")).load(&saved, &error)) << error;
    EXPECT_EQ(saved.findSnap(first)->status, 20);
    EXPECT_TRUE(logHas(saved, "KRVN  Going to create [2] snapshots.."));

    ZYSO::SnapInfo* none[] = {nullptr};
    EXPECT_EQ(plugin.api().unprepareDevices(none, 1, nullptr), 1);
}

TEST(PluginThroughHost, ItemsOfDifferentArraysGoInOneCallPerArray) {
    TempDir dir;
    krvntest::ScopedSettings settings;
    settings.set("Platform", "logFile", dir.file("plugin.log"));
    std::string error;
    Plugin plugin;
    ASSERT_TRUE(plugin.load(kPluginPath, &error)) << error;
    HostJob job(StateFile(dir.file("state.json")), plugin);
    ASSERT_TRUE(job.begin(&error)) << error;
    job.setSystem(std::make_unique<LinuxHostSystem>(dir.path()));
    for (int number : {1, 2}) {
        ArrayEntry a;
        a.number = number;
        a.name = "array" + std::to_string(number);
        a.controlHost = "127.0.0.1";
        a.user = "admin";
        job.state().arrays.push_back(a);
    }
    std::vector<long long> ids;
    for (int array : {1, 2, 1}) {
        ids.push_back(job.addSnapItem("/dev/sdb", 0, 1));
        job.state().findSnap(ids.back())->arrayNumber = array;
        job.state().findSnap(ids.back())->status = 5;
    }

    // Items without snapshot metadata are deleted without a cluster, one call per array.
    CallOutcome del = job.runSnap(SnapOp::Delete, ids);
    EXPECT_EQ(del.result, 0) << del.errorText << del.hostError;
    EXPECT_EQ(del.snapIds, (std::vector<long long>{ids[0], ids[2], ids[1]}));
    EXPECT_TRUE(logHas(job.state(), "KRVN  Going to delete [2] snapshots.."));
    EXPECT_TRUE(logHas(job.state(), "KRVN  Going to delete [1] snapshots.."));
    for (long long id : ids) EXPECT_EQ(job.state().findSnap(id)->status, 20);
}

// Prepare of a fixture vDisk reaches every Array Management slot: the host cannot place the
// cluster serial, so the plug-in lists the vendor's arrays, reads each one's details and ties
// the item with "name|serial"; only the login at the end fails (nothing listens on port 1).
TEST(PluginThroughHost, PrepareTiesTheItemToTheArrayWhoseClusterIdMatches) {
    TempDir dir;
    std::string error;
    std::vector<FixtureDevice> devices =
        buildFixtureDevices(dir.file("devices"), std::string(KRVN_FIXTURE_DIR) + "/scsi", &error);
    ASSERT_FALSE(devices.empty()) << error;
    const std::string clusterSerial = "001A2B3C4D5E6F";   // of the captured Korvan target
    krvntest::ScopedSettings settings;
    settings.set("Platform", "deviceBackend", "fixture");
    settings.set("Platform", "deviceFixtureDir", dir.file("devices"));
    settings.set("Platform", "logFile", dir.file("plugin.log"));
    settings.set("Ovelin", "sZYKorvanClusterUniqueId_other", "FFFFFFFFFFFFFF");
    settings.set("Ovelin", "sZYKorvanClusterUniqueId_beta", clusterSerial);

    Plugin plugin;
    ASSERT_TRUE(plugin.load(kPluginPath, &error)) << error;
    HostJob job(StateFile(dir.file("state.json")), plugin);
    ASSERT_TRUE(job.begin(&error)) << error;
    job.setSystem(std::make_unique<LinuxHostSystem>(dir.path()));
    int number = 0;
    for (const char* name : {"other", "beta"}) {
        ArrayEntry a;
        a.number = ++number;
        a.name = name;
        a.vendor = kKorvanVendor;
        a.controlHost = "127.0.0.1";
        a.user = "admin";
        a.configInts[kCfgServerPort] = 1;
        job.state().arrays.push_back(a);
    }
    long long id = job.addSnapItem(devices[0].path, 0, 1);

    CallOutcome prepare = job.runSnap(SnapOp::Prepare, {id});
    EXPECT_EQ(job.state().findSnap(id)->arrayNumber, 2);
    EXPECT_EQ(job.state().findArray("beta")->serial, clusterSerial);
    EXPECT_EQ(job.state().findArray("other")->serial, "");
    EXPECT_EQ(prepare.result, 1) << "no cluster listens";
    EXPECT_EQ(prepare.errorCode, 62008);
    EXPECT_EQ(job.state().findSnap(id)->status, 2);
}
