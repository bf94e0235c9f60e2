// Micro benchmarks of the plug-in's hot paths: secret masking, every request builder, the
// reading of a whole-cluster vDisk list (with an nlohmann/json reader of the same answer as
// the baseline), the readers of the other lists from 1,000 to 100,000 elements, and the three
// SCSI page readers.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <limits>
#include <memory>
#include <thread>
#include <utility>

#include "BenchCommon.h"
#include "KrvnCommonUtils.h"
#include "KrvnTextsCluster.h"
#include "SimSan.h"
#include "SimSeed.h"
#include "Simulator.h"

namespace krvnbench {

using namespace ZYKorvanCommon;

namespace {

constexpr int kListedDisks = 100000;
constexpr size_t kMaskedRequestBytes = 4096;
constexpr double kMB = 1024.0 * 1024.0;

// The plug-in's side of one call: a context without a host (logging to the bench settings) and
// the utilities on it, logged in as far as the builders care.
struct PluginSide {
    PluginSide() : ctx(nullptr), utils(&ctx) {
        ctx.arrayDetails.arrayId = "krvn-cluster";
        ctx.arrayDetails.userName = "admin";
        ctx.arrayDetails.userPswd = "s3cret-Passw0rd";
        ctx.arrayDetails.sessionId = "5f0c8a4e-1d2b-4c3a-9e8f-7a6b5c4d3e2f";
    }
    KrvnCommonCtx ctx;
    KrvnCommonUtils utils;
};

PluginSide& plugin() {
    static PluginSide side;
    return side;
}

// ---- The whole-cluster vDisk list ---------------------------------------------------------------

// The simulator's own ListVirtualDisks answer for a cluster of `count` vDisks, each exposed on
// one storage proxy and carrying a description, about 500 bytes a disk.
std::string listVirtualDisksAnswer(int count) {
    korvansim::Simulator sim;
    Json seed = korvansim::defaultSeed(korvansim::localHostName(), 0);
    seed["vdisks"] = Json::array();
    for (int i = 0; i < count; ++i) {
        seed["vdisks"].push_back(
            {{"name", "bench-vdisk-" + std::to_string(i)},
             {"sizeGB", 100 + i % 900},
             {"description", "bench data volume " + std::to_string(i) + " of the nightly database tier, replicated"},
             {"exposures", {{{"proxy", korvansim::kDefaultProxy}, {"initiators", Json::array()}}}}});
    }
    std::string message;
    if (!sim.loadSeed(seed, message)) {
        std::fprintf(stderr, "krvn-bench: the simulator refused the list seed: %s\n", message.c_str());
        return "";
    }
    std::string login = std::string("request={type:Login, category:UserManagement, params:{userName:'") +
                        korvansim::kDefaultUser + "', password:'" + korvansim::kDefaultPassword + "', cluster:'" +
                        korvansim::kDefaultClusterName + "'}}";
    Json answer = Json::parse(sim.rest("POST", login).body, nullptr, false);
    std::string session = answer.is_object() ? answer["result"].value("sessionId", "") : "";
    return sim
        .rest("POST", "request={type:ListVirtualDisks, category:VirtualDiskManagement, sessionId:'" + session + "'}")
        .body;
}

const std::string& listAnswer() {
    static const std::string text = listVirtualDisksAnswer(kListedDisks);
    return text;
}

// The same reading as processGetAllVDisks, written the usual way with nlohmann/json: the
// envelope check, then every disk member taken only with its JSON type and in its range.
template <typename Int>
void takeInt(const Json& item, const char* key, Int& out) {
    auto it = item.find(key);
    if (it == item.end()) return;
    if (it->is_number_integer()) {
        long long v = it->get<long long>();
        if (it->is_number_unsigned() &&
            it->get<unsigned long long>() > static_cast<unsigned long long>(std::numeric_limits<long long>::max()))
            return;
        if (v >= std::numeric_limits<Int>::min() && v <= std::numeric_limits<Int>::max()) out = static_cast<Int>(v);
    } else if (it->is_number_float()) {
        double v = it->get<double>();
        if (v >= static_cast<double>(std::numeric_limits<Int>::min()) &&
            v <= static_cast<double>(std::numeric_limits<Int>::max()))
            out = static_cast<Int>(v);
    }
}

void takeBool(const Json& item, const char* key, bool& out) {
    auto it = item.find(key);
    if (it != item.end() && it->is_boolean()) out = it->get<bool>();
}

void takeText(const Json& item, const char* key, std::string& out) {
    auto it = item.find(key);
    if (it != item.end() && it->is_string()) out = it->get<std::string>();
}

unsigned int nlohmannGetAllVDisks(const std::string& text, std::vector<KrvnDisk>& disks) {
    Json doc = Json::parse(text, nullptr, false);
    if (doc.is_discarded() || !doc.is_object()) return ZY_KRVN_ERR_OPERATION_FAILED;
    std::string status, type;
    takeText(doc, ZY_KRVN_REST_CMN_FIELD_STATUS, status);
    takeText(doc, ZY_KRVN_REST_CMN_FIELD_TYPE, type);
    if (status != ZY_KRVN_REST_CMN_VALUE_STATUS_OK || type != ZY_KRVN_REST_CMN_VALUE_TYPE_GET_ALL_VDISKS)
        return ZY_KRVN_ERR_REST_CONTENT;
    auto result = doc.find(ZY_KRVN_REST_CMN_FIELD_RESULT);
    if (result == doc.end() || !result->is_object()) return ZY_KRVN_ERR_REST_CONTENT;
    auto list = result->find(ZY_KRVN_REST_GET_ALL_VDISKS_FIELD_DISKS);
    if (list == result->end() || !list->is_array() || list->empty()) return ZY_KRVN_ERR_REST_CONTENT;
    for (const Json& item : *list) {
        KrvnDisk disk;
        takeBool(item, ZY_KRVN_VDISK_FIELD_IS_CLONE, disk.isClone);
        takeBool(item, ZY_KRVN_VDISK_FIELD_CLUSTERED_FS, disk.clusteredFileSystem);
        takeBool(item, ZY_KRVN_VDISK_FIELD_COMPRESSED, disk.compressed);
        takeBool(item, ZY_KRVN_VDISK_FIELD_DEDUPLICATION, disk.deduplication);
        takeBool(item, ZY_KRVN_VDISK_FIELD_ENCRYPTION, disk.encryption);
        takeBool(item, ZY_KRVN_VDISK_FIELD_SCSI3PR, disk.scsi3pr);
        takeBool(item, ZY_KRVN_VDISK_FIELD_FROZEN, disk.frozen);
        takeInt(item, ZY_KRVN_VDISK_FIELD_BLOCK_SIZE, disk.blockSize);
        takeInt(item, ZY_KRVN_VDISK_FIELD_REPL_FACTOR, disk.replicationFactor);
        takeInt(item, ZY_KRVN_VDISK_FIELD_SCSI_SERIAL, disk.scsiSerialNumber);
        takeText(item, ZY_KRVN_VDISK_FIELD_CREATED_BY, disk.createdBy);
        takeText(item, ZY_KRVN_VDISK_FIELD_DISK_TYPE, disk.diskType);
        takeText(item, ZY_KRVN_VDISK_FIELD_NAME, disk.vDiskName);
        takeText(item, ZY_KRVN_VDISK_FIELD_REPL_POLICY, disk.replicationPolicy);
        takeText(item, ZY_KRVN_VDISK_FIELD_STATUS, disk.status);
        takeText(item, ZY_KRVN_VDISK_FIELD_TENANT, disk.tenant);
        takeText(item, ZY_KRVN_VDISK_FIELD_FREEZE_REASON, disk.freezeReason);
        auto locations = item.find(ZY_KRVN_VDISK_FIELD_TARGET_LOCATIONS);
        if (locations != item.end() && locations->is_array())
            for (const Json& location : *locations)
                if (location.is_string()) {
                    const std::string& text = location.get_ref<const std::string&>();
                    disk.targetLocations.push_back(text.substr(0, text.find(ZY_KRVN_TARGET_LOCATION_PORT_SEP)));
                }
        disks.push_back(std::move(disk));
    }
    return 0;
}

using ListReader = std::function<unsigned int(std::vector<KrvnDisk>&)>;

const std::pair<const char*, ListReader> kListReaders[] = {
    {"processGetAllVDisks/100k",
     [](std::vector<KrvnDisk>& disks) { return plugin().utils.processGetAllVDisks(disks); }},
    {"nlohmannGetAllVDisks/100k",
     [](std::vector<KrvnDisk>& disks) { return nlohmannGetAllVDisks(listAnswer(), disks); }},
};

void benchListReader(benchmark::State& state, const ListReader& read) {
    const std::string& text = listAnswer();
    if (text.empty()) return state.SkipWithError("no list answer");
    // The transport leaves the answer in the context; copying it there is not the reading.
    plugin().ctx.restResponse = text;
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<KrvnDisk> disks;
        state.ResumeTiming();
        unsigned int rc = read(disks);
        if (rc != 0 || disks.size() != static_cast<size_t>(kListedDisks)) return state.SkipWithError("list not read");
        benchmark::DoNotOptimize(disks.data());
        state.PauseTiming();
        disks = std::vector<KrvnDisk>();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
    // One more reading outside the timing, for the memory it takes at its peak (the answer
    // text itself is already resident). The kernel's high-water mark is not always brought up
    // to date while memory is only being touched, so a sampler watches the resident set too.
    {
        std::vector<KrvnDisk> disks;
        // What the timed runs freed may still be held by the allocator and would be reused
        // without showing up as growth.
        malloc_trim(0);
        const long before = residentKB();
        resetPeakResident();
        std::atomic<bool> done{false};
        std::atomic<long> sampled{before};
        std::thread sampler([&] {
            while (!done) {
                sampled = std::max(sampled.load(), residentKB());
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        read(disks);
        done = true;
        sampler.join();
        const long peak = std::max({sampled.load(), peakResidentKB(), residentKB()});
        state.counters["peak_MB"] = static_cast<double>(peak - before) / 1024.0;
    }
    state.counters["answer_MB"] = static_cast<double>(text.size()) / kMB;
}

// ---- The readers of the other lists: every element touched once -------------------------------

std::string elements(int count, const std::function<std::string(const std::string& i)>& element) {
    std::string out;
    for (int i = 0; i < count; ++i) out += (i ? "," : "") + element(std::to_string(i));
    return out;
}

std::string envelope(const char* type, const std::string& result) {
    return std::string(R"({"status":"ok","type":")") + type + R"(","requestId":"q","message":"","result":)" + result +
           "}";
}

struct ElementReader {
    const char* name;
    std::function<std::string(int count)> answer;
    std::function<unsigned int()> read;
};

const ElementReader kElementReaders[] = {
    {"processGetSCSITargetIQNs",
     [](int n) {
         return envelope("ShowTarget",
                         R"({"Lun Information":[)" + elements(n, [](const std::string& i) {
                             return R"({"Lun Id":"vd)" + i + R"(","Target":"iqn.2020-01.com.korvan:sp1:vd)" + i +
                                    R"(","SCSI SN":"46116860184273879)" + i.substr(0, 2) + R"(","Online":"Yes"})";
                         }) + "]}");
     },
     [] {
         std::map<std::string, std::vector<KrvnSCSITarget>> targets;
         return plugin().utils.processGetSCSITargetIQNs("sp1", targets);
     }},
    {"processAddLUN",
     [](int n) {
         return envelope("AddLun",
                         "[" + elements(n, [](const std::string& i) {
                             return R"({"status":"ok","name":"vd)" + i +
                                    R"(","message":"","targets":[{"status":"ok","name":"sp1","message":""}]})";
                         }) + "]");
     },
     [] { return plugin().utils.processAddLUN({}, {}); }},
    {"processAddHostAccessToDisks",
     [](int n) {
         return envelope("PersistACLAccess", "[" + elements(n, [](const std::string& i) {
                                                 return R"({"status":"ok","name":"vd)" + i + R"(","message":""})";
                                             }) + "]");
     },
     [] { return plugin().utils.processAddHostAccessToDisks({}, "iqn.1994-05.com.example:h1", "sp1"); }},
    {"processGetAccessList",
     [](int n) {
         return envelope("GetACLInformation", "[" + elements(n, [](const std::string& i) {
                                                  return R"({"host":"sp)" + i + R"(","initiator":[{"ip":"iqn.h)" + i +
                                                         R"(","name":"h"}]})";
                                              }) + "]");
     },
     [] {
         std::vector<KrvnAccessInfo> access;
         return plugin().utils.processGetAccessList(access);
     }},
    {"processGetSnapList",
     [](int n) {
         return envelope("ListSnapshots", "[" + elements(n, [](const std::string& i) {
                                              return R"({"name":"vol1$snap$)" + i +
                                                     R"(","details":{"vDiskName":"vol1"}})";
                                          }) + "]");
     },
     [] {
         std::vector<std::string> names;
         return plugin().utils.processGetSnapList(names);
     }},
    {"processCreateClone",
     [](int n) {
         return envelope("CloneSnapshot", "[" + elements(n, [](const std::string& i) {
                                              return R"({"status":"ok","name":"c)" + i +
                                                     R"(","message":"","baseDisk":"vol1"})";
                                          }) + "]");
     },
     [] { return plugin().utils.processCreateClone("c0", "vol1$snap$1"); }},
};

