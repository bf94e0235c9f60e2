// KrvnTestSession: a context and its utilities pointed at a ScriptedServer, already logged in.
//
//   ScriptedServer srv; srv.start();
//   KrvnTestSession s(srv);                 // scripts and performs the login, forgets it
//   srv.reply(200, R"({...})");
//   s.utils.rest_getVDiskDetails(disk);
//
// Header-only on purpose: the support library does not link the plug-in's core, the test
// executables that use this do.
#pragma once

#include <string>

#include "KrvnCommonCtx.h"
#include "KrvnCommonUtils.h"
#include "ScriptedServer.h"

namespace krvntest {

constexpr const char* kTestCluster = "clusterA";
constexpr const char* kTestUser = "admin";
constexpr const char* kTestPassword = "s3cret-pw";
constexpr const char* kTestSessionId = "sess-0123456789";

inline std::string loginAnswer(const std::string& sessionId = kTestSessionId) {
    return std::string(R"({"status":"ok","type":"Login","requestId":"r1","result":{"sessionId":")") + sessionId +
           R"(","userName":"admin","primaryTenant":"t0","roles":{"t0":"admin"}}})";
}

// {"status":"ok","type":<type>,"requestId":"q","result":<result>} (no result when empty).
inline std::string okAnswer(const std::string& type, const std::string& result = "") {
    std::string text = R"({"status":"ok","type":")" + type + R"(","requestId":"q")";
    if (!result.empty()) text += R"(,"result":)" + result;
    return text + "}";
}

// A refusal of the request with the cluster's message.
inline std::string errorAnswer(const std::string& type, const std::string& message) {
    return R"({"status":"error","type":")" + type + R"(","requestId":"q","message":")" + message + R"("})";
}

struct KrvnTestSession {
    ZYKorvanCommon::KrvnCommonCtx ctx;
    ZYKorvanCommon::KrvnCommonUtils utils;
    unsigned int loginResult = 1;

    // Points the context at the server; logs in unless login is false (then only the array
    // details are set and the transport is not configured).
    explicit KrvnTestSession(ScriptedServer& srv, bool login = true) : ctx(nullptr), utils(&ctx) {
        auto& d = ctx.arrayDetails;
        d.arrayId = kTestCluster;
        d.controlHostName = "127.0.0.1";
        d.userName = kTestUser;
        d.userPswd = kTestPassword;
        d.arrayConfigs.serverPort = srv.port();
        d.arrayConfigs.useHttps = srv.https();
        d.storageProxy = "sp1";
        d.arrayConfigs.storageProxyList = {"sp1"};
        if (!login) return;
        srv.reply(200, loginAnswer());
        loginResult = utils.rest_connectToArray();
        srv.clearRequests();
    }
};

}  // namespace krvntest
