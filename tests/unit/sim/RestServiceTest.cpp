#include <chrono>
#include <thread>

#include "SimTestClient.h"

using korvansim::Json;
using krvntest::SimHarness;
using simtest::isOk;
using simtest::SimClient;

namespace {

const std::string kIqn = "iqn.1994-05.com.redhat:host1";

Json seedWith(const std::function<void(Json&)>& change) {
    Json seed = SimHarness::defaultSeed(3);
    change(seed);
    return seed;
}

TEST(SimRest, LoginOpensTheSessionEveryOtherRequestNeedsAndRequestsAreCounted) {
    SimHarness sim(2);
    SimClient c(sim);
    EXPECT_EQ(c.login("admin", "wrong")["message"], korvansim::sentence::kAuthFailed);
    EXPECT_EQ(c.http, 401);
    Json good = c.login("admin", "secret")["result"];
    EXPECT_NE(good["sessionId"], c.sessionId) << "each login gets its own session";
    good.erase("sessionId");
    EXPECT_EQ(good, Json({{"userName", "admin"}, {"primaryTenant", "default"}, {"roles", {{"default", "admin"}}}}));

    EXPECT_TRUE(isOk(c.send("ListVirtualDisks")));
    EXPECT_EQ(c.raw("POST", "request={type:ListVirtualDisks}")["message"], korvansim::sentence::kInvalidSession);
    EXPECT_EQ(c.http, 401);
    EXPECT_TRUE(isOk(c.send("Logout")));
    EXPECT_FALSE(isOk(c.send("ListVirtualDisks")));
    EXPECT_EQ(c.http, 401) << "a closed session is refused";
    c.raw("POST", "nonsense");

    EXPECT_EQ(sim.counters()["requests"],
              Json({{"Login", 3}, {"ListVirtualDisks", 3}, {"Logout", 1}, {"(unparsed)", 1}}));
    EXPECT_EQ(sim.counters()["rest"], 8);
    sim.sim().reset();
    EXPECT_EQ(sim.counters()["rest"], 0);
}

TEST(SimRest, EachRequestTypeTakesOnlyItsOwnMethod) {
    SimHarness sim(2);
    SimClient c(sim);
    const std::pair<const char*, const char*> methods[] = {{"MakeSnapshot", "PUT"},
                                                           {"CloneSnapshot", "PUT"},
                                                           {"AddVirtualDisk", "PUT"},
                                                           {"ListVirtualDisks", "POST"},
                                                           {"DeleteVDisk", "POST"}};
    for (const auto& [type, method] : methods) {
        Json wrong = c.send(type, "virtualDisks:['vol1'], name:'vol9'", std::string(method) == "PUT" ? "POST" : "PUT");
        EXPECT_EQ(c.http, 405) << type;
        EXPECT_EQ(wrong["type"], type);
        EXPECT_NE(wrong["message"].get<std::string>().find(method), std::string::npos) << wrong;
    }
    EXPECT_EQ(sim.state()["vdisks"].size(), 2u) << "a refused request changes nothing";
    EXPECT_TRUE(sim.vdisk("vol1")["snapshots"].empty());
}

TEST(SimRest, VDiskQueriesAnswerWithDiskObjectsAndRefusalsWithTheClusterSentences) {
    // vol1 has a snapshot and is exposed on sp1, vol2 is marked for delete, vol3 is plain.
    SimHarness sim(seedWith([](Json& s) {
        s["vdisks"][0]["snapshots"] = {"vol1$snap$000001"};
        s["vdisks"][0]["exposures"] = {{{"proxy", "sp1"}}};
        s["vdisks"][1]["markedForDelete"] = true;
    }));
    SimClient c(sim);
    Json vol1 = c.send("ListVirtualDisks")["result"]["disks"][0];
    EXPECT_EQ(vol1["vDiskName"], "vol1");
    EXPECT_EQ(vol1["isClone"], false);
    int64_t serial = vol1["scsiSerialNumber"].get<int64_t>();
    EXPECT_GT(serial, int64_t{1} << 53) << "serials must not survive a trip through a double";
    EXPECT_EQ(c.disk("vol1")["scsiSerialNumber"], serial);
    EXPECT_EQ(c.send("GetVirtualDiskByScsiSn", "scsiSn:'" + std::to_string(serial) + "'")["result"]["vDiskName"],
              "vol1");

    const std::string ghost = "Vdisk ghost couldn't be found", noSnap = "Invalid snapshot value entered";
    const std::string refusals[][4] = {
        // type, params, where in the answer, what
        {"VirtualDiskDetails", "virtualDisk:'ghost'", "/message", ghost},
        {"VirtualDiskDetails", "virtualDisk:'vol2'", "/message", "VDisk is marked for delete :vol2"},
        {"VirtualDiskDetails", "virtualDisk:['vol1']", "/message", "Invalid or missing parameter [virtualDisk]"},
        {"GetVirtualDiskByScsiSn", "scsiSn:'12345'", "/message", "Unable to find virtual disk with scsi sn: 12345"},
        {"GetVirtualDiskByScsiSn", "scsiSn:'12x'", "/message", "Unable to find virtual disk with scsi sn: 12x"},
        {"ListSnapshots", "virtualDisk:'ghost'", "/message", ghost},
        {"DeleteSnapshot", "snapshotName:'vol1$snap$9'", "/message", noSnap},
        {"RevertToSnapshot", "snapshotName:'vol1$snap$9'", "/message", noSnap},
        {"ListClonesForSnapshot", "snapshotName:'vol1$snap$9'", "/message", noSnap},
        {"MakeSnapshot", "virtualDisks:['vol1','ghost']", "/result/1/message", ghost},
        {"CloneSnapshot", "name:'vol3', clonedSnapshotName:'vol1$snap$000001'", "/result/0/message",
         "vol3 vDisk has already been created"},
        {"AddVirtualDisk", "name:'vol3', size:{unit:'GB', value:1}", "/result/0/message",
         "vol3 vDisk has already been created"},
        {"AddVirtualDisk", "name:'x', size:{unit:'PB', value:1}", "/status", "error"},
        {"ResizeDisks", "virtualDisks:['vol1','ghost'], size:{unit:'GB', value:1}", "/result/0/message",
         "Shrinking of virtual disk is not supported"},
        {"ResizeDisks", "virtualDisks:['vol1','ghost'], size:{unit:'GB', value:1}", "/result/1/message", ghost},
        {"DeleteVDisk", "virtualDisks:['ghost']", "/result/0/message", ghost},
        {"AddLun", "virtualDisks:['vol1'], targets:['sp1','sp9']", "/result/0/targets/0/message",
         " is already associated with the host sp1"},
        {"AddLun", "virtualDisks:['vol1'], targets:['sp1','sp9']", "/result/0/targets/1/message",
         "Storage proxy sp9 couldn't be found"},
        {"AddLun", "virtualDisks:['ghost'], targets:['sp1']", "/result/0/message", ghost},
        {"UnmapLun", "virtualDisk:'vol3', target:'sp1'", "/message",
         "vDisk:vol3 is currently not mapped to any controllers(s)"},
        {"PersistACLAccess", "virtualDisks:['vol3'], host:'sp1', address:'" + kIqn + "', type:iqn", "/result/0/status",
         "error"},
        {"GetACLInformation", "virtualDisk:'ghost'", "/message", ghost},
        {"ShowTarget", "host:'sp9', protocols:'block'", "/status", "error"},
    };
    for (const auto& [type, params, where, what] : refusals) {
        Json answer = c.send(type, params);
        EXPECT_EQ(c.http, 200) << type << " " << params;
        EXPECT_EQ(answer.value(Json::json_pointer(where), ""), what) << type << " " << params;
    }
    EXPECT_EQ(c.disk("vol1")["sizeInBytes"], 10ull << 30) << "a refused shrink changes nothing";
    EXPECT_EQ(sim.state()["vdisks"].size(), 3u);
}

TEST(SimRest, SnapshotsAreNamedByTheClusterAndCanBeDeletedAndReverted) {
    SimHarness sim(seedWith([](Json& s) { s["vdisks"][1]["snapshots"] = {"vol2$snap$000002"}; }));
    SimClient c(sim);
    Json made = c.send("MakeSnapshot", "virtualDisks:['vol1','vol2']")["result"];
    std::string snap1 = made[0]["snapshotName"], snap2 = made[1]["snapshotName"];
    EXPECT_EQ(made[0]["status"], "ok");
    EXPECT_EQ(made[0]["name"], "vol1");
    EXPECT_EQ(snap1.rfind("vol1$snap$", 0), 0u) << snap1;
    EXPECT_EQ(snap2.rfind("vol2$snap$", 0), 0u) << snap2;
    EXPECT_NE(snap2, "vol2$snap$000002") << "a seeded name is not given again";
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
    EXPECT_EQ(sim.vdisk("vol1")["snapshots"].size(), 1u);
    EXPECT_EQ(sim.vdisk("vol2")["snapshots"].size(), 2u);
}

TEST(SimRest, ClonesAreNewVDisksThatUnfreezeAfterReadsOrTime) {
    // {unfreeze after reads, unfreeze delay ms, detail reads that still see the clone frozen}
    const int cases[][3] = {{1, 0, 1}, {3, 0, 3}, {0, 0, 0}, {1000, 1, 0}};
    for (const auto& [reads, delayMs, frozenReads] : cases) {
        SCOPED_TRACE(std::to_string(reads) + "/" + std::to_string(delayMs));
        SimHarness sim(seedWith([&](Json& s) {
            s["cluster"]["unfreezeAfterReads"] = reads;
            s["cluster"]["unfreezeDelayMs"] = delayMs;
            s["vdisks"][2]["frozen"] = true;
        }));
        SimClient c(sim);
        for (int read = 0; reads == 0 && read < 3; ++read)
            EXPECT_TRUE(c.disk("vol3")["frozen"].get<bool>()) << "a seeded freeze with no trigger set stays";
        std::string snap = c.send("MakeSnapshot", "virtualDisks:['vol1']")["result"][0]["snapshotName"];
        Json made = c.send("CloneSnapshot", "name:'clone1', clonedSnapshotName:'" + snap + "'")["result"][0];
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
        // Listed in name order, and no longer once deleted.
        c.send("CloneSnapshot", "name:'clone0', clonedSnapshotName:'" + snap + "'");
        EXPECT_EQ(c.send("ListClonesForSnapshot", "snapshotName:'" + snap + "'")["result"].size(), 2u);
        EXPECT_EQ(c.send("ListClonesForSnapshot", "snapshotName:'" + snap + "'")["result"][0]["name"], "clone0");
        c.send("DeleteVDisk", "virtualDisks:['clone1']");
        EXPECT_EQ(c.send("ListClonesForSnapshot", "snapshotName:'" + snap + "'")["result"],
                  Json::array({{{"name", "clone0"}, {"baseDisk", "vol1"}}}));
    }
}

TEST(SimRest, ExposureTargetsAndAccessListsFollowTheRequests) {
    SimHarness sim(2);
    SimClient c(sim);
    EXPECT_EQ(c.send("AddLun", "virtualDisks:['vol1'], targets:['sp1'], readonly:false")["result"][0],
              Json({{"status", "ok"},
                    {"name", "vol1"},
                    {"message", ""},
                    {"targets", {{{"status", "ok"}, {"name", "sp1"}, {"message", ""}}}}}));
    const std::string showTarget = "host:'sp1', protocols:'block'";
    const std::string serial = std::to_string(c.disk("vol1")["scsiSerialNumber"].get<int64_t>());
    EXPECT_EQ(c.send("ShowTarget", showTarget)["result"]["Lun Information"],
              Json::array({{{"Lun Id", "vol1"},
                            {"Target", "iqn.2020-01.com.korvan:sp1:vol1"},
                            {"SCSI SN", serial},
                            {"Online", "Yes"}}}));
    EXPECT_EQ(c.disk("vol1")["targetLocations"], Json::array({"sp1:3260"}));

    auto acl = [&] { return c.send("GetACLInformation", "virtualDisk:'vol1'")["result"]; };
    const Json noInitiators = Json::parse(R"([{"host":"sp1","initiator":[]}])");
    EXPECT_EQ(acl(), noInitiators);
    for (int i = 0; i < 2; ++i)
        EXPECT_TRUE(
            isOk(c.send("PersistACLAccess", "virtualDisks:['vol1'], host:'sp1', address:'" + kIqn + "', type:iqn")));
    EXPECT_EQ(acl()[0]["initiator"], Json::array({{{"ip", kIqn}, {"name", kIqn}}})) << "granted once";
    EXPECT_TRUE(isOk(c.send("RemoveACLAccess", "virtualDisk:'vol1', host:'sp1', address:['" + kIqn + "']")));
    EXPECT_EQ(acl(), noInitiators);
    EXPECT_TRUE(isOk(c.send("UnmapLun", "virtualDisk:'vol1', target:'sp1'")));
    EXPECT_EQ(acl(), Json::array());
    EXPECT_TRUE(c.send("ShowTarget", showTarget)["result"]["Lun Information"].empty());
}

// The LUN table is written without the JSON library, for speed: it must still be the bytes the
// library writes, whatever the names hold.
TEST(SimRest, TheLunTableIsWhatTheJsonLibraryWritesWhateverTheNamesHold) {
    SimHarness sim(1);
    SimClient c(sim);
    const std::string odd = "q\"x\xff\xc3\xa9";  // a quote, a byte that is not UTF-8, an accented letter
    ASSERT_TRUE(isOk(c.send("AddVirtualDisk", "name:'" + odd + "', size:{unit:'GB', value:1}")));
    for (const std::string& name : {std::string("vol1"), odd})
        ASSERT_TRUE(isOk(c.send("AddLun", "virtualDisks:['" + name + "'], targets:['sp1']"))) << name;
    httplib::Result r = c.post("ShowTarget", "host:'sp1'");
    ASSERT_TRUE(r);
    const Json answer = Json::parse(r->body, nullptr, false);
    ASSERT_FALSE(answer.is_discarded()) << r->body;
    EXPECT_EQ(korvansim::jsonText(answer), r->body);
    const Json& rows = answer["result"]["Lun Information"];
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0]["Lun Id"], "q\"x\xef\xbf\xbd\xc3\xa9") << "the odd name sorts first, its stray byte replaced";
    EXPECT_EQ(rows[1]["Target"], "iqn.2020-01.com.korvan:sp1:vol1");
}

