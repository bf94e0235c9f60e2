#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "HostJob.h"
#include "HostState.h"
#include "HostTestDir.h"

using namespace KrvnHost;
using krvnhosttest::TempDir;

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
   "lastErrorCode":70003,"lastError":"x"}],
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
    state.snaps[0].status = 14;
    ASSERT_TRUE(file.save(state, &error)) << error;
    EXPECT_EQ(dir.read("old-link"), before);
    HostState loaded;
    ASSERT_TRUE(file.load(&loaded, &error)) << error;
    EXPECT_EQ(loaded.snaps[0].status, 14);
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
        for (const std::string& part : {dir.file("state.json"), std::string("corrupted"), std::string("left untouched")})
            EXPECT_NE(error.find(part), std::string::npos) << error;
        EXPECT_EQ(dir.read("state.json"), text);
        EXPECT_EQ(stateToJsonText(st), before) << "a refused load must not half-fill the state";
        EXPECT_EQ(dir.names().size(), 1u);
    }
}

TEST(HostJob, OneJobPerStateFileAtATimeAndACorruptedFileStopsTheJob) {
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
    }
    HostJob third(StateFile(dir.file("state.json")), unloaded);
    ASSERT_TRUE(third.begin(&error)) << "the lock goes with the job: " << error;
    EXPECT_EQ(third.state().snaps.size(), 1u);
    EXPECT_EQ(third.jobId(), 2) << "every job takes the next id";

    dir.write("broken.json", "{\"snapItems\": [");
    HostJob broken(StateFile(dir.file("broken.json")), unloaded);
    EXPECT_FALSE(broken.begin(&error));
    EXPECT_NE(error.find("corrupted"), std::string::npos) << error;
    EXPECT_EQ(dir.read("broken.json"), "{\"snapItems\": [");
}
