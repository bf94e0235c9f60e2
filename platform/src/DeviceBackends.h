// Internal to the platform: the device backends behind ZyDeviceTree.
#pragma once

#include <string>

#include "ZyDeviceTree.h"

namespace ZyPlatform {
// The "sim" backend: the device of this host at that path, as the cluster simulator
// ([Platform] simulatorUrl) sees it; empty with the error set when there is none.
SP<ZyDevice> openSimDevice(const std::string& path, CWqError* error);
// The "libiscsi" backend: the device of a session of this process (ZyIscsiSessions.h); every
// CDB runs through that session.
SP<ZyDevice> openLibiscsiDevice(const std::string& path, CWqError* error);
}  // namespace ZyPlatform
