#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "HostJob.h"
#include "HostState.h"
#include "HostTexts.h"
#include "TempDir.h"

using namespace KrvnHost;
using krvntest::TempDir;

namespace {

// Every field away from its default, in the form the state file writes.
const char* const kSample = R"({"format":1,"lastJobId":7,"lastSnapId":12,"lastLunId":3,
 "arrays":[{"number":2,"name":"cluster,one","vendor":"Pellart Distributed Storage","controlHost":"10.0.0.5",
   "user":"admin","storedPassword":"ZYP1:abc=","serial":"1A2B3C4D5E6F70",
   "configInts":{"SMCONFIG_NAME_SNAP_OP_RETRY_COUNT":2},"configLists":{"SMCONFIG_STORAGE_PROXY_LIST_KEY":["a","b"]}}],
 "snapItems":[{"id":12,"sourceDevice":"/dev/sdb","status":12,"metadata":{"6":"1A2B**vol1**5678**vol1$snap$000001**",
   "149":"ZY_vol1-snap-000001_12_1700000000**99**proxy-a**"},"mappedDevice":"/dev/sdf","snapName":"vol1$snap$000001",
   "cloneNumber":3,"flags":32768,"arrayNumber":2,"lastErrorCode":62009,"lastError":"map failed..\nErrors-[x ]"}],
 "lunItems":[{"id":3,"diskName":"data1","arrayName":"cluster,one","sizeBytes":5368709120,"blockSize":512,"status":9,
   "deviceName":"/dev/sdg","lunName":"data1","initiatorInfo":"{\"hosts\":[]}","description":"quoted \"text\"",
   "lastErrorCode":70003,"lastError":"x","preexisting":true,"createTried":true,"clusterSizeBytes":5368709120}],
 "settings":{"nZYKorvanReplicationFactor":"2"},
 "log":[{"jobId":7,"time":1700000000,"level":1,"text":"KRVN  Going to map [1] snapshots.."}]})";

HostState sampleState() {
    HostState st;
    std::string error;
    EXPECT_TRUE(stateFromJsonText(kSample, &st, &error)) << error;
    return st;
}

}  // namespace

// A field lost in either direction leaves it at its default, which the sample never has.
TEST(StateFile, SavedStateReadsBackFieldForField) {
    TempDir dir;
    StateFile file(dir.file("state.json"));
    std::string error;
    ASSERT_TRUE(file.save(sampleState(), &error)) << error;
    HostState loaded;
    ASSERT_TRUE(file.load(&loaded, &error)) << error;
    EXPECT_EQ(nlohmann::json::parse(stateToJsonText(loaded)), nlohmann::json::parse(kSample));
    EXPECT_EQ(loaded.snaps.at(0).metadata.at(149), "ZY_vol1-snap-000001_12_1700000000**99**proxy-a**");
}

TEST(StateFile, MissingFileIsAnEmptyStateAndSaveFailsCleanlyWithoutADirectory) {
    TempDir dir;
    HostState st = sampleState();
    std::string error;
    ASSERT_TRUE(StateFile(dir.file("absent.json")).load(&st, &error)) << error;
    EXPECT_TRUE(st.arrays.empty() && st.snaps.empty() && st.lastJobId == 0);
    EXPECT_FALSE(StateFile(dir.file("no-such-dir/state.json")).save(sampleState(), &error));
    EXPECT_NE(error.find("no-such-dir"), std::string::npos) << error;
}

TEST(StateFile, SaveReplacesTheFileByRenameAndLeavesNoTemporaryFiles) {
    TempDir dir;
    StateFile file(dir.file("state.json"));
    std::string error;
    HostState state = sampleState();
    ASSERT_TRUE(file.save(state, &error)) << error;
    const std::string before = dir.read("state.json");
    // A second name on the old file: an in-place rewrite would change what it shows.
    ASSERT_EQ(::link(dir.file("state.json").c_str(), dir.file("old-link").c_str()), 0);
    state.snaps[0].status = kSnapUnmapped;
    ASSERT_TRUE(file.save(state, &error)) << error;
    EXPECT_EQ(dir.read("old-link"), before);
    HostState loaded;
    ASSERT_TRUE(file.load(&loaded, &error)) << error;
    EXPECT_EQ(loaded.snaps[0].status, kSnapUnmapped);
    std::vector<std::string> names = dir.names();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"old-link", "state.json"}));
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("state.json").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0077, 0u) << "the state holds stored passwords";
}

TEST(StateFile, CorruptedFileIsRefusedWithItsNameAndLeftUntouched) {
    const std::string cases[] = {
        "this is not json",
        stateToJsonText(sampleState()).substr(0, 200),
        "[1,2,3]",
        R"({"format": 99})",
        R"({"snapItems":[{"id":1,"status":"twelve"}]})",
        R"({"snapItems":[{"id":1,"metadata":{"six":"x"}}]})",
        R"({"arrays":{"name":"a"}})",
        "",
    };
    for (const auto& text : cases) {
        SCOPED_TRACE(text);
        TempDir dir;
        dir.write("state.json", text);
        HostState st = sampleState();
        const std::string before = stateToJsonText(st);
        std::string error;
        EXPECT_FALSE(StateFile(dir.file("state.json")).load(&st, &error));
        for (const std::string& part :
             {dir.file("state.json"), std::string("corrupted"), std::string("left untouched")})
            EXPECT_NE(error.find(part), std::string::npos) << error;
        EXPECT_EQ(dir.read("state.json"), text);
        EXPECT_EQ(stateToJsonText(st), before) << "a refused load must not half-fill the state";
        EXPECT_EQ(dir.names().size(), 1u);
    }
}

