#include "HostState.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

namespace KrvnHost {

using nlohmann::json;

namespace {

const int kStateFormat = 1;

// Reads one member when present; a member of the wrong type throws json::type_error, which
// load() turns into a refusal.
template <class T>
void readOptional(const json& object, const char* key, T* out) {
    auto it = object.find(key);
    if (it != object.end() && !it->is_null()) *out = it->get<T>();
}

std::string errnoText(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

bool writeAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string directoryOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

}  // namespace

void to_json(json& j, const SnapItem& s) {
    json meta = json::object();
    for (const auto& [key, value] : s.metadata) meta[std::to_string(key)] = value;
    j = json{{"id", s.id},
             {"sourceDevice", s.sourceDevice},
             {"status", s.status},
             {"metadata", meta},
             {"mappedDevice", s.mappedDevice},
             {"snapName", s.snapName},
             {"cloneNumber", s.cloneNumber},
             {"flags", s.flags},
             {"arrayNumber", s.arrayNumber},
             {"lastErrorCode", s.lastErrorCode},
             {"lastError", s.lastError}};
}

void from_json(const json& j, SnapItem& s) {
    s = SnapItem();
    readOptional(j, "id", &s.id);
    readOptional(j, "sourceDevice", &s.sourceDevice);
    readOptional(j, "status", &s.status);
    if (j.contains("metadata")) {
        for (const auto& [key, value] : j.at("metadata").items()) {
            size_t used = 0;
            int number = std::stoi(key, &used);
            if (used != key.size()) throw std::invalid_argument("metadata key " + key);
            s.metadata[number] = value.get<std::string>();
        }
    }
    readOptional(j, "mappedDevice", &s.mappedDevice);
    readOptional(j, "snapName", &s.snapName);
    readOptional(j, "cloneNumber", &s.cloneNumber);
    readOptional(j, "flags", &s.flags);
    readOptional(j, "arrayNumber", &s.arrayNumber);
    readOptional(j, "lastErrorCode", &s.lastErrorCode);
    readOptional(j, "lastError", &s.lastError);
}

namespace {

template <class T, class Pred>
T* findIn(std::vector<T>& items, Pred pred) {
    auto it = std::find_if(items.begin(), items.end(), pred);
    return it == items.end() ? nullptr : &*it;
}

}  // namespace

ArrayEntry* HostState::findArray(const std::string& name) {
    return findIn(arrays, [&](const ArrayEntry& a) { return a.name == name; });
}

ArrayEntry* HostState::findArrayByNumber(int number) {
    return findIn(arrays, [&](const ArrayEntry& a) { return a.number == number; });
}

ArrayEntry* HostState::findArrayBySerial(const std::string& serial) {
    if (serial.empty()) return nullptr;
    return findIn(arrays, [&](const ArrayEntry& a) { return a.serial == serial; });
}

SnapItem* HostState::findSnap(long long id) {
    return findIn(snaps, [&](const SnapItem& s) { return s.id == id; });
}

LunItem* HostState::findLun(long id) {
    return findIn(luns, [&](const LunItem& l) { return l.id == id; });
}

int HostState::nextArrayNumber() const {
    int highest = 0;
    for (const auto& a : arrays) highest = std::max(highest, a.number);
    return highest + 1;
}

void HostState::trimLog(size_t keep) {
    if (log.size() > keep) log.erase(log.begin(), log.end() - static_cast<std::ptrdiff_t>(keep));
}

std::string stateToJsonText(const HostState& state) {
    json j{{"format", kStateFormat},       {"lastJobId", state.lastJobId}, {"lastSnapId", state.lastSnapId},
           {"lastLunId", state.lastLunId}, {"arrays", state.arrays},       {"snapItems", state.snaps},
           {"lunItems", state.luns},       {"settings", state.settings},   {"log", state.log}};
    // Replacement of invalid UTF-8 keeps a stray byte from the plug-in's texts from making the
    // whole state unwritable.
    return j.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

bool stateFromJsonText(const std::string& text, HostState* state, std::string* error) {
    try {
        json j = json::parse(text);
        if (!j.is_object()) {
            *error = "the top level is not a JSON object";
            return false;
        }
        int format = kStateFormat;
        readOptional(j, "format", &format);
        if (format != kStateFormat) {
            *error = "unknown state format " + std::to_string(format);
            return false;
        }
        HostState out;
        readOptional(j, "lastJobId", &out.lastJobId);
        readOptional(j, "lastSnapId", &out.lastSnapId);
        readOptional(j, "lastLunId", &out.lastLunId);
        readOptional(j, "arrays", &out.arrays);
        readOptional(j, "snapItems", &out.snaps);
        readOptional(j, "lunItems", &out.luns);
        readOptional(j, "settings", &out.settings);
        readOptional(j, "log", &out.log);
        *state = std::move(out);
        return true;
    } catch (const std::exception& e) {
        *error = e.what();
        return false;
    }
}

bool StateFile::load(HostState* state, std::string* error) const {
    int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            *state = HostState();
            return true;
        }
        *error = errnoText("Cannot read the state file", path_);
        return false;
    }
    std::string text;
    char chunk[65536];
    ssize_t n;
    while ((n = ::read(fd, chunk, sizeof chunk)) != 0) {
        if (n < 0) {
            if (errno == EINTR) continue;
            *error = errnoText("Cannot read the state file", path_);
            ::close(fd);
            return false;
        }
        text.append(chunk, static_cast<size_t>(n));
    }
    ::close(fd);
    std::string reason;
    if (!stateFromJsonText(text, state, &reason)) {
        *error = "The state file " + path_ + " is corrupted (" + reason +
                 "). It was left untouched; move it aside or repair it, then run the command again.";
        return false;
    }
    return true;
}

bool StateFile::save(const HostState& state, std::string* error) const {
    const std::string text = stateToJsonText(state);
    std::string tmpl = path_ + ".tmp.XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    int fd = ::mkstemp(name.data());
    if (fd < 0) {
        *error = errnoText("Cannot create a temporary file next to", path_);
        return false;
    }
    const std::string tmp(name.data());
    ::fchmod(fd, 0600);  // the file holds stored passwords
    bool ok = writeAll(fd, text) && ::fsync(fd) == 0;
    if (!ok) *error = errnoText("Cannot write", tmp);
    if (::close(fd) != 0 && ok) {
        ok = false;
        *error = errnoText("Cannot close", tmp);
    }
    if (ok && ::rename(tmp.c_str(), path_.c_str()) != 0) {
        ok = false;
        *error = errnoText("Cannot replace", path_);
    }
    if (!ok) {
        ::unlink(tmp.c_str());
        return false;
    }
    // The rename itself is durable only once the directory entry is on disk.
    int dir = ::open(directoryOf(path_).c_str(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

}  // namespace KrvnHost
