// The snapshot entry points, called through the built plug-in exactly as the host calls them.
#include <gtest/gtest.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "FakeSnapHost.h"
#include "KrvnTestSession.h"
#include "LogCapture.h"
#include "SnapTestSupport.h"
#include "ScriptedServer.h"
#include "ZYSOExports.h"

using krvntest::FakeSnapBatch;
using krvntest::FakeSnapInfo;

namespace {

const std::string kLibrary = std::string(KRVN_BUILD_LIB_DIR) + "/libZYKorvanSnap.so";

// The plug-in, loaded once for the whole test program.
void* plugin() {
    static void* handle = dlopen(kLibrary.c_str(), RTLD_NOW | RTLD_LOCAL);
    return handle;
}

template <typename F>
F entry(const char* name) {
    void* handle = plugin();
    if (!handle) ADD_FAILURE() << "cannot load " << kLibrary << ": " << dlerror();
    return handle ? reinterpret_cast<F>(dlsym(handle, name)) : nullptr;
}

// Settings that keep every test away from real devices: the fixture backend with an empty
// folder, so any SCSI inquiry finds no device.
struct Settings : krvntest::QuietSettings {
    Settings() {
        char tmpl[] = "/tmp/krvn-devices-XXXXXX";
        dir = mkdtemp(tmpl) ? tmpl : "/nonexistent";
        set("Platform", "deviceBackend", "fixture");
        set("Platform", "deviceFixtureDir", dir);
    }
    ~Settings() {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    std::string dir;
};

// Items as a working call receives them: full snapshot metadata, a storage proxy, the fake
// array pointing at a port where nothing listens unless a test starts a server.
FakeSnapBatch makeBatch(int count, int port = 1) {
    FakeSnapBatch batch(count);
    batch.setSnapMetadata("CS1", "vol1", "5678", "vol1$s1");
    for (size_t i = 0; i < batch.size(); ++i) {
        batch[i].configLists["SMCONFIG_STORAGE_PROXY_LIST_KEY"] = {"sp1"};
        batch[i].configInts["SMCONFIG_NAME_SERVER_PORT"] = port;
        batch[i].configInts["SMCONFIG_NAME_SNAP_OP_RETRY_COUNT"] = 1;
        batch[i].metadata[149] = "ZY_vol1-s1_1_1**77**sp1**";
    }
    return batch;
}

struct Row {
    const char* name;
    int keep, failed;   // keep 0: the call leaves statuses alone
    int code;
    std::string start, failure, success;
};

const std::vector<Row>& workingEntries() {
    static const std::vector<Row> rows = {
        {"zyso_prepareDevices", 1, 2, 62008, "Going to prepare [3] devices for snapshots..", "Device preparation failed..",
         "Preparation for [3] devices done.. - success"},
        {"zyso_snapDevices", 5, 6, 60001, "Going to create [3] snapshots..", "Snapshot creation failed..",
         "Successfully created [3] snapshots.."},
        {"zyso_deleteSnaps", 20, 21, 60004, "Going to delete [3] snapshots..", "Snapshot deletion failed..",
         "Successfully deleted [3] snapshots.."},
        {"zyso_mapSnaps", 12, 11, 62009, "Going to map [3] snapshots..", "Snapshot map operation failed..",
         "Successfully mapped [3] snapshots.."},
        {"zyso_unmapSnaps", 14, 15, 62010, "Going to unmap [3] snapshots..", "Snapshot unmap operation failed..",
         "Successfully unmapped [3] snapshots.."},
        {"zyso_revertSnaps", 22, 23, 60005, "Going to revert [3] snapshots..", "Snapshot revert failed..",
         "Successfully reverted [3] snapshots.."},
        {"zyso_reconcileSnaps", 0, 0, 60039, "Going to reconcile [3] snapshots..", "Snapshot reconciliation failed..",
         "Successfully reconciled [3] snapshots.."},
    };
    return rows;
}

// What every failed working call must leave on the items: the kept status where it was
// reached, the failure status everywhere else, the code and text on the first item only, and
// the start and failure lines in the job log.
void expectFailureReport(const Row& row, FakeSnapBatch& batch, int before0, int before2, const std::string& text) {
    const bool setsStatus = row.keep != 0;
    EXPECT_EQ(setsStatus ? row.failed : before0, batch[0].status);
    EXPECT_EQ(setsStatus ? row.keep : 3, batch[1].status);
    EXPECT_EQ(setsStatus ? row.failed : before2, batch[2].status);
    EXPECT_EQ(1, batch[0].lastErrorCalls);
    EXPECT_EQ(row.code, batch[0].lastErrorCode);
    EXPECT_EQ(text, batch[0].lastErrorMessage);
    EXPECT_EQ(0, batch[1].lastErrorCalls + batch[2].lastErrorCalls);
    ASSERT_GE(batch[0].logLines.size(), 2u);
    EXPECT_EQ(1, batch[0].logLines.front().level);
    EXPECT_EQ("KRVN  ", batch[0].logLines.front().prefix);
    EXPECT_EQ(row.start, batch[0].logLines.front().text);
    EXPECT_EQ(row.failure, batch[0].logLines.back().text);
    EXPECT_FALSE(batch[0].hasLog(row.success));
}

}  // namespace

TEST(SnapEntryPoints, FailureKeepsFinishedItemsAndReportsOnTheFirstItem) {
    enum Fault { kHostAnswer, kHostThrows, kHostThrowsNonStandard };
    for (const Row& row : workingEntries()) {
        for (Fault fault : {kHostAnswer, kHostThrows, kHostThrowsNonStandard}) {
            SCOPED_TRACE(std::string(row.name) + " fault " + std::to_string(fault));
            Settings settings;
            FakeSnapBatch batch = makeBatch(3);
            batch[1].status = row.keep != 0 ? row.keep : 3;
            batch[2].status = 9;
            std::string text;
            if (fault == kHostAnswer) {
                batch[2].sourceDeviceOk = false;
                text = "Failed to get source device details for snap-[3]";
            } else {
                batch[2].throwOn = "getSourceDevice";
                batch[2].throwNonStandard = fault == kHostThrowsNonStandard;
                text = fault == kHostThrows ? "Internal error-[fake host failure in getSourceDevice]"
                                            : "Internal error-[unknown]";
            }
            auto fn = entry<zyso_snap_fn>(row.name);
            ASSERT_NE(nullptr, fn);
            EXPECT_EQ(1, fn(batch.data(), batch.count(), &batch.os));
            expectFailureReport(row, batch, 0, 9, text);
            EXPECT_FALSE(batch[0].called("getArrayInfo")) << "the fetch stops at the failing item";
        }
    }
}

TEST(SnapEntryPoints, AFailedStepAfterLoginReportsWithoutLoggingOut) {
    for (const Row& row : workingEntries()) {
        // Prepare fails before login here; reconcile reports what it finds and never fails.
        if (row.keep == 0 || std::string(row.name) == "zyso_prepareDevices") continue;
        SCOPED_TRACE(row.name);
        Settings settings;
        krvntest::ScriptedServer srv;
        ASSERT_TRUE(srv.start());
        srv.reply(200, krvntest::loginAnswer());
        srv.setDefault(500, R"({"status":"error","message":"Injected cluster fault"})");
        FakeSnapBatch batch = makeBatch(3, srv.port());
        batch[1].status = row.keep != 0 ? row.keep : 3;
        batch[2].status = 9;
        auto fn = entry<zyso_snap_fn>(row.name);
        ASSERT_NE(nullptr, fn);
        EXPECT_EQ(1, fn(batch.data(), batch.count(), &batch.os));
        ASSERT_GE(srv.requestCount(), 1u);
        EXPECT_NE(std::string::npos, srv.requests()[0].request.find("type:Login"));
        for (const auto& request : srv.requests()) EXPECT_EQ(std::string::npos, request.request.find("type:Logout"));
        EXPECT_FALSE(batch[0].lastErrorMessage.empty());
        EXPECT_FALSE(batch[0].lastErrorMessage.find("secret-pass") != std::string::npos);
        EXPECT_EQ(row.code, batch[0].lastErrorCode);
        EXPECT_EQ(row.failure, batch[0].logLines.back().text);
    }
}

TEST(SnapEntryPoints, SuccessLogsOutAndReportsOnTheFirstItemWhateverTheLogoutSays) {
    Settings settings;
    krvntest::ScriptedServer srv;
    ASSERT_TRUE(srv.start());
    srv.reply(200, krvntest::loginAnswer());
    srv.setDefault(500, R"({"status":"error","message":"Injected cluster fault"})");
    FakeSnapBatch batch = makeBatch(3, srv.port());
    auto reconcile = entry<zyso_snap_fn>("zyso_reconcileSnaps");
    ASSERT_NE(nullptr, reconcile);
    EXPECT_EQ(0, reconcile(batch.data(), batch.count(), &batch.os));
    ASSERT_GE(srv.requestCount(), 2u);
    EXPECT_NE(std::string::npos, srv.lastRequest().request.find("type:Logout"));
    EXPECT_EQ(0, batch[0].lastErrorCalls);
    ASSERT_FALSE(batch[0].logLines.empty());
    EXPECT_EQ("Going to reconcile [3] snapshots..", batch[0].logLines.front().text);
    EXPECT_EQ("Successfully reconciled [3] snapshots..", batch[0].logLines.back().text);
    EXPECT_EQ(1, batch[0].logLines.back().level);
    for (size_t i = 0; i < batch.size(); ++i) EXPECT_TRUE(batch[i].statusHistory.empty() || batch[i].status == 24);
}

TEST(SnapEntryPoints, DeleteWithNothingLeftSucceedsWithoutTheCluster) {
    Settings settings;
    FakeSnapBatch batch = makeBatch(3);
    batch[0].status = 20;
    batch[1].arrayNumber = 0;   // never tied to an array: nothing was ever made for it
    batch[2].metadata.erase(6);
    batch[2].status = 20;
    auto del = entry<zyso_snap_fn>("zyso_deleteSnaps");
    ASSERT_NE(nullptr, del);
    EXPECT_EQ(0, del(batch.data(), batch.count(), &batch.os));
    EXPECT_EQ(20, batch[1].status);
    EXPECT_TRUE(batch[0].hasLog("No snapshots require deletion."));
    EXPECT_FALSE(batch[0].hasLog("Successfully deleted [3] snapshots.."));
    EXPECT_EQ(0, batch[0].lastErrorCalls);
    for (size_t i = 0; i < batch.size(); ++i) EXPECT_FALSE(batch[i].called("getArrayInfo"));

    // An item whose metadata is gone counts as deleted as well; the rest still needs the cluster.
    FakeSnapBatch mixed = makeBatch(2);
    mixed[0].metadata.erase(6);
    EXPECT_EQ(1, del(mixed.data(), mixed.count(), &mixed.os));
    EXPECT_EQ(20, mixed[0].status);
    EXPECT_EQ(21, mixed[1].status);
}

TEST(SnapEntryPoints, EveryEntryPointSurvivesMissingOrEmptyInput) {
    const std::vector<std::string> names = {"zyso_prepareDevices", "zyso_unprepareDevices", "zyso_snapDevices",
                                            "zyso_deleteSnaps",    "zyso_isMapped",         "zyso_mapSnaps",
                                            "zyso_unmapSnaps",     "zyso_revertSnaps",      "zyso_reconcileSnaps"};
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        Settings settings;
        auto fn = entry<zyso_snap_fn>(name.c_str());
        ASSERT_NE(nullptr, fn);
        FakeSnapBatch batch = makeBatch(1);
        EXPECT_EQ(1, fn(nullptr, 1, &batch.os));
        EXPECT_EQ(1, fn(nullptr, 0, nullptr));

        // A count of zero names no item, so the first pointer is never read.
        for (int count : {0, -1}) {
            batch[0].clear();
            bool unsupported = name == "zyso_unprepareDevices" || name == "zyso_isMapped";
            EXPECT_EQ(1, fn(batch.data(), count, &batch.os));
            if (!unsupported) {
                EXPECT_TRUE(batch[0].calls.empty()) << batch[0].calls.front().text();
            }
        }

        FakeSnapBatch nullFirst = makeBatch(2);
        nullFirst.setNull(0);
        EXPECT_EQ(1, fn(nullFirst.data(), 2, &nullFirst.os));
        EXPECT_EQ(0, nullFirst[1].lastErrorCalls);

        FakeSnapBatch noArray = makeBatch(1);
        noArray[0].arrayNumber = 0;
        const int rc = fn(noArray.data(), 1, &noArray.os);
        if (name == "zyso_deleteSnaps") {
            EXPECT_EQ(0, rc);
            EXPECT_EQ(20, noArray[0].status);
        } else {
            EXPECT_EQ(1, rc);
        }
        if (name != "zyso_deleteSnaps" && name != "zyso_prepareDevices" && name != "zyso_unprepareDevices" &&
            name != "zyso_isMapped") {
            EXPECT_EQ("The snap-[1] is not associated with any array. Possibly source device discovery could have "
                      "failed.",
                      noArray[0].lastErrorMessage);
        }
    }
}

