#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>

#include "SimHarness.h"

using korvansim::Json;
using krvntest::SimHarness;

namespace {

// A plug-in-like client over real HTTP: form bodies in the relaxed notation.
class HttpClient {
public:
    explicit HttpClient(SimHarness& sim) : client_("127.0.0.1", sim.port()) {
        client_.set_keep_alive(true);
        client_.set_read_timeout(5, 0);
        auto r = post("Login", "userName:'admin', password:'secret', cluster:'krvn-cluster'", false);
        if (r) sessionId = Json::parse(r->body, nullptr, false)["result"].value("sessionId", "");
    }
    httplib::Result post(const std::string& type, const std::string& params, bool session = true,
                         const char* method = "POST") {
        std::string body = "request={type:" + type + ", category:Test" +
                           (params.empty() ? "" : ", params:{" + params + "}") +
                           (session ? ", sessionId:'" + sessionId + "'" : "") + "}";
        const char* form = "application/x-www-form-urlencoded";
        return std::string(method) == "PUT" ? client_.Put("/rest/", body, form) : client_.Post("/rest/", body, form);
    }
    Json json(const httplib::Result& r) { return r ? Json::parse(r->body, nullptr, false) : Json(); }
    httplib::Client& raw() { return client_; }
    std::string sessionId;

private:
    httplib::Client client_;
};

Json control(SimHarness& sim, const char* method, const std::string& path, const Json& body, int expectStatus) {
    httplib::Client c("127.0.0.1", sim.port());
    auto r = std::string(method) == "GET"      ? c.Get(path.c_str())
             : std::string(method) == "DELETE" ? c.Delete(path.c_str())
                                               : c.Post(path.c_str(), body.dump(), "application/json");
    EXPECT_TRUE(r) << path;
    if (!r) return nullptr;
    EXPECT_EQ(r->status, expectStatus) << path << " " << r->body;
    return Json::parse(r->body, nullptr, false);
}

TEST(SimHttp, EachFaultKindReshapesTheNextAnswerOfItsTypeOnly) {
    SimHarness sim(1);
    ASSERT_TRUE(sim.ok()) << sim.error();
    HttpClient c(sim);
    ASSERT_FALSE(c.sessionId.empty());
    struct Case {
        Json fault;
        std::function<void(const httplib::Result&, double ms)> check;
    };
    const Case cases[] = {
        {{{"kind", "drop"}}, [](const httplib::Result& r, double) { EXPECT_FALSE(r) << "no answer at all"; }},
        {{{"kind", "status"}, {"status", 503}, {"message", "busy"}},
         [](const httplib::Result& r, double) {
             ASSERT_TRUE(r);
             EXPECT_EQ(r->status, 503);
             EXPECT_EQ(Json::parse(r->body)["message"], "busy");
         }},
        {{{"kind", "notjson"}},
         [](const httplib::Result& r, double) {
             ASSERT_TRUE(r);
             EXPECT_TRUE(Json::parse(r->body, nullptr, false).is_discarded()) << r->body;
         }},
        {{{"kind", "wrongtype"}},
         [](const httplib::Result& r, double) {
             Json j = Json::parse(r->body);
             EXPECT_EQ(j["status"], "ok");
             EXPECT_NE(j["type"], "ListVirtualDisks");
         }},
        {{{"kind", "wrongshape"}},
         [](const httplib::Result& r, double) { EXPECT_TRUE(Json::parse(r->body)["result"].is_array()); }},
        {{{"kind", "message"}, {"message", " No more data to read"}},
         [](const httplib::Result& r, double) {
             Json j = Json::parse(r->body);
             EXPECT_EQ(r->status, 200);
             EXPECT_EQ(j["status"], "error");
             EXPECT_EQ(j["message"], " No more data to read");
         }},
        {{{"kind", "latency"}, {"latencyMs", 60}},
         [](const httplib::Result& r, double ms) {
             EXPECT_GE(ms, 60);
             EXPECT_TRUE(Json::parse(r->body)["result"]["disks"].is_array());
         }},
    };
    for (const auto& k : cases) {
        Json faultJson = k.fault;
        faultJson["type"] = "ListVirtualDisks";
        ASSERT_TRUE(sim.fault(faultJson)) << sim.error();
        ASSERT_TRUE(sim.fault({{"type", "VirtualDiskDetails"}, {"kind", faultJson["kind"]}}));
        HttpClient fresh(sim);  // a dropped connection is not reused
        auto start = std::chrono::steady_clock::now();
        auto r = fresh.post("ListVirtualDisks", "");
        double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        SCOPED_TRACE(faultJson.dump());
        k.check(r, ms);
        Json next = fresh.json(fresh.post("ListVirtualDisks", ""));
        EXPECT_EQ(next["status"], "ok") << "one firing only";
        EXPECT_EQ(next["type"], "ListVirtualDisks");
        sim.clearFaults();
    }
    EXPECT_FALSE(sim.fault({{"type", "X"}, {"kind", "explode"}}));
    EXPECT_FALSE(sim.fault({{"kind", "drop"}}));
}

TEST(SimHttp, FaultCountsAndAppliedFaults) {
    SimHarness sim(1);
    HttpClient c(sim);
    ASSERT_TRUE(sim.fault({{"type", "*"}, {"kind", "message"}, {"message", "m"}, {"count", 2}}));
    EXPECT_EQ(c.json(c.post("ListVirtualDisks", ""))["message"], "m");
    EXPECT_EQ(c.json(c.post("ShowTarget", "host:'sp1'"))["message"], "m");
    EXPECT_EQ(c.json(c.post("ShowTarget", "host:'sp1'"))["status"], "ok");

    ASSERT_TRUE(sim.fault({{"type", "ShowTarget"}, {"kind", "status"}, {"count", -1}}));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(c.post("ShowTarget", "host:'sp1'")->status, 500);
    control(sim, "DELETE", "/sim/faults", nullptr, 200);
    EXPECT_EQ(c.post("ShowTarget", "host:'sp1'")->status, 200);

    // An applied drop: the cluster made the snapshot, the answer was lost.
    ASSERT_TRUE(sim.fault({{"type", "MakeSnapshot"}, {"kind", "drop"}, {"apply", true}}));
    EXPECT_FALSE(c.post("MakeSnapshot", "virtualDisks:['vol1']", true, "PUT"));
    EXPECT_EQ(sim.vdisk("vol1")["snapshots"].size(), 1u);
    EXPECT_EQ(sim.counters()["requests"]["MakeSnapshot"], 1);
}

TEST(SimHttp, KeepsConnectionsAliveAndReadsLargeFormBodies) {
    SimHarness sim(1);
    HttpClient c(sim);
    for (int i = 0; i < 12; ++i) ASSERT_EQ(c.post("ListVirtualDisks", "")->status, 200);
    EXPECT_EQ(sim.counters()["connections"], 1) << "one connection for thirteen requests";
    HttpClient other(sim);
    EXPECT_EQ(sim.counters()["connections"], 2);

    std::string description(100000, 'd');
    auto r = c.post("AddVirtualDisk", "name:'big', size:{unit:'GB', value:1}, description:'" + description + "'", true,
                    "PUT");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200) << r->body.substr(0, 200);
    EXPECT_EQ(sim.vdisk("big")["description"].get<std::string>().size(), description.size());

