// Shared by the snapshot tests: readers of recorded requests, cluster answers (as the REST tests
// write them), answers by request type, and an engine logged in to a scripted server.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "FakeSnapHost.h"
#include "FixtureDisks.h"
#include "KrvnCtx.h"
#include "KrvnTestSession.h"
#include "KrvnUtils.h"
#include "RestFixture.h"
#include "ScriptedIscsiModule.h"
#include "ScriptedServer.h"

namespace snaptest {

using namespace krvntest;  // the fakes and the named statuses

using krvntest::errorAnswer;
using krvntest::okAnswer;
using krvntest::RecordedRequest;
using Strings = std::vector<std::string>;

constexpr const char* kClusterSerial = "A1B2C3D4E5F601";
constexpr const char* kIqn = "iqn.1994-05.com.example:host1";

inline std::string requestType(const RecordedRequest& r) {
    const size_t at = r.request.find("type:");
    return at == std::string::npos ? "" : r.request.substr(at + 5, r.request.find_first_of(",}", at) - at - 5);
}
// The quoted value of one parameter ("" when absent); with an empty key, the first one.
inline std::string requestParam(const RecordedRequest& r, const std::string& key) {
    const size_t params = r.request.find("params:{");
    size_t at = key.empty() ? (params == std::string::npos ? params : r.request.find('\'', params))
                            : r.request.find(key + ":'");
    if (at == std::string::npos) return "";
    at = r.request.find('\'', at) + 1;
    return r.request.substr(at, r.request.find('\'', at) - at);
}

inline std::string targetOf(const std::string& lun) { return "iqn.2010-01.com.korvan:sp1:" + lun; }

inline std::string joined(const Strings& items, const std::function<std::string(const std::string&)>& row) {
    std::string out;
    for (const auto& i : items) out += (out.empty() ? "" : ",") + row(i);
    return "[" + out + "]";
}
inline std::string nameList(const std::string& type, const Strings& names, const std::string& extra = "") {
    return okAnswer(type, joined(names, [&](const std::string& n) { return R"({"name":")" + n + "\"" + extra + "}"; }));
}
inline std::string okNames(const std::string& type, const Strings& names) {
    return nameList(type, names, R"(,"status":"ok")");
}
inline std::string vdiskAnswer(const std::string& name, long long serial, bool frozen = false) {
    return okAnswer("VirtualDiskDetails", R"({"vDiskName":")" + name + R"(","scsiSerialNumber":)" +
                                              std::to_string(serial) + R"(,"frozen":)" + (frozen ? "true" : "false") +
                                              R"(,"freezeReason":"cloning","targetLocations":["sp1:3260"]})");
}
inline std::string notFound(const std::string& type, const std::string& name) {
    return errorAnswer(type, "Vdisk " + name + " couldn't be found");
}
inline std::string lunsAnswer(const Strings& luns) {
    return okAnswer("ShowTarget", R"({"Lun Information":)" + joined(luns, [&](const std::string& l) {
                                      return R"({"Lun Id":")" + l + R"(","Target":")" + targetOf(l) +
                                             R"(","SCSI SN":"1","Online":"Yes"})";
                                  }) + "}");
}

// Quiet settings with the fixture device backend over an empty folder of its own.
struct DiskSettings : krvntest::QuietSettings {
    krvntest::FixtureDisks disks;
    DiskSettings() {
        set("Platform", "deviceBackend", "fixture");
        set("Platform", "deviceFixtureDir", disks.dir());
    }
};

// Answers by request type (or type and vDisk), used in order, the last one repeating; an
// unscripted type is refused, so an unexpected request shows up as a failure.
class TypedCluster {
public:
    using Answer = std::function<std::string(const RecordedRequest&)>;
    explicit TypedCluster(krvntest::ScriptedServer& srv) {
        srv.setDefault([this](const RecordedRequest& r) { return answer(r); });
    }
    TypedCluster& on(const std::string& type, const Strings& bodies) {
        for (const auto& b : bodies) onFn(type, [b](const RecordedRequest&) { return b; });
        return *this;
    }
    TypedCluster& onDisk(const std::string& type, const std::string& vDisk, const Strings& bodies) {
        return on(type + "/" + vDisk, bodies);
    }
    TypedCluster& onFn(const std::string& type, Answer fn) {
        std::lock_guard<std::mutex> lock(mutex_);
        answers_[type].push_back(std::move(fn));
        return *this;
    }

private:
    krvntest::ScriptedReply answer(const RecordedRequest& r) {
        Answer fn;
        const std::string type = requestType(r);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            auto it = answers_.find(type + "/" + requestParam(r, "virtualDisk"));
            if (it == answers_.end()) it = answers_.find(type);
            if (it != answers_.end()) {
                fn = it->second.front();
                if (it->second.size() > 1) it->second.pop_front();
            }
        }
        return {200, fn ? fn(r) : errorAnswer(type, "unscripted request")};
    }
    mutable std::mutex mutex_;
    std::map<std::string, std::deque<Answer>> answers_;
};