TEST(SnapEntryPoints, ExceptionsFromTheHostNeverLeaveTheEntryPoint) {
    Settings settings;
    auto create = entry<zyso_snap_fn>("zyso_snapDevices");
    ASSERT_NE(nullptr, create);

    FakeSnapBatch jobId = makeBatch(2);
    jobId.os.throwOn = "getJobId";   // thrown while the context is being built
    krvntest::LogCapture log;
    EXPECT_EQ(1, create(jobId.data(), 2, &jobId.os));
    EXPECT_TRUE(log.containsAt(-1, "KRVN  Snapshot operation failed - [1:Internal error-[fake host failure in getJobId]]"))
        << log.dump();
    EXPECT_EQ(60001, jobId[0].lastErrorCode);
    EXPECT_EQ("Internal error-[fake host failure in getJobId]", jobId[0].lastErrorMessage);
    EXPECT_EQ(6, jobId[1].status);

    for (const char* op : {"setLastError", "log", "setStatus", "getStatus"}) {
        SCOPED_TRACE(op);
        FakeSnapBatch batch = makeBatch(2);
        batch[0].throwOn = op;
        EXPECT_EQ(1, create(batch.data(), 2, &batch.os));
    }

    auto supported = entry<zyso_is_supported_fn>("zyso_isSupported");
    ASSERT_NE(nullptr, supported);
    krvntest::FakeOSUtil os;
    os.throwOn = "getJobId";
    char buffer[16] = "untouched";
    log.clear();
    EXPECT_EQ(1, supported("/dev/sdb", 0, &os, buffer, sizeof(buffer)));
    EXPECT_STREQ("untouched", buffer);
    EXPECT_TRUE(log.contains("[1:Internal error-[fake host failure in getJobId]]")) << log.dump();
}

