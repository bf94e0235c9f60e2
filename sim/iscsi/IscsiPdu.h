// iSCSI PDUs as korvan-sim's target reads and writes them (RFC 7143): the 48-byte basic header
// segment, additional header segments and the data segment padded to four bytes; no digests.
//
// Pdu is plain data with big-endian field accessors by offset; PduReader cuts a byte stream
// into PDUs; the text helpers read and write the key=value lists of login and text PDUs.
// Nothing here keeps state between calls or allocates more than a PDU's declared size, which
// the reader bounds. Not thread-safe per object; no shared state.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace korvansim::iscsi {

inline constexpr size_t kBhsLength = 48;
inline constexpr uint32_t kReservedTag = 0xffffffffu;

namespace op {
// From the initiator.
inline constexpr uint8_t kNopOut = 0x00;
inline constexpr uint8_t kScsiCommand = 0x01;
inline constexpr uint8_t kTaskRequest = 0x02;
inline constexpr uint8_t kLoginRequest = 0x03;
inline constexpr uint8_t kTextRequest = 0x04;
inline constexpr uint8_t kDataOut = 0x05;
inline constexpr uint8_t kLogoutRequest = 0x06;
inline constexpr uint8_t kSnack = 0x10;
// From the target.
inline constexpr uint8_t kNopIn = 0x20;
inline constexpr uint8_t kScsiResponse = 0x21;
inline constexpr uint8_t kTaskResponse = 0x22;
inline constexpr uint8_t kLoginResponse = 0x23;
inline constexpr uint8_t kTextResponse = 0x24;
inline constexpr uint8_t kDataIn = 0x25;
inline constexpr uint8_t kLogoutResponse = 0x26;
inline constexpr uint8_t kR2t = 0x31;
inline constexpr uint8_t kReject = 0x3f;
}  // namespace op

// Offsets of header fields the target reads or writes (their meaning depends on the opcode).
namespace at {
inline constexpr size_t kFlags = 1;
inline constexpr size_t kTotalAhsLength = 4;
inline constexpr size_t kDataSegmentLength = 5;  // 3 bytes
inline constexpr size_t kLun = 8;                // 8 bytes; ISID and TSIH in login PDUs
inline constexpr size_t kTsih = 14;
inline constexpr size_t kTaskTag = 16;
inline constexpr size_t kTransferTag = 20;     // CID in login and logout requests
inline constexpr size_t kExpectedLength = 20;  // SCSI command
inline constexpr size_t kCmdSn = 24;           // StatSN in target PDUs
inline constexpr size_t kExpStatSn = 28;       // ExpCmdSN in target PDUs
inline constexpr size_t kMaxCmdSn = 32;
inline constexpr size_t kCdb = 32;     // 16 bytes
inline constexpr size_t kDataSn = 36;  // R2TSN, ExpDataSN, login status class/detail
inline constexpr size_t kBufferOffset = 40;
inline constexpr size_t kResidual = 44;  // desired length in an R2T
}  // namespace at

struct Pdu {
    std::array<uint8_t, kBhsLength> bhs{};
    std::string ahs;
    std::string data;

    uint8_t opcode() const { return bhs[0] & 0x3f; }
    bool immediate() const { return (bhs[0] & 0x40) != 0; }
    bool finalBit() const { return (bhs[at::kFlags] & 0x80) != 0; }
    uint8_t flags() const { return bhs[at::kFlags]; }
    uint8_t byte(size_t offset) const { return bhs[offset]; }
    uint16_t get16(size_t offset) const;
    uint32_t get32(size_t offset) const;
    uint64_t get64(size_t offset) const;
    uint32_t taskTag() const { return get32(at::kTaskTag); }

    void setOpcode(uint8_t code) { bhs[0] = code; }
    void setByte(size_t offset, uint8_t value) { bhs[offset] = value; }
    void set16(size_t offset, uint16_t value);
    void set32(size_t offset, uint32_t value);
    void set64(size_t offset, uint64_t value);

    // The PDU on the wire: header, AHS, data, each padded to four bytes; lengths are written
    // into the header from `ahs` and `data`.
    std::string encode() const;
};

// A stream of bytes in, whole PDUs out. A header that declares more data than `maxData`
// makes the stream unreadable from there on (error() says why).
class PduReader {
public:
    explicit PduReader(size_t maxData) : maxData_(maxData) {}
    void feed(const void* bytes, size_t length);
    // The next whole PDU, if one has arrived; false on an error too.
    bool next(Pdu& out);
    const std::string& error() const { return error_; }
    void setMaxData(size_t maxData) { maxData_ = maxData; }

private:
    std::string buffer_;
    size_t start_ = 0;
    size_t maxData_;
    std::string error_;
};

// Key=value texts of login and text PDUs, NUL-separated, in order.
using TextPairs = std::vector<std::pair<std::string, std::string>>;
// False when an entry has no '=' or an empty key (the bytes are then not a valid text).
bool parseText(const std::string& data, TextPairs& out);
std::string encodeText(const TextPairs& pairs);

}  // namespace korvansim::iscsi
