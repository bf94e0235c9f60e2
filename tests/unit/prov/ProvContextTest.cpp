// The provisioning context: validation, what it reads from the host's items, the map
// information text, and the records it hands to the engine.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "ProvTestCluster.h"

namespace provtest {
namespace {

class ProvContextTest : public ProvClusterTest {
protected:
    // A fresh context of the operation over the batch; the result of initialize().
    int init(int op) {
        ctx = std::make_unique<KrvnProvCtx>(&batch.os, 0, op);
        return ctx->initialize(batch.data(), batch.count());
    }
    const KrvnDiskObject& only() const { return *ctx->disks.begin()->second; }
    std::unique_ptr<KrvnProvCtx> ctx;
};

TEST_F(ProvContextTest, EachItemReadThatFailsIsRefusedWithItsCodeAndSentence) {
    const std::string credential = "Failed to decrypt cluster credential";
    struct Case {
        std::string name;
        std::function<void(FakeLunInfo&)> spoil;
        int code;
        std::string sentence;
    };
    auto failing = [](const char* getter) { return [getter](FakeLunInfo& item) { item.failing = {getter}; }; };
    auto size = [](long bytes) { return [bytes](FakeLunInfo& item) { item.size = bytes; }; };
    const std::string below = " for the device-[12]. Expecting size-[1 GB] or more";
    auto stored = [](std::string text) { return [text](FakeLunInfo& item) { item.storedPassword = text; }; };
    const std::vector<Case> cases = {
        {"disk name", failing("getDiskName"), 8, "Failed to get disk name for the device-[12]"},
        {"size", failing("getSize"), 8, "Failed to get disk size for the device-[12]"},
        {"size below 1 GB", size((1L << 30) - 1), 8, "Invalid disk size-[1073741823]" + below},
        {"no size", size(0), 8, "Invalid disk size-[0]" + below},
        {"negative size", size(-5 * (1L << 30)), 8, "Invalid disk size-[-5368709120]" + below},
        {"cluster name", failing("getClusterName"), 13, "Failed to get cluster name from the disk info"},
        {"control host", failing("getClusterControlHost"), 13,
         "Failed to get cluster control host information from the disk info"},
        {"user", failing("getClusterUserName"), 13, "Failed to get user name details from the disk info"},
        {"password", failing("getClusterPassword"), 13,
         "Failed to get cluster password information from the disk info"},
        {"password not base64", stored("ZYP1:not-base64"), 13, credential},
        {"password in the clear", stored("plain"), 13, credential},
        {"empty password", stored(key.encrypt("")), 13, credential},
        {"empty user", [](FakeLunInfo& item) { item.userName = ""; }, 13, credential},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        batch = FakeLunBatch();
        c.spoil(addDisk(12));
        logs.clear();
        EXPECT_EQ(c.code, init(ZY_KRVN_PROV_OP_CREATE));
        EXPECT_EQ(c.sentence, ctx->errorString());
        EXPECT_TRUE(logs.containsAt(-1, "KRVN  Provisioning operation failed. Error-[" + std::to_string(c.code) + ":"));
    }
}

TEST_F(ProvContextTest, ClusterDetailsComeFromTheLowestIdAndTheLaterOfTwoEqualIdsWins) {
    addDisk(9);
    addDisk(3);
    addDisk(9).diskName = "late";
    ASSERT_EQ(0, init(ZY_KRVN_PROV_OP_DELETE)) << ctx->errorString();
    EXPECT_EQ("clusterA", ctx->arrayDetails.arrayId);
    EXPECT_EQ(kClearPassword, ctx->arrayDetails.userPswd);
    EXPECT_FALSE(batch[0].called("getClusterName") || batch[2].called("getClusterName"));
    EXPECT_FALSE(logs.contains(kClearPassword)) << "the clear password reached the log";
    ASSERT_EQ(2u, ctx->disks.size());
    EXPECT_EQ("late", ctx->disks.at(9)->diskName);
    EXPECT_EQ(&batch[2], ctx->disks.at(9)->lunInfo);
}

// Sizes become whole GB; a block size other than the three the cluster takes becomes 4096.
TEST_F(ProvContextTest, DiskRecordTakesWholeGigabytesAndOnlyTheThreeBlockSizes) {
    const long GiB = 1L << 30;
    const std::vector<std::tuple<long, long, long long, int>> cases = {
        // bytes, block (-1: fails), GB, block
        {GiB + GiB / 2, 512, 1, 512},
        {GiB, 4096, 1, 4096},
        {10 * GiB + 1, 65536, 10, 65536},
        {LONG_MAX, 8192, LONG_MAX / GiB, 4096},
        {GiB, 0, 1, 4096},
        {GiB, -512, 1, 4096},
        {GiB, 1L << 40, 1, 4096},
        {GiB, -1, 1, 4096},
    };
    FakeLunInfo& item = addDisk();
    for (const auto& [bytes, block, wholeGB, used] : cases) {
        SCOPED_TRACE(std::to_string(bytes) + " " + std::to_string(block));
        item.size = bytes;
        item.blockSize = block == -1 ? 512 : block;
        if (block == -1) item.failing.insert("getBlockSize");
        ASSERT_EQ(0, init(ZY_KRVN_PROV_OP_RESIZE)) << ctx->errorString();
        EXPECT_EQ(wholeGB, ctx->getDiskParams(&only()).size);
        EXPECT_EQ(used, only().blockSize);
    }
}

TEST_F(ProvContextTest, GlobalSettingsOfTheLowestIdShapeEveryNewDisk) {
    FakeLunInfo& other = addDisk(2);
    FakeLunInfo& lowest = addDisk(1);
    lowest.description = "payroll";
    other.settingBools["bZYKorvanCreateDiskEncryptDisable"] = true;  // never read
    // Encryption off, factor set; encrypted, factor sent. 0 keeps the default; a factor beyond the
    // record's 16 bits is clamped, not wrapped.
    const std::vector<std::tuple<bool, int, bool, short>> cases = {
        {false, 5, true, 5}, {true, 0, false, 3}, {false, 70000, true, SHRT_MAX}};
    for (const auto& [disable, factor, encrypted, sent] : cases) {
        SCOPED_TRACE(factor);
        lowest.settingBools["bZYKorvanCreateDiskEncryptDisable"] = disable;
        lowest.settingInts["nZYKorvanReplicationFactor"] = factor;
        ASSERT_EQ(0, init(ZY_KRVN_PROV_OP_CREATE)) << ctx->errorString();
        for (auto& entry : ctx->disks) {
            EXPECT_EQ(encrypted, entry.second->isEncrypted);
            EXPECT_EQ(sent, ctx->getDiskParams(entry.second).replicationFactor);
        }
    }
    EXPECT_FALSE(other.called("getSettingInt") || other.called("getSettingBool"));
    EXPECT_EQ("payroll", ctx->disks.at(1)->description);
}

TEST_F(ProvContextTest, ArrayConfigurationIsReadWithDefaultsAndTheProxyDelimiter) {
    FakeLunInfo& item = addDisk();
    item.configs = {{"SMCONFIG_NAME_ENABLE_DIAGNOSTIC_LOGGING", "0"},
                    {"SMCONFIG_NAME_SNAP_OP_RETRY_COUNT", "2"},
                    {"SMCONFIG_NAME_SNAP_OP_RETRY_INTERVAL_IN_SEC", ""},
                    {"SMCONFIG_NAME_USE_SECURE_CONNECTION", "1"},
                    {"SMCONFIG_STORAGE_PROXY_LIST_KEY", "spA|:|spB|spC|:|"}};
    ASSERT_EQ(0, init(ZY_KRVN_PROV_OP_DELETE));
    const auto& cfg = ctx->arrayDetails.arrayConfigs;
    EXPECT_EQ(0, cfg.restLogging);
    EXPECT_EQ(2, cfg.maxRetryCount);
    EXPECT_EQ(10, cfg.sleepInterval);  // an empty value keeps the default
    EXPECT_TRUE(cfg.useHttps);
    EXPECT_EQ(8443, cfg.serverPort);  // no port key: the protocol's port
    EXPECT_EQ((std::vector<std::string>{"spA", "spB|spC"}), cfg.storageProxyList);
    EXPECT_EQ("spA", ctx->arrayDetails.storageProxy);

    item.configs = {{"SMCONFIG_NAME_SERVER_PORT", "9000"}, {"SMCONFIG_NAME_SNAP_OP_RETRY_COUNT", "99999999999"}};
    ASSERT_EQ(0, init(ZY_KRVN_PROV_OP_DELETE));
    EXPECT_EQ(9000, ctx->arrayDetails.arrayConfigs.serverPort);
    EXPECT_EQ(INT_MAX, ctx->arrayDetails.arrayConfigs.maxRetryCount);
    item.configs.clear();
    ASSERT_EQ(0, init(ZY_KRVN_PROV_OP_DELETE));
    EXPECT_EQ(8080, ctx->arrayDetails.arrayConfigs.serverPort);
}

TEST_F(ProvContextTest, MapNeedsAStorageProxyAndHostsWhileUnmapNeedsOnlyHosts) {
    FakeLunInfo& item = addDisk();
    item.setIscsiHost("h1", {"iqn.h1"});
    item.configs.erase(ZY_KRVN_PROV_CFG_PROXY_LIST);
    EXPECT_EQ(13, init(ZY_KRVN_PROV_OP_MAP));
    EXPECT_EQ("Storage proxy not provided in the input", ctx->errorString());
    ASSERT_EQ(0, init(ZY_KRVN_PROV_OP_UNMAP)) << ctx->errorString();
    ASSERT_EQ(1u, only().mapInfos.size());
    EXPECT_EQ("h1", only().mapInfos[0].hostName);

    item.initiatorInfo = R"({"note":"nothing"})";
    for (int op : {ZY_KRVN_PROV_OP_MAP, ZY_KRVN_PROV_OP_UNMAP}) {
        item.configs[ZY_KRVN_PROV_CFG_PROXY_LIST] = "sp1";
        EXPECT_EQ(24, init(op));
        EXPECT_EQ(R"(Unable to get initiator information from [{"note":"nothing"}] to map the Disks)",
                  ctx->errorString());
    }
}

// Accepted texts give their hosts (in the log form); refused ones code 24.
TEST_F(ProvContextTest, MapInformationTextIsReadByItsRules) {
    const std::string refused = "refused";
    auto host = [](std::string name, std::string os, int protocol, std::string endpoints) {
        return "Host details - < Host name-[" + name + "] Host OS-[" + os + "] Protocol-[" + std::to_string(protocol) +
               "] EndPoints-[" + endpoints + "] >";
    };
    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"({"hosts":[{"hostname":"h1","hostos":"linux","protocol":"3","endpoints":[{"endpoint":"iqn.a"},{"endpoint":"iqn.b"}]},)"
         R"({"hostname":"h2","protocol":"4","endpoints":[]}]})",
         host("h1", "linux", 3, "iqn.a, iqn.b") + host("h2", "", 4, "")},
        {R"({"hosts":[{"hostname":"h","protocol":3}]})", host("h", "", 0, "")},  // a number is no protocol
        {R"({"hosts":[{"protocol":"5"},{"protocol":"iscsi"}]})", host("", "", 5, "") + host("", "", 0, "")},
        {R"({"hosts":[{"protocol":"3","endpoints":[{},{"name":"x"},{"endpoint":7}]}]})", host("", "", 3, ", ")},
        {R"({"other":1})", ""},
        {R"({"hosts":{"hostname":"h"}})", ""},
        {"{}", refused},
        {"hosts=h1", refused},
        {R"([{"hosts":[]}])", refused},
        {"", refused},
        {R"({"hosts":["h1"]})", refused},
        {R"({"hosts":[{"hostname":"h","endpoints":["iqn.a"]}]})", refused},
    };
    addDisk();
    init(ZY_KRVN_PROV_OP_DELETE);
    for (const auto& [text, hosts] : cases) {
        SCOPED_TRACE(text);
        ctx->resetError();
        std::vector<KrvnMapInfo> out;
        const int rc = ctx->parseMapInfo(text.c_str(), out);
        std::string read = rc == 0 ? "" : refused;
        for (const auto& info : out) {
            std::string line;
            info.dump(line);
            read += line;
        }
        EXPECT_EQ(hosts, read);
        if (hosts == refused) {
            EXPECT_EQ(24, rc);
            EXPECT_EQ("Unable to parse initiator information fom [" + text + "]", ctx->errorString());
        }
    }
}

