#include <sys/stat.h>

#include <filesystem>

#include "SimTestClient.h"

using korvansim::Json;
using krvntest::SimHarness;
using simtest::SimClient;

namespace {

constexpr uint64_t kGiB = 1ull << 30;

// The bytes of a vDisk's image at an offset ("" when it has no image).
std::string contents(SimHarness& sim, const std::string& vdisk, uint64_t offset, size_t length) {
    auto image = sim.sim().diskImage(vdisk);
    std::string out(length, '\0');
    return image && image->read(offset, out.data(), length) ? out : "";
}

void put(SimHarness& sim, const std::string& vdisk, uint64_t offset, const std::string& bytes) {
    auto image = sim.sim().diskImage(vdisk);
    ASSERT_TRUE(image && image->write(offset, bytes.data(), bytes.size())) << vdisk;
}

size_t imageFiles(SimHarness& sim) {
    size_t n = 0;
    for (const auto& e : std::filesystem::directory_iterator(sim.state()["data"]["folder"].get<std::string>()))
        n += e.path().extension() == ".img";
    return n;
}

TEST(SimData, SnapshotsClonesRevertsResizesAndDeletesCarryTheContents) {
    SimHarness sim(1);
    ASSERT_TRUE(sim.ok()) << sim.error();
    SimClient c(sim);
    const std::string a(4096, 'a'), b(4096, 'b'), z(4096, '\0');
    const uint64_t far = 9 * kGiB;  // near the end of the 10 GiB disk
    EXPECT_EQ(contents(sim, "vol1", far, 4096), z) << "a new disk reads zeros";
    put(sim, "vol1", 0, a);
    put(sim, "vol1", far, a);
    std::string snap = c.send("MakeSnapshot", "virtualDisks:['vol1']")["result"][0]["snapshotName"];
    put(sim, "vol1", 0, b);
    c.send("CloneSnapshot", "name:'copy', clonedSnapshotName:'" + snap + "'");
    EXPECT_EQ(contents(sim, "copy", 0, 4096), a) << "a clone starts with its snapshot's contents";
    EXPECT_EQ(contents(sim, "copy", far, 4096), a);
    EXPECT_EQ(contents(sim, "vol1", 0, 4096), b) << "the source keeps what was written after its snapshot";
    EXPECT_EQ(sim.sim().diskImage("copy")->size(), 10 * kGiB);

    for (int round = 0; round < 2; ++round) {  // the second revert to the same snapshot counts too
        put(sim, "vol1", far, b);
        EXPECT_EQ(c.send("RevertToSnapshot", "snapshotName:'" + snap + "'")["status"], "ok");
        EXPECT_EQ(contents(sim, "vol1", 0, 4096), a) << round;
        EXPECT_EQ(contents(sim, "vol1", far, 4096), a) << round;
    }
    EXPECT_EQ(contents(sim, "copy", 0, 4096), a) << "a revert of the source leaves the clone alone";

    c.send("ResizeDisks", "virtualDisks:['vol1'], size:{unit:'GB', value:12}");
    EXPECT_EQ(sim.sim().diskImage("vol1")->size(), 12 * kGiB);
    EXPECT_EQ(contents(sim, "vol1", 11 * kGiB, 4096), z);
    EXPECT_EQ(contents(sim, "vol1", 12 * kGiB, 1), "") << "no byte past the end";

    EXPECT_EQ(imageFiles(sim), 3u) << "vol1, its snapshot, the clone";
    c.send("DeleteSnapshot", "snapshotName:'" + snap + "'");
    c.send("DeleteVDisk", "virtualDisks:['vol1']");
    EXPECT_EQ(imageFiles(sim), 1u);
    EXPECT_FALSE(sim.sim().diskImage("vol1"));
    EXPECT_EQ(contents(sim, "copy", 0, 4096), a) << "the clone keeps its contents";

    c.send("AddVirtualDisk", "name:'fresh', size:{unit:'MB', value:64}, diskType:BLOCK");
    EXPECT_EQ(sim.sim().diskImage("fresh")->size(), 64u << 20);
    sim.sim().reset();
    EXPECT_EQ(contents(sim, "vol1", 0, 4096), z) << "a seed starts from empty contents";
    EXPECT_EQ(imageFiles(sim), 1u);
}

// Only the vDisks a request names are brought in line after it, so every way a change can come
// must still reach the images: a vDisk deleted with its snapshots, and a change made on the
// model directly (the control API and tests).
TEST(SimData, ImagesFollowAVDiskDeletedWithItsSnapshotsAndChangesMadeOnTheModelDirectly) {
    SimHarness sim(2);
    ASSERT_TRUE(sim.ok()) << sim.error();
    SimClient c(sim);
    for (int i = 0; i < 2; ++i) c.send("MakeSnapshot", "virtualDisks:['vol1']");
    EXPECT_EQ(imageFiles(sim), 4u) << "vol1, vol2 and two snapshots";
    c.send("DeleteVDisk", "virtualDisks:['vol1']");
    EXPECT_EQ(imageFiles(sim), 1u) << "the snapshots' images went with their vDisk";

    const std::string byHand = "vol2$snap$byhand";
    sim.sim().withState([&](korvansim::Cluster& cluster, korvansim::SanBackend&) {
        cluster.find("vol2")->snapshots.push_back({byHand, 0});
    });
    EXPECT_EQ(imageFiles(sim), 2u);
    EXPECT_EQ(c.send("ListClonesForSnapshot", "snapshotName:'" + byHand + "'")["status"], "ok")
        << "the cluster finds the snapshot by its name";
    EXPECT_EQ(c.send("DeleteSnapshot", "snapshotName:'" + byHand + "'")["status"], "ok");
    EXPECT_EQ(imageFiles(sim), 1u);
}

// Only written extents are copied: a 10 GiB disk with 8 MiB written snapshots to about 8 MiB
// of blocks, which is what keeps a snapshot of a large disk quick.
TEST(SimData, ASnapshotAllocatesOnlyWhatItsDiskHasWritten) {
    SimHarness sim(1);
    SimClient c(sim);
    const std::string block(4u << 20, 'x');
    put(sim, "vol1", kGiB, block);
    put(sim, "vol1", 7 * kGiB, block);
    std::string snap = c.send("MakeSnapshot", "virtualDisks:['vol1']")["result"][0]["snapshotName"];
    c.send("CloneSnapshot", "name:'copy', clonedSnapshotName:'" + snap + "'");
    EXPECT_EQ(contents(sim, "copy", 7 * kGiB, block.size()), block);
    for (const auto& e : std::filesystem::directory_iterator(sim.state()["data"]["folder"].get<std::string>())) {
        struct stat info;
        ASSERT_EQ(stat(e.path().c_str(), &info), 0);
        EXPECT_EQ(info.st_size, static_cast<off_t>(10 * kGiB)) << e.path();
        EXPECT_LE(info.st_blocks * 512, 9 << 20) << e.path() << " holds more than what was written";
    }
}

}  // namespace
