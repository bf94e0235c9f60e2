#include "BenchSim.h"

#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <fstream>

namespace krvnbench {

namespace {

constexpr const char* kLoopback = "127.0.0.1";
// The host's default: steps and notes, no details or dumps.
constexpr const char* kDebugLevel = "2";
constexpr const char* kLunTableType = "ShowTarget";

std::string tempFile(const char* pattern) {
    std::string path = pattern;
    int fd = mkstemp(path.data());
    if (fd < 0) return "";
    close(fd);
    return path;
}

}  // namespace

BenchSim::BenchSim(const Json& seed, bool contents) {
    // Set before listening: the servers read them once.
    std::shared_ptr<Log> log = log_;
    sim_.setRequestLog([log](const std::string& line) {
        size_t path = line.find(' ');
        if (path == std::string::npos) return;
        std::lock_guard<std::mutex> lock(log->mutex);
        if (line.compare(path + 1, 5, "/sim/") == 0) {
            ++log->simCalls;
            return;
        }
        auto now = std::chrono::steady_clock::now();
        if (log->seenRest) {
            const double gap = std::chrono::duration<double, std::milli>(now - log->lastRest).count();
            log->maxGapMs = std::max(log->maxGapMs, gap);
            if (gap > kServiceIdleCloseMs) ++log->longGaps;
        }
        log->seenRest = true;
        log->lastRest = now;
    });
    sim_.setExchangeLog([log](const std::string& method, const std::string& body, const korvansim::RestReply& reply) {
        std::lock_guard<std::mutex> lock(log->mutex);
        if (!log->recording) return;
        Recording& r = log->kept;
        if (r.all) {
            const auto arrival =
                std::chrono::steady_clock::now() - std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                       std::chrono::duration<double, std::micro>(reply.serviceUs));
            if (r.exchanges.empty()) r.firstArrival = arrival;
            const double sinceFirst = std::chrono::duration<double, std::micro>(arrival - r.firstArrival).count();
            r.exchanges.push_back({method, body, reply.body, reply.http, sinceFirst, reply.serviceUs});
        }
        if (reply.changed) r.changed = true;
        if (reply.type != kLunTableType) return;
        if (r.lunTables % r.lunStride == 0) {
            r.lunSamples.push_back(reply.body);
            r.lunSampleBytes += static_cast<long long>(reply.body.size());
        }
        ++r.lunTables;
        r.lunBytes += static_cast<long long>(reply.body.size());
    });
    if (!contents) sim_.withoutContents();
    if (!sim_.loadSeed(seed, error_)) return;
    port_ = sim_.listenHttp(kLoopback, 0, error_);
    if (port_ < 0) return;
    if (!korvansim::generateSelfSigned(identity_, error_)) return;
    caFile_ = tempFile("/tmp/krvn-bench-ca-XXXXXX");
    std::ofstream(caFile_, std::ios::trunc) << identity_.certPem;
    httpsPort_ = sim_.listenHttps(kLoopback, 0, identity_, error_);
    if (httpsPort_ < 0) return;
    logFile_ = tempFile("/tmp/krvn-bench-log-XXXXXX");
    settings_.set("Platform", "deviceBackend", "sim");
    settings_.set("Platform", "iscsiBackend", "sim");
    settings_.set("Platform", "simulatorUrl", url(false));
    settings_.set("Platform", "caFile", caFile_);
    settings_.set("Platform", "debugLevel", kDebugLevel);
    settings_.set("Platform", "logFile", logFile_);
}

BenchSim::~BenchSim() {
    sim_.stop();
    if (!caFile_.empty()) std::remove(caFile_.c_str());
    if (!logFile_.empty() && (keptLog_.empty() || std::rename(logFile_.c_str(), keptLog_.c_str()) != 0))
        std::remove(logFile_.c_str());
}

std::string BenchSim::url(bool https) const {
    return std::string(https ? "https://" : "http://") + kLoopback + ":" + std::to_string(https ? httpsPort_ : port_);
}

BenchSim::Tally BenchSim::tally() {
    Json counters = sim_.counters();
    Tally t;
    t.requests = counters.value("rest", 0L);
    t.connections = counters.value("connections", 0L);
    t.clusterConnections = counters.value("tlsConnections", 0L);
    struct stat info {};
    if (!logFile_.empty() && stat(logFile_.c_str(), &info) == 0) t.logBytes = static_cast<long>(info.st_size);
    std::lock_guard<std::mutex> lock(log_->mutex);
    t.simCalls = log_->simCalls;
    t.maxGapMs = log_->maxGapMs;
    t.longGaps = log_->longGaps;
    t.byType = counters.value("requests", Json::object());
    return t;
}

void BenchSim::restartGap() {
    std::lock_guard<std::mutex> lock(log_->mutex);
    log_->seenRest = false;
    log_->maxGapMs = 0;
    log_->longGaps = 0;
}

void BenchSim::startRecording(Recording recording) {
    recording.exchanges.clear();
    recording.lunSamples.clear();
    recording.lunTables = 0;
    recording.lunBytes = recording.lunSampleBytes = 0;
    recording.lunStride = std::max(1L, recording.lunStride);
    std::lock_guard<std::mutex> lock(log_->mutex);
    log_->kept = std::move(recording);
    log_->recording = true;
}

Recording BenchSim::stopRecording() {
    std::lock_guard<std::mutex> lock(log_->mutex);
    log_->recording = false;
    return std::move(log_->kept);
}

}  // namespace krvnbench
