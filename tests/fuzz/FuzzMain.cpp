// One libFuzzer target: the entry named by KRVN_FUZZ_TARGET (set by tests/fuzz/CMakeLists.txt).
// A reader that breaks its own promise aborts, so libFuzzer keeps the input as a crash.
#include <cstdio>
#include <cstdlib>

#include "KrvnFuzzEntries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static krvnfuzz::FuzzWorkspace workspace;
    static const krvnfuzz::FuzzTarget* target = krvnfuzz::findFuzzTarget(KRVN_FUZZ_TARGET);
    if (target == nullptr) {
        std::fprintf(stderr, "no fuzz entry named %s\n", KRVN_FUZZ_TARGET);
        std::abort();
    }
    if (!target->entry(workspace, data, size)) {
        std::fprintf(stderr, "%s: the reader broke its promise on this input\n", target->name);
        std::abort();
    }
    return 0;
}
