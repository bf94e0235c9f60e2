#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <memory>

#include "KrvnCommonCtx.h"
#include "KrvnCommonUtils.h"
#include "SimTestClient.h"
#include "TempDir.h"
#include "ZyDeviceTree.h"
#include "ZyISCSIModule.h"

using korvansim::Json;
using krvntest::SimHarness;
using ZYKorvanCommon::GetZyISCSIInstance;

namespace {

// The device a module reports for a target ("" when not logged in); false when the query failed.
bool targetDevice(ZyISCSIModule& iscsi, const std::string& target, std::string& out) {
    char buffer[4096] = {0};
    unsigned long long length = sizeof buffer - 1;
    bool ok = iscsi.getTargetDevice(target.c_str(), buffer, &length);
    out = buffer;
    return ok;
}

TEST(SimBackends, AClonedSnapshotReachesTheHostAsAKorvanDeviceThroughThePlatform) {
    SimHarness sim(1);
    ASSERT_TRUE(sim.ok()) << sim.error();
    sim.settings().set("Platform", "debugLevel", "2");  // no hex dumps on the test's output
    simtest::SimClient c(sim);
    c.sendOk("AddVirtualDisk", "name:'flow', size:{unit:'GB', value:4}, diskType:BLOCK");
    std::string snap = c.sendOk("MakeSnapshot", "virtualDisks:['flow']")["result"][0]["snapshotName"];
    c.sendOk("CloneSnapshot", "name:'flowclone', clonedSnapshotName:'" + snap + "'");
    c.sendOk("AddLun", "virtualDisks:['flowclone'], targets:['sp1'], readonly:false");
    std::string target =
        c.sendOk("ShowTarget", "host:'sp1', protocols:'block'")["result"]["Lun Information"][0]["Target"];

    CWqLibrary library(true);  // loaded the way the plug-in loads it
    std::unique_ptr<ZyISCSIModule> iscsi(GetZyISCSIInstance(library));
    ASSERT_TRUE(iscsi);
    long long job = 42;
    iscsi->setJobId(&job);
    EXPECT_EQ(iscsi->discoverPortal("sp1"), 0);
    std::string device;
    EXPECT_TRUE(targetDevice(*iscsi, target, device) && device.empty());
    EXPECT_FALSE(iscsi->login("sp1", target.c_str())) << "no access granted yet";
    c.sendOk("PersistACLAccess",
             "virtualDisks:['flowclone'], host:'sp1', address:'" + SimHarness::iqn() + "', type:iqn");
    ASSERT_TRUE(iscsi->login("sp1", target.c_str()));
    ASSERT_TRUE(targetDevice(*iscsi, target, device));
    EXPECT_EQ(device, "/dev/sdc");

    ZYKorvanCommon::KrvnCommonCtx ctx(nullptr);
    ZYKorvanCommon::KrvnCommonUtils utils(&ctx);
    std::string serial, clusterSerial;
    ASSERT_EQ(utils.inquireDevice(device, serial, clusterSerial), 0) << ctx.errorText.str();
    EXPECT_EQ(serial, std::to_string(sim.vdisk("flowclone")["serial"].get<int64_t>()));
    EXPECT_EQ(clusterSerial, "1A2B3C4D5E6F70") << "the cluster name hash, normalised";

    ASSERT_TRUE(iscsi->logout("sp1", target.c_str()));
    EXPECT_FALSE(iscsi->logout("sp1", target.c_str())) << "no session left";
    EXPECT_TRUE(targetDevice(*iscsi, target, device) && device.empty());
    CWqError error;
    EXPECT_FALSE(ZyDeviceTree::getDevice("/dev/sdc", &error));
    EXPECT_TRUE(error.IsError());
    EXPECT_TRUE(ZyDeviceTree::getDevice("/dev/sdb", &error)) << error.AsString();

    sim.settings().set("Platform", "simulatorUrl", "http://127.0.0.1:1");
    EXPECT_FALSE(iscsi->login("sp1", target.c_str()));
    EXPECT_FALSE(targetDevice(*iscsi, target, device)) << "an unreachable simulator is a failed query";
}

TEST(SimBackends, TheIscsiadmBackendDrivesOpenIscsiAndReadsItsSessionList) {
    // A stand-in for open-iscsi's command first on PATH: records its arguments, answers from a script.
    const krvntest::TempDir scratch;
    const std::string& dir = scratch.path();
    const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    std::ofstream(dir + "/iscsiadm")
        << "#!/bin/sh\necho \"$*\" >> " << dir
        << "/calls\ncase \"$*\" in\n"
           "  *'-m session -P 3'*) cat <<'EOF'\niSCSI Transport Class version 2.0-870\n"
           "Target: iqn.2020-01.com.korvan:sp1:other (non-flash)\n\tCurrent Portal: 10.0.0.5:3260,1\n"
           "\t\tAttached scsi disk sdc\t\tState: running\n"
           "Target: iqn.2020-01.com.korvan:sp1:clone1 (non-flash)\n\tCurrent Portal: 10.0.0.5:3260,1\n"
           "\t\t\tscsi3 Channel 00 Id 0 Lun: 0\n\t\t\t\tAttached scsi disk sdd\t\tState: running\nEOF\n"
           "    exit 0;;\n  *--login*) exit 15;;\n  *--logout*) exit 21;;\nesac\nexit 0\n";
    chmod((dir + "/iscsiadm").c_str(), 0755);
    setenv("PATH", (dir + ":" + oldPath).c_str(), 1);
    krvntest::ScopedSettings settings;
    settings.set("Platform", "iscsiBackend", "iscsiadm");
    const std::string target = "iqn.2020-01.com.korvan:sp1:clone1";
    CWqLibrary library(true);
    std::unique_ptr<ZyISCSIModule> iscsi(GetZyISCSIInstance(library));
    EXPECT_TRUE(iscsi);
    if (iscsi) {
        EXPECT_EQ(iscsi->discoverPortal("sp1"), 0);
        EXPECT_TRUE(iscsi->login("sp1", target.c_str())) << "already logged in counts as logged in";
        EXPECT_FALSE(iscsi->logout("sp1", target.c_str()));
        std::string device;
        EXPECT_TRUE(targetDevice(*iscsi, target, device));
        EXPECT_EQ(device, "/dev/sdd");
        EXPECT_TRUE(targetDevice(*iscsi, target.substr(0, target.size() - 1), device));
        EXPECT_EQ(device, "") << "a prefix of a target is another target";
        char small[4] = {0};
        unsigned long long length = sizeof small;
        EXPECT_FALSE(iscsi->getTargetDevice(target.c_str(), small, &length)) << "a path that does not fit is not cut";
    }
    std::ifstream calls(dir + "/calls");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(calls), {}),
              "-m discovery -t sendtargets -p sp1\n-m node -T " + target + " -p sp1 --login\n-m node -T " + target +
                  " -p sp1 --logout\n-m session -P 3\n-m session -P 3\n-m session -P 3\n");
    setenv("PATH", oldPath.c_str(), 1);
    settings.set("Platform", "iscsiBackend", "no-such-backend");
    CWqLibrary other(true);
    EXPECT_EQ(GetZyISCSIInstance(other), nullptr) << "an unknown backend gives no module";
}

}  // namespace
