// What every operation makes of answers it cannot use: a transport failure gives the
// operation's own sentence, and every reading half survives answers broken in every way we
// know of with the code and sentence its family promises.
#include <functional>

#include "KrvnFuzzEntries.h"
#include "RestFixture.h"

namespace {

using namespace krvntest;
using namespace ZYKorvanCommon;

TEST_F(RestTest, TransportFailuresReportTheOperationsOwnSentence) {
    KrvnDisk disk;
    disk.vDiskName = "vd1";
    disk.scsiSerialNumber = 42;
    std::vector<KrvnDisk> disks;
    std::vector<std::string> names;
    std::map<std::string, std::string> sources = {{"vd1", ""}};
    std::map<std::string, std::vector<KrvnSCSITarget>> targets;
    std::vector<KrvnAccessInfo> access;
    std::map<std::string, bool> deletions = {{"vd1", false}};
    KrvnCommonUtils& u = utils();
    const std::string onCluster = " on the cluster-[clusterA]";
    const std::vector<std::pair<std::function<int()>, std::string>> rows = {
        {[&] { return u.rest_getAllVDiskDetails(disks); }, "Failed to get all vDisk details from the cluster"},
        {[&] { return u.rest_getVDiskDetails(disk); }, "Failed to get vDisk-[vd1] details from the cluster."},
        {[&] { return u.rest_getVDiskDetailsBySSN(disk); },
         "Failed to get vDisk details using SCSI serial-[42] from the cluster."},
        {[&] { return u.rest_createSnaps(sources); },
         "Failed to create snapshot(s) of one or more source device(s) on the cluster"},
        {[&] { return u.rest_getSnapListForSource("vd1", names); },
         "Failed to get snapshot list for source device-[vd1]"},
        {[&] { return u.rest_deleteSnap("vd1", "sn1"); }, "Failed to delete snapshot-[sn1] for source device-[vd1]"},
        {[&] { return u.rest_revertSnap("vd1", "sn1"); }, "Failed to revert source vDisk-[vd1] to snapshot-[sn1]"},
        {[&] { return u.rest_getCloneDetails("sn1", names); }, "Failed to get clone list for snapshot-[sn1]"},
        {[&] { return u.rest_createCloneOfSnap("cl1", "sn1"); },
         "Failed to create clone with name-[cl1] for snapshot-[sn1]"},
        {[&] { return u.rest_getSCSITargetIQNs("sp3", targets); },
         "Failed to get SCSI target IQN details for storage proxy-[sp3]"},
        {[&] {
             return u.rest_addLUNConnection({"vd1", "vd2"}, {"sp1", "sp2"});
         },
         "Failed to expose [vd1,vd2] disks to [sp1,sp2] storage proxies"},
        {[&] {
             return u.rest_addHostAccessToDisks({"vd1", "vd2"}, "iqn.h", "sp1");
         },
         "Failed to map [vd1,vd2] disks to [iqn.h] host via [sp1] storage proxy"},
        {[&] { return u.rest_getAccessForDisk("vd1", access); }, "Failed to get the access list for disk-[vd1]"},
        {[&] { return u.rest_removeAccess("vd1", "sp1", "iqn.h"); },
         "Failed to unmap the disk-[vd1] from host-[iqn.h]"},
        {[&] { return u.rest_removeLUN("vd1", "tg1"); }, "Failed to hide the disk-[vd1] from target-[tg1]"},
        {[&] { return u.rest_createDisk(disk); }, "Failed to create disk-[vd1]" + onCluster},
        {[&] { return u.rest_deleteDisk(deletions); }, "Failed to delete one or more disks" + onCluster},
        {[&] { return u.rest_resizeDisk(disk); }, "Failed to resize disk-[vd1]" + onCluster},
        {[&] { return u.rest_getClusterSettingInfo(); },
         "Failed to get cluster setting info from the cluster-[clusterA]"},
    };
    LogCapture log;
    for (size_t i = 0; i < rows.size(); ++i) {
        ctx().resetError();
        // Half the rows see a dropped connection; the last one an answer whose words travel with the failure.
        if (i % 2)
            srv.replyDrop();
        else
            srv.reply(503, R"({"message":"cluster busy"})");
        EXPECT_EQ(1, rows[i].first()) << rows[i].second;
        EXPECT_EQ(1, ctx().errorCode) << rows[i].second;
        EXPECT_EQ(rows[i].second, errorText());
    }
    EXPECT_EQ("cluster busy ", ctx().restErrors.str());
    EXPECT_TRUE(log.containsAt(-1,
                               "KRVN  Cluster operation failed-[1:Failed to get cluster setting info from the "
                               "cluster-[clusterA]]. REST error-[cluster busy ]"))
        << log.dump();
    EXPECT_EQ(rows.size(), srv.requestCount());  // none of them is retried
}

TEST_F(RestTest, TheTransportsOwnReasonReachesTheFinalTextAsTheClustersWordsWould) {
    settings.set("Platform", "maxResponseMB", "1");
    std::vector<KrvnDisk> disks;
    const std::string failed = "Failed to get all vDisk details from the cluster\nErrors returned by cluster-[";
    srv.reply(200, okAnswer("ListVirtualDisks", R"({"disks":[)" + std::string(2 << 20, ' ') + "]}"));
    EXPECT_EQ(1, utils().rest_getAllVDiskDetails(disks));
    EXPECT_EQ(1, ctx().errorCode);
    EXPECT_EQ(failed +
                  "The answer is larger than the limit of 1 MB ([Platform] maxResponseMB); it was not read "
                  "further ]",
              ctx().getFinalErrorStr());
    ctx().resetError();
    srv.replyDrop();
    EXPECT_EQ(1, utils().rest_getAllVDiskDetails(disks));
    const std::string dropped = ctx().getFinalErrorStr();
    EXPECT_EQ(0u, dropped.find(failed + "transfer closed")) << "libcurl's words: " << dropped;
}

// Login's reading half, then the fuzz table's halves of every other request.
std::vector<krvnfuzz::ClusterReader> allHalves() {
    std::vector<krvnfuzz::ClusterReader> halves = {
        {"Login", false, 0, [](KrvnCommonUtils& u) { return static_cast<unsigned int>(u.processConnectResp()); }}};
    const auto& readers = krvnfuzz::clusterReaders();
    halves.insert(halves.end(), readers.begin(), readers.end());
    return halves;
}

TEST_F(RestTest, MalformedAnswersGiveTheirFamilysCodeAndNeverCrash) {
    enum Expect { PARSE, ENVELOPE, ANY };
    const std::string longText(200000, 'n');
    // Each answer with "%T" standing for the type the half expects.
    const std::vector<std::pair<std::string, Expect>> answers = {
        {"<html>busy</html>", PARSE},
        {"", PARSE},
        {R"([{"status":"ok"}])", PARSE},
        {R"({"status":"ok","type":"%T","result":[{"name":"a")", PARSE},
        {R"({"status":"ok","type":"%T","result":{"n":123456789012345678901234}})", PARSE},
        {R"({"status":true,"type":"%T","result":[]})", ENVELOPE},
        {R"({"status":"ok","type":1,"result":{}})", ENVELOPE},
        {R"({"status":"ok","type":"Unexpected","result":[]})", ENVELOPE},
        {R"({"status":"ok","type":"%T","result":"ok"})", ANY},
        {R"({"status":"ok","type":"%T"})", ANY},
        {R"({"status":"ok","type":"%T","result":[]})", ANY},
        {R"({"status":"ok","type":"%T","result":{}})", ANY},
        {R"({"status":"ok","type":"%T","result":[1,"x",null,true,[],{"status":5,"name":[],"message":{},)"
         R"("targets":"x","initiator":{},"host":7,"snapshotName":null}]})",
         ANY},
        {R"({"status":"ok","type":"%T","name":3,"result":{"disks":{"a":1},"Lun Information":{"x":1},)"
         R"("clusterNameHash":7,"sessionId":[],"roles":"admin","vDiskName":9,"scsiSerialNumber":"12",)"
         R"("blockSize":1e300,"replicationFactor":-40000,"targetLocations":"sp1:3260"}})",
         ANY},
        {R"({"status":"ok","type":"%T","result":{"disks":[{"scsiSerialNumber":-9223372036854775808,)"
         R"("blockSize":18446744073709551615,"replicationFactor":1.5e10}],)"
         R"("Lun Information":[{"SCSI SN":"-1"},{"SCSI SN":"-"}]}})",
         ANY},
        {R"({"status":"ok","type":"%T","message":")" + longText + R"(","result":[{"status":")" + longText +
             R"(","name":")" + longText + R"("}]})",
         ANY},
    };
    for (const krvnfuzz::ClusterReader& half : allHalves()) {
        for (const auto& [pattern, expect] : answers) {
            std::string answer = pattern;
            if (size_t at = answer.find("%T"); at != std::string::npos) answer.replace(at, 2, half.type);
            const std::string where = std::string(half.type) + " / " + answer.substr(0, 80);
            ctx().resetError();
            ctx().restResponse = answer;
            const int rc = static_cast<int>(half.run(utils()));
            EXPECT_TRUE(expect == ANY || rc == (expect == PARSE ? 1 : 19)) << where << " gave " << rc;
            EXPECT_TRUE(expect != PARSE || errorText().rfind("Failed to parse the REST response-[", 0) == 0) << where;
            // Whatever the verdict, it is one of the family's and it is explained.
            EXPECT_TRUE(rc == 0 || rc == 1 || rc == 19 || rc == 26) << where << " gave " << rc;
            if (rc != 0 && rc != 26) {
                EXPECT_EQ(rc, ctx().errorCode) << where;
                EXPECT_FALSE(errorText().empty()) << where;
            }
        }
    }
    EXPECT_EQ(0u, srv.requestCount());
}

}  // namespace
