#include "IscsiConnection.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace korvansim::iscsi {

namespace {

// Reject reasons.
constexpr uint8_t kRejectProtocolError = 0x04;
constexpr uint8_t kRejectNotSupported = 0x05;
constexpr uint8_t kRejectInvalidField = 0x09;

// Task management functions and answers.
constexpr uint8_t kAbortTask = 1;
constexpr uint8_t kTargetColdReset = 7;
constexpr uint8_t kTaskReassign = 8;
constexpr uint8_t kTmfComplete = 0;
constexpr uint8_t kTmfNoSuchTask = 1;
constexpr uint8_t kTmfNoReassignment = 4;
constexpr uint8_t kTmfNotSupported = 5;

// Flag bits.
constexpr uint8_t kFinal = 0x80;
constexpr uint8_t kTransit = 0x80;
constexpr uint8_t kContinue = 0x40;
constexpr uint8_t kReadBit = 0x40;
constexpr uint8_t kWriteBit = 0x20;
constexpr uint8_t kOverflow = 0x04;
constexpr uint8_t kUnderflow = 0x02;
constexpr uint8_t kStatusBit = 0x01;

constexpr uint16_t kPortalGroupTag = 1;
constexpr uint32_t kMinSegment = 512;
constexpr uint32_t kMaxSegment = (1u << 24) - 1;

constexpr char kYes[] = "Yes";
constexpr char kNo[] = "No";
constexpr char kNone[] = "None";
constexpr char kReject[] = "Reject";
constexpr char kNotUnderstood[] = "NotUnderstood";
constexpr char kIrrelevant[] = "Irrelevant";
constexpr char kDiscovery[] = "Discovery";
constexpr char kNormal[] = "Normal";

bool listHas(const std::string& list, const std::string& value) {
    size_t pos = 0;
    while (pos <= list.size()) {
        size_t end = std::min(list.find(',', pos), list.size());
        if (list.compare(pos, end - pos, value) == 0) return true;
        pos = end + 1;
    }
    return false;
}

// A numerical value (decimal or 0x hexadecimal); false when it is not one.
bool number(const std::string& text, uint32_t& out) {
    if (text.empty() || text.size() > 12) return false;
    char* end = nullptr;
    unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (*end || v > 0xffffffffull) return false;
    out = static_cast<uint32_t>(v);
    return true;
}

// Only LUN 0 exists; any other address (in either the peripheral or the flat form) is empty.
bool isLunZero(uint64_t lun) {
    const uint64_t method = lun >> 62;
    return (method == 0 || method == 1) && (lun & 0x3fffffffffffffffull) == 0;
}

}  // namespace

Connection::Connection(TargetDirectory& directory, std::string portal, std::string address, uint16_t tsih)
    : directory_(directory),
      portal_(std::move(portal)),
      address_(std::move(address)),
      tsih_(tsih),
      reader_(offer::kMaxRecvDataSegmentLength) {}

bool Connection::receive(const void* bytes, size_t length, std::string& out) {
    reader_.feed(bytes, length);
    Pdu pdu;
    while (reader_.next(pdu))
        if (!handle(pdu, out)) return false;
    if (!reader_.error().empty()) {
        error_ = reader_.error();
        return false;
    }
    return true;
}

Pdu Connection::reply(uint8_t opcode, uint32_t itt, bool status) {
    Pdu p;
    p.setOpcode(opcode);
    p.setByte(at::kFlags, kFinal);
    p.set32(at::kTaskTag, itt);
    p.set32(at::kCmdSn, status ? statSn_++ : statSn_);
    p.set32(at::kExpStatSn, expCmdSn_);
    p.set32(at::kMaxCmdSn, expCmdSn_ + offer::kCommandWindow - 1);
    return p;
}

LogicalUnit* Connection::unitAt(uint64_t lun) const { return isLunZero(lun) ? unit_.get() : nullptr; }

bool Connection::acceptCmdSn(const Pdu& pdu) {
    if (pdu.immediate()) return true;
    const uint32_t cmdSn = pdu.get32(at::kCmdSn);
    if (cmdSn - expCmdSn_ >= offer::kCommandWindow) return false;  // below or beyond the window
    expCmdSn_ = cmdSn + 1;
    return true;
}

