#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "FixtureDisks.h"
#include "KrvnCommonUtils.h"
#include "LogCapture.h"
#include "ScopedSettings.h"

using krvntest::LogCapture;
using namespace ZYKorvanCommon;
namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<unsigned char>;

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A standard page with vendor, product and revision at their offsets as given (the caller
// chooses the padding).
Bytes stdPage(const Bytes& vendor, const Bytes& product, const std::string& revision = "0001") {
    Bytes page(ZY_KRVN_SCSI_RESP_LEN, 0);
    std::copy(vendor.begin(), vendor.end(), page.begin() + 8);
    std::copy(product.begin(), product.end(), page.begin() + 16);
    std::copy(revision.begin(), revision.end(), page.begin() + 32);
    return page;
}

Bytes korvanStdPage() { return stdPage(text("_KORVAN_"), text("VIRTUAL-DISK")); }

// Page 0x80; the length byte is the serial's unless given.
Bytes serialPage(const Bytes& serial, int length = -1) {
    Bytes page(ZY_KRVN_SCSI_RESP_LEN, 0);
    page[1] = 0x80;
    page[3] = static_cast<unsigned char>(length < 0 ? serial.size() : length);
    for (size_t i = 0; i < serial.size() && 4 + i < page.size(); ++i) page[4 + i] = serial[i];
    return page;
}

// Page 0x83 with the designator at byte 56.
Bytes idPage(const Bytes& identifier, int length = -1) {
    Bytes page(ZY_KRVN_SCSI_RESP_LEN, 0);
    page[1] = 0x83;
    page[56] = 0x01;
    page[57] = 0x03;
    page[59] = static_cast<unsigned char>(length < 0 ? identifier.size() : length);
    for (size_t i = 0; i < identifier.size() && 60 + i < page.size(); ++i) page[60 + i] = identifier[i];
    return page;
}

// A page whose last byte is the last readable one in memory: any read past it faults, so a
// bound that is missing shows in a plain build, not only under a sanitizer.
class GuardedPage {
public:
    explicit GuardedPage(const Bytes& page) : size_(static_cast<size_t>(sysconf(_SC_PAGESIZE))) {
        base_ = static_cast<unsigned char*>(
            mmap(nullptr, 2 * size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        mprotect(base_ + size_, size_, PROT_NONE);
        std::copy(page.begin(), page.end(), base_ + size_ - page.size());
    }
    ~GuardedPage() { munmap(base_, 2 * size_); }
    const unsigned char* data() const { return base_ + size_ - ZY_KRVN_SCSI_RESP_LEN; }

private:
    size_t size_;
    unsigned char* base_;
};

const Bytes kNineByteId = {0x60, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};

class ScsiTest : public ::testing::Test {
protected:
    ScsiTest() {
        settings.set("Platform", "logFile", "/dev/null");
        settings.set("Platform", "deviceBackend", "fixture");
        settings.set("Platform", "deviceFixtureDir", disks.dir());
    }
    // A device whose answers are the pages given; an empty page stays missing.
    std::string addPages(const std::string& name, const Bytes& p00, const Bytes& p80, const Bytes& p83) {
        const std::pair<const char*, const Bytes*> files[] = {
            {"page00.bin", &p00}, {"page80.bin", &p80}, {"page83.bin", &p83}};
        for (const auto& [file, page] : files)
            if (!page->empty()) write(name, file, *page);
        return "/dev/" + name;
    }
    void write(const std::string& name, const std::string& file, const Bytes& bytes, size_t offset = 0) {
        fs::create_directories(disks.dir() + "/" + name);
        std::fstream out(disks.dir() + "/" + name + "/" + file, std::ios::in | std::ios::out | std::ios::binary);
        if (!out) out.open(disks.dir() + "/" + name + "/" + file, std::ios::out | std::ios::binary);
        out.seekp(static_cast<std::streamoff>(offset));
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    // A fresh context per check, so each error text stands alone.
    struct Run {
        Run() : ctx(nullptr), utils(&ctx) {}
        int inquire(const std::string& device) { return utils.inquireDevice(device, serial, cluster); }
        KrvnCommonCtx ctx;
        KrvnCommonUtils utils;
        std::string serial = "old", cluster = "old";
    };
    krvntest::FixtureDisks disks;
    krvntest::ScopedSettings settings;
};

TEST_F(ScsiTest, KorvanVDiskIsIdentifiedWithItsSerialAndClusterSerial) {
    const std::string dev = disks.add("sdk", "1234", "00123456789ABC");
    Run run;
    LogCapture log;
    ASSERT_EQ(0, run.inquire(dev)) << run.ctx.errorString();
    EXPECT_EQ("1234", run.serial);
    EXPECT_EQ("00123456789ABC", run.cluster);
    EXPECT_EQ(ZY_KRVN_ERR_NONE, run.ctx.errorCode);
    EXPECT_TRUE(log.containsAt(0,
                               "KRVN >>  Standard SCSI inquiry result - < vendor-[_KORVAN_] "
                               "product-[VIRTUAL-DISK] revision-[] >"))
        << log.dump();
}

TEST_F(ScsiTest, StandardFieldsStopAtNulOrWidthAndKeepBlanks) {
    Run run;
    std::string vendor, product, revision;
    // A vendor filling its 8 bytes runs straight into the product: it still reads 8 bytes.
    Bytes page = stdPage(text("_KORVAN_"), text("VIRTUAL-DISK    "), "1.0 ");
    run.utils.getStdDetailsFromSCSIResp(page.data(), vendor, product, revision);
    EXPECT_EQ("_KORVAN_|VIRTUAL-DISK    |1.0 ", vendor + "|" + product + "|" + revision);
    EXPECT_EQ(3, run.utils.checkStdPageInfoForKorvan("/dev/x", vendor, product, revision));

    page = stdPage(text(std::string("AB\0CD", 5)), text("VIRTUAL-DISK"));
    page[36] = 'Z';  // right after the 4-byte revision
    run.utils.getStdDetailsFromSCSIResp(page.data(), vendor, product, revision);
    EXPECT_EQ("AB|VIRTUAL-DISK|0001", vendor + "|" + product + "|" + revision);
}

TEST_F(ScsiTest, SerialPagesAreReadWithinTheirBuffersWhateverTheLengthBytesSay) {
    Run run;
    std::string serial;
    // A length of 255 over 251 serial bytes: only the 63 that fit the work area are taken.
    const std::pair<Bytes, std::string> serials[] = {{serialPage(text(" \t12\r\n34\v\f ")), "1234"},
                                                     {serialPage(text("9876"), 0), ""},
                                                     {serialPage(text(std::string("12\0"
                                                                                  "34",
                                                                                  5))),
                                                      "12"},
                                                     {serialPage(Bytes(251, 'S'), 255), std::string(63, 'S')}};
    for (const auto& [page, expected] : serials) {
        run.utils.getDiskSerialIdFromSCSIResp(GuardedPage(page).data(), serial);
        EXPECT_EQ(expected, serial);
    }
    // A designator length of 200 runs 5 bytes past the answer: it is read only up to its end.
    Bytes longId(195, 0x5A);
    longId[0] = 0x61;
    const std::pair<Bytes, std::string> clusters[] = {{idPage(kNineByteId), "00123456789ABC"},
                                                      {idPage(kNineByteId, 0), ""},
                                                      {idPage({0xAB}), "B"},
                                                      {idPage({0x0F, 0xA0, 0x0b}), "FA00B"},
                                                      {idPage(longId, 200), "15A5A5A5A5A5A5"}};
    for (const auto& [page, expected] : clusters) {
        std::string cluster = "old";
        run.utils.getArrayIdFromSCSIResp(GuardedPage(page).data(), cluster);
        EXPECT_EQ(expected, cluster);
    }
}

TEST_F(ScsiTest, InquiryFailuresReportTheStepCodeAndTextAndLeaveOutputsEmpty) {
    const Bytes k00 = korvanStdPage(), ok80 = serialPage(text("1")), ok83 = idPage(kNineByteId);
    Bytes wrong80 = ok80, std01 = k00;
    wrong80[1] = 0x83;
    std01[1] = 0x01;
    write("notscsi", "not-scsi", {});
    const struct {
        std::string name;
        Bytes p00, p80, p83;
        int code;
        std::string error, logLine;
    } rows[] = {
        {"nosuch",
         {},
         {},
         {},
         2,
         "Failed to get ZyDevice for device-[/dev/nosuch]. Error-[",
         "KRVN  SCSI Inquiry failed-[2:"},
        {"notscsi",
         {},
         {},
         {},
         2,
         "/dev/notscsi is not a SCSI device",
         "KRVN  SCSI Inquiry failed-[2:/dev/notscsi is not a SCSI device]"},
        {"nop80",
         k00,
         {},
         ok83,
         2,
         "Failed to do SCSI Inquiry for device-[/dev/nop80] with error-[",
         "KRVN  SCSI Inquiry failed-[2:Failed to do SCSI Inquiry"},
        {"wrong80", k00, wrong80, ok83, 3,
         "Page code-[83h] returned instead of requested page code-[128] for device-[/dev/wrong80].  Skipping the "
         "device..",
         "KRVN  Page code-[83h] returned instead"},
        {"std01", std01, ok80, ok83, 3,
         "Page code-[01h] returned instead of requested page code-[0] for device-[/dev/std01].  Skipping the "
         "device..",
         "KRVN  Page code-[01h]"},
        {"blank", stdPage(text("_KORVAN_"), text("VIRTUAL-DISK    ")), ok80, ok83, 3,
         "Product id-[VIRTUAL-DISK    ] for device-[/dev/blank] is not matching - expected product id-[VIRTUAL-DISK]",
         "KRVN  Checking for Korvan device failed-[3:Product id-["},
        {"noproduct", stdPage(text("_KORVAN_"), {}), ok80, ok83, 3,
         "Product id is empty for device-[/dev/noproduct] - expected product id-[VIRTUAL-DISK]",
         "KRVN  Checking for Korvan device failed-[3:Product id is empty"},
        {"lower", stdPage(text("_korvan_"), text("VIRTUAL-DISK")), ok80, ok83, 3,
         "Vendor id-[_korvan_] is for device-[/dev/lower] is not matching - expected vendor id-[_KORVAN_]",
         "KRVN  Checking for Korvan device failed-[3:Vendor id-[_korvan_]"},
        {"shortstd",
         {0},
         ok80,
         ok83,
         3,
         "Vendor id is empty for device-[/dev/shortstd] - expected vendor id-[_KORVAN_]",
         "KRVN  Checking for Korvan device failed-[3:Vendor id is empty"},
        {"noserial", k00, serialPage(text("1234"), 0), ok83, 3,
         "vDisk serial number is empty for device-[/dev/noserial]", "KRVN  Invalid SCSI details-[3:vDisk serial"},
        {"spaces", k00, serialPage(text("   \n")), ok83, 3, "vDisk serial number is empty for device-[/dev/spaces]",
         "KRVN  Invalid SCSI details-[3:"},
        {"nocluster", k00, ok80, idPage(kNineByteId, 0), 3,
         "Cluster serial number is empty for device-[/dev/nocluster]", "KRVN  Invalid SCSI details-[3:Cluster"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Run run;
        LogCapture log;
        EXPECT_EQ(row.code, run.inquire(addPages(row.name, row.p00, row.p80, row.p83)));
        EXPECT_EQ(row.code, run.ctx.errorCode);
        EXPECT_EQ(0u, run.ctx.errorString().find(row.error)) << run.ctx.errorString();
        EXPECT_EQ("|", run.serial + "|" + run.cluster);
        EXPECT_TRUE(log.containsAt(ZY_KRVN_LOGLVL_ERROR, row.logLine)) << log.dump();
    }
    Run run;
    run.inquire("/dev/nop80");
    const std::string error = run.ctx.errorString();
    EXPECT_EQ("] EVPD-[1] SCSI page code-[80h]", error.substr(error.rfind("] EVPD-[")));
}

TEST_F(ScsiTest, PageMismatchLogsWithTheCallersFormat) {
    Run run;
    LogCapture log;
    EXPECT_EQ(3, run.utils.refuseMismatchedPage("/dev/sdz", 0x00, 131, "KRVN  SCSI Inquiry failed - [%d:%s]"));
    EXPECT_EQ(log.texts(), std::vector<std::string>{"KRVN  SCSI Inquiry failed - [3:Page code-[00h] returned instead "
                                                    "of requested page code-[131] for device-[/dev/sdz].  Skipping "
                                                    "the device..]"});
}

TEST_F(ScsiTest, CapturedTargetsAreJudgedByTheirPadding) {
    for (const char* name : {"blank", "nulpadded"})
        fs::copy(std::string(KRVN_FIXTURE_DIR) + "/scsi/tgt-korvan-blank-padded", disks.dir() + "/" + name);
    fs::copy(std::string(KRVN_FIXTURE_DIR) + "/scsi/tgt-default", disks.dir() + "/other");
    write("nulpadded", "page00.bin", Bytes(4, 0), 28);  // the same target with NUL padding

    Run refused, other, accepted;
    EXPECT_EQ(3, refused.inquire("/dev/blank"));
    EXPECT_EQ(
        "Product id-[VIRTUAL-DISK    ] for device-[/dev/blank] is not matching - expected product "
        "id-[VIRTUAL-DISK]",
        refused.ctx.errorString());
    EXPECT_EQ(3, other.inquire("/dev/other"));
    EXPECT_EQ(0u, other.ctx.errorString().find("Vendor id-[IET     ] is for device-[/dev/other]"));
    ASSERT_EQ(0, accepted.inquire("/dev/nulpadded")) << accepted.ctx.errorString();
    EXPECT_EQ("1234567890123|001A2B3C4D5E6F", accepted.serial + "|" + accepted.cluster);
}

TEST_F(ScsiTest, HexDumpIsWrittenOnlyFromLevelSeven) {
    const unsigned char bytes[] = {0x41, 0x00, 0x7F, 0x20, 0xFF};
    for (int level : {8, 6}) {
        settings.set("Platform", "debugLevel", std::to_string(level));
        Run run;
        LogCapture log;
        run.utils.dumpHexBuf(bytes, sizeof(bytes));
        const std::vector<std::string> expected = {"KRVN  SCSI inquiry dump << [41 00 7F 20 FF ] >>",
                                                   "KRVN  SCSI inquiry dump << [A  .  .     .  ] >>"};
        EXPECT_EQ(level >= 7 ? expected : std::vector<std::string>{}, log.texts()) << level;
    }
}

}  // namespace
