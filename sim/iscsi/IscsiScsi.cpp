#include "IscsiScsi.h"

#include <algorithm>
#include <vector>

namespace korvansim::iscsi {

namespace {

using namespace scsi;

// Additional sense codes (ASC, ASCQ).
struct Asc {
    uint8_t code, qualifier;
};
constexpr Asc kInvalidOpcode{0x20, 0x00};
constexpr Asc kInvalidField{0x24, 0x00};
constexpr Asc kLbaOutOfRange{0x21, 0x00};
constexpr Asc kLunNotSupported{0x25, 0x00};
constexpr Asc kSavingNotSupported{0x39, 0x00};
constexpr Asc kReadError{0x11, 0x00};
constexpr Asc kWriteError{0x0c, 0x00};

constexpr uint8_t kModePageCaching = 0x08;
constexpr uint8_t kModePageControl = 0x0a;
constexpr uint8_t kModePageExceptions = 0x1c;
constexpr uint8_t kModeAllPages = 0x3f;
constexpr uint8_t kModeAllSubpages = 0xff;
constexpr uint8_t kPageControlChangeable = 1;
constexpr uint8_t kPageControlSaved = 3;
constexpr uint8_t kDpoFua = 0x10;
constexpr uint8_t kNoDeviceHere = 0x7f;  // peripheral qualifier 3, no device type

uint32_t be(const uint8_t* p, int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) v = v << 8 | p[i];
    return v;
}

uint64_t be64(const uint8_t* p) { return uint64_t{be(p, 4)} << 32 | be(p + 4, 4); }

void putBe(std::string& out, size_t at, uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i, value >>= 8)
        out[at + static_cast<size_t>(i)] = static_cast<char>(value & 0xff);
}

ScsiOutcome check(uint8_t key, Asc asc) {
    ScsiOutcome o;
    o.status = kCheckCondition;
    o.sense = senseData(key, asc.code, asc.qualifier);
    return o;
}

ScsiOutcome illegal(Asc asc) { return check(kIllegalRequest, asc); }

ScsiOutcome data(std::string bytes, uint32_t allocation) {
    ScsiOutcome o;
    if (bytes.size() > allocation) bytes.resize(allocation);
    o.dataIn = std::move(bytes);
    return o;
}

// LBA and transfer length of a READ/WRITE/SYNCHRONIZE CACHE 10 or 16.
struct Extent {
    uint64_t lba;
    uint64_t blocks;
};

Extent extentOf(const uint8_t* cdb) {
    switch (cdb[0]) {
        case kRead10:
        case kWrite10:
        case kSynchronizeCache10:
            return {be(cdb + 2, 4), be(cdb + 7, 2)};
        default:
            return {be64(cdb + 2), be(cdb + 10, 4)};
    }
}

bool inside(const LogicalUnit& unit, const Extent& e) {
    const uint64_t blocks = unit.blocks();
    return e.lba <= blocks && e.blocks <= blocks - e.lba;
}

ScsiOutcome inquiry(LogicalUnit* unit, const uint8_t* cdb) {
    const bool evpd = cdb[1] & 0x01;
    const uint32_t allocation = be(cdb + 3, 2);
    if ((cdb[1] & 0x02) || (!evpd && cdb[2] != 0)) return illegal(kInvalidField);
    if (!unit) {
        if (evpd) return illegal(kInvalidField);
        std::string page(36, '\0');
        page[0] = static_cast<char>(kNoDeviceHere);
        page[3] = 0x02;
        page[4] = 31;
        return data(page, allocation);
    }
    std::string page = unit->inquiry(evpd, cdb[2]);
    if (page.empty()) return illegal(kInvalidField);
    return data(page, allocation);
}

ScsiOutcome reportLuns(const uint8_t* cdb) {
    const uint32_t allocation = be(cdb + 6, 4);
    if (cdb[2] > 2 || allocation < 16) return illegal(kInvalidField);
    std::string list(16, '\0');
    list[3] = 8;  // one LUN, number 0
    return data(list, allocation);
}

ScsiOutcome requestSense(LogicalUnit* unit, const uint8_t* cdb) {
    const bool descriptor = cdb[1] & 0x01;
    if (!unit) return data(senseData(kIllegalRequest, kLunNotSupported.code, kLunNotSupported.qualifier), cdb[4]);
    // Every failure is reported with its command (autosense), so no sense is ever pending.
    if (descriptor) {
        std::string none(8, '\0');
        none[0] = 0x72;
        return data(none, cdb[4]);
    }
    return data(senseData(kNoSense, 0, 0), cdb[4]);
}

ScsiOutcome readCapacity10(LogicalUnit& unit) {
    std::string out(8, '\0');
    putBe(out, 0, std::min<uint64_t>(unit.blocks() - 1, 0xffffffffu), 4);
    putBe(out, 4, unit.blockSize(), 4);
    return data(out, 8);
}

ScsiOutcome readCapacity16(LogicalUnit& unit, const uint8_t* cdb) {
    if ((cdb[1] & 0x1f) != kReadCapacity16Action) return illegal(kInvalidField);
    std::string out(32, '\0');
    putBe(out, 0, unit.blocks() - 1, 8);
    putBe(out, 8, unit.blockSize(), 4);
    return data(out, be(cdb + 10, 4));
}

ScsiOutcome read(LogicalUnit& unit, const uint8_t* cdb) {
    if (cdb[1] & 0xe0) return illegal(kInvalidField);  // no protection information here
    const Extent e = extentOf(cdb);
    if (e.blocks * unit.blockSize() > kMaxTransferBytes) return illegal(kInvalidField);
    if (!inside(unit, e)) return illegal(kLbaOutOfRange);
    ScsiOutcome o;
    o.dataIn.resize(e.blocks * unit.blockSize());
    if (!unit.read(e.lba * unit.blockSize(), o.dataIn.data(), o.dataIn.size())) return check(kMediumError, kReadError);
    return o;
}

