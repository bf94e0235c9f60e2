// The data path: korvan-sim's own iSCSI target over loopback, read and written through
// libiscsi one command at a time (no queue depth: the figure is the latency-bound floor a
// single-threaded initiator sees), and the time the cluster takes to snapshot a large,
// mostly empty vDisk (only written extents are copied).
#include <curl/curl.h>
#include <iscsi/iscsi.h>
#include <iscsi/scsi-lowlevel.h>

#include <chrono>
#include <cstdio>
#include <vector>

#include "BenchCommon.h"
#include "BenchSim.h"
#include "SimSeed.h"

namespace krvnbench {

namespace {

constexpr const char* kLoopback = "127.0.0.1";
constexpr const char* kTransferDisk = "dp-transfer";
constexpr const char* kSnapDisk = "dp-snapshot";
constexpr double kDiskGB = 10;
constexpr uint32_t kSmall = 64 * 1024;
constexpr uint32_t kLarge = 1024 * 1024;
constexpr uint64_t kTransferBytes = 256ULL << 20;
constexpr uint64_t kSnapWrittenBytes = 100ULL << 20;
constexpr double kMiB = 1024.0 * 1024.0;

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// One logged-in session to a target's LUN 0.
class Session {
public:
    Session(const std::string& initiator, const std::string& portal, const std::string& target) {
        context_ = iscsi_create_context(initiator.c_str());
        if (!context_) {
            error_ = "no libiscsi context";
            return;
        }
        iscsi_set_targetname(context_, target.c_str());
        iscsi_set_session_type(context_, ISCSI_SESSION_NORMAL);
        iscsi_set_header_digest(context_, ISCSI_HEADER_DIGEST_NONE);
        if (iscsi_full_connect_sync(context_, portal.c_str(), 0) != 0) {
            error_ = std::string("login to ") + target + ": " + iscsi_get_error(context_);
            return;
        }
        scsi_task* task = iscsi_readcapacity16_sync(context_, 0);
        auto* capacity = task && task->status == SCSI_STATUS_GOOD
                             ? static_cast<scsi_readcapacity16*>(scsi_datain_unmarshall(task))
                             : nullptr;
        if (capacity) blockSize_ = capacity->block_length;
        if (task) scsi_free_scsi_task(task);
        if (blockSize_ == 0) error_ = "READ CAPACITY 16 failed";
    }
    ~Session() {
        if (!context_) return;
        if (iscsi_is_logged_in(context_)) iscsi_logout_sync(context_);
        iscsi_destroy_context(context_);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    const std::string& error() const { return error_; }

    // Sequential transfers of `request` bytes from `offset` on; false with error() set.
    bool transfer(bool write, uint64_t offset, uint64_t bytes, uint32_t request, std::vector<unsigned char>& buffer) {
        for (uint64_t done = 0; done < bytes; done += request) {
            const uint64_t lba = (offset + done) / blockSize_;
            scsi_task* task =
                write ? iscsi_write16_sync(context_, 0, lba, buffer.data(), request, static_cast<int>(blockSize_), 0, 0,
                                           0, 0, 0)
                      : iscsi_read16_sync(context_, 0, lba, request, static_cast<int>(blockSize_), 0, 0, 0, 0, 0);
            const bool good =
                task && task->status == SCSI_STATUS_GOOD && (write || task->datain.size == static_cast<int>(request));
            if (task) scsi_free_scsi_task(task);
            if (!good) {
                error_ = std::string(write ? "WRITE 16" : "READ 16") + " failed: " + iscsi_get_error(context_);
                return false;
            }
        }
        return true;
    }

private:
    iscsi_context* context_ = nullptr;
    uint32_t blockSize_ = 0;
    std::string error_;
};

size_t collect(char* data, size_t size, size_t count, void* out) {
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
}

// One cluster request over HTTPS; the answer, or empty.
std::string clusterRequest(const BenchSim& sim, const char* method, const std::string& request) {
    CURL* curl = curl_easy_init();
    if (!curl) return "";
    char* escaped = curl_easy_escape(curl, request.c_str(), static_cast<int>(request.size()));
    const std::string body = std::string("request=") + (escaped ? escaped : "");
    curl_free(escaped);
    const std::string url = sim.url(true) + "/rest/";
    std::string answer;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CAINFO, sim.caFile().c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
    const bool ok = curl_easy_perform(curl) == CURLE_OK;
    curl_easy_cleanup(curl);
    return ok ? answer : "";
}

// MakeSnapshot of one vDisk as a client sees it (after a login, which is not timed).
double snapshotMs(const BenchSim& sim, const std::string& vdisk, std::string& error) {
    Json login =
        Json::parse(clusterRequest(sim, "POST",
                                   std::string("{type:Login, category:UserManagement, params:{userName:'") +
                                       korvansim::kDefaultUser + "', password:'" + korvansim::kDefaultPassword +
                                       "', cluster:'" + korvansim::kDefaultClusterName + "'}}"),
                    nullptr, false);
    const std::string session = login.is_object() ? login["result"].value("sessionId", "") : "";
    if (session.empty()) return error = "the login for the snapshot failed", 0;
    const auto start = Clock::now();
    Json made = Json::parse(clusterRequest(sim, "PUT",
                                           "{type:MakeSnapshot, category:SnapshotManagement, sessionId:'" + session +
                                               "', params:{virtualDisks:['" + vdisk + "']}}"),
                            nullptr, false);
    const double ms = msSince(start);
    if (!made.is_object() || made.value("status", "") != "ok") return error = "MakeSnapshot failed", 0;
    return ms;
}

}  // namespace

DataPathReport runDataPath() {
    DataPathReport report;
    const std::string host = korvansim::localHostName();
    const std::string initiator = korvansim::defaultIqn(host);
    Json seed = korvansim::defaultSeed(host, 0);
    for (const char* name : {kTransferDisk, kSnapDisk})
        seed["vdisks"].push_back({{"name", name},
                                  {"sizeGB", kDiskGB},
                                  {"exposures", {{{"proxy", korvansim::kDefaultProxy}, {"initiators", {initiator}}}}}});
    BenchSim sim(seed);
    std::string message;
    if (!sim.ok() || !sim.sim().serveIscsi(kLoopback, 0, message)) {
        report.error = sim.ok() ? message : sim.error();
        return report;
    }
    const std::string portal = sim.sim().iscsiPortals()[korvansim::kDefaultProxy];
    std::vector<unsigned char> buffer(kLarge);
    for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<unsigned char>(i * 131 + 7);

    {
        Session session(initiator, portal, korvansim::Cluster::targetIqnFor(korvansim::kDefaultProxy, kTransferDisk));
        if (!session.error().empty()) {
            report.error = session.error();
            return report;
        }
        // Each request size on a region of its own: every write allocates, every read follows a write.
        uint64_t offset = 0;
        for (uint32_t request : {kSmall, kLarge}) {
            for (bool write : {true, false}) {
                const auto start = Clock::now();
                if (!session.transfer(write, offset, kTransferBytes, request, buffer)) {
                    report.error = session.error();
                    return report;
                }
                DataPathResult r;
                r.what = std::string(write ? "sequential write " : "sequential read ") +
                         (request == kSmall ? "64 KiB" : "1 MiB");
                r.ms = msSince(start);
                r.mib = static_cast<double>(kTransferBytes) / kMiB;
                r.mibPerSec = r.mib / (r.ms / 1000.0);
                report.transfers.push_back(r);
                std::fprintf(stderr, "  %-28s %8.1f MiB/s\n", r.what.c_str(), r.mibPerSec);
            }
            offset += kTransferBytes;
        }
    }
    {
        Session session(initiator, portal, korvansim::Cluster::targetIqnFor(korvansim::kDefaultProxy, kSnapDisk));
        if (!session.error().empty() || !session.transfer(true, 0, kSnapWrittenBytes, kLarge, buffer)) {
            report.error = session.error();
            return report;
        }
    }
    report.writtenMiB = static_cast<double>(kSnapWrittenBytes) / kMiB;
    report.snapshotMs = snapshotMs(sim, kSnapDisk, report.error);
    std::fprintf(stderr, "  snapshot of a 10 GiB vDisk with 100 MiB written: %.1f ms\n", report.snapshotMs);
    return report;
}

}  // namespace krvnbench
