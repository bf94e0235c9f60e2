#include "KrvnFuzzEntries.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>

#include "FakeSnapHost.h"
#include "IscsiConnection.h"
#include "KrvnCommonUtils.h"
#include "KrvnCtx.h"
#include "KrvnJson.h"
#include "KrvnProvCtx.h"
#include "KrvnTextsCluster.h"
#include "KrvnTextsProv.h"
#include "KrvnTextsScsi.h"
#include "KrvnTextsSnap.h"
#include "KrvnUtils.h"
#include "SimSeed.h"
#include "Simulator.h"

namespace krvnfuzz {

using namespace ZYKorvanCommon;

namespace {

constexpr size_t kPage = ZY_KRVN_SCSI_RESP_LEN;
constexpr const char* kDeviceName = "fz";
// The snapshot the stored cluster answers speak of, so the name checks are reachable.
constexpr const char* kSeedSnapshot = "vol1$snap$000001";

std::string textOf(const uint8_t* data, size_t size) { return std::string(reinterpret_cast<const char*>(data), size); }

// A failed step must say why: a code with no sentence reaches the host as an empty error.
bool failureExplained(const KrvnCommonCtx& ctx, unsigned int rc) {
    return rc == 0 || (ctx.errorCode == static_cast<int>(rc) && !ctx.errorString().empty());
}

void clearErrors(KrvnCommonCtx& ctx) {
    ctx.resetError();
    ctx.restErrors.str("");
    ctx.restErrors.clear();
}

// ---- SCSI pages ------------------------------------------------------------------------------

bool allUpperHex(const std::string& text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return std::isdigit(static_cast<unsigned char>(c)) || (c >= 'A' && c <= 'F'); });
}

bool noScsiBlank(const std::string& text) {
    return std::none_of(text.begin(), text.end(), [](char c) { return std::strchr(" \t\n\v\f\r", c) != nullptr; });
}

// The input is the three pages one after the other (each cut or zero-filled to 255 bytes).
// Each reader runs on its page directly, then inquireDevice reads the same pages through
// the fixture device: both roads must agree.
bool scsiInquiry(FuzzWorkspace& workspace, const uint8_t* data, size_t size) {
    unsigned char pages[3][kPage] = {};
    for (size_t i = 0; i < 3 && i * kPage < size; ++i)
        std::memcpy(pages[i], data + i * kPage, std::min(kPage, size - i * kPage));
    const std::string device = workspace.writeDevice(pages[0], pages[1], pages[2]);

    KrvnCommonCtx ctx(nullptr);
    KrvnCommonUtils utils(&ctx);
    std::string vendor, product, revision, serial, cluster;
    utils.getStdDetailsFromSCSIResp(pages[0], vendor, product, revision);
    utils.getDiskSerialIdFromSCSIResp(pages[1], serial);
    utils.getArrayIdFromSCSIResp(pages[2], cluster);
    if (vendor.size() > size_t{ZY_KRVN_SCSI_VENDOR_LEN} || product.size() > size_t{ZY_KRVN_SCSI_PRODUCT_LEN} ||
        revision.size() > size_t{ZY_KRVN_SCSI_REVISION_LEN})
        return false;
    if (serial.size() >= size_t{ZY_KRVN_SCSI_SERIAL_WORK_LEN} || !noScsiBlank(serial)) return false;
    if (cluster.size() > ZY_KRVN_SCSI_CLUSTER_SERIAL_LEN || !allUpperHex(cluster)) return false;

    std::string vDiskSerial = "stale", clusterSerial = "stale";
    const int rc = utils.inquireDevice(device, vDiskSerial, clusterSerial);
    if (!failureExplained(ctx, static_cast<unsigned int>(rc))) return false;
    if (rc != 0) return vDiskSerial.empty() && clusterSerial.empty();
    return vDiskSerial == serial && clusterSerial == cluster && !serial.empty() && !cluster.empty() &&
           vendor == ZY_KRVN_SCSI_KORVAN_VENDOR && product == ZY_KRVN_SCSI_KORVAN_PRODUCT;
}

// ---- Cluster answers -------------------------------------------------------------------------

