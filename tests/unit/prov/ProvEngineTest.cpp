// The provisioning engine against a scripted cluster: create, resize, delete, map and unmap.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "ProvTestCluster.h"
#include "WqSleep.h"

namespace provtest {
namespace {

namespace fs = std::filesystem;

const std::string kShowTwo = okAnswer(
    "ShowTarget", R"({"Lun Information":[{"Lun Id":"vd1","Target":"iqn.sp1.vd1","SCSI SN":"1001","Online":"Yes"},)"
                  R"({"Lun Id":"vd2","Target":"iqn.sp1.vd2","SCSI SN":"1002","Online":"Yes"}]})");

class ProvEngineTest : public ProvClusterTest {
protected:
    void TearDown() override {
        utils.reset();
        ctx.reset();
        if (!deviceDir.empty()) fs::remove_all(deviceDir);
    }

    // A context of the operation over the batch, initialised and logged in; requests cleared.
    void open(int op) {
        utils.reset();
        ctx = std::make_unique<KrvnProvCtx>(&batch.os, 0, op);
        ASSERT_EQ(0, ctx->initialize(batch.data(), batch.count())) << ctx->errorString();
        utils = std::make_unique<TestProvUtils>(ctx.get());
        ASSERT_EQ(0u, utils->rest_connectToArray()) << ctx->errorString();
        srv.clearRequests();
    }

    // A host device answering like a cluster vDisk with this serial; another cluster's when
    // foreign is set.
    std::string addDevice(const std::string& name, const std::string& serial, bool foreign = false) {
        if (deviceDir.empty()) {
            char tmpl[] = "/tmp/krvn-prov-dev-XXXXXX";
            deviceDir = mkdtemp(tmpl);
            settings.set("Platform", "deviceBackend", "fixture");
            settings.set("Platform", "deviceFixtureDir", deviceDir);
        }
        const fs::path source = fs::path(KRVN_FIXTURE_DIR) / "scsi" / "tgt-korvan-blank-padded";
        const fs::path dir = fs::path(deviceDir) / name;
        fs::create_directories(dir);
        auto page = [&](const char* file) {
            std::ifstream in(source / file, std::ios::binary);
            return std::string(std::istreambuf_iterator<char>(in), {});
        };
        std::string standard = page("page00.bin");
        for (int i = 28; i < 32; ++i) standard[i] = '\0';   // a cluster vDisk pads with NULs
        std::string identity = page("page83.bin");
        if (foreign) identity[61] = static_cast<char>(identity[61] ^ 0x10);
        std::string serialPage = std::string("\0\x80\0", 3) + static_cast<char>(serial.size()) + serial;
        std::ofstream(dir / "page00.bin", std::ios::binary) << standard;
        std::ofstream(dir / "page80.bin", std::ios::binary) << serialPage;
        std::ofstream(dir / "page83.bin", std::ios::binary) << identity;
        return "/dev/" + name;
    }

