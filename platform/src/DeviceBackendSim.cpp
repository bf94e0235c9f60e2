// The "sim" device backend (replaced by the simulator's implementation).
#include "DeviceBackends.h"

namespace ZyPlatform {
SP<ZyDevice> openSimDevice(const std::string& path, CWqError* error) {
    if (error) error->Set(1, "the sim device backend is not available for [" + path + "]");
    return nullptr;
}
}  // namespace ZyPlatform
