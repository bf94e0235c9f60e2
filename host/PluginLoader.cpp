#include "PluginLoader.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>
#include <filesystem>

namespace KrvnHost {

namespace {

const char* const kPluginFile = "libZYKorvanSnap.so";

template <class Fn>
bool resolve(void* handle, const char* name, Fn* out, std::string* error) {
    dlerror();
    void* address = dlsym(handle, name);
    if (!address) {
        const char* why = dlerror();
        *error = std::string("entry point ") + name + " not found: " + (why ? why : "null address");
        return false;
    }
    *out = reinterpret_cast<Fn>(address);
    return true;
}

}  // namespace

std::string executableDir() {
    char buffer[PATH_MAX] = {0};
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return "";
    std::string path(buffer, static_cast<size_t>(n));
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash);
}

std::string besideExecutable(const std::string& relative) {
    std::string dir = executableDir();
    return (std::filesystem::path(dir.empty() ? "." : dir) / relative).lexically_normal().string();
}

std::string Plugin::defaultPath() {
    return besideExecutable(std::string(KRVN_HOST_PLUGIN_FROM_BIN) + "/" + kPluginFile);
}

Plugin::~Plugin() {
    if (handle_) dlclose(handle_);
}

bool Plugin::load(const std::string& path, std::string* error) {
    if (handle_) {
        *error = "a plug-in is already loaded from " + path_;
        return false;
    }
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = dlerror();
        *error = "cannot load the plug-in " + path + ": " + (why ? why : "unknown reason");
        return false;
    }
    PluginApi api;
    bool ok = resolve(handle, "zyso_version", &api.version, error) &&
              resolve(handle, "zyso_isSupported", &api.isSupported, error) &&
              resolve(handle, "zyso_prepareDevices", &api.prepareDevices, error) &&
              resolve(handle, "zyso_unprepareDevices", &api.unprepareDevices, error) &&
              resolve(handle, "zyso_snapDevices", &api.snapDevices, error) &&
              resolve(handle, "zyso_deleteSnaps", &api.deleteSnaps, error) &&
              resolve(handle, "zyso_isMapped", &api.isMapped, error) &&
              resolve(handle, "zyso_mapSnaps", &api.mapSnaps, error) &&
              resolve(handle, "zyso_unmapSnaps", &api.unmapSnaps, error) &&
              resolve(handle, "zyso_revertSnaps", &api.revertSnaps, error) &&
              resolve(handle, "zyso_reconcileSnaps", &api.reconcileSnaps, error) &&
              resolve(handle, "zyso_sProvVersion", &api.provVersion, error) &&
              resolve(handle, "zyso_createLUNs", &api.createLUNs, error) &&
              resolve(handle, "zyso_deleteLUNs", &api.deleteLUNs, error) &&
              resolve(handle, "zyso_resizeLUNs", &api.resizeLUNs, error) &&
              resolve(handle, "zyso_mapLUNs", &api.mapLUNs, error) &&
              resolve(handle, "zyso_unmapLUNs", &api.unmapLUNs, error) &&
              resolve(handle, "zyso_resolveLunsToUsers", &api.resolveLunsToUsers, error);
    if (!ok) {
        *error = path + ": " + *error;
        dlclose(handle);
        return false;
    }
    handle_ = handle;
    path_ = path;
    api_ = api;
    return true;
}

}  // namespace KrvnHost
