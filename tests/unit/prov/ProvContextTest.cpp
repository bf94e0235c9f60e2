// The provisioning context: validation, what it reads from the host's items, the map
// information text, and the records it hands to the engine.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "ProvTestCluster.h"

namespace provtest {
namespace {

class ProvContextTest : public ProvClusterTest {
protected:
    // A fresh context of the operation over the batch; the result of initialize().
    int init(int op, short count) {
        ctx = std::make_unique<KrvnProvCtx>(&batch.os, 0, op);
        return ctx->initialize(batch.data(), count);
    }
    int init(int op) { return init(op, batch.count()); }
    std::unique_ptr<KrvnProvCtx> ctx;
};

TEST_F(ProvContextTest, ValidationRefusesEachBadInputWithItsCodeAndSentence) {
    struct Case {
        const char* name;
        bool nullOs;
        bool nullList;
        int nullItem;
        short count;
        int code;
        std::string text;
        std::string logLine;
    };
    const std::vector<Case> cases = {
        {"no OS util", true, false, -1, 3, 4, "OS util is not valid. It is either NULL or not initialized",
         "KRVN  Input internal object validation failed [4:OS util is not valid. It is either NULL or not initialized]."},
        {"zero count", false, false, -1, 0, 5, "Invalid disk count-[0]",
         "KRVN  Input disk list validation failed [5:Invalid disk count-[0]]."},
        {"negative count", false, false, -1, -2, 5, "Invalid disk count-[-2]", "Invalid disk count-[-2]"},
        {"lowest count", false, false, -1, SHRT_MIN, 5, "Invalid disk count-[-32768]", "[-32768]"},
        {"no list", false, true, -1, 3, 7, "Empty disk list passed",
         "KRVN  Input internal object validation failed [7:Empty disk list passed]"},
        {"null item", false, false, 2, 3, 7, "Empty disk info at idx-[2] of total-[3]",
         "KRVN  Input internal object validation failed [7:Empty disk info at idx-[2] of total-[3]]."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeLunBatch local;
        for (int i = 0; i < 3; ++i) local.add();
        if (c.nullItem >= 0) local.setNull(c.nullItem);
        logs.clear();
        KrvnProvCtx context(c.nullOs ? nullptr : &local.os, 0, ZY_KRVN_PROV_OP_CREATE);
        EXPECT_EQ(c.code, context.initialize(c.nullList ? nullptr : local.data(), c.count));
        EXPECT_EQ(c.code, context.errorCode);
        EXPECT_EQ(c.text, context.errorString());
        EXPECT_TRUE(logs.containsAt(-1, c.logLine)) << logs.dump();
        EXPECT_TRUE(logs.contains("KRVN  Validating inputs for provioning operation - done"));
        EXPECT_TRUE(context.disks.empty());
        for (size_t i = 0; i < local.size(); ++i) EXPECT_FALSE(local[i].called("getDiskName"));
    }
    // The null-list line has no full stop; the others do.
    EXPECT_FALSE(logs.contains("[7:Empty disk list passed]]."));
}

TEST_F(ProvContextTest, SizeBecomesWholeGigabytesAndBelowOneGigabyteIsRefused) {
    struct Case {
        long bytes;
        long long wholeGB;   // 0: refused
    };
    const long GiB = 1L << 30;
    const std::vector<Case> cases = {
        {GiB + GiB / 2, 1}, {GiB, 1}, {10 * GiB + 1, 10}, {GiB - 1, 0}, {0, 0}, {-5 * GiB, 0}, {LONG_MAX, LONG_MAX / GiB},
    };
    FakeLunInfo& item = addDisk(7);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        item.size = c.bytes;
        int rc = init(ZY_KRVN_PROV_OP_RESIZE);
        if (c.wholeGB == 0) {
            EXPECT_EQ(8, rc);
            EXPECT_EQ("Invalid disk size-[" + std::to_string(c.bytes) +
                          "] for the device-[7]. Expecting size-[1 GB] or more",
                      ctx->errorString());
        } else {
            ASSERT_EQ(0, rc) << ctx->errorString();
            EXPECT_EQ(c.wholeGB, ctx->disks.at(7)->size);
            EXPECT_EQ(c.wholeGB, ctx->getDiskParams(ctx->disks.at(7)).size);
        }
    }
    item.failing.insert("getSize");
    EXPECT_EQ(8, init(ZY_KRVN_PROV_OP_CREATE));
    EXPECT_EQ("Failed to get disk size for the device-[7]", ctx->errorString());
}

TEST_F(ProvContextTest, BlockSizeIsTakenOnlyWhenTheHostGivesOneOfThreeSizes) {
    FakeLunInfo& item = addDisk();
    const std::vector<std::pair<long, int>> cases = {
        {512, 512}, {4096, 4096}, {65536, 65536}, {8192, 4096}, {0, 4096}, {-512, 4096}, {1L << 40, 4096},
    };
    for (const auto& [given, used] : cases) {
        SCOPED_TRACE(given);
        item.blockSize = given;
        ASSERT_EQ(0, init(ZY_KRVN_PROV_OP_CREATE)) << ctx->errorString();
        EXPECT_EQ(used, ctx->disks.begin()->second->blockSize);
    }
    item.blockSize = 512;
    item.failing.insert("getBlockSize");
    ASSERT_EQ(0, init(ZY_KRVN_PROV_OP_CREATE));
    EXPECT_EQ(4096, ctx->disks.begin()->second->blockSize);
}

TEST_F(ProvContextTest, CreateRecordCarriesTheDiskAndTheGlobalSettings) {
    FakeLunInfo& first = addDisk(2);
    FakeLunInfo& second = addDisk(1);
    second.description = "payroll";
    first.settingBools["bZYKorvanCreateDiskEncryptDisable"] = true;   // read from the lowest id only
    second.settingInts["nZYKorvanReplicationFactor"] = 5;
    ASSERT_EQ(0, init(ZY_KRVN_PROV_OP_CREATE)) << ctx->errorString();
    EXPECT_FALSE(first.called("getSettingInt"));

    const auto record = ctx->getDiskParams(ctx->disks.at(2));
    EXPECT_EQ("vd2", record.vDiskName);
    EXPECT_EQ("GB", record.sizeUnit);
    EXPECT_EQ("BLOCK", record.diskType);
    EXPECT_TRUE(record.deduplication);
    EXPECT_TRUE(record.compressed);
    EXPECT_FALSE(record.scsi3pr);
    EXPECT_TRUE(record.encryption);
    EXPECT_EQ(5, record.replicationFactor);
    EXPECT_EQ("Created by Pellart", record.description);
    EXPECT_EQ("payroll", ctx->disks.at(1)->description);
    EXPECT_TRUE(logs.contains("KRVN  Setting new disk replication factor to [5]"));

    second.settingBools["bZYKorvanCreateDiskEncryptDisable"] = true;
    second.settingInts["nZYKorvanReplicationFactor"] = 0;
    ASSERT_EQ(0, init(ZY_KRVN_PROV_OP_CREATE));
    for (auto& entry : ctx->disks) {
        EXPECT_FALSE(entry.second->isEncrypted);
        EXPECT_EQ(3, entry.second->replicationFactor);   // 0 keeps the default
    }
    // A factor beyond the record's 16 bits is clamped, not wrapped.
    second.settingInts["nZYKorvanReplicationFactor"] = 70000;
    ASSERT_EQ(0, init(ZY_KRVN_PROV_OP_CREATE));
    EXPECT_EQ(SHRT_MAX, ctx->getDiskParams(ctx->disks.at(1)).replicationFactor);
}

TEST_F(ProvContextTest, RepeatedIdKeepsOnlyTheLaterItem) {
    addDisk(4).diskName = "early";
    addDisk(4).diskName = "late";
    ASSERT_EQ(0, init(ZY_KRVN_PROV_OP_DELETE));
    ASSERT_EQ(1u, ctx->disks.size());
    EXPECT_EQ("late", ctx->disks.at(4)->diskName);
    EXPECT_EQ(&batch[1], ctx->disks.at(4)->lunInfo);
}

TEST_F(ProvContextTest, ClusterDetailsComeFromTheLowestIdAndEachMissingPieceIsNamed) {
    addDisk(9);
    FakeLunInfo& lowest = addDisk(3);
    ASSERT_EQ(0, init(ZY_KRVN_PROV_OP_DELETE)) << ctx->errorString();
    EXPECT_EQ("clusterA", ctx->arrayDetails.arrayId);
    EXPECT_EQ(kClearPassword, ctx->arrayDetails.userPswd);
    EXPECT_FALSE(batch[0].called("getClusterName"));
    EXPECT_FALSE(logs.contains(kClearPassword)) << "the clear password reached the log";

    const std::vector<std::pair<std::string, std::string>> failures = {
        {"getClusterName", "Failed to get cluster name from the disk info"},
        {"getClusterControlHost", "Failed to get cluster control host information from the disk info"},
        {"getClusterUserName", "Failed to get user name details from the disk info"},
        {"getClusterPassword", "Failed to get cluster password information from the disk info"},
    };
    for (const auto& [getter, sentence] : failures) {
        SCOPED_TRACE(getter);
        lowest.failing = {getter};
        EXPECT_EQ(13, init(ZY_KRVN_PROV_OP_DELETE));
        EXPECT_EQ(sentence, ctx->errorString());
    }
    lowest.failing.clear();
    const std::string good = lowest.storedPassword;
    for (const std::string& stored : {std::string("ZYP1:not-base64"), std::string("plain"), key.encrypt("")}) {
        lowest.storedPassword = stored;
        EXPECT_EQ(13, init(ZY_KRVN_PROV_OP_DELETE));
        EXPECT_EQ("Failed to decrypt cluster credential", ctx->errorString());
    }
    lowest.storedPassword = good;
    lowest.userName = "";
    EXPECT_EQ(13, init(ZY_KRVN_PROV_OP_DELETE));
    EXPECT_EQ("Failed to decrypt cluster credential", ctx->errorString());
}

TEST_F(ProvContextTest, ArrayConfigurationIsReadWithDefaultsAndTheProxyDelimiter) {
    FakeLunInfo& item = addDisk();
    item.configs = {
        {"SMCONFIG_NAME_ENABLE_DIAGNOSTIC_LOGGING", "0"},
        {"SMCONFIG_NAME_SNAP_OP_RETRY_COUNT", "2"},
        {"SMCONFIG_NAME_SNAP_OP_RETRY_INTERVAL_IN_SEC", ""},
        {"SMCONFIG_NAME_USE_SECURE_CONNECTION", "1"},
        {"SMCONFIG_STORAGE_PROXY_LIST_KEY", "spA|:|spB|spC|:|"},
    };
    ASSERT_EQ(0, init(ZY_KRVN_PROV_OP_DELETE));
    const auto& cfg = ctx->arrayDetails.arrayConfigs;
    EXPECT_EQ(0, cfg.restLogging);
    EXPECT_EQ(2, cfg.maxRetryCount);
    EXPECT_EQ(10, cfg.sleepInterval);   // an empty value keeps the default
    EXPECT_TRUE(cfg.useHttps);
    EXPECT_EQ(8443, cfg.serverPort);    // no port key: the protocol's port
    EXPECT_EQ((std::vector<std::string>{"spA", "spB|spC"}), cfg.storageProxyList);
    EXPECT_EQ("spA", ctx->arrayDetails.storageProxy);
    EXPECT_TRUE(logs.contains("KRVN  Config [SMCONFIG_NAME_USE_SECURE_CONNECTION] found - value [true]"));
    EXPECT_TRUE(logs.contains("KRVN  Config [SMCONFIG_STORAGE_PROXY_LIST_KEY] found - size [2]"));
    EXPECT_TRUE(logs.contains("KRVN  Config [SMCONFIG_NAME_SNAP_OP_RETRY_INTERVAL_IN_SEC] found - value [10]"));

    item.configs = {{"SMCONFIG_NAME_SERVER_PORT", "9000"}, {"SMCONFIG_NAME_SNAP_OP_RETRY_COUNT", "99999999999"}};
    ASSERT_EQ(0, init(ZY_KRVN_PROV_OP_DELETE));
    EXPECT_EQ(9000, ctx->arrayDetails.arrayConfigs.serverPort);
    EXPECT_EQ(INT_MAX, ctx->arrayDetails.arrayConfigs.maxRetryCount);
    item.configs.clear();
    ASSERT_EQ(0, init(ZY_KRVN_PROV_OP_DELETE));
    EXPECT_EQ(8080, ctx->arrayDetails.arrayConfigs.serverPort);
}

TEST_F(ProvContextTest, MapNeedsAStorageProxyAndUnmapDoesNot) {
    FakeLunInfo& item = addDisk();
    item.setIscsiHost("h1", {"iqn.h1"});
    item.configs.erase(ZY_KRVN_PROV_CFG_PROXY_LIST);
    EXPECT_EQ(13, init(ZY_KRVN_PROV_OP_MAP));
    EXPECT_EQ("Storage proxy not provided in the input", ctx->errorString());
    EXPECT_EQ(0, init(ZY_KRVN_PROV_OP_UNMAP)) << ctx->errorString();
}

TEST_F(ProvContextTest, DiskNameFailureNamesTheItemId) {
    addDisk(12).failing.insert("getDiskName");
    EXPECT_EQ(8, init(ZY_KRVN_PROV_OP_DELETE));
    EXPECT_EQ("Failed to get disk name for the device-[12]", ctx->errorString());
    EXPECT_TRUE(logs.containsAt(-1, "KRVN  Provisioning operation failed. Error-[8:"));
}

TEST_F(ProvContextTest, MapInformationTextIsReadByItsRules) {
    struct Case {
        const char* name;
        std::string text;
        bool accepted;
        std::vector<KrvnMapInfo> hosts;
    };
    auto host = [](std::string name, std::string os, short protocol, std::vector<std::string> endpoints) {
        KrvnMapInfo info;
        info.hostName = name;
        info.hostOS = os;
        info.protocol = protocol;
        info.endpoints = endpoints;
        return info;
    };
    const std::vector<Case> cases = {
        {"two hosts",
         R"({"hosts":[{"hostname":"h1","hostos":"linux","protocol":"3","endpoints":[{"endpoint":"iqn.a"},{"endpoint":"iqn.b"}]},)"
         R"({"hostname":"h2","protocol":"4","endpoints":[]}]})",
         true,
         {host("h1", "linux", 3, {"iqn.a", "iqn.b"}), host("h2", "", 4, {})}},
        {"numeric protocol counts as absent", R"({"hosts":[{"hostname":"h","protocol":3}]})", true, {host("h", "", 0, {})}},
        {"nfs and unknown protocols", R"({"hosts":[{"protocol":"5"},{"protocol":"iscsi"}]})", true,
         {host("", "", 5, {}), host("", "", 0, {})}},
        {"empty endpoint skipped, other key gives empty name",
         R"({"hosts":[{"protocol":"3","endpoints":[{},{"name":"x"},{"endpoint":7}]}]})", true,
         {host("", "", 3, {"", ""})}},
        {"no hosts member", R"({"other":1})", true, {}},
        {"hosts not an array", R"({"hosts":{"hostname":"h"}})", true, {}},
        {"empty object", "{}", false, {}},
        {"not JSON", "hosts=h1", false, {}},
        {"top level array", R"([{"hosts":[]}])", false, {}},
        {"empty text", "", false, {}},
        {"host not an object", R"({"hosts":["h1"]})", false, {}},
        {"endpoint not an object", R"({"hosts":[{"hostname":"h","endpoints":["iqn.a"]}]})", false, {}},
    };
    addDisk();
    init(ZY_KRVN_PROV_OP_DELETE);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ctx->resetError();
        std::vector<KrvnMapInfo> out;
        int rc = ctx->parseMapInfo(c.text.c_str(), out);
        if (!c.accepted) {
            EXPECT_EQ(24, rc);
            EXPECT_EQ("Unable to parse initiator information fom [" + c.text + "]", ctx->errorString());
            EXPECT_TRUE(out.empty());
            continue;
        }
        ASSERT_EQ(0, rc) << ctx->errorString();
        ASSERT_EQ(c.hosts.size(), out.size());
        for (size_t i = 0; i < out.size(); ++i) {
            EXPECT_EQ(c.hosts[i].hostName, out[i].hostName);
            EXPECT_EQ(c.hosts[i].hostOS, out[i].hostOS);
            EXPECT_EQ(c.hosts[i].protocol, out[i].protocol);
            EXPECT_EQ(c.hosts[i].endpoints, out[i].endpoints);
        }
    }
}

TEST_F(ProvContextTest, MapInformationWithoutHostsIsRefusedForMapAndUnmap) {
    FakeLunInfo& item = addDisk();
    item.initiatorInfo = R"({"note":"nothing"})";
    for (int op : {ZY_KRVN_PROV_OP_MAP, ZY_KRVN_PROV_OP_UNMAP}) {
        EXPECT_EQ(24, init(op));
        EXPECT_EQ(R"(Unable to get initiator information from [{"note":"nothing"}] to map the Disks)", ctx->errorString());
    }
    item.setIscsiHost("h1", {"iqn.h1"});
    ASSERT_EQ(0, init(ZY_KRVN_PROV_OP_MAP)) << ctx->errorString();
    ASSERT_EQ(1u, ctx->disks.begin()->second->mapInfos.size());
    EXPECT_EQ("h1", ctx->disks.begin()->second->mapInfos[0].hostName);
}

TEST_F(ProvContextTest, InitiatorBufferGrowsToWhatTheHostAsksAndNoFurther) {
    FakeLunInfo& item = addDisk();
    std::vector<std::string> initiators;
    for (int i = 0; i < 300; ++i) initiators.push_back("iqn.2001-04.com.example:host-initiator-" + std::to_string(i));
    item.setIscsiHost("big", initiators);
    ASSERT_GT(item.initiatorInfo.size(), 4096u);
    ASSERT_EQ(0, init(ZY_KRVN_PROV_OP_MAP)) << ctx->errorString();
    EXPECT_EQ((std::vector<unsigned short>{4096, static_cast<unsigned short>(item.initiatorInfo.size() + 1)}),
              item.initiatorBufferSizes);
    EXPECT_EQ(300u, ctx->disks.begin()->second->mapInfos[0].endpoints.size());
}

TEST_F(ProvContextTest, InitiatorInformationFailuresAreCode24WithTheirSentence) {
    const std::string getText = "Unable to get initiator information from disk object.";
    const std::string invalidText = "Got invalid initiator information from disk object.";
    struct Case {
        const char* name;
        std::vector<std::pair<int, unsigned short>> answers;
        std::string sentence;
        size_t calls;
    };
    const std::vector<Case> cases = {
        {"too small three times", {{2, 5000}, {2, 6000}, {2, 7000}, {0, 0}}, getText, 3},
        {"host error", {{1, 4096}}, getText, 1},
        {"too small, then an error", {{2, 8000}, {5, 8000}}, getText, 2},
        {"too small with a zero length", {{2, 0}}, invalidText, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeLunInfo& item = addDisk();
        item.setIscsiHost("h1", {"iqn.h1"});
        item.initiatorAnswers = c.answers;
        KrvnProvCtx context(&batch.os, 0, ZY_KRVN_PROV_OP_MAP);
        ZYSO::LUNInfo* one[] = {&item};
        EXPECT_EQ(24, context.initialize(one, 1));
        EXPECT_EQ(c.sentence, context.errorString());
        EXPECT_EQ(c.calls, item.count("getInitiatorInfo"));
        EXPECT_FALSE(item.called("getClusterName"));   // nothing read past the failure
    }
    // The second call gets exactly the length the host asked for.
    EXPECT_EQ(5000, batch[0].initiatorBufferSizes[1]);
    EXPECT_EQ(6000, batch[0].initiatorBufferSizes[2]);
}

TEST_F(ProvContextTest, InitiatorTextThatFillsTheBufferWithoutTerminatorStaysInside) {
    FakeLunInfo& item = addDisk();
    item.setIscsiHost("h1", {"iqn.h1"});
    const std::string text = item.initiatorInfo;
    item.initiatorInfo += std::string(9000, ' ');   // the host fills every byte, no NUL
    item.initiatorAnswers = {{2, 5000}, {0, 5000}};
    ASSERT_EQ(0, init(ZY_KRVN_PROV_OP_MAP)) << ctx->errorString();
    EXPECT_EQ("h1", ctx->disks.begin()->second->mapInfos.at(0).hostName);
}

TEST_F(ProvContextTest, DumpsShowEveryField) {
    KrvnDiskObject disk;
    disk.diskName = "vd1";
    disk.diskType = "BLOCK";
    disk.size = 10;
    disk.sizeUnit = "GB";
    disk.scsiSerial = 4611686018427387904LL;
    disk.isEncrypted = false;
    disk.targetIQN = "iqn.t";
    disk.description = "d";
    std::string out;
    disk.dump(out);
    EXPECT_EQ("Disk - < name-[vd1] type-[BLOCK] size-[10 GB] SCSI serial-[4611686018427387904] block size-[4096] "
              "repln factor-[3] isDeduped-[true] isCompressed-[false] isSCSI3pr-[false] IsEncrypted-[false] "
              "target IQN-[iqn.t] description-[d] >",
              out);
    KrvnDiskObject copy(disk);
    copy.reset();
    EXPECT_TRUE(copy.diskName.empty());
    EXPECT_EQ(4096, copy.blockSize);
    EXPECT_TRUE(copy.isEncrypted);

    KrvnMapInfo host;
    host.hostName = "h1";
    host.hostOS = "linux";
    host.protocol = 3;
    host.endpoints = {"iqn.a", "iqn.b"};
    host.dump(out);
    EXPECT_EQ("Host details - < Host name-[h1] Host OS-[linux] Protocol-[3] EndPoints-[iqn.a, iqn.b] >", out);
}

}  // namespace
}  // namespace provtest
