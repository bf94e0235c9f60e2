// Source preparation: inquiry, identifying and matching the array, its details text, brute-force discovery.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <tuple>

#include "SnapTestSupport.h"

using namespace ZYSnapKrvn;
using namespace snaptest;

namespace {

const std::string kSerialA = kClusterSerial;

// A host item that, like a host without the serial in its Array Management, cannot tie itself
// to an array from the cluster serial alone: only "name|serial" texts are accepted.
class SerialBlindItem : public krvntest::FakeSnapInfo {
public:
    using FakeSnapInfo::FakeSnapInfo;
    int setArrayInfo(const char* details) override {
        if (std::string(details).find('|') != std::string::npos) return FakeSnapInfo::setArrayInfo(details);
        arrayInfoTexts.push_back(details);
        return 1;
    }
};

struct PrepareFixture : ::testing::Test {
    DiskSettings settings;
    krvntest::FixtureDisks& disks = settings.disks;
    krvntest::FakeOSUtil os;
    std::vector<std::unique_ptr<krvntest::FakeSnapInfo>> items;
    std::vector<ZYSO::SnapInfo*> pointers;
    krvntest::ScriptedServer srv;  // outlives the context, whose client may still hold a connection
    std::unique_ptr<KrvnCtx> ctx;
    std::unique_ptr<KrvnUtils> utils;

    ~PrepareFixture() override { utils.reset(); }
    // An item on a source device, and that device as a vDisk of cluster A.
    template <class Item = krvntest::FakeSnapInfo>
    Item& add(long long id, const std::string& device, const std::string& serial = "1001") {
        Item* item = new Item(id);
        items.emplace_back(item);
        pointers.push_back(item);
        item->sourceDevice = disks.add(device, serial, kSerialA);
        item->arrayNumber = 0;  // the host does not know the array before preparation
        return *item;
    }
    void start() {
        utils.reset();
        ctx = std::make_unique<KrvnCtx>(&os, 0, ZY_KRVN_SNAP_OP_PREPARE);
        ASSERT_EQ(0, ctx->initialize(pointers.data(), static_cast<int>(pointers.size())));
        utils = std::make_unique<KrvnUtils>(ctx.get());
    }
    Strings asked(const std::string& call, size_t arg) const {
        Strings out;
        for (const auto& c : os.named(call)) out.push_back(c.args.at(arg));
        return out;
    }
};

TEST_F(PrepareFixture, InquiryStopsAtTheFirstDeviceOfAnotherVendorAndPreparesNoVMwareSource) {
    for (int id : {1, 2, 3}) add(id, std::string("sd") + char('a' + id), "100" + std::to_string(id));
    std::string page(255, '\0');  // standard inquiry of another vendor
    std::ofstream(disks.dir() + "/sdc/page00.bin", std::ios::binary) << page.replace(8, 20, "IET     VIRTUAL-DISK");
    start();
    EXPECT_EQ(3, utils->InquireDeviceDetails());
    EXPECT_NE(std::string::npos,
              ctx->errorString().find("Vendor id-[IET     ] is for device-[/dev/sdc] is not matching"));
    EXPECT_TRUE(ctx->snapItems.at(3)->sourceVDiskId.empty());  // preparation stops there

    // A VMware source cannot be prepared, and that is no error to report.
    items[0]->sourceDevice = "datastore1/disk.vmdk;ovltype:vmware";
    start();
    EXPECT_EQ(1, utils->InquireDeviceDetails());
    EXPECT_EQ("", ctx->errorString());
}

TEST_F(PrepareFixture, IdentifyingGrowsTheListBufferAndTriesEveryListedNameInOrder) {
    auto& item = add<SerialBlindItem>(1, "sdb");
    item.arrayNumberForDetails["b|" + kSerialA] = 7;
    const std::string longName(20000, 'x');  // fits only once the buffer has grown
    os.arrayList = longName + "||a|b|";
    os.arrayListResults = {1, 1, 1};
    for (const std::string name : {"a", "b"})
        os.arrayDetails[name] = "{id:1,hostName:h" + name + ",hostUserName:u,hostPassword:p}";
    // Both ids come from the settings, so no cluster is asked.
    settings.set("Ovelin", "sZYKorvanClusterUniqueId_a", "FFFFFFFFFFFFFF");
    settings.set("Ovelin", "sZYKorvanClusterUniqueId_b", kSerialA);
    start();
    std::tie(ctx->arrayDetails.controlHostName, ctx->arrayDetails.arrayId) =
        std::make_pair("prepared-host", "prepared-array");

    ASSERT_EQ(0, utils->InquireDeviceDetails()) << ctx->errorString();
    EXPECT_EQ((Strings{"Pellart Distributed Storage", "124", "4096"}), os.named("getArrayListByVendor").at(0).args);
    EXPECT_EQ((Strings{"4096", "8192", "16384", "32768"}), asked("getArrayListByVendor", 2));
    EXPECT_EQ((Strings{longName, "", "a", "b"}), asked("getArrayDetailsByName", 0));
    EXPECT_EQ((Strings{kSerialA, "b|" + kSerialA}), item.arrayInfoTexts);  // the serial first, then name|serial
    EXPECT_EQ(7, item.arrayNumber);
    // The candidates' details never stay in the context.
    EXPECT_EQ("prepared-host prepared-array", ctx->arrayDetails.controlHostName + " " + ctx->arrayDetails.arrayId);

    // A host that never stops asking for more gets 1 MiB at most; the device's array stays
    // unknown, which fails its preparation.
    os.clear();
    os.arrayListResults.assign(40, 1);
    item.arrayNumber = 0;
    start();
    EXPECT_EQ(9, utils->InquireDeviceDetails());
    EXPECT_EQ("Array details not found in Array Management for [" + kSerialA +
                  "]. Please make sure the array details are entered and configured in Array Management.",
              ctx->errorString());
    EXPECT_EQ("1048576", asked("getArrayListByVendor", 2).at(8));
}

TEST_F(PrepareFixture, MatchingAsksEachCandidateClusterForItsIdAndLogsOutOfEveryOne) {
    ASSERT_TRUE(srv.start());
    auto& item = add<SerialBlindItem>(1, "sdb");
    item.arrayNumberForDetails["c|" + kSerialA] = 3;
    os.arrayList = "a|b|c";
    // The details carry no port; the fragment keeps the default port out of the request.
    const std::string host = "127.0.0.1:" + std::to_string(srv.port()) + "/rest/#";
    for (const char* name : {"a", "b", "c"})
        os.arrayDetails[name] = "{id:9,hostName:" + host + ",hostUserName:admin,hostPassword:pw-" + name + "}";
    const std::string setting = "GetClusterSettingInfo";
    int session = 0;
    for (const std::string& hash : {std::string(), std::string("00000000000001"), kSerialA}) {
        srv.reply(200, krvntest::loginAnswer("sess-" + std::to_string(++session)));
        srv.reply(200, hash.empty() ? errorAnswer(setting, "cluster busy")
                                    : okAnswer(setting, R"({"clusterNameHash":"0x)" + hash + R"("})"));
        srv.reply(200, okAnswer("Logout"));
    }
    start();

    ASSERT_EQ(0, utils->InquireDeviceDetails()) << ctx->errorString();
    std::string requests;
    for (const auto& q : srv.requests())
        requests += requestType(q) + (q.request.find("sess-2") != std::string::npos ? "(2) " : " ");
    EXPECT_EQ("Login " + setting + " Logout Login " + setting + "(2) Logout(2) Login " + setting + " Logout ",
              requests);
    EXPECT_EQ(3, item.arrayNumber);
    EXPECT_TRUE(ctx->arrayDetails.sessionId.empty());
}

TEST_F(PrepareFixture, ArrayDetailsTextIsCutAtCommasAndUnescaped) {
    struct Case {
        std::string text;
        int result;
        std::string host, user, password;
    };
    const Case cases[] = {
        {"{id:1,hostName:h1,hostUserName:u1,hostPassword:p1,port:9}", 0, "h1", "u1", "p1"},
        // An escaped comma still ends the value; the backslash left at its end is dropped.
        {"{x:1,hostName:ab\\,cd,hostPassword:pw}", 0, "ab", "keep-user", "pw"},
        {"{,hostName:a\\tb\\nc\\\\d\\qe\\b\\f\\r,hostUserName:u\\}", 0, "a\tb\nc\\dqe\b\f\r", "u", "keep-pw"},
        {"{,hostUserName:only}", 1, "", "only", "keep-pw"},
        {",hostName:no-end", 1, "", "keep-user", "keep-pw"},
        {"", 1, "", "keep-user", "keep-pw"},
    };
    add(1, "sdb");
    start();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ZYKorvanCommon::KrvnArrayDetails details;
        std::tie(details.userName, details.userPswd) = std::make_pair("keep-user", "keep-pw");
        const int rc = utils->parseArrayDetails(c.text, details);
        EXPECT_EQ((Strings{std::to_string(c.result), c.host, c.user, c.password}),
                  (Strings{std::to_string(rc), details.controlHostName, details.userName, details.userPswd}));
    }
}

