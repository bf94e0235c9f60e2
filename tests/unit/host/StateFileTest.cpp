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

HostState sampleState() {
    HostState st;
    st.lastJobId = 7;
    st.lastSnapId = 12;
    st.lastLunId = 3;
    ArrayEntry a;
    a.number = 2;
    a.name = "cluster,one";
    a.storedPassword = "ZYP1:abc=";
    a.serial = "1A2B3C4D5E6F70";
    a.configInts["SMCONFIG_NAME_SNAP_OP_RETRY_COUNT"] = 2;
    a.configLists["SMCONFIG_STORAGE_PROXY_LIST_KEY"] = {"proxy-a", "proxy-b"};
    st.arrays.push_back(a);
    SnapItem s;
    s.id = 12;
    s.sourceDevice = "/dev/sdb";
    s.status = 12;
    s.metadata[6] = "1A2B**vol1**5678**vol1$snap$000001**";
    s.metadata[149] = "ZY_vol1-snap-000001_12_1700000000**99**proxy-a**";
    s.mappedDevice = "/dev/sdf";
    s.snapName = "vol1$snap$000001";
    s.cloneNumber = 3;
    s.flags = 0x8000;
    s.arrayNumber = 2;
    s.lastErrorCode = 62009;
    s.lastError = "Snapshot map operation failed..\nErrors returned by cluster-[x ]";
    st.snaps.push_back(s);
    LunItem l;
    l.id = 3;
    l.sizeBytes = 5LL << 30;
    l.status = 9;
    l.description = "quoted \"text\"";
    st.luns.push_back(l);
    st.settings["nZYKorvanReplicationFactor"] = "2";
    st.log.push_back(LogLine{7, 1700000000, 1, "KRVN  Going to map [1] snapshots.."});
    return st;
}

}  // namespace

TEST(StateFile, SavedStateReadsBackFieldForField) {
    TempDir dir;
    StateFile file(dir.file("state.json"));
    const HostState original = sampleState();
    std::string error;
    ASSERT_TRUE(file.save(original, &error)) << error;
    HostState loaded;
    ASSERT_TRUE(file.load(&loaded, &error)) << error;
    EXPECT_EQ(stateToJsonText(loaded), stateToJsonText(original));
    // The snapshot item is written by hand: every field must make the trip.
    ASSERT_EQ(loaded.snaps.size(), 1u);
    const SnapItem &in = loaded.snaps[0], &out = original.snaps[0];
    EXPECT_TRUE(in.id == out.id && in.sourceDevice == out.sourceDevice && in.status == out.status &&
                in.metadata == out.metadata && in.mappedDevice == out.mappedDevice && in.snapName == out.snapName &&
                in.cloneNumber == out.cloneNumber && in.flags == out.flags && in.arrayNumber == out.arrayNumber &&
                in.lastErrorCode == out.lastErrorCode && in.lastError == out.lastError)
        << stateToJsonText(loaded);
    EXPECT_EQ(loaded.luns.at(0).sizeBytes, 5LL << 30);
    EXPECT_EQ(loaded.arrays.at(0).configLists.at("SMCONFIG_STORAGE_PROXY_LIST_KEY").size(), 2u);
    EXPECT_EQ(loaded.lastSnapId, 12);
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
