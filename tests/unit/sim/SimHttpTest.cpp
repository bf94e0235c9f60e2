#include <chrono>
#include <future>
#include <thread>

#include "SimTestClient.h"

using korvansim::Json;
using krvntest::SimHarness;
using simtest::SimClient;

namespace {

// One exchange with the control API under /sim/, which must answer `status`.
Json control(SimHarness& sim, const std::string& method, const std::string& path, const Json& body, int status) {
    httplib::Client c("127.0.0.1", sim.port());
    auto r = method == "GET"      ? c.Get(path)
             : method == "DELETE" ? c.Delete(path)
                                  : c.Post(path, body.dump(), "application/json");
    EXPECT_TRUE(r && r->status == status) << method << " " << path << ": " << (r ? r->body : "no answer");
    return r ? Json::parse(r->body, nullptr, false) : Json();
}

TEST(SimHttp, EachFaultKindReshapesTheNextAnswerOfItsTypeOnly) {
    SimHarness sim(1);
    ASSERT_TRUE(sim.ok()) << sim.error();
    struct Case {
        Json fault;
        int http;  // 0: no answer at all
        bool (*answer)(const Json&);
    };
    const Case cases[] = {
        {{{"kind", "drop"}}, 0, nullptr},
        {{{"kind", "status"}, {"status", 503}, {"message", "busy"}},
         503,
         [](const Json& j) { return j.is_object() && j["message"] == "busy"; }},
        {{{"kind", "notjson"}}, 200, [](const Json& j) { return j.is_discarded(); }},
        {{{"kind", "wrongtype"}},
         200,
         [](const Json& j) { return j.is_object() && j["status"] == "ok" && j["type"] != "ListVirtualDisks"; }},
        {{{"kind", "wrongshape"}}, 200, [](const Json& j) { return j.is_object() && j["result"].is_array(); }},
        {{{"kind", "message"}, {"message", " No more data to read"}},
         200,
         [](const Json& j) {
             return j.is_object() && j["status"] == "error" && j["message"] == " No more data to read";
         }},
        {{{"kind", "latency"}, {"latencyMs", 60}},
         200,
         [](const Json& j) { return j.is_object() && j["result"]["disks"].is_array(); }},
    };
    for (const auto& k : cases) {
        Json fault = k.fault;
        fault["type"] = "ListVirtualDisks";
        SCOPED_TRACE(fault.dump());
        ASSERT_TRUE(sim.fault(fault)) << sim.error();
        ASSERT_TRUE(sim.fault({{"type", "VirtualDiskDetails"}, {"kind", fault["kind"]}}));
        SimClient c(sim);  // a dropped connection is not reused
        auto start = std::chrono::steady_clock::now();
        auto r = c.post("ListVirtualDisks");
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(fault.value("latencyMs", 0)));
        EXPECT_EQ(r ? r->status : 0, k.http);
        if (r && k.answer) {
            EXPECT_TRUE(k.answer(Json::parse(r->body, nullptr, false))) << r->body;
        }
        Json next = c.send("ListVirtualDisks");
        EXPECT_EQ(next["status"], "ok") << "one firing only, and not the other type's";
        EXPECT_EQ(next["type"], "ListVirtualDisks");
        sim.clearFaults();
    }
    EXPECT_FALSE(sim.fault({{"type", "X"}, {"kind", "explode"}}));
    EXPECT_FALSE(sim.fault({{"kind", "drop"}}));
    control(sim, "POST", "/sim/faults", {{"type", "Login"}}, 400);
}

