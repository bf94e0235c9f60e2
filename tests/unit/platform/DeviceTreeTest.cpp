// Device tree backends (fixture, sg) and the library loader.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "CWqLibrary.h"
#include "FixtureDisks.h"
#include "ScopedSettings.h"
#include "ZyDeviceTree.h"

namespace {

using Bytes = std::vector<unsigned char>;
constexpr unsigned char kGuard = 0xAA;

class FixtureDevices : public ::testing::Test {
protected:
    FixtureDevices() {
        settings_.set("Platform", "deviceBackend", "fixture");
        settings_.set("Platform", "deviceFixtureDir", disks_.dir());
        // sdb: a short standard page and a serial page longer than an answer.
        Bytes longPage(300);
        for (size_t i = 0; i < longPage.size(); ++i) longPage[i] = static_cast<unsigned char>(i % 251);
        write("sdb", "page00.bin", {'a', 'b', 'c'});
        write("sdb", "page80.bin", longPage);
    }
    void write(const std::string& device, const std::string& file, const Bytes& bytes) {
        std::filesystem::create_directories(disks_.dir() + "/" + device);
        std::ofstream(disks_.dir() + "/" + device + "/" + file, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    // Sends an inquiry for the page into a guarded buffer of 300 bytes offering `length`.
    int inquire(unsigned char evpd, unsigned char page, size_t length, Bytes& buffer) {
        CWqError error;
        SP<ZyDevice> device = ZyDeviceTree::getDevice("/dev/sdb", &error);
        auto* scsi = device ? static_cast<ZyDeviceScsiIface*>(device->GetInterface(ZY_DEVICE_SCSI_IFACE)) : nullptr;
        EXPECT_NE(scsi, nullptr) << error.AsString();
        if (!scsi) return -1;
        const unsigned char cdb[6] = {0x12, evpd, page, 0x00, 0xff, 0x00};
        buffer.assign(300, kGuard);
        int rc = scsi->SendCdb(cdb, 6, buffer.data(), static_cast<int>(length), 30, &error);
        EXPECT_EQ(rc == -1, error.IsError());
        return rc;
    }

    krvntest::ScopedSettings settings_;
    krvntest::FixtureDisks disks_;
};

TEST_F(FixtureDevices, InquiryAnswersComeFromThePageFileAndNeverPassTheBuffer) {
    Bytes buffer;
    // A short file fills the start, the rest of the 255-byte answer is zero, nothing beyond it.
    ASSERT_NE(inquire(0, 0x00, 300, buffer), -1);
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 3), "abc");
    EXPECT_EQ(Bytes(buffer.begin() + 3, buffer.begin() + 255), Bytes(252, 0));
    EXPECT_EQ(Bytes(buffer.begin() + 255, buffer.end()), Bytes(45, kGuard));
    // A long file is cut at 255 bytes, and a smaller buffer gets exactly its length.
    for (size_t length : {300u, 16u}) {
        ASSERT_NE(inquire(1, 0x80, length, buffer), -1);
        const size_t filled = std::min<size_t>(length, 255);
        for (size_t i = 0; i < filled; ++i) ASSERT_EQ(buffer[i], i % 251) << i;
        EXPECT_EQ(buffer[filled], kGuard) << length;
    }
    // A page the fixture does not know fails without writing.
    EXPECT_EQ(inquire(1, 0x00, 255, buffer), -1);
    EXPECT_EQ(buffer[0], kGuard);
}

TEST_F(FixtureDevices, PathsThatLeaveTheFixtureFolderAreNoDevice) {
    CWqError error;
    // The first path leaves the folder and comes back into it to a device that exists.
    const std::string back = "/dev/../" + std::filesystem::path(disks_.dir()).filename().string() + "/sdb";
    for (const std::string& path : {back, std::string("/dev/"), std::string()}) {
        error.Clear();
        EXPECT_FALSE(ZyDeviceTree::getDevice(path.c_str(), &error)) << path;
        EXPECT_TRUE(error.IsError()) << path;
    }
}

TEST(DeviceBackends, SgNeedsAScsiGenericDeviceAndUnknownBackendsFail) {
    krvntest::ScopedSettings settings;
    CWqError error;
    settings.set("Platform", "deviceBackend", "sg");
    EXPECT_FALSE(ZyDeviceTree::getDevice("/nonexistent/sdq", &error));
    EXPECT_TRUE(error.IsError());
    SP<ZyDevice> notScsi = ZyDeviceTree::getDevice("/dev/null", &error);
    ASSERT_TRUE(notScsi);
    EXPECT_EQ(notScsi->GetInterface(ZY_DEVICE_SCSI_IFACE), nullptr);

    settings.set("Platform", "deviceBackend", "carrier-pigeon");
    EXPECT_FALSE(ZyDeviceTree::getDevice("/dev/null", &error));
    EXPECT_NE(error.AsString().find("carrier-pigeon"), std::string::npos);
}

TEST(LibraryLoader, ResolvesSymbolsAndReportsTheLoadersText) {
    CWqLibrary lib(true);
    void* address = &lib;
    EXPECT_TRUE(lib.GetAddress("strlen", address).IsError()) << "nothing loaded yet";
    EXPECT_EQ(address, nullptr);
    CWqError error = lib.Load("/nonexistent/libnothing.so", false);
    EXPECT_NE(error.AsString().find("/nonexistent/libnothing.so"), std::string::npos);
    EXPECT_FALSE(lib.IsLoaded());

    ASSERT_FALSE(lib.Load("libc.so.6", false).IsError());
    ASSERT_FALSE(lib.GetAddress("strlen", address).IsError());
    EXPECT_EQ(reinterpret_cast<size_t (*)(const char*)>(address)("four"), 4u);
    error = lib.GetAddress("krvn_no_such_symbol", address);
    EXPECT_NE(error.AsString().find("krvn_no_such_symbol"), std::string::npos);
    lib.Unload();
    EXPECT_FALSE(lib.IsLoaded());
}

}  // namespace