bool Connection::handle(const Pdu& pdu, std::string& out) {
    if (stage_ != kFullFeature) {
        if (pdu.opcode() == op::kLoginRequest) return loginRequest(pdu, out);
        error_ = "a PDU other than a login request during login";
        return false;
    }
    switch (pdu.opcode()) {
        case op::kScsiCommand:
            if (discovery_)
                reject(pdu, kRejectNotSupported, out);
            else
                scsiCommand(pdu, out);
            return true;
        case op::kDataOut:
            return dataOut(pdu, out);
        case op::kNopOut:
            if (acceptCmdSn(pdu) && pdu.taskTag() != kReservedTag) {
                Pdu in = reply(op::kNopIn, pdu.taskTag(), true);
                std::copy_n(pdu.bhs.begin() + at::kLun, 8, in.bhs.begin() + at::kLun);
                in.set32(at::kTransferTag, kReservedTag);
                in.data = pdu.data.substr(0, sendSegment_);
                out += in.encode();
            }
            return true;
        case op::kTextRequest:
            textRequest(pdu, out);
            return true;
        case op::kTaskRequest:
            taskRequest(pdu, out);
            return true;
        case op::kLogoutRequest: {
            acceptCmdSn(pdu);
            writes_.clear();
            out += reply(op::kLogoutResponse, pdu.taskTag(), true).encode();
            return false;
        }
        case op::kLoginRequest:
            reject(pdu, kRejectProtocolError, out);
            return true;
        default:
            reject(pdu, kRejectNotSupported, out);
            return true;
    }
}

// ---- login ------------------------------------------------------------------------------------

bool Connection::refuseLogin(const Pdu& pdu, uint16_t status, std::string& out) {
    Pdu r = reply(op::kLoginResponse, pdu.taskTag(), true);
    r.setByte(at::kFlags, 0);
    std::copy_n(pdu.bhs.begin() + at::kLun, 6, r.bhs.begin() + at::kLun);  // the ISID
    r.setByte(at::kDataSn, static_cast<uint8_t>(status >> 8));
    r.setByte(at::kDataSn + 1, static_cast<uint8_t>(status));
    out += r.encode();
    char code[8];
    std::snprintf(code, sizeof code, "%04x", status);
    error_ = std::string("login refused with status 0x") + code;
    return false;
}

bool Connection::loginRequest(const Pdu& pdu, std::string& out) {
    const uint8_t flags = pdu.flags();
    const bool transit = flags & kTransit;
    const int current = (flags >> 2) & 3, nextStage = flags & 3;
    if (!loginStarted_) {
        loginStarted_ = true;
        statSn_ = pdu.get32(at::kExpStatSn);
        expCmdSn_ = pdu.get32(at::kCmdSn);
        if (pdu.byte(3) > 0) return refuseLogin(pdu, login::kUnsupportedVersion, out);
        if (pdu.get16(at::kTsih) != 0) return refuseLogin(pdu, login::kInitiatorError, out);  // no session to join
    }
    if (current < stage_ || current == 2 || (transit && (nextStage == 2 || nextStage <= current)))
        return refuseLogin(pdu, login::kInitiatorError, out);

    loginText_ += pdu.data;
    Pdu r = reply(op::kLoginResponse, pdu.taskTag(), true);
    std::copy_n(pdu.bhs.begin() + at::kLun, 6, r.bhs.begin() + at::kLun);
    r.setByte(at::kFlags, static_cast<uint8_t>(current << 2));
    if (flags & kContinue) {  // more of this text follows: take it in before answering
        out += r.encode();
        return true;
    }
    TextPairs offered, answer;
    if (!parseText(loginText_, offered)) return refuseLogin(pdu, login::kInitiatorError, out);
    loginText_.clear();

    const bool first = initiator_.empty();
    std::string sessionType = kNormal;
    for (const auto& [key, value] : offered) {
        if (key == "InitiatorName")
            initiator_ = value;
        else if (key == "TargetName")
            target_ = value;
        else if (key == "SessionType")
            sessionType = value;
    }
    if (first) {
        if (initiator_.empty()) return refuseLogin(pdu, login::kMissingParameter, out);
        if (sessionType != kNormal && sessionType != kDiscovery)
            return refuseLogin(pdu, login::kSessionTypeNotSupported, out);
        discovery_ = sessionType == kDiscovery;
        if (!discovery_) {
            if (target_.empty()) return refuseLogin(pdu, login::kMissingParameter, out);
            TargetDirectory::Admission admission = directory_.admit(portal_, initiator_, target_);
            if (admission.status != login::kSuccess || !admission.unit)
                return refuseLogin(pdu, admission.status != login::kSuccess ? admission.status : login::kTargetError,
                                   out);
            unit_ = admission.unit;
            answer.emplace_back("TargetPortalGroupTag", std::to_string(kPortalGroupTag));
        } else {
            target_.clear();
        }
    }
    bool refused = false;
    for (const auto& [key, value] : offered) {
        if (key == "AuthMethod") {
            refused = !listHas(value, kNone);
            answer.emplace_back(key, refused ? kReject : kNone);
        }
    }
    if (refused) return refuseLogin(pdu, login::kAuthenticationFailure, out);
    negotiate(offered, answer);
    for (const auto& [key, value] : answer)
        if (value == kReject && (key == "HeaderDigest" || key == "DataDigest"))
            return refuseLogin(pdu, login::kInitiatorError, out);

    stage_ = std::max(stage_, current);
    if (transit) {
        r.setByte(at::kFlags, static_cast<uint8_t>(kTransit | current << 2 | nextStage));
        stage_ = nextStage;
        if (stage_ == kFullFeature) r.set16(at::kTsih, tsih_);
    }
    r.data = encodeText(answer);
    out += r.encode();
    return true;
}

