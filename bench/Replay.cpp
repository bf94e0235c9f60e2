// The bare client's side of target (a): the exchanges of one entry call replayed by libcurl
// alone (to a replay server, and to the simulator itself when the call changed nothing), and
// the plug-in's own reader of the storage proxy's LUN tables timed on the answers
// one call received.
#include <curl/curl.h>
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <thread>

#include "BenchSim.h"
#include "KrvnCommonUtils.h"
#include "MeteredHost.h"
#include "ZYLibCurl.h"
#include "ZYPlatformInfo.h"
#include "ZYSnapRESTAPI.h"

namespace krvnbench {

namespace {

constexpr const char* kLoopback = "127.0.0.1";
constexpr const char* kRestPath = "/rest/";
constexpr int kStartWaitMs = 2000;
constexpr size_t kKeepAliveRequests = 100000000;

void spinUntil(std::chrono::steady_clock::time_point until) {
    while (std::chrono::steady_clock::now() < until) {
    }
}

void spinFor(double us) {
    if (us > 0)
        spinUntil(std::chrono::steady_clock::now() +
                  std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double, std::micro>(us)));
}

size_t collect(char* data, size_t size, size_t count, void* out) {
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
}

// Answers the n-th request it gets with the n-th recorded answer, over HTTPS with the
// simulator's identity. Its own threads; the client's CPU time is not mixed with its own.
class ReplayServer {
public:
    ReplayServer(const korvansim::TlsIdentity& identity, const std::vector<Exchange>& exchanges)
        : exchanges_(exchanges) {
        std::string unused;
        server_ = korvansim::makeHttpsServer(identity, unused);
        if (!server_ || !server_->is_valid()) return;
        server_->set_tcp_nodelay(true);
        server_->set_keep_alive_max_count(kKeepAliveRequests);
        auto answer = [this](const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& read) {
            std::string body;
            read([&](const char* data, size_t n) {
                body.append(data, n);
                return true;
            });
            const size_t at = next_++;
            if (at >= exchanges_.size()) {
                ++mismatches_;
                res.status = 500;
                return;
            }
            const Exchange& e = exchanges_[at];
            if (e.body != body || e.method != req.method) ++mismatches_;
            // Busy, as the simulator is while it makes the answer.
            if (paced_) spinFor(e.serviceUs);
            res.status = e.http;
            res.set_content(e.answer, "application/json");
        };
        server_->Post(kRestPath, answer);
        server_->Put(kRestPath, answer);
        port_ = server_->bind_to_any_port(kLoopback);
        if (port_ <= 0) return;
        httplib::SSLServer* raw = server_.get();
        thread_ = std::thread([raw] { raw->listen_after_bind(); });
        for (int waited = 0; !raw->is_running() && waited < kStartWaitMs; ++waited)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~ReplayServer() {
        if (server_) server_->stop();
        if (thread_.joinable()) thread_.join();
    }
    ReplayServer(const ReplayServer&) = delete;
    ReplayServer& operator=(const ReplayServer&) = delete;

    int port() const { return port_; }
    std::string url() const { return std::string("https://") + kLoopback + ":" + std::to_string(port_) + kRestPath; }
    // From the first exchange again; `paced`: each answer after the time the simulator took.
    void rewind(bool paced) {
        next_ = 0;
        paced_ = paced;
    }
    long mismatches() const { return mismatches_; }

private:
    const std::vector<Exchange>& exchanges_;
    std::unique_ptr<httplib::SSLServer> server_;
    std::thread thread_;
    int port_ = -1;
    std::atomic<size_t> next_{0};
    std::atomic<bool> paced_{false};
    std::atomic<long> mismatches_{0};
};

// Keeps a replay on the recorded call's timeline: each request leaves no earlier than it came
// in the recording, after the first. The wait is busy, as the plug-in mostly is between two
// requests, and its CPU time is kept apart so that only the client's is counted.
class Pace {
public:
    explicit Pace(bool on) : on_(on), start_(std::chrono::steady_clock::now()) {}
    void before(const Exchange& e) {
        if (!on_) return;
        const long long cpu = threadCpuNs();
        spinUntil(start_ + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                               std::chrono::duration<double, std::micro>(e.arrivalUs)));
        waitedNs_ += threadCpuNs() - cpu;
    }
    long long waitedNs() const { return waitedNs_; }

private:
    const bool on_;
    const std::chrono::steady_clock::time_point start_;
    long long waitedNs_ = 0;
};

// The session id in a recorded login answer ({"result":{"sessionId":"..."}}), or empty.
std::string sessionIn(const std::string& answer) {
    const size_t key = answer.find("\"sessionId\"");
    const size_t colon = key == std::string::npos ? key : answer.find(':', key);
    const size_t open = colon == std::string::npos ? colon : answer.find('"', colon);
    const size_t close = open == std::string::npos ? open : answer.find('"', open + 1);
    return close == std::string::npos ? std::string() : answer.substr(open + 1, close - open - 1);
}

// A bare client's handle for one run: the plug-in's headers, one keep-alive connection to
// `url`, each answer into `answer`.
class BareHandle {
public:
    BareHandle(const std::string& url, const std::string& caFile, std::string& answer) : curl_(curl_easy_init()) {
        if (!curl_) return;
        headers_ = curl_slist_append(headers_, "Accept: application/json");
        headers_ = curl_slist_append(headers_, "Content-Type: application/x-www-form-urlencoded");
        headers_ = curl_slist_append(headers_, "Expect:");
        curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, headers_);
        curl_easy_setopt(curl_, CURLOPT_CAINFO, caFile.c_str());
        curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, collect);
        curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &answer);
    }
    ~BareHandle() {
        if (curl_) curl_easy_cleanup(curl_);
        curl_slist_free_all(headers_);
    }
    BareHandle(const BareHandle&) = delete;
    BareHandle& operator=(const BareHandle&) = delete;

    CURL* get() const { return curl_; }
    // Sends one body as the recorded method; the HTTP status, or 0 without an answer.
    long send(const std::string& method, const std::string& body) {
        curl_easy_setopt(curl_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
        curl_easy_setopt(curl_, CURLOPT_POSTFIELDS, body.c_str());
        curl_easy_setopt(curl_, CURLOPT_CUSTOMREQUEST, method == "POST" ? nullptr : method.c_str());
        long status = 0;
        if (curl_easy_perform(curl_) == CURLE_OK) curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &status);
        return status;
    }

