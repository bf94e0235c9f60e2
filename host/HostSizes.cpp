#include "HostSizes.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "HostTexts.h"

namespace KrvnHost {

namespace {

const int kGiBShift = 30;
const long long kGiB = 1LL << kGiBShift;

bool parseCount(const char* option, const std::string& text, long long most, const char* unit, long long* out,
                std::string* error) {
    const std::string named = std::string(option) + " " + text;
    errno = 0;
    char* end = nullptr;
    long long value = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0') {
        *error = named + " is not a whole number";
        return false;
    }
    if (value < 0 || (value == 0 && errno != ERANGE)) {
        *error = named + " is not a size: give a whole number above 0";
        return false;
    }
    if (errno == ERANGE || value > most) {
        *error = named + " is too large: at most " + std::to_string(most) + " " + unit;
        return false;
    }
    *out = value;
    return true;
}

}  // namespace

bool sizeFromOptions(const std::string& gib, const std::string& bytes, long long* out, std::string* error) {
    if (gib.empty() == bytes.empty()) {
        *error = "give exactly one of --size-gb and --size-bytes";
        return false;
    }
    if (!bytes.empty()) return parseCount("--size-bytes", bytes, LLONG_MAX, "bytes", out, error);
    long long count = 0;
    if (!parseCount("--size-gb", gib, LLONG_MAX >> kGiBShift, "GiB", &count, error)) return false;
    *out = count << kGiBShift;
    return true;
}

std::string sizeNote(long long bytes) {
    if (bytes < kGiB || bytes % kGiB == 0) return "";
    return "the plug-in makes whole GiB: " + sizeText(bytes) + " gives a disk of " + sizeText(bytes / kGiB * kGiB);
}

std::string blockSizeNote(long blockSize) {
    std::string allowed;
    for (long size : kClusterBlockSizes) {
        if (size == blockSize) return "";
        allowed += (allowed.empty() ? "" : ", ") + std::to_string(size);
    }
    return "block size " + std::to_string(blockSize) + " is not one the cluster takes (" + allowed +
           "): the plug-in creates the disk with " + std::to_string(kPluginBlockSizeFallback);
}

std::string sizeText(long long bytes) {
    if (bytes > 0 && bytes % kGiB == 0) return std::to_string(bytes / kGiB) + " GiB";
    return std::to_string(bytes) + " bytes";
}

}  // namespace KrvnHost