// One engine call against its own scripted server. Items carry metadata of vDisk "vol<id>" and
// snapshot "snap-<id>" unless told otherwise, proxy sp1 and two retries 10 s apart.
struct EngineRun {
    krvntest::ScriptedServer srv;
    krvntest::FakeSnapBatch batch;
    krvntest::IscsiJournal journal;
    std::unique_ptr<ZYSnapKrvn::KrvnCtx> ctx;
    std::unique_ptr<krvntest::WithIscsiModule<ZYSnapKrvn::KrvnUtils>> utils;
    std::unique_ptr<TypedCluster> typed;

    EngineRun() { srv.start(); }
    ~EngineRun() {  // the engine borrows the context; both go before the script they may still call
        utils.reset();
        ctx.reset();
    }
    TypedCluster& cluster() { return *(typed ? typed : typed = std::make_unique<TypedCluster>(srv)); }
    // id 0: the next id; an empty snapshot name: metadata as preparation wrote it.
    krvntest::FakeSnapInfo& item(long long id, const std::string& snap = "-", const std::string& vDisk = "") {
        krvntest::FakeSnapInfo& it = batch.add(id);
        const std::string n = std::to_string(it.snapId), snapName = snap == "-" ? "snap-" + n : snap;
        it.metadata[kMetaSnapshot] = std::string(kClusterSerial) + "**" + (vDisk.empty() ? "vol" + n : vDisk) +
                                     "**100" + n + "**" + (snapName.empty() ? "" : snapName + "**");
        it.configLists["SMCONFIG_STORAGE_PROXY_LIST_KEY"] = {"sp1"};
        it.configInts["SMCONFIG_NAME_SNAP_OP_RETRY_COUNT"] = 2;
        it.configInts["SMCONFIG_NAME_SNAP_OP_RETRY_INTERVAL_IN_SEC"] = 10;
        return it;
    }
    void start(int opType, bool detailsFromDb = false) {  // detailsFromDb: read as preparation does
        for (size_t i = 0; i < batch.size(); ++i) {
            batch[i].configInts["SMCONFIG_NAME_SERVER_PORT"] = srv.port();
            std::tie(batch[i].arrayRecord.name, batch[i].arrayRecord.user, batch[i].arrayRecord.encryptedPassword) =
                std::make_tuple(krvntest::kTestCluster, krvntest::kTestUser, krvntest::kTestPassword);
        }
        ctx = std::make_unique<ZYSnapKrvn::KrvnCtx>(&batch.os, 0, opType);
        ASSERT_EQ(0, ctx->initialize(batch.data(), batch.count())) << ctx->errorString();
        utils = std::make_unique<krvntest::WithIscsiModule<ZYSnapKrvn::KrvnUtils>>(ctx.get());
        utils->adopt(new krvntest::ScriptedIscsiModule(journal));
        ASSERT_EQ(0, detailsFromDb ? utils->GetArrayDetailsFromDB() : 0);
        srv.reply(200, krvntest::loginAnswer());
        ASSERT_EQ(0u, utils->rest_connectToArray());
        srv.clearRequests();
    }
    ZYSnapKrvn::KrvnSnapObject& object(long long id) { return *ctx->snapItems.at(id); }
    ZYSnapKrvn::KrvnMapCtx& map() { return *(ctx->mapCtx ? ctx->mapCtx : ctx->mapCtx = new ZYSnapKrvn::KrvnMapCtx()); }
    // Every request as "type", or "type value" with the value of `key` ("" = the first one).
    Strings requests(const char* key = nullptr) const {
        Strings out;
        for (const auto& r : srv.requests()) {
            const std::string value = key ? requestParam(r, key) : "";
            out.push_back(requestType(r) + (value.empty() ? "" : " " + value));
        }
        return out;
    }
    Strings params(const std::string& type, const std::string& key) const {  // in order
        Strings out;
        for (const auto& r : srv.requests())
            if (requestType(r) == type) out.push_back(requestParam(r, key));
        return out;
    }
};

}  // namespace snaptest
