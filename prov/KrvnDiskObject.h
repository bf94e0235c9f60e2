// KrvnDiskObject: the provisioning engine's record of one disk of the request.
//
// Built by the context from one host item (which it points to but never owns) and filled from
// that item; the engine then reads and updates it disk by disk. Copies are member-wise and
// share the host item pointer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "KrvnMapInfo.h"
#include "KrvnTextsProv.h"
#include "ZYSOHost.h"

namespace ZYProvKorvan {

class KrvnDiskObject {
public:
    KrvnDiskObject() = default;
    explicit KrvnDiskObject(ZYSO::LUNInfo* item) : lunInfo(item) {}
    KrvnDiskObject(const KrvnDiskObject&) = default;
    KrvnDiskObject& operator=(const KrvnDiskObject&) = default;

    void reset() { *this = KrvnDiskObject(); }
    void copy(const KrvnDiskObject& other) { *this = other; }
    // The log form: "Disk - < name-[..] type-[..] ... description-[..] >".
    void dump(std::string& out) const;

    ZYSO::LUNInfo* lunInfo = nullptr;   // the host item; not owned
    std::vector<KrvnMapInfo> mapInfos;  // hosts of a map or unmap request
    std::string diskName;
    std::string diskType;  // "BLOCK" once filled
    std::string sizeUnit;  // "GB" once filled
    std::string description;
    std::string targetIQN;   // the disk's iSCSI target on the storage proxy
    int64_t size = 0;        // bytes as read from the host, then whole GB
    int64_t scsiSerial = 0;  // SCSI serial number of the disk's LUN
    int32_t blockSize = ZY_KRVN_PROV_DISK_CREATE_BLOCK_SIZE_DEFAULT;
    int32_t replicationFactor = ZY_KRVN_PROV_DISK_CREATE_RF_DEFAULT;
    bool isDeduped = true;
    bool isCompressed = false;
    bool isSCSI3pr = false;
    bool isEncrypted = true;
};

}  // namespace ZYProvKorvan
