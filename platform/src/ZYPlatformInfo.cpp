// The settings store over inih, and the stand-ins' convenience readers.
#include "ZYPlatformInfo.h"

#include <ini.h>

#include <sys/stat.h>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "PlatformSettings.h"

namespace ZyPlatform {
namespace {

std::string lowered(const std::string& text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

int collect(void* user, const char* section, const char* key, const char* value) {
    static_cast<SettingsStore*>(user)->put(section ? section : "", key ? key : "", value ? value : "");
    return 1;
}

bool parseDecimal(const std::string& text, long* value) {
    const char* begin = text.c_str();
    while (std::isspace(static_cast<unsigned char>(*begin))) ++begin;
    if (*begin == '\0') return false;
    char* end = nullptr;
    errno = 0;
    long parsed = std::strtol(begin, &end, 10);
    if (errno == ERANGE || end == begin) return false;
    while (std::isspace(static_cast<unsigned char>(*end))) ++end;
    if (*end != '\0') return false;
    *value = parsed;
    return true;
}

// The innermost scope of this thread; null outside any.
thread_local const SettingsStore* t_scopeStore = nullptr;
thread_local unsigned long long t_scopeSerial = 0;
std::atomic<unsigned long long> g_scopeSerials{0};

// -1 with the errno when the file cannot be read as a file, else what the parser answers (0,
// or the first line it refused; inih reads on past it, so one bad line keeps the others).
int parseFile(const std::string& path, ini_handler handler, void* user, int* openError) {
    struct stat info {};
    int reason = 0;
    FILE* in = nullptr;
    if (::stat(path.c_str(), &info) != 0)
        reason = errno;
    else if (S_ISDIR(info.st_mode))
        reason = EISDIR;
    else if (!(in = std::fopen(path.c_str(), "r")))
        reason = errno;
    if (openError) *openError = reason;
    if (!in) return -1;
    const int line = ini_parse_file(in, handler, user);
    std::fclose(in);
    return line;
}

}  // namespace

SettingsStore SettingsStore::read(std::string* path, int* status, int* openError) {
    SettingsStore store;
    const std::string file = ZYPlatformInfo::settingsPath();
    if (path) *path = file;
    const int result = parseFile(file, collect, &store, openError);
    if (status) *status = result;
    return store;
}

SettingsStore SettingsStore::load() {
    if (t_scopeStore) return *t_scopeStore;
    return read(nullptr, nullptr, nullptr);
}

const SettingsStore* SettingsStore::inScope(unsigned long long* serial) {
    if (serial) *serial = t_scopeSerial;
    return t_scopeStore;
}

void SettingsStore::put(const std::string& section, const std::string& key, const std::string& value) {
    values_[{lowered(section), lowered(key)}] = value;
}

bool SettingsStore::has(const std::string& section, const std::string& key) const {
    return values_.count({lowered(section), lowered(key)}) != 0;
}

bool SettingsStore::text(const std::string& section, const std::string& key, std::string* value) const {
    auto it = values_.find({lowered(section), lowered(key)});
    if (it == values_.end()) return false;
    if (value) *value = it->second;
    return true;
}

bool SettingsStore::integer(const std::string& section, const std::string& key, long* value) const {
    std::string raw;
    long parsed = 0;
    if (!text(section, key, &raw) || !parseDecimal(raw, &parsed)) return false;
    if (value) *value = parsed;
    return true;
}

std::string SettingsStore::platformText(const char* key, const std::string& fallback) const {
    std::string value;
    return text(Setting::kSection, key, &value) ? value : fallback;
}

long SettingsStore::platformInteger(const char* key, long fallback) const {
    long value = 0;
    return integer(Setting::kSection, key, &value) ? value : fallback;
}

std::string platformString(const char* key, const std::string& fallback) {
    return CurrentSettings()->platformText(key, fallback);
}

long platformNumber(const char* key, long fallback) { return CurrentSettings()->platformInteger(key, fallback); }

}  // namespace ZyPlatform

ZYPlatformInfo::ZYPlatformInfo() = default;

std::string ZYPlatformInfo::settingsPath() {
    const char* path = std::getenv(ZyPlatform::Default::kSettingsEnv);
    return (path && *path) ? path : ZyPlatform::Default::kSettingsPath;
}

int ZYPlatformInfo::getString(const char* section, const char* key, std::string* value) {
    if (!section || !key) return 0;
    return ZyPlatform::CurrentSettings()->text(section, key, value) ? 1 : 0;
}

int ZYPlatformInfo::getNumber(const char* section, const char* key, unsigned long* value) {
    if (!section || !key) return 0;
    long parsed = 0;
    if (!ZyPlatform::CurrentSettings()->integer(section, key, &parsed)) return 0;
    // Negative values keep their bit pattern: callers that read them back as long get the
    // number that was written.
    if (value) *value = static_cast<unsigned long>(parsed);
    return 1;
}

int ZYPlatformInfo::checkSettingsFile(std::string* path, int* openError) {
    const std::string file = settingsPath();
    if (path) *path = file;
    return ZyPlatform::parseFile(
        file, [](void*, const char*, const char*, const char*) { return 1; }, nullptr, openError);
}

struct ZYPlatformSettingsScope::State {
    ZyPlatform::SettingsStore store;
    const ZyPlatform::SettingsStore* outer = nullptr;
    unsigned long long outerSerial = 0;
    std::string path;
    int status = 0;
    int openError = 0;
};

ZYPlatformSettingsScope::ZYPlatformSettingsScope() : state_(std::make_unique<State>()) {
    state_->store = ZyPlatform::SettingsStore::read(&state_->path, &state_->status, &state_->openError);
    state_->outer = ZyPlatform::t_scopeStore;
    state_->outerSerial = ZyPlatform::t_scopeSerial;
    ZyPlatform::t_scopeStore = &state_->store;
    ZyPlatform::t_scopeSerial = ++ZyPlatform::g_scopeSerials;
}

ZYPlatformSettingsScope::~ZYPlatformSettingsScope() {
    ZyPlatform::t_scopeStore = state_->outer;
    ZyPlatform::t_scopeSerial = state_->outerSerial;
}

int ZYPlatformSettingsScope::status(std::string* path, int* openError) const {
    if (path) *path = state_->path;
    if (openError) *openError = state_->openError;
    return state_->status;
}
