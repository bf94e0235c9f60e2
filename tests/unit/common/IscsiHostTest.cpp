// iSCSI sessions and host devices: login passes and retries, logout, module loading, the host
// name, device listing and bus rescans, against a scripted iSCSI module and the fake host.
#include <gtest/gtest.h>

#include <unistd.h>
#include <string>
#include <vector>

#include "CWqLibrary.h"
#include "FakeSnapHost.h"
#include "KrvnCommonCtx.h"
#include "KrvnCommonUtils.h"
#include "ScopedSettings.h"
#include "ScriptedIscsiModule.h"
#include "WqSleep.h"

using namespace ZYKorvanCommon;
using Strings = std::vector<std::string>;
using Pairs = std::vector<std::pair<std::string, std::string>>;

namespace {

struct IscsiFixture : ::testing::Test {
    krvntest::ScopedSettings settings;
    krvntest::FakeOSUtil os;
    KrvnCommonCtx ctx{&os};
    krvntest::WithIscsiModule<KrvnCommonUtils> utils{&ctx};
    krvntest::IscsiJournal journal;
    unsigned long long sleptFrom = ZyPlatform::virtualSleptMs();

    void SetUp() override { utils.adopt(new krvntest::ScriptedIscsiModule(journal)); }
    unsigned long long slept() { return ZyPlatform::virtualSleptMs() - sleptFrom; }
    int login(Pairs targets) { return utils.tryiSCSITargetLogin(targets); }
};

TEST_F(IscsiFixture, LoginWithNothingToDoOnlyWaitsAndWithoutRetriesFailsUntried) {
    EXPECT_EQ(0, login(Pairs{}));
    EXPECT_EQ(3000u, slept());
    ctx.arrayDetails.arrayConfigs.maxRetryCount = 0;
    EXPECT_EQ(1, login(Pairs{{"sp1", "iqn.t1"}}));
    EXPECT_EQ(1, ctx.errorCode);
    EXPECT_EQ(
        "Not able to do iSCSI logon for targets after repeated attempts (0 times) and hence failing the "
        "operation.",
        ctx.errorString());
    EXPECT_TRUE(journal.calls.empty());
}

TEST_F(IscsiFixture, OneTargetThatNeverLogsOnCostsEveryPassAndNamesTheCount) {
    journal.failures["iqn.bad"] = -1;
    EXPECT_EQ(1, login(Pairs{{"sp1", "iqn.a"}, {"sp2", "iqn.bad"}, {"sp1", "iqn.b"}}));
    EXPECT_EQ(3000u + 6 * 10000u, slept());
    // sp1's targets are all on after the first pass, so only sp2 is rediscovered.
    std::vector<size_t> counts;
    for (const char* call : {"login sp1 iqn.a", "login sp1 iqn.b", "login sp2 iqn.bad", "discover sp1", "discover sp2"})
        counts.push_back(journal.count(call));
    EXPECT_EQ((std::vector<size_t>{1, 1, 6, 1, 6}), counts);
    EXPECT_NE(std::string::npos, ctx.errorString().find("(6 times)"));
}

TEST_F(IscsiFixture, EachPassDiscoversAPortalOnceJustBeforeItsFirstLogin) {
    ctx.arrayDetails.arrayConfigs.sleepInterval = 2;
    journal.failures["iqn.a"] = 1;  // on in the second pass
    EXPECT_EQ(0, login(Pairs{{"sp1", "iqn.a"}, {"sp1", "iqn.b"}, {"sp1", "iqn.b"}, {"sp2", "iqn.c"}}));
    EXPECT_EQ(3000u + 2000u, slept());
    // The duplicate target counts as logged on without a second login.
    EXPECT_EQ((Strings{"discover sp1", "login sp1 iqn.a", "login sp1 iqn.b", "discover sp2", "login sp2 iqn.c",
                       "discover sp1", "login sp1 iqn.a"}),
              journal.calls);
    EXPECT_EQ(-1, ctx.errorCode);
}

TEST_F(IscsiFixture, LogoutRetriesWithAWaitAfterEveryFailureAndNeverFails) {
    ctx.arrayDetails.arrayConfigs.maxRetryCount = 3;
    ctx.arrayDetails.arrayConfigs.sleepInterval = 1;
    struct Case {
        int failures;
        size_t attempts;
        unsigned waitedMs;
    };
    for (Case c : {Case{0, 1, 0}, Case{2, 3, 2000}, Case{5, 3, 3000}}) {
        journal.calls.clear();
        journal.logoutFailures = c.failures;
        sleptFrom = ZyPlatform::virtualSleptMs();
        EXPECT_EQ(0, utils.tryiSCSITargetLogout("sp1", "iqn.x"));
        EXPECT_EQ(c.attempts, journal.count("logout sp1 iqn.x")) << c.failures;
        EXPECT_EQ(c.waitedMs, slept()) << c.failures;
    }
    EXPECT_EQ(-1, ctx.errorCode);
}

TEST_F(IscsiFixture, TheModuleIsLoadedOnceByItsBareNameAndAMissingLibraryFailsTheStep) {
    ZyISCSIModule* first = utils.iscsiModule();
    CWqLibrary other(true);
    EXPECT_EQ(0, utils.initializeZYiSCSIModule(&other));
    EXPECT_EQ(first, utils.iscsiModule());
    EXPECT_FALSE(other.IsLoaded());

    KrvnCommonUtils unloaded(&ctx);
    EXPECT_EQ(1, unloaded.initializeZYiSCSIModule(nullptr));
    EXPECT_EQ("Failed to load ZyiSCSI library for iSCSI target logon.", ctx.errorString());

    if (access(KRVN_BUILD_LIB_DIR "/libZyISCSI.so", F_OK) != 0) GTEST_SKIP() << "iSCSI module not built";
    settings.set("Platform", "iscsiBackend", "sim");
    KrvnCommonUtils loaded(&ctx);
    KrvnIscsiModuleScope scope(loaded);  // the instance goes before its library does
    ASSERT_EQ(0, scope.load()) << ctx.errorString();
    EXPECT_NE(nullptr, loaded.iscsiModule());
}

TEST_F(IscsiFixture, HostNameDeviceListAndBusRescanComeFromTheMachineAndTheHost) {
    char expected[256] = {};
    gethostname(expected, sizeof(expected) - 1);
    std::string name;
    EXPECT_EQ(0, utils.getLocalHostName(name));
    EXPECT_EQ(expected, name);

    os.deviceLists = {{"/dev/sda", "/dev/sdb"}};
    Strings devices = {"/dev/old"};
    EXPECT_EQ(0, utils.getDeviceList("host1", devices));
    EXPECT_EQ((Strings{"/dev/sda", "/dev/sdb"}), devices);
    EXPECT_EQ((Strings{"host1", ""}), os.named("getDeviceList").at(0).args);
    os.deviceListOk = false;
    EXPECT_EQ(1, utils.getDeviceList("host1", devices));
    EXPECT_EQ((Strings{"/dev/sda", "/dev/sdb"}), devices);
    EXPECT_EQ("Failed to get device list for host [host1].", ctx.errorString());

    // The host gets null-terminated lists in order; what it answers is ignored.
    ctx.resetError();
    EXPECT_EQ(0, utils.refreshSystemBus("host1", {"iqn.i1", "iqn.i2"}, {"/dev/sdc"}));
    os.refreshBusResult = 1;
    EXPECT_EQ(0, utils.refreshSystemBus("host2", {}, {}));
    ASSERT_EQ(2u, os.refreshes.size());
    EXPECT_EQ("host1", os.refreshes[0].host);
    EXPECT_EQ((Strings{"iqn.i1", "iqn.i2"}), os.refreshes[0].initiators);
    EXPECT_EQ((Strings{"/dev/sdc"}), os.refreshes[0].devices);
    EXPECT_EQ("host2", os.refreshes[1].host);
    EXPECT_TRUE(os.refreshes[1].initiators.empty() && os.refreshes[1].devices.empty());
    EXPECT_EQ(-1, ctx.errorCode);
}

TEST(IscsiWwpn, PortNamesGetAColonAfterEveryPairUpToTheEighth) {
    for (const auto& [in, expected] : Pairs{{"210000e08b05050a", "21:00:00:e0:8b:05:05:0a"},
                                            {"abcd", "ab:cd"},
                                            {"", ""},
                                            {"abc", "ab:c"},
                                            {"210000E08B05050A99", "21:00:00:E0:8B:05:05:0A99"}}) {
        std::string out = "stale";
        StringToWWPN(in, out);
        EXPECT_EQ(expected, out) << in;
    }
}

}  // namespace
