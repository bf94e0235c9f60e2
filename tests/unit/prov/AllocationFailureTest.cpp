// A host item id that repeats replaces its disk object; when making the replacement fails for
// want of memory, the call still ends as an ordinary failure and nothing is freed twice.
//
// This program's own allocation functions can refuse one chosen allocation. A sanitizer
// build brings allocation functions of its own, so there the test does not run.
#include <gtest/gtest.h>

#if !defined(__SANITIZE_ADDRESS__)
#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<size_t> g_refuseSize{0};  // 0: refuse nothing
std::atomic<int> g_refuseAfter{0};    // allocations of that size still granted first

void* allocate(std::size_t size) {
    if (size != 0 && size == g_refuseSize.load() && g_refuseAfter-- == 0) {
        g_refuseSize = 0;
        throw std::bad_alloc();
    }
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
#endif

#include "KrvnDiskObject.h"
#include "KrvnProvEntry.h"
#include "ProvTestCluster.h"

namespace provtest {
namespace {

TEST(ProvAllocation, AReplacementObjectThatCannotBeMadeLeavesNothingToFreeTwice) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer owns the allocation functions";
#else
    krvntest::ScopedSettings settings;
    settings.set("Platform", "logFile", "/dev/null");
    FakeLunBatch batch;
    batch.add().lunId = 7;
    batch.add().lunId = 7;  // the same id: its object replaces the first one's
    g_refuseAfter = 1;
    g_refuseSize = sizeof(ZYProvKorvan::KrvnDiskObject);
    EXPECT_EQ(1, provEntry(ZY_KRVN_PROV_OP_CREATE, batch.data(), batch.count(), &batch.os));
    g_refuseSize = 0;
    EXPECT_EQ("Internal error-[std::bad_alloc]", batch[0].lastErrorMessage);
    EXPECT_EQ((std::vector<short>{kLunCreateFailed, kLunCreateFailed}), batch.statuses());
#endif
}

}  // namespace
}  // namespace provtest
