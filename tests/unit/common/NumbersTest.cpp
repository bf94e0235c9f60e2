// Numbers from outside (configured waits, SCSI serials) are bounded and read whole, or refused.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>

#include "KrvnNumbers.h"

using namespace ZYKorvanCommon;

namespace {

TEST(Numbers, ConfiguredWaitsNeverGoNegativeOrWrapIntoShortOnes) {
    struct Row {
        long long units, msPerUnit;
        unsigned int ms;
    };
    const Row rows[] = {
        {-5, 1000, 0},
        {0, 1000, 0},
        {10, 1000, 10000},
        {71582, 60000, 4294920000u},
        {4294968, 1000, UINT_MAX},
        {LLONG_MAX, 60000, UINT_MAX},
        {LLONG_MIN, 1000, 0},
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.ms, waitMs(row.units, row.msPerUnit)) << row.units << " x " << row.msPerUnit;
}

TEST(Numbers, ASerialIsTheWholeTextAsASigned64BitNumberOrNothing) {
    const std::pair<const char*, bool> rows[] = {
        {"123", true}, {"-5", true},   {"9223372036854775807", true},  {"", false},     {" 1", false}, {"1 ", false},
        {"+1", false}, {"12a", false}, {"9223372036854775808", false}, {"0x10", false},
    };
    for (const auto& [text, readable] : rows) {
        int64_t serial = 77;
        EXPECT_EQ(readable, parseScsiSerial(text, serial)) << text;
        EXPECT_EQ(readable ? std::stoll(text) : 77, serial) << text;
    }
}

}  // namespace