// Time per element must not grow with the list: a reader that reached element i by walking
// from the start each time would be quadratic.
void benchElementReader(benchmark::State& state, const ElementReader& reader) {
    const std::string text = reader.answer(static_cast<int>(state.range(0)));
    plugin().ctx.restResponse = text;
    for (auto _ : state) {
        if (reader.read() != 0) return state.SkipWithError("list not read");
    }
    state.SetComplexityN(state.range(0));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

// ---- Masking and the request catalogue ----------------------------------------------------------

// A MakeSnapshot body of about 4 KB with the session id at its end, as the transport logs it.
std::string maskedRequest() {
    std::map<std::string, std::string> sources;
    for (int i = 0; sources.size() < 400; ++i) sources["vol" + std::to_string(1000 + i)] = "";
    std::string body;
    plugin().utils.buildReqBodyForKorvanCreateSnaps(body, sources);
    while (body.size() > kMaskedRequestBytes) {
        sources.erase(std::prev(sources.end()));
        plugin().utils.buildReqBodyForKorvanCreateSnaps(body, sources);
    }
    return body;
}

void benchMask(benchmark::State& state) {
    const std::string request = maskedRequest();
    std::string masked;
    for (auto _ : state) {
        maskSecrets(request, masked);
        benchmark::DoNotOptimize(masked.data());
    }
    if (masked.find(plugin().ctx.arrayDetails.sessionId) != std::string::npos)
        state.SkipWithError("session not masked");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(request.size()));
    state.counters["request_B"] = static_cast<double>(request.size());
}

