// The table of libiscsi sessions (ZyIscsiSessions.h) and the "libiscsi" device backend over it.
#include "ZyIscsiSessions.h"

#include <iscsi/iscsi.h>
#include <iscsi/scsi-lowlevel.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "DeviceBackends.h"
#include "PlatformSettings.h"

namespace ZyIscsiSessions {

namespace {

constexpr char kInitiatorPrefix[] = "iqn.1994-05.com.redhat:";
constexpr char kNoSession[] = "no iSCSI session shows the device ";
constexpr char kCommandFailed[] = "SCSI command failed on ";
constexpr uint32_t kChunkBytes = 1u << 20;  // one READ or WRITE at most

// One command in flight. Its callback may come after the wait for it gave up (a session the
// target dropped), even from iscsi_destroy_context(): so it lives on the heap, and an
// abandoned one is kept until its context is gone and frees its own task.
struct Pending {
    bool finished = false;
    bool abandoned = false;
    bool carriesTask = true;  // command_data of the callback is the SCSI task
    int status = 0;
    scsi_task* task = nullptr;
};

void onDone(iscsi_context*, int status, void* commandData, void* privateData) {
    auto* p = static_cast<Pending*>(privateData);
    if (p->abandoned) {
        if (p->carriesTask && commandData) scsi_free_scsi_task(static_cast<scsi_task*>(commandData));
        return;
    }
    p->finished = true;
    p->status = status;
    p->task = p->carriesTask ? static_cast<scsi_task*>(commandData) : nullptr;
}

// One session: its context runs one command at a time, under `mutex`.
struct Entry {
    Entry(iscsi_context* c, int timeoutSec) : context(c), timeoutMs(timeoutSec * 1000) {}
    ~Entry() {
        iscsi_destroy_context(context);
        abandoned.clear();  // only now: destroying the context may still call them back
    }

    // Serves the connection until the command's callback came; false (the command then
    // abandoned) when the connection failed or the time ran out.
    bool wait(std::unique_ptr<Pending>& p) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!p->finished) {
            const int fd = iscsi_get_fd(context);
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (fd < 0 || left.count() <= 0) break;
            pollfd pfd{fd, static_cast<short>(iscsi_which_events(context)), 0};
            const int n = poll(&pfd, 1, static_cast<int>(left.count()));
            if (n < 0 && errno != EINTR) break;
            if (n > 0 && iscsi_service(context, pfd.revents) < 0) break;
        }
        if (p->finished) return true;
        p->abandoned = true;
        abandoned.push_back(std::move(p));
        return false;
    }

    std::mutex mutex;
    iscsi_context* context;
    int timeoutMs;
    Session session;
    uint32_t blockSize = 0;  // known after the first READ CAPACITY
    uint64_t blocks = 0;
    std::vector<std::unique_ptr<Pending>> abandoned;
};

// Runs one task-returning libiscsi call to its end: the finished task (the caller frees it)
// or null with `error` set.
template <class Start>
scsi_task* runTask(Entry& e, Start start, std::string& error) {
    auto p = std::make_unique<Pending>();
    Pending* raw = p.get();
    if (!start(raw)) {
        error = std::string("cannot queue the command: ") + iscsi_get_error(e.context);
        return nullptr;
    }
    if (!e.wait(p)) {
        error = std::string("the session failed: ") + iscsi_get_error(e.context);
        return nullptr;
    }
    return raw->task;
}

struct Table {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<Entry>> byDevice;
    int nextDevice = 1;  // /dev/sdb first
};

Table& table() {
    static Table t;
    return t;
}

std::string devicePath(int index) {
    std::string suffix;
    for (int n = index + 1; n > 0; n = (n - 1) / 26)
        suffix.insert(suffix.begin(), static_cast<char>('a' + (n - 1) % 26));
    return "/dev/sd" + suffix;
}

// Logs the session out, if the target has not ended it already.
void endSession(Entry& entry) {
    std::lock_guard<std::mutex> lock(entry.mutex);
    auto p = std::make_unique<Pending>();
    p->carriesTask = false;
    if (iscsi_is_logged_in(entry.context) && iscsi_logout_async(entry.context, onDone, p.get()) == 0) entry.wait(p);
}

std::shared_ptr<Entry> entryOf(const std::string& device) {
    Table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.byDevice.find(device);
    return it == t.byDevice.end() ? nullptr : it->second;
}

std::string taskError(Entry& e, scsi_task* task) {
    std::string why = kCommandFailed + ("[" + e.session.device + "]: ");
    return why + "status " + std::to_string(task->status) + ", sense key " + std::to_string(task->sense.key) +
           ", ascq 0x" + [&] {
               char hex[8];
               std::snprintf(hex, sizeof hex, "%04x", task->sense.ascq);
               return std::string(hex);
           }();
}

