// The readers of outside input, each behind one entry that takes raw bytes.
//
// The same entries run under libFuzzer (tests/fuzz, clang) and in the normal suite, where
// every stored corpus file and crash reproducer is replayed through them (gcc). An entry
// returns false when the reader broke one of its own promises on that input (an answer it
// accepted that it should have refused, an output outside its bounds, a failure without a
// sentence); memory faults are left to the sanitizers. Entries are single-threaded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ScopedSettings.h"

namespace korvansim {
class Simulator;
}
namespace ZYKorvanCommon {
class KrvnCommonUtils;
}

namespace krvnfuzz {

// What every entry shares for the life of the process (or of one test): a settings file
// (fixture devices, log to /dev/null at the highest level so the dumps run too), a device
// folder the SCSI entry writes its pages into, and one simulator.
class FuzzWorkspace {
public:
    FuzzWorkspace();
    ~FuzzWorkspace();
    FuzzWorkspace(const FuzzWorkspace&) = delete;
    FuzzWorkspace& operator=(const FuzzWorkspace&) = delete;

    krvntest::ScopedSettings& settings() { return settings_; }
    // Writes the three INQUIRY pages of the fixture device and returns its path (/dev/...).
    std::string writeDevice(const unsigned char* page00, const unsigned char* page80, const unsigned char* page83);
    korvansim::Simulator& simulator();

private:
    krvntest::ScopedSettings settings_;
    std::string root_;
    std::unique_ptr<korvansim::Simulator> sim_;
};

using FuzzEntry = bool (*)(FuzzWorkspace& workspace, const uint8_t* data, size_t size);

struct FuzzTarget {
    const char* name;  // also the corpus folder under tests/fuzz/corpus/
    FuzzEntry entry;
};

const std::vector<FuzzTarget>& fuzzTargets();
const FuzzTarget* findFuzzTarget(const std::string& name);

// The reading half of every cluster request but Login, each over the answer in the context's
// restResponse: what the cluster_responses entry runs, and unit_rest's malformed answers.
struct ClusterReader {
    const char* type;          // the request type the answer should carry
    bool refusalMayReachGoal;  // a particular refusal is the goal reached
    unsigned int silentCode;   // a dedicated code handed back without a sentence (0: none)
    std::function<unsigned int(ZYKorvanCommon::KrvnCommonUtils&)> run;
};
const std::vector<ClusterReader>& clusterReaders();

// In the simulator entry, this text in the input stands for a live session id.
constexpr const char* kSessionPlaceholder = "@SID@";

}  // namespace krvnfuzz
