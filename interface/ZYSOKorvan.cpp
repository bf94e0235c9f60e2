// Snapshot entry points of the plug-in.
#include "ZYSOExports.h"

extern "C" {
ZYSO_EXPORT void zyso_version(short* major, short* minor, short* revision) {
    if (!major || !minor || !revision) return;
    *major = 1;
    *minor = 1;
    *revision = 1;
}
}
