#include <chrono>
#include <thread>

#include "SimTestClient.h"

using korvansim::Json;
using simtest::isOk;
using simtest::SimClient;
using krvntest::SimHarness;

namespace {

const std::string kIqn = "iqn.1994-05.com.redhat:host1";

Json seedWith(const std::function<void(Json&)>& change) {
    Json seed = SimHarness::defaultSeed(2);
    change(seed);
    return seed;
}

TEST(SimRest, LoginOpensTheSessionEveryOtherRequestNeedsAndRequestsAreCounted) {
    SimHarness sim(2);
    SimClient c(sim);
    ASSERT_FALSE(c.sessionId.empty());
    Json bad = c.login("admin", "wrong");
    EXPECT_EQ(c.http, 401);
    EXPECT_EQ(bad["status"], "error");
    EXPECT_EQ(bad["message"], korvansim::sentence::kAuthFailed);
    Json good = c.login("admin", "secret")["result"];
    EXPECT_NE(good["sessionId"], c.sessionId) << "each login gets its own session";
    good.erase("sessionId");
    EXPECT_EQ(good, Json({{"userName", "admin"}, {"primaryTenant", "default"}, {"roles", {{"default", "admin"}}}}));

    EXPECT_TRUE(isOk(c.send("ListVirtualDisks")));
    Json noSession = c.raw("POST", "request={type:ListVirtualDisks, category:VirtualDiskManagement}");
    EXPECT_EQ(c.http, 401);
    EXPECT_EQ(noSession["message"], korvansim::sentence::kInvalidSession);
    EXPECT_TRUE(isOk(c.send("Logout")));
    EXPECT_FALSE(isOk(c.send("ListVirtualDisks")));
    EXPECT_EQ(c.http, 401) << "a closed session is refused";
    c.raw("POST", "nonsense");

    Json counters = sim.counters();
    EXPECT_EQ(counters["requests"]["Login"], 3);
    EXPECT_EQ(counters["requests"]["ListVirtualDisks"], 3);
    EXPECT_EQ(counters["requests"]["(unparsed)"], 1);
    EXPECT_EQ(counters["rest"], 8);
    sim.sim().reset();
    EXPECT_EQ(sim.counters()["rest"], 0);
}

TEST(SimRest, EachRequestTypeTakesOnlyItsOwnMethod) {
    SimHarness sim(2);
    SimClient c(sim);
    const std::pair<const char*, const char*> methods[] = {{"MakeSnapshot", "PUT"}, {"CloneSnapshot", "PUT"},
        {"AddVirtualDisk", "PUT"}, {"ListVirtualDisks", "POST"}, {"DeleteVDisk", "POST"}};
    for (const auto& [type, method] : methods) {
        Json wrong = c.send(type, "virtualDisks:['vol1'], name:'vol9'", std::string(method) == "PUT" ? "POST" : "PUT");
        EXPECT_EQ(c.http, 405) << type;
        EXPECT_EQ(wrong["type"], type);
        EXPECT_NE(wrong["message"].get<std::string>().find(method), std::string::npos) << wrong;
    }
    EXPECT_EQ(sim.state()["vdisks"].size(), 2u) << "a refused request changes nothing";
    EXPECT_TRUE(sim.vdisk("vol1")["snapshots"].empty());
}

TEST(SimRest, VDiskQueriesAnswerWithDiskObjectsOrTheClusterSentences) {
    SimHarness sim(2);
    SimClient c(sim);
    Json list = c.send("ListVirtualDisks")["result"]["disks"];
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]["vDiskName"], "vol1");
    EXPECT_EQ(list[0]["isClone"], false);
    int64_t serial = list[0]["scsiSerialNumber"].get<int64_t>();
    EXPECT_GT(serial, int64_t{1} << 53) << "serials must not survive a trip through a double";
    EXPECT_EQ(c.disk("vol1")["scsiSerialNumber"], serial);
    EXPECT_EQ(c.send("GetVirtualDiskByScsiSn", "scsiSn:'" + std::to_string(serial) + "'")["result"]["vDiskName"], "vol1");

    sim.sim().withState([](korvansim::Cluster& cl, korvansim::SanBackend&) { cl.find("vol2")->markedForDelete = true; });
    const std::string refusals[][3] = {
        {"VirtualDiskDetails", "virtualDisk:'ghost'", "Vdisk ghost couldn't be found"},
        {"VirtualDiskDetails", "virtualDisk:'vol2'", "VDisk is marked for delete :vol2"},
        {"GetVirtualDiskByScsiSn", "scsiSn:'12345'", "Unable to find virtual disk with scsi sn: 12345"},
        {"GetVirtualDiskByScsiSn", "scsiSn:'12x'", "Unable to find virtual disk with scsi sn: 12x"},
        {"ListSnapshots", "virtualDisk:'ghost'", "Vdisk ghost couldn't be found"},
        {"VirtualDiskDetails", "virtualDisk:['vol1']", "Invalid or missing parameter [virtualDisk]"},
    };
    for (const auto& [type, params, message] : refusals) {
        Json answer = c.send(type, params);
        EXPECT_EQ(c.http, 200) << params;
        EXPECT_EQ(answer["status"], "error") << params;
        EXPECT_EQ(answer["type"], type);
        EXPECT_EQ(answer["message"], message);
    }
}

