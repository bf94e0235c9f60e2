#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "SimTestClient.h"

using korvansim::Json;
using simtest::isOk;
using simtest::RestClient;

namespace {

const std::string kIqn = "iqn.1994-05.com.redhat:host1";

Json seedWith(const std::function<void(Json&)>& change) {
    Json seed = korvansim::defaultSeed("host1", 2);
    change(seed);
    return seed;
}

TEST(SimRest, LoginOpensTheSessionEveryOtherRequestNeeds) {
    RestClient c;
    ASSERT_FALSE(c.sessionId.empty());

    Json bad = c.login("admin", "wrong");
    EXPECT_EQ(c.http, 401);
    EXPECT_FALSE(isOk(bad));
    EXPECT_EQ(bad["message"], korvansim::sentence::kAuthFailed);

    Json good = c.login("admin", "secret");
    EXPECT_EQ(good["type"], "Login");
    EXPECT_EQ(good["result"]["userName"], "admin");
    EXPECT_EQ(good["result"]["primaryTenant"], "default");
    EXPECT_EQ(good["result"]["roles"], Json({{"default", "admin"}}));
    EXPECT_NE(good["result"]["sessionId"], c.sessionId) << "each login gets its own session";

    EXPECT_TRUE(isOk(c.send("ListVirtualDisks")));
    Json noSession = c.raw("POST", "request={type:ListVirtualDisks, category:VirtualDiskManagement}");
    EXPECT_EQ(c.http, 401);
    EXPECT_EQ(noSession["message"], korvansim::sentence::kInvalidSession);

    EXPECT_TRUE(isOk(c.send("Logout")));
    Json afterLogout = c.send("ListVirtualDisks");
    EXPECT_EQ(c.http, 401);
    EXPECT_FALSE(isOk(afterLogout));
}

TEST(SimRest, EachRequestTypeTakesOnlyItsOwnMethod) {
    RestClient c;
    const char* types[] = {"MakeSnapshot", "CloneSnapshot", "AddVirtualDisk", "ListVirtualDisks", "ShowTarget",
                           "DeleteVDisk"};
    for (const char* type : types) {
        bool put = simtest::putTypes().count(type) > 0;
        Json wrong = c.send(type, "", put ? "POST" : "PUT");
        EXPECT_EQ(c.http, 405) << type;
        EXPECT_EQ(wrong["type"], type);
        EXPECT_NE(wrong["message"].get<std::string>().find(put ? "PUT" : "POST"), std::string::npos) << wrong;
    }
    EXPECT_EQ(c.sim.state()["vdisks"].size(), 2u) << "a refused request changes nothing";
}

TEST(SimRest, VDiskQueriesAnswerWithDiskObjectsOrTheClusterSentences) {
    RestClient c;
    Json list = c.send("ListVirtualDisks");
    ASSERT_EQ(list["result"]["disks"].size(), 2u);
    Json vol1 = list["result"]["disks"][0];
    EXPECT_EQ(vol1["vDiskName"], "vol1");
    int64_t serial = vol1["scsiSerialNumber"].get<int64_t>();
    EXPECT_GT(serial, int64_t{1} << 53) << "serials must not survive a trip through a double";
    EXPECT_EQ(vol1["blockSize"], 4096);
    EXPECT_EQ(vol1["isClone"], false);

    EXPECT_EQ(c.disk("vol1")["scsiSerialNumber"], serial);
    Json bySerial = c.send("GetVirtualDiskByScsiSn", "scsiSn:'" + std::to_string(serial) + "'");
    EXPECT_EQ(bySerial["result"]["vDiskName"], "vol1");

    struct Refusal {
        std::string type, params, message;
    };
    c.sim.withState([](korvansim::Cluster& cl, korvansim::SanBackend&) { cl.find("vol2")->markedForDelete = true; });
    const Refusal refusals[] = {
        {"VirtualDiskDetails", "virtualDisk:'ghost'", "Vdisk ghost couldn't be found"},
        {"VirtualDiskDetails", "virtualDisk:'vol2'", "VDisk is marked for delete :vol2"},
        {"GetVirtualDiskByScsiSn", "scsiSn:'12345'", "Unable to find virtual disk with scsi sn: 12345"},
        {"GetVirtualDiskByScsiSn", "scsiSn:'12x'", "Unable to find virtual disk with scsi sn: 12x"},
        {"ListSnapshots", "virtualDisk:'ghost'", "Vdisk ghost couldn't be found"},
        {"VirtualDiskDetails", "virtualDisk:['vol1']", "Invalid or missing parameter [virtualDisk]"},
    };
    for (const auto& r : refusals) {
        Json answer = c.send(r.type, r.params);
        EXPECT_EQ(c.http, 200) << r.params;
        EXPECT_EQ(answer["status"], "error") << r.params;
        EXPECT_EQ(answer["type"], r.type);
        EXPECT_EQ(answer["message"], r.message);
    }
}

TEST(SimRest, SnapshotsAreNamedByTheClusterAndCanBeDeletedAndReverted) {
    RestClient c(seedWith([](Json& s) { s["vdisks"][1]["snapshots"] = {"vol2$snap$000002"}; }));
    Json made = c.send("MakeSnapshot", "virtualDisks:['vol1','vol2','ghost']");
    ASSERT_TRUE(isOk(made));
    ASSERT_EQ(made["result"].size(), 3u);
    std::string snap1 = made["result"][0]["snapshotName"], snap2 = made["result"][1]["snapshotName"];
    EXPECT_EQ(snap1.rfind("vol1$snap$", 0), 0u) << snap1;
    EXPECT_EQ(snap2.rfind("vol2$snap$", 0), 0u) << snap2;
    EXPECT_NE(snap2, "vol2$snap$000002") << "a seeded name is not given again";
    EXPECT_EQ(c.send("ListSnapshots", "virtualDisk:'vol2'")["result"].size(), 2u);
    EXPECT_EQ(made["result"][0]["status"], "ok");
    EXPECT_EQ(made["result"][0]["name"], "vol1");
    EXPECT_EQ(made["result"][2]["status"], "error");
    EXPECT_EQ(made["result"][2]["message"], "Vdisk ghost couldn't be found");

    std::string again = c.send("MakeSnapshot", "virtualDisks:['vol1']")["result"][0]["snapshotName"];
    EXPECT_NE(again, snap1);
    Json list = c.send("ListSnapshots", "virtualDisk:'vol1'");
    ASSERT_EQ(list["result"].size(), 2u);
    EXPECT_EQ(list["result"][0]["name"], snap1);

    Json reverted = c.send("RevertToSnapshot", "snapshotName:'" + snap1 + "'");
    EXPECT_TRUE(isOk(reverted));
    EXPECT_EQ(reverted["name"], snap1) << "the name is a top-level member";
    Json deleted = c.send("DeleteSnapshot", "snapshotName:'" + snap1 + "'");
    EXPECT_TRUE(isOk(deleted));
    EXPECT_EQ(deleted["name"], snap1);
    EXPECT_EQ(c.send("ListSnapshots", "virtualDisk:'vol1'")["result"].size(), 1u);
    for (const char* type : {"DeleteSnapshot", "RevertToSnapshot", "ListClonesForSnapshot"}) {
        Json gone = c.send(type, "snapshotName:'" + snap1 + "'");
        EXPECT_EQ(gone["status"], "error") << type;
        EXPECT_EQ(gone["message"], "Invalid snapshot value entered") << type;
    }
    EXPECT_EQ(c.sim.state()["vdisks"][0]["revertedTo"], snap1);
}

TEST(SimRest, ClonesAreNewVDisksThatUnfreezeAfterReadsOrTime) {
    struct Case {
        int reads;
        int64_t delayMs;
        int frozenReads;  // detail reads that still see the clone frozen
    };
    const Case cases[] = {{1, 0, 1}, {3, 0, 3}, {0, 0, 0}, {1000, 1, 0}};
    RestClient seeded(seedWith([](Json& s) {
        s["cluster"]["unfreezeAfterReads"] = 0;
        s["vdisks"][0]["frozen"] = true;
    }));
    for (int read = 0; read < 3; ++read) EXPECT_TRUE(seeded.disk("vol1")["frozen"].get<bool>()) << "no trigger set";
    for (const auto& k : cases) {
        RestClient c(seedWith([&](Json& s) {
            s["cluster"]["unfreezeAfterReads"] = k.reads;
            s["cluster"]["unfreezeDelayMs"] = k.delayMs;
        }));
        std::string snap = c.send("MakeSnapshot", "virtualDisks:['vol1']")["result"][0]["snapshotName"];
        Json made = c.send("CloneSnapshot", "name:'clone1', clonedSnapshotName:'" + snap + "'");
        ASSERT_TRUE(isOk(made)) << made;
        EXPECT_EQ(made["result"][0]["status"], "ok");
        EXPECT_EQ(made["result"][0]["baseDisk"], "vol1");
        if (k.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(k.delayMs + 5));
        for (int read = 0; read < k.frozenReads; ++read) {
            Json d = c.disk("clone1");
            EXPECT_TRUE(d["frozen"].get<bool>()) << "read " << read << " of case " << k.reads;
            EXPECT_FALSE(d["freezeReason"].get<std::string>().empty());
        }
        Json d = c.disk("clone1");
        EXPECT_FALSE(d["frozen"].get<bool>()) << "case " << k.reads << "/" << k.delayMs;
        EXPECT_TRUE(d["isClone"].get<bool>());
        EXPECT_NE(d["scsiSerialNumber"], c.disk("vol1")["scsiSerialNumber"]);
        EXPECT_EQ(c.send("ListClonesForSnapshot", "snapshotName:'" + snap + "'")["result"],
                  Json::array({{{"name", "clone1"}, {"baseDisk", "vol1"}}}));

        Json twice = c.send("CloneSnapshot", "name:'clone1', clonedSnapshotName:'" + snap + "'");
        EXPECT_EQ(twice["result"][0]["status"], "error");
        EXPECT_EQ(twice["result"][0]["message"], "clone1 vDisk has already been created");
    }
}

TEST(SimRest, ExposureTargetsAndAccessListsFollowTheRequests) {
    RestClient c;
    Json added = c.send("AddLun", "virtualDisks:['vol1'], targets:['sp1'], readonly:false");
    ASSERT_TRUE(isOk(added));
    EXPECT_EQ(added["result"][0]["status"], "ok");
    EXPECT_EQ(added["result"][0]["targets"][0], Json({{"status", "ok"}, {"name", "sp1"}, {"message", ""}}));
    Json again = c.send("AddLun", "virtualDisks:['vol1','ghost'], targets:['sp1','sp9'], readonly:false");
    EXPECT_EQ(again["result"][0]["status"], "ok");
    EXPECT_EQ(again["result"][0]["targets"][0]["status"], "error");
    EXPECT_EQ(again["result"][0]["targets"][0]["message"], " is already associated with the host sp1");
    EXPECT_EQ(again["result"][0]["targets"][1]["message"], "Storage proxy sp9 couldn't be found");
    EXPECT_EQ(again["result"][1]["message"], "Vdisk ghost couldn't be found");

    Json rows = c.send("ShowTarget", "host:'sp1', protocols:'block'")["result"]["Lun Information"];
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0]["Lun Id"], "vol1");
    std::string target = rows[0]["Target"];
    EXPECT_NE(target.find("sp1"), std::string::npos);
    EXPECT_EQ(rows[0]["SCSI SN"], std::to_string(c.disk("vol1")["scsiSerialNumber"].get<int64_t>()));
    EXPECT_EQ(rows[0]["Online"], "Yes");
    EXPECT_EQ(c.disk("vol1")["targetLocations"], Json::array({"sp1:3260"}));

    auto acl = [&] { return c.send("GetACLInformation", "virtualDisk:'vol1'")["result"]; };
    EXPECT_EQ(acl(), Json::parse(R"([{"host":"sp1","initiator":[]}])"));
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(c.send("PersistACLAccess", "virtualDisks:['vol1'], host:'sp1', address:'" + kIqn + "', type:iqn")
                      ["result"][0]["status"],
                  "ok");
    EXPECT_EQ(acl()[0]["initiator"], Json::parse(R"([{"ip":")" + kIqn + R"(","name":")" + kIqn + R"("}])"));
    Json notExposed = c.send("PersistACLAccess", "virtualDisks:['vol2'], host:'sp1', address:'" + kIqn + "', type:iqn");
    EXPECT_EQ(notExposed["result"][0]["status"], "error");

    EXPECT_TRUE(isOk(c.send("RemoveACLAccess", "virtualDisk:'vol1', host:'sp1', address:['" + kIqn + "']")));
    EXPECT_EQ(acl(), Json::parse(R"([{"host":"sp1","initiator":[]}])"));

    EXPECT_TRUE(isOk(c.send("UnmapLun", "virtualDisk:'vol1', target:'sp1'")));
    EXPECT_EQ(acl(), Json::array());
    EXPECT_TRUE(c.send("ShowTarget", "host:'sp1', protocols:'block'")["result"]["Lun Information"].empty());
    Json twice = c.send("UnmapLun", "virtualDisk:'vol1', target:'sp1'");
    EXPECT_EQ(twice["status"], "error");
    EXPECT_EQ(twice["message"], "vDisk:vol1 is currently not mapped to any controllers(s)");
    EXPECT_EQ(c.send("GetACLInformation", "virtualDisk:'ghost'")["message"], "Vdisk ghost couldn't be found");
    EXPECT_EQ(c.send("ShowTarget", "host:'sp9', protocols:'block'")["status"], "error");
}

