// The job state of korvan-host: what a backup host's framework keeps between entry calls.
//
// One JSON file holds the Array Management entries, the snapshot and provisioning request
// items (with everything the plug-in stored on them) and the job log. StateFile reads and
// writes it; a write goes to a temporary file in the same directory, is flushed to disk and
// renamed over the old file, so an interrupted command leaves either the old or the new state,
// never a torn one. A file that cannot be read as a state is refused and left as it is.
// Plain values only: copy freely, no thread safety beyond that.
#pragma once

#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace KrvnHost {

// One array of the host's Array Management.
struct ArrayEntry {
    int number = 0;    // the host's number of the array, 1 and up
    std::string name;  // the cluster name
    std::string vendor;
    std::string controlHost;  // host of the cluster's REST service
    std::string user;
    std::string storedPassword;             // "ZYP1:..." form, never clear text
    std::string serial;                     // cluster serial, recorded once the plug-in matched it
    std::map<std::string, int> configInts;  // snapshot configuration
    std::map<std::string, std::vector<std::string>> configLists;  // e.g. storage proxy list
};

// One snapshot request item.
struct SnapItem {
    long long id = 0;
    std::string sourceDevice;
    int status = 0;  // kSnapNew: never handed to the plug-in
    std::map<int, std::string> metadata;
    std::string mappedDevice;
    std::string snapName;
    int cloneNumber = 1;
    unsigned flags = 0;
    int arrayNumber = 0;  // 0: not tied to an array yet
    int lastErrorCode = 0;
    std::string lastError;
};

// One provisioning request item.
struct LunItem {
    long id = 0;
    std::string diskName;
    std::string arrayName;  // Array Management entry that provides the cluster details
    long long sizeBytes = 0;
    long blockSize = 4096;
    short status = -1;  // kLunNew: never handed to the plug-in
    std::string deviceName;
    std::string lunName;
    std::string initiatorInfo;  // host map information JSON text
    std::string description;
    int lastErrorCode = 0;
    std::string lastError;
    bool preexisting = false;        // the cluster had the disk before this item's first create
    bool createTried = false;        // a create of this item started (even if it never returned)
    long long clusterSizeBytes = 0;  // the size the cluster last reported; 0: not known, or gone
};

struct LogLine {
    long long jobId = 0;
    long long time = 0;  // seconds since 1970
    int level = 0;
    std::string text;
};

struct HostState {
    long long lastJobId = 0;
    long long lastSnapId = 0;
    long lastLunId = 0;
    std::vector<ArrayEntry> arrays;
    std::vector<SnapItem> snaps;
    std::vector<LunItem> luns;
    std::map<std::string, std::string> settings;  // host settings (getSettingInt/Bool)
    std::vector<LogLine> log;

    ArrayEntry* findArray(const std::string& name);
    ArrayEntry* findArrayByNumber(int number);
    ArrayEntry* findArrayBySerial(const std::string& serial);
    SnapItem* findSnap(long long id);
    LunItem* findLun(long id);
    int nextArrayNumber() const;
    // Keeps the job log bounded; the oldest lines go first.
    void trimLog(size_t keep);
};

// JSON forms of the records: member names as keys, absent members keep their defaults, a member
// of the wrong type is refused. Snapshot items are written by hand for their metadata object.
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(ArrayEntry, number, name, vendor, controlHost, user, storedPassword,
                                                serial, configInts, configLists)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(LunItem, id, diskName, arrayName, sizeBytes, blockSize, status,
                                                deviceName, lunName, initiatorInfo, description, lastErrorCode,
                                                lastError, preexisting, createTried, clusterSizeBytes)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(LogLine, jobId, time, level, text)
void to_json(nlohmann::json& j, const SnapItem& item);
void from_json(const nlohmann::json& j, SnapItem& item);

class StateFile {
public:
    explicit StateFile(std::string path) : path_(std::move(path)) {}
    const std::string& path() const { return path_; }

    // A missing file is an empty state. False with *error set when the file exists but is not
    // a readable state; the file is not touched then.
    bool load(HostState* state, std::string* error) const;
    // Atomic replace: temporary file in the same directory, fsync, rename, fsync of the
    // directory. False with *error set; the old file is then intact.
    bool save(const HostState& state, std::string* error) const;

private:
    std::string path_;
};

// The JSON form, exposed for tests and for `--json` output.
std::string stateToJsonText(const HostState& state);
bool stateFromJsonText(const std::string& text, HostState* state, std::string* error);

}  // namespace KrvnHost