void Connection::negotiate(const TextPairs& offered, TextPairs& answer) {
    using Rule = std::function<std::string(const std::string&)>;
    auto numeric = [](std::function<std::string(uint32_t)> f) {
        return [f](const std::string& v) {
            uint32_t n = 0;
            return number(v, n) ? f(n) : std::string(kReject);
        };
    };
    const std::map<std::string, Rule> rules = {
        {"HeaderDigest", [](const std::string& v) { return listHas(v, kNone) ? kNone : kReject; }},
        {"DataDigest", [](const std::string& v) { return listHas(v, kNone) ? kNone : kReject; }},
        {"MaxConnections", [](const std::string&) { return "1"; }},
        {"InitialR2T", [](const std::string&) { return kYes; }},
        {"ImmediateData",
         [this](const std::string& v) {
             immediateData_ = v == kYes;
             return immediateData_ ? kYes : kNo;
         }},
        {"MaxRecvDataSegmentLength", numeric([this](uint32_t n) {
             sendSegment_ = std::clamp(n, kMinSegment, kMaxSegment);
             return std::string();  // declarative: our own value is declared beside it
         })},
        {"MaxBurstLength", numeric([this](uint32_t n) {
             maxBurst_ = std::clamp(n, kMinSegment, offer::kMaxBurstLength);
             return std::to_string(maxBurst_);
         })},
        {"FirstBurstLength", numeric([this](uint32_t n) {
             firstBurst_ = std::clamp(n, kMinSegment, offer::kFirstBurstLength);
             return std::to_string(firstBurst_);
         })},
        {"DefaultTime2Wait", numeric([](uint32_t n) { return std::to_string(n); })},
        {"DefaultTime2Retain", [](const std::string&) { return "0"; }},
        {"MaxOutstandingR2T", [](const std::string&) { return "1"; }},
        {"DataPDUInOrder", [](const std::string&) { return kYes; }},
        {"DataSequenceInOrder", [](const std::string&) { return kYes; }},
        {"ErrorRecoveryLevel", [](const std::string&) { return "0"; }},
        {"IFMarker", [](const std::string&) { return kNo; }},
        {"OFMarker", [](const std::string&) { return kNo; }},
        {"IFMarkInt", [](const std::string&) { return kIrrelevant; }},
        {"OFMarkInt", [](const std::string&) { return kIrrelevant; }},
    };
    static const char* const kDeclarations[] = {"InitiatorName", "InitiatorAlias", "TargetName", "SessionType",
                                                "AuthMethod"};
    for (const auto& [key, value] : offered) {
        if (std::find(std::begin(kDeclarations), std::end(kDeclarations), key) != std::end(kDeclarations)) continue;
        auto rule = rules.find(key);
        std::string result = rule == rules.end() ? kNotUnderstood : rule->second(value);
        if (key == "MaxRecvDataSegmentLength") {
            if (result.empty()) answer.emplace_back(key, std::to_string(offer::kMaxRecvDataSegmentLength));
            continue;
        }
        answer.emplace_back(key, result);
    }
}

