#include "FixtureDevices.h"

#include <sys/stat.h>
#include <fstream>
#include <sstream>

#include "PluginLoader.h"

namespace KrvnHost {

namespace {

const char* const kPages[] = {"page00.bin", "page80.bin", "page83.bin"};
const char* const kKorvanCapture = "tgt-korvan-blank-padded";
const char* const kOtherCapture = "tgt-default";
const char* const kNotScsiMarker = "not-scsi";
// The product field of the standard page ends at offset 31; a cluster pads it with NULs where
// the capturing target put blanks.
const size_t kProductPadFrom = 28;
const size_t kProductPadTo = 32;

bool readFile(const std::string& path, std::string* out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::stringstream s;
    s << in.rdbuf();
    *out = s.str();
    return true;
}

bool writeFile(const std::string& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << data;
    return static_cast<bool>(out);
}

// One device folder from a capture; patch may change the standard page.
bool copyCapture(const std::string& captures, const char* capture, const std::string& device, bool nulPadProduct,
                 std::string* error) {
    ::mkdir(device.c_str(), 0755);
    for (const char* page : kPages) {
        std::string data;
        if (!readFile(captures + "/" + capture + "/" + page, &data)) {
            *error = "cannot read the capture " + captures + "/" + capture + "/" + page;
            return false;
        }
        if (nulPadProduct && std::string(page) == kPages[0] && data.size() >= kProductPadTo)
            for (size_t i = kProductPadFrom; i < kProductPadTo; ++i) data[i] = '\0';
        if (!writeFile(device + "/" + page, data)) {
            *error = "cannot write " + device + "/" + page;
            return false;
        }
    }
    return true;
}

}  // namespace

std::vector<FixtureDevice> buildFixtureDevices(const std::string& dir, const std::string& captures,
                                               std::string* error) {
    std::vector<FixtureDevice> devices = {
        {"/dev/krvn-vdisk", "a Korvan vDisk: vendor _KORVAN_, product VIRTUAL-DISK, vDisk and cluster serials", true},
        {"/dev/krvn-blank-padded",
         "the same vDisk as a target captured it, its product field padded with blanks "
         "where a cluster pads with NULs: not the product VIRTUAL-DISK",
         false},
        {"/dev/other-vendor", "another vendor's disk: the vendor is not _KORVAN_", false},
        {"/dev/no-scsi", "a device without a SCSI interface: no INQUIRY can be sent", false},
        {"/dev/missing", "no device at that path", false},
    };
    auto folder = [&](const FixtureDevice& d) { return dir + "/" + d.path.substr(5); };
    ::mkdir(dir.c_str(), 0755);
    if (!copyCapture(captures, kKorvanCapture, folder(devices[0]), true, error) ||
        !copyCapture(captures, kKorvanCapture, folder(devices[1]), false, error) ||
        !copyCapture(captures, kOtherCapture, folder(devices[2]), false, error))
        return {};
    ::mkdir(folder(devices[3]).c_str(), 0755);
    if (!writeFile(folder(devices[3]) + "/" + kNotScsiMarker, "\n")) {
        *error = "cannot write " + folder(devices[3]);
        return {};
    }
    return devices;
}

std::string defaultCaptureDir() { return besideExecutable(std::string(KRVN_HOST_DATA_FROM_BIN) + "/scsi"); }

}  // namespace KrvnHost