TEST(SnapEntryPoints, UnsupportedOperationsOnlyLogOnTheFirstItem) {
    Settings settings;
    for (const auto& [name, text] : std::vector<std::pair<std::string, std::string>>{
             {"zyso_unprepareDevices", "Snapshot unprepare operation not supported by the engine."},
             {"zyso_isMapped", "The isMapped operation not supported by the engine."}}) {
        SCOPED_TRACE(name);
        auto fn = entry<zyso_snap_fn>(name.c_str());
        ASSERT_NE(nullptr, fn);
        FakeSnapBatch batch = makeBatch(2);
        EXPECT_EQ(1, fn(batch.data(), 2, &batch.os));
        ASSERT_EQ(1u, batch[0].logLines.size());
        EXPECT_EQ(2, batch[0].logLines[0].level);
        EXPECT_EQ("KRVN  ", batch[0].logLines[0].prefix);
        EXPECT_EQ(text, batch[0].logLines[0].text);
        EXPECT_EQ(1u, batch[0].calls.size());
        EXPECT_TRUE(batch[1].calls.empty());
        EXPECT_TRUE(batch.os.calls.empty());
    }
}

TEST(SnapEntryPoints, VersionIsWrittenOnlyWhenEveryPointerIsGiven) {
    Settings settings;
    auto version = entry<zyso_version_fn>("zyso_version");
    ASSERT_NE(nullptr, version);
    short major = 9, minor = 9, revision = 9;
    version(nullptr, &minor, &revision);
    version(&major, nullptr, &revision);
    version(&major, &minor, nullptr);
    EXPECT_EQ(9, major);
    EXPECT_EQ(9, minor);
    EXPECT_EQ(9, revision);
    krvntest::LogCapture log;
    version(&major, &minor, &revision);
    EXPECT_EQ(1, major);
    EXPECT_EQ(1, minor);
    EXPECT_EQ(1, revision);
    EXPECT_TRUE(log.containsAt(3, "KRVN  Version: major-[1] minor-[1] revision-[1]"));
}

