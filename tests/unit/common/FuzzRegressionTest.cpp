// Every stored fuzz input (seeds and any crash the fuzzer once found) replayed through the
// same reader entries the fuzz targets run, so the normal suite keeps what fuzzing learnt.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "KrvnFuzzEntries.h"

namespace {

std::vector<uint8_t> readAll(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(FuzzRegression, EveryStoredInputKeepsEachReadersPromises) {
    krvnfuzz::FuzzWorkspace workspace;
    for (const krvnfuzz::FuzzTarget& target : krvnfuzz::fuzzTargets()) {
        const std::filesystem::path dir = std::filesystem::path(KRVN_FUZZ_CORPUS_DIR) / target.name;
        size_t replayed = 0;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
            if (!entry.is_regular_file()) continue;
            const std::vector<uint8_t> bytes = readAll(entry.path());
            EXPECT_TRUE(target.entry(workspace, bytes.data(), bytes.size())) << target.name << ": " << entry.path();
            ++replayed;
        }
        EXPECT_GT(replayed, 0u) << "no stored inputs for " << target.name << " in " << dir;
    }
}

}  // namespace
