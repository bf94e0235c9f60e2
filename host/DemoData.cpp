#include "DemoData.h"

#include <cstdio>

#include "ZyIscsiSessions.h"

namespace KrvnHost {

DataPattern makePattern(const std::string& name, unsigned char seed, uint32_t blockSize) {
    DataPattern pattern;
    pattern.name = name;
    pattern.bytes.resize(static_cast<size_t>(kDataBlocks) * blockSize);
    for (size_t i = 0; i < pattern.bytes.size(); ++i)
        pattern.bytes[i] = static_cast<char>(seed ^ static_cast<unsigned char>(i * 31 + (i >> 9)));
    pattern.sum = checksum(pattern.bytes);
    return pattern;
}

std::string checksum(const std::string& bytes) {
    uint64_t hash = 14695981039346656037ULL;
    for (unsigned char c : bytes) hash = (hash ^ c) * 1099511628211ULL;
    char text[32];
    std::snprintf(text, sizeof text, "fnv1a:%016llx", static_cast<unsigned long long>(hash));
    return text;
}

bool blockSizeOf(const std::string& device, uint32_t* blockSize, uint64_t* bytes, std::string* error) {
    uint64_t blocks = 0;
    if (!ZyIscsiSessions::capacity(device, blocks, *blockSize, *error)) return false;
    if (bytes) *bytes = blocks * *blockSize;
    return true;
}

bool writePattern(const std::string& device, const DataPattern& pattern, uint32_t blockSize, std::string* error) {
    if (pattern.bytes.size() != static_cast<size_t>(kDataBlocks) * blockSize) {
        *error = "pattern " + pattern.name + " was made for another block size";
        return false;
    }
    return ZyIscsiSessions::writeBlocks(device, kDataFirstBlock, kDataBlocks, pattern.bytes.data(), *error);
}

bool readPatternPlace(const std::string& device, uint32_t blockSize, std::string* bytes, std::string* error) {
    bytes->assign(static_cast<size_t>(kDataBlocks) * blockSize, '\0');
    return ZyIscsiSessions::readBlocks(device, kDataFirstBlock, kDataBlocks, bytes->data(), *error);
}

}  // namespace KrvnHost