TEST(SnapEntryPoints, SupportCheckAcceptsOnlyAKorvanStandardPage) {
    Settings settings;
    const std::string fixtures = std::string(KRVN_FIXTURE_DIR) + "/scsi/";
    auto copyDevice = [&](const std::string& from, const std::string& to, bool nulPadProduct) {
        std::filesystem::copy(fixtures + from, settings.dir + "/" + to);
        if (!nulPadProduct) return;
        std::fstream page(settings.dir + "/" + to + "/page00.bin", std::ios::in | std::ios::out | std::ios::binary);
        page.seekp(28);
        page.write("\0\0\0\0", 4);
    };
    copyDevice("tgt-korvan-blank-padded", "sdk", true);
    copyDevice("tgt-korvan-blank-padded", "sdp", false);
    copyDevice("tgt-default", "sdo", false);

    auto supported = entry<zyso_is_supported_fn>("zyso_isSupported");
    ASSERT_NE(nullptr, supported);
    krvntest::FakeOSUtil os;
    char buffer[32] = "untouched";

    struct Case {
        const char* device;
        bool os;
        bool buffer;
        int size;
        int rc;
        std::string logged;
    };
    const std::vector<Case> cases = {
        {nullptr, false, false, 0, 1, "KRVN  Invalid device name passed."},
        {"/dev/sdk", false, false, 0, 1, "KRVN  Invalid snap utility passed."},
        {"/dev/sdk", true, false, 32, 1, "KRVN  Invalid error buffer passed."},
        {"/dev/sdk", true, true, 0, 1, "KRVN  Invalid error buffer passed."},
        {"/dev/sdk", true, true, 32, 0, "KRVN  Device-[/dev/sdk] belongs to Korvan storage."},
        {"/dev/sdp", true, true, 32, 1, "Product id-[VIRTUAL-DISK    ] for device-[/dev/sdp] is not matching"},
        {"/dev/sdo", true, true, 32, 1, "is not matching - expected vendor id-[_KORVAN_]"},
        {"/dev/sdz", true, true, 32, 1, "KRVN  SCSI Inquiry failed-[2:"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.device ? c.device : "<null>") + " size " + std::to_string(c.size));
        krvntest::LogCapture log;
        EXPECT_EQ(c.rc, supported(c.device, 0, c.os ? &os : nullptr, c.buffer ? buffer : nullptr, c.size));
        EXPECT_TRUE(log.contains(c.logged)) << log.dump();
        const bool argumentsOk = c.device && c.os && c.buffer && c.size != 0;
        EXPECT_EQ(argumentsOk, log.contains("KRVN  Checking whether device-[")) << log.dump();
        EXPECT_EQ(argumentsOk, log.contains("SCSI Inquiry of device-[")) << log.dump();
        EXPECT_STREQ("untouched", buffer);
    }
}

