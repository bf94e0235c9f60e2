// Host block devices through one of four backends ([Platform] deviceBackend).
#include "ZyDeviceTree.h"

#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <sys/stat.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "DeviceBackends.h"
#include "PlatformSettings.h"

namespace {

constexpr int kDeviceError = 1;
constexpr int kCdbMaxLength = 16;
constexpr int kInquiryMinCdb = 6;
constexpr unsigned char kOpInquiry = 0x12;
constexpr unsigned char kEvpdBit = 0x01;
constexpr size_t kFixtureAnswerBytes = 255;
constexpr int kDefaultTimeoutSec = 60;
constexpr int kMaxTimeoutSec = 24 * 3600;  // keeps the milliseconds within SG_IO's field

constexpr const char* kBackendSg = "sg";
constexpr const char* kBackendFixture = "fixture";
constexpr const char* kBackendSim = "sim";
constexpr const char* kBackendLibiscsi = "libiscsi";
constexpr const char* kDevPrefix = "/dev/";
constexpr const char* kNotScsiMarker = "not-scsi";
constexpr unsigned char kVpdSerial = 0x80;
constexpr unsigned char kVpdIdentity = 0x83;
constexpr const char* kStandardPageFile = "page00.bin";
constexpr const char* kSerialPageFile = "page80.bin";
constexpr const char* kIdentityPageFile = "page83.bin";

namespace Text {
const std::string kBadCdb = "invalid CDB";
const std::string kBadBuffer = "invalid data buffer";
const std::string kSgIoFailed = "SG_IO failed on ";
constexpr const char* kScsiStatusFormat = "SCSI command failed: status 0x%x host 0x%x driver 0x%x";
const std::string kFixtureOnlyInquiry = "only INQUIRY is answered by the fixture device ";
const std::string kFixtureNoPage = "INQUIRY page not available on ";
const std::string kCannotOpen = "cannot open device ";
const std::string kNoSuchDevice = "no such device ";
const std::string kNoPath = "no device path given";
const std::string kUnknownBackend = "unknown device backend ";
}  // namespace Text

void setError(CWqError* error, const std::string& text) {
    if (error) error->Set(kDeviceError, text);
}

std::string quoted(const std::string& text) { return "[" + text + "]"; }

bool cdbArgumentsValid(const unsigned char* cdb, int cdbLength, const unsigned char* buffer, int bufferLength,
                       CWqError* error) {
    if (!cdb || cdbLength <= 0 || cdbLength > kCdbMaxLength) {
        setError(error, Text::kBadCdb);
        return false;
    }
    if (bufferLength < 0 || (!buffer && bufferLength > 0)) {
        setError(error, Text::kBadBuffer);
        return false;
    }
    return true;
}

// A device that is its own SCSI interface.
class ScsiDevice : public ZyDevice, public ZyDeviceScsiIface {
public:
    ScsiDevice(std::string path, bool scsiCapable) : path_(std::move(path)), scsi_(scsiCapable) {}
    std::string GetName() const override { return path_; }
    void* GetInterface(const char* name) override {
        if (!scsi_ || !name || std::strcmp(name, ZY_DEVICE_SCSI_IFACE) != 0) return nullptr;
        return static_cast<ZyDeviceScsiIface*>(this);
    }

protected:
    std::string path_;
    bool scsi_;
};

class SgDevice : public ScsiDevice {
public:
    SgDevice(std::string path, int fd, bool scsiCapable) : ScsiDevice(std::move(path), scsiCapable), fd_(fd) {}
    ~SgDevice() override { ::close(fd_); }

    int SendCdb(const unsigned char* cdb, int cdbLength, unsigned char* buffer, int bufferLength, int timeoutSec,
                CWqError* error) override {
        if (!cdbArgumentsValid(cdb, cdbLength, buffer, bufferLength, error)) return -1;
        unsigned char sense[32] = {};
        sg_io_hdr_t io;
        std::memset(&io, 0, sizeof io);
        io.interface_id = 'S';
        io.dxfer_direction = bufferLength > 0 ? SG_DXFER_FROM_DEV : SG_DXFER_NONE;
        io.cmd_len = static_cast<unsigned char>(cdbLength);
        io.cmdp = const_cast<unsigned char*>(cdb);
        io.dxfer_len = static_cast<unsigned int>(bufferLength);
        io.dxferp = buffer;
        io.mx_sb_len = sizeof sense;
        io.sbp = sense;
        int seconds = timeoutSec > 0 ? std::min(timeoutSec, kMaxTimeoutSec) : kDefaultTimeoutSec;
        io.timeout = static_cast<unsigned int>(seconds) * 1000u;
        if (ioctl(fd_, SG_IO, &io) < 0) {
            setError(error, Text::kSgIoFailed + quoted(path_) + ": " + std::strerror(errno));
            return -1;
        }
        if ((io.info & SG_INFO_OK_MASK) != SG_INFO_OK || io.status != 0 || io.host_status != 0 ||
            io.driver_status != 0) {
            char text[128];
            std::snprintf(text, sizeof text, Text::kScsiStatusFormat, io.status, io.host_status, io.driver_status);
            setError(error, std::string(text) + " on " + quoted(path_));
            return -1;
        }
        return std::max(0, bufferLength - io.resid);
    }

private:
    int fd_;
};

class FixtureDevice : public ScsiDevice {
public:
    FixtureDevice(std::string path, std::string dir, bool scsiCapable)
        : ScsiDevice(std::move(path), scsiCapable), dir_(std::move(dir)) {}

