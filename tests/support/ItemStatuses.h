// The host's status values and metadata keys as the tests name them. Written out here rather
// than taken from the plug-in's own constants, so that a wrong value in the plug-in fails a test
// instead of moving with it.
#pragma once

namespace krvntest {

// Snapshot items (ZYSO::SnapStatus).
enum SnapStatus : int {
    kSnapNew = 0,  // the host's own: never handed to the plug-in
    kSnapPrepared = 1,
    kSnapPrepareFailed = 2,
    kSnapCreated = 5,
    kSnapCreateFailed = 6,
    kSnapNotMapped = 11,
    kSnapMapped = 12,
    kSnapUnmapped = 14,
    kSnapUnmapFailed = 15,
    kSnapDeleted = 20,
    kSnapDeleteFailed = 21,
    kSnapReverted = 22,
    kSnapRevertFailed = 23,
    kSnapGoneFromArray = 24,
};

// Provisioning items (ZYSO::LUNInfo::getStatus).
enum LunStatus : short {
    kLunNew = -1,  // the host's own: never handed to the plug-in
    kLunCreated = 0,
    kLunCreateFailed = 1,
    kLunResized = 2,
    kLunResizeFailed = 3,
    kLunMapped = 9,
    kLunMapFailed = 11,
    kLunUnmapped = 14,
    kLunUnmapFailed = 15,
    kLunDeleted = 20,
    kLunDeleteFailed = 21,
};

// Snapshot item metadata: the snapshot's identity ("cluster**vDisk**serial**snapshot**") and,
// while mapped, the clone's ("clone**LUN**proxy**").
constexpr int kMetaSnapshot = 6;
constexpr int kMetaClone = 149;

}  // namespace krvntest
