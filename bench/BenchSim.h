// An in-process korvan-sim for the bench: HTTP for the SAN and control side, HTTPS for the
// cluster service, a settings file of its own (virtual time, sim backends, the CA) and a
// count of the calls the platform's SAN and host stand-ins make to /sim/.
//
// The simulator counts accepted TCP connections, all of them and those of its HTTPS listener:
// the cluster service's, since the platform's stand-ins make their /sim/ calls over HTTP, each
// on a connection of its own.
//
// It can also keep the cluster exchanges of one entry call (Recording), for the bare client's
// replay and for the reading of the storage proxy's LUN tables.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "BenchCommon.h"
#include "ScopedSettings.h"
#include "SimCert.h"
#include "Simulator.h"

namespace krvnbench {

// One cluster exchange as the simulator saw it.
struct Exchange {
    std::string method;
    std::string body;    // the form body as it came
    std::string answer;  // what was sent back
    int http = 200;
    // When the request came, in microseconds from the recording's first, and the time the
    // simulator took to answer it: the pace a faithful replay keeps.
    double arrivalUs = 0;
    double serviceUs = 0;
};

// What a recording keeps: every exchange, or none; and of the LUN tables (ShowTarget
// answers) the count and bytes of all and every `lunStride`-th answer itself.
struct Recording {
    bool all = false;
    bool changed = false;  // an exchange of a request type that may change the cluster
    long lunStride = 1;
    std::vector<Exchange> exchanges;
    std::chrono::steady_clock::time_point firstArrival;
    long lunTables = 0;
    long long lunBytes = 0;
    std::vector<std::string> lunSamples;
    long long lunSampleBytes = 0;
};

class BenchSim {
public:
    // `contents` false: the vDisks have no image files (Simulator::withoutContents), for
    // clusters of more vDisks than the process may hold open files.
    explicit BenchSim(const Json& seed, bool contents = true);
    ~BenchSim();
    BenchSim(const BenchSim&) = delete;
    BenchSim& operator=(const BenchSim&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    int port() const { return port_; }
    int httpsPort() const { return httpsPort_; }
    std::string url(bool https) const;
    const std::string& caFile() const { return caFile_; }
    const korvansim::TlsIdentity& identity() const { return identity_; }
    krvntest::ScopedSettings& settings() { return settings_; }
    // The platform log is moved there at the end instead of removed.
    void keepLogAs(const std::string& path) { keptLog_ = path; }
    korvansim::Simulator& sim() { return sim_; }

    struct Tally {
        long requests = 0;     // cluster requests
        long connections = 0;         // every accepted TCP connection
        long clusterConnections = 0;  // those to the cluster service (HTTPS)
        long simCalls = 0;     // /sim/ requests
        Json byType;           // cluster requests per type
        double maxGapMs = 0;   // longest time between two cluster requests since restartGap()
        long longGaps = 0;     // gaps since restartGap() after which the service closes an idle connection
        long logBytes = 0;     // size of the platform's log file (the plug-in's log)
    };
    Tally tally();
    void restartGap();

    // Starts keeping exchanges as `recording` says (its lists emptied); stopRecording() hands
    // them back.
    void startRecording(Recording recording);
    Recording stopRecording();

private:
    krvntest::ScopedSettings settings_;
    korvansim::Simulator sim_;
    // Shared with the request log, which the servers' threads call.
    struct Log {
        std::mutex mutex;
        long simCalls = 0;
        bool seenRest = false;
        std::chrono::steady_clock::time_point lastRest;
        double maxGapMs = 0;
        long longGaps = 0;
        bool recording = false;
        Recording kept;
    };
    std::shared_ptr<Log> log_ = std::make_shared<Log>();
    int port_ = -1;
    int httpsPort_ = -1;
    korvansim::TlsIdentity identity_;
    std::string caFile_;
    std::string logFile_;
    std::string keptLog_;
    std::string error_;
};

// The simulator closes a keep-alive connection idle this long (Simulator.cpp).
constexpr double kServiceIdleCloseMs = 3000;

// One floor (see runFloor) on this simulator, the median of `batches` batches.
FloorResult measureFloor(BenchSim& sim, const char* name, bool https, bool fresh, int batches);
// One /sim/ request (the host's description, a small constant answer) over a new HTTP
// connection per request, as the platform's SAN stand-ins make them: microseconds each.
double measureSanFloor(BenchSim& sim, int batches);

// The exchanges replayed in order by a bare libcurl client over one HTTPS keep-alive
// connection to a server that answers each with its recorded answer: the client's CPU time
// per request in microseconds, the median of `runs` (0 when the replay went wrong).
struct ReplayCpu {
    // On the recorded call's timeline: each request sent no earlier than it came in the
    // recording, each answer held for the time the simulator took to make it. What an exchange
    // costs a client depends on that pace (an idle peer takes longer to wake), so this is the
    // replay the plug-in is held against.
    double bareUs = 0;
    double instantUs = 0;   // each request as soon as the last answer came, each answer at once
    double platformUs = 0;  // paced, through the platform's HTTP client (ZYLibCurl)
};
ReplayCpu replayCpuUsPerRequest(const BenchSim& sim, const std::vector<Exchange>& exchanges, int runs,
                                std::string& error);

// The same bare client sending the exchanges of a call that changed nothing to the simulator
// itself, as the plug-in did: a login of its own first (the recorded one), then each recorded
// body with the recorded session replaced by the new one. The client's CPU time per request in
// microseconds (median of `runs`), or 0 when an answer's HTTP status differed from the recorded.
double replayOnSimCpuUsPerRequest(const BenchSim& sim, const std::vector<Exchange>& exchanges, int runs,
                                  std::string& error);

// The CPU time, in milliseconds, the bare client takes to receive the given answers (whole
// ShowTarget envelopes) over one HTTPS connection, one request each, the median of
// kReplayRuns; 0 (and `error`) when the replay went wrong.
double lunTableReceiveMs(const BenchSim& sim, const std::vector<std::string>& answers, std::string& error);

// The CPU time, in milliseconds, unmap's reader of the storage proxy's LUN table takes
// over the given answers (each a whole ShowTarget envelope).
double lunTableReadMs(const std::vector<std::string>& answers, const std::string& proxy);

}  // namespace krvnbench