TEST(SimRest, SnapshotsAreNamedByTheClusterAndCanBeDeletedAndReverted) {
    SimHarness sim(seedWith([](Json& s) { s["vdisks"][1]["snapshots"] = {"vol2$snap$000002"}; }));
    SimClient c(sim);
    Json made = c.send("MakeSnapshot", "virtualDisks:['vol1','vol2','ghost']")["result"];
    ASSERT_EQ(made.size(), 3u);
    std::string snap1 = made[0]["snapshotName"], snap2 = made[1]["snapshotName"];
    EXPECT_EQ(made[0]["status"], "ok");
    EXPECT_EQ(made[0]["name"], "vol1");
    EXPECT_EQ(snap1.rfind("vol1$snap$", 0), 0u) << snap1;
    EXPECT_EQ(snap2.rfind("vol2$snap$", 0), 0u) << snap2;
    EXPECT_NE(snap2, "vol2$snap$000002") << "a seeded name is not given again";
    EXPECT_EQ(made[2]["message"], "Vdisk ghost couldn't be found");
    EXPECT_NE(c.send("MakeSnapshot", "virtualDisks:['vol1']")["result"][0]["snapshotName"], snap1);
    Json list = c.send("ListSnapshots", "virtualDisk:'vol1'")["result"];
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]["name"], snap1);

    for (const char* type : {"RevertToSnapshot", "DeleteSnapshot"}) {
        Json answer = c.send(type, "snapshotName:'" + snap1 + "'");
        EXPECT_TRUE(isOk(answer)) << type;
        EXPECT_EQ(answer["name"], snap1) << "the name is a top-level member";
    }
    EXPECT_EQ(sim.vdisk("vol1")["revertedTo"], snap1);
    EXPECT_EQ(c.send("ListSnapshots", "virtualDisk:'vol1'")["result"].size(), 1u);
    for (const char* type : {"DeleteSnapshot", "RevertToSnapshot", "ListClonesForSnapshot"})
        EXPECT_EQ(c.send(type, "snapshotName:'" + snap1 + "'")["message"], "Invalid snapshot value entered") << type;
}

TEST(SimRest, ClonesAreNewVDisksThatUnfreezeAfterReadsOrTime) {
    SimHarness frozen(seedWith([](Json& s) {
        s["cluster"]["unfreezeAfterReads"] = 0;
        s["vdisks"][0]["frozen"] = true;
    }));
    SimClient f(frozen);
    for (int read = 0; read < 3; ++read) EXPECT_TRUE(f.disk("vol1")["frozen"].get<bool>()) << "no trigger set";
    // {unfreeze after reads, unfreeze delay ms, detail reads that still see the clone frozen}
    const int cases[][3] = {{1, 0, 1}, {3, 0, 3}, {0, 0, 0}, {1000, 1, 0}};
    for (const auto& [reads, delayMs, frozenReads] : cases) {
        SCOPED_TRACE(std::to_string(reads) + "/" + std::to_string(delayMs));
        SimHarness sim(seedWith([&](Json& s) {
            s["cluster"]["unfreezeAfterReads"] = reads;
            s["cluster"]["unfreezeDelayMs"] = delayMs;
        }));
        SimClient c(sim);
        std::string snap = c.send("MakeSnapshot", "virtualDisks:['vol1']")["result"][0]["snapshotName"];
        const std::string clone = "name:'clone1', clonedSnapshotName:'" + snap + "'";
        Json made = c.send("CloneSnapshot", clone)["result"][0];
        EXPECT_EQ(made["status"], "ok");
        EXPECT_EQ(made["baseDisk"], "vol1");
        if (delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs + 5));
        for (int read = 0; read < frozenReads; ++read) {
            Json d = c.disk("clone1");
            EXPECT_TRUE(d["frozen"].get<bool>()) << "read " << read;
            EXPECT_FALSE(d["freezeReason"].get<std::string>().empty());
        }
        Json d = c.disk("clone1");
        EXPECT_FALSE(d["frozen"].get<bool>());
        EXPECT_TRUE(d["isClone"].get<bool>());
        EXPECT_NE(d["scsiSerialNumber"], c.disk("vol1")["scsiSerialNumber"]);
        EXPECT_EQ(c.send("ListClonesForSnapshot", "snapshotName:'" + snap + "'")["result"],
                  Json::array({{{"name", "clone1"}, {"baseDisk", "vol1"}}}));
        EXPECT_EQ(c.send("CloneSnapshot", clone)["result"][0]["message"], "clone1 vDisk has already been created");
    }
}

