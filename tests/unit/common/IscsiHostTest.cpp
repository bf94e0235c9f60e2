// iSCSI sessions and host devices: login passes and retries, logout, module loading, the host
// name, device listing and bus rescans, against a scripted iSCSI module and the fake host.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "CWqLibrary.h"
#include "FakeSnapHost.h"
#include "KrvnCommonCtx.h"
#include "KrvnCommonUtils.h"
#include "ScopedSettings.h"
#include "IscsiScriptedModule.h"
#include "WqSleep.h"
#include "ZyISCSIModule.h"

using namespace ZYKorvanCommon;
using iscsitest::ModuleJournal;
using iscsitest::ScriptedModule;

namespace {

class ModuleUtils : public KrvnCommonUtils {
public:
    using KrvnCommonUtils::KrvnCommonUtils;
    void adopt(ZyISCSIModule* module) { iscsi = module; }
};

struct IscsiFixture : ::testing::Test {
    krvntest::ScopedSettings settings;
    krvntest::FakeOSUtil os;
    KrvnCommonCtx ctx{&os};
    ModuleUtils utils{&ctx};
    ModuleJournal journal;

    void SetUp() override { utils.adopt(new ScriptedModule(journal)); }
    size_t countCalls(const std::string& call) const {
        size_t n = 0;
        for (const auto& c : journal.calls) n += (c == call);
        return n;
    }
};

using Pairs = std::vector<std::pair<std::string, std::string>>;

TEST_F(IscsiFixture, LoginWithNothingToDoOnlyWaitsAndSucceeds) {
    Pairs none;
    unsigned long long before = ZyPlatform::virtualSleptMs();
    EXPECT_EQ(0, utils.tryiSCSITargetLogin(none));
    EXPECT_EQ(3000u, ZyPlatform::virtualSleptMs() - before);
    EXPECT_TRUE(journal.calls.empty());
}

TEST_F(IscsiFixture, LoginWithZeroRetriesFailsWithoutTouchingTheModule) {
    ctx.arrayDetails.arrayConfigs.maxRetryCount = 0;
    Pairs pairs = {{"sp1", "iqn.t1"}};
    EXPECT_EQ(1, utils.tryiSCSITargetLogin(pairs));
    EXPECT_EQ(1, ctx.errorCode);
    EXPECT_EQ("Not able to do iSCSI logon for targets after repeated attempts (0 times) and hence "
              "failing the operation.",
              ctx.errorString());
    EXPECT_TRUE(journal.calls.empty());
}

TEST_F(IscsiFixture, OneTargetThatNeverLogsOnCostsEveryPassAndNamesTheCount) {
    journal.failures["iqn.bad"] = -1;
    Pairs pairs = {{"sp1", "iqn.a"}, {"sp2", "iqn.bad"}, {"sp1", "iqn.b"}};
    unsigned long long before = ZyPlatform::virtualSleptMs();
    EXPECT_EQ(1, utils.tryiSCSITargetLogin(pairs));
    EXPECT_EQ(3000u + 6 * 10000u, ZyPlatform::virtualSleptMs() - before);
    EXPECT_EQ(1u, countCalls("login sp1 iqn.a"));
    EXPECT_EQ(1u, countCalls("login sp1 iqn.b"));
    EXPECT_EQ(6u, countCalls("login sp2 iqn.bad"));
    // sp1's targets are all on after the first pass, so only sp2 is rediscovered.
    EXPECT_EQ(1u, countCalls("discover sp1"));
    EXPECT_EQ(6u, countCalls("discover sp2"));
    EXPECT_NE(std::string::npos, ctx.errorString().find("(6 times)"));
}

TEST_F(IscsiFixture, EachPassDiscoversAPortalOnceJustBeforeItsFirstLogin) {
    ctx.arrayDetails.arrayConfigs.sleepInterval = 2;
    journal.failures["iqn.a"] = 1;   // on in the second pass
    Pairs pairs = {{"sp1", "iqn.a"}, {"sp1", "iqn.b"}, {"sp1", "iqn.b"}, {"sp2", "iqn.c"}};
    unsigned long long before = ZyPlatform::virtualSleptMs();
    EXPECT_EQ(0, utils.tryiSCSITargetLogin(pairs));
    EXPECT_EQ(3000u + 2000u, ZyPlatform::virtualSleptMs() - before);
    // The duplicate target counts as logged on without a second login.
    std::vector<std::string> expected = {
        "discover sp1", "login sp1 iqn.a", "login sp1 iqn.b", "discover sp2", "login sp2 iqn.c",
        "discover sp1", "login sp1 iqn.a"};
    EXPECT_EQ(expected, journal.calls);
    EXPECT_EQ(-1, ctx.errorCode);
}

TEST_F(IscsiFixture, LogoutRetriesWithAWaitAfterEveryFailureAndNeverFails) {
    ctx.arrayDetails.arrayConfigs.maxRetryCount = 3;
    ctx.arrayDetails.arrayConfigs.sleepInterval = 1;
    struct Case { int failures; size_t attempts; unsigned waitedMs; };
    for (Case c : {Case{0, 1, 0}, Case{2, 3, 2000}, Case{5, 3, 3000}}) {
        journal.calls.clear();
        journal.logoutFailures = c.failures;
        unsigned long long before = ZyPlatform::virtualSleptMs();
        EXPECT_EQ(0, utils.tryiSCSITargetLogout("sp1", "iqn.x"));
        EXPECT_EQ(c.attempts, countCalls("logout sp1 iqn.x")) << c.failures;
        EXPECT_EQ(c.waitedMs, ZyPlatform::virtualSleptMs() - before) << c.failures;
    }
    EXPECT_EQ(-1, ctx.errorCode);
}

TEST_F(IscsiFixture, InitializingTwiceKeepsTheFirstModule) {
    ZyISCSIModule* first = utils.iscsiModule();
    CWqLibrary other(true);
    EXPECT_EQ(0, utils.initializeZYiSCSIModule(&other));
    EXPECT_EQ(first, utils.iscsiModule());
    EXPECT_FALSE(other.IsLoaded());
}

TEST(IscsiModuleLoading, TheModuleIsFoundByItsBareNameAndAMissingLibraryFailsTheStep) {
    if (access(KRVN_BUILD_LIB_DIR "/libZyISCSI.so", F_OK) != 0) GTEST_SKIP() << "iSCSI module not built";
    krvntest::ScopedSettings settings;
    settings.set("Platform", "iscsiBackend", "sim");
    krvntest::FakeOSUtil os;
    KrvnCommonCtx ctx(&os);
    KrvnCommonUtils utils(&ctx);
    CWqLibrary library(true);
    ASSERT_EQ(0, utils.initializeZYiSCSIModule(&library)) << ctx.errorString();
    EXPECT_NE(nullptr, utils.iscsiModule());
    EXPECT_TRUE(library.IsLoaded());

    KrvnCommonUtils unloaded(&ctx);
    EXPECT_EQ(1, unloaded.initializeZYiSCSIModule(nullptr));
    EXPECT_EQ("Failed to load ZyiSCSI library for iSCSI target logon.", ctx.errorString());
}

TEST_F(IscsiFixture, HostNameAndDeviceListComeFromTheMachineAndTheHost) {
    char expected[256] = {};
    gethostname(expected, sizeof(expected) - 1);
    std::string name;
    EXPECT_EQ(0, utils.getLocalHostName(name));
    EXPECT_EQ(expected, name);

    os.deviceLists = {{"/dev/sda", "/dev/sdb"}};
    std::vector<std::string> devices = {"/dev/old"};
    EXPECT_EQ(0, utils.getDeviceList("host1", devices));
    EXPECT_EQ((std::vector<std::string>{"/dev/sda", "/dev/sdb"}), devices);
    ASSERT_EQ(1u, os.named("getDeviceList").size());
    EXPECT_EQ("host1", os.named("getDeviceList")[0].args.at(0));
    EXPECT_EQ("", os.named("getDeviceList")[0].args.at(1));

    os.deviceListOk = false;
    EXPECT_EQ(1, utils.getDeviceList("host1", devices));
    EXPECT_EQ((std::vector<std::string>{"/dev/sda", "/dev/sdb"}), devices);
    EXPECT_EQ("Failed to get device list for host [host1].", ctx.errorString());
}

TEST_F(IscsiFixture, BusRescanHandsTheHostNullTerminatedListsInOrder) {
    EXPECT_EQ(0, utils.refreshSystemBus("host1", {"iqn.i1", "iqn.i2"}, {"/dev/sdc"}));
    EXPECT_EQ(0, utils.refreshSystemBus("host1", {}, {}));
    os.refreshBusResult = 1;   // ignored
    EXPECT_EQ(0, utils.refreshSystemBus("host2", {"iqn.i1"}, {}));
    ASSERT_EQ(3u, os.refreshes.size());
    EXPECT_EQ("host1", os.refreshes[0].host);
    EXPECT_EQ((std::vector<std::string>{"iqn.i1", "iqn.i2"}), os.refreshes[0].initiators);
    EXPECT_EQ((std::vector<std::string>{"/dev/sdc"}), os.refreshes[0].devices);
    EXPECT_TRUE(os.refreshes[1].initiators.empty());
    EXPECT_TRUE(os.refreshes[1].devices.empty());
    EXPECT_EQ("host2", os.refreshes[2].host);
    EXPECT_EQ(-1, ctx.errorCode);
}

TEST(IscsiWwpn, PortNamesGetAColonAfterEveryPairUpToTheEighth) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"210000e08b05050a", "21:00:00:e0:8b:05:05:0a"},
        {"abcd", "ab:cd"},
        {"", ""},
        {"abc", "ab:c"},
        {"210000E08B05050A99", "21:00:00:E0:8B:05:05:0A99"},
    };
    for (const auto& [in, expected] : cases) {
        std::string out = "stale";
        StringToWWPN(in, out);
        EXPECT_EQ(expected, out) << in;
    }
}

}  // namespace