// An answer the reader accepted must be a JSON object, and unless the operation takes a
// particular refusal as its goal reached, an "ok" answer of the operation's own type.
bool acceptedAnswerSound(const std::string& answer, const char* type, bool refusalMayReachGoal) {
    JsonDocument doc;
    if (!doc.parseObject(answer)) return false;
    if (refusalMayReachGoal) return true;
    std::string status, answeredType;
    doc.root().getString(ZY_KRVN_REST_CMN_FIELD_STATUS, status);
    doc.root().getString(ZY_KRVN_REST_CMN_FIELD_TYPE, answeredType);
    return status == ZY_KRVN_REST_CMN_VALUE_STATUS_OK && answeredType == type;
}

}  // namespace

const std::vector<ClusterReader>& clusterReaders() {
    using U = KrvnCommonUtils;
    static const std::vector<ClusterReader> halves = {
        {ZY_KRVN_REST_CMN_VALUE_TYPE_GET_ALL_VDISKS, false, 0,
         [](U& u) {
             std::vector<KrvnDisk> d;
             return u.processGetAllVDisks(d);
         }},
        {ZY_KRVN_REST_CMN_VALUE_TYPE_GET_VDISK, false, 0,
         [](U& u) {
             KrvnDisk d;
             return u.processGetVDisk(d);
         }},
        {ZY_KRVN_REST_CMN_VALUE_TYPE_GET_VDISK_SSN, false, 0,
         [](U& u) {
             KrvnDisk d;
             return u.processGetVDiskBySSN(d);
         }},
        {ZY_KRVN_REST_CMN_VALUE_TYPE_CREATE_SNAPS, false, 0,
         [](U& u) {
             std::map<std::string, std::string> s{{"vol1", ""}};
             return u.processCreateSnaps(s);
         }},
        {ZY_KRVN_REST_CMN_VALUE_TYPE_GET_SNAP_LIST, false, 0,
         [](U& u) {
             std::vector<std::string> n;
             return u.processGetSnapList(n);
         }},
        {ZY_KRVN_REST_CMN_VALUE_TYPE_DELETE_SNAP, false, 0, [](U& u) { return u.processDeleteSnap(kSeedSnapshot); }},
        {ZY_KRVN_REST_CMN_VALUE_TYPE_REVERT_SNAP, false, 0, [](U& u) { return u.processRevertSnap(kSeedSnapshot); }},
        {ZY_KRVN_REST_CMN_VALUE_TYPE_GET_SNAP_CLONES, false, 0,
         [](U& u) {
             std::vector<std::string> n;
             return u.processGetCloneDetails(n);
         }},
        {ZY_KRVN_REST_CMN_VALUE_TYPE_CREATE_CLONE, false, 0,
         [](U& u) { return u.processCreateClone("clone1", kSeedSnapshot); }},
        {ZY_KRVN_REST_CMN_VALUE_TYPE_GET_SCSI_TARGET, false, 0,
         [](U& u) {
             std::map<std::string, std::vector<KrvnSCSITarget>> t;
             return u.processGetSCSITargetIQNs("sp1", t);
         }},
        {ZY_KRVN_REST_CMN_VALUE_TYPE_GET_SCSI_TARGET, false, 0,
         [](U& u) {
             std::string target;
             size_t rows = 0;
             return u.processFindSCSITargetOfLun("sp1", "vol1", target, rows);
         }},
        {ZY_KRVN_REST_CMN_VALUE_TYPE_ADD_LUN, false, 0, [](U& u) { return u.processAddLUN({"vol1"}, {"sp1"}); }},
        {ZY_KRVN_REST_CMN_VALUE_TYPE_ADD_ACCESS, false, 0,
         [](U& u) { return u.processAddHostAccessToDisks({"vol1"}, "iqn.host", "sp1"); }},
        {ZY_KRVN_REST_CMN_VALUE_TYPE_GET_ACCESS, false, 0,
         [](U& u) {
             std::vector<KrvnAccessInfo> a;
             return u.processGetAccessList(a);
         }},
        {ZY_KRVN_REST_CMN_VALUE_TYPE_REMOVE_ACCESS, false, 0, [](U& u) { return u.processRemoveAccess(); }},
        {ZY_KRVN_REST_CMN_VALUE_TYPE_REMOVE_LUN, true, 0, [](U& u) { return u.processRemoveLUN("vol1"); }},
        {ZY_KRVN_REST_CMN_VALUE_TYPE_DELETE_DISK, false, 0,
         [](U& u) {
             std::map<std::string, bool> d{{"vol1", false}};
             return static_cast<unsigned int>(u.processDeleteDisk(d));
         }},
        {ZY_KRVN_REST_CMN_VALUE_TYPE_CREATE_DISK, false, ZY_KRVN_ERR_DISK_EXISTS,
         [](U& u) {
             KrvnDisk d;
             d.vDiskName = "vol1";
             return static_cast<unsigned int>(u.processCreateDiskResp(d));
         }},
        {ZY_KRVN_REST_CMN_VALUE_TYPE_RESIZE_DISK, false, 0,
         [](U& u) { return static_cast<unsigned int>(u.processResizeDiskResp(KrvnDisk())); }},
        {ZY_KRVN_REST_CMN_VALUE_TYPE_GET_CLUS_INFO, false, 0,
         [](U& u) {
             std::string hash;
             return static_cast<unsigned int>(u.processGetClusterSettingInfo(hash));
         }},
    };
    return halves;
}

