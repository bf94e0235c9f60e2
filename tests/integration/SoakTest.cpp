// Many whole life cycles in a row on virtual time, against a korvan-sim child process so that
// this process holds only what a host process holds (the plug-in, the platform, the iSCSI
// module while a step needs it). After every call the cluster has no session open, on the
// failure paths too: every cycle sends one call into a fault of its own (a rotating table) and
// then runs it again. After the first ten cycles the process's open descriptors, threads and
// resident memory stay within 5% of what they were then. Then the plug-in and the iSCSI module
// are each unloaded and loaded again a hundred times, with no growth either.
// KRVN_SOAK_CYCLES sets the number of cycles: 50 in the suite, 1,000 with ./run soak.
#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <httplib.h>

#include "CWqLibrary.h"
#include "FakeWorld.h"
#include "SimProcess.h"
#include "TempDir.h"
#include "ZyISCSIModule.h"

namespace {

using korvansim::Json;
using KrvnHost::PluginApi;
using namespace krvntest;

constexpr const char* kPassword = "Soak-Pw-2290";
constexpr int kDefaultCycles = 50;
constexpr int kWarmCycles = 10;
constexpr int kReloads = 100;
constexpr double kFlat = 1.05;
constexpr long kGiB = 1L << 30;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The sanitizers' runtimes keep freed memory and shadow it: resident memory says nothing there.
constexpr bool kMemoryMeasured = false;
#else
constexpr bool kMemoryMeasured = true;
#endif

struct Usage {
    long fds = 0, threads = 0, rssKb = 0;
    std::string text() const {
        return std::to_string(fds) + " descriptors, " + std::to_string(threads) + " threads, " + std::to_string(rssKb) +
               " kB resident";
    }
};

Usage usage() {
    Usage u;
    if (DIR* fds = ::opendir("/proc/self/fd")) {
        while (const dirent* entry = ::readdir(fds)) u.fds += entry->d_name[0] != '.';
        ::closedir(fds);
        --u.fds;  // the directory's own
    }
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("Threads:", 0) == 0) u.threads = std::stol(line.substr(8));
        if (line.rfind("VmRSS:", 0) == 0) u.rssKb = std::stol(line.substr(6));
    }
    return u;
}

// What grew past the allowance since `base`; empty when nothing did.
std::string growth(const Usage& base, const Usage& now) {
    std::string out;
    if (now.fds > base.fds * kFlat) out += " descriptors";
    if (now.threads > base.threads * kFlat) out += " threads";
    if (kMemoryMeasured && now.rssKb > base.rssKb * kFlat) out += " resident memory";
    return out.empty() ? out : "grew:" + out + " (" + base.text() + " -> " + now.text() + ")";
}

bool mapped(const std::string& library) {
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);)
        if (line.find(library) != std::string::npos) return true;
    return false;
}

int cyclesWanted() {
    const char* text = std::getenv("KRVN_SOAK_CYCLES");
    const int n = text ? std::atoi(text) : 0;
    return n > kWarmCycles ? n : kDefaultCycles;
}

// korvan-sim as a child process, and the settings that point the platform at it.
class SoakCluster {
public:
    SoakCluster() {
        if (dir_.path().empty()) return;
        std::ofstream(dir_.file("seed.json")) << harden::exposedSourcesSeed(1, kPassword).dump();
        if (!sim_.start(KRVN_BUILD_BIN_DIR "/korvan-sim", dir_.file("seed.json"), dir_.file("sim.log"), 30, &error_))
            return;
        settings_.set("Platform", "deviceBackend", "sim");
        settings_.set("Platform", "iscsiBackend", "sim");
        settings_.set("Platform", "simulatorUrl", sim_.url());
        settings_.set("Platform", "logFile", "/dev/null");
        settings_.set("Platform", "debugLevel", "2");
        settings_.set("Platform", "keyFile", key_.path());
        port_ = std::stoi(sim_.url().substr(sim_.url().rfind(':') + 1));
        client_ = std::make_unique<httplib::Client>(sim_.url());
    }
    ~SoakCluster() { sim_.stop(); }

    bool ok() const { return port_ > 0; }
    const std::string& error() const { return error_; }
    int port() const { return port_; }
    const krvntest::TestKeyFile& key() const { return key_; }

