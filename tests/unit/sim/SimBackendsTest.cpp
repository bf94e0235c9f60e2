#include <gtest/gtest.h>
#include <httplib.h>

#include <dlfcn.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>

#include "KrvnCommonCtx.h"
#include "KrvnCommonUtils.h"
#include "SimHarness.h"
#include "ZyDeviceTree.h"
#include "ZyISCSIModule.h"

using korvansim::Json;
using krvntest::SimHarness;

namespace {

// libZyISCSI.so loaded the way the plug-in loads it, one module per test.
class IscsiModule {
public:
    IscsiModule() {
        handle_ = dlopen((std::string(KRVN_BUILD_LIB_DIR) + "/libZyISCSI.so").c_str(), RTLD_NOW | RTLD_LOCAL);
        auto get = handle_ ? reinterpret_cast<ZyISCSIGetInstanceFn>(dlsym(handle_, "GetInstance")) : nullptr;
        module_ = get ? get() : nullptr;
    }
    ~IscsiModule() {
        delete module_;
        if (handle_) dlclose(handle_);
    }
    ZyISCSIModule* operator->() { return module_; }
    explicit operator bool() const { return module_ != nullptr; }
    // The device the module reports for a target ("" when not logged in); false when the query failed.
    bool device(const std::string& target, std::string& out) {
        char buffer[4096] = {0};
        unsigned long long length = 4095;
        bool ok = module_->getTargetDevice(target.c_str(), buffer, &length);
        out = buffer;
        return ok;
    }

private:
    void* handle_ = nullptr;
    ZyISCSIModule* module_ = nullptr;
};

// The client side of a map, as the plug-in drives it: REST over HTTP with the catalogue's bodies.
class Cluster {
public:
    explicit Cluster(SimHarness& sim) : http_("127.0.0.1", sim.port()) {
        sessionId_ = call("Login", "userName:'admin', password:'secret', cluster:'krvn-cluster'")["result"]["sessionId"];
    }
    Json call(const std::string& type, const std::string& params, const char* method = "POST") {
        std::string body = "request={type:" + type + ", category:Test, params:{" + params + "}" +
                           (sessionId_.empty() ? "" : ", sessionId:'" + sessionId_ + "'") + "}";
        auto r = std::string(method) == "PUT" ? http_.Put("/rest/", body, "application/x-www-form-urlencoded")
                                              : http_.Post("/rest/", body, "application/x-www-form-urlencoded");
        Json answer = r ? Json::parse(r->body, nullptr, false) : Json();
        EXPECT_EQ(answer.value("status", ""), "ok") << type << ": " << (r ? r->body : "no answer");
        return answer;
    }

private:
    httplib::Client http_;
    std::string sessionId_;
};

TEST(SimBackends, AClonedSnapshotReachesTheHostAsAKorvanDeviceThroughThePlatform) {
    SimHarness sim(1);
    ASSERT_TRUE(sim.ok()) << sim.error();
    sim.settings().set("Platform", "debugLevel", "2");  // no hex dumps on the test's output
    Cluster cluster(sim);
    cluster.call("AddVirtualDisk", "name:'flow', size:{unit:'GB', value:4}, diskType:BLOCK", "PUT");
    std::string snap = cluster.call("MakeSnapshot", "virtualDisks:['flow']", "PUT")["result"][0]["snapshotName"];
    cluster.call("CloneSnapshot", "name:'flowclone', clonedSnapshotName:'" + snap + "'", "PUT");
    cluster.call("AddLun", "virtualDisks:['flowclone'], targets:['sp1'], readonly:false");
    std::string target = cluster.call("ShowTarget", "host:'sp1', protocols:'block'")["result"]["Lun Information"][0]["Target"];
    int64_t cloneSerial = sim.vdisk("flowclone")["serial"];

    IscsiModule iscsi;
    ASSERT_TRUE(iscsi) << dlerror();
    long long job = 42;
    iscsi->setJobId(&job);
    EXPECT_EQ(iscsi->discoverPortal("sp1"), 0);
    std::string device;
    EXPECT_TRUE(iscsi.device(target, device));
    EXPECT_EQ(device, "");
    EXPECT_FALSE(iscsi->login("sp1", target.c_str())) << "no access granted yet";

    cluster.call("PersistACLAccess", "virtualDisks:['flowclone'], host:'sp1', address:'" + SimHarness::iqn() + "', type:iqn");
    ASSERT_TRUE(iscsi->login("sp1", target.c_str()));
    ASSERT_TRUE(iscsi.device(target, device));
    EXPECT_EQ(device, "/dev/sdc");

    ZYKorvanCommon::KrvnCommonCtx ctx(nullptr);
    ZYKorvanCommon::KrvnCommonUtils utils(&ctx);
    std::string serial, clusterSerial;
    ASSERT_EQ(utils.inquireDevice(device, serial, clusterSerial), 0) << ctx.errorText.str();
    EXPECT_EQ(serial, std::to_string(cloneSerial));
    EXPECT_EQ(clusterSerial, korvansim::normaliseNameHash(SimHarness::kClusterHash));
    EXPECT_EQ(std::stoll(serial), cloneSerial) << "the serial reads back as the same 64-bit number";

    ASSERT_TRUE(iscsi->logout("sp1", target.c_str()));
    EXPECT_FALSE(iscsi->logout("sp1", target.c_str())) << "no session left";
    EXPECT_TRUE(iscsi.device(target, device));
    EXPECT_EQ(device, "");
    CWqError error;
    EXPECT_FALSE(ZyDeviceTree::getDevice("/dev/sdc", &error));
    EXPECT_TRUE(error.IsError());
    EXPECT_TRUE(ZyDeviceTree::getDevice("/dev/sdb", &error)) << error.AsString();

    sim.settings().set("Platform", "simulatorUrl", "http://127.0.0.1:1");
    EXPECT_FALSE(iscsi->login("sp1", target.c_str()));
    EXPECT_FALSE(iscsi.device(target, device)) << "an unreachable simulator is a failed query";
}

// A stand-in for open-iscsi's command: records its arguments and answers from a script.
class FakeIscsiadm {
public:
    FakeIscsiadm() {
        char dir[] = "/tmp/krvn-iscsiadm-XXXXXX";
        dir_ = mkdtemp(dir);
        log_ = dir_ + "/calls";
        std::ofstream script(dir_ + "/iscsiadm");
        script << "#!/bin/sh\necho \"$*\" >> " << log_ << "\n"
               << "case \"$*\" in\n"
               << "  *'-m session -P 3'*) cat <<'EOF'\n"
               << "iSCSI Transport Class version 2.0-870\n"
               << "Target: iqn.2020-01.com.korvan:sp1:other (non-flash)\n"
               << "\tCurrent Portal: 10.0.0.5:3260,1\n"
               << "\t\tAttached scsi disk sdc\t\tState: running\n"
               << "Target: iqn.2020-01.com.korvan:sp1:clone1 (non-flash)\n"
               << "\tCurrent Portal: 10.0.0.5:3260,1\n"
               << "\t\t\tscsi3 Channel 00 Id 0 Lun: 0\n"
               << "\t\t\t\tAttached scsi disk sdd\t\tState: running\n"
               << "EOF\n    exit 0;;\n"
               << "  *--login*) exit 15;;\n"
               << "  *--logout*) exit 21;;\n"
               << "esac\nexit 0\n";
        script.close();
        chmod((dir_ + "/iscsiadm").c_str(), 0755);
        const char* path = std::getenv("PATH");
        oldPath_ = path ? path : "";
        setenv("PATH", (dir_ + ":" + oldPath_).c_str(), 1);
    }
    ~FakeIscsiadm() {
        setenv("PATH", oldPath_.c_str(), 1);
        std::system(("rm -rf " + dir_).c_str());
    }
    std::string calls() {
        std::ifstream in(log_);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    std::string dir_, log_, oldPath_;
};

TEST(SimBackends, TheIscsiadmBackendDrivesOpenIscsiAndReadsItsSessionList) {
    krvntest::ScopedSettings settings;
    settings.set("Platform", "iscsiBackend", "iscsiadm");
    FakeIscsiadm fake;
    IscsiModule iscsi;
    ASSERT_TRUE(iscsi);
    EXPECT_EQ(iscsi->discoverPortal("sp1"), 0);
    EXPECT_TRUE(iscsi->login("sp1", "iqn.2020-01.com.korvan:sp1:clone1")) << "already logged in counts as logged in";
    EXPECT_FALSE(iscsi->logout("sp1", "iqn.2020-01.com.korvan:sp1:clone1"));
    std::string device;
    ASSERT_TRUE(iscsi.device("iqn.2020-01.com.korvan:sp1:clone1", device));
    EXPECT_EQ(device, "/dev/sdd");
    ASSERT_TRUE(iscsi.device("iqn.2020-01.com.korvan:sp1:clone", device));
    EXPECT_EQ(device, "") << "a prefix of a target is another target";
    EXPECT_EQ(fake.calls(),
              "-m discovery -t sendtargets -p sp1\n"
              "-m node -T iqn.2020-01.com.korvan:sp1:clone1 -p sp1 --login\n"
              "-m node -T iqn.2020-01.com.korvan:sp1:clone1 -p sp1 --logout\n"
              "-m session -P 3\n-m session -P 3\n");

    char small[4] = {0};
    unsigned long long length = sizeof small;
    EXPECT_FALSE(iscsi->getTargetDevice("iqn.2020-01.com.korvan:sp1:clone1", small, &length))
        << "a path that does not fit is not cut";
    settings.set("Platform", "iscsiBackend", "no-such-backend");
    IscsiModule none;
    EXPECT_FALSE(none) << "an unknown backend gives no module";
}

}  // namespace
