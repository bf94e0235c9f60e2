// The data path, byte for byte: what a snapshot holds is what its mapped device reads, a revert
// puts it back on the source, and a provisioned disk shows with the size asked for. The
// plug-in, the iSCSI module and the device tree run over libiscsi against the simulator's own
// iSCSI target, as a host's initiator would.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "CWqLibrary.h"
#include "FakeWorld.h"
#include "ZyISCSIModule.h"
#include "ZyIscsiSessions.h"

namespace {

using harden::LunWorld;
using harden::SnapWorld;
using krvntest::FakeOSUtil;

constexpr uint64_t kFirstBlock = 64;
constexpr uint32_t kBlocks = 16;

// The devices of this process's iSCSI sessions: the host's device list on this data path.
std::vector<std::string> sessionDevices() {
    std::vector<std::string> devices;
    for (const ZyIscsiSessions::Session& s : ZyIscsiSessions::list()) devices.push_back(s.device);
    return devices;
}

void listSessionDevices(FakeOSUtil& os) {
    os.deviceLists = {sessionDevices()};
    os.onRefreshBus = [](FakeOSUtil& self) { self.deviceLists = {sessionDevices()}; };
}

std::string pattern(char seed, uint32_t blockSize) {
    std::string bytes(kBlocks * blockSize, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(seed + i % 251);
    return bytes;
}

std::string readBack(const std::string& device, size_t length) {
    std::string bytes(length, '\0');
    std::string error;
    EXPECT_TRUE(ZyIscsiSessions::readBlocks(device, kFirstBlock, kBlocks, bytes.data(), error))
        << device << ": " << error;
    return bytes;
}

void write(const std::string& device, const std::string& bytes) {
    std::string error;
    ASSERT_TRUE(ZyIscsiSessions::writeBlocks(device, kFirstBlock, kBlocks, bytes.data(), error))
        << device << ": " << error;
}

// The host's iSCSI module, loaded as the plug-in loads it; the instance goes before its library.
struct HostInitiator {
    CWqLibrary library{true};
    std::unique_ptr<ZyISCSIModule> module;
    HostInitiator() {
        void* address = nullptr;
        if (!library.Load("libZyISCSI.so", false).IsError() && !library.GetAddress("GetInstance", address).IsError())
            module.reset(reinterpret_cast<ZyISCSIModule* (*)()>(address)());
    }
    ~HostInitiator() { module.reset(); }
};

TEST(DataPath, TheMappedSnapshotReadsWhatTheSourceHeldAndARevertPutsItBackOnTheSource) {
    const zyso_snap_fn prepare = harden::plugin().prepareDevices, snap = harden::plugin().snapDevices,
                       map = harden::plugin().mapSnaps, unmap = harden::plugin().unmapSnaps,
                       revert = harden::plugin().revertSnaps, remove = harden::plugin().deleteSnaps;
    SnapWorld w(1);
    ASSERT_TRUE(w.sim.useIscsi()) << w.sim.error();
    w.sim.settings().set("Platform", "debugLevel", "2");
    // The source as the host holds it: a session to its vDisk on the storage proxy.
    HostInitiator host;
    ASSERT_TRUE(host.module);
    const std::string target = korvansim::Cluster::targetIqnFor(krvntest::SimHarness::kProxy, "vol1");
    ASSERT_TRUE(host.module->login(krvntest::SimHarness::kProxy, target.c_str()));
    const std::string source = ZyIscsiSessions::deviceOf(target);
    uint64_t blocks = 0;
    uint32_t blockSize = 0;
    std::string error;
    ASSERT_TRUE(ZyIscsiSessions::capacity(source, blocks, blockSize, error)) << error;
    w.batch[0].sourceDevice = source;
    listSessionDevices(w.batch.os);

    const std::string before = pattern('A', blockSize), after = pattern('b', blockSize);
    write(source, before);
    ASSERT_EQ(prepare(w.batch.data(), w.batch.count(), &w.batch.os), 0) << w.batch[0].lastErrorMessage;
    ASSERT_EQ(snap(w.batch.data(), w.batch.count(), &w.batch.os), 0) << w.batch[0].lastErrorMessage;
    write(source, after);

    ASSERT_EQ(map(w.batch.data(), w.batch.count(), &w.batch.os), 0) << w.batch[0].lastErrorMessage;
    const std::string mapped = w.batch[0].mappedDevice;
    EXPECT_NE(mapped, source);
    EXPECT_TRUE(readBack(mapped, before.size()) == before) << "the mapped snapshot does not hold the source's data";
    EXPECT_TRUE(readBack(source, after.size()) == after) << "the source lost what was written after the snapshot";
    ASSERT_EQ(unmap(w.batch.data(), w.batch.count(), &w.batch.os), 0) << w.batch[0].lastErrorMessage;
    EXPECT_EQ(ZyIscsiSessions::list().size(), 1u) << "the clone's session outlived its unmap";

    // Revert logs the host out of the source and back in: the device is new, the data old.
    ASSERT_EQ(revert(w.batch.data(), w.batch.count(), &w.batch.os), 0) << w.batch[0].lastErrorMessage;
    const std::string reverted = ZyIscsiSessions::deviceOf(target);
    ASSERT_FALSE(reverted.empty()) << "the host is not logged back in to the source";
    EXPECT_TRUE(readBack(reverted, before.size()) == before) << "the revert did not bring the snapshot's data back";
    EXPECT_EQ(remove(w.batch.data(), w.batch.count(), &w.batch.os), 0) << w.batch[0].lastErrorMessage;
    EXPECT_TRUE(host.module->logout(krvntest::SimHarness::kProxy, target.c_str()));
}

TEST(DataPath, AProvisionedDiskShowsOnTheHostWithTheSizeAskedFor) {
    const KrvnHost::PluginApi& api = harden::plugin();
    LunWorld w(1);
    ASSERT_TRUE(w.sim.useIscsi()) << w.sim.error();
    w.sim.settings().set("Platform", "debugLevel", "2");
    listSessionDevices(w.batch.os);
    w.batch[0].size = 3L << 30;
    ASSERT_EQ(w.run(api.createLUNs), 0) << w.batch[0].lastErrorMessage;
    ASSERT_EQ(w.run(api.mapLUNs), 0) << w.batch[0].lastErrorMessage;
    uint64_t blocks = 0;
    uint32_t blockSize = 0;
    std::string error;
    ASSERT_TRUE(ZyIscsiSessions::capacity(w.batch[0].deviceName, blocks, blockSize, error)) << error;
    EXPECT_EQ(blocks * blockSize, 3ull << 30);
    EXPECT_EQ(w.run(api.unmapLUNs), 0) << w.batch[0].lastErrorMessage;
    EXPECT_TRUE(ZyIscsiSessions::list().empty()) << "the unmap left the disk's session";
    EXPECT_EQ(w.run(api.deleteLUNs), 0) << w.batch[0].lastErrorMessage;
}

}  // namespace
