// The snapshot context: input checks, VMware detection, configuration and the status helper.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "KrvnSnapEntry.h"
#include "LogCapture.h"
#include "SnapTestSupport.h"

using namespace ZYSnapKrvn;
using namespace krvntest;
using snaptest::Strings;

namespace {

constexpr const char* kProxyKey = "SMCONFIG_STORAGE_PROXY_LIST_KEY";

// Items with complete snapshot metadata: every operation gets through initialize unless a test breaks it.
struct Fixture {
    explicit Fixture(int count = 2) : batch(count), os(&batch.os), items(batch.data()), count(count) {
        batch.setSnapMetadata("CS1", "vol1", "5678", "vol1$snap");
        for (size_t i = 0; i < batch.size(); ++i) batch[i].configLists[kProxyKey] = {"sp1", "sp2"};
    }
    int init(int type) {
        ctx = std::make_unique<KrvnCtx>(os, 0, type);
        return ctx->initialize(items, count);
    }
    krvntest::QuietSettings settings;
    FakeSnapBatch batch;
    ZYSO::ZYOSUtil* os;
    ZYSO::SnapInfo** items;
    int count;
    std::unique_ptr<KrvnCtx> ctx;
};

}  // namespace

TEST(SnapContext, InvalidInputIsRefusedWithItsCodeAndSentenceAndTheFetchStopsThere) {
    struct Case {
        int type;
        std::function<void(Fixture&)> breakIt;
        int code;
        std::string text;
    };
    const std::string noArray =
        "Failed to get array details for array #-[4] from the database. Please ensure the "
        "array details have been entered in Array Management";
    const Case cases[] = {
        {3, [](Fixture& f) { f.os = nullptr; }, 4, "Snap OS util is not valid. It is either NULL or not initialized"},
        {3, [](Fixture& f) { f.count = 0; }, 5, "Invalid snapshot count-[0]"},
        {5, [](Fixture& f) { f.count = -3; }, 5, "Invalid snapshot count-[-3]"},
        {3, [](Fixture& f) { f.items = nullptr; }, 6, "Empty snapshot list passed"},
        {6, [](Fixture& f) { f.batch.setNull(1); }, 6, "Empty snapshot info at idx-[1] of total-[2]"},
        {7, [](Fixture& f) { f.batch[1].arrayNumber = 0; }, 9,
         "The snap-[2] is not associated with any array. Possibly source device discovery could have failed."},
        {3, [](Fixture& f) { f.batch[1].sourceDeviceOk = false; }, 10,
         "Failed to get source device details for snap-[2]"},
        {5, [](Fixture& f) { f.batch[0].sourceDevice.clear(); }, 11,
         "Source device is empty. Unable to check if it is VMware or not."},
        {5, [](Fixture& f) { f.batch[0].configLists.clear(), f.batch[0].arrayRecord.name = "clusterC"; }, 1,
         "Storage proxy is not provided for map operation. Please check and ensure that storage proxies have been "
         "entered in [Storage Proxy List] snap configuration at Array Management for [clusterC] storage array"},
        {3, [](Fixture& f) { f.batch[0].arrayNumber = 4, f.batch[0].arrayInfoFails = true; }, 12, noArray},
        {3,
         [](Fixture& f) {
             f.batch[0].arrayNumber = 4, f.batch[0].arrayInfoFails = f.batch[0].arrayInfoPointerOnFailure = true;
         },
         12, noArray},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Fixture f;
        c.breakIt(f);
        EXPECT_EQ(c.code, f.init(c.type));
        EXPECT_EQ(c.text, f.ctx->errorString());
        EXPECT_TRUE(c.code != 10 || !f.batch[0].called("getArrayInfo"));
        EXPECT_EQ(0, f.batch[0].arrayInfoOutstanding);
    }

    // Prepare runs before any array is known, so a missing array is no fault there.
    Fixture prepare;
    prepare.batch[0].arrayNumber = prepare.batch[1].arrayNumber = 0;
    EXPECT_EQ(0, prepare.init(ZY_KRVN_SNAP_OP_PREPARE));
}

TEST(SnapContext, TheFirstSourceDecidesVMware) {
    struct Case {
        std::string first, second;
        bool vmware;
    };
    for (const Case& c :
         {Case{"/vmfs/a ovltype:vmware", "/dev/sdc", true}, Case{"/dev/sdb", "/vmfs/b ovltype:vmware", false},
          Case{"/vmfs/a OVLTYPE:VMWARE", "/dev/sdc", false}}) {
        SCOPED_TRACE(c.first);
        Fixture h;
        std::tie(h.batch[0].sourceDevice, h.batch[1].sourceDevice) = std::tie(c.first, c.second);
        ASSERT_EQ(0, h.init(ZY_KRVN_SNAP_OP_CREATE)) << h.ctx->errorString();
        EXPECT_EQ(c.vmware, h.ctx->sourceIsVMware);
        for (const auto& entry : h.ctx->snapItems) EXPECT_EQ(c.vmware, entry.second->isVMware);
    }
}

