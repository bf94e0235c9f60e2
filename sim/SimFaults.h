// Fault injection and counters of korvan-sim.
//
// A fault names a request type ("*" for any) and a kind, and fires for the next `count`
// requests of that type (-1: until cleared), once `after` of them have passed untouched. Counters record REST requests per type, SAN
// calls per kind, accepted TCP connections and the order of the latest REST requests. Used under the Simulator's lock, except the
// connection counter, which is atomic because the servers' accept threads bump it.
#pragma once

#include <atomic>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "SimModel.h"

namespace korvansim {

enum class FaultKind { Drop, Status, NotJson, WrongType, WrongShape, Message, Latency };

struct Fault {
    std::string type;  // request type, or "*"
    FaultKind kind = FaultKind::Status;
    int status = 500;
    std::string message = "Injected fault";
    int latencyMs = 0;
    int count = 1;
    int after = 0;       // matching requests let through before it fires
    bool apply = false;  // carry out the request before answering with the fault
};

class FaultBook {
public:
    // Adds one fault described as in the control API; false with a reason when malformed.
    bool add(const Json& faultJson, std::string& message);
    void clear() { faults_.clear(); }
    // The first fault for that type (or "*") with firings left, spending one.
    std::optional<Fault> take(const std::string& type);
    Json dump() const;

private:
    std::vector<Fault> faults_;
};

class Counters {
public:
    void request(const std::string& type);
    void san(const std::string& kind) { ++san_[kind]; }
    // Every accepted TCP connection; `tls` for those of an HTTPS listener.
    void connection(bool tls) {
        ++connections_;
        if (tls) ++tlsConnections_;
    }
    void clear();
    Json dump() const;
    long requests(const std::string& type) const;

private:
    std::map<std::string, long> requests_;
    std::map<std::string, long> san_;
    std::deque<std::string> sequence_;  // REST request types in arrival order, the latest kept
    long rest_ = 0;
    std::atomic<long> connections_{0};
    std::atomic<long> tlsConnections_{0};
};

}  // namespace korvansim