    Json get(const std::string& path) {
        auto answer = client_->Get(path.c_str());
        return answer && answer->status == 200 ? Json::parse(answer->body, nullptr, false) : Json();
    }
    bool fault(const Json& fault) {
        auto answer = client_->Post("/sim/faults", fault.dump(), "application/json");
        return answer && answer->status == 200;
    }
    void clearFaults() { client_->Delete("/sim/faults"); }
    int sessions() { return get("/sim/state")["cluster"].value("sessions", -1); }
    std::vector<std::string> devices() {
        Json answer = get("/sim/hosts/" + SimHarness::hostName() + "/devices");
        return answer.is_object() ? answer.value("devices", std::vector<std::string>()) : std::vector<std::string>();
    }
    // The host's view for one batch: its initiator, and its devices re-read at every rescan.
    void attach(krvntest::FakeOSUtil& os) {
        os.hostIqns = {SimHarness::iqn()};
        os.deviceLists = {devices()};
        os.onRefreshBus = [this](krvntest::FakeOSUtil& self) { self.deviceLists = {devices()}; };
    }

private:
    krvntest::ScopedSettings settings_;
    krvntest::TestKeyFile key_;
    KrvnHost::SimProcess sim_;
    krvntest::TempDir dir_;
    std::string error_;
    int port_ = -1;
    std::unique_ptr<httplib::Client> client_;
};

// One call of a cycle: which entry point, the status it leaves, and the fault it meets in the
// cycles whose turn it is, with the result the entry point gives under it.
template <class Entry>
struct Call {
    const char* name;
    Entry PluginApi::*entry;
    int status;
    const char* faultType;
    const char* faultKind;
    int underFault;
};

const Call<zyso_snap_fn> kSnapCalls[] = {
    {"prepare", &PluginApi::prepareDevices, kSnapPrepared, "GetVirtualDiskByScsiSn", "drop", 1},
    {"snap", &PluginApi::snapDevices, kSnapCreated, "MakeSnapshot", "status", 1},
    {"map", &PluginApi::mapSnaps, kSnapMapped, "AddLun", "notjson", 1},
    {"unmap", &PluginApi::unmapSnaps, kSnapUnmapped, "RemoveACLAccess", "drop", 1},
    {"revert", &PluginApi::revertSnaps, kSnapReverted, "RevertToSnapshot", "wrongtype", 1},
    {"reconcile", &PluginApi::reconcileSnaps, kSnapReverted, "ListSnapshots", "status",
     0},  // a failed list changes nothing
    {"delete", &PluginApi::deleteSnaps, kSnapDeleted, "DeleteSnapshot", "drop", 1},
};
const Call<zyso_lun_fn> kLunCalls[] = {
    {"lun create", &PluginApi::createLUNs, kLunCreated, "AddVirtualDisk", "status", 1},
    {"lun map", &PluginApi::mapLUNs, kLunMapped, "PersistACLAccess", "drop", 1},
    {"lun unmap", &PluginApi::unmapLUNs, kLunUnmapped, "UnmapLun", "notjson", 1},
    {"lun resize", &PluginApi::resizeLUNs, kLunResized, "ResizeDisks", "wrongshape", 1},
    {"lun delete", &PluginApi::deleteLUNs, kLunDeleted, "DeleteVDisk", "drop", 1},
};
constexpr size_t kCallsPerCycle = std::size(kSnapCalls) + std::size(kLunCalls);

class Cycles {
public:
    Cycles(SoakCluster& cluster, const PluginApi& api) : cluster_(cluster), api_(api) {}

    // One whole snapshot life cycle and one whole provisioning life cycle; the call whose turn
    // it is first fails on its fault. The texts of what went wrong.
    std::vector<std::string> run(int cycle) {
        problems_.clear();
        size_t turn = static_cast<size_t>(cycle) % kCallsPerCycle, index = 0;
        krvntest::FakeSnapBatch snaps(1);
        prepareSnapItem(snaps);
        for (const auto& call : kSnapCalls)
            step(
                call, index++ == turn, [&] { return (api_.*call.entry)(snaps.data(), snaps.count(), &snaps.os); },
                [&] { return snaps[0].status; });
        krvntest::FakeLunBatch luns;
        prepareLunItem(luns, cycle);
        for (const auto& call : kLunCalls) {
            if (call.status == kLunResized) luns[0].size = 4 * kGiB;
            step(
                call, index++ == turn, [&] { return (api_.*call.entry)(luns.data(), luns.count(), &luns.os); },
                [&] { return static_cast<int>(luns[0].status); });
        }
        return problems_;
    }

private:
    template <class C, class Run, class Status>
    void step(const C& call, bool faulted, Run run, Status status) {
        if (faulted) {
            cluster_.fault({{"type", call.faultType}, {"kind", call.faultKind}, {"count", -1}});
            const int rc = run();
            if (rc != call.underFault) note(call.name, "answered " + std::to_string(rc) + " under its fault");
            checkSessions(call.name);
            cluster_.clearFaults();
        }
        const int rc = run();
        if (rc != 0 || status() != call.status)
            note(call.name, "gave " + std::to_string(rc) + " and status " + std::to_string(status()));
        checkSessions(call.name);
        if (mapped("libZyISCSI.so")) note(call.name, "left the iSCSI module loaded");
    }
    void checkSessions(const char* call) {
        const int open = cluster_.sessions();
        if (open != 0) note(call, std::to_string(open) + " cluster sessions open after it");
    }
    void note(const char* call, const std::string& text) { problems_.push_back(std::string(call) + " " + text); }

