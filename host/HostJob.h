// One korvan-host job: the state file, the loaded plug-in and the entry calls made on them.
//
// Every operation is described by a row of a table (name, entry point, which items it takes
// when none are named); one frame runs them all: select the items, save the state (so the
// items survive an interrupted call), build the host objects, call the entry point, save the
// state with everything the plug-in set. Single-threaded.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ClusterQuery.h"
#include "HostObjects.h"
#include "HostState.h"
#include "HostSystem.h"
#include "PluginLoader.h"

namespace KrvnHost {

enum class SnapOp { Prepare, Snap, Delete, Map, Unmap, Revert, Reconcile };
enum class LunOp { Create, Delete, Resize, Map, Unmap };

const char* snapOpName(SnapOp op);
const char* lunOpName(LunOp op);

// What one entry call gave.
struct CallOutcome {
    std::string operation;
    int result = 1;     // the entry point's 0 or 1; 1 too when the host failed
    int errorCode = 0;  // from setLastError on the first item
    std::string errorText;
    std::string hostError;  // the host's own failure (state file, selection, loading)
    double seconds = 0;
    std::vector<long long> snapIds;  // the items handed over, in order
    std::vector<long> lunIds;
    std::vector<std::string> notes;  // the host's own findings: what to do, what the cluster reports
};

// Write: the job holds the state file's lock and may save. Read: no lock, no save; a reader
// sees the state as the last save left it, since every save replaces the file whole.
enum class Access { Write, Read };

class HostJob {
public:
    HostJob(StateFile file, const Plugin& plugin) : file_(std::move(file)), plugin_(plugin) {}
    ~HostJob();
    HostJob(const HostJob&) = delete;
    HostJob& operator=(const HostJob&) = delete;

    // Takes the state file's lock (one job per state file at a time: two would each write back
    // their own copy and lose the other's items), loads the state and takes the next job id.
    // False with *error (locked, corrupted file...). A Read job takes neither lock nor job id.
    bool begin(std::string* error, Access access = Access::Write);
    bool save(std::string* error);
    HostState& state() { return state_; }
    long long jobId() const { return jobId_; }

    // The machine the OS utility talks to; by default the one the settings choose, per call.
    void setSystem(std::unique_ptr<HostSystem> system) { system_ = std::move(system); }
    // Shows every entry call to the watcher while it runs: the job log lines on the first item
    // and, with platformLog, the lines of the platform's log that carry the job's id (leave it
    // off when that log goes to standard error anyway).
    void watch(CallWatcher* watcher, bool platformLog) {
        watcher_ = watcher;
        watchPlatformLog_ = platformLog;
    }

    // New items, saved at once; they get the next free ids.
    long long addSnapItem(const std::string& sourceDevice, unsigned flags, int cloneNumber);
    long addLunItem(const LunItem& proto);
    // The item a create of this disk works on: the item of that disk name and array whose create
    // never completed (new, or failed at creation), taking the new size, block size and
    // description, so that running a create again after an interrupted one finishes it; else a
    // new item.
    long lunItemForCreate(const LunItem& proto);

    // ids empty: the operation's default selection. Items of different arrays are handed over
    // in one call per array (prepare excepted: it is what ties items to arrays). Snap refuses
    // a named item that is neither prepared nor failed at creation.
    CallOutcome runSnap(SnapOp op, const std::vector<long long>& ids);
    // Create and resize ask the cluster about each disk before and after the call (see
    // ClusterQuery.h): a disk the cluster already had before the item's first create is marked
    // preexisting (a disk that appeared since is what an interrupted create of the item made),
    // and the item keeps the size the cluster reports. Delete refuses a preexisting item unless
    // forced.
    CallOutcome runLun(LunOp op, const std::vector<long>& ids, bool force = false);
    // Removes items from the state. Without force only items that hold nothing on the cluster:
    // a snapshot item without a live snapshot, a disk item never created or deleted. False with
    // *error, and nothing removed, for an unknown id or an item that still holds something.
    bool forgetSnaps(const std::vector<long long>& ids, bool force, std::string* error);
    bool forgetLuns(const std::vector<long>& ids, bool force, std::string* error);
    // zyso_isSupported on one device: the entry point's result.
    int isSupported(const std::string& device);
    // The host map information of a provisioning map or unmap: each host with its iSCSI
    // initiators as the OS utility reports them. Empty with *error when a host has none.
    std::string initiatorInfoFor(const std::vector<std::string>& hosts, std::string* error);

private:
    HostSystem& system();
    CallOutcome finish(CallOutcome outcome);
    void askCluster(const LunItem& item, const char* when, DiskFacts* facts, CallOutcome& out);
    template <class Info, class Item, class Count>
    CallOutcome call(CallOutcome out, const std::vector<Item*>& chosen, int (*entry)(Info**, Count, ZYSO::ZYOSUtil*),
                     void (*settle)(Item&));

    StateFile file_;
    const Plugin& plugin_;
    HostState state_;
    long long jobId_ = 0;
    std::unique_ptr<HostSystem> system_;
    std::unique_ptr<HostSystem> perCall_;
    int lockFd_ = -1;
    bool readOnly_ = false;
    CallWatcher* watcher_ = nullptr;
    bool watchPlatformLog_ = false;
};

}  // namespace KrvnHost
