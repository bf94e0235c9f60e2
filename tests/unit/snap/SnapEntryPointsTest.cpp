// The snapshot entry points, called through the built plug-in exactly as the host calls them.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "SnapTestSupport.h"
#include "ZYSOExports.h"

using namespace krvntest;
using snaptest::Strings;

namespace {

const std::string kLibrary = std::string(KRVN_BUILD_LIB_DIR) + "/libZYKorvanSnap.so";

template <typename F>
F entry(const char* name) {
    static void* handle = dlopen(kLibrary.c_str(), RTLD_NOW | RTLD_LOCAL);  // once per program
    if (!handle) ADD_FAILURE() << "cannot load " << kLibrary << ": " << dlerror();
    return handle ? reinterpret_cast<F>(dlsym(handle, name)) : nullptr;
}

using Settings = snaptest::DiskSettings;  // no test reaches a real device

// Items as a working call receives them: full snapshot metadata, a storage proxy, the fake
// array pointing at a port where nothing listens.
FakeSnapBatch makeBatch(int count) {
    FakeSnapBatch batch(count);
    batch.setSnapMetadata("CS1", "vol1", "5678", "vol1$s1");
    for (size_t i = 0; i < batch.size(); ++i) {
        batch[i].configLists["SMCONFIG_STORAGE_PROXY_LIST_KEY"] = {"sp1"};
        batch[i].configInts["SMCONFIG_NAME_SERVER_PORT"] = 1;
        batch[i].configInts["SMCONFIG_NAME_SNAP_OP_RETRY_COUNT"] = 1;
        batch[i].metadata[kMetaClone] = "ZY_vol1-s1_1_1**77**sp1**";
    }
    return batch;
}

struct Row {
    const char* name;
    int keep, failed, code;
    std::string start, failure;
};  // keep kSnapNew: statuses left alone
// Values no step sets, so that any change to an item's status shows.
constexpr int kUnusedStatus = 3, kOtherUnusedStatus = 9;
const Row kWorking[] = {
    {"zyso_prepareDevices", kSnapPrepared, kSnapPrepareFailed, 62008, "Going to prepare [3] devices for snapshots..",
     "Device preparation failed.."},
    {"zyso_snapDevices", kSnapCreated, kSnapCreateFailed, 60001, "Going to create [3] snapshots..",
     "Snapshot creation failed.."},
    {"zyso_deleteSnaps", kSnapDeleted, kSnapDeleteFailed, 60004, "Going to delete [3] snapshots..",
     "Snapshot deletion failed.."},
    {"zyso_mapSnaps", kSnapMapped, kSnapNotMapped, 62009, "Going to map [3] snapshots..",
     "Snapshot map operation failed.."},
    {"zyso_unmapSnaps", kSnapUnmapped, kSnapUnmapFailed, 62010, "Going to unmap [3] snapshots..",
     "Snapshot unmap operation failed.."},
    {"zyso_revertSnaps", kSnapReverted, kSnapRevertFailed, 60005, "Going to revert [3] snapshots..",
     "Snapshot revert failed.."},
    {"zyso_reconcileSnaps", kSnapNew, kSnapNew, 60039, "Going to reconcile [3] snapshots..",
     "Snapshot reconciliation failed.."},
};

}  // namespace