TEST_F(ProvContextTest, InitiatorBufferGrowsToWhatTheHostAsksAndStaysInsideIt) {
    FakeLunInfo& item = addDisk();
    std::vector<std::string> initiators;
    for (int i = 0; i < 300; ++i) initiators.push_back("iqn.2001-04.com.example:host-initiator-" + std::to_string(i));
    item.setIscsiHost("big", initiators);
    ASSERT_GT(item.initiatorInfo.size(), 4096u);
    ASSERT_EQ(0, init(ZY_KRVN_PROV_OP_MAP)) << ctx->errorString();
    EXPECT_EQ((std::vector<unsigned short>{4096, static_cast<unsigned short>(item.initiatorInfo.size() + 1)}),
              item.initiatorBufferSizes);
    EXPECT_EQ(300u, only().mapInfos[0].endpoints.size());

    // A host that fills every byte of the buffer it was given, with no terminator.
    item.setIscsiHost("h1", {"iqn.h1"});
    item.initiatorInfo += std::string(9000, ' ');
    item.initiatorAnswers = {{2, 5000}, {0, 5000}};
    ASSERT_EQ(0, init(ZY_KRVN_PROV_OP_MAP)) << ctx->errorString();
    EXPECT_EQ("h1", only().mapInfos.at(0).hostName);
}

