// Test helper: Korvan vDisks as the fixture device backend sees them, in a temporary folder
// that lives as long as the object. Setting the backend up is the caller's choice:
//
//   krvntest::FixtureDisks disks;
//   settings.set("Platform", "deviceBackend", "fixture");
//   settings.set("Platform", "deviceFixtureDir", disks.dir());
//   disks.add("sdx", "5001", "A1B2C3D4E5F601");   // /dev/sdx answers as vDisk 5001
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <stdlib.h>

namespace krvntest {

class FixtureDisks {
public:
    FixtureDisks() {
        char tmpl[] = "/tmp/krvn-disks-XXXXXX";
        const char* made = mkdtemp(tmpl);
        dir_ = made ? made : "";
    }
    ~FixtureDisks() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    FixtureDisks(const FixtureDisks&) = delete;
    FixtureDisks& operator=(const FixtureDisks&) = delete;

    const std::string& dir() const { return dir_; }

    // /dev/<name> answers the three inquiries of a vDisk with that decimal SCSI serial on the
    // cluster whose serial is the 14 hexadecimal digits given. Returns the device path.
    std::string add(const std::string& name, const std::string& serial, const std::string& clusterSerial) {
        std::vector<unsigned char> standard(255, 0), unitSerial(255, 0), identity(255, 0);
        put(standard, 8, "_KORVAN_");
        put(standard, 16, "VIRTUAL-DISK");
        unitSerial[1] = 0x80;
        unitSerial[3] = static_cast<unsigned char>(serial.size());
        put(unitSerial, 4, serial);
        // The designator carries one hex digit before the cluster serial and one after it.
        const std::string hex = "6" + clusterSerial + "0";
        identity[1] = 0x83;
        identity[59] = static_cast<unsigned char>(hex.size() / 2);
        for (size_t i = 0; i < hex.size() / 2; ++i)
            identity[60 + i] = static_cast<unsigned char>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
        std::filesystem::create_directories(dir_ + "/" + name);
        write(name + "/page00.bin", standard);
        write(name + "/page80.bin", unitSerial);
        write(name + "/page83.bin", identity);
        return "/dev/" + name;
    }

private:
    static void put(std::vector<unsigned char>& page, size_t at, const std::string& text) {
        for (size_t i = 0; i < text.size(); ++i) page[at + i] = static_cast<unsigned char>(text[i]);
    }
    void write(const std::string& file, const std::vector<unsigned char>& bytes) {
        std::ofstream out(dir_ + "/" + file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    std::string dir_;
};

}  // namespace krvntest