    // Beyond any sane request: refused with an envelope, and the service stays up.
    auto huge = c.raw().Post("/rest/", std::string((32u << 20) + 1, 'x'), "application/x-www-form-urlencoded");
    ASSERT_TRUE(huge);
    EXPECT_EQ(huge->status, 413);
    EXPECT_EQ(Json::parse(huge->body)["status"], "error");
    auto get = c.raw().Get("/rest/");
    ASSERT_TRUE(get);
    EXPECT_EQ(Json::parse(get->body)["status"], "error");
    EXPECT_EQ(c.post("ListVirtualDisks", "")->status, 200);
}

TEST(SimHttp, HttpsVerifiesAgainstTheGeneratedCertificate) {
    SimHarness sim(1, true);
    ASSERT_TRUE(sim.ok()) << sim.error();
    ASSERT_GT(sim.httpsPort(), 0);
    const std::string login =
        "request={type:Login, category:UserManagement, params:{userName:'admin', password:'secret', cluster:'x'}}";
    httplib::SSLClient trusting("127.0.0.1", sim.httpsPort());
    trusting.set_ca_cert_path(sim.caFile().c_str());
    trusting.enable_server_certificate_verification(true);
    auto r = trusting.Post("/rest/", login, "application/x-www-form-urlencoded");
    ASSERT_TRUE(r) << httplib::to_string(r.error());
    EXPECT_EQ(Json::parse(r->body)["status"], "ok");

    httplib::SSLClient stranger("127.0.0.1", sim.httpsPort());
    stranger.enable_server_certificate_verification(true);
    EXPECT_FALSE(stranger.Post("/rest/", login, "application/x-www-form-urlencoded"));
}

