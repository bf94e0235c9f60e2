// krvn-bench: what the three parts of a run measure and hand to the driver.
//
// The micro benchmarks and the round-trip floor run in the driver's process; every scale run
// runs the plug-in in a child process of its own, so that its peak resident memory is the
// plug-in's (with the host objects around it) and not the simulator's or the benchmarks'.
// Nothing here is thread-safe beyond what each function says; the driver is single-threaded.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace krvnbench {

using Json = nlohmann::json;

// The list readers run at these element counts (and at a tenth of the larger one).
constexpr int kElementsSmall = 1000;
constexpr int kElementsLarge = 100000;
// Per-element CPU time at the larger count over that at the smaller. A 100,000-element answer
// (about 10 MB) no longer fits the caches, which costs up to about 2.5x per element on this
// kind of machine; a reader that walked to element i from the start would cost about 100x.
constexpr double kElementGrowthAllowance = 4.0;

struct MicroResult {
    std::string name;
    double nsPerOp = 0;     // wall time
    double cpuNsPerOp = 0;  // CPU time: steadier on a shared machine
    long long iterations = 0;
    double mbPerSec = 0;  // per CPU second; 0 when the benchmark moves no bytes
    double peakMB = 0;    // growth of the resident set during one run; 0 when not measured
};

// Requests to the simulator through raw libcurl.
struct FloorResult {
    std::string name;         // "http", "https" (one reused connection), "http-fresh" (one per request)
    double usPerRequest = 0;  // median of the batches' means
    double requestsPerSec = 0;
    long connections = 0;  // TCP connections the simulator accepted during the batches
    long requests = 0;
};

// One entry call of a scale run.
struct ScaleRow {
    std::string family;  // "snap" or "prov"
    std::string step;
    int items = 0;
    int rc = -1;      // what the entry point returned
    int itemsOk = 0;  // items left with the step's success status
    double wallMs = 0;
    double cpuMs = 0;      // CPU time of the child process during the call
    double hostCpuMs = 0;  // ... of it inside the host's objects (korvan-host's, metered)
    double sanCpuMs = 0;   // ... inside the platform's SAN stand-ins (ZySimCallTally.h)
    double meterMs = 0;    // what the meters themselves cost outside their windows
    // ... of the plug-in's own inside the platform's HTTP client (its cluster exchanges:
    // libcurl, TLS, the kernel's share), from the client's tally (ZyHttpCallTally.h).
    double httpCpuMs = 0;
    // The plug-in's own: cpuMs - hostCpuMs - sanCpuMs - meterMs.
    double pluginCpuMs = 0;
    long hostCalls = 0;
    long sanCalls = 0;     // calls into the SAN stand-ins
    double simCpuMs = 0;   // CPU time of the simulator (the driver's process) during the call
    double maxGapMs = 0;   // the longest time between two cluster requests of the call
    long idleCloses = 0;   // gaps long enough for the cluster service to close the idle connection
    long requests = 0;     // cluster requests (the simulator's REST counter)
    long connections = 0;  // TCP connections opened to the cluster service
    long simCalls = 0;     // HTTP requests to /sim/ (the SAN and host stand-ins, one new connection each)
    // The child's peak resident set during the call: its VmHWM, reset before the call.
    double peakMB = 0;
    long logBytes = 0;         // what the call wrote to the platform log
    double floorUs = 0;        // the HTTPS round trip measured on this run's simulator
    double sanFloorUs = 0;     // one /sim/ request over a new connection, measured likewise
    double unexplainedMs = 0;  // wall - requests x floor - simCalls x SAN floor
    // The same requests replayed by a bare libcurl client (same bodies, same answers, one
    // HTTPS keep-alive connection, the call's pace): its CPU per request, the median of
    // kReplayRuns; 0 when not run.
    double bareUsPerRequest = 0;
    double bareInstantUsPerRequest = 0;  // the same replay without the pace (ReplayCpu::instantUs)
    double platformUsPerRequest = 0;     // the paced replay through the platform's HTTP client
    double bareOnSimUsPerRequest = 0;  // the bare client sending a call that changed nothing to the simulator
    // The storage proxy's LUN tables (ShowTarget answers) the call read, and the CPU time the
    // plug-in's own reader takes over them (over a sample, scaled by bytes, at large sizes).
    long lunTables = 0;
    double lunTableMB = 0;
    double lunParseMs = 0;
    // What receiving them costs a bare client (one request each, over a sample, scaled by count).
    double lunReceiveMs = 0;
    std::string error;  // the final error text handed to the first item, when rc != 0
    Json requestTypes;  // cluster requests per type
    // At kReplayMaxItems the step runs kReplayedSizeRuns times and this row is its median run
    // (by overBare()); the lowest and highest of that ratio over the runs.
    int runs = 1;
    double overBareLow = 0;
    double overBareHigh = 0;