private:
    CURL* curl_;
    curl_slist* headers_ = nullptr;
};

// One run of the bare client: a new handle (so one TLS handshake, as the plug-in makes one
// per entry call), every exchange in order over its one connection. CPU time of this thread.
bool replayOnce(const std::string& url, const std::string& caFile, const std::vector<Exchange>& exchanges,
                bool paced, double& cpuNs, std::string& error) {
    std::string answer;
    Pace pace(paced);
    const long long start = threadCpuNs();
    BareHandle client(url, caFile, answer);
    if (!client.get()) return error = "no libcurl handle", false;
    bool ok = true;
    for (const Exchange& e : exchanges) {
        pace.before(e);
        answer.clear();
        if (client.send(e.method, e.body) == 0 || answer.size() != e.answer.size()) {
            ok = false;
            error = "the replay of a " + e.method + " request got another answer";
            break;
        }
    }
    cpuNs = static_cast<double>(threadCpuNs() - start - pace.waitedNs());
    return ok;
}

// The same run through the platform's HTTP client (ZYLibCurl), as the plug-in's transport
// drives it: what the platform adds to libcurl, apart from anything the plug-in does.
bool replayPlatformOnce(const std::string& url, const std::vector<Exchange>& exchanges, bool paced, double& cpuNs,
                        std::string& error) {
    Pace pace(paced);
    const long long start = threadCpuNs();
    // Inside a settings scope, as every entry call of the plug-in runs.
    ZYPlatformSettingsScope scope;
    ZYLibCurl client;
    bool ok = client.ZYLibCurlInit("Content-Type: application/x-www-form-urlencoded", true, false, nullptr);
    for (const Exchange& e : exchanges) {
        if (!ok) break;
        pace.before(e);
        client.ZYLibCurlFreeHttpHeaderList();
        client.ZYLibCurlAppendHeader(ZY_HTTP_HDR_GENERIC, "Accept: application/json");
        client.ZYLibCurlSendHttpReq(e.method == "PUT" ? ZY_HTTP_REQ_PUT : ZY_HTTP_REQ_POST, url.c_str(), e.body.data(),
                                    e.body.size(), false, nullptr);
        size_t length = 0;
        client.GetHttpResponse(length, false);
        if (length != e.answer.size()) {
            ok = false;
            error = "the platform client's replay of a " + e.method + " request got another answer";
        }
    }
    cpuNs = static_cast<double>(threadCpuNs() - start - pace.waitedNs());
    return ok;
}

// The median CPU time of `runs` replays of the server's exchanges, one way (paced or not,
// bare or through the platform's client), in nanoseconds; false (and `error`) on a failed run.
bool medianReplayNs(ReplayServer& server, const std::string& caFile, const std::vector<Exchange>& exchanges,
                    int runs, bool paced, bool platform, double& medianNs, std::string& error) {
    std::vector<double> spent;
    for (int run = 0; run < runs; ++run) {
        server.rewind(paced);
        double cpuNs = 0;
        const bool ok = platform ? replayPlatformOnce(server.url(), exchanges, paced, cpuNs, error)
                                 : replayOnce(server.url(), caFile, exchanges, paced, cpuNs, error);
        if (!ok) return false;
        spent.push_back(cpuNs);
    }
    std::sort(spent.begin(), spent.end());
    medianNs = spent[spent.size() / 2];
    return true;
}

}  // namespace

