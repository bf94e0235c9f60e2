// A client of korvan-sim's REST service over HTTP, writing its bodies the way the plug-in's
// catalogue does: form bodies in the relaxed notation, on one kept-alive connection.
#pragma once

#include <gtest/gtest.h>
#include <httplib.h>

#include <set>
#include <string>

#include "SimHarness.h"

namespace simtest {

using korvansim::Json;
using krvntest::SimHarness;

class SimClient {
public:
    explicit SimClient(SimHarness& sim) : http_("127.0.0.1", sim.port()) {
        http_.set_keep_alive(true);
        http_.set_tcp_nodelay(true);
        http_.set_read_timeout(5, 0);
        sessionId = login(SimHarness::kUser, SimHarness::kPassword)["result"].value("sessionId", "");
    }
    Json login(const std::string& user, const std::string& password) {
        return raw("POST", "request={type:Login, category:UserManagement, params:{userName:'" + user + "', password:'" +
                               password + "', cluster:'" + SimHarness::kClusterName + "'}}");
    }
    // One request of `type` (params without braces), by the type's own method unless one is given.
    httplib::Result post(const std::string& type, const std::string& params = "", std::string method = "") {
        static const std::set<std::string> putTypes = {"MakeSnapshot", "CloneSnapshot", "AddVirtualDisk"};
        if (method.empty()) method = putTypes.count(type) ? "PUT" : "POST";
        return exchange(method, "request={type:" + type + ", category:Test" +
                                    (params.empty() ? "" : ", params:{" + params + "}") + ", sessionId:'" + sessionId +
                                    "'}");
    }
    // The parsed answer, which must be an envelope whatever went in.
    Json send(const std::string& type, const std::string& params = "", const std::string& method = "") {
        return envelope(post(type, params, method));
    }
    // send() of a request that must succeed.
    Json sendOk(const std::string& type, const std::string& params) {
        Json answer = send(type, params);
        EXPECT_TRUE(answer.value("status", "") == "ok") << type << ": " << answer;
        return answer;
    }
    Json raw(const std::string& method, const std::string& body) { return envelope(exchange(method, body)); }
    Json disk(const std::string& name) { return send("VirtualDiskDetails", "virtualDisk:'" + name + "'")["result"]; }

    std::string sessionId;
    int http = 0;  // the HTTP status of the last send() or raw()

private:
    httplib::Result exchange(const std::string& method, const std::string& body) {
        const char* form = "application/x-www-form-urlencoded";
        return method == "PUT" ? http_.Put("/rest/", body, form) : http_.Post("/rest/", body, form);
    }
    Json envelope(const httplib::Result& r) {
        http = r ? r->status : 0;
        Json answer = r ? Json::parse(r->body, nullptr, false) : Json();
        for (const char* key : {"status", "type", "requestId", "message", "result"})
            EXPECT_TRUE(answer.is_object() && answer.contains(key))
                << key << " missing in " << (r ? r->body.substr(0, 200) : "no answer");
        return answer.is_object() ? answer : Json::object();
    }

    httplib::Client http_;
};

inline bool isOk(const Json& answer) { return answer.value("status", "") == "ok"; }

}  // namespace simtest
