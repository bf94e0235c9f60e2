// An in-process korvan-sim for the bench: HTTP for the SAN and control side, HTTPS for the
// cluster service, a settings file of its own (virtual time, sim backends, the CA) and a
// count of the calls the platform's SAN and host stand-ins make to /sim/.
//
// The simulator's connection counter counts every accepted TCP connection, and each /sim/
// call of the platform opens one of its own; so the connections of the cluster service are
// the counter less those calls.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <string>

#include "BenchCommon.h"
#include "ScopedSettings.h"
#include "Simulator.h"

namespace krvnbench {

class BenchSim {
public:
    explicit BenchSim(const Json& seed);
    ~BenchSim();
    BenchSim(const BenchSim&) = delete;
    BenchSim& operator=(const BenchSim&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    int port() const { return port_; }
    int httpsPort() const { return httpsPort_; }
    std::string url(bool https) const;
    const std::string& caFile() const { return caFile_; }
    krvntest::ScopedSettings& settings() { return settings_; }
    korvansim::Simulator& sim() { return sim_; }

    struct Tally {
        long requests = 0;     // cluster requests
        long connections = 0;  // every accepted TCP connection
        long simCalls = 0;     // /sim/ requests
        Json byType;           // cluster requests per type
        double maxGapMs = 0;   // longest time between two cluster requests since restartGap()
        long logBytes = 0;     // size of the platform's log file (the plug-in's log)
    };
    Tally tally();
    void restartGap();

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
    };
    std::shared_ptr<Log> log_ = std::make_shared<Log>();
    int port_ = -1;
    int httpsPort_ = -1;
    std::string caFile_;
    std::string logFile_;
    std::string error_;
};

// One floor (see runFloor) on this simulator, the median of `batches` batches.
FloorResult measureFloor(BenchSim& sim, const char* name, bool https, bool fresh, int batches);

}  // namespace krvnbench
