// Internal to the platform: requests to the cluster simulator ([Platform] simulatorUrl) made
// by the "sim" device backend and by the iSCSI module's "sim" backend. The host is this
// machine's gethostname(), as the simulator knows it. Safe on any thread.
#pragma once

#include <string>

namespace ZyPlatform {

struct SimResponse {
    long status = 0;  // HTTP status; 0 when no answer came
    std::string body;
    std::string error;  // why the exchange failed (transport or HTTP status), empty on 200
};

// One GET (empty body) or POST (JSON body) of `path` (starting with "/sim/"). TLS and
// time-outs follow the platform's HTTP settings. True only for HTTP 200.
bool simRequest(const std::string& path, const std::string* jsonBody, SimResponse& out);

// Percent-encoding of one URL component.
std::string simEscape(const std::string& text);

// gethostname(), or empty.
std::string simHostName();

// Adds the calling thread's CPU time from construction to destruction to simCallTally()
// (ZySimCallTally.h). Put at the top of each sim backend call; a meter inside another on the
// same thread counts nothing, so a call is counted once.
class SimCallMeter {
public:
    SimCallMeter();
    ~SimCallMeter();
    SimCallMeter(const SimCallMeter&) = delete;
    SimCallMeter& operator=(const SimCallMeter&) = delete;

private:
    long long startNs_ = 0;
    bool outermost_ = false;
};

}  // namespace ZyPlatform