TEST(SnapEntryPoints, FailureKeepsFinishedItemsAndReportsOnTheFirstItem) {
    struct Fault {
        const char* throwOn;
        bool nonStandard;
        bool fromOs;
        std::string text;
    };
    const Fault faults[] = {
        {"", false, false, "Failed to get source device details for snap-[3]"},
        {"getSourceDevice", false, false, "Internal error-[fake host failure in getSourceDevice]"},
        {"getSourceDevice", true, false, "Internal error-[unknown]"},
        {"getJobId", false, true, "Internal error-[fake host failure in getJobId]"},  // before the context exists
    };
    for (const Row& row : kWorking) {
        for (const Fault& fault : faults) {
            SCOPED_TRACE(std::string(row.name) + " " + fault.text);
            Settings settings;
            FakeSnapBatch batch = makeBatch(3);
            batch[1].status = row.keep != kSnapNew ? row.keep : kUnusedStatus;
            batch[2].status = kOtherUnusedStatus;
            batch[2].sourceDeviceOk = fault.throwOn[0] != '\0';
            krvntest::FakeRecorder& thrower = fault.fromOs ? static_cast<krvntest::FakeRecorder&>(batch.os) : batch[2];
            thrower.throwOn = fault.throwOn;
            thrower.throwNonStandard = fault.nonStandard;
            auto fn = entry<zyso_snap_fn>(row.name);
            ASSERT_NE(nullptr, fn);
            EXPECT_EQ(1, fn(batch.data(), batch.count(), &batch.os));
            // The kept status where it was reached, the failure status everywhere else, the code
            // and text on the first item only, the start and failure lines in the job log.
            EXPECT_EQ((std::vector<int>{row.keep != kSnapNew ? row.failed : kSnapNew,
                                        row.keep != kSnapNew ? row.keep : kUnusedStatus,
                                        row.keep != kSnapNew ? row.failed : kOtherUnusedStatus}),
                      (std::vector<int>{batch[0].status, batch[1].status, batch[2].status}));
            EXPECT_EQ((std::vector<int>{1, row.code, 0}),
                      (std::vector<int>{batch[0].lastErrorCalls, batch[0].lastErrorCode,
                                        batch[1].lastErrorCalls + batch[2].lastErrorCalls}))
                << "(errors set on the first item, its code, errors set on the others)";
            EXPECT_EQ(fault.text, batch[0].lastErrorMessage);
            ASSERT_GE(batch[0].logLines.size(), 2u);
            EXPECT_EQ("KRVN  " + row.start + " / " + row.failure, batch[0].logLines.front().prefix +
                                                                      batch[0].logLines.front().text + " / " +
                                                                      batch[0].logLines.back().text);
            EXPECT_FALSE(batch[0].called("getArrayInfo")) << "the fetch stops at the failing item";
        }
    }
}

TEST(SnapEntryPoints, ItemsAllDeletedAlreadyAreRefusedBeforeAnyLoginButDeleteHasNothingToDo) {
    const std::string nothingLeft =
        "All [2] snapshots of the request are deleted already: there is nothing left to work on.";
    for (const Row& row : kWorking) {
        SCOPED_TRACE(row.name);
        const bool deleting = std::string(row.name) == "zyso_deleteSnaps";
        Settings settings;
        FakeSnapBatch batch = makeBatch(2);
        for (size_t i = 0; i < batch.size(); ++i) batch[i].status = kSnapDeleted;
        EXPECT_EQ(deleting ? 0 : 1, entry<zyso_snap_fn>(row.name)(batch.data(), batch.count(), &batch.os));
        EXPECT_EQ(deleting ? "" : nothingLeft, batch[0].lastErrorMessage) << "no login to an empty control host";
    }
}