using Builder = std::function<int(KrvnCommonUtils&, std::string&)>;

KrvnDisk provisionedDisk() {
    KrvnDisk disk;
    disk.vDiskName = "pv0042";
    disk.scsiSerialNumber = 4611686018427387947LL;
    disk.size = 10;
    disk.sizeUnit = "GB";
    disk.diskType = "BLOCK";
    disk.blockSize = 4096;
    disk.replicationFactor = 3;
    disk.description = "bench disk";
    return disk;
}

const std::string kVDisk = "vol0042";
const std::string kSnap = "vol0042$snap$000001";
const std::string kClone = "vol0042$snap$000001$clone1";
const std::string kProxy = "sp1";
const std::string kIqn = "iqn.1994-05.com.redhat:bench-host";

const std::pair<const char*, Builder> kBuilders[] = {
    {"Connect", [](KrvnCommonUtils& u, std::string& o) { return u.buildReqBodyForKorvanConnect(o); }},
    {"Disconnect", [](KrvnCommonUtils& u, std::string& o) { return u.buildReqBodyForKorvanDisconnect(o); }},
    {"GetAllVDisks", [](KrvnCommonUtils& u, std::string& o) { return u.buildReqBodyForKorvanGetAllVDisks(o); }},
    {"GetVDisk",
     [](KrvnCommonUtils& u, std::string& o) { return u.buildReqBodyForKorvanGetVDisk(o, provisionedDisk()); }},
    {"GetVDiskBySSN",
     [](KrvnCommonUtils& u, std::string& o) { return u.buildReqBodyForKorvanGetVDiskBySSN(o, provisionedDisk()); }},
    {"CreateSnaps",
     [](KrvnCommonUtils& u, std::string& o) {
         return u.buildReqBodyForKorvanCreateSnaps(o, {{kVDisk, ""}});
     }},
    {"GetSnapList", [](KrvnCommonUtils& u, std::string& o) { return u.buildReqBodyForKorvanGetSnapList(o, kVDisk); }},
    {"DeleteSnap", [](KrvnCommonUtils& u, std::string& o) { return u.buildReqBodyForKorvanDeleteSnap(o, kSnap); }},
    {"Revert", [](KrvnCommonUtils& u, std::string& o) { return u.buildReqBodyForKorvanRevert(o, kSnap); }},
    {"GetCloneDetails",
     [](KrvnCommonUtils& u, std::string& o) { return u.buildReqBodyForKorvanGetCloneDetails(o, kSnap); }},
    {"CreateClone",
     [](KrvnCommonUtils& u, std::string& o) { return u.buildReqBodyForKorvanCreateClone(o, kClone, kSnap); }},
    {"GetSCSITgtIQNs",
     [](KrvnCommonUtils& u, std::string& o) { return u.buildReqBodyForKorvanGetSCSITgtIQNs(o, kProxy); }},
    {"AddLUN", [](KrvnCommonUtils& u, std::string& o) { return u.buildReqBodyForKorvanAddLUN(o, {kClone}, {kProxy}); }},
    {"AddHostAccessToDisks",
     [](KrvnCommonUtils& u, std::string& o) {
         return u.buildReqBodyForKorvanAddHostAccessToDisks(o, {kClone}, kIqn, kProxy);
     }},
    {"GetAccessList",
     [](KrvnCommonUtils& u, std::string& o) { return u.buildReqBodyForKorvanGetAccessList(o, kClone); }},
    {"RemoveAccess",
     [](KrvnCommonUtils& u, std::string& o) { return u.buildReqBodyForKorvanRemoveAccess(o, kClone, kProxy, kIqn); }},
    {"RemoveLUN",
     [](KrvnCommonUtils& u, std::string& o) { return u.buildReqBodyForKorvanRemoveLUN(o, kClone, kProxy); }},
    {"DeleteDisk",
     [](KrvnCommonUtils& u, std::string& o) {
         return u.buildReqBodyForKorvanDeleteDisk(o, {{kClone, true}});
     }},
    {"GetClusterSettingInfo",
     [](KrvnCommonUtils& u, std::string& o) { return u.buildReqBodyForKorvanGetClusterSettingInfo(o); }},
    {"CreateDisk",
     [](KrvnCommonUtils& u, std::string& o) { return u.buildReqBodyForKorvanCreateDisk(o, provisionedDisk()); }},
    {"ResizeDisk",
     [](KrvnCommonUtils& u, std::string& o) { return u.buildReqBodyForKorvanResizeDisk(o, provisionedDisk()); }},
};