TEST_F(ProvContextTest, InitiatorInformationFailuresAreCode24WithTheirSentence) {
    const std::string getText = "Unable to get initiator information from disk object.";
    // The host's answers in turn ({result, length}), the sentence, the buffer length of each call.
    using Answers = std::vector<std::pair<int, unsigned short>>;
    const std::vector<std::tuple<Answers, std::string, std::vector<unsigned short>>> cases = {
        {{{2, 5000}, {2, 6000}, {2, 7000}, {0, 0}}, getText, {4096, 5000, 6000}},  // too small three times
        {{{1, 4096}}, getText, {4096}},
        {{{2, 8000}, {5, 8000}}, getText, {4096, 8000}},
        {{{2, 0}}, "Got invalid initiator information from disk object.", {4096}},  // too small, yet no length
    };
    for (const auto& [answers, sentence, offered] : cases) {
        SCOPED_TRACE(::testing::PrintToString(answers));
        batch = FakeLunBatch();
        FakeLunInfo& item = addDisk();
        item.setIscsiHost("h1", {"iqn.h1"});
        item.initiatorAnswers = answers;
        EXPECT_EQ(24, init(ZY_KRVN_PROV_OP_MAP));
        EXPECT_EQ(sentence, ctx->errorString());
        EXPECT_EQ(offered, item.initiatorBufferSizes);
        EXPECT_FALSE(item.called("getClusterName"));  // nothing read past the failure
    }
}

}  // namespace
}  // namespace provtest