TEST(SimHttp, FaultCountsAndAppliedFaults) {
    SimHarness sim(1);
    SimClient c(sim);
    ASSERT_TRUE(sim.fault({{"type", "*"}, {"kind", "message"}, {"message", "m"}, {"count", 2}}));
    EXPECT_EQ(c.send("ListVirtualDisks")["message"], "m");
    EXPECT_EQ(c.send("ShowTarget", "host:'sp1'")["message"], "m");
    EXPECT_EQ(c.send("ShowTarget", "host:'sp1'")["status"], "ok");

    ASSERT_TRUE(sim.fault({{"type", "ShowTarget"}, {"kind", "status"}, {"count", -1}}));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(c.post("ShowTarget", "host:'sp1'")->status, 500);
    control(sim, "DELETE", "/sim/faults", nullptr, 200);
    EXPECT_EQ(c.post("ShowTarget", "host:'sp1'")->status, 200);

    // An applied drop: the cluster made the snapshot, the answer was lost.
    ASSERT_TRUE(sim.fault({{"type", "MakeSnapshot"}, {"kind", "drop"}, {"apply", true}}));
    EXPECT_FALSE(c.post("MakeSnapshot", "virtualDisks:['vol1']"));
    EXPECT_EQ(sim.vdisk("vol1")["snapshots"].size(), 1u);
    EXPECT_EQ(sim.counters()["requests"]["MakeSnapshot"], 1);

    // A fault lets `after` requests through first. A held answer goes as soon as the faults are
    // cleared, its request (not applied) never carried out. The sequence keeps the types' order.
    sim.sim().clearCounters();
    SimClient fresh(sim);
    ASSERT_TRUE(sim.fault({{"type", "*"}, {"kind", "latency"}, {"latencyMs", 600000}, {"apply", false}, {"after", 1}}));
    EXPECT_EQ(fresh.send("ListVirtualDisks")["status"], "ok");
    auto held =
        std::async(std::launch::async, [&fresh] { return fresh.send("MakeSnapshot", "virtualDisks:['vol1']"); });
    ASSERT_TRUE(sim.sim().waitForHeld(1, std::chrono::seconds(10)));
    EXPECT_EQ(sim.state()["held"], 1);
    sim.clearFaults();
    EXPECT_EQ(held.get()["status"], "error");
    EXPECT_EQ(sim.vdisk("vol1")["snapshots"].size(), 1u) << "the held request was not carried out";
    EXPECT_EQ(sim.state()["held"], 0);
    EXPECT_EQ(sim.counters()["sequence"], Json({"Login", "ListVirtualDisks", "MakeSnapshot"}));
}

TEST(SimHttp, KeepsConnectionsAliveAndReadsLargeFormBodies) {
    SimHarness sim(1);
    SimClient c(sim);
    for (int i = 0; i < 12; ++i) ASSERT_EQ(c.post("ListVirtualDisks")->status, 200);
    EXPECT_EQ(sim.counters()["connections"], 1) << "one connection for thirteen requests";
    SimClient other(sim);
    EXPECT_EQ(sim.counters()["connections"], 2);
    EXPECT_EQ(sim.counters()["tlsConnections"], 0) << "plain HTTP only";

    std::string description(100000, 'd');
    auto r = c.post("AddVirtualDisk", "name:'big', size:{unit:'GB', value:1}, description:'" + description + "'");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200) << r->body.substr(0, 200);
    EXPECT_EQ(sim.vdisk("big")["description"], description);

    // Beyond any sane request, or no body at all: an error envelope, and the service stays up.
    EXPECT_EQ(c.raw("POST", std::string((32u << 20) + 1, 'x'))["status"], "error");
    EXPECT_EQ(c.http, 413);
    auto get = httplib::Client("127.0.0.1", sim.port()).Get("/rest/");
    ASSERT_TRUE(get);
    EXPECT_EQ(Json::parse(get->body)["status"], "error");
    EXPECT_EQ(c.post("ListVirtualDisks")->status, 200);
}

TEST(SimHttp, HttpsVerifiesAgainstTheGeneratedCertificate) {
    SimHarness sim(1, true);
    ASSERT_TRUE(sim.ok()) << sim.error();
    ASSERT_GT(sim.httpsPort(), 0);
    const std::string login =
        "request={type:Login, category:UserManagement, params:{userName:'admin', password:'secret', cluster:'x'}}";
    httplib::SSLClient trusting("127.0.0.1", sim.httpsPort()), stranger("127.0.0.1", sim.httpsPort());
    trusting.set_ca_cert_path(sim.caFile().c_str());
    trusting.enable_server_certificate_verification(true);
    stranger.enable_server_certificate_verification(true);
    auto r = trusting.Post("/rest/", login, "application/x-www-form-urlencoded");
    ASSERT_TRUE(r) << httplib::to_string(r.error());
    EXPECT_EQ(Json::parse(r->body)["status"], "ok");
    EXPECT_FALSE(stranger.Post("/rest/", login, "application/x-www-form-urlencoded"));
}