TEST(SnapContext, ConfigurationDefaultsAndThePortFollowingHttps) {
    struct Case {
        std::map<std::string, int> config;
        int logging, retries, interval, port, https;
    };
    const std::string secure = "SMCONFIG_NAME_USE_SECURE_CONNECTION", port = "SMCONFIG_NAME_SERVER_PORT";
    const Case cases[] = {
        {{}, 1, 6, 10, 8080, false},
        {{{secure, 1}}, 1, 6, 10, 8443, true},
        {{{secure, 2}, {port, 9443}}, 1, 6, 10, 9443, true},
        {{{"SMCONFIG_NAME_ENABLE_DIAGNOSTIC_LOGGING", 0},
          {"SMCONFIG_NAME_SNAP_OP_RETRY_COUNT", 2},
          {"SMCONFIG_NAME_SNAP_OP_RETRY_INTERVAL_IN_SEC", 3},
          {port, 8000}},
         0,
         2,
         3,
         8000,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.port);
        Fixture f;
        f.batch[0].configInts = c.config;
        ASSERT_EQ(0, f.init(ZY_KRVN_SNAP_OP_CREATE)) << f.ctx->errorString();
        const auto& cfg = f.ctx->arrayDetails.arrayConfigs;
        EXPECT_EQ(
            (std::vector<int>{c.logging, c.retries, c.interval, c.port, c.https}),
            (std::vector<int>{cfg.restLogging, cfg.maxRetryCount, cfg.sleepInterval, cfg.serverPort, cfg.useHttps}));
        EXPECT_FALSE(f.batch[1].called("getConfigInt"));  // only the first item is asked
    }
}

TEST(SnapContext, StorageProxyIsRequiredOnlyForMapAndDroppedForUnmap) {  // map's refusal is in the table above
    Fixture unmap, create;
    ASSERT_EQ(0, unmap.init(ZY_KRVN_SNAP_OP_UNMAP)) << unmap.ctx->errorString();
    EXPECT_EQ("", unmap.ctx->arrayDetails.storageProxy);  // the clone's metadata names it
    ASSERT_EQ(0, create.init(ZY_KRVN_SNAP_OP_CREATE)) << create.ctx->errorString();
    EXPECT_EQ("sp1", create.ctx->arrayDetails.storageProxy);
    create.batch[0].configLists.clear();
    EXPECT_EQ(0, create.init(ZY_KRVN_SNAP_OP_CREATE)) << "only map needs a storage proxy";
}

TEST(SnapContext, UnusableConfigurationListItemsAreSkipped) {
    Fixture f(1);
    auto& item = f.batch[0];
    item.configLists[kProxyKey] = {"p0", "p1", "p2", "p3", "p4", "p5"};
    item.configItemLength[{kProxyKey, 1}] = 0;
    item.configItemLength[{kProxyKey, 2}] = -5;
    item.configItemLength[{kProxyKey, 3}] = 64 * 1024 + 1;
    item.configItemFetchFails.insert({kProxyKey, 4});
    KrvnCtx ctx(&f.batch.os, 0, ZY_KRVN_SNAP_OP_CREATE);
    Strings list = {"stale"};
    ctx.readSnapConfigList(&item, kProxyKey, list);
    EXPECT_EQ((Strings{"p0", "p5"}), list);
    // The absurd lengths were never handed back to the host as buffer sizes.
    for (const auto& c : item.named("getConfigListItem"))
        EXPECT_FALSE(c.args[2] == "buffer" && (c.args[1] == "2" || c.args[1] == "3"));
}

TEST(SnapContext, StatusHelpersMarkEveryUnfinishedItemWhateverTheCount) {
    // More items than a 16-bit count can name: the tail must be marked too.
    FakeSnapBatch batch(33000);
    batch[0].status = kSnapCreated;
    batch[32999].status = kSnapPrepareFailed;
    batch.setNull(32768);
    setSnapStatus(kSnapCreated, kSnapCreateFailed, batch.data(), batch.count());
    EXPECT_EQ((std::vector<int>{kSnapCreated, kSnapCreateFailed, kSnapCreateFailed, kSnapNew}),
              (std::vector<int>{batch[0].status, batch[1].status, batch[32999].status, batch[32768].status}));
    EXPECT_FALSE(batch[0].called("setStatus"));

    setSnapStatus(kSnapCreated, kSnapCreateFailed, nullptr, 3);
}

TEST(SnapContext, TheSupportCheckEndsItsInitialisationAsEveryCallDoes) {
    snaptest::DiskSettings settings;
    settings.disks.add("sdk", "1001", snaptest::kClusterSerial);
    krvntest::FakeOSUtil os;
    char buffer[8] = {};
    krvntest::LogCapture log;
    EXPECT_EQ(0, snapIsSupported("/dev/sdk", &os, buffer, sizeof buffer));
    const Strings texts = log.texts();
    Strings initialisation;
    std::copy_if(texts.begin(), texts.end(), std::back_inserter(initialisation), [](const std::string& t) {
        return t.find("Initializing context object") != std::string::npos ||
               t.find("Creating internal objects") != std::string::npos;
    });
    EXPECT_EQ((Strings{"KRVN  Initializing context object...", "KRVN  Creating internal objects... - done",
                       "KRVN  Initializing context object... - done"}),
              initialisation);
}