TEST(SimRest, DiskAdministrationCreatesResizesAndDeletes) {
    RestClient c;
    const std::string create =
        "name:'{N}', size:{unit:'GB', value:2}, diskType:BLOCK, scsi3pr:false, deduplication:false, "
        "compressed:true, blockSize:512, replicationFactor:2, encryption:true, description:'d', cacheEnabled:false";
    auto createText = [&](const std::string& name) {
        std::string t = create;
        return t.replace(t.find("{N}"), 3, name);
    };
    Json made = c.send("AddVirtualDisk", createText("newdisk"));
    ASSERT_TRUE(isOk(made)) << made;
    EXPECT_EQ(made["result"][0], Json({{"status", "ok"}, {"name", "newdisk"}, {"message", ""}}));
    Json d = c.disk("newdisk");
    EXPECT_EQ(d["sizeInBytes"], 2ull << 30);
    EXPECT_EQ(d["blockSize"], 512);
    EXPECT_EQ(d["replicationFactor"], 2);
    EXPECT_EQ(d["compressed"], true);
    EXPECT_EQ(d["encryption"], true);
    EXPECT_EQ(c.send("AddVirtualDisk", createText("newdisk"))["result"][0]["message"],
              "newdisk vDisk has already been created");
    EXPECT_EQ(c.send("AddVirtualDisk", "name:'x', size:{unit:'PB', value:1}")["status"], "error");

    Json grown = c.send("ResizeDisks", "virtualDisks:['newdisk'], size:{unit:'GB', value:3.5}");
    EXPECT_EQ(grown["result"][0]["status"], "ok");
    EXPECT_EQ(c.disk("newdisk")["sizeInBytes"], static_cast<uint64_t>(3.5 * (1ull << 30)));
    Json shrunk = c.send("ResizeDisks", "virtualDisks:['newdisk','ghost'], size:{unit:'GB', value:1}");
    EXPECT_EQ(shrunk["result"][0]["message"], "Shrinking of virtual disk is not supported");
    EXPECT_EQ(shrunk["result"][1]["message"], "Vdisk ghost couldn't be found");
    EXPECT_EQ(c.disk("newdisk")["sizeInBytes"], static_cast<uint64_t>(3.5 * (1ull << 30)));

    // A deleted source takes its snapshots along; its clone stays.
    std::string snap = c.send("MakeSnapshot", "virtualDisks:['newdisk']")["result"][0]["snapshotName"];
    ASSERT_TRUE(isOk(c.send("CloneSnapshot", "name:'c1', clonedSnapshotName:'" + snap + "'")));
    Json deleted = c.send("DeleteVDisk", "virtualDisks:['newdisk','ghost']");
    EXPECT_EQ(deleted["result"][0]["status"], "ok");
    EXPECT_EQ(deleted["result"][1]["message"], "Vdisk ghost couldn't be found");
    EXPECT_EQ(c.send("VirtualDiskDetails", "virtualDisk:'newdisk'")["message"], "Vdisk newdisk couldn't be found");
    EXPECT_EQ(c.send("DeleteSnapshot", "snapshotName:'" + snap + "'")["message"], "Invalid snapshot value entered");
    EXPECT_TRUE(isOk(c.send("VirtualDiskDetails", "virtualDisk:'c1'")));

    Json info = c.send("GetClusterSettingInfo");
    EXPECT_EQ(info["result"]["clusterNameHash"], korvansim::kDefaultClusterHash);
}