// ---- full feature phase -----------------------------------------------------------------------

void Connection::scsiCommand(const Pdu& pdu, std::string& out) {
    if (!acceptCmdSn(pdu)) return;
    const uint32_t itt = pdu.taskTag();
    const uint32_t expected = pdu.get32(at::kExpectedLength);
    const uint64_t lun = pdu.get64(at::kLun);
    const uint8_t* cdb = pdu.bhs.data() + at::kCdb;
    const bool writes = pdu.flags() & kWriteBit;
    if (!writes || expected == 0 || pdu.data.size() >= expected || expected > kMaxTransferBytes || writes_.count(itt)) {
        // Everything is here, or nothing more will be asked for (the command then fails on
        // what it has).
        complete(itt, cdb, lun, expected, pdu.data.substr(0, writes ? expected : 0), out,
                 (pdu.flags() & kReadBit) != 0);
        return;
    }
    WriteTask& task = writes_[itt];
    std::copy_n(cdb, 16, task.cdb);
    task.lun = lun;
    task.expectedLength = expected;
    task.transferTag = nextTransferTag_++;
    if (nextTransferTag_ == kReservedTag) nextTransferTag_ = 1;
    task.data = immediateData_ ? pdu.data : std::string();
    solicit(itt, task, out);
}

void Connection::solicit(uint32_t itt, WriteTask& task, std::string& out) {
    const uint32_t offset = static_cast<uint32_t>(task.data.size());
    const uint32_t length = std::min(maxBurst_, task.expectedLength - offset);
    Pdu r2t = reply(op::kR2t, itt, false);
    r2t.set64(at::kLun, task.lun);
    r2t.set32(at::kTransferTag, task.transferTag);
    r2t.set32(at::kDataSn, task.r2tSn++);
    r2t.set32(at::kBufferOffset, offset);
    r2t.set32(at::kResidual, length);
    task.burstEnd = offset + length;
    task.dataSn = 0;
    out += r2t.encode();
}

bool Connection::dataOut(const Pdu& pdu, std::string& out) {
    auto it = writes_.find(pdu.taskTag());
    if (it == writes_.end() || pdu.get32(at::kTransferTag) != it->second.transferTag) {
        reject(pdu, kRejectInvalidField, out);
        return true;
    }
    WriteTask& task = it->second;
    if (pdu.get32(at::kDataSn) != task.dataSn++ || pdu.get32(at::kBufferOffset) != task.data.size() ||
        pdu.data.size() > task.burstEnd - task.data.size()) {
        error_ = "a Data-Out out of its sequence";
        return false;
    }
    task.data += pdu.data;
    if (task.data.size() == task.expectedLength) {
        WriteTask done = std::move(task);
        writes_.erase(it);
        complete(pdu.taskTag(), done.cdb, done.lun, done.expectedLength, done.data, out, false);
    } else if (task.data.size() == task.burstEnd) {
        solicit(pdu.taskTag(), task, out);
    }
    return true;
}