// Learns the LUN's geometry once; under the entry's lock.
bool geometry(Entry& e, std::string& error) {
    if (e.blockSize != 0) return true;
    scsi_task* task = runTask(
        e, [&](Pending* p) { return iscsi_readcapacity16_task(e.context, e.session.lun, onDone, p) != nullptr; },
        error);
    if (!task) return false;
    auto* data =
        task->status == SCSI_STATUS_GOOD ? static_cast<scsi_readcapacity16*>(scsi_datain_unmarshall(task)) : nullptr;
    if (data && data->block_length > 0) {
        e.blockSize = data->block_length;
        e.blocks = data->returned_lba + 1;
    } else {
        error = taskError(e, task);
    }
    scsi_free_scsi_task(task);
    return e.blockSize != 0;
}

// READ or WRITE of whole blocks in chunks, under the entry's lock.
bool transfer(const std::string& device, uint64_t lba, uint32_t count, char* buffer, bool write, std::string& error) {
    std::shared_ptr<Entry> e = entryOf(device);
    if (!e) {
        error = kNoSession + ("[" + device + "]");
        return false;
    }
    std::lock_guard<std::mutex> lock(e->mutex);
    if (!geometry(*e, error)) return false;
    const uint32_t perChunk = std::max<uint32_t>(1, kChunkBytes / e->blockSize);
    for (uint32_t done = 0; done < count;) {
        const uint32_t n = std::min(perChunk, count - done);
        const uint32_t bytes = n * e->blockSize;
        char* at = buffer + static_cast<size_t>(done) * e->blockSize;
        const int blockSize = static_cast<int>(e->blockSize);
        scsi_task* task = runTask(
            *e,
            [&](Pending* p) {
                return (write ? iscsi_write16_task(e->context, e->session.lun, lba + done,
                                                   reinterpret_cast<unsigned char*>(at), bytes, blockSize, 0, 0, 0, 0,
                                                   0, onDone, p)
                              : iscsi_read16_task(e->context, e->session.lun, lba + done, bytes, blockSize, 0, 0, 0, 0,
                                                  0, onDone, p)) != nullptr;
            },
            error);
        if (!task) return false;
        bool ok = task->status == SCSI_STATUS_GOOD && (write || task->datain.size == static_cast<int>(bytes));
        if (ok && !write) std::memcpy(at, task->datain.data, bytes);
        if (!ok) error = taskError(*e, task);
        scsi_free_scsi_task(task);
        if (!ok) return false;
        done += n;
    }
    return true;
}

class SessionDevice : public ZyDevice, public ZyDeviceScsiIface {
public:
    explicit SessionDevice(std::string path) : path_(std::move(path)) {}
    std::string GetName() const override { return path_; }
    void* GetInterface(const char* name) override {
        return name && std::strcmp(name, ZY_DEVICE_SCSI_IFACE) == 0 ? static_cast<ZyDeviceScsiIface*>(this) : nullptr;
    }
    int SendCdb(const unsigned char* cdb, int cdbLength, unsigned char* buffer, int bufferLength, int,
                CWqError* error) override {
        std::string why;
        int n = command(path_, cdb, cdbLength, buffer, bufferLength, why);
        if (n < 0 && error) error->Set(1, why);
        return n;
    }

private:
    std::string path_;
};

}  // namespace

std::string initiatorName() {
    const ZyPlatform::CurrentSettings current;
    const ZyPlatform::SettingsStore& settings = *current;
    std::string name = settings.platformText(ZyPlatform::Setting::kInitiatorName, "");
    if (!name.empty()) return name;
    char host[256] = {0};
    gethostname(host, sizeof host - 1);
    return kInitiatorPrefix + std::string(host);
}

std::string add(const std::string& portal, const std::string& target, const std::string& address,
                iscsi_context* context, int lun) {
    const long timeout = ZyPlatform::CurrentSettings()->platformInteger(ZyPlatform::Setting::kRequestTimeoutSec,
                                                                        ZyPlatform::Default::kRequestTimeoutSec);
    auto entry = std::make_shared<Entry>(
        context, static_cast<int>(timeout > 0 ? timeout : ZyPlatform::Default::kRequestTimeoutSec));
    Table& t = table();
    {
        std::lock_guard<std::mutex> lock(t.mutex);
        auto same = std::find_if(t.byDevice.begin(), t.byDevice.end(),
                                 [&](const auto& d) { return d.second->session.target == target; });
        if (same == t.byDevice.end()) {
            entry->session = {portal, target, address, devicePath(t.nextDevice++), lun};
            t.byDevice[entry->session.device] = entry;
            return entry->session.device;
        }
        entry->session = same->second->session;
    }
    // Another thread logged in to the target meanwhile: one session per target, as the kernel
    // keeps, so this one ends and the caller gets the device of the first.
    endSession(*entry);
    return entry->session.device;
}