TEST(SnapEntryPoints, OnlyEntryPointsAndTheTransportAreExported) {
    ASSERT_NE(nullptr, plugin()) << dlerror();
    FILE* pipe = popen(("nm -D --defined-only -C '" + kLibrary + "' 2>&1").c_str(), "r");
    ASSERT_NE(nullptr, pipe);
    char line[4096];
    std::vector<std::string> foreign;
    std::set<std::string> entries;
    while (fgets(line, sizeof(line), pipe)) {
        std::string text(line);
        if (!text.empty() && text.back() == '\n') text.pop_back();
        // "<address> <type> <name>": the name may hold blanks once demangled.
        const std::string symbol = text.substr(text.find(' ', text.find(' ') + 1) + 1);
        if (symbol.rfind("zyso_", 0) == 0) {
            entries.insert(symbol);
            continue;
        }
        if (symbol.find("ZYSnapRESTAPI") != std::string::npos) continue;
        foreign.push_back(text);
    }
    pclose(pipe);
    for (const char* name : {"zyso_version", "zyso_isSupported", "zyso_prepareDevices", "zyso_unprepareDevices",
                             "zyso_snapDevices", "zyso_deleteSnaps", "zyso_isMapped", "zyso_mapSnaps",
                             "zyso_unmapSnaps", "zyso_revertSnaps", "zyso_reconcileSnaps"})
        EXPECT_EQ(1u, entries.count(name)) << name;
    EXPECT_TRUE(foreign.empty()) << foreign.size() << " other symbols, first: " << foreign.front();
}
