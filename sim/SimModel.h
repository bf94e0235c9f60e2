// The cluster as korvan-sim models it: users and sessions, vDisks with their snapshots and
// clones, storage proxies with one iSCSI target per exposed vDisk, access lists, the cluster
// name hash.
//
// Plain data with lookup helpers; the REST service (SimRest) changes it. Not thread-safe: the
// Simulator holds its lock around every use.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <unordered_map>
#include <vector>

namespace korvansim {

using Json = nlohmann::json;
// The text of a value whose strings may hold any bytes a client sent: bytes that are not
// UTF-8 become U+FFFD instead of an exception out of the answer being written.
inline std::string jsonText(const Json& value) { return value.dump(-1, ' ', false, Json::error_handler_t::replace); }
using SteadyTime = std::chrono::steady_clock::time_point;

// Sentences of the cluster that clients recognise, byte for byte; "{1}" is the object's name.
namespace sentence {
inline constexpr const char* kDiskNotFound = "Vdisk {1} couldn't be found";
inline constexpr const char* kDiskMarkedForDelete = "VDisk is marked for delete :{1}";
inline constexpr const char* kSerialNotFound = "Unable to find virtual disk with scsi sn: {1}";
inline constexpr const char* kInvalidSnapshot = "Invalid snapshot value entered";
inline constexpr const char* kLunAlreadyExposed = " is already associated with the host {1}";
inline constexpr const char* kLunNotMapped = "vDisk:{1} is currently not mapped to any controllers(s)";
inline constexpr const char* kDiskAlreadyCreated = "{1} vDisk has already been created";
inline constexpr const char* kShrinkRefused = "Shrinking of virtual disk is not supported";
inline constexpr const char* kProxyNotFound = "Storage proxy {1} couldn't be found";
inline constexpr const char* kNotExposedOnProxy = "vDisk {1} is not exposed to the storage proxy";
inline constexpr const char* kAuthFailed = "Authentication failed: invalid user name or password";
inline constexpr const char* kInvalidSession = "Invalid or expired session id";
inline constexpr const char* kFrozenByClone = "Clone is being prepared from its snapshot";
}  // namespace sentence

// "{1}" of a sentence replaced by the value.
std::string fill(const char* pattern, const std::string& value);

struct User {
    std::string name;
    std::string password;
    std::string tenant = "default";
    std::string role = "admin";
};

struct Snapshot {
    std::string name;       // chosen by the cluster: "<vdisk>$snap$<6 digits>"
    int64_t createdMs = 0;  // wall clock, for the details only
};

// A vDisk exposed on one storage proxy: its target and the initiators allowed through it.
struct Exposure {
    std::string proxy;
    std::string targetIqn;
    std::vector<std::string> initiators;
};

struct VDisk {
    std::string name;
    int64_t serial = 0;
    uint64_t sizeBytes = 0;
    int32_t blockSize = 4096;
    int16_t replicationFactor = 3;
    std::string diskType = "BLOCK";
    bool scsi3pr = false;
    bool deduplication = false;
    bool compressed = false;
    bool encryption = false;
    std::string description;
    std::string createdBy = "admin";
    std::string tenant = "default";
    bool isClone = false;
    std::string cloneOf;   // snapshot a clone was made from
    std::string baseDisk;  // that snapshot's vDisk
    bool markedForDelete = false;
    // A fresh clone stays frozen for a number of detail reads or a time, whichever ends first.
    bool frozen = false;
    int frozenReadsLeft = 0;
    bool frozenUntilSet = false;
    SteadyTime frozenUntil{};
    std::string freezeReason;
    std::string revertedTo;
    uint64_t revertCount = 0;  // every revert counts, so the contents follow a second revert to the same snapshot
    std::vector<Snapshot> snapshots;
    std::vector<Exposure> exposures;

    Exposure* exposureOn(const std::string& proxy);
};

struct Proxy {
    std::string name;
    int port = 3260;         // what the cluster reports in targetLocations
    bool portGiven = false;  // the seed named the port (the iSCSI target then listens on it)
};

// Unfreeze rule of new clones; 0 switches a trigger off (both 0: clones are never frozen).
struct FreezeSettings {
    int unfreezeAfterReads = 1;
    int64_t unfreezeDelayMs = 0;
};

class Cluster {
public:
    // Replaces everything with the "cluster", "proxies" and "vdisks" of a seed. On false the
    // state is unchanged and `message` says what is wrong.
    bool load(const Json& seed, std::string& message);
    Json dump() const;