TEST(SimRest, DiskAdministrationCreatesResizesAndDeletes) {
    SimHarness sim(2);
    SimClient c(sim);
    EXPECT_EQ(c.send("AddVirtualDisk",
                     "name:'newdisk', size:{unit:'GB', value:2}, diskType:BLOCK, compressed:true, "
                     "blockSize:512, replicationFactor:2, encryption:true")["result"][0],
              Json({{"status", "ok"}, {"name", "newdisk"}, {"message", ""}}));
    Json d = c.disk("newdisk");
    for (const auto& [key, value] : {std::pair<const char*, Json>{"sizeInBytes", 2ull << 30},
                                     {"blockSize", 512},
                                     {"replicationFactor", 2},
                                     {"compressed", true},
                                     {"encryption", true}})
        EXPECT_EQ(d[key], value) << key;
    EXPECT_EQ(c.send("ResizeDisks", "virtualDisks:['newdisk'], size:{unit:'GB', value:3.5}")["result"][0]["status"],
              "ok");
    EXPECT_EQ(c.disk("newdisk")["sizeInBytes"], static_cast<uint64_t>(3.5 * (1ull << 30)));

    // A deleted source takes its snapshots along; its clone stays.
    std::string snap = c.send("MakeSnapshot", "virtualDisks:['newdisk']")["result"][0]["snapshotName"];
    ASSERT_TRUE(isOk(c.send("CloneSnapshot", "name:'c1', clonedSnapshotName:'" + snap + "'")));
    EXPECT_EQ(c.send("DeleteVDisk", "virtualDisks:['newdisk']")["result"][0]["status"], "ok");
    EXPECT_EQ(c.send("VirtualDiskDetails", "virtualDisk:'newdisk'")["message"], "Vdisk newdisk couldn't be found");
    EXPECT_EQ(c.send("DeleteSnapshot", "snapshotName:'" + snap + "'")["message"], "Invalid snapshot value entered");
    EXPECT_TRUE(isOk(c.send("VirtualDiskDetails", "virtualDisk:'c1'")));
    EXPECT_EQ(c.send("GetClusterSettingInfo")["result"]["clusterNameHash"], SimHarness::kClusterHash);
}

TEST(SimRest, AnyBodyGetsAWellFormedErrorEnvelope) {
    SimHarness sim(2);
    SimClient c(sim);
    const std::string session = ", sessionId:'" + c.sessionId + "'}";
    const std::string valid = "request={type:VirtualDiskDetails, params:{virtualDisk:'vol1'}" + session;
    std::vector<std::string> bodies = {"",
                                       "garbage",
                                       "request=",
                                       "request=[1,2]",
                                       "request={type:5}",
                                       "request={type:NoSuchType" + session,
                                       "request=" + std::string(1 << 20, '{'),
                                       std::string(3 << 20, 'x'),
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
