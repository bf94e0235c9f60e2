// The child side of a scale run: the plug-in loaded as a host loads it, N snapshot items on
// the simulator's source vDisks and N provisioning items, taken through every step. Before
// each entry call the child says "ready" and waits for "go" (the parent reads the
// simulator's counters in between); after it, it reports the call on one line.
#include <curl/curl.h>
#include <dlfcn.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "BenchCommon.h"
#include "FakeLunHost.h"
#include "FakeSnapHost.h"
#include "SimSeed.h"
#include "ZYSOExports.h"

namespace krvnbench {

namespace {

size_t collect(char* data, size_t size, size_t count, void* out) {
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
}

// The host's view of its block devices: what the simulator lists for this host. A host
// rescans and lists through the kernel; here that is one call to the simulator each.
std::vector<std::string> hostDevices(const std::string& simUrl, const std::string& host) {
    std::vector<std::string> devices;
    CURL* curl = curl_easy_init();
    if (!curl) return devices;
    std::string body;
    const std::string url = simUrl + "/sim/hosts/" + host + "/devices";
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    if (curl_easy_perform(curl) == CURLE_OK) {
        Json answer = Json::parse(body, nullptr, false);
        if (answer.is_object() && answer["devices"].is_array())
            for (const auto& d : answer["devices"]) devices.push_back(d.get<std::string>());
    }
    curl_easy_cleanup(curl);
    return devices;
}

void attachHost(krvntest::FakeOSUtil& os, const std::string& simUrl, const std::string& host) {
    os.hostIqns = {korvansim::defaultIqn(host)};
    os.deviceLists = {hostDevices(simUrl, host)};
    os.onRefreshBus = [simUrl, host](krvntest::FakeOSUtil& self) { self.deviceLists = {hostDevices(simUrl, host)}; };
}

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
    e = Entries{snap("zyso_prepareDevices"), snap("zyso_snapDevices"),   snap("zyso_mapSnaps"),
                snap("zyso_unmapSnaps"),     snap("zyso_reconcileSnaps"), snap("zyso_deleteSnaps"),
                lun("zyso_createLUNs"),      lun("zyso_mapLUNs"),         lun("zyso_unmapLUNs"),
                lun("zyso_deleteLUNs")};
    return e.prepare && e.snap && e.map && e.unmap && e.reconcile && e.remove && e.create && e.lunMap &&
           e.lunUnmap && e.lunDelete;
}

// The cluster serial the simulator's devices report: the default name hash without "0x",
// upper case.
std::string clusterSerial() {
    std::string hash = std::string(korvansim::kDefaultClusterHash).substr(2);
    for (char& c : hash) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return hash;
}

void configureSnaps(krvntest::FakeSnapBatch& batch, int port, const std::vector<std::string>& devices) {
    for (size_t i = 0; i < batch.size(); ++i) {
        krvntest::FakeSnapInfo& item = batch[i];
        if (i < devices.size()) item.sourceDevice = devices[i];
        // Until prepare ties it, the host knows the item's array only by the cluster serial.
        item.arrayNumber = 0;
        item.arrayNumberForDetails[clusterSerial()] = 1;
        item.arrayRecord.name = korvansim::kDefaultClusterName;
        item.arrayRecord.controlHost = "127.0.0.1";
        item.arrayRecord.user = korvansim::kDefaultUser;
        item.arrayRecord.encryptedPassword = korvansim::kDefaultPassword;   // the fake decrypts as is
        item.configInts["SMCONFIG_NAME_SERVER_PORT"] = port;
        item.configInts["SMCONFIG_NAME_USE_SECURE_CONNECTION"] = 1;
        item.configLists["SMCONFIG_STORAGE_PROXY_LIST_KEY"] = {korvansim::kDefaultProxy};
    }
    batch.os.arrayList = korvansim::kDefaultClusterName;
    batch.os.arrayDetails[korvansim::kDefaultClusterName] =
        std::string("{id:1,hostName:127.0.0.1,hostUserName:") + korvansim::kDefaultUser +
        ",hostPassword:" + korvansim::kDefaultPassword + "}";
}

void configureLuns(krvntest::FakeLunBatch& batch, int items, int port, const std::string& storedPassword,
                   const std::string& host) {
    for (int i = 0; i < items; ++i) {
        krvntest::FakeLunInfo& item = batch.add();
        item.diskName = "pv" + std::to_string(i + 1);
        item.clusterName = korvansim::kDefaultClusterName;
        item.controlHost = "127.0.0.1";
        item.userName = korvansim::kDefaultUser;
        item.storedPassword = storedPassword;
        item.size = 2L << 30;
        item.configs["SMCONFIG_NAME_SERVER_PORT"] = std::to_string(port);
        item.configs["SMCONFIG_NAME_USE_SECURE_CONNECTION"] = "1";
        item.configs["SMCONFIG_STORAGE_PROXY_LIST_KEY"] = korvansim::kDefaultProxy;
        item.setIscsiHost(host, {korvansim::defaultIqn(host)});
    }
}

struct Step {
    const char* family;
    const char* name;
    std::function<int()> run;
    std::function<int()> itemsOk;
    std::function<std::string()> error;
};

double peakMB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

}  // namespace

