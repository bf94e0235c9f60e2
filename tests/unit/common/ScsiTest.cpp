#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "CommonTestLog.h"
#include "KrvnCommonUtils.h"
#include "ScopedSettings.h"

using krvntest::CommonLogCapture;
using krvntest::ScopedSettings;
using namespace ZYKorvanCommon;
namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<unsigned char>;

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A standard page: vendor, product and revision written at their offsets as given (the
// caller chooses the padding).
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

const Bytes kNineByteId = {0x60, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};

// Devices of the fixture backend in a temporary folder, removed at the end.
class FixtureDevices {
public:
    FixtureDevices() {
        char tmpl[] = "/tmp/krvn-scsi-XXXXXX";
        root_ = mkdtemp(tmpl);
    }
    ~FixtureDevices() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    // Writes the page files that are given (an empty vector leaves that page missing).
    std::string add(const std::string& name, const Bytes& p00, const Bytes& p80, const Bytes& p83) {
        fs::create_directories(root_ + "/" + name);
        write(name, "page00.bin", p00);
        write(name, "page80.bin", p80);
        write(name, "page83.bin", p83);
        return "/dev/" + name;
    }
    std::string addKorvan(const std::string& name) {
        return add(name, korvanStdPage(), serialPage(text("1234")), idPage(kNineByteId));
    }
    std::string addNotScsi(const std::string& name) {
        fs::create_directories(root_ + "/" + name);
        std::ofstream(root_ + "/" + name + "/not-scsi").put('\n');
        return "/dev/" + name;
    }
    // A copy of one of the captured devices, so a test may change it.
    std::string addCapture(const std::string& capture, const std::string& name) {
        fs::copy(std::string(KRVN_FIXTURE_DIR) + "/scsi/" + capture, root_ + "/" + name,
                 fs::copy_options::recursive);
        return "/dev/" + name;
    }
    void patch(const std::string& name, const std::string& file, size_t offset, const Bytes& bytes) {
        std::fstream f(root_ + "/" + name + "/" + file, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(static_cast<std::streamoff>(offset));
        f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    void writeEmpty(const std::string& name, const std::string& file) { write(name, file, Bytes(), true); }
    const std::string& root() const { return root_; }

private:
    void write(const std::string& name, const std::string& file, const Bytes& bytes, bool evenEmpty = false) {
        if (bytes.empty() && !evenEmpty) return;
        std::ofstream out(root_ + "/" + name + "/" + file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    std::string root_;
};

class ScsiTest : public ::testing::Test {
protected:
    ScsiTest() {
        settings.set("Platform", "logFile", "/dev/null");
        settings.set("Platform", "deviceBackend", "fixture");
        settings.set("Platform", "deviceFixtureDir", devices.root());
    }
    // A fresh context per check, so each error text stands alone.
    struct Run {
        Run() : ctx(nullptr), utils(&ctx) {}
        KrvnCommonCtx ctx;
        KrvnCommonUtils utils;
    };
    FixtureDevices devices;
    ScopedSettings settings;
};

TEST_F(ScsiTest, KorvanVDiskIsIdentifiedWithItsSerialAndClusterSerial) {
    std::string dev = devices.add("sdk", korvanStdPage(), serialPage(text(" 12 34\n")), idPage(kNineByteId));
    Run run;
    CommonLogCapture log;
    std::string serial = "old", cluster = "old";
    ASSERT_EQ(0, run.utils.inquireDevice(dev, serial, cluster));
    EXPECT_EQ("1234", serial);
    EXPECT_EQ("00123456789ABC", cluster);
    EXPECT_EQ(ZY_KRVN_ERR_NONE, run.ctx.errorCode);
    EXPECT_TRUE(log.has(0, "KRVN  Inquiring device-[/dev/sdk]"));
    EXPECT_TRUE(log.has(0, "KRVN  Performing VPD SCSI Inquiry of device-[/dev/sdk] - EVPD-[1], SCSI page code-[83h]"));
    EXPECT_TRUE(log.has(0, "KRVN  Performing standard SCSI Inquiry of device-[/dev/sdk] - EVPD-[0], SCSI page code-[0h]"));
    EXPECT_TRUE(log.has(0, "KRVN >>  Standard SCSI inquiry result - < vendor-[_KORVAN_] product-[VIRTUAL-DISK] "
                           "revision-[0001] >"));
    EXPECT_TRUE(log.has(0, "KRVN >>  STD inquiry on device-[/dev/sdk] done - It is a Korvan device..."));
    EXPECT_TRUE(log.has(0, "KRVN >>  Page 80h SCSI inquiry result - < vDisk serial number-[1234] >"));
    EXPECT_TRUE(log.has(0, "KRVN >>  Page 83h SCSI inquiry result - < cluster serial number-[00123456789ABC] >"));
    EXPECT_EQ(3u, log.countAt(ZY_KRVN_LOGLVL_HEX_DUMP));
    EXPECT_EQ(3u, log.countAt(ZY_KRVN_LOGLVL_HEX_ASCII_DUMP));
}

TEST_F(ScsiTest, StandardFieldsStopAtNulOrWidthAndKeepBlanks) {
    Run run;
    std::string vendor, product, revision;
    // Vendor filling its 8 bytes runs straight into the product: it still reads 8 bytes.
    Bytes page = stdPage(text("_KORVAN_"), text("VIRTUAL-DISK    "), "1.0 ");
    run.utils.getStdDetailsFromSCSIResp(page.data(), vendor, product, revision);
    EXPECT_EQ("_KORVAN_", vendor);
    EXPECT_EQ("VIRTUAL-DISK    ", product);
    EXPECT_EQ("1.0 ", revision);
    EXPECT_EQ(3, run.utils.checkStdPageInfoForKorvan("/dev/x", vendor, product, revision));

    page = stdPage(text(std::string("AB\0CD", 5)), text("VIRTUAL-DISK"));
    page[36] = 'Z';   // right after the 4-byte revision
    run.utils.getStdDetailsFromSCSIResp(page.data(), vendor, product, revision);
    EXPECT_EQ("AB", vendor);
    EXPECT_EQ("VIRTUAL-DISK", product);
    EXPECT_EQ("0001", revision);
}

TEST_F(ScsiTest, SerialPagesAreReadWithinTheirBuffersWhateverTheLengthBytesSay) {
    Run run;
    std::string serial;
    run.utils.getDiskSerialIdFromSCSIResp(serialPage(text(" \t12\r\n34\v\f ")).data(), serial);
    EXPECT_EQ("1234", serial);
    run.utils.getDiskSerialIdFromSCSIResp(serialPage(text("9876"), 0).data(), serial);
    EXPECT_EQ("", serial);
    run.utils.getDiskSerialIdFromSCSIResp(serialPage(text(std::string("12\0" "34", 5))).data(), serial);
    EXPECT_EQ("12", serial);
    // A length of 255 over 251 serial bytes: only the 63 that fit the work area are taken.
    Bytes longSerial(251, 'S');
    run.utils.getDiskSerialIdFromSCSIResp(serialPage(longSerial, 255).data(), serial);
    EXPECT_EQ(std::string(63, 'S'), serial);

    std::string cluster = "old";
    run.utils.getArrayIdFromSCSIResp(idPage(kNineByteId).data(), cluster);
    EXPECT_EQ("00123456789ABC", cluster);
    run.utils.getArrayIdFromSCSIResp(idPage(kNineByteId, 0).data(), cluster);
    EXPECT_EQ("", cluster);
    run.utils.getArrayIdFromSCSIResp(idPage({0xAB}).data(), cluster);
    EXPECT_EQ("B", cluster);
    run.utils.getArrayIdFromSCSIResp(idPage({0x0F, 0xA0, 0x0b}).data(), cluster);
    EXPECT_EQ("FA00B", cluster);
    // A designator length of 200 runs 5 bytes past the answer: the answer, exactly 255 bytes on
    // the heap, is read only up to its end.
    Bytes id(195, 0x5A);
    id[0] = 0x61;
    Bytes page = idPage(id, 200);
    ASSERT_EQ(255u, page.size());
    run.utils.getArrayIdFromSCSIResp(page.data(), cluster);
    EXPECT_EQ("15A5A5A5A5A5A5", cluster);
}

TEST_F(ScsiTest, InquiryFailuresReportTheStepCodeAndTextAndLeaveOutputsEmpty) {
    Bytes wrongPage80 = serialPage(text("1234"));
    wrongPage80[1] = 0x83;
    Bytes nonZeroStd = korvanStdPage();
    nonZeroStd[1] = 0x01;
    devices.add("nop80", korvanStdPage(), Bytes(), idPage(kNineByteId));
    devices.add("wrong80", korvanStdPage(), wrongPage80, idPage(kNineByteId));
    devices.add("std1", nonZeroStd, serialPage(text("1")), idPage(kNineByteId));
    devices.add("blank", stdPage(text("_KORVAN_"), text("VIRTUAL-DISK    ")), serialPage(text("1")),
                idPage(kNineByteId));
    devices.add("noproduct", stdPage(text("_KORVAN_"), Bytes()), serialPage(text("1")), idPage(kNineByteId));
    devices.add("lower", stdPage(text("_korvan_"), text("VIRTUAL-DISK")), serialPage(text("1")), idPage(kNineByteId));
    devices.add("noserial", korvanStdPage(), serialPage(text("1234"), 0), idPage(kNineByteId));
    devices.add("spaces", korvanStdPage(), serialPage(text("   \n")), idPage(kNineByteId));
    devices.add("nocluster", korvanStdPage(), serialPage(text("1234")), idPage(kNineByteId, 0));
    devices.addKorvan("shortstd");
    devices.writeEmpty("shortstd", "page00.bin");
    devices.addNotScsi("notscsi");

    struct Row {
        std::string device;
        int code;
        std::string error;
        std::string logLine;
    };
    const Row rows[] = {
        {"/dev/nosuch", 2, "Failed to get ZyDevice for device-[/dev/nosuch]. Error-[", "KRVN  SCSI Inquiry failed-[2:"},
        {"/dev/notscsi", 2, "/dev/notscsi is not a SCSI device",
         "KRVN  SCSI Inquiry failed-[2:/dev/notscsi is not a SCSI device]"},
        {"/dev/nop80", 2, "Failed to do SCSI Inquiry for device-[/dev/nop80] with error-[",
         "KRVN  SCSI Inquiry failed-[2:Failed to do SCSI Inquiry"},
        {"/dev/wrong80", 3,
         "Page code-[83h] returned instead of requested page code-[128] for device-[/dev/wrong80].  Skipping the "
         "device..",
         "KRVN  Page code-[83h] returned instead of requested page code-[128] for device-[/dev/wrong80].  "
         "Skipping the device.."},
        {"/dev/std1", 3,
         "Page code-[01h] returned instead of requested page code-[0] for device-[/dev/std1].  Skipping the device..",
         "KRVN  Page code-[01h]"},
        {"/dev/blank", 3,
         "Product id-[VIRTUAL-DISK    ] for device-[/dev/blank] is not matching - expected product id-[VIRTUAL-DISK]",
         "KRVN  Checking for Korvan device failed-[3:Product id-["},
        {"/dev/noproduct", 3, "Product id is empty for device-[/dev/noproduct] - expected product id-[VIRTUAL-DISK]",
         "KRVN  Checking for Korvan device failed-[3:Product id is empty"},
        {"/dev/lower", 3,
         "Vendor id-[_korvan_] is for device-[/dev/lower] is not matching - expected vendor id-[_KORVAN_]",
         "KRVN  Checking for Korvan device failed-[3:Vendor id-[_korvan_]"},
        {"/dev/noserial", 3, "vDisk serial number is empty for device-[/dev/noserial]",
         "KRVN  Invalid SCSI details-[3:vDisk serial number is empty for device-[/dev/noserial]]"},
        {"/dev/spaces", 3, "vDisk serial number is empty for device-[/dev/spaces]", "KRVN  Invalid SCSI details-[3:"},
        {"/dev/nocluster", 3, "Cluster serial number is empty for device-[/dev/nocluster]",
         "KRVN  Invalid SCSI details-[3:Cluster"},
        {"/dev/shortstd", 3, "Vendor id is empty for device-[/dev/shortstd] - expected vendor id-[_KORVAN_]",
         "KRVN  Checking for Korvan device failed-[3:Vendor id is empty"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.device);
        Run run;
        CommonLogCapture log;
        std::string serial = "old", cluster = "old";
        EXPECT_EQ(row.code, run.utils.inquireDevice(row.device, serial, cluster));
        EXPECT_EQ(row.code, run.ctx.errorCode);
        EXPECT_EQ(0u, run.ctx.errorString().find(row.error)) << run.ctx.errorString();
        EXPECT_TRUE(serial.empty());
        EXPECT_TRUE(cluster.empty());
        bool logged = false;
        for (const auto& line : log.lines())
            logged = logged || (line.level == -1 && line.text.compare(0, row.logLine.size(), row.logLine) == 0);
        EXPECT_TRUE(logged) << row.logLine;
    }
    Run run;
    unsigned char response[ZY_KRVN_SCSI_RESP_LEN];
    const unsigned char cdb80[] = {0x12, 0x01, 0x80, 0x00, 0xFF, 0x00};
    EXPECT_EQ(2, run.utils.doSCSIInquiry("/dev/nop80", cdb80, response));
    const std::string err = run.ctx.errorString();
    EXPECT_EQ("] EVPD-[1] SCSI page code-[80h]", err.substr(err.rfind("] EVPD-[")));
}

TEST_F(ScsiTest, PageMismatchLogsWithTheCallersFormat) {
    Run run;
    CommonLogCapture log;
    EXPECT_EQ(3, run.utils.failPageMismatch("/dev/sdz", 0x00, 131, "KRVN  SCSI Inquiry failed - [%d:%s]"));
    EXPECT_TRUE(log.has(-1, "KRVN  SCSI Inquiry failed - [3:Page code-[00h] returned instead of requested page "
                            "code-[131] for device-[/dev/sdz].  Skipping the device..]"));
}

TEST_F(ScsiTest, CapturedTargetsAreJudgedByTheirPadding) {
    Run refused;
    std::string serial, cluster;
    std::string dev = devices.addCapture("tgt-korvan-blank-padded", "blank");
    EXPECT_EQ(3, refused.utils.inquireDevice(dev, serial, cluster));
    EXPECT_EQ("Product id-[VIRTUAL-DISK    ] for device-[/dev/blank] is not matching - expected product "
              "id-[VIRTUAL-DISK]",
              refused.ctx.errorString());

    Run other;
    dev = devices.addCapture("tgt-default", "other");
    EXPECT_EQ(3, other.utils.inquireDevice(dev, serial, cluster));
    EXPECT_EQ(0u, other.ctx.errorString().find("Vendor id-[IET     ] is for device-[/dev/other]"));

    // The same target with NUL padding is a Korvan vDisk.
    Run accepted;
    dev = devices.addCapture("tgt-korvan-blank-padded", "nulpadded");
    devices.patch("nulpadded", "page00.bin", 28, Bytes(4, 0));
    ASSERT_EQ(0, accepted.utils.inquireDevice(dev, serial, cluster)) << accepted.ctx.errorString();
    EXPECT_EQ("1234567890123", serial);
    EXPECT_EQ("001A2B3C4D5E6F", cluster);
}

TEST_F(ScsiTest, GarbageAnswersNeverYieldAHalfReadIdentity) {
    std::mt19937 random(20261206);
    auto garbage = [&](unsigned char page) {
        Bytes b(ZY_KRVN_SCSI_RESP_LEN);
        for (auto& c : b) c = static_cast<unsigned char>(random());
        b[1] = page;
        return b;
    };
    for (int i = 0; i < 40; ++i) {
        std::string name = "g" + std::to_string(i);
        Bytes std00 = i % 2 ? korvanStdPage() : garbage(0x00);
        std::string dev = devices.add(name, std00, garbage(0x80), garbage(0x83));
        Run run;
        std::string serial = "old", cluster = "old";
        int rc = run.utils.inquireDevice(dev, serial, cluster);
        SCOPED_TRACE(name);
        if (rc == 0) {
            EXPECT_FALSE(serial.empty());
            EXPECT_LE(serial.size(), 63u);
            EXPECT_EQ(std::string::npos, serial.find_first_of(" \t\r\n\v\f"));
            EXPECT_FALSE(cluster.empty());
            EXPECT_LE(cluster.size(), 14u);
            EXPECT_EQ(std::string::npos, cluster.find_first_not_of("0123456789ABCDEF"));
        } else {
            EXPECT_EQ(3, rc);
            EXPECT_TRUE(serial.empty());
            EXPECT_TRUE(cluster.empty());
        }
    }
}

TEST_F(ScsiTest, HexDumpIsWrittenOnlyFromLevelSeven) {
    const unsigned char bytes[] = {0x41, 0x00, 0x7F, 0x20, 0xFF};
    {
        Run run;
        CommonLogCapture log;
        run.utils.dumpHexBuf(bytes, sizeof(bytes));
        EXPECT_TRUE(log.has(7, "KRVN  SCSI inquiry dump << [41 00 7F 20 FF ] >>"));
        EXPECT_TRUE(log.has(8, "KRVN  SCSI inquiry dump << [A  .  .     .  ] >>"));
    }
    settings.set("Platform", "debugLevel", "6");
    Run quiet;
    CommonLogCapture log;
    quiet.utils.dumpHexBuf(bytes, sizeof(bytes));
    EXPECT_TRUE(log.lines().empty());
}

}  // namespace
