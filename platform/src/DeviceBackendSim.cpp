// The "sim" device backend: the devices of this host as the cluster simulator models them.
// Each INQUIRY is one GET of /sim/hosts/{host}/inquiry; no other command is supported.
#include <curl/curl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>

#include "CurlGlobal.h"
#include "DeviceBackends.h"
#include "PlatformSettings.h"
#include "SimClient.h"
#include "ThreadClock.h"
#include "ZySimCallTally.h"

namespace ZyPlatform {

namespace {

constexpr int kSimError = 1;
constexpr unsigned char kOpInquiry = 0x12;
constexpr int kInquiryCdbLength = 6;
constexpr const char* kSimulatorUrl = "simulatorUrl";
constexpr const char* kNoSimulator = "[Platform] simulatorUrl is not set";
constexpr const char* kCurlInitFailed = "libcurl global initialisation failed";
constexpr const char* kHttpStatus = "HTTP status ";
constexpr const char* kOnlyInquiry = "only INQUIRY is answered by the sim device ";
constexpr const char* kNoSuchDevice = "no such device ";

std::atomic<long long> g_simCalls{0};
std::atomic<long long> g_simCallNs{0};
thread_local int t_meterDepth = 0;

size_t collect(char* data, size_t size, size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

long positive(const SettingsStore& s, const char* key, long fallback) {
    long v = s.platformInteger(key, fallback);
    return v > 0 ? v : fallback;
}

std::string inquiryPath(const std::string& device, int evpd, int page) {
    return "/sim/hosts/" + simEscape(simHostName()) + "/inquiry?path=" + simEscape(device) +
           "&evpd=" + std::to_string(evpd) + "&page=" + std::to_string(page);
}

class SimDevice : public ZyDevice, public ZyDeviceScsiIface {
public:
    explicit SimDevice(std::string path) : path_(std::move(path)) {}
    std::string GetName() const override { return path_; }
    void* GetInterface(const char* name) override {
        return name && std::strcmp(name, ZY_DEVICE_SCSI_IFACE) == 0 ? static_cast<ZyDeviceScsiIface*>(this) : nullptr;
    }
    int SendCdb(const unsigned char* cdb, int cdbLength, unsigned char* buffer, int bufferLength, int,
                CWqError* error) override {
        SimCallMeter meter;
        if (!cdb || cdbLength < kInquiryCdbLength || cdb[0] != kOpInquiry || !buffer || bufferLength <= 0) {
            if (error) error->Set(kSimError, kOnlyInquiry + path_);
            return -1;
        }
        SimResponse r;
        if (!simRequest(inquiryPath(path_, cdb[1] & 1, cdb[2]), nullptr, r)) {
            if (error) error->Set(kSimError, r.error);
            return -1;
        }
        size_t n = std::min(r.body.size(), static_cast<size_t>(bufferLength));
        std::memcpy(buffer, r.body.data(), n);
        return static_cast<int>(n);
    }

private:
    std::string path_;
};

}  // namespace

SimCallMeter::SimCallMeter() : outermost_(t_meterDepth++ == 0) {
    if (outermost_) startNs_ = threadCpuNs();
}

SimCallMeter::~SimCallMeter() {
    --t_meterDepth;
    if (!outermost_) return;
    g_simCallNs += threadCpuNs() - startNs_;
    ++g_simCalls;
}

SimCallTally simCallTally() {
    SimCallTally tally;
    tally.calls = g_simCalls.load();
    tally.cpuNs = g_simCallNs.load();
    return tally;
}

std::string simEscape(const std::string& text) {
    static const char* kHex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::string simHostName() {
    char name[4096] = {0};
    gethostname(name, sizeof name - 1);
    return name;
}

bool simRequest(const std::string& path, const std::string* jsonBody, SimResponse& out) {
    out = SimResponse();
    if (!curlGlobalReady()) {
        out.error = kCurlInitFailed;
        return false;
    }
    const CurrentSettings current;
    const SettingsStore& settings = *current;
    std::string base = settings.platformText(kSimulatorUrl, "");
    if (base.empty()) {
        out.error = kNoSimulator;
        return false;
    }
    while (!base.empty() && base.back() == '/') base.pop_back();
    std::string url = base + path, caFile = settings.platformText(Setting::kCaFile, "");
    bool verify = settings.platformInteger(Setting::kTlsVerify, 1) != 0;

    CURL* curl = curl_easy_init();
    if (!curl) {
        out.error = "cannot create a libcurl handle";
        return false;
    }
    curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
    char errorText[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT,
                     positive(settings, Setting::kConnectTimeoutSec, Default::kConnectTimeoutSec));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT,
                     positive(settings, Setting::kRequestTimeoutSec, Default::kRequestTimeoutSec));
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, verify ? 1L : 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, verify ? 2L : 0L);
    if (!caFile.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &out.body);
    if (jsonBody) {
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(jsonBody->size()));
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, jsonBody->c_str());
    }
    CURLcode rc = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &out.status);
    curl_easy_cleanup(curl);
    curl_slist_free_all(headers);
    if (rc != CURLE_OK)
        out.error = url + ": " + (errorText[0] ? errorText : curl_easy_strerror(rc));
    else if (out.status != 200)
        out.error = url + ": " + kHttpStatus + std::to_string(out.status) + " " + out.body;
    return out.error.empty();
}

SP<ZyDevice> openSimDevice(const std::string& path, CWqError* error) {
    SimCallMeter meter;
    // A device exists when the simulator answers its standard INQUIRY.
    SimResponse r;
    if (!simRequest(inquiryPath(path, 0, 0), nullptr, r)) {
        if (error) error->Set(kSimError, r.status == 404 ? kNoSuchDevice + ("[" + path + "]") : r.error);
        return nullptr;
    }
    return std::make_shared<SimDevice>(path);
}

}  // namespace ZyPlatform