    std::unique_ptr<KrvnProvCtx> ctx;
    std::unique_ptr<TestProvUtils> utils;
    std::string deviceDir;
};

// ---- Create, resize, delete --------------------------------------------------------------------

TEST_F(ProvEngineTest, CreateCountsAnExistingDiskAsCreatedAndNamesTheItems) {
    addDisk();
    addDisk().blockSize = 512;
    open(ZY_KRVN_PROV_OP_CREATE);
    answer("AddVirtualDisk",
           okAnswer("AddVirtualDisk", R"([{"status":"error","name":"vd1","message":"vd1 vDisk has already been created"}])"));
    EXPECT_EQ(0, utils->create_vDisks()) << ctx->errorString();
    EXPECT_EQ((std::vector<short>{1, 0}), batch[0].statusHistory);   // failure first, then success
    EXPECT_EQ((std::vector<short>{0, 0}), batch.statuses());
    EXPECT_EQ("vd2", batch[1].lunName);
    EXPECT_EQ("vd2", batch[1].deviceName);
    const auto bodies = sent("AddVirtualDisk");
    ASSERT_EQ(2u, bodies.size());
    EXPECT_EQ("PUT", bodies[1].method);
    for (const char* part : {"name:'vd2'", "size:{unit:'GB', value:10}", "diskType:BLOCK", "blockSize:512",
                             "replicationFactor:3", "encryption:true", "description:'Created by Pellart'"}) {
        EXPECT_NE(std::string::npos, bodies[1].request.find(part)) << part << " in " << bodies[1].request;
    }
}

TEST_F(ProvEngineTest, ResizeSendsWholeGigabytesAndTakesAShrinkRefusalAsDone) {
    addDisk().size = (41L << 30) / 2;   // 20.5 GB
    open(ZY_KRVN_PROV_OP_RESIZE);
    answer("ResizeDisks",
           okAnswer("ResizeDisks", R"([{"status":"error","name":"vd1","message":"Shrinking of virtual disk is not supported"}])"));
    EXPECT_EQ(0, utils->resize_vDisks()) << ctx->errorString();
    EXPECT_EQ(2, batch[0].status);
    EXPECT_FALSE(batch[0].called("setLunName"));
    EXPECT_NE(std::string::npos, sent("ResizeDisks").at(0).request.find("size:{unit:'GB', value:20}"));

    answer("ResizeDisks", okAnswer("ResizeDisks", R"([{"status":"error","name":"vd1","message":"quota"}])"));
    EXPECT_EQ(19, utils->resize_vDisks());
    EXPECT_EQ(3, batch[0].status);
    EXPECT_EQ("Resize for disk-[vd1] failed. Error-[quota]", ctx->errorString());
}

TEST_F(ProvEngineTest, DeleteTakesTheGroupAnswerDiskByDisk) {
    addDisk();
    addDisk();
    open(ZY_KRVN_PROV_OP_DELETE);
    answer("DeleteVDisk", okAnswer("DeleteVDisk", R"([{"status":"ok","name":"vd1"},{"status":"error","name":"vd2","message":"busy"}])"));
    EXPECT_EQ(1, utils->delete_vDisks());
    EXPECT_EQ((std::vector<short>{20, 21}), batch.statuses());
    EXPECT_EQ(1u, sent("DeleteVDisk").size());
    EXPECT_EQ(19, ctx->errorCode);
    EXPECT_NE(std::string::npos, ctx->errorString().find("Deletion for disks-[vd2] failed."));
}

TEST_F(ProvEngineTest, DeleteFallsBackToOneByOneWhenTheGroupNamesAMissingDisk) {
    addDisk();
    addDisk();
    addDisk();
    open(ZY_KRVN_PROV_OP_DELETE);
    answer("DeleteVDisk", errorAnswer("DeleteVDisk", "Vdisk vd2 couldn't be found"));
    answer("DeleteVDisk", okAnswer("DeleteVDisk", R"([{"status":"ok","name":"vd1"}])"));
    answer("DeleteVDisk", errorAnswer("DeleteVDisk", "Vdisk vd2 couldn't be found"));
    answer("DeleteVDisk", okAnswer("DeleteVDisk", R"([{"status":"error","name":"vd3","message":"locked"}])"));
    EXPECT_EQ(1, utils->delete_vDisks());
    EXPECT_EQ((std::vector<short>{20, 20, 21}), batch.statuses());
    const auto bodies = sent("DeleteVDisk");
    ASSERT_EQ(4u, bodies.size());
    EXPECT_EQ((std::vector<std::string>{"vd1", "vd2", "vd3"}), requestDisks(bodies[0]));
    EXPECT_EQ((std::vector<std::string>{"vd3"}), requestDisks(bodies[3]));
    EXPECT_EQ(1, ctx->errorCode);
    EXPECT_NE(std::string::npos, ctx->errorString().find("One or more disks failed to delete"));
    EXPECT_TRUE(logs.contains("KRVN >>  Disk-[vd2] not found on cluster. Marking the disk as successfully deleted.."));

    // Every disk accounted for: success, with the missing one counted as deleted.
    answer("DeleteVDisk", errorAnswer("DeleteVDisk", "Vdisk vd2 couldn't be found"));
    answer("DeleteVDisk", okAnswer("DeleteVDisk", R"([{"status":"ok","name":"vd1"}])"));
    answer("DeleteVDisk", errorAnswer("DeleteVDisk", "Vdisk vd2 couldn't be found"));
    EXPECT_EQ(0, utils->delete_vDisks());
    EXPECT_EQ((std::vector<short>{20, 20, 20}), batch.statuses());
}

TEST_F(ProvEngineTest, DeleteWithoutAnAnswerFailsEveryDiskAndSendsNothingMore) {
    addDisk();
    addDisk();
    open(ZY_KRVN_PROV_OP_DELETE);
    answerDrop("DeleteVDisk");
    EXPECT_EQ(1, utils->delete_vDisks());
    EXPECT_EQ((std::vector<short>{21, 21}), batch.statuses());
    EXPECT_EQ(1u, sent("DeleteVDisk").size());
    EXPECT_EQ(1, ctx->errorCode);
}

TEST_F(ProvEngineTest, DeleteOfOneNameUnderTwoIdsConfirmsOnlyTheFirstItem) {
    addDisk(1).diskName = "same";
    addDisk(2).diskName = "same";
    open(ZY_KRVN_PROV_OP_DELETE);
    EXPECT_EQ(0, utils->delete_vDisks());
    EXPECT_EQ((std::vector<std::string>{"same"}), requestDisks(sent("DeleteVDisk").at(0)));
    EXPECT_EQ((std::vector<short>{20, 21}), batch.statuses());
}

TEST_F(ProvEngineTest, DeleteWithAnUnconfirmedDiskAndNoClusterErrorStillSaysWhy) {
    addDisk();
    addDisk();
    open(ZY_KRVN_PROV_OP_DELETE);
    answer("DeleteVDisk", okAnswer("DeleteVDisk", R"([{"status":"ok","name":"vd1"}])"));
    EXPECT_EQ(1, utils->delete_vDisks());
    EXPECT_EQ((std::vector<short>{20, 21}), batch.statuses());
    EXPECT_EQ("One or more disks failed to delete", ctx->errorString());
}

// ---- Map and unmap -----------------------------------------------------------------------------

TEST_F(ProvEngineTest, MapAndUnmapRefuseHostEntriesThatAreNotUsableISCSIHosts) {
    struct Case {
        const char* name;
        std::string info;
        std::string sentence;
    };
    const std::vector<Case> cases = {
        {"fibre channel", R"({"hosts":[{"hostname":"h1","protocol":"4","endpoints":[{"endpoint":"wwn"}]}]})",
         "Invalid protocol type-[4], expecting [3]"},
        {"numeric protocol", R"({"hosts":[{"hostname":"h1","protocol":3,"endpoints":[{"endpoint":"iqn.a"}]}]})",
         "Invalid protocol type-[0], expecting [3]"},
        {"no host name", R"({"hosts":[{"protocol":"3","endpoints":[{"endpoint":"iqn.a"}]}]})", "Got empty host name"},
        {"no initiators", R"({"hosts":[{"hostname":"h1","protocol":"3","endpoints":[{}]}]})", "Got empty initiators"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        batch = FakeLunBatch();
        addDisk().initiatorInfo = c.info;
        open(ZY_KRVN_PROV_OP_MAP);
        EXPECT_EQ(25, utils->map_vDisks());
        EXPECT_EQ(c.sentence, ctx->errorString());
        EXPECT_EQ(11, batch[0].status);
        EXPECT_TRUE(sent("AddLun").empty());

        answer("GetACLInformation", okAnswer("GetACLInformation", R"([{"host":"sp1","initiator":[{"ip":"iqn.a"}]}])"));
        open(ZY_KRVN_PROV_OP_UNMAP);
        EXPECT_EQ(25, utils->unmap_vDisks());
        EXPECT_EQ(c.sentence, ctx->errorString());
        EXPECT_EQ(15, batch[0].status);
        EXPECT_TRUE(sent("RemoveACLAccess").empty());
    }
}

TEST_F(ProvEngineTest, MapWithoutDiscoveryPassesFailsEvenWhenEveryRequestSucceeded) {
    FakeLunInfo& item = addDisk();
    item.setIscsiHost("h1", {"iqn.a", "iqn.b"});
    item.configs["SMCONFIG_NAME_SNAP_OP_RETRY_COUNT"] = "0";
    open(ZY_KRVN_PROV_OP_MAP);
    answer("ShowTarget", kShowTwo);
    EXPECT_EQ(1, utils->map_vDisks());
    EXPECT_EQ(11, item.status);
    EXPECT_EQ((std::vector<std::string>{"GetClusterSettingInfo", "AddLun", "PersistACLAccess", "PersistACLAccess",
                                        "ShowTarget"}),
              sentTypes());
    EXPECT_NE(std::string::npos, sent("PersistACLAccess").at(1).request.find("host:'sp1', address:'iqn.b'"));
    EXPECT_EQ("001A2B3C4D5E6F", ctx->arrayDetails.clusterUniqueId);
    EXPECT_EQ(1001, ctx->disks.begin()->second->scsiSerial);
    EXPECT_TRUE(batch.os.refreshes.empty());   // no pass, no rescan
}

TEST_F(ProvEngineTest, MapFindsDevicesThatAppearInALaterPass) {
    for (int i = 0; i < 2; ++i) addDisk().setIscsiHost("h1", {"iqn.a"});
    const std::string devA = addDevice("krvnA", "1002");
    const std::string devB = addDevice("krvnB", "1001");
    const std::string stranger = addDevice("krvnC", "1001", true);
    batch.os.deviceLists = {{stranger, devA}, {stranger, devA, devB}, {"/dev/never"}};
    open(ZY_KRVN_PROV_OP_MAP);
    answer("ShowTarget", kShowTwo);
    const auto sleptBefore = ZyPlatform::virtualSleptMs();
    EXPECT_EQ(0, utils->map_vDisks()) << logs.dump();
    EXPECT_EQ((std::vector<short>{9, 9}), batch.statuses());
    EXPECT_EQ(devB, batch[0].deviceName);
    EXPECT_EQ(devA, batch[1].deviceName);
    EXPECT_EQ(2u, batch.os.count("getDeviceList"));   // stopped once both were found
    ASSERT_EQ(2u, batch.os.refreshes.size());
    EXPECT_EQ((std::vector<std::string>{"iqn.a"}), batch.os.refreshes[0].initiators);
    EXPECT_TRUE(batch.os.refreshes[0].devices.empty());
    EXPECT_EQ((std::vector<std::string>{"discover:sp1", "login:sp1:iqn.sp1.vd1", "login:sp1:iqn.sp1.vd2"}),
              utils->module->calls);
    // The login wait and two pass intervals, all virtual.
    EXPECT_EQ(3000u + 2 * 10000u, ZyPlatform::virtualSleptMs() - sleptBefore);
    EXPECT_TRUE(logs.contains("KRVN  SCSI inquiry on device-[" + stranger + "] done. It is not associated"));
}

TEST_F(ProvEngineTest, MapLeavesUnfoundDisksFailedWithoutADevice) {
    for (int i = 0; i < 2; ++i) addDisk().setIscsiHost("h1", {"iqn.a"});
    batch[0].configs["SMCONFIG_NAME_SNAP_OP_RETRY_COUNT"] = "2";
    batch[0].configs["SMCONFIG_NAME_SNAP_OP_RETRY_INTERVAL_IN_SEC"] = "-5";   // no wait, not a huge one
    batch.os.deviceLists = {{addDevice("krvnA", "1002")}};
    settings.set("Ovelin", "sZYKorvanClusterUniqueId_clusterA", "001A2B3C4D5E6F");
    open(ZY_KRVN_PROV_OP_MAP);
    answer("ShowTarget", kShowTwo);
    const auto sleptBefore = ZyPlatform::virtualSleptMs();
    EXPECT_EQ(1, utils->map_vDisks());
    EXPECT_EQ(3000u, ZyPlatform::virtualSleptMs() - sleptBefore);
    EXPECT_TRUE(sent("GetClusterSettingInfo").empty());   // the setting wins
    EXPECT_EQ((std::vector<short>{11, 9}), batch.statuses());
    EXPECT_EQ((std::vector<std::string>{"", ""}), batch[0].deviceNames);
    EXPECT_EQ(2u, batch.os.count("getDeviceList"));
    EXPECT_TRUE(logs.contains("KRVN  Not all devices are found. Total - [2], Found - [1]"));
    EXPECT_EQ(1, ctx->errorCode);   // the host is told why, not just that it failed
    EXPECT_EQ("Not all devices are found. Total - [2], Found - [1]", ctx->errorString());
}

TEST_F(ProvEngineTest, MapFailsWhenADiskHasNoTargetOnTheProxy) {
    addDisk().setIscsiHost("h1", {"iqn.a"});
    addDisk(7).setIscsiHost("h1", {"iqn.a"});
    open(ZY_KRVN_PROV_OP_MAP);
    answer("ShowTarget", kShowTwo);
    EXPECT_EQ(1, utils->map_vDisks());
    EXPECT_EQ("Failed to find target IQN for one or more disk. Found only [1] out of [2]", ctx->errorString());
    EXPECT_TRUE(utils->module->calls.empty());
}

TEST_F(ProvEngineTest, UnmapRemovesTheLunOnlyWhenNoInitiatorIsLeftOnTheProxy) {
    struct Case {
        const char* name;
        std::string after;   // the access list once this host's access is gone
        bool lunRemoved;
    };
    const std::vector<Case> cases = {
        {"last initiator", R"([{"host":"sp1","initiator":[]}])", true},
        {"another host still has access", R"([{"host":"sp1","initiator":[{"ip":"iqn.other"}]}])", false},
        {"proxy already gone", "[]", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        batch = FakeLunBatch();
        FakeLunInfo& item = addDisk();
        item.setIscsiHost("h1", {"iqn.a", "iqn.none"});
        item.deviceName = "/dev/sdq";
        open(ZY_KRVN_PROV_OP_UNMAP);
        answer("GetACLInformation",
               okAnswer("GetACLInformation", R"([{"host":"sp1","initiator":[{"ip":"iqn.other"},{"ip":"iqn.a"}]}])"));
        answer("GetACLInformation", okAnswer("GetACLInformation", c.after));
        answer("ShowTarget", kShowTwo);
        EXPECT_EQ(0, utils->unmap_vDisks()) << ctx->errorString();
        EXPECT_EQ(14, item.status);
        std::vector<std::string> expected = {"VirtualDiskDetails", "GetACLInformation", "ShowTarget",
                                             "RemoveACLAccess", "GetACLInformation"};
        if (c.lunRemoved) expected.push_back("UnmapLun");
        EXPECT_EQ(expected, sentTypes());
        EXPECT_NE(std::string::npos,
                  sent("RemoveACLAccess").at(0).request.find("virtualDisk:'vd1', host:'sp1', address:['iqn.a']"));
        if (c.lunRemoved) {
            EXPECT_NE(std::string::npos, sent("UnmapLun").at(0).request.find("virtualDisk:'vd1', target:'sp1'"));
        }
        EXPECT_EQ((std::vector<std::string>{"logout:sp1:iqn.sp1.vd1"}), utils->module->calls);
        EXPECT_TRUE(logs.contains("KRVN >>  Host-[iqn.none] access not present for disk-[vd1]."));
        ASSERT_EQ(1u, batch.os.refreshes.size());
        EXPECT_EQ((std::vector<std::string>{"iqn.a"}), batch.os.refreshes[0].initiators);
        EXPECT_EQ((std::vector<std::string>{"/dev/sdq"}), batch.os.refreshes[0].devices);
    }
}

TEST_F(ProvEngineTest, UnmapCountsAGoneOrUnmappedDiskAsUnmapped) {
    struct Case {
        const char* name;
        std::string type;
        std::string body;
        std::vector<std::string> sent;
    };
    const std::vector<Case> cases = {
        {"deleted", "VirtualDiskDetails", errorAnswer("VirtualDiskDetails", "Vdisk vd1 couldn't be found"),
         {"VirtualDiskDetails"}},
        {"marked for delete", "VirtualDiskDetails", errorAnswer("VirtualDiskDetails", "VDisk is marked for delete :vd1"),
         {"VirtualDiskDetails"}},
        {"gone while listing access", "GetACLInformation",
         errorAnswer("GetACLInformation", "Vdisk vd1 couldn't be found"), {"VirtualDiskDetails", "GetACLInformation"}},
        {"no access at all", "GetACLInformation", okAnswer("GetACLInformation", "[]"),
         {"VirtualDiskDetails", "GetACLInformation"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        batch = FakeLunBatch();
        addDisk().setIscsiHost("h1", {"iqn.a"});
        addDisk().setIscsiHost("h1", {"iqn.a"});   // the second disk has nothing to undo either
        open(ZY_KRVN_PROV_OP_UNMAP);
        answer(c.type, c.body);
        EXPECT_EQ(0, utils->unmap_vDisks()) << ctx->errorString();
        EXPECT_EQ((std::vector<short>{14, 14}), batch.statuses());
        std::vector<std::string> expected = c.sent;
        expected.insert(expected.end(), {"VirtualDiskDetails", "GetACLInformation"});
        EXPECT_EQ(expected, sentTypes());
        EXPECT_EQ(-1, ctx->errorCode);
    }
}

TEST_F(ProvEngineTest, UnmapStopsAtAClusterFailure) {
    addDisk().setIscsiHost("h1", {"iqn.a"});
    addDisk().setIscsiHost("h1", {"iqn.a"});
    open(ZY_KRVN_PROV_OP_UNMAP);
    answer("VirtualDiskDetails", errorAnswer("VirtualDiskDetails", "internal error"));
    EXPECT_EQ(19, utils->unmap_vDisks());
    EXPECT_EQ(15, batch[0].status);
    EXPECT_EQ(-1, batch[1].status);
    EXPECT_TRUE(batch.os.refreshes.empty());
}

}  // namespace
}  // namespace provtest
