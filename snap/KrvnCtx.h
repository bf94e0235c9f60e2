// KrvnCtx: the state of one snapshot entry call, and KrvnSnapObject, its view of one host item.
//
// A context belongs to one entry call on one thread. initialize() checks the host's items,
// wraps every item that still needs work in a KrvnSnapObject (owned, keyed and ordered by the
// item's snapshot id) and gathers from the host what the engine needs before the cluster is
// contacted: source devices, VMware origin, snapshot metadata, array connection details and
// the array's snapshot configuration. The host items themselves stay the host's: the context
// only borrows them. The snapshot objects and the map context (KrvnMapCtx) die with it.
// Every step reports through the inherited error state (0 or a code, sentence in errorText).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "KrvnCommonCtx.h"
#include "KrvnMapCtx.h"
#include "ZYSOHost.h"

namespace ZYSnapKrvn {

// Operation types a snapshot entry point hands to its context.
enum KrvnSnapOpType : int16_t {
    ZY_KRVN_SNAP_OP_SUPPORT_CHECK = 1,
    ZY_KRVN_SNAP_OP_PREPARE = 2,
    ZY_KRVN_SNAP_OP_CREATE = 3,
    ZY_KRVN_SNAP_OP_DELETE = 4,
    ZY_KRVN_SNAP_OP_MAP = 5,
    ZY_KRVN_SNAP_OP_UNMAP = 6,
    ZY_KRVN_SNAP_OP_REVERT = 7,
    ZY_KRVN_SNAP_OP_RECONCILE = 8,
};

// Item statuses (ZYSO::SnapStatus) of the snapshot family.
enum KrvnSnapStatus : int {
    ZY_KRVN_SNAP_STATUS_PREPARED = 1,
    ZY_KRVN_SNAP_STATUS_PREPARE_FAILED = 2,
    ZY_KRVN_SNAP_STATUS_CREATED = 5,
    ZY_KRVN_SNAP_STATUS_CREATE_FAILED = 6,
    ZY_KRVN_SNAP_STATUS_NOT_MAPPED = 11,
    ZY_KRVN_SNAP_STATUS_MAPPED = 12,
    ZY_KRVN_SNAP_STATUS_UNMAPPED = 14,
    ZY_KRVN_SNAP_STATUS_UNMAP_FAILED = 15,
    ZY_KRVN_SNAP_STATUS_DELETED = 20,
    ZY_KRVN_SNAP_STATUS_DELETE_FAILED = 21,
    ZY_KRVN_SNAP_STATUS_REVERTED = 22,
    ZY_KRVN_SNAP_STATUS_REVERT_FAILED = 23,
    ZY_KRVN_SNAP_STATUS_EXTERNALLY_DELETED = 24,
};

// Metadata keys on the host item and the request flag that selects test-mount clone names.
constexpr int ZY_KRVN_SNAP_METADATA_KEY = 6;
constexpr int ZY_KRVN_CLONE_METADATA_KEY = 149;
constexpr int ZY_KRVN_TEST_MOUNT_FLAG = 0x8000;

// The engine's view of one host item. Plain values plus the borrowed host item.
struct KrvnSnapObject {
    ZYSO::SnapInfo* snapInfo = nullptr;  // not owned
    std::string sourceDevice;
    std::string sourceVDiskId;  // decimal SCSI serial of the source vDisk
    std::string sourceVDiskName;
    std::string snapUUID;
    std::string snapName;    // snapshot name on the cluster
    std::string snapTarget;  // iSCSI target IQN carrying the mapped clone
    std::string mountCloneName;
    int64_t cloneScsiSerial = 0;
    int16_t snapState = 0;  // last map-time status set on the host item
    bool isVMware = false;

    void reset() { *this = KrvnSnapObject(); }
    void dump(std::string& out) const;
};

// True when every item's status is "deleted" (so an empty list counts as all deleted).
// Every item must be non-null.
bool AreAllSnapsDeleted(ZYSO::SnapInfo** items, int count);
// Marks every non-null item whose status is not `keep` as `failed`.
void setSnapStatus(ZYSO::SnapStatus keep, ZYSO::SnapStatus failed, ZYSO::SnapInfo** items, int count);

class KrvnCtx : public ZYKorvanCommon::KrvnCommonCtx {
public:
    KrvnCtx(ZYSO::ZYOSUtil* osUtil, long long unused, int opType);
    ~KrvnCtx() override;

    int initialize(ZYSO::SnapInfo** items, int count);

    // ---- Steps of initialize ---------------------------------------------------------------
    int validateInputParams(ZYSO::SnapInfo** items, int count);
    int fetchAndFillSnapInfo();
    int checkIfVMwareDevice(KrvnSnapObject* obj);
    // Not KrvnUtils::GetArrayDetailsFromDB (capital G), the prepare step that calls this one.
    int getArrayDetailsFromDB();
    void readAndSetArrayConfigs();
    // Problems go only to the log: a missing or unreadable list leaves `list` short.
    void readSnapConfigList(ZYSO::SnapInfo* item, const char* key, std::vector<std::string>& list);

    // ---- Snapshot and clone metadata (KrvnMetadata.cpp) -----------------------------------
    void setSnapMetadata(KrvnSnapObject* obj);
    int updateSnapMetadata(KrvnSnapObject* obj);
    int fillSnapInfoFromMetadata(KrvnSnapObject* obj);
    int fillMountCloneNameForSnap(KrvnSnapObject* obj);
    void setCloneMetadata(KrvnSnapObject* obj);
    // 0 or 1; reports only through the log, never through the error state.
    int getMountInfoFromMetadata(KrvnSnapObject* obj, std::string& cloneName, std::string& cloneSerial,
                                 std::string& storageProxy);

    // The first object (lowest id), or null when there is none.
    KrvnSnapObject* firstObject() const { return snapItems.empty() ? nullptr : snapItems.begin()->second; }

    // Fields, in their documented order.
    ZYSO::SnapInfo** snapItemsArray = nullptr;       // the host's array, not owned
    KrvnMapCtx* mapCtx = nullptr;                    // owned; created by map and unmap
    std::map<long long, KrvnSnapObject*> snapItems;  // owned; items that still need work
    int32_t itemCount = 0;
    int16_t opType = 0;
    bool sourceIsVMware = false;

private:
    int readConfigInt(ZYSO::SnapInfo* item, const char* key, int fallback);
};

}  // namespace ZYSnapKrvn
