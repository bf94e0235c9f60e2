// The SAN side of korvan-sim: hosts with their initiators, iSCSI sessions to the cluster's
// targets, the block devices each host sees and the SCSI INQUIRY answer of each device.
//
// SanBackend is the seam of this simulated SAN, which the platform's `sim` backends speak to;
// MemorySan keeps everything in memory. The real data path is the iSCSI target beside it
// (SimIscsi, iscsi/). Both are used under the Simulator's lock and read the cluster they are handed.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "SimModel.h"

namespace korvansim {

// The outcome of a SAN operation as an HTTP status (200, 403, 404, 400) and a sentence.
struct SanStatus {
    int http = 200;
    std::string message;
    bool ok() const { return http == 200; }
    static SanStatus fail(int http, std::string message) { return {http, std::move(message)}; }
};

// What a device answers INQUIRY with.
struct DeviceIdentity {
    std::string vdisk;
    int64_t serial = 0;
};

inline constexpr int kInquiryLength = 255;
inline constexpr const char* kInquiryVendor = "_KORVAN_";
inline constexpr const char* kInquiryProduct = "VIRTUAL-DISK";

// The 255-byte answer to INQUIRY (standard page, or VPD 0x00, 0x80, 0x83); empty with a reason
// for a page the device does not have.
std::string buildInquiry(const DeviceIdentity& id, const std::string& clusterSerial, bool evpd, int page,
                         std::string& message);

class SanBackend {
public:
    virtual ~SanBackend() = default;
    // Replaces every host with the seed's "hosts"; devices named there are attached.
    virtual bool load(const Json& hosts, const Cluster& cluster, std::string& message) = 0;
    virtual Json dump() const = 0;

    virtual SanStatus host(const std::string& host, Json& out) const = 0;
    virtual SanStatus devices(const std::string& host, std::vector<std::string>& out) const = 0;
    virtual SanStatus inquiry(const Cluster& cluster, const std::string& host, const std::string& path, bool evpd,
                              int page, std::string& bytes) const = 0;
    virtual SanStatus rescan(const std::string& host, std::vector<std::string>& out) = 0;

    virtual SanStatus discover(const Cluster& cluster, const std::string& host, const std::string& portal,
                               std::vector<std::string>& targets) = 0;
    // Refused (403) unless the vDisk's access list on the portal's proxy names an initiator
    // of the host. Logging in again to a logged-in target answers the same device.
    virtual SanStatus login(const Cluster& cluster, const std::string& host, const std::string& portal,
                            const std::string& target, std::string& device) = 0;
    virtual SanStatus logout(const std::string& host, const std::string& portal, const std::string& target) = 0;
    // The device of the host's session to that target; empty when not logged in.
    virtual std::string sessionDevice(const std::string& host, const std::string& target) const = 0;
    virtual SanStatus attach(const Cluster& cluster, const std::string& host, const std::string& vdisk,
                             std::string& device) = 0;

    // The cluster withdrew a target: its sessions end and their devices go away.
    virtual void targetRemoved(const std::string& targetIqn) = 0;
};

class MemorySan : public SanBackend {
public:
    bool load(const Json& hosts, const Cluster& cluster, std::string& message) override;
    Json dump() const override;
    SanStatus host(const std::string& host, Json& out) const override;
    SanStatus devices(const std::string& host, std::vector<std::string>& out) const override;
    SanStatus inquiry(const Cluster& cluster, const std::string& host, const std::string& path, bool evpd, int page,
                      std::string& bytes) const override;
    SanStatus rescan(const std::string& host, std::vector<std::string>& out) override;
    SanStatus discover(const Cluster& cluster, const std::string& host, const std::string& portal,
                       std::vector<std::string>& targets) override;
    SanStatus login(const Cluster& cluster, const std::string& host, const std::string& portal,
                    const std::string& target, std::string& device) override;
    SanStatus logout(const std::string& host, const std::string& portal, const std::string& target) override;
    std::string sessionDevice(const std::string& host, const std::string& target) const override;
    SanStatus attach(const Cluster& cluster, const std::string& host, const std::string& vdisk,
                     std::string& device) override;
    void targetRemoved(const std::string& targetIqn) override;

private:
    struct Device {
        std::string path;
        DeviceIdentity identity;
        std::string targetIqn;  // empty for a device attached without a session
    };
    struct Session {
        std::string portal;
        std::string targetIqn;
        std::string device;
    };
    // Devices and sessions are kept in order of appearance (by a sequence number) and found
    // by path and by target without a walk: a host may see tens of thousands of devices.
    struct Host {
        std::string name;
        std::vector<std::string> iqns;
        std::vector<std::string> wwpns;
        std::map<uint64_t, Device> devices;
        std::unordered_map<std::string, uint64_t> devicePaths;
        std::map<uint64_t, Session> sessions;
        std::unordered_map<std::string, uint64_t> sessionTargets;
        uint64_t sequence = 0;
        int nextDevice = 1;  // /dev/sdb first; a path is never given twice in one run
        int rescans = 0;
    };
    Host* find(const std::string& name);
    const Host* find(const std::string& name) const;
    static std::string devicePath(int index);
    std::string addDevice(Host& h, const DeviceIdentity& id, const std::string& targetIqn);

    std::map<std::string, Host> hosts_;
};

}  // namespace korvansim
