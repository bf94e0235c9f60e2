// KrvnUtils: the snapshot engine, run by the snapshot entry points on one KrvnCtx.
//
// The engine borrows its context (never owns it) and, through KrvnCommonUtils, owns the iSCSI
// module once map or unmap loads it. Every step returns 0 or an error code and leaves its
// sentence in the context. Families live in one source file each: device identity
// (KrvnUtils.cpp), preparation and discovery (KrvnPrepare.cpp), create/delete/revert/
// reconcile (KrvnSnapshotSteps.cpp), map (KrvnMap.cpp) and unmap (KrvnUnmap.cpp).
#pragma once

#include <string>
#include <vector>

#include "KrvnCommonUtils.h"
#include "KrvnCtx.h"
#include "KrvnMapCtx.h"

namespace ZYSnapKrvn {

class KrvnUtils : public ZYKorvanCommon::KrvnCommonUtils {
public:
    explicit KrvnUtils(KrvnCtx* context);
    ~KrvnUtils() override;

    KrvnCtx* snapCtx() const { return kctx; }

    // ---- Device identity (support check) ---------------------------------------------------
    // 0 when the device answers the standard inquiry as a Korvan vDisk, else the error code.
    int isKorvanDevice(const std::string& device);

    // ---- Source preparation and discovery --------------------------------------------------
    int InquireDeviceDetails();
    int processSCSIDetails(const std::vector<int>& pages, int unused);
    int processSCSIDetailsForVMware();  // VMware sources cannot be prepared: always 1
    // Not KrvnCtx::getArrayDetailsFromDB (small g), which this step calls for the host's record.
    int GetArrayDetailsFromDB();
    int identifyArray(KrvnSnapObject* obj, const std::string& scsiSerial);  // 0 or 1
    int matchArray(KrvnSnapObject* obj, const std::string& scsiSerial,
                   const std::string& arrayName);                                               // 0 or 1
    int parseArrayDetails(const std::string& text, ZYKorvanCommon::KrvnArrayDetails& details);  // 0 or 1
    // Undoes the host's backslash escapes of one array-details value.
    void deformatString(const std::string& in, std::string& out);
    int discoverArrayVDiskDetails();
    int discoverArrayVDiskDetailsBruteForce();

    // ---- Snapshot create, delete, revert, reconcile ---------------------------------------
    int createSnaps();
    int deleteSnaps();
    int revertSnaps();
    int reconSnaps();

    // ---- Map -------------------------------------------------------------------------------
    int mapSnaps();
    int getArrayInterfaces();
    int getHostInterfaces();
    int getHostInterfaces(KrvnMapCtx* map);
    void decideMapConnectionType();
    int checkAndTryiSCSITargetLogon(bool& allMapped);  // always 0
    int checkCreateCloneOfSnaps();
    int waitForClonesToUnfreeze();
    int checkAddCloneToSCSITarget();
    int checkAddAccessToClone();
    int refreshArrayInterfaces();
    int performPostMapSteps();  // 0 or 1
    void getDiffDeviceList(std::vector<std::string>& diff);
    // 0 when every item is mapped, else 1; `found` counts the items matched.
    int checkForMappedDevices(KrvnMapCtx* map, const std::vector<std::string>& devices, unsigned long& found);

    // ---- Unmap -----------------------------------------------------------------------------
    int unmapSnaps();
    int checkAndRemoveAccessFromClone(KrvnSnapObject* obj);
    int checkAndRemoveCloneFromSCSITarget(KrvnSnapObject* obj);
    int checkAndDeleteClone(KrvnSnapObject* obj);
    int deleteClone(const std::string& cloneName);  // 0 deleted, else 1

protected:
    KrvnCtx* kctx;  // the same object as the base's ctx, with its snapshot type; not owned
};

}  // namespace ZYSnapKrvn
