// The round-trip floor: raw libcurl requests to the simulator, shaped as the plug-in's
// transport sends them (a form body, percent-encoded), over one reused connection for HTTP
// and HTTPS, and over a new connection per request as the platform's SAN calls go.
#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "BenchCommon.h"
#include "BenchSim.h"
#include "SimSeed.h"

namespace krvnbench {

namespace {

constexpr int kWarmup = 50;
constexpr int kBatchRequests = 200;

size_t collect(char* data, size_t size, size_t count, void* out) {
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
}

std::string formBody(CURL* curl, const std::string& request) {
    char* escaped = curl_easy_escape(curl, request.c_str(), static_cast<int>(request.size()));
    std::string body = std::string("request=") + (escaped ? escaped : "");
    curl_free(escaped);
    return body;
}

// One libcurl handle kept for every request, as the platform's client keeps its own.
class RawClient {
public:
    RawClient(const std::string& url, const std::string& caFile) : url_(url + "/rest/"), caFile_(caFile) {
        curl_ = curl_easy_init();
        headers_ = curl_slist_append(headers_, "Accept: application/json");
        headers_ = curl_slist_append(headers_, "Content-Type: application/x-www-form-urlencoded");
        headers_ = curl_slist_append(headers_, "Expect:");
    }
    ~RawClient() {
        curl_slist_free_all(headers_);
        if (curl_) curl_easy_cleanup(curl_);
    }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    // Sends one request; a fresh client closes the connection after it.
    bool send(const std::string& request, std::string& answer, bool fresh) {
        if (fresh) {
            curl_easy_cleanup(curl_);
            curl_ = curl_easy_init();
        }
        if (!curl_) return false;
        const std::string body = formBody(curl_, request);
        answer.clear();
        curl_easy_setopt(curl_, CURLOPT_URL, url_.c_str());
        curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, headers_);
        curl_easy_setopt(curl_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
        curl_easy_setopt(curl_, CURLOPT_POSTFIELDS, body.c_str());
        curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, collect);
        curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &answer);
        if (!caFile_.empty()) curl_easy_setopt(curl_, CURLOPT_CAINFO, caFile_.c_str());
        long status = 0;
        bool ok = curl_easy_perform(curl_) == CURLE_OK;
        curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &status);
        return ok && status == 200;
    }

private:
    CURL* curl_ = nullptr;
    curl_slist* headers_ = nullptr;
    std::string url_;
    std::string caFile_;
};

}  // namespace

FloorResult measureFloor(BenchSim& sim, const char* name, bool https, bool fresh, int batches) {
    FloorResult result;
    result.name = name;
    RawClient client(sim.url(https), https ? sim.caFile() : "");
    std::string answer;
    // From before the login, so that the one connection it opens is counted.
    BenchSim::Tally before = sim.tally();
    const std::string login = std::string("{type:Login, category:UserManagement, params:{userName:'") +
                              korvansim::kDefaultUser + "', password:'" + korvansim::kDefaultPassword + "', cluster:'" +
                              korvansim::kDefaultClusterName + "'}}";
    if (!client.send(login, answer, fresh)) {
        std::fprintf(stderr, "krvn-bench: %s login failed\n", name);
        return result;
    }
    Json reply = Json::parse(answer, nullptr, false);
    const std::string session = reply.is_object() ? reply["result"].value("sessionId", "") : "";
    const std::string request = "{type:GetClusterSettingInfo, category:ClusterWatch, sessionId:'" + session + "'}";
    for (int i = 0; i < kWarmup; ++i) client.send(request, answer, fresh);

    std::vector<double> batchMeans;
    for (int b = 0; b < batches; ++b) {
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kBatchRequests; ++i) {
            if (!client.send(request, answer, fresh)) {
                std::fprintf(stderr, "krvn-bench: %s request failed\n", name);
                return result;
            }
        }
        std::chrono::duration<double, std::micro> spent = std::chrono::steady_clock::now() - start;
        batchMeans.push_back(spent.count() / kBatchRequests);
    }
    BenchSim::Tally after = sim.tally();
    std::sort(batchMeans.begin(), batchMeans.end());
    result.usPerRequest = batchMeans[batchMeans.size() / 2];
    result.requestsPerSec = 1e6 / result.usPerRequest;
    result.connections = after.connections - before.connections;
    result.requests = after.requests - before.requests;
    return result;
}

double measureSanFloor(BenchSim& sim, int batches) {
    const std::string url = sim.url(false) + "/sim/hosts/" + korvansim::localHostName();
    std::vector<double> batchMeans;
    std::string answer;
    for (int b = 0; b < batches; ++b) {
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kBatchRequests; ++i) {
            CURL* curl = curl_easy_init();
            if (!curl) return 0;
            answer.clear();
            curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
            curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
            curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
            curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
            long status = 0;
            const bool ok = curl_easy_perform(curl) == CURLE_OK;
            curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
            curl_easy_cleanup(curl);
            if (!ok || status != 200) {
                std::fprintf(stderr, "krvn-bench: SAN floor request failed\n");
                return 0;
            }
        }
        std::chrono::duration<double, std::micro> spent = std::chrono::steady_clock::now() - start;
        batchMeans.push_back(spent.count() / kBatchRequests);
    }
    std::sort(batchMeans.begin(), batchMeans.end());
    return batchMeans[batchMeans.size() / 2];
}

std::vector<FloorResult> runFloor() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    BenchSim sim(korvansim::defaultSeed(korvansim::localHostName(), 1));
    if (!sim.ok()) {
        std::fprintf(stderr, "krvn-bench: simulator: %s\n", sim.error().c_str());
        return {};
    }
    return {measureFloor(sim, "http", false, false, kFloorBatches),
            measureFloor(sim, "https", true, false, kFloorBatches),
            measureFloor(sim, "http-fresh", false, true, kFloorBatches)};
}

}  // namespace krvnbench