void Connection::complete(uint32_t itt, const uint8_t* cdb, uint64_t lun, uint32_t expected, const std::string& data,
                          std::string& out, bool wantsData) {
    LogicalUnit* unit = unitAt(lun);
    ScsiOutcome outcome = execute(unit, cdb, data);
    // What the command moves, against what the initiator expected: the residual.
    const uint64_t moved = dataOutLength(cdb, unit ? unit->blockSize() : 0) + outcome.dataIn.size();
    const uint8_t residualFlag = moved < expected ? kUnderflow : moved > expected ? kOverflow : 0;
    const uint32_t residual =
        static_cast<uint32_t>(moved < expected ? expected - moved : std::min<uint64_t>(moved - expected, 0xffffffffu));
    const size_t toSend =
        wantsData && outcome.status == scsi::kGood ? std::min<size_t>(outcome.dataIn.size(), expected) : 0;

    uint32_t dataSn = 0;
    for (size_t offset = 0; offset < toSend;) {
        const size_t length = std::min<size_t>(sendSegment_, toSend - offset);
        const bool last = offset + length == toSend;
        // A sequence ends at every MaxBurstLength boundary and at the end.
        const bool burstEnd = last || (offset + length) % maxBurst_ == 0;
        Pdu in = reply(op::kDataIn, itt, last);
        in.setByte(at::kFlags, static_cast<uint8_t>((burstEnd ? kFinal : 0) | (last ? kStatusBit | residualFlag : 0)));
        in.setByte(3, last ? outcome.status : 0);
        in.set64(at::kLun, lun);
        in.set32(at::kTransferTag, kReservedTag);
        in.set32(at::kDataSn, dataSn++);
        in.set32(at::kBufferOffset, static_cast<uint32_t>(offset));
        in.set32(at::kResidual, last ? residual : 0);
        in.data.assign(outcome.dataIn, offset, length);
        out += in.encode();
        offset += length;
    }
    if (toSend > 0) return;
    Pdu response = reply(op::kScsiResponse, itt, true);
    response.setByte(at::kFlags, static_cast<uint8_t>(kFinal | residualFlag));
    response.setByte(3, outcome.status);
    response.set32(at::kDataSn, dataSn);
    response.set32(at::kResidual, residual);
    if (!outcome.sense.empty()) {
        const size_t n = outcome.sense.size();
        response.data = std::string{static_cast<char>(n >> 8), static_cast<char>(n & 0xff)} + outcome.sense;
    }
    out += response.encode();
}

void Connection::textRequest(const Pdu& pdu, std::string& out) {
    acceptCmdSn(pdu);
    TextPairs asked, answer;
    if (!parseText(pdu.data, asked)) {
        reject(pdu, kRejectProtocolError, out);
        return;
    }
    for (const auto& [key, value] : asked) {
        if (key != "SendTargets") {
            answer.emplace_back(key, kNotUnderstood);
            continue;
        }
        for (const std::string& t : directory_.targets(portal_)) {
            // "All" lists every target in a discovery session; otherwise the one named, or
            // the session's own.
            const bool listed = discovery_ ? (value == "All" || value == t) : t == target_;
            if (!listed) continue;
            answer.emplace_back("TargetName", t);
            answer.emplace_back("TargetAddress", address_ + "," + std::to_string(kPortalGroupTag));
        }
    }
    Pdu r = reply(op::kTextResponse, pdu.taskTag(), true);
    std::copy_n(pdu.bhs.begin() + at::kLun, 8, r.bhs.begin() + at::kLun);
    r.set32(at::kTransferTag, kReservedTag);
    r.data = encodeText(answer);
    out += r.encode();
}

void Connection::taskRequest(const Pdu& pdu, std::string& out) {
    acceptCmdSn(pdu);
    const uint8_t function = pdu.flags() & 0x7f;
    uint8_t answer = kTmfComplete;
    if (function == kAbortTask) {
        answer = writes_.erase(pdu.get32(at::kTransferTag)) ? kTmfComplete : kTmfNoSuchTask;
    } else if (function == kTaskReassign) {
        answer = kTmfNoReassignment;
    } else if (function > kTaskReassign || function == 0) {
        answer = kTmfNotSupported;
    } else if (function <= kTargetColdReset) {
        writes_.clear();  // every task of this session goes
    }
    Pdu r = reply(op::kTaskResponse, pdu.taskTag(), true);
    r.setByte(2, answer);
    out += r.encode();
}

void Connection::reject(const Pdu& pdu, uint8_t reason, std::string& out) {
    Pdu r = reply(op::kReject, kReservedTag, true);
    r.setByte(2, reason);
    r.data.assign(reinterpret_cast<const char*>(pdu.bhs.data()), kBhsLength);
    out += r.encode();
}

}  // namespace korvansim::iscsi