bool logout(const std::string& target) {
    std::shared_ptr<Entry> entry;
    {
        Table& t = table();
        std::lock_guard<std::mutex> lock(t.mutex);
        auto it = std::find_if(t.byDevice.begin(), t.byDevice.end(),
                               [&](const auto& d) { return d.second->session.target == target; });
        if (it == t.byDevice.end()) return false;
        entry = it->second;
        t.byDevice.erase(it);
    }
    // A session the target already ended is gone all the same.
    endSession(*entry);
    return true;
}

std::string deviceOf(const std::string& target) {
    Table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    for (const auto& [device, entry] : t.byDevice)
        if (entry->session.target == target) return device;
    return {};
}

bool find(const std::string& device, Session& out) {
    std::shared_ptr<Entry> e = entryOf(device);
    if (e) out = e->session;
    return e != nullptr;
}

std::vector<Session> list() {
    Table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    std::vector<Session> out;
    for (const auto& [device, entry] : t.byDevice) out.push_back(entry->session);
    return out;
}

int command(const std::string& device, const unsigned char* cdb, int cdbLength, unsigned char* buffer, int bufferLength,
            std::string& error) {
    if (!cdb || cdbLength <= 0 || cdbLength > SCSI_CDB_MAX_SIZE || bufferLength < 0 || (!buffer && bufferLength > 0)) {
        error = "invalid CDB or data buffer";
        return -1;
    }
    std::shared_ptr<Entry> e = entryOf(device);
    if (!e) {
        error = kNoSession + ("[" + device + "]");
        return -1;
    }
    if (bufferLength > 0) std::memset(buffer, 0, static_cast<size_t>(bufferLength));
    scsi_task* task = scsi_create_task(cdbLength, const_cast<unsigned char*>(cdb),
                                       bufferLength > 0 ? SCSI_XFER_READ : SCSI_XFER_NONE, bufferLength);
    if (!task) {
        error = "cannot create a SCSI task";
        return -1;
    }
    std::lock_guard<std::mutex> lock(e->mutex);
    bool queued = false;
    scsi_task* done = runTask(
        *e,
        [&](Pending* p) {
            queued = iscsi_scsi_command_async(e->context, e->session.lun, task, onDone, nullptr, p) == 0;
            return queued;
        },
        error);
    if (!queued) scsi_free_scsi_task(task);  // still ours; a queued one belongs to its callback
    if (!done) return -1;
    int received = -1;
    if (done->status == SCSI_STATUS_GOOD) {
        received = std::min(done->datain.size, bufferLength);
        if (received > 0) std::memcpy(buffer, done->datain.data, static_cast<size_t>(received));
    } else {
        error = taskError(*e, done);
    }
    scsi_free_scsi_task(done);
    return received;
}

bool capacity(const std::string& device, uint64_t& blocks, uint32_t& blockSize, std::string& error) {
    std::shared_ptr<Entry> e = entryOf(device);
    if (!e) {
        error = kNoSession + ("[" + device + "]");
        return false;
    }
    std::lock_guard<std::mutex> lock(e->mutex);
    e->blockSize = 0;  // asked afresh: the disk may have grown
    if (!geometry(*e, error)) return false;
    blocks = e->blocks;
    blockSize = e->blockSize;
    return true;
}

bool readBlocks(const std::string& device, uint64_t lba, uint32_t count, void* buffer, std::string& error) {
    return transfer(device, lba, count, static_cast<char*>(buffer), false, error);
}

bool writeBlocks(const std::string& device, uint64_t lba, uint32_t count, const void* buffer, std::string& error) {
    return transfer(device, lba, count, static_cast<char*>(const_cast<void*>(buffer)), true, error);
}

}  // namespace ZyIscsiSessions

namespace ZyPlatform {

SP<ZyDevice> openLibiscsiDevice(const std::string& path, CWqError* error) {
    ZyIscsiSessions::Session session;
    if (!ZyIscsiSessions::find(path, session)) {
        if (error) error->Set(1, "no such device [" + path + "]");
        return nullptr;
    }
    return std::make_shared<ZyIscsiSessions::SessionDevice>(path);
}

}  // namespace ZyPlatform
