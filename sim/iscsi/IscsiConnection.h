// One iSCSI connection of korvan-sim's target, as a state machine over bytes: login with text
// negotiation (no authentication), discovery by SendTargets, the full feature phase with SCSI
// commands (immediate data, then R2Ts for the rest of a write), NOP, task management and
// logout. Every connection is a session of its own (one connection per session, error
// recovery level 0, digests None).
//
// A Connection does no I/O: receive() takes the bytes that arrived and appends the bytes to
// send. Who may log in to what is asked of a TargetDirectory. A Connection belongs to one
// thread; the directory must be safe to call from several.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "IscsiPdu.h"
#include "IscsiScsi.h"

namespace korvansim::iscsi {

// Login status (class << 8 | detail) of the refusals a target gives.
namespace login {
inline constexpr uint16_t kSuccess = 0x0000;
inline constexpr uint16_t kInitiatorError = 0x0200;
inline constexpr uint16_t kAuthenticationFailure = 0x0201;
inline constexpr uint16_t kAuthorizationFailure = 0x0202;
inline constexpr uint16_t kNotFound = 0x0203;
inline constexpr uint16_t kUnsupportedVersion = 0x0205;
inline constexpr uint16_t kMissingParameter = 0x0207;
inline constexpr uint16_t kSessionTypeNotSupported = 0x0209;
inline constexpr uint16_t kTargetError = 0x0300;
}  // namespace login

// What the target knows of its portals, targets and access lists.
class TargetDirectory {
public:
    virtual ~TargetDirectory() = default;
    // The targets a portal offers (SendTargets).
    virtual std::vector<std::string> targets(const std::string& portal) = 0;
    struct Admission {
        uint16_t status = login::kSuccess;
        std::shared_ptr<LogicalUnit> unit;  // LUN 0 of the target when admitted
    };
    // May `initiator` log in to `target` through `portal`?
    virtual Admission admit(const std::string& portal, const std::string& initiator, const std::string& target) = 0;
};

// Values this target offers in negotiation.
namespace offer {
inline constexpr uint32_t kMaxRecvDataSegmentLength = 256u << 10;
inline constexpr uint32_t kMaxBurstLength = 1u << 20;
inline constexpr uint32_t kFirstBurstLength = 256u << 10;
inline constexpr uint32_t kCommandWindow = 64;
}  // namespace offer

class Connection {
public:
    // `portal` names the storage proxy the connection came in on; `address` is "ip:port" as
    // the initiator reached it (SendTargets answers with it).
    Connection(TargetDirectory& directory, std::string portal, std::string address, uint16_t tsih);

    // Bytes from the initiator in; bytes to send appended to `out`. False: close the connection
    // once `out` is sent (logout, a refused login, a stream that cannot be read).
    bool receive(const void* bytes, size_t length, std::string& out);

    bool loggedIn() const { return stage_ == kFullFeature; }
    const std::string& initiator() const { return initiator_; }
    const std::string& target() const { return target_; }  // empty for a discovery session
    const std::string& error() const { return error_; }    // why the connection ended, if it failed

private:
    static constexpr int kSecurityStage = 0;
    static constexpr int kOperationalStage = 1;
    static constexpr int kFullFeature = 3;

    struct WriteTask {
        uint8_t cdb[16] = {};
        uint64_t lun = 0;
        uint32_t expectedLength = 0;
        uint32_t transferTag = 0;
        uint32_t r2tSn = 0;
        uint32_t burstEnd = 0;  // where the data solicited so far ends
        uint32_t dataSn = 0;    // the next Data-Out of this burst
        std::string data;
    };

    bool handle(const Pdu& pdu, std::string& out);
    bool loginRequest(const Pdu& pdu, std::string& out);
    bool refuseLogin(const Pdu& pdu, uint16_t status, std::string& out);
    void negotiate(const TextPairs& offered, TextPairs& answer);
    void scsiCommand(const Pdu& pdu, std::string& out);
    // False when the data breaks its sequence (the session then ends: no recovery here).
    bool dataOut(const Pdu& pdu, std::string& out);
    void solicit(uint32_t itt, WriteTask& task, std::string& out);
    // Runs a command whose data-out is all here and answers it (Data-In and status, or a
    // response); `wantsData` is the command's read flag.
    void complete(uint32_t itt, const uint8_t* cdb, uint64_t lun, uint32_t expectedLength, const std::string& data,
                  std::string& out, bool wantsData);
    void textRequest(const Pdu& pdu, std::string& out);
    void taskRequest(const Pdu& pdu, std::string& out);
    void reject(const Pdu& pdu, uint8_t reason, std::string& out);
    // False when a command's CmdSN is outside the window (the command is then dropped).
    bool acceptCmdSn(const Pdu& pdu);
    // A target PDU with the sequence numbers filled in; `status` advances StatSN.
    Pdu reply(uint8_t opcode, uint32_t itt, bool status);
    LogicalUnit* unitAt(uint64_t lun) const;

    TargetDirectory& directory_;
    std::string portal_;
    std::string address_;
    uint16_t tsih_;
    PduReader reader_;
    int stage_ = kSecurityStage;
    bool loginStarted_ = false;
    bool discovery_ = false;
    std::string loginText_;  // a login text continued over several PDUs
    std::string initiator_;
    std::string target_;
    std::string error_;
    std::shared_ptr<LogicalUnit> unit_;

    // Negotiated values (the initiator's defaults until it says otherwise).
    uint32_t sendSegment_ = 8192;  // the initiator's MaxRecvDataSegmentLength
    uint32_t maxBurst_ = 262144;
    uint32_t firstBurst_ = 65536;
    bool immediateData_ = true;

    uint32_t statSn_ = 0;
    uint32_t expCmdSn_ = 0;
    uint32_t nextTransferTag_ = 1;
    std::map<uint32_t, WriteTask> writes_;  // by initiator task tag
};

}  // namespace korvansim::iscsi
