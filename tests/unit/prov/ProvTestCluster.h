// Shared frame of the provisioning tests: virtual time, a key file, a scripted cluster that
// answers by request type, and a batch of fake host items pointed at it.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "FakeLunHost.h"
#include "KrvnProvCtx.h"
#include "KrvnProvUtils.h"
#include "KrvnTestSession.h"
#include "KrvnTextsProv.h"
#include "LogCapture.h"
#include "ScopedSettings.h"
#include "ScriptedIscsiModule.h"
#include "ScriptedServer.h"

namespace provtest {

using namespace krvntest;
using namespace ZYProvKorvan;

constexpr const char* kClearPassword = "pw-Secret-42";

inline ::testing::AssertionResult has(const std::string& text, const std::string& part) {
    if (text.find(part) != std::string::npos) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "[" << part << "] not in [" << text << "]";
}

// The word after the first "type:" of a request body.
inline std::string requestType(const RecordedRequest& r) {
    size_t at = r.request.find("type:");
    if (at == std::string::npos) return "";
    return r.request.substr(at + 5, r.request.find_first_of(", }", at + 5) - at - 5);
}

// The quoted names of the first "virtualDisks:[...]" of a request body.
inline std::vector<std::string> requestDisks(const RecordedRequest& r) {
    std::vector<std::string> out;
    size_t at = r.request.find("virtualDisks:[");
    if (at == std::string::npos) return out;
    const std::string list = r.request.substr(at + 14, r.request.find(']', at) - at - 14);
    for (size_t q = list.find('\''); q != std::string::npos; q = list.find('\'', q)) {
        size_t close = list.find('\'', q + 1);
        out.push_back(list.substr(q + 1, close - q - 1));
        q = close + 1;
    }
    return out;
}

using TestProvUtils = WithIscsiModule<KrvnProvUtils>;  // takes a scripted iSCSI module

class ProvClusterTest : public ::testing::Test {
protected:
    void SetUp() override {
        settings.set("Platform", "keyFile", key.path());
        settings.set("Platform", "logFile", "/dev/null");  // the capture still sees every line
        ASSERT_TRUE(srv.start());
        srv.setDefault([this](const RecordedRequest& r) { return dispatch(r); });
    }

    // An item pointed at the scripted cluster, with storage proxy sp1.
    FakeLunInfo& addDisk(long id = 0) {
        FakeLunInfo& item = batch.add(id);
        item.storedPassword = key.encrypt(kClearPassword);
        item.configs[ZY_KRVN_PROV_CFG_SERVER_PORT] = std::to_string(srv.port());
        item.configs[ZY_KRVN_PROV_CFG_PROXY_LIST] = "sp1";
        return item;
    }

    // The next answer to a request type (a dropped connection when body is empty); later
    // requests of that type get the default answer.
    void answer(const std::string& type, const std::string& body) {
        std::lock_guard<std::mutex> lock(mutex);
        scripted[type].push_back(body.empty() ? ScriptedReply::dropped() : ScriptedReply{200, body});
    }

    std::vector<std::string> sentTypes() const {
        std::vector<std::string> out;
        for (const auto& r : srv.requests()) out.push_back(requestType(r));
        return out;
    }
    std::vector<RecordedRequest> sent(const std::string& type) const {
        std::vector<RecordedRequest> out;
        for (const auto& r : srv.requests())
            if (requestType(r) == type) out.push_back(r);
        return out;
    }

    ScopedSettings settings;
    TestKeyFile key;
    ScriptedServer srv;
    FakeLunBatch batch;
    LogCapture logs;

private:
    ScriptedReply dispatch(const RecordedRequest& r) {
        const std::string type = requestType(r);
        {
            std::lock_guard<std::mutex> lock(mutex);
            auto& queue = scripted[type];
            if (!queue.empty()) {
                ScriptedReply reply = queue.front();
                queue.pop_front();
                return reply;
            }
        }
        return {200, defaultAnswer(type, r)};
    }

    // Every request succeeds; group requests confirm each disk they name.
    static std::string defaultAnswer(const std::string& type, const RecordedRequest& r) {
        if (type == "Login") return loginAnswer();
        if (type == "Logout" || type == "RemoveACLAccess") return okAnswer(type);
        if (type == "GetClusterSettingInfo") return okAnswer(type, R"({"clusterNameHash":"0x001a2b3c4d5e6f"})");
        if (type == "VirtualDiskDetails") return okAnswer(type, R"({"name":"vd"})");
        if (type == "UnmapLun" || type == "ShowTarget") return okAnswer(type, "{}");
        if (type == "GetACLInformation") return okAnswer(type, "[]");
        std::string elements;
        for (const auto& name : requestDisks(r))
            elements += std::string(elements.empty() ? "" : ",") + R"({"status":"ok","name":")" + name + R"("})";
        return okAnswer(type, "[" + elements + "]");
    }

    std::mutex mutex;
    std::map<std::string, std::deque<ScriptedReply>> scripted;
};

}  // namespace provtest
