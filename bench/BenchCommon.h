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
    double cpuMs = 0;      // CPU time of the child (the plug-in and the host objects) during the call
    double simCpuMs = 0;   // CPU time of the simulator (the driver's process) during the call
    double maxGapMs = 0;   // the longest time between two cluster requests of the call
    long requests = 0;     // cluster requests (the simulator's REST counter)
    long connections = 0;  // TCP connections opened to the cluster service
    long simCalls = 0;     // SAN and host calls to the simulator, standing in for the kernel
    // The child's peak resident set so far: its VmHWM. (getrusage's ru_maxrss would carry the
    // driver's own peak across the exec that started the child.)
    double peakMB = 0;
    long logKB = 0;           // what the call wrote to the platform log
    double floorUs = 0;       // the HTTPS floor measured on this run's simulator just before its calls
    double ratio = 0;         // wall / (requests x floor)
    double ratioWithSim = 0;  // wall / (requests x floor + sim calls x the new-connection floor)
    std::string error;        // the final error text handed to the first item, when rc != 0
    Json requestTypes;        // cluster requests per type
};

// Google Benchmark over the plug-in's hot paths; argv may hold --benchmark_* options.
std::vector<MicroResult> runMicro(int& argc, char** argv);

// The floor of one cluster round trip against an in-process simulator.
std::vector<FloorResult> runFloor();
constexpr int kFloorBatches = 7;

// The end-to-end runs: for each size, a fresh simulator and a child process that takes
// items of that size through every snapshot and provisioning step over HTTPS.
// restLogging 0 turns the transport's response dumps off (the array's diagnostic logging). The
// floors are measured again on each size's simulator, so that a busier or quieter machine
// moves both sides of the ratio.
std::vector<ScaleRow> runScale(const std::vector<int>& sizes, bool restLogging);

// The child side of runScale (krvn-bench --scale-child ...).
int scaleChild(int argc, char** argv);

// Resident-set readings of this process from /proc/self/status, in kB.
long residentKB();
long peakResidentKB();
// Starts a new peak from the current resident set; false when the kernel refuses.
bool resetPeakResident();
// CPU time (user and system) of this process, from getrusage.
double processCpuMs();

}  // namespace krvnbench
