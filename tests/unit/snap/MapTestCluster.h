// Shared by the map and unmap tests: cluster answers keyed by request type, a scripted iSCSI
// module, and a logged-in map or unmap run over fake host items and fixture disks.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "../common/IscsiScriptedModule.h"
#include "FakeSnapHost.h"
#include "FixtureDisks.h"
#include "KrvnUtils.h"
#include "LogCapture.h"
#include "ScopedSettings.h"
#include "ScriptedServer.h"
#include "SnapshotOpsScript.h"
#include "ZyISCSIModule.h"

namespace maptest {

using krvntest::RecordedRequest;
using krvntest::ScriptedReply;
using krvntest::ScriptedServer;

constexpr const char* kClusterSerial = "A1B2C3D4E5F601";
constexpr const char* kOtherClusterSerial = "B1B2C3D4E5F602";
constexpr const char* kProxy = "sp1";
constexpr const char* kIqn = "iqn.1994-05.com.example:host1";

// "iqn.2010-01.com.korvan:sp1:<lun>", the shape of the simulator's target names.
inline std::string targetOf(const std::string& lun, const std::string& proxy = kProxy) {
    return "iqn.2010-01.com.korvan:" + proxy + ":" + lun;
}

// ---- Answers ---------------------------------------------------------------------------------
inline std::string nameList(const std::string& type, const std::vector<std::string>& names, bool withStatus) {
    std::string rows;
    for (const auto& n : names)
        rows += (rows.empty() ? "" : ",") + std::string(R"({"name":")") + n + "\"" +
                (withStatus ? R"(,"status":"ok"})" : "}");
    return enginetest::okAnswer(type, "[" + rows + "]");
}
inline std::string clonesAnswer(const std::vector<std::string>& names) {
    return nameList("ListClonesForSnapshot", names, false);
}
inline std::string snapsAnswer(const std::vector<std::string>& names) { return nameList("ListSnapshots", names, false); }
inline std::string vdiskAnswer(const std::string& name, long long serial, bool frozen = false,
                               const std::vector<std::string>& locations = {kProxy}) {
    std::string where;
    for (const auto& l : locations) where += (where.empty() ? "\"" : ",\"") + l + ":3260\"";
    return enginetest::okAnswer("VirtualDiskDetails", R"({"vDiskName":")" + name + R"(","scsiSerialNumber":)" +
                                                          std::to_string(serial) + R"(,"frozen":)" +
                                                          (frozen ? "true" : "false") +
                                                          R"(,"freezeReason":"cloning","targetLocations":[)" +
                                                          where + "]}");
}
inline std::string notFound(const std::string& type, const std::string& name) {
    return enginetest::errorAnswer(type, "Vdisk " + name + " couldn't be found");
}
inline std::string lunsAnswer(const std::vector<std::string>& luns, const std::string& proxy = kProxy) {
    std::string rows;
    for (const auto& l : luns)
        rows += (rows.empty() ? "" : ",") + std::string(R"({"Lun Id":")") + l + R"(","Target":")" +
                targetOf(l, proxy) + R"(","SCSI SN":"1","Online":"Yes"})";
    return enginetest::okAnswer("ShowTarget", R"({"Lun Information":[)" + rows + "]}");
}
// One ACL entry per proxy: {proxy, initiator IQNs}.
inline std::string aclAnswer(const std::vector<std::pair<std::string, std::vector<std::string>>>& entries) {
    std::string out;
    for (const auto& [proxy, iqns] : entries) {
        std::string inits;
        for (const auto& i : iqns) inits += (inits.empty() ? "" : ",") + std::string(R"({"ip":")") + i + R"(","name":"x"})";
        out += (out.empty() ? "" : ",") + std::string(R"({"host":")") + proxy + R"(","initiator":[)" + inits + "]}";
    }
    return enginetest::okAnswer("GetACLInformation", "[" + out + "]");
}
inline std::string addLunAnswer(const std::vector<std::string>& names) {
    std::string rows;
    for (const auto& n : names)
        rows += (rows.empty() ? "" : ",") + std::string(R"({"name":")") + n +
                R"(","status":"ok","targets":[{"name":"sp1","status":"ok"}]})";
    return enginetest::okAnswer("AddLun", "[" + rows + "]");
}

// Answers by request type. Each type's answers are used in order and the last one repeats; a
// type with no answer is refused, so an unexpected request shows up as a failure. Answers may be
// keyed by one parameter too (the vDisk, the snapshot, the clone name), and may be computed.
class TypedCluster {
public:
    using Answer = std::function<std::string(const RecordedRequest&)>;

    explicit TypedCluster(ScriptedServer& srv) {
        srv.setDefault([this](const RecordedRequest& r) { return answer(r); });
    }
    TypedCluster& on(const std::string& type, const std::vector<std::string>& bodies) {
        for (const auto& b : bodies) onFn(type, [b](const RecordedRequest&) { return b; });
        return *this;
    }
    TypedCluster& onParam(const std::string& type, const std::string& key, const std::string& value,
                          const std::vector<std::string>& bodies) {
        return on(type + "/" + key + "=" + value, bodies);
    }
    TypedCluster& onFn(const std::string& type, Answer fn) {
        std::lock_guard<std::mutex> lock(mutex_);
        answers_[type].push_back(std::move(fn));
        return *this;
    }
    // Names of the clones asked for by CloneSnapshot so far.
    std::vector<std::string> created() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return created_;
    }

