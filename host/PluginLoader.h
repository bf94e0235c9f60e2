// Loads the plug-in the way a host framework does: dlopen of the shared library, then dlsym of
// every exported entry point by its plain name. The library stays loaded while the object lives.
#pragma once

#include <string>

#include "ZYSOExports.h"

namespace KrvnHost {

struct PluginApi {
    zyso_version_fn version = nullptr;
    zyso_is_supported_fn isSupported = nullptr;
    zyso_snap_fn prepareDevices = nullptr;
    zyso_snap_fn unprepareDevices = nullptr;
    zyso_snap_fn snapDevices = nullptr;
    zyso_snap_fn deleteSnaps = nullptr;
    zyso_snap_fn isMapped = nullptr;
    zyso_snap_fn mapSnaps = nullptr;
    zyso_snap_fn unmapSnaps = nullptr;
    zyso_snap_fn revertSnaps = nullptr;
    zyso_snap_fn reconcileSnaps = nullptr;
    zyso_version_fn provVersion = nullptr;
    zyso_lun_fn createLUNs = nullptr;
    zyso_lun_fn deleteLUNs = nullptr;
    zyso_lun_fn resizeLUNs = nullptr;
    zyso_lun_fn mapLUNs = nullptr;
    zyso_lun_fn unmapLUNs = nullptr;
    zyso_lun_fn resolveLunsToUsers = nullptr;
};

class Plugin {
public:
    Plugin() = default;
    ~Plugin();
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    // False with *error naming the library or the missing entry point.
    bool load(const std::string& path, std::string* error);
    bool loaded() const { return handle_ != nullptr; }
    const PluginApi& api() const { return api_; }
    const std::string& path() const { return path_; }

    // libZYKorvanSnap.so in the plug-in folder of this installation (or build tree).
    static std::string defaultPath();

private:
    void* handle_ = nullptr;
    std::string path_;
    PluginApi api_;
};

// Directory of the running executable (no trailing slash), empty when unknown.
std::string executableDir();

// A path relative to the running executable's folder. korvan-host's companions (the plug-in,
// the captured pages) are where the install layout puts them, in an installation under any
// prefix or root and in the build tree, which mirrors that layout.
std::string besideExecutable(const std::string& relative);

}  // namespace KrvnHost