TEST(SnapEntryPoints, EveryEntryPointSurvivesMissingOrEmptyInputAndUnsupportedOnesOnlyLog) {
    // A second call per entry point: an item at "deleted" and one never tied to an array. Delete
    // has nothing to do, the unsupported ones only log, the others refuse the untied item;
    // nothing needs the cluster (nothing listens on its port).
    struct EntryRow {
        const char* name;
        int untiedRc;
        std::vector<int> untiedStatuses;
        std::string firstError;  // part of the first item's error text ("": none)
        std::string onlyLog;     // the first item's only job-log line ("": not the only one)
    };
    const std::string untied = "The snap-[2] is not associated with any array.";
    const EntryRow rows[] = {
        {"zyso_prepareDevices", 1, {kSnapPrepareFailed, kSnapPrepareFailed}, "", ""},
        {"zyso_unprepareDevices",
         1,
         {kSnapDeleted, kSnapNew},
         "",
         "2KRVN  Snapshot unprepare operation not supported by the engine."},
        {"zyso_snapDevices", 1, {kSnapCreateFailed, kSnapCreateFailed}, untied, ""},
        {"zyso_deleteSnaps", 0, {kSnapDeleted, kSnapDeleted}, "", ""},
        {"zyso_isMapped",
         1,
         {kSnapDeleted, kSnapNew},
         "",
         "2KRVN  The isMapped operation not supported by the engine."},
        {"zyso_mapSnaps", 1, {kSnapNotMapped, kSnapNotMapped}, untied, ""},
        {"zyso_unmapSnaps", 1, {kSnapUnmapFailed, kSnapUnmapFailed}, untied, ""},
        {"zyso_revertSnaps", 1, {kSnapRevertFailed, kSnapRevertFailed}, untied, ""},
        {"zyso_reconcileSnaps", 1, {kSnapDeleted, kSnapNew}, untied, ""},
    };
    for (const EntryRow& row : rows) {
        SCOPED_TRACE(row.name);
        Settings settings;
        auto fn = entry<zyso_snap_fn>(row.name);
        ASSERT_NE(nullptr, fn);
        FakeSnapBatch batch = makeBatch(2);
        EXPECT_EQ(1, fn(nullptr, 1, &batch.os)) << "no list";
        EXPECT_EQ(1, fn(nullptr, 0, nullptr)) << "no list and no host";
        EXPECT_EQ(1, fn(batch.data(), 0, &batch.os)) << "no items";
        EXPECT_EQ(1, fn(batch.data(), -1, &batch.os)) << "a negative count";
        EXPECT_TRUE(batch[0].calls.empty()) << "a count of no items reads no item";
        batch.setNull(0);
        EXPECT_EQ(1, fn(batch.data(), 2, &batch.os)) << "a null item";
        EXPECT_EQ(0, batch[1].lastErrorCalls);

        FakeSnapBatch noArray = makeBatch(2);
        noArray[0].status = kSnapDeleted;
        noArray[1].arrayNumber = 0;
        EXPECT_EQ(row.untiedRc, fn(noArray.data(), 2, &noArray.os));
        EXPECT_EQ(row.untiedStatuses, (std::vector<int>{noArray[0].status, noArray[1].status}));
        EXPECT_NE(std::string::npos, noArray[0].lastErrorMessage.find(row.firstError)) << noArray[0].lastErrorMessage;
        EXPECT_EQ(row.firstError.empty() && row.untiedRc == 0, noArray[0].hasLog("No snapshots require deletion."));
        if (row.onlyLog.empty()) continue;
        ASSERT_EQ(1u, noArray[0].logLines.size());
        const auto& line = noArray[0].logLines[0];
        EXPECT_EQ(row.onlyLog, std::to_string(line.level) + line.prefix + line.text);
        EXPECT_TRUE(noArray[1].calls.empty() && noArray.os.calls.empty());
    }

    // The support check refuses a missing argument before any inquiry (whose device would answer).
    Settings settings;
    settings.disks.add("sdk", "1001", snaptest::kClusterSerial);
    auto supported = entry<zyso_is_supported_fn>("zyso_isSupported");
    ASSERT_NE(nullptr, supported);
    krvntest::FakeOSUtil os;
    char buffer[32] = "untouched";
    EXPECT_EQ(1, supported(nullptr, 0, &os, buffer, 32)) << "no device";
    EXPECT_EQ(1, supported("/dev/sdk", 0, nullptr, buffer, 32)) << "no host";
    EXPECT_EQ(1, supported("/dev/sdk", 0, &os, nullptr, 32)) << "no buffer";
    EXPECT_EQ(1, supported("/dev/sdk", 0, &os, buffer, 0)) << "an empty buffer";
    EXPECT_EQ(0, supported("/dev/sdk", 0, &os, buffer, 32)) << "a Korvan vDisk";
    EXPECT_STREQ("untouched", buffer);
}

TEST(SnapEntryPoints, OnlyEntryPointsAndTheTransportAreExported) {
    auto version = entry<zyso_version_fn>("zyso_version");
    ASSERT_NE(nullptr, version);
    short v[3] = {9, 9, 9};  // written only when every pointer is given
    version(nullptr, &v[1], &v[2]);
    version(&v[0], nullptr, &v[2]);
    EXPECT_EQ((std::vector<short>{9, 9, 9}), std::vector<short>(v, v + 3));
    version(&v[0], &v[1], &v[2]);
    EXPECT_EQ((std::vector<short>{1, 1, 1}), std::vector<short>(v, v + 3));
    FILE* pipe = popen(("nm -D --defined-only -C '" + kLibrary + "' 2>&1").c_str(), "r");
    ASSERT_NE(nullptr, pipe);
    char line[4096];
    std::set<std::string> entries, foreign;
    while (fgets(line, sizeof(line), pipe)) {
        // "<address> <type> <name>": the name may hold blanks once demangled.
        const std::string text(line, strcspn(line, "\n")), symbol = text.substr(text.find(' ', text.find(' ') + 1) + 1);
        if (symbol.rfind("zyso_", 0) == 0)
            entries.insert(symbol);
        else if (symbol.find("ZYSnapRESTAPI") == std::string::npos)
            foreign.insert(symbol);
    }
    pclose(pipe);
    for (const char* name : {"zyso_version", "zyso_isSupported", "zyso_prepareDevices", "zyso_unprepareDevices",
                             "zyso_snapDevices", "zyso_deleteSnaps", "zyso_isMapped", "zyso_mapSnaps",
                             "zyso_unmapSnaps", "zyso_revertSnaps", "zyso_reconcileSnaps"})
        EXPECT_EQ(1u, entries.count(name)) << name;
    EXPECT_EQ(std::set<std::string>{}, foreign);
}
