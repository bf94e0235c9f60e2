// Snapshot and clone metadata as they travel between calls on the host item.
#include <gtest/gtest.h>

#include <tuple>

#include "SnapTestSupport.h"

using namespace ZYSnapKrvn;
using snaptest::Strings;
using namespace krvntest;

namespace {

struct ItemAndCtx {
    explicit ItemAndCtx(int type, long long id = 42) : item(id), ctx(&os, 0, type) { obj.snapInfo = &item; }
    krvntest::QuietSettings settings;
    krvntest::FakeOSUtil os;
    krvntest::FakeSnapInfo item;
    KrvnCtx ctx;
    KrvnSnapObject obj;
    Strings read() { return {obj.sourceVDiskName, obj.sourceVDiskId, obj.snapName}; }
};

}  // namespace

TEST(SnapMetadata, ReadingTreatsMissingFieldsPerOperation) {
    // value nullptr: no key 6 at all; fields: vDisk, serial, snapshot.
    struct Case {
        const char* value;
        int type, rc;
        std::string error;
        Strings fields;
    };
    const Case cases[] = {
        {"CS**vol1**5678**S1**", 5, 0, "", {"vol1", "5678", "S1"}},
        {"CS**vol1**5678**S1**S2**tail", 7, 0, "", {"vol1", "5678", "S1"}},  // the first name wins
        {"a**b**c**", 4, 0, "", {"b", "c", ""}},
        {"a**b**c**", 5, 16, "Snapshot name is not found in the snapshot metadata-[a**b**c**]", {"b", "c", ""}},
        {"a**b**c**S", 8, 16, "Snapshot name is not found in the snapshot metadata-[a**b**c**S]", {"b", "c", ""}},
        {"a****c**S**", 6, 16, "vDisk name is not found in the snapshot metadata-[a****c**S**]", {"", "", ""}},
        {"a**b****S**",
         3,
         16,
         "vDisk SCSI serial number is not found in the snapshot metadata-[a**b****S**]",
         {"b", "", ""}},
        {"abc", 7, 16, "Array unique ID is not found in the snapshot metadata-[abc]", {"", "", ""}},
        {"**b**c**S**", 4, 16, "Array unique ID is not found in the snapshot metadata-[**b**c**S**]", {"", "", ""}},
        {"", 3, 15, "Snapshot metadata is empty - may be snapshot preparation phase failed", {"", "", ""}},
        {nullptr, 5, 14, "Failed to get snapshot metadata for device-[42]", {"", "", ""}},
        {"", 4, 0, "", {"", "", ""}},  // delete takes an item without metadata as already deleted
        {nullptr, 4, 0, "", {"", "", ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.value ? c.value : "<none>") + " type " + std::to_string(c.type));
        ItemAndCtx t(c.type);
        if (c.value) t.item.metadata[kMetaSnapshot] = c.value;
        EXPECT_EQ(c.rc, t.ctx.fillSnapInfoFromMetadata(&t.obj));
        EXPECT_EQ(c.error, t.ctx.errorString());
        EXPECT_EQ(c.fields, t.read());
        EXPECT_EQ(c.rc == 0 && c.fields[0].empty() ? std::vector<int>{kSnapDeleted} : std::vector<int>{},
                  t.item.statusHistory);
    }
}

