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

using krvntest::FakeSnapBatch;
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
        batch[i].metadata[149] = "ZY_vol1-s1_1_1**77**sp1**";
    }
    return batch;
}

struct Row {
    const char* name;
    int keep, failed, code;
    std::string start, failure;
};  // keep 0: statuses left alone
const Row kWorking[] = {
    {"zyso_prepareDevices", 1, 2, 62008, "Going to prepare [3] devices for snapshots..", "Device preparation failed.."},
    {"zyso_snapDevices", 5, 6, 60001, "Going to create [3] snapshots..", "Snapshot creation failed.."},
    {"zyso_deleteSnaps", 20, 21, 60004, "Going to delete [3] snapshots..", "Snapshot deletion failed.."},
    {"zyso_mapSnaps", 12, 11, 62009, "Going to map [3] snapshots..", "Snapshot map operation failed.."},
    {"zyso_unmapSnaps", 14, 15, 62010, "Going to unmap [3] snapshots..", "Snapshot unmap operation failed.."},
    {"zyso_revertSnaps", 22, 23, 60005, "Going to revert [3] snapshots..", "Snapshot revert failed.."},
    {"zyso_reconcileSnaps", 0, 0, 60039, "Going to reconcile [3] snapshots..", "Snapshot reconciliation failed.."},
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
            batch[1].status = row.keep != 0 ? row.keep : 3;
            batch[2].status = 9;
            batch[2].sourceDeviceOk = fault.throwOn[0] != '\0';
            krvntest::FakeRecorder& thrower = fault.fromOs ? static_cast<krvntest::FakeRecorder&>(batch.os) : batch[2];
            thrower.throwOn = fault.throwOn;
            thrower.throwNonStandard = fault.nonStandard;
            auto fn = entry<zyso_snap_fn>(row.name);
            ASSERT_NE(nullptr, fn);
            EXPECT_EQ(1, fn(batch.data(), batch.count(), &batch.os));
            // The kept status where it was reached, the failure status everywhere else, the code
            // and text on the first item only, the start and failure lines in the job log.
            EXPECT_EQ((std::vector<int>{row.keep != 0 ? row.failed : 0, row.keep != 0 ? row.keep : 3,
                                        row.keep != 0 ? row.failed : 9}),
                      (std::vector<int>{batch[0].status, batch[1].status, batch[2].status}));
            EXPECT_EQ((std::vector<int>{1, row.code, 0}),
                      (std::vector<int>{batch[0].lastErrorCalls, batch[0].lastErrorCode,
                                        batch[1].lastErrorCalls + batch[2].lastErrorCalls}));
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
        for (size_t i = 0; i < batch.size(); ++i) batch[i].status = 20;
        EXPECT_EQ(deleting ? 0 : 1, entry<zyso_snap_fn>(row.name)(batch.data(), batch.count(), &batch.os));
        EXPECT_EQ(deleting ? "" : nothingLeft, batch[0].lastErrorMessage) << "no login to an empty control host";
    }
}

TEST(SnapEntryPoints, EveryEntryPointSurvivesMissingOrEmptyInputAndUnsupportedOnesOnlyLog) {
    const std::map<std::string, std::string> unsupported = {
        {"zyso_unprepareDevices", "Snapshot unprepare operation not supported by the engine."},
        {"zyso_isMapped", "The isMapped operation not supported by the engine."}};
    for (const char* name :
         {"zyso_prepareDevices", "zyso_unprepareDevices", "zyso_snapDevices", "zyso_deleteSnaps", "zyso_isMapped",
          "zyso_mapSnaps", "zyso_unmapSnaps", "zyso_revertSnaps", "zyso_reconcileSnaps"}) {
        SCOPED_TRACE(name);
        const std::string op = name;
        const bool working = !unsupported.count(op), del = op == "zyso_deleteSnaps";
        Settings settings;
        auto fn = entry<zyso_snap_fn>(name);
        ASSERT_NE(nullptr, fn);
        FakeSnapBatch batch = makeBatch(2);
        EXPECT_EQ((std::vector<int>{1, 1, 1, 1}),
                  (std::vector<int>{fn(nullptr, 1, &batch.os), fn(nullptr, 0, nullptr), fn(batch.data(), 0, &batch.os),
                                    fn(batch.data(), -1, &batch.os)}));
        EXPECT_TRUE(!working || batch[0].calls.empty()) << "a count of no items reads no item";
        batch.setNull(0);
        EXPECT_EQ(1, fn(batch.data(), 2, &batch.os));
        EXPECT_EQ(0, batch[1].lastErrorCalls);

        // Delete: an item already at 20 and one never tied to an array leave nothing to do, and
        // the cluster (nothing listens on its port) is never needed.
        FakeSnapBatch noArray = makeBatch(2);
        noArray[0].status = 20;
        noArray[1].arrayNumber = 0;
        EXPECT_EQ(del ? 0 : 1, fn(noArray.data(), 2, &noArray.os));
        if (del) {
            EXPECT_TRUE(noArray[1].status == 20 && noArray[0].hasLog("No snapshots require deletion."));
        } else if (!working) {
            ASSERT_EQ(1u, noArray[0].logLines.size());
            const auto& line = noArray[0].logLines[0];
            EXPECT_EQ("2KRVN  " + unsupported.at(op), std::to_string(line.level) + line.prefix + line.text);
            EXPECT_TRUE(noArray[1].calls.empty() && noArray.os.calls.empty());
        } else if (op != "zyso_prepareDevices") {
            EXPECT_NE(std::string::npos,
                      noArray[0].lastErrorMessage.find("The snap-[2] is not associated with any array."));
        }
    }

    // The support check refuses a missing argument before any inquiry (whose device would answer).
    Settings settings;
    settings.disks.add("sdk", "1001", snaptest::kClusterSerial);
    auto supported = entry<zyso_is_supported_fn>("zyso_isSupported");
    ASSERT_NE(nullptr, supported);
    krvntest::FakeOSUtil os;
    char buffer[32] = "untouched";
    EXPECT_EQ((std::vector<int>{1, 1, 1, 1, 0}),
              (std::vector<int>{supported(nullptr, 0, &os, buffer, 32), supported("/dev/sdk", 0, nullptr, buffer, 32),
                                supported("/dev/sdk", 0, &os, nullptr, 32), supported("/dev/sdk", 0, &os, buffer, 0),
                                supported("/dev/sdk", 0, &os, buffer, 32)}));
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