namespace {

// Every process half reads the same answer text.
bool clusterResponses(FuzzWorkspace&, const uint8_t* data, size_t size) {
    KrvnCommonCtx ctx(nullptr);
    KrvnCommonUtils utils(&ctx);
    const std::string answer = textOf(data, size);
    for (const ClusterReader& half : clusterReaders()) {
        clearErrors(ctx);
        ctx.restResponse = answer;
        const unsigned int rc = half.run(utils);
        if (rc == 0 && !acceptedAnswerSound(answer, half.type, half.refusalMayReachGoal)) return false;
        if (rc != 0 && rc != half.silentCode && !failureExplained(ctx, rc)) return false;
    }
    clearErrors(ctx);
    ctx.restResponse = answer;
    utils.processLogout();
    return true;
}

struct LoginRead {
    unsigned int rc = 0;
    std::string session;
    std::vector<std::string> logged;
    bool explained = true;
};

LoginRead readLogin(const std::string& answer) {
    LoginRead out;
    KrvnCommonCtx ctx(nullptr);
    KrvnCommonUtils utils(&ctx);
    ctx.restResponse = answer;
    EvDebug::setCaptureSink([](int, long long, const std::string& text,
                               void* user) { static_cast<std::vector<std::string>*>(user)->push_back(text); },
                            &out.logged);
    out.rc = utils.processConnectResp();
    EvDebug::setCaptureSink(nullptr, nullptr);
    out.explained = failureExplained(ctx, out.rc);
    out.session = ctx.arrayDetails.sessionId;
    return out;
}

size_t occurrences(const std::vector<std::string>& lines, const std::string& part) {
    size_t n = 0;
    for (const std::string& line : lines)
        for (size_t pos = line.find(part); pos != std::string::npos; pos = line.find(part, pos + 1)) ++n;
    return n;
}

// The Login reader and the envelope check on their own. An accepted Login's session id must
// never be written to the log. The id may well occur in the log's fixed texts by chance, so
// the reading is repeated with the id replaced by a neutral token of the same length: a leak
// shows as more occurrences of the real id than of the id in the second log.
bool sessionEnvelope(FuzzWorkspace&, const uint8_t* data, size_t size) {
    const std::string answer = textOf(data, size);
    const LoginRead first = readLogin(answer);
    if (!first.explained) return false;
    if (first.rc == 0) {
        const std::string& session = first.session;
        if (session.empty() || !acceptedAnswerSound(answer, ZY_KRVN_REST_CMN_VALUE_TYPE_LOGIN, false)) return false;
        const size_t at = answer.find(session);
        char neutral = '\0';
        for (char c : {'~', '^', '|', '`'})
            if (answer.find(c) == std::string::npos) neutral = c;
        // Only an id that occurs once in the answer (as the id) can be told apart from other
        // members that happen to hold the same text.
        if (at != std::string::npos && answer.find(session, at + 1) == std::string::npos && neutral != '\0') {
            std::string replaced = answer;
            replaced.replace(at, session.size(), std::string(session.size(), neutral));
            const LoginRead second = readLogin(replaced);
            if (occurrences(first.logged, session) > occurrences(second.logged, session)) return false;
        }
    }

    KrvnCommonCtx ctx(nullptr);
    KrvnCommonUtils utils(&ctx);
    JsonDocument doc;
    if (!doc.parseObject(answer)) return true;
    for (int check :
         {ZY_KRVN_CHECK_RESULT_FIELD_NONE, ZY_KRVN_CHECK_RESULT_FIELD_OBJECT, ZY_KRVN_CHECK_RESULT_FIELD_ARRAY}) {
        clearErrors(ctx);
        ctx.restResponse = answer;
        const unsigned int envelope = utils.processCommonResp(doc.root(), ZY_KRVN_REST_CMN_VALUE_TYPE_ADD_LUN, check);
        if (!failureExplained(ctx, envelope)) return false;
        if (envelope == 0 && !acceptedAnswerSound(answer, ZY_KRVN_REST_CMN_VALUE_TYPE_ADD_LUN, false)) return false;
        const JsonValue result = doc.root().member(ZY_KRVN_REST_CMN_FIELD_RESULT);
        if (envelope == 0 && check == ZY_KRVN_CHECK_RESULT_FIELD_OBJECT && !result.isObject()) return false;
        if (envelope == 0 && check == ZY_KRVN_CHECK_RESULT_FIELD_ARRAY && !result.isArray()) return false;
    }
    return true;
}

// ---- Host texts ------------------------------------------------------------------------------

bool fieldSound(const std::string& field) {
    return !field.empty() && field.find(ZYSnapKrvn::ZY_KRVN_SNAP_METADATA_SEP) == std::string::npos;
}

// The same text as the snapshot metadata (key 6) for every operation that reads it, and as
// the clone metadata (key 149).
bool snapMetadata(FuzzWorkspace&, const uint8_t* data, size_t size) {
    using namespace ZYSnapKrvn;
    const std::string value = textOf(data, size);
    for (int op : {ZY_KRVN_SNAP_OP_CREATE, ZY_KRVN_SNAP_OP_DELETE, ZY_KRVN_SNAP_OP_MAP, ZY_KRVN_SNAP_OP_UNMAP,
                   ZY_KRVN_SNAP_OP_REVERT, ZY_KRVN_SNAP_OP_RECONCILE}) {
        krvntest::FakeSnapInfo item(7);
        item.metadata[ZY_KRVN_SNAP_METADATA_KEY] = value;
        item.metadata[ZY_KRVN_CLONE_METADATA_KEY] = value;
        KrvnCtx ctx(nullptr, 0, op);
        KrvnSnapObject obj;
        obj.snapInfo = &item;
        const int rc = ctx.fillSnapInfoFromMetadata(&obj);
        if (!failureExplained(ctx, static_cast<unsigned int>(rc))) return false;
        if (rc == 0 && !value.empty() &&
            !(fieldSound(obj.sourceVDiskName) && fieldSound(obj.sourceVDiskId) &&
              (obj.snapName.empty() ? op == ZY_KRVN_SNAP_OP_CREATE || op == ZY_KRVN_SNAP_OP_DELETE
                                    : fieldSound(obj.snapName))))
            return false;
        if (rc == 0 && value.empty() && op != ZY_KRVN_SNAP_OP_DELETE) return false;

        std::string cloneName, cloneSerial, proxy;
        if (ctx.getMountInfoFromMetadata(&obj, cloneName, cloneSerial, proxy) == 0 &&
            !(fieldSound(cloneName) && fieldSound(cloneSerial) && fieldSound(proxy)))
            return false;
    }
    return true;
}

// The host's array details text.
bool arrayDetails(FuzzWorkspace&, const uint8_t* data, size_t size) {
    using namespace ZYSnapKrvn;
    KrvnCtx ctx(nullptr, 0, ZY_KRVN_SNAP_OP_PREPARE);
    KrvnUtils utils(&ctx);
    KrvnArrayDetails details;
    const int rc = utils.parseArrayDetails(textOf(data, size), details);
    return (rc == 0) == !details.controlHostName.empty();
}

// The host's map information text. A refused text adds nothing to what was there.
bool mapInfo(FuzzWorkspace&, const uint8_t* data, size_t size) {
    using namespace ZYProvKorvan;
    const std::string text = textOf(data, size);
    KrvnProvCtx ctx(nullptr, 0, ZY_KRVN_PROV_OP_MAP);
    std::vector<KrvnMapInfo> infos(1);
    infos[0].hostName = "already-there";
    const int rc = ctx.parseMapInfo(text.c_str(), infos);
    if (!failureExplained(ctx, static_cast<unsigned int>(rc))) return false;
    if (infos.empty() || infos[0].hostName != "already-there") return false;
    if (rc != 0) return infos.size() == 1;
    for (const KrvnMapInfo& info : infos) {
        std::string dump;
        info.dump(dump);
    }
    return true;
}

// ---- Simulator -------------------------------------------------------------------------------

// One form body through the simulator's REST service, after a fresh Login whose session id
// replaces every placeholder in the input. Whatever comes in, the service answers with an
// envelope (no faults are injected here).
bool simRequest(FuzzWorkspace& workspace, const uint8_t* data, size_t size) {
    korvansim::Simulator& sim = workspace.simulator();
    sim.reset();
    const korvansim::RestReply login =
        sim.rest("POST", std::string("request={type:Login, category:UserManagement, params:{userName:'") +
                             korvansim::kDefaultUser + "', password:'" + korvansim::kDefaultPassword + "', cluster:'" +
                             korvansim::kDefaultClusterName + "'}}");
    std::string session;
    try {
        session = korvansim::Json::parse(login.body).at("result").at("sessionId").get<std::string>();
    } catch (const std::exception&) {
        return false;
    }
    std::string body = textOf(data, size);
    const std::string placeholder = kSessionPlaceholder;
    for (size_t pos = body.find(placeholder); pos != std::string::npos;
         pos = body.find(placeholder, pos + session.size()))
        body.replace(pos, placeholder.size(), session);
    for (const char* method : {"POST", "PUT"}) {
        const korvansim::RestReply reply = sim.rest(method, body);
        if (reply.drop) return false;
        const korvansim::Json answer = korvansim::Json::parse(reply.body, nullptr, false);
        if (answer.is_discarded() || !answer.is_object() || !answer.contains("status")) return false;
    }
    return true;
}

// ---- iSCSI target ----------------------------------------------------------------------------

namespace iscsi = korvansim::iscsi;

// A small unit that fails the entry when the target reaches outside it.
class BoundedUnit : public iscsi::LogicalUnit {
public:
    uint32_t blockSize() const override { return 512; }
    uint64_t blocks() const override { return bytes.size() / 512; }
    bool read(uint64_t offset, void* buffer, size_t length) override {
        if (offset > bytes.size() || length > bytes.size() - offset) return outside = true, false;
        std::memcpy(buffer, bytes.data() + offset, length);
        return true;
    }
    bool write(uint64_t offset, const void* buffer, size_t length) override {
        if (offset > bytes.size() || length > bytes.size() - offset) return outside = true, false;
        std::memcpy(bytes.data() + offset, buffer, length);
        return true;
    }
    std::string inquiry(bool evpd, uint8_t page) const override {
        return evpd && page != 0 ? "" : std::string(36, '\1');
    }
    std::string bytes = std::string(64 * 512, '\0');
    bool outside = false;
};

// Target "iqn.t:a" on portal "p" for initiator "iqn.i"; anything else is refused.
class FuzzDirectory : public iscsi::TargetDirectory {
public:
    std::vector<std::string> targets(const std::string&) override { return {"iqn.t:a"}; }
    Admission admit(const std::string& portal, const std::string& initiator, const std::string& target) override {
        if (portal != "p" || target != "iqn.t:a") return {iscsi::login::kNotFound, nullptr};
        if (initiator != "iqn.i") return {iscsi::login::kAuthorizationFailure, nullptr};
        return {iscsi::login::kSuccess, unit};
    }
    std::shared_ptr<BoundedUnit> unit = std::make_shared<BoundedUnit>();
};

// What the target answers to the bytes of one connection, fed in chunks of `chunk` bytes.
std::string answerOf(const uint8_t* data, size_t size, size_t chunk, bool& outside) {
    FuzzDirectory directory;
    iscsi::Connection connection(directory, "p", "127.0.0.1:3260", 1);
    std::string out;
    for (size_t at = 0; at < size; at += chunk)
        if (!connection.receive(data + at, std::min(chunk, size - at), out)) break;
    outside = outside || directory.unit->outside;
    return out;
}

// The input is what an initiator sends on one connection. Every PDU the reader cuts from it
// must encode back to what it came from; the target must answer the same whatever chunks the
// bytes arrive in, with whole PDUs of target opcodes; no transfer may leave the unit.
bool iscsiPdu(FuzzWorkspace&, const uint8_t* data, size_t size) {
    iscsi::PduReader reader(1u << 20);
    reader.feed(data, size);
    size_t consumed = 0;
    for (iscsi::Pdu pdu; reader.next(pdu);) {
        const std::string wire = pdu.encode();
        if (consumed + wire.size() > size) return false;
        // Padding bytes on the wire may be anything; the encoding writes zeros.
        iscsi::PduReader again(1u << 20);
        again.feed(data + consumed, wire.size());
        iscsi::Pdu back;
        if (!again.next(back) || back.bhs != pdu.bhs || back.data != pdu.data) return false;
        consumed += wire.size();
    }

    bool outside = false;
    const std::string whole = answerOf(data, size, std::max<size_t>(size, 1), outside);
    if (answerOf(data, size, 1 + size % 61, outside) != whole || outside) return false;
    iscsi::PduReader answers(1u << 24);
    answers.feed(whole.data(), whole.size());
    size_t answered = 0;
    for (iscsi::Pdu pdu; answers.next(pdu);) {
        if (pdu.opcode() < iscsi::op::kNopIn) return false;
        answered += pdu.encode().size();
    }
    return answered == whole.size();
}

}  // namespace

