// Whatever a host object throws, from whichever operation the plug-in calls, the entry point
// turns it into an ordinary failure (result 1, failure statuses, the final error on the first
// item) and the host process carries on. Each entry point first runs once against the
// simulator with nothing thrown, which tells which host operations it calls; then each of
// those operations throws in turn, on a fresh cluster with the same history.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "FakeWorld.h"
#include "LogCapture.h"

namespace {

using harden::LunWorld;
using harden::SnapWorld;
using KrvnHost::PluginApi;
using krvntest::FakeRecorder;

// A host operation, named by the object that offers it.
using HostCall = std::pair<std::string, std::string>;  // {object, operation}

template <class World>
using Thrower = std::function<FakeRecorder*(World&, const std::string& object, size_t item)>;

// Every distinct operation the objects saw, in first-call order.
void collect(std::vector<HostCall>& out, const std::string& object, const FakeRecorder& recorder) {
    for (const std::string& name : recorder.names()) {
        const HostCall call{object, name};
        bool seen = false;
        for (const HostCall& c : out) seen = seen || c == call;
        if (!seen) out.push_back(call);
    }
}

void clearCalls(SnapWorld& w) {
    for (size_t i = 0; i < w.batch.size(); ++i) w.batch[i].clear(), w.batch[i].arrayRecord.clear();
    w.batch.os.clear();
}
void clearCalls(LunWorld& w) {
    for (size_t i = 0; i < w.batch.size(); ++i) w.batch[i].clear();
    w.batch.os.clear();
}

std::vector<HostCall> callsOf(SnapWorld& w) {
    std::vector<HostCall> calls;
    for (size_t i = 0; i < w.batch.size(); ++i) {
        collect(calls, "item", w.batch[i]);
        collect(calls, "array", w.batch[i].arrayRecord);
    }
    collect(calls, "os", w.batch.os);
    return calls;
}
std::vector<HostCall> callsOf(LunWorld& w) {
    std::vector<HostCall> calls;
    for (size_t i = 0; i < w.batch.size(); ++i) collect(calls, "item", w.batch[i]);
    collect(calls, "os", w.batch.os);
    return calls;
}

void throwFrom(SnapWorld& w, const HostCall& call) {
    for (size_t i = 0; i < w.batch.size(); ++i) {
        if (call.first == "item") w.batch[i].throwOn = call.second;
        if (call.first == "array") w.batch[i].arrayRecord.throwOn = call.second;
    }
    if (call.first == "os") w.batch.os.throwOn = call.second;
}
void throwFrom(LunWorld& w, const HostCall& call) {
    for (size_t i = 0; i < w.batch.size(); ++i)
        if (call.first == "item") w.batch[i].throwOn = call.second;
    if (call.first == "os") w.batch.os.throwOn = call.second;
}

// The first item learns the failure unless the throw comes from the very operations that
// report it.
bool reportsThroughItem(const HostCall& call) {
    static const std::set<std::string> reporting = {"setLastError", "getStatus", "setStatus"};
    return !(call.first == "item" && reporting.count(call.second));
}

template <class Fn>
struct EntryCase {
    const char* name;
    Fn PluginApi::*entry;
    std::vector<Fn PluginApi::*> history;  // calls that bring the cluster to where the entry works
    int failureCode;
};

// Runs the table for one family: baseline, then every host operation throwing in turn.
template <class World, class Fn>
void checkEveryThrow(const std::vector<EntryCase<Fn>>& cases, int items,
                     const std::function<int(World&)>& lastErrorCode) {
    const PluginApi& api = harden::plugin();
    for (const auto& c : cases) {
        auto prepared = [&](World& w) {
            for (auto step : c.history) ASSERT_EQ(w.run(api.*step), 0) << c.name << ": history failed";
            clearCalls(w);
        };
        std::vector<HostCall> calls;
        {
            World w(items);
            prepared(w);
            ASSERT_EQ(w.run(api.*c.entry), 0)
                << c.name << " fails with nothing thrown: " << w.batch[0].lastErrorMessage;
            calls = callsOf(w);
        }
        ASSERT_FALSE(calls.empty()) << c.name;
        // Both kinds of throw are covered, alternating over the operations.
        for (size_t n = 0; n < calls.size(); ++n) {
            const HostCall& call = calls[n];
            const bool nonStandard = n % 2 == 1;
            {
                World w(items);
                prepared(w);
                throwFrom(w, call);
                for (size_t i = 0; i < w.batch.size(); ++i) w.batch[i].throwNonStandard = nonStandard;
                w.batch.os.throwNonStandard = nonStandard;
                const std::string what = std::string(c.name) + ": " + call.first + "." + call.second +
                                         (nonStandard ? " throws an int" : " throws");
                krvntest::LogCapture log;
                EXPECT_EQ(w.run(api.*c.entry), 1) << what;
                // The iSCSI module says so when its library goes while an instance of it lives.
                EXPECT_FALSE(log.contains("module instance(s) still alive")) << what;
                if (reportsThroughItem(call)) {
                    EXPECT_EQ(lastErrorCode(w), c.failureCode) << what;
                }
            }
        }
    }
}

TEST(ExceptionBoundary, EverySnapshotEntryFailsCleanlyWhateverHostOperationThrows) {
    using P = PluginApi;
    const std::vector<EntryCase<zyso_snap_fn>> cases = {
        {"prepare", &P::prepareDevices, {}, 62008},
        {"snap", &P::snapDevices, {&P::prepareDevices}, 60001},
        {"map", &P::mapSnaps, {&P::prepareDevices, &P::snapDevices}, 62009},
        {"unmap", &P::unmapSnaps, {&P::prepareDevices, &P::snapDevices, &P::mapSnaps}, 62010},
        {"revert", &P::revertSnaps, {&P::prepareDevices, &P::snapDevices}, 60005},
        {"reconcile", &P::reconcileSnaps, {&P::prepareDevices, &P::snapDevices}, 60039},
        {"delete", &P::deleteSnaps, {&P::prepareDevices, &P::snapDevices}, 60004},
    };
    checkEveryThrow<SnapWorld>(cases, 2, [](SnapWorld& w) { return w.batch[0].lastErrorCode; });
}

TEST(ExceptionBoundary, EveryProvisioningEntryFailsCleanlyWhateverHostOperationThrows) {
    using P = PluginApi;
    const std::vector<EntryCase<zyso_lun_fn>> cases = {
        {"create", &P::createLUNs, {}, 70003},
        {"map", &P::mapLUNs, {&P::createLUNs}, 70003},
        {"unmap", &P::unmapLUNs, {&P::createLUNs, &P::mapLUNs}, 70003},
        {"resize", &P::resizeLUNs, {&P::createLUNs}, 70003},
        {"delete", &P::deleteLUNs, {&P::createLUNs}, 70003},
    };
    checkEveryThrow<LunWorld>(cases, 2, [](LunWorld& w) { return w.batch[0].lastErrorCode; });
}

TEST(ExceptionBoundary, SupportCheckAnswersNoWhenTheOsUtilityThrows) {
    SnapWorld w(1);
    const std::string device = w.batch[0].sourceDevice;
    char error[256] = {};
    const PluginApi& api = harden::plugin();
    ASSERT_EQ(api.isSupported(device.c_str(), 0, &w.batch.os, error, sizeof error), 0);
    std::vector<HostCall> calls;
    collect(calls, "os", w.batch.os);
    ASSERT_FALSE(calls.empty());
    for (const HostCall& call : calls) {
        w.batch.os.throwOn = call.second;
        EXPECT_EQ(api.isSupported(device.c_str(), 0, &w.batch.os, error, sizeof error), 1) << call.second;
    }
}

}  // namespace