    double pluginUsPerRequest() const { return requests > 0 ? pluginCpuMs * 1000.0 / requests : 0; }
    // The plug-in's CPU beside its HTTP client (building, reading, logging), per request.
    double ownUsPerRequest() const { return requests > 0 ? (pluginCpuMs - httpCpuMs) * 1000.0 / requests : 0; }
    double httpUsPerRequest() const { return requests > 0 ? httpCpuMs * 1000.0 / requests : 0; }
    double logBytesPerItem() const { return items > 0 ? static_cast<double>(logBytes) / items : 0; }
    // The plug-in's CPU per request over the bare client's, 0 when the call was not replayed.
    double overBare() const { return bareUsPerRequest > 0 ? pluginUsPerRequest() / bareUsPerRequest : 0; }
};

// Google Benchmark over the plug-in's hot paths; argv may hold --benchmark_* options.
std::vector<MicroResult> runMicro(int& argc, char** argv);

// The floor of one cluster round trip against an in-process simulator.
std::vector<FloorResult> runFloor();
constexpr int kFloorBatches = 7;
constexpr int kReplayRuns = 3;

// The end-to-end runs: for each size, a fresh simulator and a child process that takes
// items of that size through every snapshot and provisioning step over HTTPS.
// restLogging 0 turns the transport's response dumps off (the array's diagnostic logging). The
// floors are measured again on each size's simulator, so that a busier or quieter machine
// moves both sides. Calls at up to kReplayMaxItems items are replayed by a bare client.
// With a `keepLogs` folder, each size's platform log is kept there as log-<items>.txt.
// Per-request figures move by a tenth or two between runs on a shared machine, so the calls at
// kReplayMaxItems items (where they are judged) run kReplayedSizeRuns times, each on a fresh
// simulator and child, and each step keeps its median run.
std::vector<ScaleRow> runScale(const std::vector<int>& sizes, bool restLogging, const std::string& keepLogs);
constexpr int kReplayMaxItems = 1000;
constexpr int kReplayedSizeRuns = 3;

// The child side of runScale (krvn-bench --scale-child ...).
int scaleChild(int argc, char** argv);

// The iSCSI data path against the simulator's own target over loopback (libiscsi).
struct DataPathResult {
    std::string what;  // "sequential write 64 KiB", ...
    double mibPerSec = 0;
    double mib = 0;  // moved
    double ms = 0;
};
struct DataPathReport {
    std::vector<DataPathResult> transfers;
    double snapshotMs = 0;  // MakeSnapshot of a 10 GiB vDisk with 100 MiB written, over HTTPS
    double writtenMiB = 0;
    std::string error;  // why the section could not run, or empty
};
DataPathReport runDataPath();

// Resident-set readings of this process from /proc/self/status, in kB.
long residentKB();
long peakResidentKB();
// Starts a new peak from the current resident set; false when the kernel refuses.
bool resetPeakResident();
// CPU time (user and system) of this process, from getrusage.
double processCpuMs();

}  // namespace krvnbench
