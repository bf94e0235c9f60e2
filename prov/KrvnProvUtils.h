// KrvnProvUtils: the provisioning engine, one entry call's worth of cluster and host work.
//
// Built on the stack over an initialised KrvnProvCtx (not owned) after the session has logged
// in. Each operation walks the context's disks in ascending id order, writes each disk's
// status to its host item (failure first, success once confirmed) and returns 0 or the
// context's error code. Map and unmap also drive the host's iSCSI initiator; the loaded iSCSI
// module and its library stay with this object until it dies.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "KrvnCommonUtils.h"
#include "KrvnProvCtx.h"

namespace ZYProvKorvan {

// The first row of each LUN id in a storage proxy's table, so that each disk finds its row in
// one lookup: the table has a row per LUN of the proxy, and a walk of it per disk makes a call
// quadratic in its disks. The table may grow between lookups (rows are appended), never shrink.
class KrvnTargetsByLun {
public:
    explicit KrvnTargetsByLun(const std::vector<ZYKorvanCommon::KrvnSCSITarget>& rows) : rows_(&rows) {}
    const ZYKorvanCommon::KrvnSCSITarget* find(const std::string& vDisk);

private:
    const std::vector<ZYKorvanCommon::KrvnSCSITarget>* rows_;
    size_t indexed_ = 0;
    std::unordered_map<std::string, size_t> first_;
};

class KrvnProvUtils : public ZYKorvanCommon::KrvnCommonUtils {
public:
    explicit KrvnProvUtils(KrvnProvCtx* context);
    ~KrvnProvUtils() override;

    int create_vDisks();
    int resize_vDisks();
    int delete_vDisks();
    int map_vDisks();
    int unmap_vDisks();

    int getClusterUniqueID();
    int getTargetIQNs();
    // Associates new host devices with the disks by SCSI serial; 0 when every disk has one.
    int checkForMappedDevices(const std::vector<std::string>& devices, unsigned long& found);

    KrvnProvCtx* provContext() const { return prov; }

protected:
    // What differs between the create and the resize walk.
    struct DiskWalk {
        const char* startLog;
        const char* diskLog;
        const char* successLog;
        const char* doneLog;
        short failureStatus;
        short successStatus;
        bool setItemNames;
        int (ZYKorvanCommon::KrvnCommonUtils::*request)(const ZYKorvanCommon::KrvnDisk&);
    };
    int walkDisks(const DiskWalk& walk);
    int deleteOneByOne(const std::map<std::string, bool>& group);
    // The protocol, host name and initiator checks every host entry must pass.
    int checkMapInfo(const KrvnMapInfo& host);
    int mapDisk(KrvnDiskObject& disk, std::vector<std::string>& initiators);
    int discoverMappedDevices(const std::vector<std::string>& initiators, unsigned long& found);
    int unmapDisk(KrvnDiskObject& disk, std::vector<std::string>& initiators, std::vector<std::string>& devices);
    int unmapInitiator(KrvnDiskObject& disk, const std::string& initiator,
                       const std::vector<ZYKorvanCommon::KrvnAccessInfo>& access, std::vector<std::string>& proxies,
                       std::vector<std::string>& initiators);
    int removeUnusedLUNs(const KrvnDiskObject& disk, const std::vector<ZYKorvanCommon::KrvnAccessInfo>& access,
                         const std::vector<std::string>& proxies);
    // A fresh access list. A disk the cluster no longer has is marked unmapped: 0 with gone set.
    int readAccessList(KrvnDiskObject& disk, const char* logFormat, std::vector<ZYKorvanCommon::KrvnAccessInfo>& access,
                       bool& gone);
    void markUnmapped(KrvnDiskObject& disk, const char* logFormat);
    void sleepRetryInterval();

    static short itemStatus(const KrvnDiskObject& disk);
    void setItemStatus(const KrvnDiskObject& disk, short status);

    KrvnProvCtx* prov;                                                               // not owned
    ZYKorvanCommon::KrvnIscsiModuleScope moduleScope{*this};                         // loaded by map and unmap
    std::map<std::string, std::vector<ZYKorvanCommon::KrvnSCSITarget>> targetCache;  // unmap
    std::map<std::string, KrvnTargetsByLun> targetIndex;                             // of targetCache
};

}  // namespace ZYProvKorvan
