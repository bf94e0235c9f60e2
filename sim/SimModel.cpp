#include "SimModel.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <random>

namespace korvansim {

namespace {

// Serials start above 2^62 so that a client reading them through a double loses digits.
constexpr int64_t kFirstSerial = (int64_t{1} << 62) + 1;
constexpr int kProxyPort = 3260;

int64_t wallMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string randomHex(size_t digits) {
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    std::string out;
    while (out.size() < digits) {
        char buf[17];
        std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(rng()));
        out += buf;
    }
    out.resize(digits);
    return out;
}

bool isHexText(const std::string& s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

std::vector<std::string> stringList(const Json& list) {
    std::vector<std::string> out;
    if (!list.is_array()) return out;
    for (const auto& v : list) out.push_back(v.is_string() ? v.get<std::string>() : v.value("name", ""));
    return out;
}

}  // namespace

std::string fill(const char* pattern, const std::string& value) {
    std::string out = pattern;
    size_t at = out.find("{1}");
    if (at != std::string::npos) out.replace(at, 3, value);
    return out;
}

std::string normaliseNameHash(const std::string& hash) {
    std::string s = hash;
    size_t first = s.find_first_not_of('0');
    if (first != std::string::npos) s.erase(0, first);
    if (!s.empty()) s.erase(0, 1);
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

bool sizeToBytes(const std::string& unit, double value, uint64_t& bytes) {
    static const std::map<std::string, double> kUnits = {
        {"MB", 1024.0 * 1024}, {"GB", 1024.0 * 1024 * 1024}, {"TB", 1024.0 * 1024 * 1024 * 1024}};
    auto it = kUnits.find(unit);
    if (it == kUnits.end() || !(value > 0) || value * it->second > 1.8e19) return false;
    bytes = static_cast<uint64_t>(value * it->second);
    return bytes > 0;
}

Exposure* VDisk::exposureOn(const std::string& proxy) {
    for (auto& e : exposures)
        if (e.proxy == proxy) return &e;
    return nullptr;
}

bool Cluster::load(const Json& seed, std::string& message) {
    try {
        Cluster next;
        const Json& c = seed.at("cluster");
        next.name_ = c.at("name").get<std::string>();
        next.hash_ = c.at("hash").get<std::string>();
        next.serial_ = normaliseNameHash(next.hash_);
        // The serial travels as hexadecimal digits inside the NAA designator of each device.
        if (next.serial_.size() != 14 || !isHexText(next.serial_)) {
            message =
                "cluster hash [" + next.hash_ + "] must normalise to 14 hexadecimal digits, not [" + next.serial_ + "]";
            return false;
        }
        next.freeze_.unfreezeAfterReads = c.value("unfreezeAfterReads", 1);
        next.freeze_.unfreezeDelayMs = c.value("unfreezeDelayMs", int64_t{0});
        for (const auto& u : c.value("users", Json::array())) {
            User user;
            user.name = u.at("name").get<std::string>();
            user.password = u.at("password").get<std::string>();
            user.tenant = u.value("tenant", user.tenant);
            user.role = u.value("role", user.role);
            next.users_[user.name] = user;
        }
        for (const auto& p : seed.value("proxies", Json::array())) {
            Proxy proxy;
            proxy.name = p.is_string() ? p.get<std::string>() : p.at("name").get<std::string>();
            if (p.is_object()) proxy.port = p.value("port", kProxyPort);
            proxy.portGiven = p.is_object() && p.contains("port");
            next.proxies_.push_back(proxy);
        }
        int64_t maxSerial = kFirstSerial - 1;
        for (const auto& d : seed.value("vdisks", Json::array()))
            maxSerial = std::max(maxSerial, d.value("serial", int64_t{0}));
        next.nextSerial_ = maxSerial + 1;
        for (const auto& d : seed.value("vdisks", Json::array())) {
            VDisk disk;
            disk.name = d.at("name").get<std::string>();
            if (disk.name.empty() || next.find(disk.name)) {
                message = "vDisk name [" + disk.name + "] is empty or given twice";
                return false;
            }
            disk.serial = d.value("serial", int64_t{0});
            if (!sizeToBytes("GB", d.value("sizeGB", 10.0), disk.sizeBytes)) {
                message = "vDisk [" + disk.name + "] has no valid sizeGB";
                return false;
            }
            disk.blockSize = d.value("blockSize", disk.blockSize);
            disk.replicationFactor = d.value("replicationFactor", disk.replicationFactor);
            disk.isClone = d.value("isClone", false);
            disk.cloneOf = d.value("cloneOf", "");
            disk.baseDisk = d.value("baseDisk", "");
            disk.markedForDelete = d.value("markedForDelete", false);
            disk.description = d.value("description", "");
            for (const auto& s : stringList(d.value("snapshots", Json::array())))
                disk.snapshots.push_back({s, wallMs()});
            for (const auto& e : d.value("exposures", Json::array())) {
                std::string proxy = e.at("proxy").get<std::string>();
                if (!next.proxy(proxy)) {
                    message = "vDisk [" + disk.name + "] is exposed on an unknown proxy [" + proxy + "]";
                    return false;
                }
                disk.exposures.push_back(
                    {proxy, targetIqnFor(proxy, disk.name), stringList(e.value("initiators", Json::array()))});
            }
            VDisk& added = next.add(disk);
            if (d.value("frozen", false)) {
                next.freezeNewClone(added);
                added.frozen = true;
                added.freezeReason = d.value("freezeReason", std::string(sentence::kFrozenByClone));
            }
        }
        *this = std::move(next);
        return true;
    } catch (const std::exception& e) {
        message = std::string("invalid seed: ") + e.what();
        return false;
    }
}

Json Cluster::dump() const {
    Json out;
    out["cluster"] = {{"name", name_},
                      {"hash", hash_},
                      {"serial", serial_},
                      {"unfreezeAfterReads", freeze_.unfreezeAfterReads},
                      {"unfreezeDelayMs", freeze_.unfreezeDelayMs},
                      {"sessions", sessions_.size()}};
    // Users are listed without their passwords.
    for (const auto& [n, u] : users_)
        out["cluster"]["users"].push_back({{"name", n}, {"tenant", u.tenant}, {"role", u.role}});
    out["proxies"] = Json::array();
    for (const auto& p : proxies_) out["proxies"].push_back({{"name", p.name}, {"port", p.port}});
    out["vdisks"] = Json::array();
    for (const auto& [n, d] : disks_) {
        Json j = {{"name", d.name},
                  {"serial", d.serial},
                  {"sizeBytes", d.sizeBytes},
                  {"blockSize", d.blockSize},
                  {"replicationFactor", d.replicationFactor},
                  {"diskType", d.diskType},
                  {"encryption", d.encryption},
                  {"description", d.description},
                  {"isClone", d.isClone},
                  {"cloneOf", d.cloneOf},
                  {"baseDisk", d.baseDisk},
                  {"markedForDelete", d.markedForDelete},
                  {"frozen", d.frozen},
                  {"freezeReason", d.freezeReason},
                  {"revertedTo", d.revertedTo},
                  {"snapshots", Json::array()},
                  {"exposures", Json::array()}};
        for (const auto& s : d.snapshots) j["snapshots"].push_back(s.name);
        for (const auto& e : d.exposures)
            j["exposures"].push_back({{"proxy", e.proxy}, {"target", e.targetIqn}, {"initiators", e.initiators}});
        out["vdisks"].push_back(j);
    }
    return out;
}

const User* Cluster::authenticate(const std::string& user, const std::string& password) const {
    auto it = users_.find(user);
    return it != users_.end() && it->second.password == password ? &it->second : nullptr;
}

std::string Cluster::openSession(const std::string& user) {
    std::string id = randomHex(24) + std::to_string(++sessionSeq_);
    sessions_[id] = user;
    issued_.push_back(id);
    return id;
}

const User* Cluster::sessionUser(const std::string& sessionId) const {
    auto it = sessions_.find(sessionId);
    if (it == sessions_.end()) return nullptr;
    auto u = users_.find(it->second);
    return u == users_.end() ? nullptr : &u->second;
}

void Cluster::closeSession(const std::string& sessionId) { sessions_.erase(sessionId); }

VDisk* Cluster::find(const std::string& name) {
    auto it = disks_.find(name);
    return it == disks_.end() ? nullptr : &it->second;
}

const VDisk* Cluster::find(const std::string& name) const {
    auto it = disks_.find(name);
    return it == disks_.end() ? nullptr : &it->second;
}

VDisk* Cluster::findBySerial(int64_t serial) {
    auto it = bySerial_.find(serial);
    if (it == bySerial_.end()) return nullptr;
    VDisk* d = find(it->second);
    return d && d->serial == serial ? d : nullptr;
}

std::vector<const VDisk*> Cluster::disks() const {
    std::vector<const VDisk*> out;
    for (const auto& [n, d] : disks_) out.push_back(&d);
    return out;
}

VDisk* Cluster::usable(const std::string& name, std::string& message) {
    VDisk* d = find(name);
    if (!d)
        message = fill(sentence::kDiskNotFound, name);
    else if (d->markedForDelete)
        message = fill(sentence::kDiskMarkedForDelete, name);
    return d && !d->markedForDelete ? d : nullptr;
}

VDisk& Cluster::add(VDisk disk) {
    if (disk.serial == 0) disk.serial = nextSerial_++;
    std::string name = disk.name;
    remove(name);
    VDisk& added = disks_[name] = std::move(disk);
    bySerial_.emplace(added.serial, name);
    for (const Snapshot& s : added.snapshots) snapshotOwners_[s.name] = name;
    if (added.isClone) clones_.emplace(added.cloneOf, name);
    return added;
}

void Cluster::remove(const std::string& name) {
    auto it = disks_.find(name);
    if (it == disks_.end()) return;
    auto serial = bySerial_.find(it->second.serial);
    if (serial != bySerial_.end() && serial->second == name) bySerial_.erase(serial);
    for (const Snapshot& s : it->second.snapshots) {
        auto owner = snapshotOwners_.find(s.name);
        if (owner != snapshotOwners_.end() && owner->second == name) snapshotOwners_.erase(owner);
    }
    if (it->second.isClone) {
        auto range = clones_.equal_range(it->second.cloneOf);
        for (auto clone = range.first; clone != range.second; ++clone) {
            if (clone->second != name) continue;
            clones_.erase(clone);
            break;
        }
    }
    disks_.erase(it);
}

void Cluster::addSnapshot(VDisk& disk, Snapshot snapshot) {
    snapshotOwners_[snapshot.name] = disk.name;
    disk.snapshots.push_back(std::move(snapshot));
}

bool Cluster::dropSnapshot(const std::string& snapshotName) {
    VDisk* owner = snapshotOwner(snapshotName);
    if (!owner) return false;
    auto& list = owner->snapshots;
    list.erase(std::remove_if(list.begin(), list.end(), [&](const Snapshot& s) { return s.name == snapshotName; }),
               list.end());
    snapshotOwners_.erase(snapshotName);
    return true;
}

void Cluster::reindex() {
    bySerial_.clear();
    snapshotOwners_.clear();
    clones_.clear();
    for (const auto& [n, d] : disks_) {
        bySerial_.emplace(d.serial, n);
        if (d.isClone) clones_.emplace(d.cloneOf, n);
        for (const Snapshot& s : d.snapshots) snapshotOwners_.emplace(s.name, n);
    }
}

VDisk* Cluster::snapshotOwner(const std::string& snapshotName) {
    return const_cast<VDisk*>(static_cast<const Cluster&>(*this).snapshotOwner(snapshotName));
}

const VDisk* Cluster::snapshotOwner(const std::string& snapshotName) const {
    auto it = snapshotOwners_.find(snapshotName);
    if (it == snapshotOwners_.end()) return nullptr;
    const VDisk* d = find(it->second);
    if (!d) return nullptr;
    for (const auto& s : d->snapshots)
        if (s.name == snapshotName) return d;
    return nullptr;
}

std::string Cluster::nextSnapshotName(const std::string& vdisk) {
    // Seeded snapshots may already use a number of the sequence.
    for (;;) {
        char seq[24];
        std::snprintf(seq, sizeof seq, "%06llu", static_cast<unsigned long long>(++snapshotSeq_));
        std::string name = vdisk + "$snap$" + seq;
        if (!snapshotOwner(name)) return name;
    }
}

void Cluster::freezeNewClone(VDisk& clone) {
    clone.frozenReadsLeft = std::max(0, freeze_.unfreezeAfterReads);
    clone.frozenUntilSet = freeze_.unfreezeDelayMs > 0;
    if (clone.frozenUntilSet)
        clone.frozenUntil = std::chrono::steady_clock::now() + std::chrono::milliseconds(freeze_.unfreezeDelayMs);
    clone.frozen = clone.frozenReadsLeft > 0 || clone.frozenUntilSet;
    clone.freezeReason = clone.frozen ? sentence::kFrozenByClone : "";
}

bool Cluster::isFrozen(VDisk& disk, bool countRead) {
    if (!disk.frozen) return false;
    if (disk.frozenUntilSet && std::chrono::steady_clock::now() >= disk.frozenUntil) {
        disk.frozen = false;
        disk.freezeReason.clear();
        return false;
    }
    // The read that spends the last frozen answer still sees the clone frozen.
    if (countRead && disk.frozenReadsLeft > 0 && --disk.frozenReadsLeft == 0) {
        disk.frozen = false;
        disk.freezeReason.clear();
    }
    return true;
}

Json Cluster::diskJson(VDisk& d, bool countRead) {
    std::string reason = d.freezeReason;
    bool frozen = isFrozen(d, countRead);
    Json locations = Json::array();
    for (const auto& e : d.exposures) {
        const Proxy* p = proxy(e.proxy);
        locations.push_back(e.proxy + ":" + std::to_string(p ? p->port : kProxyPort));
    }
    return {{"vDiskName", d.name},
            {"scsiSerialNumber", d.serial},
            {"sizeInBytes", d.sizeBytes},
            {"blockSize", d.blockSize},
            {"replicationFactor", d.replicationFactor},
            {"replicationPolicy", "Agnostic"},
            {"diskType", d.diskType},
            {"scsi3pr", d.scsi3pr},
            {"deduplication", d.deduplication},
            {"compressed", d.compressed},
            {"encryption", d.encryption},
            {"clusteredFileSystem", false},
            {"description", d.description},
            {"createdBy", d.createdBy},
            {"tenant", d.tenant},
            {"status", d.markedForDelete ? "MarkedForDelete" : "Online"},
            {"isClone", d.isClone},
            {"cloneOf", d.cloneOf},
            {"frozen", frozen},
            {"freezeReason", frozen ? reason : std::string()},
            {"targetLocations", locations},
            {"snapshotCount", d.snapshots.size()}};
}

const Proxy* Cluster::proxy(const std::string& name) const {
    for (const auto& p : proxies_)
        if (p.name == name) return &p;
    return nullptr;
}

std::string Cluster::targetIqnFor(const std::string& proxy, const std::string& vdisk) {
    return "iqn.2020-01.com.korvan:" + proxy + ":" + vdisk;
}

}  // namespace korvansim
