// The cluster REST service of korvan-sim: one form body in, one envelope out.
//
// Every request type of the plug-in's catalogue is a row of one table (type, HTTP method,
// handler); the frame around the rows decodes the form, parses the notation, checks the
// method and the session, applies injected faults and writes the envelope
// {"status","type","requestId","message","result"}. Used under the Simulator's lock.
#pragma once

#include <string>
#include <vector>

#include "SimFaults.h"
#include "SimModel.h"
#include "SimSan.h"

namespace korvansim {

// What the HTTP layer sends back. `drop` closes the connection without an answer; the delay
// is served after the lock is released.
struct RestReply {
    int http = 200;
    std::string type;  // the request type, when one could be read
    std::string body;
    bool drop = false;
    int latencyMs = 0;
    bool changed = false;              // a request type that may change the model
    std::vector<std::string> touched;  // the vDisks it named whose contents may have to follow
    double serviceUs = 0;              // the time the service took to make it (set by the route)
};

inline constexpr const char* kStatusOk = "ok";
inline constexpr const char* kStatusError = "error";
inline constexpr const char* kNotJsonBody = "<html><body><h1>502 Bad Gateway</h1></body></html>";

// Changes shared by the REST service and the control API.
void withdrawExposure(SanBackend& san, VDisk& disk, const std::string& proxy);
bool removeVDisk(Cluster& cluster, SanBackend& san, const std::string& name);  // false: unknown
bool removeSnapshot(Cluster& cluster, const std::string& snapshot);            // false: unknown

class RestService {
public:
    RestService(Cluster& cluster, SanBackend& san, FaultBook& faults, Counters& counters)
        : cluster_(cluster), san_(san), faults_(faults), counters_(counters) {}

    // `method` is "POST" or "PUT"; `body` the raw form body.
    RestReply handle(const std::string& method, const std::string& body);

private:
    Cluster& cluster_;
    SanBackend& san_;
    FaultBook& faults_;
    Counters& counters_;
    unsigned long requestSeq_ = 0;
};

}  // namespace korvansim
