#include "ClusterQuery.h"

#include <cstring>

#include <nlohmann/json.hpp>

#include "HostObjects.h"
#include "HostTexts.h"
#include "SimNotation.h"
#include "ZYLibCurl.h"

namespace KrvnHost {

namespace {

using nlohmann::json;

std::string withField(std::string text, const std::string& name, const std::string& value) {
    const std::string field = "{" + name + "}";
    for (size_t at = text.find(field); at != std::string::npos; at = text.find(field, at + value.size()))
        text.replace(at, field.size(), value);
    return text;
}

class RestSession {
public:
    explicit RestSession(const ArrayEntry& array) {
        auto https = array.configInts.find(kCfgSecureConnection);
        bool secure = https != array.configInts.end() && https->second > 0;
        auto port = array.configInts.find(kCfgServerPort);
        int number = port != array.configInts.end() && port->second > 0 ? port->second
                                                                        : (secure ? kRestPortHttps : kRestPortHttp);
        url_ =
            std::string(secure ? "https://" : "http://") + array.controlHost + ":" + std::to_string(number) + kRestPath;
    }

    // The envelope of one exchange; false with *error when there is none to read.
    bool ask(const std::string& request, json* envelope, std::string* error) {
        if (!ready_ && !(ready_ = http_.ZYLibCurlInit(kRestContentType, true, false, nullptr))) {
            *error = http_.GetLastError();
            return false;
        }
        const std::string body = "request=" + korvansim::percentEncode(request);
        http_.ZYLibCurlSendHttpReq(ZY_HTTP_REQ_POST, url_.c_str(), body.c_str(), body.size(), false, nullptr);
        size_t length = 0;
        const char* text = http_.GetHttpResponse(length, false);
        *envelope = json::parse(text ? std::string(text, length) : std::string(), nullptr, false);
        if (envelope->is_object() && envelope->contains("status")) return true;
        *error = url_ + ": " + (http_.GetLastError().empty() ? "no cluster answer" : http_.GetLastError());
        return false;
    }

private:
    ZYLibCurl http_;
    bool ready_ = false;
    std::string url_;
};

bool ok(const json& envelope) { return envelope.value("status", "") == "ok"; }

std::string message(const json& envelope) {
    auto m = envelope.find("message");
    return m != envelope.end() && m->is_string() ? m->get<std::string>() : envelope.dump();
}

const json& result(const json& envelope) {
    static const json none;
    auto r = envelope.find("result");
    return r != envelope.end() ? *r : none;
}

}  // namespace

bool queryDisk(const ArrayEntry& array, const std::string& disk, DiskFacts* facts, std::string* error) {
    *facts = DiskFacts();
    std::string password = decryptStoredPassword(array.storedPassword);
    std::string login =
        withField(withField(withField(kRestLogin, "user", array.user), "password", password), "cluster", array.name);
    explicit_bzero(&password[0], password.size());
    RestSession rest(array);
    json answer;
    bool asked = rest.ask(login, &answer, error);
    explicit_bzero(&login[0], login.size());
    if (!asked) return false;
    if (!ok(answer)) {
        *error = "login refused: " + message(answer);
        return false;
    }
    const json& granted = result(answer);
    const std::string session = granted.is_object() ? granted.value("sessionId", "") : "";
    bool answered = rest.ask(withField(withField(kRestDiskDetails, "disk", disk), "session", session), &answer, error);
    json ignored;
    std::string logoutError;
    rest.ask(withField(kRestLogout, "session", session), &ignored, &logoutError);
    if (!answered) return false;
    if (!ok(answer)) {
        std::string text = message(answer);
        if (text.find(kRestDiskNotFound) != std::string::npos) return true;
        *error = text;
        return false;
    }
    const json& details = result(answer);
    auto size = details.is_object() ? details.find("sizeInBytes") : details.end();
    if (!details.is_object() || size == details.end() || !size->is_number_integer()) {
        *error = "the details of " + disk + " carry no size";
        return false;
    }
    facts->exists = true;
    facts->sizeBytes = size->get<long long>();
    auto block = details.find("blockSize");
    facts->blockSize = block != details.end() && block->is_number_integer() ? block->get<long>() : 0;
    return true;
}

}  // namespace KrvnHost
