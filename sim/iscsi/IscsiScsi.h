// The SCSI commands korvan-sim's target answers, over a logical unit that holds the blocks:
// INQUIRY (the unit's own pages), TEST UNIT READY, REPORT LUNS, READ CAPACITY 10 and 16,
// READ and WRITE 10 and 16, SYNCHRONIZE CACHE 10 and 16, MODE SENSE 6 and 10 and REQUEST SENSE.
// Anything else is CHECK CONDITION, ILLEGAL REQUEST, INVALID COMMAND OPERATION CODE.
//
// execute() is a pure function of the CDB, the data-out bytes and the unit; the unit decides
// its own thread safety (the simulator's reads and writes may run on several sessions at once).
#pragma once

#include <cstdint>
#include <string>

namespace korvansim::iscsi {

class LogicalUnit {
public:
    virtual ~LogicalUnit() = default;
    virtual uint32_t blockSize() const = 0;
    virtual uint64_t blocks() const = 0;  // may grow while the unit is in use
    // Whole transfers inside the unit; false on an I/O failure.
    virtual bool read(uint64_t offset, void* buffer, size_t length) = 0;
    virtual bool write(uint64_t offset, const void* buffer, size_t length) = 0;
    // The meaningful bytes of an INQUIRY page (the standard one when !evpd); empty when the
    // unit has no such page.
    virtual std::string inquiry(bool evpd, uint8_t page) const = 0;
};

namespace scsi {
inline constexpr uint8_t kGood = 0x00;
inline constexpr uint8_t kCheckCondition = 0x02;

inline constexpr uint8_t kNoSense = 0x00;
inline constexpr uint8_t kMediumError = 0x03;
inline constexpr uint8_t kIllegalRequest = 0x05;

inline constexpr uint8_t kTestUnitReady = 0x00;
inline constexpr uint8_t kRequestSense = 0x03;
inline constexpr uint8_t kInquiry = 0x12;
inline constexpr uint8_t kModeSense6 = 0x1a;
inline constexpr uint8_t kReadCapacity10 = 0x25;
inline constexpr uint8_t kRead10 = 0x28;
inline constexpr uint8_t kWrite10 = 0x2a;
inline constexpr uint8_t kSynchronizeCache10 = 0x35;
inline constexpr uint8_t kModeSense10 = 0x5a;
inline constexpr uint8_t kRead16 = 0x88;
inline constexpr uint8_t kWrite16 = 0x8a;
inline constexpr uint8_t kSynchronizeCache16 = 0x91;
inline constexpr uint8_t kServiceActionIn16 = 0x9e;
inline constexpr uint8_t kReadCapacity16Action = 0x10;
inline constexpr uint8_t kReportLuns = 0xa0;
}  // namespace scsi

// Beyond this a single READ or WRITE is refused rather than buffered.
inline constexpr uint64_t kMaxTransferBytes = 32u << 20;

struct ScsiOutcome {
    uint8_t status = scsi::kGood;
    std::string sense;   // fixed-format sense data with CHECK CONDITION
    std::string dataIn;  // what the command returns, already cut to its allocation length
};

// The data-out bytes the CDB asks for (WRITE 10/16), 0 for commands that take none.
uint64_t dataOutLength(const uint8_t* cdb, uint32_t blockSize);

// Runs one command. `unit` is null for a LUN that has no unit: INQUIRY then answers "no
// device here", REPORT LUNS and REQUEST SENSE work, anything else is refused.
// `dataOut` holds what the initiator sent; a WRITE writes no more of it than its CDB asks for.
ScsiOutcome execute(LogicalUnit* unit, const uint8_t* cdb, const std::string& dataOut);

// Fixed-format sense data.
std::string senseData(uint8_t key, uint8_t asc, uint8_t ascq);

}  // namespace korvansim::iscsi
