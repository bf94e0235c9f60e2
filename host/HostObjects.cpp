#include "HostObjects.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>

#include "HostTexts.h"
#include "ZYPassword.h"

namespace KrvnHost {

namespace {

// Copies text with its NUL into a caller's buffer of *length bytes. 2 and the size needed in
// *length when it does not fit (the host's "buffer too small" answer), 1 for no buffer.
int copyOut(const std::string& text, char* buffer, unsigned short* length) {
    if (!buffer || !length) return 1;
    size_t needed = text.size() + 1;
    if (needed > *length) {
        *length = needed > 0xFFFF ? 0xFFFF : static_cast<unsigned short>(needed);
        return 2;
    }
    std::memcpy(buffer, text.c_str(), needed);
    return 0;
}

std::string escapeDetailsValue(const std::string& value) {
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        if (c == ',' || c == '}' || c == '\\') out += '\\';
        out += c;
    }
    return out;
}

std::string joinList(const std::vector<std::string>& items, const std::string& separator) {
    std::string out;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i) out += separator;
        out += items[i];
    }
    return out;
}

bool parseWholeInt(const std::string& text, int* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < INT32_MIN || v > INT32_MAX) return false;
    *value = static_cast<int>(v);
    return true;
}

std::string vformat(const char* format, va_list args) {
    if (!format) return "";
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n < 0) return format;
    std::string out(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(&out[0], out.size(), format, args);
    out.resize(static_cast<size_t>(n));
    return out;
}

}  // namespace

void JobLog::append(int level, const std::string& text) {
    LogLine line;
    line.jobId = jobId_;
    line.time = static_cast<long long>(std::time(nullptr));
    line.level = level;
    line.text = text;
    state_.log.push_back(std::move(line));
    if (watcher_) watcher_->jobLine(text);
}

std::string arrayDetailsText(const ArrayEntry& array) {
    std::string clear = decryptStoredPassword(array.storedPassword);
    std::string text = "{";
    text += kDetailsArrayName + escapeDetailsValue(array.name);
    text += kDetailsArrayNumber + std::to_string(array.number);
    text += kDetailsVendor + escapeDetailsValue(array.vendor);
    text += kDetailsHostName + escapeDetailsValue(array.controlHost);
    text += kDetailsHostUserName + escapeDetailsValue(array.user);
    text += kDetailsHostPassword + escapeDetailsValue(clear);
    text += kDetailsSerial + escapeDetailsValue(array.serial);
    text += "}";
    explicit_bzero(&clear[0], clear.size());
    return text;
}

std::string decryptStoredPassword(const std::string& stored) {
    char buffer[512] = {0};
    unsigned long length = sizeof buffer;
    std::string clear;
    if (ZYPassword::decrypt(stored.c_str(), buffer, &length)) clear = buffer;
    explicit_bzero(buffer, sizeof buffer);
    return clear;
}

std::string makeUuid(const std::string& separator) {
    std::random_device seed;
    std::mt19937_64 gen((static_cast<unsigned long long>(seed()) << 32) ^ seed());
    unsigned char bytes[16];
    for (int i = 0; i < 16; i += 8) {
        unsigned long long v = gen();
        std::memcpy(bytes + i, &v, 8);
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out += separator;
        out += hex[bytes[i] >> 4];
        out += hex[bytes[i] & 0x0F];
    }
    return out;
}

// ---- ArrayInfo ----

namespace {

// The host's getter convention: 1 for no output, else 0 with the value.
template <class T>
int give(T* out, const T& value) {
    if (!out) return 1;
    *out = value;
    return 0;
}

}  // namespace

int HostArrayInfo::getArrayNumber(int* number) { return give(number, entry_.number); }
int HostArrayInfo::getArrayName(std::string* name) { return give(name, entry_.name); }
int HostArrayInfo::getControlHost(std::string* host) { return give(host, entry_.controlHost); }
int HostArrayInfo::getUserName(std::string* user) { return give(user, entry_.user); }
int HostArrayInfo::getEncryptedPassword(std::string* password) { return give(password, entry_.storedPassword); }

// ---- SnapInfo ----

const ArrayEntry* HostSnapInfo::array() const {
    return item_.arrayNumber > 0 ? state_.findArrayByNumber(item_.arrayNumber) : nullptr;
}

void HostSnapInfo::setSnapName(const char* name) { item_.snapName = name ? name : ""; }

int HostSnapInfo::setArrayInfo(const char* details) {
    if (!details || !*details) return 1;
    std::string text(details);
    size_t bar = text.find('|');
    ArrayEntry* entry = nullptr;
    if (bar == std::string::npos) {
        entry = state_.findArrayBySerial(text);
    } else {
        std::string serial = text.substr(bar + 1);
        entry = state_.findArray(text.substr(0, bar));
        if (!entry || serial.empty()) return 1;
        entry->serial = serial;
    }
    if (!entry) return 1;
    item_.arrayNumber = entry->number;
    return 0;
}

