#include "SimRest.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <functional>

#include "SimNotation.h"

namespace korvansim {

namespace {

constexpr const char* kFormField = "request";
constexpr int kHttpBadRequest = 400;
constexpr int kHttpUnauthorized = 401;
constexpr int kHttpWrongMethod = 405;

// One request in flight: its parameters, the caller and the answer being built.
struct Call {
    Call(Cluster& c, SanBackend& s, const Json& p, const User* u) : cluster(c), san(s), params(p), user(u) {}
    Cluster& cluster;
    SanBackend& san;
    const Json& params;
    const User* user;
    bool ok = true;
    int http = 200;
    std::string message;
    Json result = Json::object();
    std::string resultText;            // the result already written as JSON, when it is large
    Json extra = Json::object();       // top-level members besides the envelope's
    std::vector<std::string> touched;  // vDisks whose contents may have to follow

    bool fail(const std::string& why, int status = 200) {
        ok = false;
        message = why;
        http = status;
        result = Json::object();
        resultText.clear();
        return false;
    }
    const Json* param(const char* key) {
        auto it = params.find(key);
        return it == params.end() ? nullptr : &*it;
    }
    bool invalid(const char* key) { return fail(std::string("Invalid or missing parameter [") + key + "]"); }

    // A text parameter; numbers are taken as their decimal text.
    bool text(const char* key, std::string& out) {
        const Json* v = param(key);
        if (v && v->is_string()) return out = v->get<std::string>(), true;
        if (v && v->is_number_integer()) return out = v->dump(), true;
        return invalid(key);
    }
    // A list of names; a single name counts as a list of one.
    bool names(const char* key, std::vector<std::string>& out) {
        const Json* v = param(key);
        out.clear();
        if (v && v->is_string()) return out.push_back(v->get<std::string>()), true;
        if (!v || !v->is_array() || v->empty()) return invalid(key);
        for (const auto& n : *v) {
            if (!n.is_string()) return invalid(key);
            out.push_back(n.get<std::string>());
        }
        return true;
    }
    // size:{unit:'GB', value:N}
    bool size(uint64_t& bytes) {
        const Json* v = param("size");
        if (!v || !v->is_object()) return invalid("size");
        auto unit = v->find("unit");
        auto value = v->find("value");
        if (unit == v->end() || !unit->is_string() || value == v->end() || !value->is_number() ||
            !sizeToBytes(unit->get<std::string>(), value->get<double>(), bytes))
            return fail("Invalid size: a unit of MB, GB or TB and a value above 0 are required");
        return true;
    }
    template <class T>
    void option(const char* key, T& out) {
        const Json* v = param(key);
        if (!v) return;
        if constexpr (std::is_same_v<T, bool>) {
            if (v->is_boolean()) out = v->get<bool>();
        } else if constexpr (std::is_same_v<T, std::string>) {
            if (v->is_string()) out = v->get<std::string>();
        } else {
            if (v->is_number_integer() && v->get<long long>() > 0 && v->get<long long>() < 1 << 30)
                out = static_cast<T>(v->get<long long>());
        }
    }
};

// A string as the JSON library writes it: printable ASCII as it is, anything else through
// the library (escapes, and U+FFFD for bytes that are not UTF-8).
void appendJsonString(std::string& out, const std::string& text) {
    for (unsigned char ch : text) {
        if (ch < 0x20 || ch >= 0x7f || ch == '"' || ch == '\\') {
            out += jsonText(Json(text));
            return;
        }
    }
    out += '"';
    out += text;
    out += '"';
}

// The envelope was written with a null result; the result's text takes its place. Every
// other string of the envelope is escaped, so the first unescaped key is the envelope's.
void spliceResult(std::string& body, const std::string& resultText) {
    static const std::string kNullResult = "\"result\":null";
    size_t at = body.find(kNullResult);
    if (at == std::string::npos) return;
    body.replace(at + kNullResult.size() - 4, 4, resultText);
}

Json element(const std::string& name, const std::string& error) {
    return {{"status", error.empty() ? kStatusOk : kStatusError}, {"name", name}, {"message", error}};
}

// ---- sessions -----------------------------------------------------------------------------

void login(Call& c) {
    std::string name, password;
    if (!c.text("userName", name) || !c.text("password", password)) return;
    const User* u = c.cluster.authenticate(name, password);
    if (!u) return void(c.fail(sentence::kAuthFailed, kHttpUnauthorized));
    c.result = {{"sessionId", c.cluster.openSession(u->name)},
                {"userName", u->name},
                {"primaryTenant", u->tenant},
                {"roles", {{u->tenant, u->role}}}};
}

void logout(Call& c) {
    std::string id;
    if (const Json* v = c.param("sessionId"); v && v->is_string()) id = v->get<std::string>();
    c.cluster.closeSession(id);
}

// ---- vDisk queries ------------------------------------------------------------------------

void listVirtualDisks(Call& c) {
    Json disks = Json::array();
    for (const VDisk* d : c.cluster.disks()) disks.push_back(c.cluster.diskJson(*c.cluster.find(d->name), false));
    c.result = {{"disks", disks}};
}

void virtualDiskDetails(Call& c) {
    std::string name, why;
    if (!c.text("virtualDisk", name)) return;
    VDisk* d = c.cluster.usable(name, why);
    if (!d) return void(c.fail(why));
    c.result = c.cluster.diskJson(*d, true);
}

void virtualDiskBySerial(Call& c) {
    std::string text;
    if (!c.text("scsiSn", text)) return;
    errno = 0;
    char* end = nullptr;
    long long serial = std::strtoll(text.c_str(), &end, 10);
    VDisk* d = text.empty() || *end || errno ? nullptr : c.cluster.findBySerial(serial);
    if (!d) return void(c.fail(fill(sentence::kSerialNotFound, text)));
    if (d->markedForDelete) return void(c.fail(fill(sentence::kDiskMarkedForDelete, d->name)));
    c.result = c.cluster.diskJson(*d, false);
}

// ---- snapshots and clones -----------------------------------------------------------------

void makeSnapshot(Call& c) {
    std::vector<std::string> disks;
    if (!c.names("virtualDisks", disks)) return;
    c.result = Json::array();
    for (const auto& name : disks) {
        std::string why;
        VDisk* d = c.cluster.usable(name, why);
        Json e = element(name, why);
        e["snapshotName"] = "";
        if (d) {
            Snapshot s{c.cluster.nextSnapshotName(name), 0};
            e["snapshotName"] = s.name;
            c.cluster.addSnapshot(*d, s);
            c.touched.push_back(name);
        }
        c.result.push_back(e);
    }
}

void listSnapshots(Call& c) {
    std::string name, why;
    if (!c.text("virtualDisk", name)) return;
    VDisk* d = c.cluster.usable(name, why);
    if (!d) return void(c.fail(why));
    c.result = Json::array();
    for (const auto& s : d->snapshots) c.result.push_back({{"name", s.name}, {"details", {{"vDiskName", d->name}}}});
}

// The snapshot named by `key`, refused with the cluster's sentence when it does not exist.
VDisk* snapshotParam(Call& c, const char* key, std::string& snap) {
    if (!c.text(key, snap)) return nullptr;
    VDisk* owner = c.cluster.snapshotOwner(snap);
    if (!owner) c.fail(sentence::kInvalidSnapshot);
    return owner;
}

void deleteSnapshot(Call& c) {
    std::string snap;
    VDisk* owner = snapshotParam(c, "snapshotName", snap);
    if (!owner) return;
    c.touched.push_back(owner->name);
    removeSnapshot(c.cluster, snap);
    c.extra["name"] = snap;
}

void revertToSnapshot(Call& c) {
    std::string snap, why;
    VDisk* owner = snapshotParam(c, "snapshotName", snap);
    if (!owner) return;
    if (!c.cluster.usable(owner->name, why)) return void(c.fail(why));
    owner->revertedTo = snap;
    ++owner->revertCount;
    c.touched.push_back(owner->name);
    c.extra["name"] = snap;
}

void listClonesForSnapshot(Call& c) {
    std::string snap;
    if (!snapshotParam(c, "snapshotName", snap)) return;
    c.result = Json::array();
    c.cluster.forEachCloneOf(snap, [&](const VDisk& d) {
        c.result.push_back({{"name", d.name}, {"baseDisk", d.baseDisk}});
    });
}

void cloneSnapshot(Call& c) {
    std::string name, snap;
    if (!c.text("name", name)) return;
    VDisk* owner = snapshotParam(c, "clonedSnapshotName", snap);
    if (!owner) return;
    if (name.empty()) return void(c.invalid("name"));
    if (c.cluster.find(name)) {
        c.result = Json::array({element(name, fill(sentence::kDiskAlreadyCreated, name))});
        return;
    }
    VDisk clone = *owner;
    clone.name = name;
    clone.serial = 0;
    clone.isClone = true;
    clone.cloneOf = snap;
    clone.baseDisk = owner->name;
    clone.createdBy = c.user->name;
    clone.revertedTo.clear();
    clone.snapshots.clear();
    clone.exposures.clear();
    std::string base = owner->name;
    c.cluster.freezeNewClone(c.cluster.add(clone));
    c.touched.push_back(name);
    Json e = element(name, "");
    e["baseDisk"] = base;
    c.result = Json::array({e});
}

// ---- targets, LUNs and access -------------------------------------------------------------

void showTarget(Call& c) {
    std::string proxy;
    if (!c.text("host", proxy)) return;
    if (!c.cluster.proxy(proxy)) return void(c.fail(fill(sentence::kProxyNotFound, proxy)));
    // Written directly, in the bytes the JSON library writes (members in key order): the table
    // has a row per LUN of the proxy and is read once per item of an unmap.
    std::string& out = c.resultText;
    out = "{\"Lun Information\":[";
    bool first = true;
    c.cluster.forEachDisk([&](const VDisk& d) {
        for (const auto& e : d.exposures) {
            if (e.proxy != proxy) continue;
            out += first ? "{\"Lun Id\":" : ",{\"Lun Id\":";
            first = false;
            appendJsonString(out, d.name);
            out += ",\"Online\":\"Yes\",\"SCSI SN\":\"";
            out += std::to_string(d.serial);
            out += "\",\"Target\":";
            appendJsonString(out, e.targetIqn);
            out += '}';
        }
    });
    out += "]}";
}

void addLun(Call& c) {
    std::vector<std::string> disks, proxies;
    if (!c.names("virtualDisks", disks) || !c.names("targets", proxies)) return;
    c.result = Json::array();
    for (const auto& name : disks) {
        std::string why;
        VDisk* d = c.cluster.usable(name, why);
        Json e = element(name, why);
        if (d) {
            e["targets"] = Json::array();
            for (const auto& p : proxies) {
                std::string error;
                if (!c.cluster.proxy(p))
                    error = fill(sentence::kProxyNotFound, p);
                else if (d->exposureOn(p))
                    error = fill(sentence::kLunAlreadyExposed, p);
                else
                    d->exposures.push_back({p, Cluster::targetIqnFor(p, name), {}});
                e["targets"].push_back(element(p, error));
            }
        }
        c.result.push_back(e);
    }
}

void persistAclAccess(Call& c) {
    std::vector<std::string> disks;
    std::string proxy, address;
    if (!c.names("virtualDisks", disks) || !c.text("host", proxy) || !c.text("address", address)) return;
    if (address.empty()) return void(c.invalid("address"));
    c.result = Json::array();
    for (const auto& name : disks) {
        std::string why;
        VDisk* d = c.cluster.usable(name, why);
        Exposure* e = d ? d->exposureOn(proxy) : nullptr;
        if (d && !e) why = fill(sentence::kNotExposedOnProxy, name) + " " + proxy;
        if (e && std::find(e->initiators.begin(), e->initiators.end(), address) == e->initiators.end())
            e->initiators.push_back(address);
        c.result.push_back(element(name, why));
    }
}

void getAclInformation(Call& c) {
    std::string name;
    if (!c.text("virtualDisk", name)) return;
    VDisk* d = c.cluster.find(name);
    if (!d) return void(c.fail(fill(sentence::kDiskNotFound, name)));
    c.result = Json::array();
    for (const auto& e : d->exposures) {
        Json initiators = Json::array();
        for (const auto& i : e.initiators) initiators.push_back({{"ip", i}, {"name", i}});
        c.result.push_back({{"host", e.proxy}, {"initiator", initiators}});
    }
}

void removeAclAccess(Call& c) {
    std::string name, proxy;
    std::vector<std::string> addresses;
    if (!c.text("virtualDisk", name) || !c.text("host", proxy) || !c.names("address", addresses)) return;
    VDisk* d = c.cluster.find(name);
    if (!d) return void(c.fail(fill(sentence::kDiskNotFound, name)));
    Exposure* e = d->exposureOn(proxy);
    if (!e) return void(c.fail(fill(sentence::kNotExposedOnProxy, name) + " " + proxy));
    auto& list = e->initiators;
    for (const auto& a : addresses) list.erase(std::remove(list.begin(), list.end(), a), list.end());
    c.result = Json::array({element(name, "")});
}

void unmapLun(Call& c) {
    std::string name, proxy;
    if (!c.text("virtualDisk", name) || !c.text("target", proxy)) return;
    VDisk* d = c.cluster.find(name);
    if (!d) return void(c.fail(fill(sentence::kDiskNotFound, name)));
    if (!d->exposureOn(proxy)) return void(c.fail(fill(sentence::kLunNotMapped, name)));
    withdrawExposure(c.san, *d, proxy);
    c.result = {{"name", name}, {"target", proxy}};
}

// ---- disk administration ------------------------------------------------------------------

void deleteVDisk(Call& c) {
    std::vector<std::string> disks;
    if (!c.names("virtualDisks", disks)) return;
    c.result = Json::array();
    for (const auto& name : disks) {
        bool found = removeVDisk(c.cluster, c.san, name);
        c.touched.push_back(name);
        c.result.push_back(element(name, found ? "" : fill(sentence::kDiskNotFound, name)));
    }
}

void getClusterSettingInfo(Call& c) {
    c.result = {{"clusterNameHash", c.cluster.nameHash()}, {"clusterName", c.cluster.name()}};
}

void addVirtualDisk(Call& c) {
    VDisk d;
    if (!c.text("name", d.name) || !c.size(d.sizeBytes)) return;
    if (d.name.empty()) return void(c.invalid("name"));
    c.option("diskType", d.diskType);
    c.option("scsi3pr", d.scsi3pr);
    c.option("deduplication", d.deduplication);
    c.option("compressed", d.compressed);
    c.option("encryption", d.encryption);
    c.option("blockSize", d.blockSize);
    c.option("replicationFactor", d.replicationFactor);
    c.option("description", d.description);
    d.createdBy = c.user->name;
    d.tenant = c.user->tenant;
    bool exists = c.cluster.find(d.name) != nullptr;
    if (!exists) c.cluster.add(d);
    c.touched.push_back(d.name);
    c.result = Json::array({element(d.name, exists ? fill(sentence::kDiskAlreadyCreated, d.name) : "")});
}

void resizeDisks(Call& c) {
    std::vector<std::string> disks;
    uint64_t bytes = 0;
    if (!c.names("virtualDisks", disks) || !c.size(bytes)) return;
    c.result = Json::array();
    for (const auto& name : disks) {
        std::string why;
        VDisk* d = c.cluster.usable(name, why);
        if (d && bytes < d->sizeBytes)
            why = sentence::kShrinkRefused;
        else if (d)
            d->sizeBytes = bytes;
        if (d) c.touched.push_back(name);
        c.result.push_back(element(name, why));
    }
}

struct RequestType {
    const char* method;
    std::function<void(Call&)> run;
    bool changes = false;  // may change the model (a read may still count down a clone's freeze)
};

// Snapshot, clone and disk creation travel by PUT, everything else by POST.
const std::map<std::string, RequestType>& requestTypes() {
    static const std::map<std::string, RequestType> table = {
        {"Login", {"POST", login}},
        {"Logout", {"POST", logout}},
        {"ListVirtualDisks", {"POST", listVirtualDisks}},
        {"VirtualDiskDetails", {"POST", virtualDiskDetails}},
        {"GetVirtualDiskByScsiSn", {"POST", virtualDiskBySerial}},
        {"MakeSnapshot", {"PUT", makeSnapshot, true}},
        {"ListSnapshots", {"POST", listSnapshots}},
        {"DeleteSnapshot", {"POST", deleteSnapshot, true}},
        {"RevertToSnapshot", {"POST", revertToSnapshot, true}},
        {"ListClonesForSnapshot", {"POST", listClonesForSnapshot}},
        {"CloneSnapshot", {"PUT", cloneSnapshot, true}},
        {"ShowTarget", {"POST", showTarget}},
        {"AddLun", {"POST", addLun, true}},
        {"PersistACLAccess", {"POST", persistAclAccess, true}},
        {"GetACLInformation", {"POST", getAclInformation}},
        {"RemoveACLAccess", {"POST", removeAclAccess, true}},
        {"UnmapLun", {"POST", unmapLun, true}},
        {"DeleteVDisk", {"POST", deleteVDisk, true}},
        {"GetClusterSettingInfo", {"POST", getClusterSettingInfo}},
        {"AddVirtualDisk", {"PUT", addVirtualDisk, true}},
        {"ResizeDisks", {"POST", resizeDisks, true}},
    };
    return table;
}

Json envelope(bool ok, const std::string& type, const std::string& requestId, const std::string& message,
              const Json& result) {
    return {{"status", ok ? kStatusOk : kStatusError},
            {"type", type},
            {"requestId", requestId},
            {"message", message},
            {"result", result}};
}

// Rewrites a finished answer as the fault asks.
void applyFault(const Fault& f, RestReply& reply, Json& answer) {
    switch (f.kind) {
        case FaultKind::Drop:
            reply.drop = true;
            break;
        case FaultKind::Status:
            reply.http = f.status;
            answer["status"] = kStatusError;
            answer["message"] = f.message;
            break;
        case FaultKind::NotJson:
            reply.http = 200;
            break;
        case FaultKind::WrongType:
            answer["type"] = "Unexpected" + answer["type"].get<std::string>();
            break;
        case FaultKind::WrongShape:
            answer["result"] = answer["result"].is_array() ? Json::object() : Json::array();
            break;
        case FaultKind::Message:
            reply.http = 200;
            answer["status"] = kStatusError;
            answer["message"] = f.message;
            answer["result"] = Json::object();
            break;
        case FaultKind::Latency:
            reply.latencyMs = f.latencyMs;
            break;
    }
    reply.body = f.kind == FaultKind::NotJson ? kNotJsonBody : jsonText(answer);
}

}  // namespace

void withdrawExposure(SanBackend& san, VDisk& disk, const std::string& proxy) {
    auto& list = disk.exposures;
    auto it = std::find_if(list.begin(), list.end(), [&](const Exposure& e) { return e.proxy == proxy; });
    if (it == list.end()) return;
    san.targetRemoved(it->targetIqn);
    list.erase(it);
}

bool removeVDisk(Cluster& cluster, SanBackend& san, const std::string& name) {
    VDisk* d = cluster.find(name);
    if (!d) return false;
    for (const auto& e : std::vector<Exposure>(d->exposures)) withdrawExposure(san, *d, e.proxy);
    cluster.remove(name);  // its snapshots go with it; clones are vDisks of their own
    return true;
}

bool removeSnapshot(Cluster& cluster, const std::string& snapshot) { return cluster.dropSnapshot(snapshot); }

RestReply RestService::handle(const std::string& method, const std::string& body) {
    RestReply reply;
    std::string requestId = std::to_string(++requestSeq_);
    auto refuse = [&](int http, const std::string& type, const std::string& why) {
        reply.http = http;
        reply.body = jsonText(envelope(false, type, requestId, why, Json::object()));
        return reply;
    };

    std::string text, why;
    Json request;
    if (!formField(body, kFormField, text)) {
        counters_.request("(unparsed)");
        return refuse(kHttpBadRequest, "", "The body has no request field");
    }
    if (!parseNotation(text, request, why)) {
        counters_.request("(unparsed)");
        return refuse(kHttpBadRequest, "", why);
    }
    auto typeIt = request.is_object() ? request.find("type") : request.end();
    if (!request.is_object() || typeIt == request.end() || !typeIt->is_string()) {
        counters_.request("(unparsed)");
        return refuse(kHttpBadRequest, "", "The request has no type");
    }
    std::string type = typeIt->get<std::string>();
    reply.type = type;
    counters_.request(type);

    std::optional<Fault> fault = faults_.take(type);
    Json answer = envelope(false, type, requestId, "", Json::object());
    if (fault && !fault->apply) {
        applyFault(*fault, reply, answer);
        return reply;
    }

    auto row = requestTypes().find(type);
    if (row == requestTypes().end()) return refuse(kHttpBadRequest, type, "Unknown request type " + type);
    if (method != row->second.method)
        return refuse(kHttpWrongMethod, type,
                      "The request " + type + " must be sent with " + row->second.method + ", not " + method);

    const User* user = nullptr;
    if (type != "Login") {
        auto sid = request.find("sessionId");
        user = sid != request.end() && sid->is_string() ? cluster_.sessionUser(sid->get<std::string>()) : nullptr;
        if (!user) return refuse(kHttpUnauthorized, type, sentence::kInvalidSession);
    }
    static const Json kNoParams = Json::object();
    auto paramsIt = request.find("params");
    const Json& params = paramsIt != request.end() && paramsIt->is_object() ? *paramsIt : kNoParams;
    Json logoutParams;
    if (type == "Logout") logoutParams = {{"sessionId", request["sessionId"]}};
    Call call(cluster_, san_, type == "Logout" ? logoutParams : params, user);
    row->second.run(call);
    reply.changed = row->second.changes;
    reply.touched = std::move(call.touched);

    reply.http = call.http;
    // A result written as text goes into the envelope as it is, unless a fault rewrites it.
    const bool spliced = !call.resultText.empty() && !fault;
    if (!call.resultText.empty() && fault) call.result = Json::parse(call.resultText);
    answer = envelope(call.ok, type, requestId, call.message, spliced ? Json() : call.result);
    for (auto& [k, v] : call.extra.items()) answer[k] = v;
    if (fault) {
        applyFault(*fault, reply, answer);
    } else {
        reply.body = jsonText(answer);
        if (spliced) spliceResult(reply.body, call.resultText);
    }
    return reply;
}

}  // namespace korvansim
