// The exported C entry points of the plug-in, as the host declares them.
#pragma once

#include "ZYSOHost.h"

#define ZYSO_EXPORT __attribute__((visibility("default")))

extern "C" {
ZYSO_EXPORT void zyso_version(short* major, short* minor, short* revision);
ZYSO_EXPORT int zyso_isSupported(const char* device, int unused, ZYSO::ZYOSUtil* osUtil, char* errBuf, int errBufSize);
ZYSO_EXPORT int zyso_prepareDevices(ZYSO::SnapInfo** items, int count, ZYSO::ZYOSUtil* osUtil);
ZYSO_EXPORT int zyso_unprepareDevices(ZYSO::SnapInfo** items, int count, ZYSO::ZYOSUtil* osUtil);
ZYSO_EXPORT int zyso_snapDevices(ZYSO::SnapInfo** items, int count, ZYSO::ZYOSUtil* osUtil);
ZYSO_EXPORT int zyso_deleteSnaps(ZYSO::SnapInfo** items, int count, ZYSO::ZYOSUtil* osUtil);
ZYSO_EXPORT int zyso_isMapped(ZYSO::SnapInfo** items, int count, ZYSO::ZYOSUtil* osUtil);
ZYSO_EXPORT int zyso_mapSnaps(ZYSO::SnapInfo** items, int count, ZYSO::ZYOSUtil* osUtil);
ZYSO_EXPORT int zyso_unmapSnaps(ZYSO::SnapInfo** items, int count, ZYSO::ZYOSUtil* osUtil);
ZYSO_EXPORT int zyso_revertSnaps(ZYSO::SnapInfo** items, int count, ZYSO::ZYOSUtil* osUtil);
ZYSO_EXPORT int zyso_reconcileSnaps(ZYSO::SnapInfo** items, int count, ZYSO::ZYOSUtil* osUtil);

ZYSO_EXPORT void zyso_sProvVersion(short* major, short* minor, short* revision);
ZYSO_EXPORT int zyso_createLUNs(ZYSO::LUNInfo** luns, short count, ZYSO::ZYOSUtil* osUtil);
ZYSO_EXPORT int zyso_deleteLUNs(ZYSO::LUNInfo** luns, short count, ZYSO::ZYOSUtil* osUtil);
ZYSO_EXPORT int zyso_resizeLUNs(ZYSO::LUNInfo** luns, short count, ZYSO::ZYOSUtil* osUtil);
ZYSO_EXPORT int zyso_mapLUNs(ZYSO::LUNInfo** luns, short count, ZYSO::ZYOSUtil* osUtil);
ZYSO_EXPORT int zyso_unmapLUNs(ZYSO::LUNInfo** luns, short count, ZYSO::ZYOSUtil* osUtil);
ZYSO_EXPORT int zyso_resolveLunsToUsers(ZYSO::LUNInfo** luns, short count, ZYSO::ZYOSUtil* osUtil);
}

// Function-pointer types a host uses after dlsym.
typedef int (*zyso_snap_fn)(ZYSO::SnapInfo**, int, ZYSO::ZYOSUtil*);
typedef int (*zyso_lun_fn)(ZYSO::LUNInfo**, short, ZYSO::ZYOSUtil*);
typedef void (*zyso_version_fn)(short*, short*, short*);
typedef int (*zyso_is_supported_fn)(const char*, int, ZYSO::ZYOSUtil*, char*, int);