TEST(Discovery, BruteForceQueriesOnlyPlainDisksAndStopsOnceAllSourcesAreFound) {
    krvntest::QuietSettings settings;
    EngineRun r;
    r.batch.add(1);
    r.batch.add(2);
    r.start(ZY_KRVN_SNAP_OP_PREPARE, true);
    r.ctx->arrayDetails.scsiArrayId = kSerialA;
    for (long long id : {1, 2}) r.object(id).sourceVDiskId = "100" + std::to_string(id);
    settings.set("Ovelin", "nZYKorvanEnableBruteForceDiscovery", "1");
    r.batch[1].status = kSnapPrepared;  // prepared by an earlier run: still to be found again
    r.srv.reply(200,
                okAnswer("ListVirtualDisks", R"({"disks":[{"vDiskName":"clone1","isClone":true,"scsiSerialNumber":1001},
        {"vDiskName":"nfs1","diskType":"NFS_MASTER_DISK","scsiSerialNumber":1002}, {"vDiskName":"other","scsiSerialNumber":9},
        {"vDiskName":"vol2","scsiSerialNumber":1002}, {"vDiskName":"gone","scsiSerialNumber":5},
        {"vDiskName":"vol1","scsiSerialNumber":1001}, {"vDiskName":"never","scsiSerialNumber":1001}]})"));
    for (const auto& answer : {vdiskAnswer("other", 9), vdiskAnswer("vol2", 1002),
                               notFound("VirtualDiskDetails", "gone"), vdiskAnswer("vol1", 1001)})
        r.srv.reply(200, answer);
    EXPECT_EQ(0, r.utils->discoverArrayVDiskDetails()) << r.ctx->errorString();
    EXPECT_EQ((Strings{"ListVirtualDisks", "VirtualDiskDetails other", "VirtualDiskDetails vol2",
                       "VirtualDiskDetails gone", "VirtualDiskDetails vol1"}),
              r.requests(""));
    EXPECT_EQ(kSerialA + "**vol1**1001**", r.batch[0].metadata[kMetaSnapshot]);
    EXPECT_EQ(kSerialA + "**vol2**1002**", r.batch[1].metadata[kMetaSnapshot]);
}

}  // namespace
