// Every reading half against answers that are broken in every way we know of: each must give
// the code and sentence its family promises, never a crash.
#include <functional>

#include "RestFixture.h"

namespace {

using namespace krvntest;
using namespace ZYKorvanCommon;

struct Half {
    const char* type;
    std::function<unsigned int(KrvnCommonUtils&)> run;
};

std::vector<Half> allHalves() {
    return {
        {"Login", [](KrvnCommonUtils& u) { return u.processConnectResp(); }},
        {"ListVirtualDisks", [](KrvnCommonUtils& u) { std::vector<KrvnDisk> d; return u.processGetAllVDisks(d); }},
        {"VirtualDiskDetails", [](KrvnCommonUtils& u) { KrvnDisk d; return u.processGetVDisk(d); }},
        {"GetVirtualDiskByScsiSn", [](KrvnCommonUtils& u) { KrvnDisk d; return u.processGetVDiskBySSN(d); }},
        {"MakeSnapshot",
         [](KrvnCommonUtils& u) { std::map<std::string, std::string> m{{"vd1", ""}}; return u.processCreateSnaps(m); }},
        {"ListSnapshots", [](KrvnCommonUtils& u) { std::vector<std::string> n; return u.processGetSnapList(n); }},
        {"DeleteSnapshot", [](KrvnCommonUtils& u) { return u.processDeleteSnap("sn1"); }},
        {"RevertToSnapshot", [](KrvnCommonUtils& u) { return u.processRevertSnap("sn1"); }},
        {"ListClonesForSnapshot", [](KrvnCommonUtils& u) { std::vector<std::string> n; return u.processGetCloneDetails(n); }},
        {"CloneSnapshot", [](KrvnCommonUtils& u) { return u.processCreateClone("cl1", "sn1"); }},
        {"ShowTarget",
         [](KrvnCommonUtils& u) {
             std::map<std::string, std::vector<KrvnSCSITarget>> t;
             return u.processGetSCSITargetIQNs("sp1", t);
         }},
        {"AddLun", [](KrvnCommonUtils& u) { return u.processAddLUN({"vd1"}, {"sp1"}); }},
        {"PersistACLAccess", [](KrvnCommonUtils& u) { return u.processAddHostAccessToDisks({"vd1"}, "iqn", "sp1"); }},
        {"GetACLInformation", [](KrvnCommonUtils& u) { std::vector<KrvnAccessInfo> a; return u.processGetAccessList(a); }},
        {"RemoveACLAccess", [](KrvnCommonUtils& u) { return u.processRemoveAccess(); }},
        {"UnmapLun", [](KrvnCommonUtils& u) { return u.processRemoveLUN("vd1"); }},
        {"AddVirtualDisk",
         [](KrvnCommonUtils& u) {
             KrvnDisk d;
             d.vDiskName = "vd1";
             return static_cast<unsigned int>(u.processCreateDiskResp(d));
         }},
        {"DeleteVDisk",
         [](KrvnCommonUtils& u) { std::map<std::string, bool> m{{"vd1", false}}; return static_cast<unsigned int>(u.processDeleteDisk(m)); }},
        {"ResizeDisks", [](KrvnCommonUtils& u) { KrvnDisk d; return static_cast<unsigned int>(u.processResizeDiskResp(d)); }},
        {"GetClusterSettingInfo",
         [](KrvnCommonUtils& u) { std::string h; return static_cast<unsigned int>(u.processGetClusterSettingInfo(h)); }},
    };
}

std::string withType(const std::string& type, const std::string& rest) {
    return R"({"status":"ok","type":")" + type + "\"" + rest + "}";
}