ScsiOutcome write(LogicalUnit& unit, const uint8_t* cdb, const std::string& dataOut) {
    if (cdb[1] & 0xe0) return illegal(kInvalidField);
    const Extent e = extentOf(cdb);
    if (e.blocks * unit.blockSize() > kMaxTransferBytes) return illegal(kInvalidField);
    if (!inside(unit, e)) return illegal(kLbaOutOfRange);
    // The initiator's expected length rules over the CDB's: no more than both is written (the
    // difference goes back as a residual).
    const size_t length = std::min<uint64_t>(dataOut.size(), e.blocks * unit.blockSize());
    if (!unit.write(e.lba * unit.blockSize(), dataOut.data(), length)) return check(kMediumError, kWriteError);
    return {};
}

// Mode pages in ascending page code; `changeable` leaves every parameter zero (nothing here
// can be changed).
std::string modePage(uint8_t code, bool changeable) {
    std::string page;
    switch (code) {
        case kModePageCaching:
            page.assign(20, '\0');
            break;
        case kModePageControl:
            page.assign(12, '\0');
            if (!changeable) {
                page[8] = static_cast<char>(0xff);  // busy time-out: unlimited
                page[9] = static_cast<char>(0xff);
            }
            break;
        case kModePageExceptions:
            page.assign(12, '\0');
            break;
        default:
            return {};
    }
    page[0] = static_cast<char>(code);
    page[1] = static_cast<char>(page.size() - 2);
    return page;
}

ScsiOutcome modeSense(LogicalUnit& unit, const uint8_t* cdb) {
    const bool ten = cdb[0] == kModeSense10;
    const bool noDescriptor = cdb[1] & 0x08;
    const bool longLba = ten && (cdb[1] & 0x10);
    const uint8_t control = cdb[2] >> 6, code = cdb[2] & 0x3f, subpage = cdb[3];
    const uint32_t allocation = ten ? be(cdb + 7, 2) : cdb[4];
    if (control == kPageControlSaved) return illegal(kSavingNotSupported);
    std::string pages;
    if (code == kModeAllPages && (subpage == 0 || subpage == kModeAllSubpages)) {
        for (uint8_t c : {kModePageCaching, kModePageControl, kModePageExceptions})
            pages += modePage(c, control == kPageControlChangeable);
    } else if (subpage == 0) {
        pages = modePage(code, control == kPageControlChangeable);
    }
    if (pages.empty()) return illegal(kInvalidField);

    std::string descriptor;
    if (!noDescriptor && longLba) {
        descriptor.assign(16, '\0');
        putBe(descriptor, 0, unit.blocks(), 8);
        putBe(descriptor, 12, unit.blockSize(), 4);
    } else if (!noDescriptor) {
        descriptor.assign(8, '\0');
        putBe(descriptor, 0, std::min<uint64_t>(unit.blocks(), 0xffffffffu), 4);
        putBe(descriptor, 5, unit.blockSize(), 3);
    }
    std::string header(ten ? 8 : 4, '\0');
    const size_t total = header.size() + descriptor.size() + pages.size();
    if (ten) {
        putBe(header, 0, total - 2, 2);
        header[3] = static_cast<char>(kDpoFua);
        header[4] = longLba && !noDescriptor ? 0x01 : 0x00;
        putBe(header, 6, descriptor.size(), 2);
    } else {
        header[0] = static_cast<char>(total - 1);
        header[2] = static_cast<char>(kDpoFua);
        header[3] = static_cast<char>(descriptor.size());
    }
    return data(header + descriptor + pages, allocation);
}

}  // namespace

std::string senseData(uint8_t key, uint8_t asc, uint8_t ascq) {
    std::string sense(18, '\0');
    sense[0] = 0x70;  // current error, fixed format
    sense[2] = static_cast<char>(key & 0x0f);
    sense[7] = 10;  // additional length
    sense[12] = static_cast<char>(asc);
    sense[13] = static_cast<char>(ascq);
    return sense;
}

uint64_t dataOutLength(const uint8_t* cdb, uint32_t blockSize) {
    if (cdb[0] != kWrite10 && cdb[0] != kWrite16) return 0;
    return extentOf(cdb).blocks * blockSize;
}

ScsiOutcome execute(LogicalUnit* unit, const uint8_t* cdb, const std::string& dataOut) {
    switch (cdb[0]) {
        case kInquiry:
            return inquiry(unit, cdb);
        case kReportLuns:
            return reportLuns(cdb);
        case kRequestSense:
            return requestSense(unit, cdb);
        default:
            break;
    }
    if (!unit) return illegal(kLunNotSupported);
    switch (cdb[0]) {
        case kTestUnitReady:
            return {};
        case kReadCapacity10:
            return readCapacity10(*unit);
        case kServiceActionIn16:
            return readCapacity16(*unit, cdb);
        case kRead10:
        case kRead16:
            return read(*unit, cdb);
        case kWrite10:
        case kWrite16:
            return write(*unit, cdb, dataOut);
        case kSynchronizeCache10:
        case kSynchronizeCache16:
            // Writes go straight to the image; there is no cache to flush.
            return inside(*unit, extentOf(cdb)) ? ScsiOutcome{} : illegal(kLbaOutOfRange);
        case kModeSense6:
        case kModeSense10:
            return modeSense(*unit, cdb);
        default:
            return illegal(kInvalidOpcode);
    }
}

}  // namespace korvansim::iscsi