// The iSCSI routes under /sim/iscsi/ are driven by the platform's sim backend in SimBackends.
TEST(SimHttp, ControlApiSeedsResetsAndChangesStateBehindTheClientsBack) {
    SimHarness sim(2);
    const std::string host = "/sim/hosts/" + SimHarness::hostName();
    auto ctl = [&](const std::string& method, const std::string& path, const Json& body = nullptr, int status = 200) {
        return control(sim, method, path, body, status);
    };
    EXPECT_EQ(ctl("GET", host)["iqns"], Json::array({SimHarness::iqn()}));
    EXPECT_EQ(ctl("GET", host + "/devices")["devices"], Json::array({"/dev/sdb", "/dev/sdc"}));
    ctl("GET", "/sim/hosts/nobody", nullptr, 404);
    ctl("GET", host + "/inquiry?path=/dev/sdq", nullptr, 404);
    EXPECT_EQ(ctl("POST", host + "/rescan", Json::object())["devices"].size(), 2u);
    EXPECT_EQ(sim.counters()["san"]["rescan"], 1);
    ctl("POST", "/sim/iscsi/login", {{"portal", "sp1"}}, 400);
    EXPECT_EQ(sim.counters()["san"].value("login", 0), 0) << "a malformed login is refused before it counts";

    SimClient c(sim);
    std::string snap = c.send("MakeSnapshot", "virtualDisks:['vol1']")["result"][0]["snapshotName"];
    ctl("POST", "/sim/admin/deleteSnapshot", {{"name", snap}});
    ctl("POST", "/sim/admin/deleteSnapshot", {{"name", snap}}, 404);
    EXPECT_TRUE(sim.vdisk("vol1")["snapshots"].empty());
    ctl("POST", "/sim/admin/markForDelete", {{"name", "vol2"}});
    EXPECT_EQ(c.send("VirtualDiskDetails", "virtualDisk:'vol2'")["message"], "VDisk is marked for delete :vol2");
    ctl("POST", "/sim/admin/deleteVDisk", {{"name", "vol1"}});
    EXPECT_EQ(c.send("VirtualDiskDetails", "virtualDisk:'vol1'")["message"], "Vdisk vol1 couldn't be found");
    EXPECT_EQ(ctl("POST", "/sim/admin/attach", {{"host", SimHarness::hostName()}, {"vdisk", "vol2"}})["device"],
              "/dev/sdd");
    EXPECT_EQ(ctl("GET", host + "/devices")["devices"].size(), 3u);

    ctl("POST", "/sim/seed", {{"cluster", {{"name", "c"}}}}, 400);
    ctl("POST", "/sim/reset", Json::object());
    EXPECT_EQ(sim.state()["vdisks"].size(), 2u);
    EXPECT_TRUE(sim.vdisk("vol1")["snapshots"].empty());
    EXPECT_EQ(sim.vdisk("vol2")["markedForDelete"], false);
    ctl("POST", "/sim/seed", SimHarness::defaultSeed(3));
    EXPECT_EQ(ctl("GET", "/sim/state")["vdisks"].size(), 3u);
}

// Tests start and stop a simulator per case, many times a second: one stopped the moment it
// starts listening must still stop.
TEST(SimulatorStop, StopRightAfterListeningNeverHangs) {
    auto done = std::make_shared<std::promise<std::string>>();
    std::future<std::string> outcome = done->get_future();
    // Detached, so that a hung stop() fails the test instead of hanging the suite.
    std::thread([done] {
        for (int i = 0; i < 300; ++i) {
            korvansim::Simulator sim;
            std::string message;
            if (!sim.loadSeed(SimHarness::defaultSeed(1), message) || sim.listenHttp("127.0.0.1", 0, message) < 0)
                return done->set_value(message);
            sim.stop();
        }
        done->set_value("");
    }).detach();
    ASSERT_EQ(outcome.wait_for(std::chrono::seconds(60)), std::future_status::ready) << "stop() hung";
    EXPECT_EQ(outcome.get(), "");
}

}  // namespace
