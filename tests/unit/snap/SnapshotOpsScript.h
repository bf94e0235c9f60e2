// Shared by the engine-step tests: cluster answers for a ScriptedServer, readers of the
// requests it recorded, and a snapshot context with its engine logged in to the server.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "FakeSnapHost.h"
#include "KrvnCtx.h"
#include "KrvnTestSession.h"
#include "KrvnUtils.h"
#include "../rest/RestFixture.h"
#include "ScriptedServer.h"

namespace enginetest {

// The cluster's answers are written as the REST client's own tests write them.
using krvntest::errorAnswer;
using krvntest::okAnswer;

inline std::string logoutAnswer() { return okAnswer("Logout"); }

// The request type of a recorded body, e.g. "ListSnapshots".
inline std::string requestType(const krvntest::RecordedRequest& r) {
    size_t at = r.request.find("type:");
    if (at == std::string::npos) return "";
    at += 5;
    return r.request.substr(at, r.request.find_first_of(",}", at) - at);
}

// The quoted value of one parameter of a recorded body ("" when absent).
inline std::string requestParam(const krvntest::RecordedRequest& r, const std::string& key) {
    const std::string marker = key + ":'";
    size_t at = r.request.find(marker);
    if (at == std::string::npos) return "";
    at += marker.size();
    return r.request.substr(at, r.request.find('\'', at) - at);
}

inline std::vector<std::string> requestTypes(const krvntest::ScriptedServer& srv) {
    std::vector<std::string> out;
    for (const auto& r : srv.requests()) out.push_back(requestType(r));
    return out;
}

// "type value" for every request, the value being the first quoted parameter (e.g.
// "ListSnapshots vol1"), for order checks.
inline std::vector<std::string> requestLog(const krvntest::ScriptedServer& srv) {
    std::vector<std::string> out;
    for (const auto& r : srv.requests()) {
        std::string line = requestType(r);
        size_t params = r.request.find("params:{");
        size_t open = params == std::string::npos ? params : r.request.find('\'', params);
        if (open != std::string::npos) line += " " + r.request.substr(open + 1, r.request.find('\'', open + 1) - open - 1);
        out.push_back(line);
    }
    return out;
}

// A snapshot context of the given type over a batch, initialised, with its engine; the array
// record of the first item points at the server. login() logs in as the entry points do.
struct EngineRun {
    std::unique_ptr<ZYSnapKrvn::KrvnCtx> ctx;
    std::unique_ptr<ZYSnapKrvn::KrvnUtils> utils;
    int initResult = -1;

    EngineRun(krvntest::FakeSnapBatch& batch, krvntest::ScriptedServer& srv, int opType) {
        for (size_t i = 0; i < batch.size(); ++i) {
            batch[i].configInts["SMCONFIG_NAME_SERVER_PORT"] = srv.port();
            batch[i].arrayRecord.name = krvntest::kTestCluster;
            batch[i].arrayRecord.user = krvntest::kTestUser;
            batch[i].arrayRecord.encryptedPassword = krvntest::kTestPassword;
        }
        ctx = std::make_unique<ZYSnapKrvn::KrvnCtx>(&batch.os, 0, opType);
        initResult = ctx->initialize(batch.data(), batch.count());
        utils = std::make_unique<ZYSnapKrvn::KrvnUtils>(ctx.get());
    }
    ~EngineRun() {
        utils.reset();   // the engine borrows the context
        ctx.reset();
    }
    unsigned int login(krvntest::ScriptedServer& srv) {
        srv.reply(200, krvntest::loginAnswer());
        unsigned int rc = utils->rest_connectToArray();
        srv.clearRequests();
        return rc;
    }
    ZYSnapKrvn::KrvnSnapObject& object(long long id) { return *ctx->snapItems.at(id); }
};

}  // namespace enginetest
