#include "SimSan.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace korvansim {

namespace {

constexpr const char* kRevision = "0110";
constexpr int kVendorDesignatorLength = 48;  // puts the NAA designator header at offset 56

void put(std::string& buf, size_t at, const std::string& text, size_t width) {
    for (size_t i = 0; i < width && i < text.size(); ++i) buf[at + i] = text[i];
}

std::string hexToBytes(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

// A portal names a storage proxy, optionally with ":port".
std::string proxyOfPortal(const std::string& portal) { return portal.substr(0, portal.find(':')); }

SanStatus unknownHost(const std::string& host) { return SanStatus::fail(404, "unknown host [" + host + "]"); }

}  // namespace

std::string buildInquiry(const DeviceIdentity& id, const std::string& clusterSerial, bool evpd, int page,
                         std::string& message) {
    std::string b(kInquiryLength, '\0');
    if (!evpd) {
        if (page != 0) {
            message = "a standard INQUIRY has page code 0";
            return {};
        }
        b[2] = 0x06;  // SPC-4
        b[3] = 0x02;
        b[4] = 31;  // additional length of the 36-byte standard data
        b[7] = 0x02;
        put(b, 8, kInquiryVendor, 8);
        put(b, 16, kInquiryProduct, 16);  // NUL-padded: a blank-padded product does not match
        put(b, 32, kRevision, 4);
        return b;
    }
    b[1] = static_cast<char>(page);
    switch (page) {
        case 0x00:
            b[3] = 3;
            b[4] = 0x00;
            b[5] = static_cast<char>(0x80);
            b[6] = static_cast<char>(0x83);
            return b;
        case 0x80: {
            std::string serial = std::to_string(id.serial);
            b[3] = static_cast<char>(serial.size());
            put(b, 4, serial, serial.size());
            return b;
        }
        case 0x83: {
            // First a T10 vendor designator, then at offset 56 the NAA designator whose hex text
            // is "6", the cluster serial and the vDisk serial.
            std::string vendorId = std::string(kInquiryVendor) + id.vdisk;
            vendorId.resize(kVendorDesignatorLength, ' ');
            size_t at = 4;
            b[at] = 0x02;
            b[at + 1] = 0x01;
            b[at + 3] = static_cast<char>(kVendorDesignatorLength);
            put(b, at + 4, vendorId, kVendorDesignatorLength);
            at += 4 + kVendorDesignatorLength;
            char serialHex[17];
            std::snprintf(serialHex, sizeof serialHex, "%016llx", static_cast<unsigned long long>(id.serial));
            std::string naa = hexToBytes("6" + clusterSerial + "0" + serialHex);
            b[at] = 0x01;
            b[at + 1] = 0x03;
            b[at + 3] = static_cast<char>(naa.size());
            put(b, at + 4, naa, naa.size());
            size_t pageLength = at + 4 + naa.size() - 4;
            b[2] = static_cast<char>(pageLength >> 8);
            b[3] = static_cast<char>(pageLength & 0xff);
            return b;
        }
        default:
            char code[8];
            std::snprintf(code, sizeof code, "%02xh", page & 0xff);
            message = std::string("VPD page ") + code + " is not supported";
            return {};
    }
}

bool MemorySan::load(const Json& hosts, const Cluster& cluster, std::string& message) {
    MemorySan next;
    try {
        for (const auto& h : hosts) {
            Host host;
            host.name = h.at("name").get<std::string>();
            host.iqns = h.value("iqns", std::vector<std::string>{});
            host.wwpns = h.value("wwpns", std::vector<std::string>{});
            std::string name = host.name;
            next.hosts_[name] = std::move(host);
            for (const auto& d : h.value("devices", Json::array())) {
                std::string device;
                SanStatus st = next.attach(cluster, name, d.get<std::string>(), device);
                if (!st.ok()) {
                    message = st.message;
                    return false;
                }
            }
        }
    } catch (const std::exception& e) {
        message = std::string("invalid hosts in seed: ") + e.what();
        return false;
    }
    hosts_ = std::move(next.hosts_);
    return true;
}

Json MemorySan::dump() const {
    Json out = Json::array();
    for (const auto& [n, h] : hosts_) {
        Json j = {{"name", n},
                  {"iqns", h.iqns},
                  {"wwpns", h.wwpns},
                  {"rescans", h.rescans},
                  {"devices", Json::array()},
                  {"sessions", Json::array()}};
        for (const auto& [seq, d] : h.devices)
            j["devices"].push_back({{"path", d.path},
                                    {"vdisk", d.identity.vdisk},
                                    {"serial", d.identity.serial},
                                    {"target", d.targetIqn}});
        for (const auto& [seq, s] : h.sessions)
            j["sessions"].push_back({{"portal", s.portal}, {"target", s.targetIqn}, {"device", s.device}});
        out.push_back(j);
    }
    return out;
}

MemorySan::Host* MemorySan::find(const std::string& name) {
    auto it = hosts_.find(name);
    return it == hosts_.end() ? nullptr : &it->second;
}

const MemorySan::Host* MemorySan::find(const std::string& name) const {
    auto it = hosts_.find(name);
    return it == hosts_.end() ? nullptr : &it->second;
}

std::string MemorySan::devicePath(int index) {
    // sda, ..., sdz, sdaa, sdab, ... as the kernel names them.
    std::string suffix;
    for (int n = index + 1; n > 0; n = (n - 1) / 26)
        suffix.insert(suffix.begin(), static_cast<char>('a' + (n - 1) % 26));
    return "/dev/sd" + suffix;
}

std::string MemorySan::addDevice(Host& h, const DeviceIdentity& id, const std::string& targetIqn) {
    std::string path = devicePath(h.nextDevice++);
    const uint64_t seq = ++h.sequence;
    h.devices[seq] = {path, id, targetIqn};
    h.devicePaths[path] = seq;
    return path;
}

SanStatus MemorySan::host(const std::string& name, Json& out) const {
    const Host* h = find(name);
    if (!h) return unknownHost(name);
    out = {{"name", h->name}, {"iqns", h->iqns}, {"wwpns", h->wwpns}};
    return {};
}

SanStatus MemorySan::devices(const std::string& name, std::vector<std::string>& out) const {
    const Host* h = find(name);
    if (!h) return unknownHost(name);
    out.clear();
    out.reserve(h->devices.size());
    for (const auto& [seq, d] : h->devices) out.push_back(d.path);
    return {};
}

SanStatus MemorySan::inquiry(const Cluster& cluster, const std::string& name, const std::string& path, bool evpd,
                             int page, std::string& bytes) const {
    const Host* h = find(name);
    if (!h) return unknownHost(name);
    auto seq = h->devicePaths.find(path);
    if (seq != h->devicePaths.end()) {
        std::string message;
        bytes = buildInquiry(h->devices.at(seq->second).identity, cluster.serial(), evpd, page, message);
        return bytes.empty() ? SanStatus::fail(400, message) : SanStatus{};
    }
    return SanStatus::fail(404, "host [" + name + "] has no device [" + path + "]");
}

SanStatus MemorySan::rescan(const std::string& name, std::vector<std::string>& out) {
    Host* h = find(name);
    if (!h) return unknownHost(name);
    ++h->rescans;
    return devices(name, out);
}

SanStatus MemorySan::discover(const Cluster& cluster, const std::string& name, const std::string& portal,
                              std::vector<std::string>& targets) {
    if (!find(name)) return unknownHost(name);
    std::string proxy = proxyOfPortal(portal);
    if (!cluster.proxy(proxy)) return SanStatus::fail(404, fill(sentence::kProxyNotFound, proxy));
    targets.clear();
    for (const VDisk* d : cluster.disks())
        for (const auto& e : d->exposures)
            if (e.proxy == proxy) targets.push_back(e.targetIqn);
    return {};
}

SanStatus MemorySan::login(const Cluster& cluster, const std::string& name, const std::string& portal,
                           const std::string& target, std::string& device) {
    Host* h = find(name);
    if (!h) return unknownHost(name);
    std::string proxy = proxyOfPortal(portal);
    // A target is named after its proxy and vDisk, so the name leads to the one exposure it can be.
    const std::string prefix = Cluster::targetIqnFor(proxy, "");
    const VDisk* d =
        target.compare(0, prefix.size(), prefix) == 0 ? cluster.find(target.substr(prefix.size())) : nullptr;
    const Exposure* e = nullptr;
    if (d)
        for (const auto& candidate : d->exposures)
            if (candidate.proxy == proxy && candidate.targetIqn == target) e = &candidate;
    if (e) {
        bool allowed = std::any_of(h->iqns.begin(), h->iqns.end(), [&](const std::string& iqn) {
            return std::find(e->initiators.begin(), e->initiators.end(), iqn) != e->initiators.end();
        });
        if (!allowed) return SanStatus::fail(403, "no initiator of host [" + name + "] may log in to [" + target + "]");
        device = sessionDevice(name, target);
        if (device.empty()) {
            device = addDevice(*h, {d->name, d->serial}, target);
            const uint64_t seq = ++h->sequence;
            h->sessions[seq] = {portal, target, device};
            h->sessionTargets[target] = seq;
        }
        return {};
    }
    return SanStatus::fail(403, "portal [" + portal + "] has no target [" + target + "]");
}

SanStatus MemorySan::logout(const std::string& name, const std::string&, const std::string& target) {
    Host* h = find(name);
    if (!h) return unknownHost(name);
    auto seq = h->sessionTargets.find(target);
    if (seq == h->sessionTargets.end())
        return SanStatus::fail(404, "host [" + name + "] has no session to [" + target + "]");
    std::string device = h->sessions.at(seq->second).device;
    h->sessions.erase(seq->second);
    h->sessionTargets.erase(seq);
    auto path = h->devicePaths.find(device);
    if (path != h->devicePaths.end()) {
        h->devices.erase(path->second);
        h->devicePaths.erase(path);
    }
    return {};
}

std::string MemorySan::sessionDevice(const std::string& name, const std::string& target) const {
    const Host* h = find(name);
    if (!h) return {};
    auto seq = h->sessionTargets.find(target);
    return seq == h->sessionTargets.end() ? std::string() : h->sessions.at(seq->second).device;
}

SanStatus MemorySan::attach(const Cluster& cluster, const std::string& name, const std::string& vdisk,
                            std::string& device) {
    Host* h = find(name);
    if (!h) return unknownHost(name);
    const VDisk* d = cluster.find(vdisk);
    if (!d) return SanStatus::fail(404, fill(sentence::kDiskNotFound, vdisk));
    device = addDevice(*h, {d->name, d->serial}, "");
    return {};
}

void MemorySan::targetRemoved(const std::string& targetIqn) {
    for (auto& [n, h] : hosts_) {
        auto seq = h.sessionTargets.find(targetIqn);
        if (seq != h.sessionTargets.end()) logout(n, h.sessions.at(seq->second).portal, targetIqn);
    }
}

}  // namespace korvansim