int scaleChild(int argc, char** argv) {
    if (argc < 6) {
        std::fprintf(stderr, "usage: krvn-bench --scale-child ITEMS PORT SIM_URL STORED_PASSWORD\n");
        return 2;
    }
    const int items = std::atoi(argv[2]);
    const int port = std::atoi(argv[3]);
    const std::string simUrl = argv[4];
    const std::string storedPassword = argv[5];
    const std::string host = korvansim::localHostName();
    curl_global_init(CURL_GLOBAL_DEFAULT);
    Entries e{};
    if (!loadPlugin(e)) return 2;

    krvntest::FakeSnapBatch snaps(items);
    attachHost(snaps.os, simUrl, host);
    configureSnaps(snaps, port, snaps.os.deviceLists.front());
    krvntest::FakeLunBatch luns;
    configureLuns(luns, items, port, storedPassword, host);
    attachHost(luns.os, simUrl, host);

    auto snapCall = [&snaps](zyso_snap_fn fn) { return [&snaps, fn] { return fn(snaps.data(), snaps.count(), &snaps.os); }; };
    auto lunCall = [&luns](zyso_lun_fn fn) {
        return [&luns, fn] { return fn(luns.data(), static_cast<short>(luns.count()), &luns.os); };
    };
    auto snapsAt = [&snaps](int status) {
        return [&snaps, status] {
            int n = 0;
            for (size_t i = 0; i < snaps.size(); ++i) n += snaps[i].status == status;
            return n;
        };
    };
    auto lunsAt = [&luns](short status) {
        return [&luns, status] {
            int n = 0;
            for (size_t i = 0; i < luns.size(); ++i) n += luns[i].status == status;
            return n;
        };
    };
    auto snapError = [&snaps] { return snaps[0].lastErrorMessage; };
    auto lunError = [&luns] { return luns[0].lastErrorMessage; };
    // Success statuses: prepare 1, create 5, map 12, unmap 14 (reconcile keeps it), delete 20;
    // disks created 0, mapped 9, unmapped 14, deleted 20.
    const std::vector<Step> steps = {
        {"snap", "prepare", snapCall(e.prepare), snapsAt(1), snapError},
        {"snap", "snap", snapCall(e.snap), snapsAt(5), snapError},
        {"snap", "map", snapCall(e.map), snapsAt(12), snapError},
        {"snap", "unmap", snapCall(e.unmap), snapsAt(14), snapError},
        {"snap", "reconcile", snapCall(e.reconcile), snapsAt(14), snapError},
        {"snap", "delete", snapCall(e.remove), snapsAt(20), snapError},
        {"prov", "create", lunCall(e.create), lunsAt(0), lunError},
        {"prov", "map", lunCall(e.lunMap), lunsAt(9), lunError},
        {"prov", "unmap", lunCall(e.lunUnmap), lunsAt(14), lunError},
        {"prov", "delete", lunCall(e.lunDelete), lunsAt(20), lunError},
    };
    std::string line;
    for (const Step& step : steps) {
        std::cout << "ready " << step.family << " " << step.name << std::endl;
        if (!std::getline(std::cin, line) || line != "go") return 2;
        auto start = std::chrono::steady_clock::now();
        int rc = step.run();
        std::chrono::duration<double, std::milli> wall = std::chrono::steady_clock::now() - start;
        std::string error = rc == 0 ? "" : step.error();
        for (char& c : error)
            if (c == '\n') c = ' ';
        std::cout << "done " << rc << " " << step.itemsOk() << " " << wall.count() << " " << peakMB() << " " << error
                  << std::endl;
    }
    std::cout << "end" << std::endl;
    return 0;
}

}  // namespace krvnbench
