// The snapshot context: input checks, per-item objects, array details and configuration.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "FakeSnapHost.h"
#include "KrvnCtx.h"
#include "LogCapture.h"
#include "SnapTestSupport.h"

using namespace ZYSnapKrvn;
using krvntest::FakeSnapBatch;
using krvntest::FakeSnapInfo;

namespace {

constexpr const char* kProxyKey = "SMCONFIG_STORAGE_PROXY_LIST_KEY";

// A batch whose items all carry complete snapshot metadata, so every operation type gets
// through initialize unless a test breaks something on purpose.
struct Fixture {
    explicit Fixture(int count = 2) : batch(count) {
        batch.setSnapMetadata("CS1", "vol1", "5678", "vol1$snap");
        for (size_t i = 0; i < batch.size(); ++i) batch[i].configLists[kProxyKey] = {"sp1", "sp2"};
    }
    int init(int type) {
        ctx = std::make_unique<KrvnCtx>(&batch.os, 0, type);
        return ctx->initialize(batch.data(), batch.count());
    }
    krvntest::QuietSettings settings;
    FakeSnapBatch batch;
    std::unique_ptr<KrvnCtx> ctx;
};

}  // namespace

TEST(SnapContext, InvalidInputIsRefusedWithItsCodeAndSentence) {
    struct Case {
        const char* what;
        int type;
        bool nullOs;
        int count;          // kOwnCount: the batch's own
        bool nullArray;
        int nullItem;       // index made null, -1 none
        int noArrayItem;    // index whose array number is 0, -1 none
        int code;
        std::string text;
    };
    constexpr int kOwnCount = -1000;
    const std::vector<Case> cases = {
        {"no OS utility", 3, true, kOwnCount, false, -1, -1, 4,
         "Snap OS util is not valid. It is either NULL or not initialized"},
        {"zero count", 3, false, 0, false, -1, -1, 5, "Invalid snapshot count-[0]"},
        {"negative count", 5, false, -3, false, -1, -1, 5, "Invalid snapshot count-[-3]"},
        {"no array", 3, false, kOwnCount, true, -1, -1, 6, "Empty snapshot list passed"},
        {"null item", 6, false, kOwnCount, false, 1, -1, 6, "Empty snapshot info at idx-[1] of total-[2]"},
        {"item without array", 7, false, kOwnCount, false, -1, 1, 9,
         "The snap-[2] is not associated with any array. Possibly source device discovery could have failed."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Fixture f;
        if (c.nullItem >= 0) f.batch.setNull(static_cast<size_t>(c.nullItem));
        if (c.noArrayItem >= 0) f.batch[static_cast<size_t>(c.noArrayItem)].arrayNumber = 0;
        KrvnCtx ctx(c.nullOs ? nullptr : &f.batch.os, 0, c.type);
        EXPECT_EQ(c.code, ctx.initialize(c.nullArray ? nullptr : f.batch.data(), c.count == kOwnCount ? f.batch.count() : c.count));
        EXPECT_EQ(c.code, ctx.errorCode);
        EXPECT_EQ(c.text, ctx.errorString());
        EXPECT_TRUE(ctx.snapItems.empty());
    }

    // Prepare runs before any array is known, so a missing array is no fault there.
    Fixture prepare;
    prepare.batch[0].arrayNumber = 0;
    prepare.batch[1].arrayNumber = 0;
    EXPECT_EQ(0, prepare.init(ZY_KRVN_SNAP_OP_PREPARE));
    EXPECT_EQ(2u, prepare.ctx->snapItems.size());
}

TEST(SnapContext, DeleteDropsItemsThatAreGoneOrNeverHadAnArray) {
    {
        Fixture f(3);
        f.batch[0].status = ZY_KRVN_SNAP_STATUS_DELETED;
        f.batch[2].arrayNumber = 0;
        krvntest::LogCapture log;
        ASSERT_EQ(0, f.init(ZY_KRVN_SNAP_OP_DELETE)) << f.ctx->errorString();
        EXPECT_EQ(ZY_KRVN_SNAP_STATUS_DELETED, f.batch[2].status);
        EXPECT_TRUE(log.containsAt(-1, "KRVN  The snap-[3] is not associated with any array."));
        ASSERT_EQ(1u, f.ctx->snapItems.size());
        EXPECT_EQ(&f.batch[1], f.ctx->snapItems.at(2)->snapInfo);
    }
    {
        // Nothing left to delete: no objects, and the host is asked for nothing more.
        Fixture f(2);
        f.batch[0].status = ZY_KRVN_SNAP_STATUS_DELETED;
        f.batch[1].arrayNumber = 0;
        ASSERT_EQ(0, f.init(ZY_KRVN_SNAP_OP_DELETE));
        EXPECT_TRUE(f.ctx->snapItems.empty());
        EXPECT_FALSE(f.batch[0].called("getSourceDevice"));
        EXPECT_FALSE(f.batch[0].called("getArrayInfo"));
    }
}

TEST(SnapContext, ObjectsAreKeyedBySnapIdAndTheLaterDuplicateWins) {
    krvntest::QuietSettings settings;
    FakeSnapBatch batch;
    batch.add(30).sourceDevice = "/dev/sdx";
    batch.add(10);
    batch.add(30).sourceDevice = "/dev/sdy";
    batch.setSnapMetadata("CS1", "vol1", "5678", "snapA");
    KrvnCtx ctx(&batch.os, 0, ZY_KRVN_SNAP_OP_REVERT);
    ASSERT_EQ(0, ctx.initialize(batch.data(), batch.count())) << ctx.errorString();
    ASSERT_EQ(2u, ctx.snapItems.size());
    EXPECT_EQ(10, ctx.snapItems.begin()->first);
    EXPECT_EQ(&batch[2], ctx.snapItems.at(30)->snapInfo);
    EXPECT_EQ("/dev/sdy", ctx.snapItems.at(30)->sourceDevice);
    EXPECT_EQ("snapA", ctx.snapItems.at(30)->snapName);
    EXPECT_EQ("uuid-30-1", ctx.snapItems.at(30)->snapUUID);
    std::string text;
    ctx.snapItems.at(30)->dump(text);
    EXPECT_EQ("Source dev-[/dev/sdy], Source vDisk id-[5678], Source vDisk name-[vol1], Snap name-[snapA], "
              "Snap UUID-[uuid-30-1], Is VMware-[false]",
              text);
    EXPECT_EQ(3, ctx.itemCount);
    EXPECT_EQ(batch.data(), ctx.snapItemsArray);
}

TEST(SnapContext, SourceDeviceProblemsStopTheFetch) {
    {
        Fixture f;
        f.batch[1].sourceDeviceOk = false;
        EXPECT_EQ(10, f.init(ZY_KRVN_SNAP_OP_CREATE));
        EXPECT_EQ("Failed to get source device details for snap-[2]", f.ctx->errorString());
        EXPECT_FALSE(f.batch[0].called("getArrayInfo"));
    }
    {
        Fixture f;
        f.batch[0].sourceDevice.clear();
        EXPECT_EQ(11, f.init(ZY_KRVN_SNAP_OP_MAP));
        EXPECT_EQ("Source device is empty. Unable to check if it is VMware or not.", f.ctx->errorString());
    }
}

TEST(SnapContext, TheFirstSourceDecidesWhetherEveryObjectIsVMware) {
    struct Case {
        std::string first, second;
        bool vmware;
    };
    for (const Case& c : std::vector<Case>{{"/vmfs/a ovltype:vmware", "/dev/sdc", true},
                                           {"/dev/sdb", "/vmfs/b ovltype:vmware", false},
                                           {"/vmfs/a OVLTYPE:VMWARE", "/dev/sdc", false}}) {
        SCOPED_TRACE(c.first);
        Fixture f;
        f.batch[0].sourceDevice = c.first;
        f.batch[1].sourceDevice = c.second;
        ASSERT_EQ(0, f.init(ZY_KRVN_SNAP_OP_CREATE)) << f.ctx->errorString();
        EXPECT_EQ(c.vmware, f.ctx->sourceIsVMware);
        for (const auto& entry : f.ctx->snapItems) EXPECT_EQ(c.vmware, entry.second->isVMware);
    }
}

TEST(SnapContext, ArrayDetailsComeFromTheHostRecordWithTheClearPassword) {
    Fixture f;
    FakeSnapInfo& first = f.batch[0];
    first.arrayRecord.number = 7;
    first.arrayRecord.name = "clusterB";
    first.arrayRecord.controlHost = "10.0.0.9";
    first.arrayRecord.user = "ops";
    first.arrayRecord.encryptedPassword = "ZYP1:cipher";
    first.decrypt = [](const std::string& s) { return s == "ZYP1:cipher" ? std::string("clear-pw") : std::string(); };
    krvntest::LogCapture log;
    ASSERT_EQ(0, f.init(ZY_KRVN_SNAP_OP_REVERT)) << f.ctx->errorString();
    const auto& d = f.ctx->arrayDetails;
    EXPECT_EQ(7, d.arrayNumber);
    EXPECT_EQ("clusterB", d.arrayId);
    EXPECT_EQ("10.0.0.9", d.controlHostName);
    EXPECT_EQ("ops", d.userName);
    EXPECT_EQ("clear-pw", d.userPswd);
    EXPECT_EQ("CS1", d.scsiArrayId);   // from the metadata, survives the reset of the details
    EXPECT_EQ(0, first.arrayInfoOutstanding);
    EXPECT_FALSE(log.contains("clear-pw")) << log.dump();
    EXPECT_TRUE(log.contains("KRVN >>  Got array-[7:clusterB] details."));

    for (bool pointerHandedOut : {false, true}) {
        Fixture g;
        g.batch[0].arrayNumber = 4;
        g.batch[0].arrayInfoFails = true;
        g.batch[0].arrayInfoPointerOnFailure = pointerHandedOut;
        EXPECT_EQ(12, g.init(ZY_KRVN_SNAP_OP_CREATE));
        EXPECT_EQ("Failed to get array details for array #-[4] from the database. Please ensure the array "
                  "details have been entered in Array Management",
                  g.ctx->errorString());
        EXPECT_EQ(0, g.batch[0].arrayInfoOutstanding);
    }
}

TEST(SnapContext, ConfigurationDefaultsAndThePortFollowingHttps) {
    struct Case {
        const char* what;
        std::map<std::string, int> config;
        int logging, retries, interval, port;
        bool https;
    };
    const std::vector<Case> cases = {
        {"nothing configured", {}, 1, 6, 10, 8080, false},
        {"https without a port", {{"SMCONFIG_NAME_USE_SECURE_CONNECTION", 1}}, 1, 6, 10, 8443, true},
        {"https with a port", {{"SMCONFIG_NAME_USE_SECURE_CONNECTION", 2}, {"SMCONFIG_NAME_SERVER_PORT", 9443}}, 1, 6,
         10, 9443, true},
        {"https off", {{"SMCONFIG_NAME_USE_SECURE_CONNECTION", 0}}, 1, 6, 10, 8080, false},
        {"negative https", {{"SMCONFIG_NAME_USE_SECURE_CONNECTION", -1}}, 1, 6, 10, 8080, false},
        {"everything set",
         {{"SMCONFIG_NAME_ENABLE_DIAGNOSTIC_LOGGING", 0},
          {"SMCONFIG_NAME_SNAP_OP_RETRY_COUNT", 2},
          {"SMCONFIG_NAME_SNAP_OP_RETRY_INTERVAL_IN_SEC", 3},
          {"SMCONFIG_NAME_SERVER_PORT", 8000}},
         0, 2, 3, 8000, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Fixture f;
        f.batch[0].configInts = c.config;
        krvntest::LogCapture log;
        ASSERT_EQ(0, f.init(ZY_KRVN_SNAP_OP_CREATE)) << f.ctx->errorString();
        const auto& cfg = f.ctx->arrayDetails.arrayConfigs;
        EXPECT_EQ(c.logging, cfg.restLogging);
        EXPECT_EQ(c.retries, cfg.maxRetryCount);
        EXPECT_EQ(c.interval, cfg.sleepInterval);
        EXPECT_EQ(c.port, cfg.serverPort);
        EXPECT_EQ(c.https, cfg.useHttps);
        EXPECT_EQ((std::vector<std::string>{"sp1", "sp2"}), cfg.storageProxyList);
        EXPECT_EQ("sp1", f.ctx->arrayDetails.storageProxy);
        const bool portSet = c.config.count("SMCONFIG_NAME_SERVER_PORT") > 0;
        EXPECT_TRUE(log.containsAt(2, std::string("KRVN  Config [SMCONFIG_NAME_SERVER_PORT] ") +
                                          (portSet ? "found - value [" : "not found - setting default value [") +
                                          std::to_string(c.port) + "]"));
        EXPECT_FALSE(f.batch[1].called("getConfigInt"));   // only the first item is asked
    }
}

TEST(SnapContext, StorageProxyIsRequiredForMapAndDroppedForUnmap) {
    {
        Fixture f;
        f.batch[0].configLists.clear();
        f.batch[0].arrayRecord.name = "clusterC";
        EXPECT_EQ(1, f.init(ZY_KRVN_SNAP_OP_MAP));
        EXPECT_EQ("Storage proxy is not provided for map operation. Please check and ensure that storage proxies "
                  "have been entered in [Storage Proxy List] snap configuration at Array Management for "
                  "[clusterC] storage array",
                  f.ctx->errorString());
    }
    {
        Fixture f;
        ASSERT_EQ(0, f.init(ZY_KRVN_SNAP_OP_UNMAP)) << f.ctx->errorString();
        EXPECT_EQ("", f.ctx->arrayDetails.storageProxy);
        EXPECT_EQ(2u, f.ctx->arrayDetails.arrayConfigs.storageProxyList.size());
    }
    {
        Fixture f;
        f.batch[0].configLists.clear();
        EXPECT_EQ(0, f.init(ZY_KRVN_SNAP_OP_CREATE)) << "only map needs a storage proxy";
    }
}

TEST(SnapContext, UnusableConfigurationListItemsAreSkipped) {
    Fixture f(1);
    FakeSnapInfo& item = f.batch[0];
    item.configLists[kProxyKey] = {"p0", "p1", "p2", "p3", "p4", "p5"};
    item.configItemLength[{kProxyKey, 1}] = 0;
    item.configItemLength[{kProxyKey, 2}] = -5;
    item.configItemLength[{kProxyKey, 3}] = 64 * 1024 + 1;
    item.configItemFetchFails.insert({kProxyKey, 4});
    krvntest::LogCapture log;
    KrvnCtx ctx(&f.batch.os, 0, ZY_KRVN_SNAP_OP_CREATE);
    std::vector<std::string> list = {"stale"};
    ctx.readSnapConfigList(&item, kProxyKey, list);
    EXPECT_EQ((std::vector<std::string>{"p0", "p5"}), list);
    EXPECT_TRUE(log.contains("KRVN  Got item length as [0] for item @ [1] for the config-[" + std::string(kProxyKey) +
                             "] [Total-6]..."));
    EXPECT_TRUE(log.contains("KRVN  Failed to get item @ [4] for the config-[" + std::string(kProxyKey) +
                             "] [Total-6]..."));
    // The absurd lengths were never handed back to the host as buffer sizes.
    for (const auto& call : item.named("getConfigListItem"))
        EXPECT_FALSE(call.args[2] == "buffer" && (call.args[1] == "2" || call.args[1] == "3")) << call.text();

    // A failed length query ends the list; a failed size query leaves it empty.
    item.configItemLengthFails.insert({kProxyKey, 1});
    item.configItemLength.clear();
    ctx.readSnapConfigList(&item, kProxyKey, list);
    EXPECT_EQ((std::vector<std::string>{"p0"}), list);
    item.configListSizeFails.insert(kProxyKey);
    ctx.readSnapConfigList(&item, kProxyKey, list);
    EXPECT_TRUE(list.empty());
}

TEST(SnapContext, StatusHelpersMarkEveryUnfinishedItemWhateverTheCount) {
    // More items than a 16-bit count can name: the tail must be marked too.
    FakeSnapBatch batch(33000);
    batch[0].status = 5;
    batch[32999].status = 3;
    batch.setNull(32768);
    setSnapStatus(5, 6, batch.data(), batch.count());
    EXPECT_EQ(5, batch[0].status);
    EXPECT_EQ(6, batch[1].status);
    EXPECT_EQ(6, batch[32999].status);
    EXPECT_EQ(0, batch[32768].status);
    EXPECT_FALSE(batch[0].called("setStatus"));

    setSnapStatus(5, 6, nullptr, 3);
    FakeSnapBatch none(1);
    setSnapStatus(5, 6, none.data(), 0);
    EXPECT_FALSE(none[0].called("getStatus"));

    FakeSnapBatch gone(2);
    gone[0].status = gone[1].status = 20;
    EXPECT_TRUE(AreAllSnapsDeleted(gone.data(), 2));
    EXPECT_TRUE(AreAllSnapsDeleted(gone.data(), 0));
    gone[1].status = 21;
    EXPECT_FALSE(AreAllSnapsDeleted(gone.data(), 2));
}