    const std::string& name() const { return name_; }
    const std::string& nameHash() const { return hash_; }
    // The 14 upper-case hexadecimal digits the name hash normalises to.
    const std::string& serial() const { return serial_; }

    // Users and sessions.
    const User* authenticate(const std::string& user, const std::string& password) const;
    std::string openSession(const std::string& user);
    const User* sessionUser(const std::string& sessionId) const;
    void closeSession(const std::string& sessionId);
    size_t sessionCount() const { return sessions_.size(); }
    // Every session id handed out since the last load, closed ones too (tests look for them
    // where no secret may be).
    const std::vector<std::string>& issuedSessions() const { return issued_; }

    // vDisks, in name order. A vDisk's snapshots change only through addSnapshot and
    // dropSnapshot, so that the lookups by serial and by snapshot name stay right; after any
    // other change of names, serials or snapshots, reindex().
    VDisk* find(const std::string& name);
    const VDisk* find(const std::string& name) const;
    VDisk* findBySerial(int64_t serial);
    std::vector<const VDisk*> disks() const;
    // Every vDisk in name order, without building a list (large clusters answer many of these).
    template <class F>
    void forEachDisk(F&& f) const {
        for (const auto& entry : disks_) f(entry.second);
    }
    // Lookup that refuses with the cluster's sentence: not found, or marked for delete.
    VDisk* usable(const std::string& name, std::string& message);
    VDisk& add(VDisk disk);  // a fresh serial when disk.serial is 0
    void remove(const std::string& name);
    void addSnapshot(VDisk& disk, Snapshot snapshot);
    bool dropSnapshot(const std::string& snapshotName);  // false: unknown
    // The clones made from a snapshot, in name order.
    template <class F>
    void forEachCloneOf(const std::string& snapshotName, F&& f) const {
        auto range = clones_.equal_range(snapshotName);
        std::vector<const VDisk*> found;
        for (auto it = range.first; it != range.second; ++it)
            if (const VDisk* d = find(it->second); d && d->isClone && d->cloneOf == snapshotName) found.push_back(d);
        std::sort(found.begin(), found.end(), [](const VDisk* a, const VDisk* b) { return a->name < b->name; });
        for (const VDisk* d : found) f(*d);
    }
    // The vDisk holding a snapshot of that name, or null.
    VDisk* snapshotOwner(const std::string& snapshotName);
    const VDisk* snapshotOwner(const std::string& snapshotName) const;
    std::string nextSnapshotName(const std::string& vdisk);
    // Rebuilds the lookups from the vDisks (after changes made to them directly).
    void reindex();

    // A clone's freeze state as of now; `countRead` spends one of its frozen detail reads.
    bool isFrozen(VDisk& disk, bool countRead);
    void freezeNewClone(VDisk& clone);
    Json diskJson(VDisk& disk, bool countRead);

    const Proxy* proxy(const std::string& name) const;
    const std::vector<Proxy>& proxies() const { return proxies_; }
    static std::string targetIqnFor(const std::string& proxy, const std::string& vdisk);

private:
    std::string name_;
    std::string hash_;
    std::string serial_;
    FreezeSettings freeze_;
    std::map<std::string, User> users_;
    std::map<std::string, std::string> sessions_;  // id -> user name
    std::map<std::string, VDisk> disks_;
    // Lookups a large cluster cannot answer by walking every vDisk: serial -> vDisk name,
    // snapshot name -> vDisk name, snapshot name -> names of its clones.
    std::unordered_map<int64_t, std::string> bySerial_;
    std::unordered_map<std::string, std::string> snapshotOwners_;
    std::unordered_multimap<std::string, std::string> clones_;
    std::vector<Proxy> proxies_;
    uint64_t snapshotSeq_ = 0;
    int64_t nextSerial_ = 0;
    uint64_t sessionSeq_ = 0;
    std::vector<std::string> issued_;
};

// The cluster serial a name hash stands for: leading '0's dropped (unless nothing else is
// left), then the first character, then upper case. "0x1a2b" -> "1A2B".
std::string normaliseNameHash(const std::string& hash);

// Bytes of a size in a unit ("MB", "GB", "TB"); false for another unit or a value <= 0.
bool sizeToBytes(const std::string& unit, double value, uint64_t& bytes);

}  // namespace korvansim
