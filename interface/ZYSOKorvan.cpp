// The snapshot entry points of the plug-in. Each names its operation; the frame that runs it
// (and catches everything, so no exception reaches the host) is KrvnSnapEntry.
#include "KrvnSnapEntry.h"
#include "KrvnTextsSnap.h"
#include "ZYSOExports.h"

using namespace ZYSnapKrvn;

extern "C" {

ZYSO_EXPORT void zyso_version(short* major, short* minor, short* revision) { snapVersion(major, minor, revision); }

ZYSO_EXPORT int zyso_isSupported(const char* device, int, ZYSO::ZYOSUtil* osUtil, char* errBuf, int errBufSize) {
    return snapIsSupported(device, osUtil, errBuf, errBufSize);
}

ZYSO_EXPORT int zyso_prepareDevices(ZYSO::SnapInfo** items, int count, ZYSO::ZYOSUtil* osUtil) {
    return snapEntry(ZY_KRVN_SNAP_OP_PREPARE, items, count, osUtil);
}

ZYSO_EXPORT int zyso_unprepareDevices(ZYSO::SnapInfo** items, int count, ZYSO::ZYOSUtil*) {
    return snapUnsupported(items, count, ZY_KRVN_JOB_UNPREPARE_UNSUPPORTED);
}

ZYSO_EXPORT int zyso_snapDevices(ZYSO::SnapInfo** items, int count, ZYSO::ZYOSUtil* osUtil) {
    return snapEntry(ZY_KRVN_SNAP_OP_CREATE, items, count, osUtil);
}

ZYSO_EXPORT int zyso_deleteSnaps(ZYSO::SnapInfo** items, int count, ZYSO::ZYOSUtil* osUtil) {
    return snapEntry(ZY_KRVN_SNAP_OP_DELETE, items, count, osUtil);
}

ZYSO_EXPORT int zyso_isMapped(ZYSO::SnapInfo** items, int count, ZYSO::ZYOSUtil*) {
    return snapUnsupported(items, count, ZY_KRVN_JOB_ISMAPPED_UNSUPPORTED);
}

ZYSO_EXPORT int zyso_mapSnaps(ZYSO::SnapInfo** items, int count, ZYSO::ZYOSUtil* osUtil) {
    return snapEntry(ZY_KRVN_SNAP_OP_MAP, items, count, osUtil);
}

ZYSO_EXPORT int zyso_unmapSnaps(ZYSO::SnapInfo** items, int count, ZYSO::ZYOSUtil* osUtil) {
    return snapEntry(ZY_KRVN_SNAP_OP_UNMAP, items, count, osUtil);
}

ZYSO_EXPORT int zyso_revertSnaps(ZYSO::SnapInfo** items, int count, ZYSO::ZYOSUtil* osUtil) {
    return snapEntry(ZY_KRVN_SNAP_OP_REVERT, items, count, osUtil);
}

ZYSO_EXPORT int zyso_reconcileSnaps(ZYSO::SnapInfo** items, int count, ZYSO::ZYOSUtil* osUtil) {
    return snapEntry(ZY_KRVN_SNAP_OP_RECONCILE, items, count, osUtil);
}

}  // extern "C"