void benchBuilder(benchmark::State& state, const Builder& build) {
    std::string body;
    for (auto _ : state) {
        if (build(plugin().utils, body) != 0) return state.SkipWithError("builder refused its values");
        benchmark::DoNotOptimize(body.data());
    }
}

// ---- SCSI page readers --------------------------------------------------------------------------

std::string inquiryPage(bool evpd, int page) {
    korvansim::DeviceIdentity id{kVDisk, 4611686018427387947LL};
    std::string message;
    return korvansim::buildInquiry(id, "1A2B3C4D5E6F70", evpd, page, message);
}

using PageReader = std::function<size_t(KrvnCommonUtils&, const unsigned char*)>;

struct PageBench {
    const char* name;
    bool evpd;
    int page;
    PageReader read;
};

const PageBench kPageReaders[] = {
    {"getStdDetailsFromSCSIResp", false, 0,
     [](KrvnCommonUtils& u, const unsigned char* page) {
         std::string vendor, product, revision;
         u.getStdDetailsFromSCSIResp(page, vendor, product, revision);
         return vendor.size() + product.size() + revision.size();
     }},
    {"getDiskSerialIdFromSCSIResp", true, 0x80,
     [](KrvnCommonUtils& u, const unsigned char* page) {
         std::string serial;
         u.getDiskSerialIdFromSCSIResp(page, serial);
         return serial.size();
     }},
    {"getArrayIdFromSCSIResp", true, 0x83,
     [](KrvnCommonUtils& u, const unsigned char* page) {
         std::string cluster;
         u.getArrayIdFromSCSIResp(page, cluster);
         return cluster.size();
     }},
};

