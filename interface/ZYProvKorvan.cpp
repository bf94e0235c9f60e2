// The provisioning entry points. Each is one row of the operation table run through the
// shared sequence (KrvnProvEntry), which catches everything so no exception reaches the host.
#include "KrvnProvEntry.h"
#include "KrvnTextsProv.h"
#include "ZYSOExports.h"

using namespace ZYProvKorvan;

extern "C" {

ZYSO_EXPORT void zyso_sProvVersion(short* major, short* minor, short* revision) { provVersion(major, minor, revision); }

ZYSO_EXPORT int zyso_createLUNs(ZYSO::LUNInfo** luns, short count, ZYSO::ZYOSUtil* osUtil) {
    return provEntry(ZY_KRVN_PROV_OP_CREATE, luns, count, osUtil);
}

ZYSO_EXPORT int zyso_deleteLUNs(ZYSO::LUNInfo** luns, short count, ZYSO::ZYOSUtil* osUtil) {
    return provEntry(ZY_KRVN_PROV_OP_DELETE, luns, count, osUtil);
}

ZYSO_EXPORT int zyso_resizeLUNs(ZYSO::LUNInfo** luns, short count, ZYSO::ZYOSUtil* osUtil) {
    return provEntry(ZY_KRVN_PROV_OP_RESIZE, luns, count, osUtil);
}

ZYSO_EXPORT int zyso_mapLUNs(ZYSO::LUNInfo** luns, short count, ZYSO::ZYOSUtil* osUtil) {
    return provEntry(ZY_KRVN_PROV_OP_MAP, luns, count, osUtil);
}

ZYSO_EXPORT int zyso_unmapLUNs(ZYSO::LUNInfo** luns, short count, ZYSO::ZYOSUtil* osUtil) {
    return provEntry(ZY_KRVN_PROV_OP_UNMAP, luns, count, osUtil);
}

// Resolving disks to users is not offered by this array: always a failure, nothing touched.
ZYSO_EXPORT int zyso_resolveLunsToUsers(ZYSO::LUNInfo**, short, ZYSO::ZYOSUtil*) { return 1; }
}
