// KrvnNumbers: numbers that come from outside (configuration, the cluster, a device) read and
// bounded in one place. Pure functions, safe from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ZYKorvanCommon {

inline constexpr long long ZY_KRVN_MS_PER_SECOND = 1000;
inline constexpr long long ZY_KRVN_SECONDS_PER_MINUTE = 60;
inline constexpr long long ZY_KRVN_MS_PER_MINUTE = ZY_KRVN_MS_PER_SECOND * ZY_KRVN_SECONDS_PER_MINUTE;

// A configured wait of `units` (seconds, minutes, ...) as milliseconds for the platform sleep:
// 0 for a value of 0 or less (a negative setting must not wait), and never wrapping into a
// short wait for a huge one (at most the largest unsigned int).
unsigned int waitMs(long long units, long long msPerUnit);

// The whole text as a base-10 signed 64-bit number, as the cluster and the devices write SCSI
// serials. False, with `serial` untouched, for an empty text, anything but digits after an
// optional "-", or a number out of range: a device is never tied to a vDisk by a partly read
// serial.
bool parseScsiSerial(std::string_view text, int64_t& serial);

}  // namespace ZYKorvanCommon
