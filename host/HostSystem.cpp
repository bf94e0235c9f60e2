#include "HostSystem.h"

#include <dirent.h>
#include <unistd.h>
#include <algorithm>
#include <fstream>
#include <sstream>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "HostTexts.h"
#include "SimNotation.h"
#include "ZYPlatformInfo.h"
#include "ZyIscsiSessions.h"

namespace KrvnHost {

namespace {

std::vector<std::string> listDir(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = ::opendir(dir.c_str());
    if (!d) return names;
    while (dirent* e = ::readdir(d)) {
        std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

std::string trim(const std::string& text) {
    size_t b = text.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return "";
    size_t e = text.find_last_not_of(" \t\r\n");
    return text.substr(b, e - b + 1);
}

bool readFirstLine(const std::string& path, std::string* line) {
    std::ifstream in(path);
    if (!in) return false;
    std::getline(in, *line);
    *line = trim(*line);
    return true;
}

bool stringList(const nlohmann::json& body, const char* key, std::vector<std::string>* out) {
    out->clear();
    auto it = body.find(key);
    if (it == body.end()) return true;
    if (!it->is_array()) return false;
    for (const auto& v : *it) {
        if (!v.is_string()) return false;
        out->push_back(v.get<std::string>());
    }
    return true;
}

}  // namespace

bool simRequest(const std::string& baseUrl, const std::string& path, const nlohmann::json& body, nlohmann::json* out,
                std::string* error) {
    httplib::Client client(baseUrl);
    client.set_connection_timeout(10);
    client.set_read_timeout(60);
    const char* method = body.is_null() ? "GET " : "POST ";
    httplib::Result res =
        body.is_null() ? client.Get(path.c_str()) : client.Post(path.c_str(), body.dump(), "application/json");
    if (!res) {
        *error = "simulator at " + baseUrl + " unreachable (" + httplib::to_string(res.error()) + ")";
        return false;
    }
    if (res->status < 200 || res->status >= 300) {
        *error = method + path + " answered " + std::to_string(res->status) + ": " + res->body;
        return false;
    }
    *out = nlohmann::json::parse(res->body, nullptr, false);
    if (out->is_discarded()) {
        *error = method + path + " answered no JSON";
        return false;
    }
    return true;
}

std::string localHostName() {
    char name[4096] = {0};
    if (::gethostname(name, sizeof name - 1) != 0) return "";
    return name;
}

// ---- Linux ----

bool LinuxHostSystem::interfaces(const std::string& /*host*/, std::vector<std::string>* wwpns,
                                 std::vector<std::string>* iqns, std::string* /*error*/) {
    wwpns->clear();
    iqns->clear();
    std::ifstream in(root_ + kIscsiInitiatorFile);
    std::string line;
    const std::string key = kIscsiInitiatorKey;
    while (std::getline(in, line)) {
        line = trim(line);
        if (line.compare(0, key.size(), key) == 0) {
            std::string iqn = trim(line.substr(key.size()));
            if (!iqn.empty()) iqns->push_back(iqn);
        }
    }
    const std::string fcDir = root_ + kFcHostDir;
    for (const auto& hostName : listDir(fcDir)) {
        std::string wwpn;
        if (readFirstLine(fcDir + "/" + hostName + "/port_name", &wwpn) && !wwpn.empty()) wwpns->push_back(wwpn);
    }
    // A host without any initiator has nothing to offer the cluster; that is the caller's
    // judgement, not a failure to read.
    return true;
}

bool LinuxHostSystem::devices(const std::string& /*host*/, std::vector<std::string>* devices, std::string* error) {
    devices->clear();
    const std::string dir = root_ + kBlockDir;
    if (::access(dir.c_str(), R_OK) != 0) {
        *error = "cannot read " + dir;
        return false;
    }
    for (const auto& name : listDir(dir))
        if (name.compare(0, 2, "sd") == 0) devices->push_back("/dev/" + name);
    return true;
}

bool LinuxHostSystem::rescan(const std::string& /*host*/, std::string* error) {
    const std::string dir = root_ + kScsiHostDir;
    bool any = false;
    for (const auto& hostName : listDir(dir)) {
        std::ofstream scan(dir + "/" + hostName + "/scan");
        if (!scan) continue;
        scan << kScsiScanAll;
        scan.flush();
        any = any || static_cast<bool>(scan);
    }
    if (!any) *error = "no SCSI host could be rescanned under " + dir;
    return any;
}

// ---- simulator ----

bool SimHostSystem::interfaces(const std::string& host, std::vector<std::string>* wwpns, std::vector<std::string>* iqns,
                               std::string* error) {
    nlohmann::json body;
    if (!simRequest(baseUrl_, "/sim/hosts/" + korvansim::percentEncode(host), nullptr, &body, error)) return false;
    if (!body.is_object() || !stringList(body, "iqns", iqns) || !stringList(body, "wwpns", wwpns)) {
        *error = "unexpected host description from the simulator";
        return false;
    }
    return true;
}

bool SimHostSystem::devices(const std::string& host, std::vector<std::string>* devices, std::string* error) {
    nlohmann::json body;
    if (!simRequest(baseUrl_, "/sim/hosts/" + korvansim::percentEncode(host) + "/devices", nullptr, &body, error))
        return false;
    if (!body.is_object() || !stringList(body, "devices", devices)) {
        *error = "unexpected device list from the simulator";
        return false;
    }
    return true;
}

bool SimHostSystem::rescan(const std::string& host, std::string* error) {
    nlohmann::json body;
    return simRequest(baseUrl_, "/sim/hosts/" + korvansim::percentEncode(host) + "/rescan", nlohmann::json::object(),
                      &body, error);
}

// ---- this process's libiscsi sessions ----

bool IscsiSessionHostSystem::interfaces(const std::string&, std::vector<std::string>* wwpns,
                                        std::vector<std::string>* iqns, std::string*) {
    wwpns->clear();
    *iqns = {ZyIscsiSessions::initiatorName()};
    return true;
}

bool IscsiSessionHostSystem::devices(const std::string&, std::vector<std::string>* devices, std::string*) {
    devices->clear();
    for (const ZyIscsiSessions::Session& session : ZyIscsiSessions::list()) devices->push_back(session.device);
    return true;
}

bool IscsiSessionHostSystem::rescan(const std::string&, std::string*) { return true; }

std::unique_ptr<HostSystem> makeHostSystem() {
    std::string backend = ZyPlatform::platformString(kPlatformIscsiBackend, "iscsiadm");
    std::string url = ZyPlatform::platformString(kPlatformSimulatorUrl, "");
    if (backend == "sim" && !url.empty()) return std::make_unique<SimHostSystem>(url);
    if (backend == "libiscsi") return std::make_unique<IscsiSessionHostSystem>();
    return std::make_unique<LinuxHostSystem>();
}

}  // namespace KrvnHost