    int SendCdb(const unsigned char* cdb, int cdbLength, unsigned char* buffer, int bufferLength, int /*timeoutSec*/,
                CWqError* error) override {
        if (!cdbArgumentsValid(cdb, cdbLength, buffer, bufferLength, error)) return -1;
        if (cdb[0] != kOpInquiry || cdbLength < kInquiryMinCdb) {
            setError(error, Text::kFixtureOnlyInquiry + quoted(path_));
            return -1;
        }
        std::string page = pageFile(cdb);
        std::ifstream in;
        if (!page.empty()) in.open(dir_ + "/" + page, std::ios::binary);
        if (!in.is_open()) {
            setError(error, Text::kFixtureNoPage + quoted(path_));
            return -1;
        }
        std::vector<unsigned char> answer(kFixtureAnswerBytes, 0);
        in.read(reinterpret_cast<char*>(answer.data()), static_cast<std::streamsize>(answer.size()));
        size_t copied = std::min(answer.size(), static_cast<size_t>(bufferLength));
        std::copy_n(answer.begin(), copied, buffer);
        return static_cast<int>(copied);
    }

private:
    static std::string pageFile(const unsigned char* cdb) {
        if (!(cdb[1] & kEvpdBit)) return kStandardPageFile;
        switch (cdb[2]) {
            case kVpdSerial:
                return kSerialPageFile;
            case kVpdIdentity:
                return kIdentityPageFile;
            default:
                return std::string();
        }
    }
    std::string dir_;
};

SP<ZyDevice> openSgDevice(const std::string& path, CWqError* error) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        setError(error, Text::kCannotOpen + quoted(path) + ": " + std::strerror(errno));
        return nullptr;
    }
    int version = 0;
    bool scsi = ioctl(fd, SG_GET_VERSION_NUM, &version) == 0;
    return std::make_shared<SgDevice>(path, fd, scsi);
}

bool isDirectory(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool exists(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

SP<ZyDevice> openFixtureDevice(const std::string& path, const std::string& root, CWqError* error) {
    std::string name = path.compare(0, std::strlen(kDevPrefix), kDevPrefix) == 0
                           ? path.substr(std::strlen(kDevPrefix))
                           : path.substr(path.find_last_of('/') + 1);
    // The name comes from the caller: it must not reach outside the fixture folder.
    if (root.empty() || name.empty() || name.find("..") != std::string::npos) {
        setError(error, Text::kNoSuchDevice + quoted(path));
        return nullptr;
    }
    std::string dir = root + "/" + name;
    if (!isDirectory(dir)) {
        setError(error, Text::kNoSuchDevice + quoted(path));
        return nullptr;
    }
    return std::make_shared<FixtureDevice>(path, dir, !exists(dir + "/" + kNotScsiMarker));
}

}  // namespace

SP<ZyDevice> ZyDeviceTree::getDevice(const char* path, CWqError* error) {
    if (!path || !*path) {
        setError(error, Text::kNoPath);
        return nullptr;
    }
    const ZyPlatform::CurrentSettings current;
    const ZyPlatform::SettingsStore& settings = *current;
    std::string backend =
        settings.platformText(ZyPlatform::Setting::kDeviceBackend, ZyPlatform::Default::kDeviceBackend);
    if (backend == kBackendSg) return openSgDevice(path, error);
    if (backend == kBackendFixture) {
        return openFixtureDevice(path, settings.platformText(ZyPlatform::Setting::kDeviceFixtureDir, ""), error);
    }
    if (backend == kBackendSim) return ZyPlatform::openSimDevice(path, error);
    if (backend == kBackendLibiscsi) return ZyPlatform::openLibiscsiDevice(path, error);
    setError(error, Text::kUnknownBackend + quoted(backend));
    return nullptr;
}