TEST(SimHttp, ControlApiSeedsResetsAndChangesStateBehindTheClientsBack) {
    SimHarness sim(2);
    const std::string host = SimHarness::hostName();
    EXPECT_EQ(control(sim, "GET", "/sim/hosts/" + host, nullptr, 200)["iqns"], Json::array({SimHarness::iqn()}));
    EXPECT_EQ(control(sim, "GET", "/sim/hosts/" + host + "/devices", nullptr, 200)["devices"],
              Json::array({"/dev/sdb", "/dev/sdc"}));
    control(sim, "GET", "/sim/hosts/nobody", nullptr, 404);
    control(sim, "GET", "/sim/hosts/" + host + "/inquiry?path=/dev/sdq", nullptr, 404);
    EXPECT_EQ(control(sim, "POST", "/sim/hosts/" + host + "/rescan", Json::object(), 200)["devices"].size(), 2u);
    EXPECT_EQ(sim.counters()["san"]["rescan"], 1);

    HttpClient c(sim);
    // iSCSI over HTTP: discovery, a refused and an accepted login, the session's device, logout.
    c.post("AddLun", "virtualDisks:['vol2'], targets:['sp1'], readonly:false");
    const std::string target = "iqn.2020-01.com.korvan:sp1:vol2";
    const Json session = {{"host", host}, {"portal", "sp1"}, {"target", target}};
    EXPECT_EQ(control(sim, "POST", "/sim/iscsi/discover", {{"host", host}, {"portal", "sp1"}}, 200)["targets"],
              Json::array({target}));
    control(sim, "POST", "/sim/iscsi/login", session, 403);
    c.post("PersistACLAccess", "virtualDisks:['vol2'], host:'sp1', address:'" + SimHarness::iqn() + "', type:iqn");
    EXPECT_EQ(control(sim, "POST", "/sim/iscsi/login", session, 200)["device"], "/dev/sdd");
    EXPECT_EQ(control(sim, "GET", "/sim/iscsi/device?host=" + host + "&target=" + target, nullptr, 200)["device"],
              "/dev/sdd");
    control(sim, "POST", "/sim/iscsi/logout", session, 200);
    control(sim, "POST", "/sim/iscsi/logout", session, 404);
    control(sim, "POST", "/sim/iscsi/login", {{"portal", "sp1"}}, 400);
    EXPECT_EQ(sim.counters()["san"]["login"], 2) << "a malformed login is refused before it counts";
    std::string snap =
        c.json(c.post("MakeSnapshot", "virtualDisks:['vol1']", true, "PUT"))["result"][0]["snapshotName"];
    control(sim, "POST", "/sim/admin/deleteSnapshot", {{"name", snap}}, 200);
    control(sim, "POST", "/sim/admin/deleteSnapshot", {{"name", snap}}, 404);
    control(sim, "POST", "/sim/admin/markForDelete", {{"name", "vol2"}}, 200);
    EXPECT_EQ(c.json(c.post("VirtualDiskDetails", "virtualDisk:'vol2'"))["message"], "VDisk is marked for delete :vol2");
    control(sim, "POST", "/sim/admin/deleteVDisk", {{"name", "vol1"}}, 200);
    EXPECT_EQ(c.json(c.post("VirtualDiskDetails", "virtualDisk:'vol1'"))["message"], "Vdisk vol1 couldn't be found");
    EXPECT_EQ(control(sim, "POST", "/sim/admin/attach", {{"host", host}, {"vdisk", "vol2"}}, 200)["device"],
              "/dev/sde") << "sdd was the session's and is not given again";
    EXPECT_EQ(control(sim, "GET", "/sim/hosts/" + host + "/devices", nullptr, 200)["devices"].size(), 3u);


    control(sim, "POST", "/sim/seed", {{"cluster", {{"name", "c"}}}}, 400);
    control(sim, "POST", "/sim/faults", {{"type", "Login"}}, 400);
    control(sim, "POST", "/sim/reset", Json::object(), 200);
    EXPECT_EQ(sim.state()["vdisks"].size(), 2u);
    EXPECT_TRUE(sim.vdisk("vol1")["snapshots"].empty());
    EXPECT_EQ(sim.vdisk("vol2")["markedForDelete"], false);

    Json seed = SimHarness::defaultSeed(3);
    control(sim, "POST", "/sim/seed", seed, 200);
    EXPECT_EQ(control(sim, "GET", "/sim/state", nullptr, 200)["vdisks"].size(), 3u);
}

}  // namespace
