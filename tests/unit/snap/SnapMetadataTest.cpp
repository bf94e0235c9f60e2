// Snapshot and clone metadata as they travel between calls on the host item.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FakeSnapHost.h"
#include "KrvnCtx.h"
#include "LogCapture.h"
#include "SnapTestSupport.h"

using namespace ZYSnapKrvn;
using krvntest::FakeSnapInfo;

namespace {

struct ItemAndCtx {
    explicit ItemAndCtx(int type, long long id = 42) : item(id), ctx(&os, 0, type) { obj.snapInfo = &item; }
    krvntest::QuietSettings settings;
    krvntest::FakeOSUtil os;
    FakeSnapInfo item;
    KrvnCtx ctx;
    KrvnSnapObject obj;
};

}  // namespace

TEST(SnapMetadata, ReadingTreatsMissingFieldsPerOperation) {
    struct Case {
        const char* value;   // nullptr: no key 6 at all
        int type;
        int rc;
        std::string error;
        std::string vDisk, serial, snap;
    };
    const std::vector<Case> cases = {
        {"CS**vol1**5678**S1**", 5, 0, "", "vol1", "5678", "S1"},
        {"CS**vol1**5678**S1**S2**tail", 7, 0, "", "vol1", "5678", "S1"},   // the first name wins
        {"a**b**c**", 3, 0, "", "b", "c", ""},
        {"a**b**c**", 4, 0, "", "b", "c", ""},
        {"a**b**c**", 5, 16, "Snapshot name is not found in the snapshot metadata-[a**b**c**]", "b", "c", ""},
        {"a**b**c**S", 8, 16, "Snapshot name is not found in the snapshot metadata-[a**b**c**S]", "b", "c", ""},
        {"a****c**S**", 6, 16, "vDisk name is not found in the snapshot metadata-[a****c**S**]", "", "", ""},
        {"a**b****S**", 3, 16, "vDisk SCSI serial number is not found in the snapshot metadata-[a**b****S**]", "b",
         "", ""},
        {"abc", 7, 16, "Array unique ID is not found in the snapshot metadata-[abc]", "", "", ""},
        {"**b**c**S**", 4, 16, "Array unique ID is not found in the snapshot metadata-[**b**c**S**]", "", "", ""},
        {"", 3, 15, "Snapshot metadata is empty - may be snapshot preparation phase failed", "", "", ""},
        {nullptr, 5, 14, "Failed to get snapshot metadata for device-[42]", "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.value ? c.value : "<none>") + " type " + std::to_string(c.type));
        ItemAndCtx t(c.type);
        if (c.value) t.item.metadata[6] = c.value;
        krvntest::LogCapture log;
        EXPECT_EQ(c.rc, t.ctx.fillSnapInfoFromMetadata(&t.obj));
        EXPECT_EQ(c.error, t.ctx.errorString());
        EXPECT_EQ(c.vDisk, t.obj.sourceVDiskName);
        EXPECT_EQ(c.serial, t.obj.sourceVDiskId);
        EXPECT_EQ(c.snap, t.obj.snapName);
        EXPECT_TRUE(t.item.statusHistory.empty());
        if (c.rc != 0) {
            EXPECT_TRUE(log.containsAt(-1, "KRVN  Snapshot operation failed-[" + std::to_string(c.rc)));
        }
        // Only delete mentions a missing name without failing.
        EXPECT_EQ(c.rc == 0 && c.type == 4 && c.snap.empty(),
                  log.containsAt(-1, "KRVN  Snapshot name is not found in the snapshot metadata-["));
    }
}

TEST(SnapMetadata, DeleteTakesAnItemWithoutMetadataAsAlreadyDeleted) {
    for (bool unreadable : {false, true}) {
        ItemAndCtx t(ZY_KRVN_SNAP_OP_DELETE);
        if (unreadable) t.item.metadataReadFails.insert(6);
        else t.item.metadata[6] = "";
        krvntest::LogCapture log;
        EXPECT_EQ(0, t.ctx.fillSnapInfoFromMetadata(&t.obj));
        EXPECT_EQ(std::vector<int>{20}, t.item.statusHistory);
        EXPECT_TRUE(log.contains("KRVN >>  Snap-[42] metadata is empty. Nothing to delete.."));
        EXPECT_EQ(ZYKorvanCommon::ZY_KRVN_ERR_NONE, t.ctx.errorCode);
    }
}

TEST(SnapMetadata, AClusterSerialTheContextAlreadyKnowsIsKept) {
    ItemAndCtx t(ZY_KRVN_SNAP_OP_MAP);
    t.item.metadata[6] = "OTHER**vol1**5678**S1**";
    t.ctx.arrayDetails.scsiArrayId = "KNOWN";
    ASSERT_EQ(0, t.ctx.fillSnapInfoFromMetadata(&t.obj));
    EXPECT_EQ("KNOWN", t.ctx.arrayDetails.scsiArrayId);

    ItemAndCtx u(ZY_KRVN_SNAP_OP_MAP);
    u.item.metadata[6] = "OTHER**vol1**5678**S1**";
    ASSERT_EQ(0, u.ctx.fillSnapInfoFromMetadata(&u.obj));
    EXPECT_EQ("OTHER", u.ctx.arrayDetails.scsiArrayId);
}

TEST(SnapMetadata, PrepareWritesThreeFieldsAndCreateAppendsTheName) {
    ItemAndCtx t(ZY_KRVN_SNAP_OP_PREPARE);
    t.ctx.arrayDetails.scsiArrayId = "1234";
    t.obj.sourceVDiskName = "vol1";
    t.obj.sourceVDiskId = "5678";
    t.ctx.setSnapMetadata(&t.obj);
    EXPECT_EQ("1234**vol1**5678**", t.item.metadata[6]);

    t.obj.snapName = "S1";
    EXPECT_EQ(0, t.ctx.updateSnapMetadata(&t.obj));
    EXPECT_EQ("1234**vol1**5678**S1**", t.item.metadata[6]);

    // What create wrote is what every later operation reads back.
    ItemAndCtx later(ZY_KRVN_SNAP_OP_REVERT);
    later.item.metadata[6] = t.item.metadata[6];
    ASSERT_EQ(0, later.ctx.fillSnapInfoFromMetadata(&later.obj));
    EXPECT_EQ("1234", later.ctx.arrayDetails.scsiArrayId);
    EXPECT_EQ("vol1", later.obj.sourceVDiskName);
    EXPECT_EQ("5678", later.obj.sourceVDiskId);
    EXPECT_EQ("S1", later.obj.snapName);

    ItemAndCtx unreadable(ZY_KRVN_SNAP_OP_CREATE, 9);
    unreadable.obj.snapName = "S1";
    EXPECT_EQ(14, unreadable.ctx.updateSnapMetadata(&unreadable.obj));
    EXPECT_EQ("Failed to get snapshot metadata for device-[9]", unreadable.ctx.errorString());
    EXPECT_FALSE(unreadable.item.called("setMetadata"));
}

TEST(SnapMetadata, MountCloneNamesFollowTheTestMountFlag) {
    struct Case {
        std::string snap;
        bool testMount;
        int cloneNumber;
        std::string expected;
    };
    for (const Case& c : std::vector<Case>{{"vol$2024$01", false, 0, "ZY_vol-2024-01_42_"},
                                           {"vol$2024$01", true, 3, "ZYClone_vol-2024-01_3"},
                                           {"plain-name_x", false, 0, "ZY_plain-name_x_42_"},
                                           {"$", true, -1, "ZYClone_-_-1"}}) {
        SCOPED_TRACE(c.snap);
        ItemAndCtx t(ZY_KRVN_SNAP_OP_MAP);
        t.obj.snapName = c.snap;
        t.obj.mountCloneName = "earlier";
        if (c.testMount) t.item.flags.insert(0x8000);
        t.item.cloneNumber = c.cloneNumber;
        EXPECT_EQ(0, t.ctx.fillMountCloneNameForSnap(&t.obj));
        EXPECT_EQ(c.expected, t.obj.mountCloneName);
        EXPECT_EQ(c.snap, t.obj.snapName);
    }
}

TEST(SnapMetadata, CloneMetadataRoundTripsAndStopsAtTheFirstMissingField) {
    ItemAndCtx t(ZY_KRVN_SNAP_OP_MAP);
    t.obj.mountCloneName = "ZY_s-1_42_1700000000";
    t.obj.cloneScsiSerial = -9000000000000000001LL;
    t.ctx.arrayDetails.storageProxy = "sp1";
    t.ctx.setCloneMetadata(&t.obj);
    EXPECT_EQ("ZY_s-1_42_1700000000**-9000000000000000001**sp1**", t.item.metadata[149]);

    std::string name, serial, proxy;
    EXPECT_EQ(0, t.ctx.getMountInfoFromMetadata(&t.obj, name, serial, proxy));
    EXPECT_EQ("ZY_s-1_42_1700000000", name);
    EXPECT_EQ("-9000000000000000001", serial);
    EXPECT_EQ("sp1", proxy);

    struct Case {
        const char* value;   // nullptr: no key 149
        std::string name, serial, logged;
    };
    for (const Case& c : std::vector<Case>{
             {"c1**77**", "c1", "77", "KRVN  Unable to get storage proxy info from metadata-[c1**77**] for snapshot-[S1]"},
             {"c1****sp**", "c1", "", "KRVN  Unable to get storage proxy info from metadata-[c1****sp**]"},
             {"", "", "", "KRVN  Got empty clone metadata for snapshot-[S1]. Possibly map operation had failed..."},
             {nullptr, "", "", "KRVN  Failed to get clone metadata for snapshot-[S1]"}}) {
        SCOPED_TRACE(c.value ? c.value : "<none>");
        ItemAndCtx u(ZY_KRVN_SNAP_OP_UNMAP);
        u.obj.snapName = "S1";
        if (c.value) u.item.metadata[149] = c.value;
        name = serial = proxy = "stale";
        krvntest::LogCapture log;
        EXPECT_EQ(1, u.ctx.getMountInfoFromMetadata(&u.obj, name, serial, proxy));
        EXPECT_EQ(c.name, name);
        EXPECT_EQ(c.serial, serial);
        EXPECT_EQ("", proxy);
        EXPECT_TRUE(log.containsAt(-1, c.logged)) << log.dump();
        EXPECT_EQ(ZYKorvanCommon::ZY_KRVN_ERR_NONE, u.ctx.errorCode);   // unmap decides what it means
        EXPECT_EQ("", u.ctx.errorString());
    }
}