TEST_F(RestTest, MalformedAnswersGiveTheirFamilysCodeAndNeverCrash) {
    enum Expect { PARSE, ENVELOPE, ANY };
    struct Answer {
        const char* what;
        std::function<std::string(const std::string& type)> text;
        Expect expect;
    };
    const std::string longText(200000, 'n');
    const std::vector<Answer> answers = {
        {"not json", [](const std::string&) { return std::string("<html>busy</html>"); }, PARSE},
        {"empty", [](const std::string&) { return std::string(); }, PARSE},
        {"top-level array", [](const std::string&) { return std::string(R"([{"status":"ok"}])"); }, PARSE},
        {"truncated", [](const std::string& t) { return withType(t, R"(,"result":[{"name":"a")"); }, PARSE},
        {"number beyond 64 bits", [](const std::string& t) { return withType(t, R"(,"result":{"n":123456789012345678901234})"); },
         PARSE},
        {"status not a string", [](const std::string& t) { return R"({"status":true,"type":")" + t + R"(","result":[]})"; },
         ENVELOPE},
        {"type not a string", [](const std::string&) { return std::string(R"({"status":"ok","type":1,"result":{}})"); },
         ENVELOPE},
        {"wrong type", [](const std::string&) { return withType("Unexpected", R"(,"result":[])"); }, ENVELOPE},
        {"result a string", [](const std::string& t) { return withType(t, R"(,"result":"ok")"); }, ANY},
        {"result a number", [](const std::string& t) { return withType(t, R"(,"result":-1)"); }, ANY},
        {"no result", [](const std::string& t) { return withType(t, ""); }, ANY},
        {"empty array", [](const std::string& t) { return withType(t, R"(,"result":[])"); }, ANY},
        {"empty object", [](const std::string& t) { return withType(t, R"(,"result":{})"); }, ANY},
        {"elements of every type",
         [](const std::string& t) {
             return withType(t, R"(,"result":[1,"x",null,true,[],{"status":5,"name":[],"message":{},"targets":"x",)"
                                R"("initiator":{},"host":7,"name2":null}])");
         },
         ANY},
        {"members of the wrong type",
         [](const std::string& t) {
             return withType(t, R"(,"name":3,"result":{"disks":{"a":1},"Lun Information":{"x":1},)"
                                R"("clusterNameHash":7,"sessionId":[],"roles":"admin","vDiskName":9,)"
                                R"("scsiSerialNumber":"12","blockSize":1e300,"replicationFactor":-40000,)"
                                R"("targetLocations":"sp1:3260"})");
         },
         ANY},
        {"huge and negative numbers",
         [](const std::string& t) {
             return withType(t, R"(,"result":{"disks":[{"scsiSerialNumber":-9223372036854775808,)"
                                R"("blockSize":18446744073709551615,"replicationFactor":1.5e10}],)"
                                R"("Lun Information":[{"SCSI SN":"-1"},{"SCSI SN":"-"}]})");
         },
         ANY},
        {"very long strings",
         [&](const std::string& t) {
             return withType(t, R"(,"message":")" + longText + R"(","result":[{"status":")" + longText +
                                    R"(","name":")" + longText + R"("}])");
         },
         ANY},
    };
    for (const Half& half : allHalves()) {
        for (const Answer& answer : answers) {
            ctx().resetError();
            ctx().restResponse = answer.text(half.type);
            unsigned int rc = half.run(utils());
            const std::string where = std::string(half.type) + " / " + answer.what;
            switch (answer.expect) {
            case PARSE:
                EXPECT_EQ(1u, rc) << where;
                EXPECT_EQ(0u, errorText().rfind("Failed to parse the REST response-[", 0)) << where;
                break;
            case ENVELOPE:
                EXPECT_EQ(19u, rc) << where;
                break;
            case ANY:
                break;
            }
            // Whatever the verdict, it is one of the family's and it is explained.
            EXPECT_TRUE(rc == 0 || rc == 1 || rc == 19 || rc == 26) << where << " gave " << rc;
            if (rc != 0 && rc != 26) {
                EXPECT_EQ(static_cast<int>(rc), ctx().errorCode) << where;
                EXPECT_FALSE(errorText().empty()) << where;
            }
        }
    }
    EXPECT_EQ(0u, srv.requestCount());
}

}  // namespace