ReplayCpu replayCpuUsPerRequest(const BenchSim& sim, const std::vector<Exchange>& exchanges, int runs,
                                std::string& error) {
    if (exchanges.empty()) return {};
    ReplayServer server(sim.identity(), exchanges);
    if (server.port() <= 0) {
        error = "the replay server did not start";
        return {};
    }
    double bareNs = 0, instantNs = 0, platformNs = 0;
    if (!medianReplayNs(server, sim.caFile(), exchanges, runs, true, false, bareNs, error) ||
        !medianReplayNs(server, sim.caFile(), exchanges, runs, false, false, instantNs, error) ||
        !medianReplayNs(server, sim.caFile(), exchanges, runs, true, true, platformNs, error))
        return {};
    if (server.mismatches() > 0) {
        error = std::to_string(server.mismatches()) + " replayed requests differed from the recorded ones";
        return {};
    }
    const double perRequestUs = 1000.0 * static_cast<double>(exchanges.size());
    return {bareNs / perRequestUs, instantNs / perRequestUs, platformNs / perRequestUs};
}

double replayOnSimCpuUsPerRequest(const BenchSim& sim, const std::vector<Exchange>& exchanges, int runs,
                                  std::string& error) {
    if (exchanges.empty()) return 0;
    const std::string recordedSession = sessionIn(exchanges.front().answer);
    if (recordedSession.empty()) {
        error = "the call's first exchange is not a login";
        return 0;
    }
    const std::string url = sim.url(true) + kRestPath;
    std::vector<double> perRequest;
    for (int run = 0; run < runs; ++run) {
        std::string answer, session, body;
        const long long start = threadCpuNs();
        BareHandle client(url, sim.caFile(), answer);
        if (!client.get()) return error = "no libcurl handle", 0;
        for (const Exchange& e : exchanges) {
            body = e.body;
            if (!session.empty())
                for (size_t at = body.find(recordedSession); at != std::string::npos;
                     at = body.find(recordedSession, at + session.size()))
                    body.replace(at, recordedSession.size(), session);
            answer.clear();
            if (client.send(e.method, body) != e.http) {
                error = "the replay to the simulator of a " + e.method + " request got another HTTP status";
                return 0;
            }
            if (session.empty()) session = sessionIn(answer);
        }
        perRequest.push_back(static_cast<double>(threadCpuNs() - start) / 1000.0 /
                             static_cast<double>(exchanges.size()));
    }
    std::sort(perRequest.begin(), perRequest.end());
    return perRequest[perRequest.size() / 2];
}

double lunTableReceiveMs(const BenchSim& sim, const std::vector<std::string>& answers, std::string& error) {
    // The bodies are not what is measured: one short stand-in body for every exchange.
    constexpr const char* kBody = "request=%7Btype%3AShowTarget%7D";
    std::vector<Exchange> exchanges;
    exchanges.reserve(answers.size());
    for (const std::string& answer : answers) exchanges.push_back({"POST", kBody, answer, 200, 0, 0});
    if (exchanges.empty()) return 0;
    ReplayServer server(sim.identity(), exchanges);
    if (server.port() <= 0) {
        error = "the replay server did not start";
        return 0;
    }
    double spentNs = 0;
    if (!medianReplayNs(server, sim.caFile(), exchanges, kReplayRuns, false, false, spentNs, error)) return 0;
    if (server.mismatches() > 0) {
        error = "the LUN tables' replay got requests it did not expect";
        return 0;
    }
    return spentNs / 1e6;
}

double lunTableReadMs(const std::vector<std::string>& answers, const std::string& proxy) {
    using namespace ZYKorvanCommon;
    // The unmap's reader on a context of its own, as the transport leaves each answer. It looks
    // at every row whatever the LUN it is asked for, so one that is in no table costs the same.
    KrvnCommonCtx ctx(nullptr);
    KrvnCommonUtils utils(&ctx);
    long long spent = 0;
    std::string target;
    size_t rows = 0;
    for (const std::string& answer : answers) {
        ZYSnapRESTAPI::keepAnswer(answer.data(), answer.size(), ctx.restResponse);
        const long long start = threadCpuNs();
        utils.processFindSCSITargetOfLun(proxy, "", target, rows);
        spent += threadCpuNs() - start;
    }
    return static_cast<double>(spent) / 1e6;
}

}  // namespace krvnbench
