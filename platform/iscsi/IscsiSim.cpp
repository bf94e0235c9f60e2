// The "sim" iSCSI backend: sessions of this host in the cluster simulator.
#include <nlohmann/json.hpp>

#include "IscsiBackends.h"
#include "SimClient.h"

namespace ZyIscsi {

namespace {

// POST /sim/iscsi/{action} for this host.
bool post(const char* action, const char* portal, const char* target, ZyPlatform::SimResponse& r) {
    nlohmann::json body = {{"host", ZyPlatform::simHostName()}, {"portal", portal ? portal : ""}};
    if (target) body["target"] = target;
    std::string text = body.dump();
    return ZyPlatform::simRequest(std::string("/sim/iscsi/") + action, &text, r);
}

}  // namespace

int SimIscsi::discoverPortal(const char* portal) {
    ZyPlatform::SimCallMeter meter;
    ZyPlatform::SimResponse r;
    return post("discover", portal, nullptr, r) ? 0 : -1;
}

bool SimIscsi::login(const char* portal, const char* targetIqn) {
    ZyPlatform::SimCallMeter meter;
    ZyPlatform::SimResponse r;
    return targetIqn && post("login", portal, targetIqn, r);
}

bool SimIscsi::logout(const char* portal, const char* targetIqn) {
    ZyPlatform::SimCallMeter meter;
    ZyPlatform::SimResponse r;
    return targetIqn && post("logout", portal, targetIqn, r);
}

bool SimIscsi::getTargetDevice(const char* targetIqn, char* buffer, unsigned long long* length) {
    ZyPlatform::SimCallMeter meter;
    if (!targetIqn) return false;
    ZyPlatform::SimResponse r;
    if (!ZyPlatform::simRequest("/sim/iscsi/device?host=" + ZyPlatform::simEscape(ZyPlatform::simHostName()) +
                                    "&target=" + ZyPlatform::simEscape(targetIqn),
                                nullptr, r))
        return false;
    nlohmann::json answer = nlohmann::json::parse(r.body, nullptr, false);
    auto device = answer.is_object() ? answer.find("device") : answer.end();
    if (device == answer.end() || !device->is_string()) return false;
    std::string path = device->get<std::string>();
    // Not logged in: the query worked and the buffer stays empty.
    return path.empty() || giveDevice(path, buffer, length);
}

}  // namespace ZyIscsi
