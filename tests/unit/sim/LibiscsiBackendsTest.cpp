// The platform's libiscsi backends against the simulator's target: the iSCSI module loaded as
// the plug-in loads it, the plug-in's own INQUIRY reading through the device tree, and the
// block helpers carrying data both ways.
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "KrvnCommonCtx.h"
#include "KrvnCommonUtils.h"
#include "SimTestClient.h"
#include "ZyDeviceTree.h"
#include "ZyISCSIModule.h"
#include "ZyIscsiSessions.h"

using korvansim::Json;
using krvntest::SimHarness;
using ZYKorvanCommon::GetZyISCSIInstance;

namespace {

std::string targetDevice(ZyISCSIModule& iscsi, const std::string& target) {
    char buffer[256] = {0};
    unsigned long long length = sizeof buffer - 1;
    EXPECT_TRUE(iscsi.getTargetDevice(target.c_str(), buffer, &length)) << target;
    return buffer;
}

TEST(LibiscsiBackends, SessionsFollowAccessEntriesAndTheirDevicesAnswerThePluginAndCarryData) {
    SimHarness sim(1);
    ASSERT_TRUE(sim.ok() && sim.useIscsi()) << sim.error();
    sim.settings().set("Platform", "debugLevel", "2");  // no hex dumps on the test's output
    simtest::SimClient c(sim);
    auto expose = [&](const std::string& vdisk) {
        c.sendOk("AddLun", "virtualDisks:['" + vdisk + "'], targets:['sp1'], readonly:false");
        return korvansim::Cluster::targetIqnFor("sp1", vdisk);
    };
    auto grant = [&](const std::string& vdisk) {
        c.sendOk("PersistACLAccess",
                 "virtualDisks:['" + vdisk + "'], host:'sp1', address:'" + SimHarness::iqn() + "', type:iqn");
    };
    c.sendOk("AddVirtualDisk", "name:'flow', size:{unit:'GB', value:1}, diskType:BLOCK");
    const std::string target = expose("flow");

    CWqLibrary library(true);
    std::unique_ptr<ZyISCSIModule> iscsi(GetZyISCSIInstance(library));
    ASSERT_TRUE(iscsi);
    EXPECT_EQ(iscsi->discoverPortal("sp1"), 0);
    EXPECT_EQ(iscsi->discoverPortal("127.0.0.1:1"), -1) << "nothing listens there";
    EXPECT_FALSE(iscsi->login("sp1", target.c_str())) << "no access entry yet";
    EXPECT_EQ(targetDevice(*iscsi, target), "");
    grant("flow");
    ASSERT_TRUE(iscsi->login("sp1", target.c_str()));
    const std::string first = targetDevice(*iscsi, target);
    EXPECT_EQ(first.rfind("/dev/sd", 0), 0u) << first;
    EXPECT_TRUE(iscsi->login("sp1", target.c_str()));
    EXPECT_EQ(targetDevice(*iscsi, target), first) << "a second login keeps the session";
    // Logins racing from several threads while none is logged in settle on one session.
    ASSERT_TRUE(iscsi->logout("sp1", target.c_str()));
    std::vector<std::string> raced(4);
    std::vector<std::thread> racers;
    for (std::string& seen : raced)
        racers.emplace_back([&iscsi, &target, &seen] {
            if (iscsi->login("sp1", target.c_str())) seen = targetDevice(*iscsi, target);
        });
    for (std::thread& racer : racers) racer.join();
    const std::string device = raced.front();
    EXPECT_NE(device, first);
    EXPECT_EQ(raced, std::vector<std::string>(4, device));
    EXPECT_EQ(ZyIscsiSessions::list().size(), 1u);
    EXPECT_EQ(sim.state()["iscsi"]["sessions"][0]["initiator"], SimHarness::iqn());

    ZYKorvanCommon::KrvnCommonCtx ctx(nullptr);
    ZYKorvanCommon::KrvnCommonUtils utils(&ctx);
    std::string serial, clusterSerial;
    ASSERT_EQ(utils.inquireDevice(device, serial, clusterSerial), 0) << ctx.errorText.str();
    EXPECT_EQ(serial, std::to_string(sim.vdisk("flow")["serial"].get<int64_t>()));
    EXPECT_EQ(clusterSerial, "1A2B3C4D5E6F70");

    uint64_t blocks = 0;
    uint32_t blockSize = 0;
    std::string error;
    ASSERT_TRUE(ZyIscsiSessions::capacity(device, blocks, blockSize, error)) << error;
    EXPECT_EQ(blocks * blockSize, 1ull << 30);
    std::string pattern(8 * blockSize, '\0');
    for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<char>(i * 13 + 1);
    ASSERT_TRUE(ZyIscsiSessions::writeBlocks(device, 100, 8, pattern.data(), error)) << error;
    std::string onDisk(pattern.size(), '\0');
    ASSERT_TRUE(sim.sim().diskImage("flow")->read(100ull * blockSize, onDisk.data(), onDisk.size()));
    EXPECT_EQ(onDisk, pattern) << "the bytes reached the vDisk's image";
    EXPECT_FALSE(ZyIscsiSessions::readBlocks(device, blocks, 1, onDisk.data(), error)) << "past the end";
    EXPECT_NE(error, "");

    // A snapshot of the written disk, cloned and mapped: the clone's device reads the same.
    std::string snap = c.sendOk("MakeSnapshot", "virtualDisks:['flow']")["result"][0]["snapshotName"];
    c.sendOk("CloneSnapshot", "name:'flowclone', clonedSnapshotName:'" + snap + "'");
    const std::string cloneTarget = expose("flowclone");
    grant("flowclone");
    ASSERT_TRUE(iscsi->login("sp1", cloneTarget.c_str()));
    const std::string cloneDevice = targetDevice(*iscsi, cloneTarget);
    EXPECT_NE(cloneDevice, device);
    std::string read(pattern.size(), '\0');
    ASSERT_TRUE(ZyIscsiSessions::readBlocks(cloneDevice, 100, 8, read.data(), error)) << error;
    EXPECT_EQ(read, pattern);

    // The cluster withdrawing a target ends its session: the device fails until logged out.
    c.sendOk("UnmapLun", "virtualDisk:'flow', target:'sp1'");
    EXPECT_FALSE(ZyIscsiSessions::readBlocks(device, 100, 8, read.data(), error));
    EXPECT_TRUE(iscsi->logout("sp1", target.c_str()));
    EXPECT_FALSE(iscsi->logout("sp1", target.c_str())) << "no session left";
    EXPECT_EQ(targetDevice(*iscsi, target), "");
    CWqError missing;
    EXPECT_FALSE(ZyDeviceTree::getDevice(device.c_str(), &missing));
    EXPECT_TRUE(missing.IsError());
    EXPECT_TRUE(iscsi->logout("sp1", cloneTarget.c_str()));
    EXPECT_TRUE(ZyIscsiSessions::list().empty());
}

}  // namespace