void benchPageReader(benchmark::State& state, const PageBench& bench) {
    const std::string page = inquiryPage(bench.evpd, bench.page);
    if (page.size() != static_cast<size_t>(ZY_KRVN_SCSI_RESP_LEN)) return state.SkipWithError("no INQUIRY page");
    const auto* bytes = reinterpret_cast<const unsigned char*>(page.data());
    for (auto _ : state) {
        size_t read = bench.read(plugin().utils, bytes);
        if (read == 0) return state.SkipWithError("page read nothing");
        benchmark::DoNotOptimize(read);
    }
}

// Keeps every run for the driver's table and shows the usual console lines.
class CollectingReporter : public benchmark::ConsoleReporter {
public:
    explicit CollectingReporter(std::vector<MicroResult>& out) : out_(out) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
            MicroResult r;
            r.name = run.benchmark_name();
            r.iterations = run.iterations;
            r.nsPerOp = run.GetAdjustedRealTime() * 1e9 / benchmark::GetTimeUnitMultiplier(run.time_unit);
            r.cpuNsPerOp = run.GetAdjustedCPUTime() * 1e9 / benchmark::GetTimeUnitMultiplier(run.time_unit);
            auto counter = [&run](const char* key) {
                auto it = run.counters.find(key);
                return it == run.counters.end() ? 0.0 : static_cast<double>(it->second);
            };
            r.mbPerSec = counter("bytes_per_second") / kMB;
            r.peakMB = counter("peak_MB");
            out_.push_back(r);
        }
        ConsoleReporter::ReportRuns(runs);
    }

private:
    std::vector<MicroResult>& out_;
};

void registerAll() {
    benchmark::RegisterBenchmark("maskSecrets/4KB", benchMask);
    for (const auto& [name, build] : kBuilders)
        benchmark::RegisterBenchmark((std::string("buildReqBodyForKorvan") + name).c_str(), benchBuilder, build);
    for (const PageBench& bench : kPageReaders) benchmark::RegisterBenchmark(bench.name, benchPageReader, bench);
    for (const auto& [name, read] : kListReaders)
        benchmark::RegisterBenchmark(name, benchListReader, read)->Unit(benchmark::kMillisecond)->MinTime(2.0);
    for (const ElementReader& reader : kElementReaders)
        benchmark::RegisterBenchmark(reader.name, benchElementReader, reader)
            ->Arg(kElementsSmall)
            ->Arg(kElementsLarge / 10)
            ->Arg(kElementsLarge)
            ->Complexity(benchmark::oN)
            ->Unit(benchmark::kMicrosecond);
}

}  // namespace

std::vector<MicroResult> runMicro(int& argc, char** argv) {
    std::vector<MicroResult> results;
    registerAll();
    benchmark::Initialize(&argc, argv);
    CollectingReporter reporter(results);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return results;
}

}  // namespace krvnbench