ZYSO::SnapStatus HostSnapInfo::getStatus() { return item_.status; }

void HostSnapInfo::setStatus(ZYSO::SnapStatus status) { item_.status = status; }

void HostSnapInfo::setMappedDevice(const char* device) { item_.mappedDevice = device ? device : ""; }

int HostSnapInfo::setMetadata(int key, const char* value) {
    if (!value) return 1;
    item_.metadata[key] = value;
    return 0;
}

void HostSnapInfo::setLastError(int code, const char* message) {
    item_.lastErrorCode = code;
    item_.lastError = message ? message : "";
}

void HostSnapInfo::log(int level, const char* prefix, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = vformat(format, args);
    va_end(args);
    log_.append(level, std::string(prefix ? prefix : "") + text);
}

int HostSnapInfo::getCloneNumber() { return item_.cloneNumber; }

int HostSnapInfo::getConfigInt(const char* name, int* value) {
    const ArrayEntry* entry = array();
    if (!name || !value || !entry) return 1;
    auto it = entry->configInts.find(name);
    if (it == entry->configInts.end()) return 1;
    *value = it->second;
    return 0;
}

int HostSnapInfo::getArrayNumber() { return item_.arrayNumber; }

int HostSnapInfo::getConfigListSize(const char* name, int* count) {
    const ArrayEntry* entry = array();
    if (!name || !count || !entry) return 1;
    auto it = entry->configLists.find(name);
    *count = it == entry->configLists.end() ? 0 : static_cast<int>(it->second.size());
    return 0;
}

int HostSnapInfo::getConfigListItem(const char* name, int index, char* buffer, int* length) {
    const ArrayEntry* entry = array();
    if (!name || !length || !entry) return 1;
    auto it = entry->configLists.find(name);
    if (it == entry->configLists.end() || index < 0 || static_cast<size_t>(index) >= it->second.size()) return 1;
    const std::string& text = it->second[static_cast<size_t>(index)];
    int needed = static_cast<int>(text.size()) + 1;
    if (!buffer) {
        *length = needed;
        return 0;
    }
    if (*length < needed) {
        *length = needed;
        return 1;
    }
    std::memcpy(buffer, text.c_str(), static_cast<size_t>(needed));
    return 0;
}

bool HostSnapInfo::isFlagSet(int flag) { return (item_.flags & static_cast<unsigned>(flag)) != 0; }

void HostSnapInfo::decryptPassword(std::string stored, std::string* clear) {
    if (!clear) return;
    *clear = decryptStoredPassword(stored);
}

long long HostSnapInfo::getSnapId() { return item_.id; }

bool HostSnapInfo::getArrayInfo(ZYSO::ArrayInfo** info) {
    const ArrayEntry* entry = array();
    if (!info || !entry) return true;
    *info = new HostArrayInfo(*entry);
    return false;
}

void HostSnapInfo::releaseArrayInfo(ZYSO::ArrayInfo** info) {
    if (!info || !*info) return;
    delete static_cast<HostArrayInfo*>(*info);
    *info = nullptr;
}

bool HostSnapInfo::getSourceDevice(std::string* device) {
    if (!device || item_.sourceDevice.empty()) return false;
    *device = item_.sourceDevice;
    return true;
}

void HostSnapInfo::getMappedDevice(std::string* device) {
    if (device) *device = item_.mappedDevice;
}

bool HostSnapInfo::getMetadata(int key, std::string* value) {
    auto it = item_.metadata.find(key);
    if (!value || it == item_.metadata.end()) return false;
    *value = it->second;
    return true;
}

void HostSnapInfo::generateSnapUUID(const char* separator, long long* /*n*/, std::string* uuid) {
    if (uuid) *uuid = makeUuid(separator ? separator : "-");
}

// ---- LUNInfo ----

const ArrayEntry* HostLunInfo::array() const { return state_.findArray(item_.arrayName); }

int HostLunInfo::getDiskName(char* buffer, unsigned short* length) {
    if (item_.diskName.empty()) return 1;
    return copyOut(item_.diskName, buffer, length);
}

int HostLunInfo::getClusterName(char* buffer, unsigned short* length) {
    const ArrayEntry* entry = array();
    return entry ? copyOut(entry->name, buffer, length) : 1;
}

int HostLunInfo::getClusterControlHost(char* buffer, unsigned short* length) {
    const ArrayEntry* entry = array();
    return entry ? copyOut(entry->controlHost, buffer, length) : 1;
}

int HostLunInfo::getClusterUserName(char* buffer, unsigned short* length) {
    const ArrayEntry* entry = array();
    return entry ? copyOut(entry->user, buffer, length) : 1;
}

