// Device tree backends (fixture, sg) and the library loader.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <vector>

#include "CWqLibrary.h"
#include "ScopedSettings.h"
#include "ZyDeviceTree.h"

namespace {

using krvntest::ScopedSettings;

const unsigned char kStandardInquiry[6] = {0x12, 0x00, 0x00, 0x00, 0xff, 0x00};
const unsigned char kSerialPage[6] = {0x12, 0x01, 0x80, 0x00, 0xff, 0x00};
const unsigned char kIdentityPage[6] = {0x12, 0x01, 0x83, 0x00, 0xff, 0x00};
const unsigned char kSupportedPages[6] = {0x12, 0x01, 0x00, 0x00, 0xff, 0x00};
constexpr unsigned char kGuard = 0xAA;

class FixtureDevices : public ::testing::Test {
protected:
    FixtureDevices() {
        char tmpl[] = "/tmp/krvn-devs-XXXXXX";
        root_ = mkdtemp(tmpl) ? tmpl : "";
        settings_.set("Platform", "deviceBackend", "fixture");
        settings_.set("Platform", "deviceFixtureDir", root_);
        // sdb: short standard page, a serial page longer than an answer, no identity page.
        write("sdb/page00.bin", std::vector<unsigned char>{'a', 'b', 'c'});
        std::vector<unsigned char> longPage(300);
        for (size_t i = 0; i < longPage.size(); ++i) longPage[i] = static_cast<unsigned char>(i % 251);
        write("sdb/page80.bin", longPage);
        write("sdc/page00.bin", {1, 2, 3});
        write("sdc/not-scsi", {});
    }
    ~FixtureDevices() override { std::system(("rm -rf '" + root_ + "'").c_str()); }

    void write(const std::string& relative, const std::vector<unsigned char>& bytes) {
        std::string path = root_ + "/" + relative;
        mkdir(path.substr(0, path.rfind('/')).c_str(), 0755);
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }

    static ZyDeviceScsiIface* scsiOf(const SP<ZyDevice>& device) {
        return static_cast<ZyDeviceScsiIface*>(device->GetInterface(ZY_DEVICE_SCSI_IFACE));
    }

    ScopedSettings settings_;
    std::string root_;
};

TEST_F(FixtureDevices, InquiryAnswersComeFromThePageTheCdbAsksFor) {
    CWqError error;
    SP<ZyDevice> device = ZyDeviceTree::getDevice("/dev/sdb", &error);
    ASSERT_TRUE(device) << error.AsString();
    EXPECT_EQ(device->GetName(), "/dev/sdb");
    ZyDeviceScsiIface* scsi = scsiOf(device);
    ASSERT_NE(scsi, nullptr);
    EXPECT_EQ(device->GetInterface("SomethingElse"), nullptr);

    // Standard page: the short file fills the start, the rest of the 255 bytes are zero and
    // nothing beyond the answer is touched.
    std::vector<unsigned char> buffer(300, kGuard);
    ASSERT_NE(scsi->SendCdb(kStandardInquiry, 6, buffer.data(), 300, 30, &error), -1);
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 3), "abc");
    for (size_t i = 3; i < 255; ++i) ASSERT_EQ(buffer[i], 0) << i;
    for (size_t i = 255; i < 300; ++i) ASSERT_EQ(buffer[i], kGuard) << i;

    // Serial page: the long file is cut at 255 bytes.
    buffer.assign(300, kGuard);
    ASSERT_NE(scsi->SendCdb(kSerialPage, 6, buffer.data(), 300, 30, &error), -1);
    for (size_t i = 0; i < 255; ++i) ASSERT_EQ(buffer[i], i % 251) << i;
    EXPECT_EQ(buffer[255], kGuard);

    // A buffer shorter than the answer gets exactly its length.
    buffer.assign(300, kGuard);
    ASSERT_NE(scsi->SendCdb(kSerialPage, 6, buffer.data(), 16, 30, &error), -1);
    for (size_t i = 0; i < 16; ++i) ASSERT_EQ(buffer[i], i) << i;
    EXPECT_EQ(buffer[16], kGuard);

    // Missing page file, and a VPD page the fixture does not know, fail without writing.
    for (const unsigned char* cdb : {kIdentityPage, kSupportedPages}) {
        buffer.assign(300, kGuard);
        error.Clear();
        EXPECT_EQ(scsi->SendCdb(cdb, 6, buffer.data(), 255, 30, &error), -1);
        EXPECT_TRUE(error.IsError());
        EXPECT_EQ(buffer[0], kGuard);
    }
    const unsigned char readCapacity[10] = {0x25};
    EXPECT_EQ(scsi->SendCdb(readCapacity, 10, buffer.data(), 8, 30, &error), -1);
}