    void prepareSnapItem(krvntest::FakeSnapBatch& batch) {
        batch[0].sourceDevice = "/dev/sdb";
        harden::onSimArray(batch[0], batch.os, cluster_.port(), kPassword);
        cluster_.attach(batch.os);
    }

    void prepareLunItem(krvntest::FakeLunBatch& batch, int cycle) {
        harden::onSimCluster(batch.add(), "soak" + std::to_string(cycle), cluster_.port(),
                             cluster_.key().encrypt(kPassword));
        cluster_.attach(batch.os);
    }

    SoakCluster& cluster_;
    const PluginApi& api_;
    std::vector<std::string> problems_;
};

TEST(Soak, WholeLifeCyclesInARowCloseEverySessionAndKeepDescriptorsThreadsAndMemoryFlat) {
    SoakCluster cluster;
    ASSERT_TRUE(cluster.ok()) << cluster.error();
    const std::string pluginPath = KRVN_BUILD_LIB_DIR "/libZYKorvanSnap.so";
    const bool pinned = mapped("libZYKorvanSnap.so");  // another test of this process holds it
    const int cycles = cyclesWanted();
    {
        KrvnHost::Plugin plugin;
        std::string error;
        ASSERT_TRUE(plugin.load(pluginPath, &error)) << error;
        Cycles run(cluster, plugin.api());
        Usage base, peak;
        const Usage loaded = usage();
        for (int cycle = 0; cycle < cycles; ++cycle) {
            for (const std::string& problem : run.run(cycle)) ADD_FAILURE() << "cycle " << cycle << ": " << problem;
            if (::testing::Test::HasFailure()) return;
            const Usage now = usage();
            // Nothing an entry call opens (log file, connections to the cluster or the SAN) outlives it.
            ASSERT_LE(now.fds, loaded.fds) << "cycle " << cycle << ": " << now.text();
            if (cycle + 1 == kWarmCycles) base = peak = now;
            if (cycle + 1 <= kWarmCycles) continue;
            peak = {std::max(peak.fds, now.fds), std::max(peak.threads, now.threads), std::max(peak.rssKb, now.rssKb)};
            const std::string grew = growth(base, now);
            ASSERT_TRUE(grew.empty()) << "cycle " << cycle << ": " << grew;
        }
        std::cout << "soak: " << cycles << " cycles of " << kCallsPerCycle << " calls (and one call under a fault)"
                  << "; after cycle " << kWarmCycles << ": " << base.text() << "; highest since: " << peak.text()
                  << "; at the end: " << usage().text() << std::endl;
    }

    // Unloaded and loaded again, each time really gone from the process in between (unless
    // another test here holds the plug-in), with nothing left behind.
    Usage base;
    for (int round = 0; round < kReloads; ++round) {
        {
            KrvnHost::Plugin plugin;
            std::string error;
            ASSERT_TRUE(plugin.load(pluginPath, &error)) << error;
            char reason[256] = {};
            krvntest::FakeOSUtil os;
            ASSERT_EQ(plugin.api().isSupported("/dev/sdb", 0, &os, reason, sizeof reason), 0) << reason;
        }
        if (!pinned) {
            ASSERT_FALSE(mapped("libZYKorvanSnap.so")) << "round " << round << ": still loaded";
        }
        {
            // As the plug-in loads it: by its bare name.
            CWqLibrary library(true);
            void* getInstance = nullptr;
            ASSERT_FALSE(library.Load("libZyISCSI.so", false).IsError());
            ASSERT_FALSE(library.GetAddress("GetInstance", getInstance).IsError());
            std::unique_ptr<ZyISCSIModule> module(reinterpret_cast<ZyISCSIGetInstanceFn>(getInstance)());
            ASSERT_TRUE(module);
            char device[256] = {};
            unsigned long long length = sizeof device - 1;
            EXPECT_TRUE(module->getTargetDevice("iqn.2020-01.com.korvan:sp1:vol1", device, &length));
        }  // the instance goes first, then the library
        ASSERT_FALSE(mapped("libZyISCSI.so")) << "round " << round << ": the iSCSI module is still loaded";
        if (round == 0) base = usage();
    }
    const Usage end = usage();
    EXPECT_TRUE(growth(base, end).empty()) << kReloads << " reloads " << growth(base, end);
    std::cout << "reload: " << kReloads
              << " unloads and loads of the plug-in and of the iSCSI module; after the first: " << base.text()
              << "; after the last: " << end.text() << std::endl;
}

}  // namespace
