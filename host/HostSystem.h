// What the host's OS utility asks of the machine: its SCSI interfaces, its block devices and a
// bus rescan. Three implementations: the local Linux host (sysfs, open-iscsi's initiator file),
// the cluster simulator's SAN model (GET/POST under /sim/hosts/{host}), and this process's own
// libiscsi sessions (the platform's session table, for the libiscsi backends).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace KrvnHost {

class HostSystem {
public:
    virtual ~HostSystem() = default;
    virtual bool interfaces(const std::string& host, std::vector<std::string>* wwpns, std::vector<std::string>* iqns,
                            std::string* error) = 0;
    virtual bool devices(const std::string& host, std::vector<std::string>* devices, std::string* error) = 0;
    virtual bool rescan(const std::string& host, std::string* error) = 0;
};

// The local machine. root prefixes every path (tests point it at a fake tree); the host name
// argument is ignored, there is only this machine.
class LinuxHostSystem : public HostSystem {
public:
    explicit LinuxHostSystem(std::string root = "") : root_(std::move(root)) {}
    bool interfaces(const std::string& host, std::vector<std::string>* wwpns, std::vector<std::string>* iqns,
                    std::string* error) override;
    bool devices(const std::string& host, std::vector<std::string>* devices, std::string* error) override;
    bool rescan(const std::string& host, std::string* error) override;

private:
    std::string root_;
};

// The simulator at baseUrl ("http://127.0.0.1:PORT").
class SimHostSystem : public HostSystem {
public:
    explicit SimHostSystem(std::string baseUrl) : baseUrl_(std::move(baseUrl)) {}
    bool interfaces(const std::string& host, std::vector<std::string>* wwpns, std::vector<std::string>* iqns,
                    std::string* error) override;
    bool devices(const std::string& host, std::vector<std::string>* devices, std::string* error) override;
    bool rescan(const std::string& host, std::string* error) override;

private:
    std::string baseUrl_;
};

// This process's libiscsi sessions: the initiator name it logs in with, the devices of its
// sessions, and a rescan with nothing to do (a session's device is there as soon as it logs in).
class IscsiSessionHostSystem : public HostSystem {
public:
    bool interfaces(const std::string& host, std::vector<std::string>* wwpns, std::vector<std::string>* iqns,
                    std::string* error) override;
    bool devices(const std::string& host, std::vector<std::string>* devices, std::string* error) override;
    bool rescan(const std::string& host, std::string* error) override;
};

// The one the platform settings choose: [Platform] iscsiBackend=sim with simulatorUrl gives the
// simulator, libiscsi this process's sessions, anything else the local machine.
std::unique_ptr<HostSystem> makeHostSystem();

// One call of the simulator's control API at baseUrl: POST of body, or GET when body is null.
// The JSON answer of a 2xx reply; false with *error otherwise.
bool simRequest(const std::string& baseUrl, const std::string& path, const nlohmann::json& body, nlohmann::json* out,
                std::string* error);

// This machine's name (gethostname), empty when it has none.
std::string localHostName();

}  // namespace KrvnHost