TEST(HostJob, OneJobPerStateFileAtATimeReadersDoNotWaitAndACorruptedFileStopsTheJob) {
    TempDir dir;
    Plugin unloaded;
    std::string error;
    {
        HostJob first(StateFile(dir.file("state.json")), unloaded);
        ASSERT_TRUE(first.begin(&error)) << error;
        HostJob second(StateFile(dir.file("state.json")), unloaded);
        EXPECT_FALSE(second.begin(&error));
        EXPECT_NE(error.find("another korvan-host"), std::string::npos) << error;
        first.addSnapItem("/dev/sdb", 0, 1);
        ASSERT_TRUE(first.save(&error)) << error;
        HostJob reader(StateFile(dir.file("state.json")), unloaded);
        ASSERT_TRUE(reader.begin(&error, Access::Read)) << "status must answer under the lock: " << error;
        EXPECT_EQ(reader.state().snaps.size(), 1u) << "the reader sees the last save";
        EXPECT_FALSE(reader.save(&error)) << "a reader never writes";
    }
    HostJob third(StateFile(dir.file("state.json")), unloaded);
    ASSERT_TRUE(third.begin(&error)) << "the lock goes with the job: " << error;
    EXPECT_EQ(third.state().snaps.size(), 1u);
    EXPECT_EQ(third.jobId(), 2) << "every job takes the next id, readers none";

    dir.write("broken.json", "{\"snapItems\": [");
    HostJob broken(StateFile(dir.file("broken.json")), unloaded);
    EXPECT_FALSE(broken.begin(&error));
    EXPECT_NE(error.find("corrupted"), std::string::npos) << error;
    EXPECT_EQ(dir.read("broken.json"), "{\"snapItems\": [");
}

// Guardrails the host keeps before any call of the plug-in (which is not loaded here, so a
// request that passes them ends at "the plug-in is not loaded").
TEST(HostJob, SnapTakesOnlyPreparedOrFailedItemsAndNothingOnTheClusterIsForgottenOrDeletedByMistake) {
    TempDir dir;
    Plugin unloaded;
    HostJob job(StateFile(dir.file("state.json")), unloaded);
    std::string error;
    ASSERT_TRUE(job.begin(&error)) << error;
    const struct {
        int status;
        const char* snapName;
        bool snapTakes, forgettable;
    } snaps[] = {
        {kSnapNew, "", false, true},
        {kSnapPrepared, "", true, true},
        {kSnapPrepareFailed, "", false, true},
        {kSnapCreateFailed, "", true, true},
        {kSnapCreated, "v$snap$1", false, false},
        {kSnapMapped, "v$snap$1", false, false},
        {kSnapDeleteFailed, "v$snap$1", false, false},
        {kSnapDeleted, "v$snap$1", false, true},
        {kSnapGoneFromArray, "v$snap$1", false, true},
    };
    for (const auto& row : snaps) {
        SCOPED_TRACE(row.status);
        long long id = job.addSnapItem("/dev/sdb", 0, 1);
        job.state().findSnap(id)->status = row.status;
        job.state().findSnap(id)->snapName = row.snapName;
        CallOutcome snap = job.runSnap(SnapOp::Snap, {id});
        EXPECT_EQ(snap.result, 1);
        EXPECT_EQ(snap.hostError, row.snapTakes ? "the plug-in is not loaded"
                                                : "item " + std::to_string(id) + " has status " +
                                                      std::to_string(row.status) + " (" + snapStatusName(row.status) +
                                                      "): snap takes prepared items (1) and items whose snapshot "
                                                      "creation failed (6)");
        EXPECT_EQ(job.forgetSnaps({id}, false, &error), row.forgettable) << error;
        EXPECT_EQ(job.state().findSnap(id) == nullptr, row.forgettable);
        if (!row.forgettable) {
            EXPECT_NE(error.find("forget it with --force"), std::string::npos) << error;
            EXPECT_TRUE(job.forgetSnaps({id}, true, &error));
        }
    }
    EXPECT_FALSE(job.forgetSnaps({999}, true, &error));
    EXPECT_EQ(error, "no snapshot item 999");

    LunItem made, had, failed;
    made.diskName = "data1", made.status = kLunMapped;
    had.diskName = "vol1", had.status = kLunCreated, had.preexisting = true;
    failed.diskName = "x", failed.status = kLunCreateFailed;
    long madeId = job.addLunItem(made), hadId = job.addLunItem(had), failedId = job.addLunItem(failed);
    EXPECT_NE(job.runLun(LunOp::Delete, {madeId, hadId}).hostError.find("vol1, a disk the cluster already had"),
              std::string::npos);
    EXPECT_EQ(job.runLun(LunOp::Delete, {madeId, hadId}, true).hostError, "the plug-in is not loaded");
    EXPECT_FALSE(job.forgetLuns({failedId, madeId}, false, &error));
    EXPECT_NE(error.find("delete it first (korvan-host lun delete " + std::to_string(madeId)), std::string::npos)
        << error;
    EXPECT_EQ(job.state().luns.size(), 3u) << "a refusal removes nothing";
    EXPECT_FALSE(job.forgetLuns({hadId}, false, &error));
    EXPECT_NE(error.find("leaves the disk as it is"), std::string::npos) << error;
    EXPECT_TRUE(job.forgetLuns({failedId}, false, &error)) << error;
    EXPECT_TRUE(job.forgetLuns({madeId, hadId}, true, &error)) << error;
    EXPECT_TRUE(job.state().luns.empty());
}
