// A test client of korvan-sim's REST service, in process (Simulator::rest, no HTTP): builds the
// bodies the way the plug-in's catalogue does and parses the envelopes.
#pragma once

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "SimSeed.h"
#include "Simulator.h"

namespace simtest {

using korvansim::Json;

inline const std::set<std::string>& putTypes() {
    static const std::set<std::string> types = {"MakeSnapshot", "CloneSnapshot", "AddVirtualDisk"};
    return types;
}

class RestClient {
public:
    explicit RestClient(const Json& seed = korvansim::defaultSeed("host1", 2)) {
        std::string message;
        EXPECT_TRUE(sim.loadSeed(seed, message)) << message;
        Json r = login(korvansim::kDefaultUser, korvansim::kDefaultPassword);
        sessionId = r["result"].value("sessionId", "");
    }

    Json login(const std::string& user, const std::string& password) {
        return raw("POST", "request={type:Login, category:UserManagement, params:{userName:'" + user +
                               "', password:'" + password + "', cluster:'" + korvansim::kDefaultClusterName + "'}}");
    }

    // One request of `type` with the params text (without braces), by the type's own method
    // unless one is given.
    Json send(const std::string& type, const std::string& params = "", std::string method = "") {
        if (method.empty()) method = putTypes().count(type) ? "PUT" : "POST";
        std::string body = "request={type:" + type + ", category:Test" +
                           (params.empty() ? "" : ", params:{" + params + "}") + ", sessionId:'" + sessionId + "'}";
        return raw(method, body);
    }

    // The parsed answer; every answer must be an envelope, whatever went in.
    Json raw(const std::string& method, const std::string& body) {
        korvansim::RestReply reply = sim.rest(method, body);
        http = reply.http;
        Json answer = Json::parse(reply.body, nullptr, false);
        EXPECT_TRUE(answer.is_object()) << reply.body;
        for (const char* key : {"status", "type", "requestId", "message", "result"})
            EXPECT_TRUE(answer.is_object() && answer.contains(key)) << key << " missing in " << reply.body;
        return answer;
    }

    Json disk(const std::string& name) { return send("VirtualDiskDetails", "virtualDisk:'" + name + "'")["result"]; }

    korvansim::Simulator sim;
    std::string sessionId;
    int http = 0;
};

inline bool isOk(const Json& answer) { return answer.value("status", "") == "ok"; }

}  // namespace simtest