TEST_F(FixtureDevices, MissingFolderIsNoDeviceAndNotScsiMarkerHidesTheInterface) {
    CWqError error;
    EXPECT_FALSE(ZyDeviceTree::getDevice("/dev/sdz", &error));
    EXPECT_TRUE(error.IsError());

    error.Clear();
    SP<ZyDevice> plain = ZyDeviceTree::getDevice("/dev/sdc", &error);
    ASSERT_TRUE(plain) << error.AsString();
    EXPECT_EQ(plain->GetInterface(ZY_DEVICE_SCSI_IFACE), nullptr);

    // Paths that try to leave the fixture folder are no device either.
    for (const char* path : {"/dev/../sdb", "/dev/", ""}) {
        error.Clear();
        EXPECT_FALSE(ZyDeviceTree::getDevice(path, &error)) << path;
        EXPECT_TRUE(error.IsError()) << path;
    }
}

TEST(DeviceBackends, SgNeedsAScsiGenericDeviceAndUnknownBackendsFail) {
    ScopedSettings settings;
    CWqError error;
    settings.set("Platform", "deviceBackend", "sg");
    EXPECT_FALSE(ZyDeviceTree::getDevice("/nonexistent/sdq", &error));
    EXPECT_TRUE(error.IsError());

    error.Clear();
    SP<ZyDevice> notScsi = ZyDeviceTree::getDevice("/dev/null", &error);
    ASSERT_TRUE(notScsi) << error.AsString();
    EXPECT_EQ(notScsi->GetName(), "/dev/null");
    EXPECT_EQ(notScsi->GetInterface(ZY_DEVICE_SCSI_IFACE), nullptr);

    settings.set("Platform", "deviceBackend", "carrier-pigeon");
    error.Clear();
    EXPECT_FALSE(ZyDeviceTree::getDevice("/dev/null", &error));
    EXPECT_NE(error.AsString().find("carrier-pigeon"), std::string::npos);
}

TEST(LibraryLoader, LoadsAndResolvesAndReportsTheLoadersText) {
    CWqLibrary lib(true);
    void* address = &lib;
    CWqError error = lib.GetAddress("strlen", address);
    EXPECT_TRUE(error.IsError()) << "nothing loaded yet";
    EXPECT_EQ(address, nullptr);

    error = lib.Load("/nonexistent/libnothing.so", false);
    ASSERT_TRUE(error.IsError());
    EXPECT_NE(error.AsString().find("/nonexistent/libnothing.so"), std::string::npos);
    EXPECT_FALSE(lib.IsLoaded());

    error = lib.Load("libc.so.6", false);
    ASSERT_FALSE(error.IsError()) << error.AsString();
    error = lib.GetAddress("strlen", address);
    ASSERT_FALSE(error.IsError()) << error.AsString();
    using StrlenFn = size_t (*)(const char*);
    EXPECT_EQ(reinterpret_cast<StrlenFn>(address)("four"), 4u);

    error = lib.GetAddress("krvn_no_such_symbol", address);
    EXPECT_TRUE(error.IsError());
    EXPECT_NE(error.AsString().find("krvn_no_such_symbol"), std::string::npos);
    lib.Unload();
    EXPECT_FALSE(lib.IsLoaded());
}

}  // namespace