int HostLunInfo::getClusterPassword(char* buffer, unsigned short* length) {
    const ArrayEntry* entry = array();
    return entry ? copyOut(entry->storedPassword, buffer, length) : 1;
}

int HostLunInfo::getSize(long* bytes) { return give(bytes, static_cast<long>(item_.sizeBytes)); }

int HostLunInfo::getBlockSize(long* bytes) { return give(bytes, item_.blockSize); }

void HostLunInfo::getStatus(short* status) {
    if (status) *status = item_.status;
}

void HostLunInfo::setStatus(short status) { item_.status = status; }

void HostLunInfo::setLastError(int code, const char* message) {
    item_.lastErrorCode = code;
    item_.lastError = message ? message : "";
}

void HostLunInfo::setDeviceName(const std::string& name) { item_.deviceName = name; }

void HostLunInfo::setLunName(const std::string& name) { item_.lunName = name; }

void HostLunInfo::getDeviceName(std::string* device) {
    if (device) *device = item_.deviceName;
}

int HostLunInfo::getInitiatorInfo(char* buffer, unsigned short* length) {
    if (item_.initiatorInfo.empty()) return 1;
    return copyOut(item_.initiatorInfo, buffer, length);
}

long HostLunInfo::getLunId() { return item_.id; }

void HostLunInfo::getDescription(std::string* text) {
    if (text) *text = item_.description;
}

int HostLunInfo::getConfigValue(const std::string& name, std::string* value) {
    const ArrayEntry* entry = array();
    if (!value || !entry) return 1;
    auto number = entry->configInts.find(name);
    if (number != entry->configInts.end()) {
        *value = std::to_string(number->second);
        return 0;
    }
    auto list = entry->configLists.find(name);
    if (list != entry->configLists.end()) {
        *value = joinList(list->second, kConfigListDelimiter);
        return 0;
    }
    return 1;
}

int HostLunInfo::getSettingInt(const std::string& name, int* value) {
    auto it = state_.settings.find(name);
    if (!value || it == state_.settings.end()) return 1;
    return parseWholeInt(it->second, value) ? 0 : 1;
}

int HostLunInfo::getSettingBool(const std::string& name, bool* value) {
    auto it = state_.settings.find(name);
    if (!value || it == state_.settings.end()) return 1;
    const std::string& v = it->second;
    if (v == "1" || v == "true" || v == "yes" || v == "on")
        *value = true;
    else if (v == "0" || v == "false" || v == "no" || v == "off")
        *value = false;
    else
        return 1;
    return 0;
}

// ---- ZYOSUtil ----

int HostOSUtil::refreshBus(const char* host, const char** /*initiators*/, const char** /*devices*/) {
    ++rescans_;
    std::string error;
    return system_.rescan(host ? host : "", &error) ? 0 : 1;
}

int HostOSUtil::getArrayListByVendor(const char* vendor, int separator, int size, char* buffer) {
    if (!vendor) return -1;
    std::vector<std::string> names;
    for (const auto& a : state_.arrays)
        if (a.vendor == vendor) names.push_back(a.name);
    std::string text = joinList(names, std::string(1, static_cast<char>(separator)));
    int needed = static_cast<int>(text.size()) + 1;
    if (!buffer || size < needed) return needed;
    std::memcpy(buffer, text.c_str(), static_cast<size_t>(needed));
    return 0;
}

int HostOSUtil::getArrayDetailsByName(const char* name, char* buffer, unsigned short* size) {
    if (!name || !size) return -1;
    const ArrayEntry* entry = state_.findArray(name);
    if (!entry) return -1;
    std::string text = arrayDetailsText(*entry);
    int result;
    if (text.size() + 1 > 0xFFFF)
        result = -1;  // cannot be described by a 16-bit size
    else
        result = copyOut(text, buffer, size) == 0 ? 0 : 1;
    explicit_bzero(&text[0], text.size());
    return result;
}

long long HostOSUtil::getJobId() { return jobId_; }

bool HostOSUtil::getHostSCSIInterfaces(const char* host, const char* /*array*/, std::vector<std::string>& wwpns,
                                       std::vector<std::string>& iqns) {
    std::string error;
    std::vector<std::string> w, i;
    if (!system_.interfaces(host ? host : "", &w, &i, &error)) return false;
    wwpns = std::move(w);
    iqns = std::move(i);
    return true;
}

bool HostOSUtil::getDeviceList(const char* host, const char* filter, std::vector<std::string>& devices) {
    std::string error;
    std::vector<std::string> all;
    if (!system_.devices(host ? host : "", &all, &error)) return false;
    devices.clear();
    for (auto& d : all)
        if (!filter || !*filter || d.find(filter) != std::string::npos) devices.push_back(d);
    return true;
}

}  // namespace KrvnHost