TEST(SimRest, AnyBodyGetsAWellFormedErrorEnvelope) {
    RestClient c;
    const std::string valid = "request={type:VirtualDiskDetails, category:VirtualDiskManagement, "
                              "params:{virtualDisk:'vol1'}, sessionId:'" + c.sessionId + "'}";
    std::vector<std::string> bodies = {"", "garbage", "request=", "request=[1,2]", "request={type:5}",
                                       "request={type:NoSuchType, sessionId:'" + c.sessionId + "'}",
                                       "request=" + std::string(1 << 20, '{'),
                                       std::string(3 << 20, 'x'),
                                       "request={type:MakeSnapshot, params:{virtualDisks:5}, sessionId:'" +
                                           c.sessionId + "'}",
                                       "request={type:AddVirtualDisk, params:{name:'x', size:'big'}, sessionId:'" +
                                           c.sessionId + "'}",
                                       "request={type:ResizeDisks, params:[], sessionId:'" + c.sessionId + "'}",
                                       std::string("request=\0\xff\xfe", 11)};
    for (size_t cut = 0; cut < valid.size(); cut += 7) bodies.push_back(valid.substr(0, cut));
    for (const auto& body : bodies) {
        for (const char* method : {"POST", "PUT"}) {
            Json answer = c.raw(method, body);
            EXPECT_EQ(answer.value("status", ""), "error") << body.substr(0, 80);
            EXPECT_FALSE(answer.value("message", "").empty()) << body.substr(0, 80);
            EXPECT_GE(c.http, 200);
        }
    }
    EXPECT_TRUE(isOk(c.raw("POST", valid))) << "the service is still up";
}

TEST(SimRest, CountsRequestsPerType) {
    RestClient c;
    c.send("ListVirtualDisks");
    c.send("ListVirtualDisks");
    c.raw("POST", "nonsense");
    Json counters = c.sim.counters();
    EXPECT_EQ(counters["requests"]["Login"], 1);
    EXPECT_EQ(counters["requests"]["ListVirtualDisks"], 2);
    EXPECT_EQ(counters["requests"]["(unparsed)"], 1);
    EXPECT_EQ(counters["rest"], 4);
    c.sim.reset();
    EXPECT_EQ(c.sim.counters()["rest"], 0);
}

}  // namespace
