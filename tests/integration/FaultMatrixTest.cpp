// Every request type the plug-in sends, answered badly by the simulator in each way a cluster
// or a network can: connection dropped, HTTP 500, a text that is not JSON, the wrong type,
// the wrong result shape, and (on a sample of types, since it costs real seconds) an answer
// slower than the request time-out. The entry point that sent it fails with its failure
// statuses and a final error naming the request (or, for a text that is not JSON, quoting
// it), every session it opened is closed again, and once the fault is gone the same call on
// the same items converges to the success statuses.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FakeWorld.h"

namespace {

using harden::LunWorld;
using harden::SnapWorld;
using KrvnHost::PluginApi;
using namespace krvntest;

constexpr int kItems = 2;

// One entry call on items brought to the state it needs, behind one face for both families.
class Scenario {
public:
    virtual ~Scenario() = default;
    virtual SimHarness& sim() = 0;
    virtual int run() = 0;
    virtual std::vector<int> statuses() = 0;
    virtual int lastErrorCode() = 0;
    virtual std::string lastError() = 0;
};

class SnapScenario : public Scenario {
public:
    SnapScenario(zyso_snap_fn PluginApi::*entry, const std::vector<zyso_snap_fn PluginApi::*>& history)
        : entry_(entry) {
        for (auto step : history) EXPECT_EQ(world_.run(harden::plugin().*step), 0) << "history failed";
    }
    SimHarness& sim() override { return world_.sim; }
    int run() override { return world_.run(harden::plugin().*entry_); }
    std::vector<int> statuses() override { return world_.batch.statuses(); }
    int lastErrorCode() override { return world_.batch[0].lastErrorCode; }
    std::string lastError() override { return world_.batch[0].lastErrorMessage; }

private:
    SnapWorld world_{kItems};
    zyso_snap_fn PluginApi::*entry_;
};

class LunScenario : public Scenario {
public:
    LunScenario(zyso_lun_fn PluginApi::*entry, const std::vector<zyso_lun_fn PluginApi::*>& history, long sizeForEntry)
        : entry_(entry) {
        for (auto step : history) EXPECT_EQ(world_.run(harden::plugin().*step), 0) << "history failed";
        if (sizeForEntry > 0)
            for (size_t i = 0; i < world_.batch.size(); ++i) world_.batch[i].size = sizeForEntry;
    }
    SimHarness& sim() override { return world_.sim; }
    int run() override { return world_.run(harden::plugin().*entry_); }
    std::vector<int> statuses() override {
        std::vector<int> out;
        for (short s : world_.batch.statuses()) out.push_back(s);
        return out;
    }
    int lastErrorCode() override { return world_.batch[0].lastErrorCode; }
    std::string lastError() override { return world_.batch[0].lastErrorMessage; }

private:
    LunWorld world_{kItems};
    zyso_lun_fn PluginApi::*entry_;
};

struct Sender {
    const char* type;
    std::function<std::unique_ptr<Scenario>()> make;
    int okStatus;
    int failedStatus;
    int failureCode;
    const char* namedAs;  // how the final error names the request when not by its type
    bool resultUnread;    // the plug-in reads nothing from "result" (its shape cannot matter)
    bool sampleSlow;      // also answered past the request time-out
};

template <class... Steps>
std::function<std::unique_ptr<Scenario>()> snapCall(zyso_snap_fn PluginApi::*entry, Steps... history) {
    return [=] { return std::make_unique<SnapScenario>(entry, std::vector<zyso_snap_fn PluginApi::*>{history...}); };
}
template <class... Steps>
std::function<std::unique_ptr<Scenario>()> lunCall(zyso_lun_fn PluginApi::*entry, long size, Steps... history) {
    return
        [=] { return std::make_unique<LunScenario>(entry, std::vector<zyso_lun_fn PluginApi::*>{history...}, size); };
}

const std::vector<Sender>& senders() {
    using P = PluginApi;
    const auto prepare = &P::prepareDevices;
    const auto snap = &P::snapDevices;
    const auto map = &P::mapSnaps;
    const auto create = &P::createLUNs;
    static const std::vector<Sender> rows = {
        {"Login", snapCall(&P::prepareDevices), kSnapPrepared, kSnapPrepareFailed, 62008, "Connect to cluster", false,
         true},
        {"GetVirtualDiskByScsiSn", snapCall(&P::prepareDevices), kSnapPrepared, kSnapPrepareFailed, 62008,
         "devices out of", false, false},
        {"MakeSnapshot", snapCall(&P::snapDevices, prepare), kSnapCreated, kSnapCreateFailed, 60001, "snapshot", false,
         true},
        {"ListSnapshots", snapCall(&P::deleteSnaps, prepare, snap), kSnapDeleted, kSnapDeleteFailed, 60004,
         "snapshot list", false, false},
        {"DeleteSnapshot", snapCall(&P::deleteSnaps, prepare, snap), kSnapDeleted, kSnapDeleteFailed, 60004, "delete",
         true, false},
        {"RevertToSnapshot", snapCall(&P::revertSnaps, prepare, snap), kSnapReverted, kSnapRevertFailed, 60005,
         "revert", true, false},
        {"ListClonesForSnapshot", snapCall(&P::mapSnaps, prepare, snap), kSnapMapped, kSnapNotMapped, 62009,
         "clone list", false, false},
        {"CloneSnapshot", snapCall(&P::mapSnaps, prepare, snap), kSnapMapped, kSnapNotMapped, 62009, "clone", false,
         false},
        {"VirtualDiskDetails", snapCall(&P::mapSnaps, prepare, snap), kSnapMapped, kSnapNotMapped, 62009, "vDisk",
         false, false},
        {"ShowTarget", snapCall(&P::mapSnaps, prepare, snap), kSnapMapped, kSnapNotMapped, 62009, "target", false,
         false},
        {"AddLun", snapCall(&P::mapSnaps, prepare, snap), kSnapMapped, kSnapNotMapped, 62009, "expose", false, true},
        {"PersistACLAccess", snapCall(&P::mapSnaps, prepare, snap), kSnapMapped, kSnapNotMapped, 62009, "Failed to map",
         false, false},
        {"GetACLInformation", snapCall(&P::unmapSnaps, prepare, snap, map), kSnapUnmapped, kSnapUnmapFailed, 62010,
         "access", false, false},
        {"RemoveACLAccess", snapCall(&P::unmapSnaps, prepare, snap, map), kSnapUnmapped, kSnapUnmapFailed, 62010,
         "Failed to unmap", true, false},
        {"UnmapLun", snapCall(&P::unmapSnaps, prepare, snap, map), kSnapUnmapped, kSnapUnmapFailed, 62010,
         "hide the disk", false, false},
        {"DeleteVDisk", lunCall(&P::deleteLUNs, 0, create), kLunDeleted, kLunDeleteFailed, 70003, "delete", false,
         true},
        {"AddVirtualDisk", lunCall(&P::createLUNs, 0), kLunCreated, kLunCreateFailed, 70003, "create", false, true},
        {"ResizeDisks", lunCall(&P::resizeLUNs, 4L << 30, create), kLunResized, kLunResizeFailed, 70003, "resize",
         false, false},
        {"GetClusterSettingInfo", lunCall(&P::mapLUNs, 0, create), kLunMapped, kLunMapFailed, 70003, "cluster", false,
         false},
    };
    return rows;
}

struct FaultKind {
    const char* name;
    korvansim::Json fault;  // without "type"
    bool slow;
};

const std::vector<FaultKind>& faultKinds() {
    static const std::vector<FaultKind> kinds = {
        {"connection dropped", {{"kind", "drop"}}, false},
        {"HTTP 500", {{"kind", "status"}, {"status", 500}, {"message", "Injected fault"}}, false},
        {"not JSON", {{"kind", "notjson"}}, false},
        {"wrong type", {{"kind", "wrongtype"}}, false},
        {"wrong result shape", {{"kind", "wrongshape"}}, false},
        {"slower than the time-out", {{"kind", "latency"}, {"latencyMs", 1600}}, true},
    };
    return kinds;
}

size_t openSessions(SimHarness& sim) {
    size_t open = 0;
    sim.sim().withState([&](korvansim::Cluster& cluster, korvansim::SanBackend&) { open = cluster.sessionCount(); });
    return open;
}

bool containsNoCase(std::string text, std::string part) {
    for (auto* s : {&text, &part})
        for (char& c : *s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text.find(part) != std::string::npos;
}

TEST(FaultMatrix, EveryRequestFailsItsEntryCleanlyAndTheRetryConverges) {
    for (const Sender& row : senders()) {
        for (const FaultKind& kind : faultKinds()) {
            if (kind.slow && !row.sampleSlow) continue;
            const std::string what = std::string(row.type) + " " + kind.name;
            std::unique_ptr<Scenario> s = row.make();
            if (::testing::Test::HasFatalFailure()) return;
            korvansim::Json fault = kind.fault;
            fault["type"] = row.type;
            fault["count"] = -1;  // every attempt, retries included
            ASSERT_TRUE(s->sim().fault(fault)) << what << ": " << s->sim().error();
            if (kind.slow) s->sim().settings().set("Platform", "requestTimeoutSec", "1");
            const long before = s->sim().counters()["requests"].value(row.type, 0L);

            const auto start = std::chrono::steady_clock::now();
            const int rc = s->run();
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            EXPECT_GT(s->sim().counters()["requests"].value(row.type, 0L), before) << what << ": never sent";
            EXPECT_LT(seconds, kind.slow ? 20.0 : 5.0) << what << ": waited past the time-outs";

            if (kind.fault["kind"] == "wrongshape" && row.resultUnread) {
                EXPECT_EQ(rc, 0) << what << ": " << s->lastError();
            } else {
                EXPECT_EQ(rc, 1) << what;
                EXPECT_EQ(s->lastErrorCode(), row.failureCode) << what;
                const bool quotesTheText = kind.fault["kind"] == "notjson" &&
                                           s->lastError().rfind("Failed to parse the REST response-[", 0) == 0;
                EXPECT_TRUE(quotesTheText || containsNoCase(s->lastError(), row.type) ||
                            containsNoCase(s->lastError(), row.namedAs))
                    << what << ": the final error does not name the request: " << s->lastError();
                const std::vector<int> statuses = s->statuses();
                EXPECT_EQ(statuses.front(), row.failedStatus) << what;
                for (int status : statuses)
                    EXPECT_TRUE(status == row.failedStatus || status == row.okStatus) << what << ": status " << status;
            }

            // A Login answered late or spoiled after the cluster opened the session never hands
            // the plug-in a usable id, so that one session cannot be closed. Every other is.
            const std::string faultKind = kind.fault["kind"];
            const size_t orphans = std::string(row.type) == "Login" && faultKind != "drop" && faultKind != "status" &&
                                   faultKind != "notjson";
            EXPECT_EQ(openSessions(s->sim()), orphans) << what << ": a failed call left its session open";

            s->sim().clearFaults();
            s->sim().settings().erase("Platform", "requestTimeoutSec");
            EXPECT_EQ(s->run(), 0) << what << ": no convergence once the fault is gone: " << s->lastError();
            for (int status : s->statuses()) EXPECT_EQ(status, row.okStatus) << what << " after the fault";
            EXPECT_EQ(openSessions(s->sim()), orphans) << what;
        }
    }
}

}  // namespace