TEST(SimRest, ExposureTargetsAndAccessListsFollowTheRequests) {
    SimHarness sim(2);
    SimClient c(sim);
    EXPECT_EQ(c.send("AddLun", "virtualDisks:['vol1'], targets:['sp1'], readonly:false")["result"][0],
              Json({{"status", "ok"}, {"name", "vol1"}, {"message", ""},
                    {"targets", {{{"status", "ok"}, {"name", "sp1"}, {"message", ""}}}}}));
    Json again = c.send("AddLun", "virtualDisks:['vol1','ghost'], targets:['sp1','sp9'], readonly:false")["result"];
    EXPECT_EQ(again[0]["targets"][0]["message"], " is already associated with the host sp1");
    EXPECT_EQ(again[0]["targets"][1]["message"], "Storage proxy sp9 couldn't be found");
    EXPECT_EQ(again[1]["message"], "Vdisk ghost couldn't be found");

    const std::string showTarget = "host:'sp1', protocols:'block'";
    Json rows = c.send("ShowTarget", showTarget)["result"]["Lun Information"];
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0]["Lun Id"], "vol1");
    EXPECT_NE(rows[0]["Target"].get<std::string>().find("sp1"), std::string::npos);
    EXPECT_EQ(rows[0]["SCSI SN"], std::to_string(c.disk("vol1")["scsiSerialNumber"].get<int64_t>()));
    EXPECT_EQ(rows[0]["Online"], "Yes");
    EXPECT_EQ(c.disk("vol1")["targetLocations"], Json::array({"sp1:3260"}));

    auto acl = [&] { return c.send("GetACLInformation", "virtualDisk:'vol1'")["result"]; };
    const Json noInitiators = Json::parse(R"([{"host":"sp1","initiator":[]}])");
    EXPECT_EQ(acl(), noInitiators);
    const std::string grant = "host:'sp1', address:'" + kIqn + "', type:iqn";
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(c.send("PersistACLAccess", "virtualDisks:['vol1'], " + grant)["result"][0]["status"], "ok");
    EXPECT_EQ(acl()[0]["initiator"], Json::array({{{"ip", kIqn}, {"name", kIqn}}})) << "granted once";
    EXPECT_EQ(c.send("PersistACLAccess", "virtualDisks:['vol2'], " + grant)["result"][0]["status"], "error")
        << "vol2 is not exposed on sp1";
    EXPECT_TRUE(isOk(c.send("RemoveACLAccess", "virtualDisk:'vol1', host:'sp1', address:['" + kIqn + "']")));
    EXPECT_EQ(acl(), noInitiators);

    EXPECT_TRUE(isOk(c.send("UnmapLun", "virtualDisk:'vol1', target:'sp1'")));
    EXPECT_EQ(acl(), Json::array());
    EXPECT_TRUE(c.send("ShowTarget", showTarget)["result"]["Lun Information"].empty());
    EXPECT_EQ(c.send("UnmapLun", "virtualDisk:'vol1', target:'sp1'")["message"],
              "vDisk:vol1 is currently not mapped to any controllers(s)");
    EXPECT_EQ(c.send("GetACLInformation", "virtualDisk:'ghost'")["message"], "Vdisk ghost couldn't be found");
    EXPECT_EQ(c.send("ShowTarget", "host:'sp9', protocols:'block'")["status"], "error");
}

