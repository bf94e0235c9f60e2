// The demo's data checks: a known pattern written to a device through its iSCSI session, and
// what a device reads back, each told by a short checksum so that a person can follow the data
// from the source through the snapshot to the mapped device and back after a revert.
//
// The devices are this process's libiscsi sessions (ZyIscsiSessions); the helpers only read
// and write, they log nothing in or out.
#pragma once

#include <cstdint>
#include <string>

namespace KrvnHost {

struct DataPattern {
    std::string name;   // "A", "B"
    std::string bytes;  // kDataBlocks blocks of the device's block size
    std::string sum;    // checksum(bytes)
};

// Where the demo writes: an arbitrary run of blocks away from the start of the disk.
inline constexpr uint64_t kDataFirstBlock = 2048;
inline constexpr uint32_t kDataBlocks = 64;

// A pattern no two names share: every byte depends on the seed and its offset.
DataPattern makePattern(const std::string& name, unsigned char seed, uint32_t blockSize);
// "fnv1a:" and 16 hex digits.
std::string checksum(const std::string& bytes);

bool blockSizeOf(const std::string& device, uint32_t* blockSize, uint64_t* bytes, std::string* error);
bool writePattern(const std::string& device, const DataPattern& pattern, uint32_t blockSize, std::string* error);
// The bytes at the pattern's place on the device.
bool readPatternPlace(const std::string& device, uint32_t blockSize, std::string* bytes, std::string* error);

}  // namespace KrvnHost