private:
    ScriptedReply answer(const RecordedRequest& r) {
        Answer fn;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            const std::string type = enginetest::requestType(r);
            if (type == "CloneSnapshot") created_.push_back(enginetest::requestParam(r, "name"));
            fn = pick(type, r);
        }
        if (!fn) return {200, enginetest::errorAnswer(enginetest::requestType(r), "unscripted request")};
        return {200, fn(r)};
    }
    Answer pick(const std::string& type, const RecordedRequest& r) {
        for (const char* key : {"virtualDisk", "snapshotName", "name", "host"}) {
            auto keyed = answers_.find(type + "/" + key + "=" + enginetest::requestParam(r, key));
            if (keyed != answers_.end()) return take(keyed->second);
        }
        auto it = answers_.find(type);
        return it == answers_.end() ? Answer() : take(it->second);
    }
    static Answer take(std::deque<Answer>& queue) {
        Answer fn = queue.front();
        if (queue.size() > 1) queue.pop_front();
        return fn;
    }
    mutable std::mutex mutex_;
    std::map<std::string, std::deque<Answer>> answers_;
    std::vector<std::string> created_;
};

// ---- iSCSI module ------------------------------------------------------------------------------
// The shared scripted module, plus the device the host sees behind each target.
struct ModuleJournal : iscsitest::ModuleJournal {
    std::map<std::string, std::string> devices;   // target -> device path
};

class ScriptedModule : public iscsitest::ScriptedModule {
public:
    explicit ScriptedModule(ModuleJournal& j) : iscsitest::ScriptedModule(j), j_(j) {}
    bool getTargetDevice(const char* target, char* buffer, unsigned long long* length) override {
        j_.calls.push_back(std::string("device ") + target);
        auto it = j_.devices.find(target);
        if (it != j_.devices.end()) it->second.copy(buffer, *length);
        return true;
    }

private:
    ModuleJournal& j_;
};

class ModuleUtils : public ZYSnapKrvn::KrvnUtils {
public:
    using KrvnUtils::KrvnUtils;
    void adopt(ZyISCSIModule* module) { iscsi = module; }
};

// ---- A run -------------------------------------------------------------------------------------
// One map or unmap call against its own scripted cluster. Items carry snapshot metadata of
// vDisk "vol<id>" and snapshot "snap-<id>" unless told otherwise; the storage proxy list is
// {sp1}; two retries 10 s apart.
struct MapRun {
    ScriptedServer srv;
    std::unique_ptr<TypedCluster> cluster;
    krvntest::FakeSnapBatch batch;
    ModuleJournal journal;
    std::unique_ptr<enginetest::EngineRun> run;

    MapRun() {
        srv.start();
        cluster = std::make_unique<TypedCluster>(srv);
    }
    ~MapRun() { run.reset(); }

    krvntest::FakeSnapInfo& item(long long id, const std::string& snap = "", const std::string& vDisk = "") {
        krvntest::FakeSnapInfo& it = batch.add(id);
        const std::string snapName = snap.empty() ? "snap-" + std::to_string(id) : snap;
        const std::string volume = vDisk.empty() ? "vol" + std::to_string(id) : vDisk;
        it.metadata[6] = std::string(kClusterSerial) + "**" + volume + "**100" + std::to_string(id) + "**" +
                         snapName + "**";
        it.configLists["SMCONFIG_STORAGE_PROXY_LIST_KEY"] = {kProxy};
        it.configInts["SMCONFIG_NAME_SNAP_OP_RETRY_COUNT"] = 2;
        it.configInts["SMCONFIG_NAME_SNAP_OP_RETRY_INTERVAL_IN_SEC"] = 10;
        return it;
    }
    // Initialises the context for `opType`, logs in, and hands the engine the scripted module.
    void start(int opType) {
        run = std::make_unique<enginetest::EngineRun>(batch, srv, opType);
        ASSERT_EQ(0, run->initResult) << run->ctx->errorString();
        auto utils = std::make_unique<ModuleUtils>(run->ctx.get());
        utils->adopt(new ScriptedModule(journal));
        run->utils = std::move(utils);
        ASSERT_EQ(0u, run->login(srv));
    }
    ZYSnapKrvn::KrvnUtils& utils() { return *run->utils; }
    ZYSnapKrvn::KrvnCtx& ctx() { return *run->ctx; }
    ZYSnapKrvn::KrvnSnapObject& object(long long id) { return run->object(id); }
    ZYSnapKrvn::KrvnMapCtx& map() {
        if (!ctx().mapCtx) ctx().mapCtx = new ZYSnapKrvn::KrvnMapCtx();
        return *ctx().mapCtx;
    }
    std::vector<std::string> types() const { return enginetest::requestTypes(srv); }
    // One parameter of every request of that type, in order.
    std::vector<std::string> params(const std::string& type, const std::string& key) const {
        std::vector<std::string> out;
        for (const auto& r : srv.requests())
            if (enginetest::requestType(r) == type) out.push_back(enginetest::requestParam(r, key));
        return out;
    }
    size_t countOf(const std::string& type) const { return params(type, "type").size(); }
};

// Settings with virtual time, fixture disks behind /dev/<name>, and one run.
struct MapFixture : ::testing::Test {
    krvntest::ScopedSettings settings;
    krvntest::FixtureDisks disks;
    MapRun r;

    MapFixture() {
        settings.set("Platform", "logFile", "/dev/null");
        settings.set("Platform", "deviceBackend", "fixture");
        settings.set("Platform", "deviceFixtureDir", disks.dir());
    }
};

}  // namespace maptest
