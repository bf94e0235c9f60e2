#include "HostJob.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <limits>
#include <type_traits>

#include <nlohmann/json.hpp>

#include "EvDebug.h"
#include "HostSizes.h"
#include "HostTexts.h"

namespace KrvnHost {

namespace {

// Bounded so a long-lived state file does not grow without end.
const size_t kLogLinesKept = 20000;

bool hasSnapshot(const SnapItem& s) {
    return !s.snapName.empty() && s.status != kSnapDeleted && s.status != kSnapGoneFromArray;
}

struct SnapOpRow {
    SnapOp op;
    const char* name;
    zyso_snap_fn PluginApi::*entry;
    bool (*byDefault)(const SnapItem&);
    // Non-null: named items must be of the default selection too, which this describes.
    const char* onlyTakes;
};

const SnapOpRow kSnapOps[] = {
    {SnapOp::Prepare, "prepare", &PluginApi::prepareDevices,
     [](const SnapItem& s) { return s.status == kSnapNew || s.status == kSnapPrepareFailed; }, nullptr},
    {SnapOp::Snap, "snap", &PluginApi::snapDevices,
     [](const SnapItem& s) { return s.status == kSnapPrepared || s.status == kSnapCreateFailed; },
     "snap takes prepared items (1) and items whose snapshot creation failed (6)"},
    {SnapOp::Delete, "delete", &PluginApi::deleteSnaps,
     [](const SnapItem& s) { return !s.snapName.empty() && s.status != kSnapDeleted; }, nullptr},
    {SnapOp::Map, "map", &PluginApi::mapSnaps,
     [](const SnapItem& s) { return hasSnapshot(s) && s.status != kSnapMapped; }, nullptr},
    {SnapOp::Unmap, "unmap", &PluginApi::unmapSnaps,
     [](const SnapItem& s) { return s.status == kSnapMapped || s.status == kSnapUnmapFailed; }, nullptr},
    {SnapOp::Revert, "revert", &PluginApi::revertSnaps, hasSnapshot, nullptr},
    {SnapOp::Reconcile, "reconcile", &PluginApi::reconcileSnaps, hasSnapshot, nullptr},
};

struct LunOpRow {
    LunOp op;
    const char* name;
    zyso_lun_fn PluginApi::*entry;
};

const LunOpRow kLunOps[] = {
    {LunOp::Create, "lun create", &PluginApi::createLUNs}, {LunOp::Delete, "lun delete", &PluginApi::deleteLUNs},
    {LunOp::Resize, "lun resize", &PluginApi::resizeLUNs}, {LunOp::Map, "lun map", &PluginApi::mapLUNs},
    {LunOp::Unmap, "lun unmap", &PluginApi::unmapLUNs},
};

const SnapOpRow& row(SnapOp op) {
    for (const auto& r : kSnapOps)
        if (r.op == op) return r;
    return kSnapOps[0];
}

const LunOpRow& row(LunOp op) {
    for (const auto& r : kLunOps)
        if (r.op == op) return r;
    return kLunOps[0];
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool holdsDisk(const LunItem& l) {
    return l.status != kLunNew && l.status != kLunCreateFailed && l.status != kLunDeleted;
}

std::string snapItemText(const SnapItem& s) {
    return "item " + std::to_string(s.id) + " has status " + std::to_string(s.status) + " (" +
           snapStatusName(s.status) + ")";
}

std::string lunItemText(const LunItem& l) {
    return "disk item " + std::to_string(l.id) + " (" + l.diskName + ") has status " + std::to_string(l.status) + " (" +
           lunStatusName(l.status) + ")";
}

// What to do when prepare found a device's cluster but no array entry tied to its serial.
std::string arrayMatchHint(const std::string& errorText, const HostState& state) {
    size_t at = errorText.find(kPluginArrayNotFound);
    if (at == std::string::npos) return "";
    at += std::strlen(kPluginArrayNotFound);
    const std::string serial = errorText.substr(at, errorText.find(']', at) - at);
    std::vector<std::string> untied;
    for (const auto& a : state.arrays)
        if (a.vendor == kKorvanVendor && a.serial.empty()) untied.push_back(a.name);
    const std::string name = untied.size() == 1 ? untied.front() : "NAME";
    return "no array entry is tied to the cluster serial " + serial +
           ". Without it the plug-in looks for that cluster by logging in to each array entry on the default "
           "REST port (" +
           std::to_string(kRestPortHttp) + ", " + std::to_string(kRestPortHttps) +
           " with HTTPS), whatever the entry's --port. Tie it: korvan-host arrays add " + name + " --serial " + serial +
           " (with the entry's other options), or set " + kSettingClusterUniqueId + name + "=" + serial +
           " in the [Ovelin] section of the settings file; then prepare again.";
}

}  // namespace

const char* snapOpName(SnapOp op) { return row(op).name; }
const char* lunOpName(LunOp op) { return row(op).name; }

HostJob::~HostJob() {
    if (lockFd_ >= 0) ::close(lockFd_);
}

bool HostJob::begin(std::string* error, Access access) {
    readOnly_ = access == Access::Read;
    if (readOnly_) return file_.load(&state_, error);
    if (lockFd_ < 0) {
        const std::string lockPath = file_.path() + ".lock";
        lockFd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (lockFd_ < 0) {
            *error = "cannot open the lock file " + lockPath + ": " + std::strerror(errno);
            return false;
        }
        if (::flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
            *error = "another korvan-host is working on " + file_.path() + "; try again when it is done";
            ::close(lockFd_);
            lockFd_ = -1;
            return false;
        }
    }
    if (!file_.load(&state_, error)) return false;
    jobId_ = ++state_.lastJobId;
    return true;
}

bool HostJob::save(std::string* error) {
    if (readOnly_) {
        *error = "a read-only job does not save";
        return false;
    }
    state_.trimLog(kLogLinesKept);
    return file_.save(state_, error);
}

HostSystem& HostJob::system() {
    if (system_) return *system_;
    perCall_ = makeHostSystem();
    return *perCall_;
}

long long HostJob::addSnapItem(const std::string& sourceDevice, unsigned flags, int cloneNumber) {
    SnapItem item;
    item.id = ++state_.lastSnapId;
    item.sourceDevice = sourceDevice;
    item.flags = flags;
    item.cloneNumber = cloneNumber;
    state_.snaps.push_back(item);
    return item.id;
}

long HostJob::addLunItem(const LunItem& proto) {
    LunItem item = proto;
    item.id = ++state_.lastLunId;
    state_.luns.push_back(item);
    return item.id;
}

long HostJob::lunItemForCreate(const LunItem& proto) {
    for (LunItem& l : state_.luns) {
        if (l.diskName != proto.diskName || l.arrayName != proto.arrayName) continue;
        if (l.status != kLunNew && l.status != kLunCreateFailed) continue;
        l.sizeBytes = proto.sizeBytes;
        l.blockSize = proto.blockSize;
        l.description = proto.description;
        return l.id;
    }
    return addLunItem(proto);
}

CallOutcome HostJob::finish(CallOutcome outcome) {
    std::string error;
    if (!save(&error)) {
        outcome.result = 1;
        outcome.hostError += (outcome.hostError.empty() ? "" : "; ") + error;
    }
    return outcome;
}

namespace {

void noteId(CallOutcome& out, const SnapItem& item) { out.snapIds.push_back(item.id); }
void noteId(CallOutcome& out, const LunItem& item) { out.lunIds.push_back(item.id); }

HostSnapInfo* makeInfo(HostState& state, SnapItem& item, JobLog& log) { return new HostSnapInfo(state, item, log); }
HostLunInfo* makeInfo(HostState& state, LunItem& item, JobLog&) { return new HostLunInfo(state, item); }

// Hands the platform log's lines of one job to a watcher while the object lives. The sink is
// process-wide; korvan-host makes one entry call at a time.
class PlatformLogFeed {
public:
    PlatformLogFeed(CallWatcher* watcher, long long jobId) : watcher_(watcher), jobId_(jobId) {
        if (watcher_) EvDebug::setCaptureSink(&PlatformLogFeed::receive, this);
    }
    ~PlatformLogFeed() {
        if (watcher_) EvDebug::setCaptureSink(nullptr, nullptr);
    }
    PlatformLogFeed(const PlatformLogFeed&) = delete;
    PlatformLogFeed& operator=(const PlatformLogFeed&) = delete;

private:
    static void receive(int, long long jobId, const std::string& text, void* user) {
        auto* self = static_cast<PlatformLogFeed*>(user);
        if (jobId == self->jobId_) self->watcher_->jobLine(text);
    }
    CallWatcher* watcher_;
    long long jobId_;
};

// The items named by id, in that order; false with the first unknown id.
template <class Item, class Id, class Find>
bool pick(const std::vector<Id>& ids, Find find, std::vector<Item*>* chosen, Id* unknown) {
    for (Id id : ids) {
        Item* item = find(id);
        if (!item) {
            *unknown = id;
            return false;
        }
        chosen->push_back(item);
    }
    return true;
}

}  // namespace

// The frame of every entry call: save, host objects, call, outcome from the first item, save.
template <class Info, class Item, class Count>
CallOutcome HostJob::call(CallOutcome out, const std::vector<Item*>& chosen,
                          int (*entry)(Info**, Count, ZYSO::ZYOSUtil*), void (*settle)(Item&)) {
    if (chosen.empty()) {
        out.hostError = "no items to " + out.operation;
        return out;
    }
    if (chosen.size() > static_cast<size_t>(std::numeric_limits<Count>::max())) {
        out.hostError = "too many items for one call of " + out.operation;
        return out;
    }
    if (!plugin_.loaded() || !entry) {
        out.hostError = "the plug-in is not loaded";
        return out;
    }
    std::string error;
    if (!save(&error)) {
        out.hostError = error;
        return out;
    }
    JobLog log(state_, jobId_, watcher_);
    using Object = std::remove_pointer_t<decltype(makeInfo(state_, *chosen.front(), log))>;
    std::vector<std::unique_ptr<Object>> objects;
    std::vector<Info*> items;
    for (Item* item : chosen) {
        item->lastErrorCode = 0;
        item->lastError.clear();
        objects.emplace_back(makeInfo(state_, *item, log));
        items.push_back(objects.back().get());
        noteId(out, *item);
    }
    HostOSUtil osUtil(state_, system(), jobId_);
    auto start = std::chrono::steady_clock::now();
    if (watcher_) watcher_->callStarted(out.operation);
    try {
        PlatformLogFeed feed(watchPlatformLog_ ? watcher_ : nullptr, jobId_);
        out.result = entry(items.data(), static_cast<Count>(items.size()), &osUtil);
    } catch (...) {
        // An entry point must not throw; if one does, the host reports it instead of dying.
        out.result = 1;
        out.hostError = "the entry point of " + out.operation + " threw an exception";
    }
    if (watcher_) watcher_->callFinished();
    out.seconds = secondsSince(start);
    if (settle)
        for (Item* item : chosen) settle(*item);
    out.errorCode = chosen.front()->lastErrorCode;
    out.errorText = chosen.front()->lastError;
    return finish(out);
}

CallOutcome HostJob::runSnap(SnapOp op, const std::vector<long long>& ids) {
    const SnapOpRow& r = row(op);
    CallOutcome out;
    out.operation = r.name;
    std::vector<SnapItem*> chosen;
    if (ids.empty()) {
        for (auto& s : state_.snaps)
            if (r.byDefault(s)) chosen.push_back(&s);
    } else {
        long long unknown = 0;
        if (!pick(
                ids, [&](long long id) { return state_.findSnap(id); }, &chosen, &unknown)) {
            out.hostError = "no snapshot item " + std::to_string(unknown);
            return out;
        }
        for (const SnapItem* s : chosen)
            if (r.onlyTakes && !r.byDefault(*s)) {
                out.hostError = snapItemText(*s) + ": " + r.onlyTakes;
                return out;
            }
    }
    zyso_snap_fn entry = plugin_.loaded() ? plugin_.api().*r.entry : nullptr;
    // The host forgets the device of an unmapped snapshot: it is gone from this machine (the
    // plug-in reads it at unmap time and leaves it as it was).
    void (*settle)(SnapItem&) = nullptr;
    if (op == SnapOp::Unmap)
        settle = [](SnapItem& s) {
            if (s.status == kSnapUnmapped) s.mappedDevice.clear();
        };
    if (op == SnapOp::Prepare) {
        CallOutcome prepared = call<ZYSO::SnapInfo>(out, chosen, entry, settle);
        std::string hint = arrayMatchHint(prepared.errorText, state_);
        if (!hint.empty()) prepared.notes.push_back(hint);
        return prepared;
    }
    // The plug-in works on the array of the first item for the whole call, so items of
    // different arrays go in one call per array, in the order they were named.
    std::vector<std::vector<SnapItem*>> groups;
    for (SnapItem* s : chosen) {
        auto same = std::find_if(groups.begin(), groups.end(), [&](const std::vector<SnapItem*>& g) {
            return g.front()->arrayNumber == s->arrayNumber;
        });
        if (same == groups.end())
            groups.push_back({s});
        else
            same->push_back(s);
    }
    if (groups.size() <= 1) return call<ZYSO::SnapInfo>(out, chosen, entry, settle);
    CallOutcome total = out;
    total.result = 0;
    for (const auto& group : groups) {
        CallOutcome part = call<ZYSO::SnapInfo>(out, group, entry, settle);
        if (part.result != 0 && total.result == 0) {
            total.errorCode = part.errorCode;
            total.errorText = part.errorText;
        }
        total.result = std::max(total.result, part.result);
        if (!part.hostError.empty()) total.hostError += (total.hostError.empty() ? "" : "; ") + part.hostError;
        total.seconds += part.seconds;
        total.snapIds.insert(total.snapIds.end(), part.snapIds.begin(), part.snapIds.end());
    }
    return total;
}

void HostJob::askCluster(const LunItem& item, const char* when, DiskFacts* facts, CallOutcome& out) {
    *facts = DiskFacts();
    const ArrayEntry* array = state_.findArray(item.arrayName);
    std::string error;
    if (array && !queryDisk(*array, item.diskName, facts, &error))
        out.notes.push_back("could not ask the cluster about " + item.diskName + " " + when + " " + out.operation +
                            ": " + error);
}

CallOutcome HostJob::runLun(LunOp op, const std::vector<long>& ids, bool force) {
    const LunOpRow& r = row(op);
    CallOutcome out;
    out.operation = r.name;
    std::vector<LunItem*> chosen;
    long unknown = 0;
    if (!pick(
            ids, [&](long id) { return state_.findLun(id); }, &chosen, &unknown)) {
        out.hostError = "no provisioning item " + std::to_string(unknown);
        return out;
    }
    for (const LunItem* l : chosen)
        if (op == LunOp::Delete && l->preexisting && !force) {
            // A mistyped name in lun create must not end with a source disk and its snapshots gone.
            out.hostError = "disk item " + std::to_string(l->id) + " refers to " + l->diskName +
                            ", a disk the cluster already had when the item was created; lun delete deletes it "
                            "only with --force";
            return out;
        }
    const bool sized = op == LunOp::Create || op == LunOp::Resize;
    std::map<long, DiskFacts> before;
    if (sized) {
        for (LunItem* l : chosen) {
            askCluster(*l, "before", &before[l->id], out);
            // Settled before the call and saved with the items, so that a create killed after
            // the cluster made the disk does not make the disk look like someone else's.
            if (op == LunOp::Create && !l->createTried) {
                l->createTried = true;
                l->preexisting = before[l->id].exists;
            }
            for (const std::string& note :
                 {sizeNote(l->sizeBytes), op == LunOp::Create ? blockSizeNote(l->blockSize) : std::string()})
                if (!note.empty()) out.notes.push_back(l->diskName + ": " + note);
        }
    }
    // The plug-in leaves the device name as it was; the device is gone from this machine.
    auto settle = [](LunItem& l) {
        if (l.status == kLunUnmapped || l.status == kLunDeleted) l.deviceName.clear();
        if (l.status == kLunDeleted) l.clusterSizeBytes = 0;
    };
    out = call<ZYSO::LUNInfo>(out, chosen, plugin_.loaded() ? plugin_.api().*r.entry : nullptr,
                              static_cast<void (*)(LunItem&)>(settle));
    if (!sized || !out.hostError.empty()) return out;
    for (LunItem* l : chosen) {
        if (l->status != (op == LunOp::Create ? kLunCreated : kLunResized)) continue;
        DiskFacts now;
        askCluster(*l, "after", &now, out);
        if (!now.exists) continue;
        l->clusterSizeBytes = now.sizeBytes;
        if (op == LunOp::Create && before[l->id].exists) {
            const std::string disk = l->diskName + " (" + sizeText(now.sizeBytes) + ")";
            if (l->preexisting)
                out.notes.push_back("the cluster already had a disk named " + disk +
                                    "; this item now refers to it, and lun delete " + std::to_string(l->id) +
                                    " deletes it only with --force");
            else
                out.notes.push_back(disk +
                                    " was made by an earlier, interrupted create of this item, which now "
                                    "refers to it");
        }
        const long long asked = l->sizeBytes >> 30 << 30;
        if (op == LunOp::Resize && now.sizeBytes > asked)
            out.notes.push_back("the cluster does not shrink disks: " + l->diskName + " keeps its size of " +
                                sizeText(now.sizeBytes) + " (asked " + sizeText(l->sizeBytes) +
                                "); the plug-in counts the refused shrink as done");
    }
    return finish(out);
}

namespace {

// Removes the items only when every id is known and refusal has nothing to say about any.
template <class Item, class Id, class Refusal>
bool forget(std::vector<Item>& items, const std::vector<Id>& ids, Refusal refusal, std::string* error,
            const char* what) {
    for (Id id : ids) {
        auto it = std::find_if(items.begin(), items.end(), [&](const Item& i) { return i.id == id; });
        if (it == items.end()) {
            *error = std::string("no ") + what + " " + std::to_string(id);
            return false;
        }
        *error = refusal(*it);
        if (!error->empty()) return false;
    }
    items.erase(std::remove_if(items.begin(), items.end(),
                               [&](const Item& i) { return std::find(ids.begin(), ids.end(), i.id) != ids.end(); }),
                items.end());
    return true;
}

}  // namespace

bool HostJob::forgetSnaps(const std::vector<long long>& ids, bool force, std::string* error) {
    return forget(
        state_.snaps, ids,
        [force](const SnapItem& s) -> std::string {
            if (force || !hasSnapshot(s)) return "";
            return snapItemText(s) + " and its snapshot " + s.snapName +
                   " is on the cluster: delete it first (korvan-host delete " + std::to_string(s.id) +
                   "), or forget it with --force";
        },
        error, "snapshot item");
}

bool HostJob::forgetLuns(const std::vector<long>& ids, bool force, std::string* error) {
    return forget(
        state_.luns, ids,
        [force](const LunItem& l) -> std::string {
            if (force || !holdsDisk(l)) return "";
            if (l.preexisting)
                return lunItemText(l) +
                       " and refers to a disk the cluster already had: forget it with --force, which "
                       "leaves the disk as it is";
            return lunItemText(l) + " and its disk is on the cluster: delete it first (korvan-host lun delete " +
                   std::to_string(l.id) + "), or forget it with --force";
        },
        error, "provisioning item");
}

int HostJob::isSupported(const std::string& device) {
    if (!plugin_.loaded()) return 1;
    HostOSUtil osUtil(state_, system(), jobId_);
    char errBuf[1024] = {0};
    try {
        return plugin_.api().isSupported(device.c_str(), 0, &osUtil, errBuf, sizeof errBuf);
    } catch (...) {
        return 1;
    }
}

std::string HostJob::initiatorInfoFor(const std::vector<std::string>& hosts, std::string* error) {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& host : hosts) {
        std::vector<std::string> wwpns, iqns;
        if (!system().interfaces(host, &wwpns, &iqns, error)) return "";
        if (iqns.empty()) {
            *error = "host " + host + " has no iSCSI initiator";
            return "";
        }
        nlohmann::json endpoints = nlohmann::json::array();
        for (const auto& iqn : iqns) endpoints.push_back({{"endpoint", iqn}});
        list.push_back(
            {{"hostname", host}, {"hostos", kMapHostOs}, {"protocol", kMapProtocolIscsi}, {"endpoints", endpoints}});
    }
    return nlohmann::json{{"hosts", list}}.dump();
}

}  // namespace KrvnHost