TEST(SimRest, DiskAdministrationCreatesResizesAndDeletes) {
    SimHarness sim(2);
    SimClient c(sim);
    const std::string create = "name:'newdisk', size:{unit:'GB', value:2}, diskType:BLOCK, compressed:true, "
                               "blockSize:512, replicationFactor:2, encryption:true";
    EXPECT_EQ(c.send("AddVirtualDisk", create)["result"][0], Json({{"status", "ok"}, {"name", "newdisk"}, {"message", ""}}));
    Json d = c.disk("newdisk");
    EXPECT_EQ(d["sizeInBytes"], 2ull << 30);
    for (const auto& [key, value] : {std::pair<const char*, Json>{"blockSize", 512}, {"replicationFactor", 2},
                                     {"compressed", true}, {"encryption", true}})
        EXPECT_EQ(d[key], value) << key;
    EXPECT_EQ(c.send("AddVirtualDisk", create)["result"][0]["message"], "newdisk vDisk has already been created");
    EXPECT_EQ(c.send("AddVirtualDisk", "name:'x', size:{unit:'PB', value:1}")["status"], "error");

    const auto grownSize = static_cast<uint64_t>(3.5 * (1ull << 30));
    EXPECT_EQ(c.send("ResizeDisks", "virtualDisks:['newdisk'], size:{unit:'GB', value:3.5}")["result"][0]["status"], "ok");
    EXPECT_EQ(c.disk("newdisk")["sizeInBytes"], grownSize);
    Json shrunk = c.send("ResizeDisks", "virtualDisks:['newdisk','ghost'], size:{unit:'GB', value:1}")["result"];
    EXPECT_EQ(shrunk[0]["message"], "Shrinking of virtual disk is not supported");
    EXPECT_EQ(shrunk[1]["message"], "Vdisk ghost couldn't be found");
    EXPECT_EQ(c.disk("newdisk")["sizeInBytes"], grownSize);

    // A deleted source takes its snapshots along; its clone stays.
    std::string snap = c.send("MakeSnapshot", "virtualDisks:['newdisk']")["result"][0]["snapshotName"];
    ASSERT_TRUE(isOk(c.send("CloneSnapshot", "name:'c1', clonedSnapshotName:'" + snap + "'")));
    Json deleted = c.send("DeleteVDisk", "virtualDisks:['newdisk','ghost']")["result"];
    EXPECT_EQ(deleted[0]["status"], "ok");
    EXPECT_EQ(deleted[1]["message"], "Vdisk ghost couldn't be found");
    EXPECT_EQ(c.send("VirtualDiskDetails", "virtualDisk:'newdisk'")["message"], "Vdisk newdisk couldn't be found");
    EXPECT_EQ(c.send("DeleteSnapshot", "snapshotName:'" + snap + "'")["message"], "Invalid snapshot value entered");
    EXPECT_TRUE(isOk(c.send("VirtualDiskDetails", "virtualDisk:'c1'")));
    EXPECT_EQ(c.send("GetClusterSettingInfo")["result"]["clusterNameHash"], SimHarness::kClusterHash);
}

TEST(SimRest, AnyBodyGetsAWellFormedErrorEnvelope) {
    SimHarness sim(2);
    SimClient c(sim);
    const std::string session = ", sessionId:'" + c.sessionId + "'}";
    const std::string valid =
        "request={type:VirtualDiskDetails, category:VirtualDiskManagement, params:{virtualDisk:'vol1'}" + session;
    std::vector<std::string> bodies = {"", "garbage", "request=", "request=[1,2]", "request={type:5}",
                                       "request={type:NoSuchType" + session,
                                       "request=" + std::string(1 << 20, '{'), std::string(3 << 20, 'x'),
                                       "request={type:MakeSnapshot, params:{virtualDisks:5}" + session,
                                       "request={type:AddVirtualDisk, params:{name:'x', size:'big'}" + session,
                                       "request={type:ResizeDisks, params:[]" + session,
                                       std::string("request=\0\xff\xfe", 11)};
    for (size_t cut = 0; cut < valid.size(); cut += 7) bodies.push_back(valid.substr(0, cut));
    for (const auto& body : bodies) {
        for (const char* method : {"POST", "PUT"}) {
            Json answer = c.raw(method, body);
            EXPECT_EQ(answer.value("status", ""), "error") << body.substr(0, 80);
            EXPECT_FALSE(answer.value("message", "").empty()) << body.substr(0, 80);
        }
    }
    EXPECT_TRUE(isOk(c.raw("POST", valid))) << "the service is still up";
}

}  // namespace