TEST(SnapMetadata, WhatPrepareAndCreateWriteIsReadBackAndAKnownClusterSerialIsKept) {
    ItemAndCtx t(ZY_KRVN_SNAP_OP_PREPARE);
    t.ctx.arrayDetails.scsiArrayId = "1234";
    std::tie(t.obj.sourceVDiskName, t.obj.sourceVDiskId) = std::make_pair("vol1", "5678");
    t.ctx.setSnapMetadata(&t.obj);
    EXPECT_EQ("1234**vol1**5678**", t.item.metadata[kMetaSnapshot]);
    t.obj.snapName = "S1";
    EXPECT_EQ(0, t.ctx.updateSnapMetadata(&t.obj));
    EXPECT_EQ("1234**vol1**5678**S1**", t.item.metadata[kMetaSnapshot]);

    for (const std::string known : {"", "KNOWN"}) {  // a cluster serial already known is kept
        ItemAndCtx later(ZY_KRVN_SNAP_OP_REVERT);
        later.item.metadata[kMetaSnapshot] = t.item.metadata[kMetaSnapshot];
        later.ctx.arrayDetails.scsiArrayId = known;
        ASSERT_EQ(0, later.ctx.fillSnapInfoFromMetadata(&later.obj));
        EXPECT_EQ(known.empty() ? "1234" : known, later.ctx.arrayDetails.scsiArrayId);
        EXPECT_EQ((Strings{"vol1", "5678", "S1"}), later.read());
    }

    ItemAndCtx unreadable(ZY_KRVN_SNAP_OP_CREATE, 9);
    unreadable.obj.snapName = "S1";
    EXPECT_EQ(14, unreadable.ctx.updateSnapMetadata(&unreadable.obj));
    EXPECT_EQ("Failed to get snapshot metadata for device-[9]", unreadable.ctx.errorString());
}

TEST(SnapMetadata, MountCloneNamesFollowTheTestMountFlag) {
    struct Case {
        std::string snap;
        bool testMount;
        int cloneNumber;
        std::string expected;
    };
    for (const Case& c :
         {Case{"vol$2024$01", false, 0, "ZY_vol-2024-01_42_"}, Case{"vol$2024$01", true, 3, "ZYClone_vol-2024-01_3"},
          Case{"plain-name_x", false, 0, "ZY_plain-name_x_42_"}, Case{"$", true, -1, "ZYClone_-_-1"}}) {
        SCOPED_TRACE(c.snap);
        ItemAndCtx t(ZY_KRVN_SNAP_OP_MAP);
        t.obj.snapName = c.snap;
        t.obj.mountCloneName = "earlier";
        if (c.testMount) t.item.flags.insert(0x8000);
        t.item.cloneNumber = c.cloneNumber;
        EXPECT_EQ(0, t.ctx.fillMountCloneNameForSnap(&t.obj));
        EXPECT_EQ(c.expected + " " + c.snap, t.obj.mountCloneName + " " + t.obj.snapName);
    }
}

TEST(SnapMetadata, CloneMetadataRoundTripsAndStopsAtTheFirstMissingField) {
    ItemAndCtx t(ZY_KRVN_SNAP_OP_MAP);
    t.obj.mountCloneName = "ZY_s-1_42_1700000000";
    t.obj.cloneScsiSerial = -9000000000000000001LL;
    t.ctx.arrayDetails.storageProxy = "sp1";
    t.ctx.setCloneMetadata(&t.obj);
    EXPECT_EQ("ZY_s-1_42_1700000000**-9000000000000000001**sp1**", t.item.metadata[kMetaClone]);
    Strings out(3);
    EXPECT_EQ(0, t.ctx.getMountInfoFromMetadata(&t.obj, out[0], out[1], out[2]));
    EXPECT_EQ((Strings{"ZY_s-1_42_1700000000", "-9000000000000000001", "sp1"}), out);

    struct Case {
        const char* value;
        Strings read;
    };  // value nullptr: no key 149
    for (const Case& c : {Case{"c1**77**", {"c1", "77", ""}}, Case{"c1****sp**", {"c1", "", ""}},
                          Case{"", {"", "", ""}}, Case{nullptr, {"", "", ""}}}) {
        SCOPED_TRACE(c.value ? c.value : "<none>");
        ItemAndCtx u(ZY_KRVN_SNAP_OP_UNMAP);
        u.obj.snapName = "S1";
        if (c.value) u.item.metadata[kMetaClone] = c.value;
        out.assign(3, "stale");
        EXPECT_EQ(1, u.ctx.getMountInfoFromMetadata(&u.obj, out[0], out[1], out[2]));
        EXPECT_EQ(c.read, out);
        EXPECT_EQ("", u.ctx.errorString());  // unmap decides what it means
    }
}
