// The child side of a scale run: the plug-in loaded as a host loads it and driven through the
// host stand-in's objects (korvan-host's, which keep the job state in memory and record
// nothing else), N snapshot items on the simulator's source vDisks and N provisioning items,
// taken through every step. Before each entry call the child says "ready" and waits for "go"
// (the parent reads the simulator's counters in between); after it, it reports the call on
// one line.
//
// The plug-in's own CPU time is the process's less what the host's objects and the platform's
// SAN stand-ins spend: each host object is wrapped in a metered one (MeteredHost.h), the
// stand-ins keep their own tally (ZySimCallTally.h), and the meters' own cost outside their
// windows is measured once and taken off as well.
#include <dlfcn.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "BenchCommon.h"
#include "HostObjects.h"
#include "HostTexts.h"
#include "MeteredHost.h"
#include "SimSeed.h"
#include "ZYPassword.h"
#include "ZYSOExports.h"
#include "ZyHttpCallTally.h"
#include "ZySimCallTally.h"

namespace krvnbench {

namespace {

using namespace KrvnHost;

struct Entries {
    zyso_snap_fn prepare, snap, map, unmap, reconcile, remove;
    zyso_lun_fn create, lunMap, lunUnmap, lunDelete;
};

bool loadPlugin(Entries& e) {
    void* lib = dlopen(KRVN_BENCH_LIB_DIR "/libZYKorvanSnap.so", RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        std::fprintf(stderr, "krvn-bench: %s\n", dlerror());
        return false;
    }
    auto snap = [lib](const char* name) { return reinterpret_cast<zyso_snap_fn>(dlsym(lib, name)); };
    auto lun = [lib](const char* name) { return reinterpret_cast<zyso_lun_fn>(dlsym(lib, name)); };
    e = Entries{snap("zyso_prepareDevices"), snap("zyso_snapDevices"), snap("zyso_mapSnaps"),  snap("zyso_unmapSnaps"),
                snap("zyso_reconcileSnaps"), snap("zyso_deleteSnaps"), lun("zyso_createLUNs"), lun("zyso_mapLUNs"),
                lun("zyso_unmapLUNs"),       lun("zyso_deleteLUNs")};
    return e.prepare && e.snap && e.map && e.unmap && e.reconcile && e.remove && e.create && e.lunMap && e.lunUnmap &&
           e.lunDelete;
}

// The host's job state: the cluster in Array Management (reached over HTTPS), one snapshot
// item per source device and one provisioning item per new disk, mapped to this host.
bool buildState(HostState& state, SimHostSystem& system, int items, int port, bool restLogging, std::string& error) {
    ArrayEntry array;
    array.number = 1;
    array.name = korvansim::kDefaultClusterName;
    array.vendor = kKorvanVendor;
    array.controlHost = "127.0.0.1";
    array.user = korvansim::kDefaultUser;
    if (!ZYPassword::encrypt(korvansim::kDefaultPassword, &array.storedPassword, &error)) return false;
    array.configInts[kCfgServerPort] = port;
    array.configInts[kCfgSecureConnection] = 1;
    array.configInts[kCfgDiagnosticLogging] = restLogging ? 1 : 0;
    array.configLists[kCfgStorageProxyList] = {korvansim::kDefaultProxy};
    state.arrays.push_back(array);

    const std::string host = localHostName();
    std::vector<std::string> devices, wwpns, iqns;
    if (!system.devices(host, &devices, &error) || !system.interfaces(host, &wwpns, &iqns, &error)) return false;
    if (static_cast<int>(devices.size()) != items) {
        error = "the simulator shows " + std::to_string(devices.size()) + " source devices";
        return false;
    }
    for (const std::string& device : devices) {
        SnapItem item;
        item.id = ++state.lastSnapId;
        item.sourceDevice = device;
        state.snaps.push_back(item);
    }
    Json endpoints = Json::array();
    for (const std::string& iqn : iqns) endpoints.push_back({{"endpoint", iqn}});
    const std::string mapInfo =
        Json{
            {"hosts",
             {{{"hostname", host}, {"hostos", kMapHostOs}, {"protocol", kMapProtocolIscsi}, {"endpoints", endpoints}}}}}
            .dump();
    for (int i = 0; i < items; ++i) {
        LunItem item;
        item.id = ++state.lastLunId;
        item.diskName = "pv" + std::to_string(i + 1);
        item.arrayName = array.name;
        item.sizeBytes = 2LL << 30;
        item.initiatorInfo = mapInfo;
        state.luns.push_back(item);
    }
    return true;
}

struct Step {
    const char* family;
    const char* name;
    std::function<int()> run;
    int okStatus;
};

}  // namespace

int scaleChild(int argc, char** argv) {
    if (argc < 6) {
        std::fprintf(stderr, "usage: krvn-bench --scale-child ITEMS HTTPS_PORT SIM_URL REST_LOGGING\n");
        return 2;
    }
    const int items = std::atoi(argv[2]);
    const int port = std::atoi(argv[3]);
    Entries e{};
    if (!loadPlugin(e)) return 2;

    HostState state;
    SimHostSystem system(argv[4]);
    std::string error;
    if (!buildState(state, system, items, port, std::atoi(argv[5]) != 0, error)) {
        std::fprintf(stderr, "krvn-bench: host state: %s\n", error.c_str());
        return 2;
    }
    const long long jobId = 1;
    JobLog log(state, jobId);
    HostMeter meter;
    HostOSUtil hostOsUtil(state, system, jobId);
    MeteredOSUtil osUtil(&hostOsUtil, meter);
    std::vector<std::unique_ptr<HostSnapInfo>> snapObjects;
    std::vector<std::unique_ptr<MeteredSnapInfo>> meteredSnaps;
    std::vector<ZYSO::SnapInfo*> snaps;
    for (SnapItem& item : state.snaps) {
        snapObjects.push_back(std::make_unique<HostSnapInfo>(state, item, log));
        meteredSnaps.push_back(std::make_unique<MeteredSnapInfo>(snapObjects.back().get(), meter));
        snaps.push_back(meteredSnaps.back().get());
    }
    std::vector<std::unique_ptr<HostLunInfo>> lunObjects;
    std::vector<std::unique_ptr<MeteredLunInfo>> meteredLuns;
    std::vector<ZYSO::LUNInfo*> luns;
    for (LunItem& item : state.luns) {
        lunObjects.push_back(std::make_unique<HostLunInfo>(state, item));
        meteredLuns.push_back(std::make_unique<MeteredLunInfo>(lunObjects.back().get(), meter));
        luns.push_back(meteredLuns.back().get());
    }
    const double meterNs = meterOverheadNs();
    ZyPlatform::setHttpCallTally(true);

    auto snapCall = [&](zyso_snap_fn fn) { return [&, fn] { return fn(snaps.data(), items, &osUtil); }; };
    auto lunCall = [&](zyso_lun_fn fn) {
        return [&, fn] { return fn(luns.data(), static_cast<short>(items), &osUtil); };
    };
    const std::vector<Step> steps = {
        {"snap", "prepare", snapCall(e.prepare), kSnapPrepared},
        {"snap", "snap", snapCall(e.snap), kSnapCreated},
        {"snap", "map", snapCall(e.map), kSnapMapped},
        {"snap", "unmap", snapCall(e.unmap), kSnapUnmapped},
        {"snap", "reconcile", snapCall(e.reconcile), kSnapUnmapped},  // reconcile keeps what it finds
        {"snap", "delete", snapCall(e.remove), kSnapDeleted},
        {"prov", "create", lunCall(e.create), kLunCreated},
        {"prov", "map", lunCall(e.lunMap), kLunMapped},
        {"prov", "unmap", lunCall(e.lunUnmap), kLunUnmapped},
        {"prov", "delete", lunCall(e.lunDelete), kLunDeleted},
    };
    std::string line;
    for (const Step& step : steps) {
        std::cout << "ready " << step.family << " " << step.name << std::endl;
        if (!std::getline(std::cin, line) || line != "go") return 2;
        resetPeakResident();
        const HostMeter hostBefore = meter;
        const ZyPlatform::SimCallTally sanBefore = ZyPlatform::simCallTally();
        const ZyPlatform::HttpCallTally httpBefore = ZyPlatform::httpCallTally();
        const double cpuBefore = processCpuMs();
        auto start = std::chrono::steady_clock::now();
        int rc = step.run();
        std::chrono::duration<double, std::milli> wall = std::chrono::steady_clock::now() - start;
        const double cpu = processCpuMs() - cpuBefore;
        const ZyPlatform::SimCallTally sanAfter = ZyPlatform::simCallTally();
        const ZyPlatform::HttpCallTally httpAfter = ZyPlatform::httpCallTally();
        const long long hostCalls = meter.calls - hostBefore.calls;
        const double hostMs = static_cast<double>(meter.cpuNs - hostBefore.cpuNs) / 1e6;
        const long long sanCalls = sanAfter.calls - sanBefore.calls;
        const double sanMs = static_cast<double>(sanAfter.cpuNs - sanBefore.cpuNs) / 1e6;
        const long long httpCalls = httpAfter.calls - httpBefore.calls;
        // The plug-in's own exchanges: the HTTP client's time less what host calls spent in it.
        const double httpMs =
            static_cast<double>(httpAfter.cpuNs - httpBefore.cpuNs - (meter.httpNs - hostBefore.httpNs)) / 1e6;
        const double meterMs = static_cast<double>(hostCalls + sanCalls + httpCalls) * meterNs / 1e6;
        const bool snapStep = std::string(step.family) == "snap";
        int ok = 0;
        if (snapStep)
            for (const SnapItem& item : state.snaps) ok += item.status == step.okStatus;
        else
            for (const LunItem& item : state.luns) ok += item.status == step.okStatus;
        std::string text = rc == 0 ? "" : snapStep ? state.snaps.front().lastError : state.luns.front().lastError;
        for (char& c : text)
            if (c == '\n') c = ' ';
        std::cout << "done " << rc << " " << ok << " " << wall.count() << " " << cpu << " " << hostMs << " " << sanMs
                  << " " << meterMs << " " << hostCalls << " " << sanCalls << " " << peakResidentKB() / 1024.0 << " "
                  << httpMs << " " << text << std::endl;
        // The host forgets the job log between calls, as korvan-host bounds its own.
        state.log.clear();
    }
    std::cout << "end" << std::endl;
    return 0;
}

}  // namespace krvnbench