FuzzWorkspace::FuzzWorkspace() {
    char tmpl[] = "/tmp/krvn-fuzz-XXXXXX";
    if (mkdtemp(tmpl) != nullptr) root_ = tmpl;
    ::mkdir((root_ + "/" + kDeviceName).c_str(), 0700);
    settings_.set("Platform", "deviceBackend", "fixture");
    settings_.set("Platform", "deviceFixtureDir", root_);
    settings_.set("Platform", "logFile", "/dev/null");
}

FuzzWorkspace::~FuzzWorkspace() {
    for (const char* page : {"page00.bin", "page80.bin", "page83.bin"})
        std::remove((root_ + "/" + kDeviceName + "/" + page).c_str());
    ::rmdir((root_ + "/" + kDeviceName).c_str());
    ::rmdir(root_.c_str());
}

std::string FuzzWorkspace::writeDevice(const unsigned char* page00, const unsigned char* page80,
                                       const unsigned char* page83) {
    const std::pair<const char*, const unsigned char*> pages[] = {
        {"page00.bin", page00}, {"page80.bin", page80}, {"page83.bin", page83}};
    for (const auto& [file, bytes] : pages) {
        std::ofstream out(root_ + "/" + kDeviceName + "/" + file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes), kPage);
    }
    return std::string("/dev/") + kDeviceName;
}

korvansim::Simulator& FuzzWorkspace::simulator() {
    if (!sim_) {
        sim_ = std::make_unique<korvansim::Simulator>();
        std::string message;
        if (!sim_->loadSeed(korvansim::defaultSeed(korvansim::localHostName(), 2), message)) {
            std::fprintf(stderr, "fuzz workspace: simulator seed refused: %s\n", message.c_str());
            std::abort();
        }
    }
    return *sim_;
}

const std::vector<FuzzTarget>& fuzzTargets() {
    static const std::vector<FuzzTarget> targets = {
        {"scsi_inquiry", &scsiInquiry},         {"cluster_responses", &clusterResponses},
        {"session_envelope", &sessionEnvelope}, {"snap_metadata", &snapMetadata},
        {"array_details", &arrayDetails},       {"map_info", &mapInfo},
        {"sim_request", &simRequest},           {"iscsi_pdu", &iscsiPdu},
    };
    return targets;
}

const FuzzTarget* findFuzzTarget(const std::string& name) {
    for (const FuzzTarget& target : fuzzTargets())
        if (name == target.name) return &target;
    return nullptr;
}

}  // namespace krvnfuzz
