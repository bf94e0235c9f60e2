// Disk sizes as korvan-host takes them on its command line, and what the plug-in makes of them:
// a vDisk of the whole GiB below the size asked, with block size 512, 4096 or 65536.
#pragma once

#include <string>

namespace KrvnHost {

// The size in bytes from exactly one of --size-gb and --size-bytes, as typed (empty: not
// given). False with *error naming the option and its value when it is not a whole number, not
// above 0, or more bytes than a size can hold.
bool sizeFromOptions(const std::string& gib, const std::string& bytes, long long* out, std::string* error);

// What the plug-in will make of a size or block size when that differs from what was asked;
// empty when it takes it as it is.
std::string sizeNote(long long bytes);
std::string blockSizeNote(long blockSize);

// "10 GiB", or "1610612736 bytes" when not a whole number of GiB.
std::string sizeText(long long bytes);

}  // namespace KrvnHost
