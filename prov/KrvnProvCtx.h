// KrvnProvCtx: the state of one provisioning entry call.
//
// Built on the stack by the entry point, initialised once from the host's items and handed to
// the provisioning engine (KrvnProvUtils). It owns one KrvnDiskObject per item (keyed and walked
// by the item's id, ascending) and everything of its base context; the host items stay the
// host's. The cluster's connection details and configuration come from the item with the
// lowest id. Every failure goes through the base context's error state (fail()); nothing
// reaches the cluster before initialize() has succeeded.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "KrvnCommonCtx.h"
#include "KrvnDiskObject.h"
#include "KrvnMapInfo.h"
#include "KrvnRecords.h"
#include "ZYSOHost.h"

namespace ZYProvKorvan {

class KrvnProvCtx : public ZYKorvanCommon::KrvnCommonCtx {
public:
    // The second argument is part of the host's construction contract and is not read.
    KrvnProvCtx(ZYSO::ZYOSUtil* osUtil, long unused, int opType);
    ~KrvnProvCtx() override;

    int initialize(ZYSO::LUNInfo** items, short count);
    int validateInputParams(ZYSO::LUNInfo** items, short count);
    int fetchAndFillDiskInfo();
    int fillDiskInfoForDisk(std::pair<const long, KrvnDiskObject*>& entry);
    int fillMapInfoForDisk(std::pair<const long, KrvnDiskObject*>& entry);
    int parseMapInfo(const char* text, std::vector<KrvnMapInfo>& out);
    int getArrayDetails();
    int readArrayConfigs();
    void fillDiskInfoFromGlobalSettings();
    // The record the create and resize requests take.
    ZYKorvanCommon::KrvnDisk getDiskParams(const KrvnDiskObject* disk) const;

    ZYSO::LUNInfo** luns = nullptr;         // the host's array; not owned
    std::map<long, KrvnDiskObject*> disks;  // owned; key getLunId()
    int32_t diskCount = 0;
    int16_t opType = 0;
    std::string localHostName;
    std::map<std::string, std::vector<ZYKorvanCommon::KrvnSCSITarget>> scsiTargets;
    // The last status this call wrote to each host item (the engine writes them all through
    // KrvnProvUtils::setItemStatus): a failed call tells completed items from the others.
    std::map<const ZYSO::LUNInfo*, short> statusesSet;

private:
    ZYSO::LUNInfo* firstItem() const;
    // Reads the host's whole map information text, growing the buffer as the host asks.
    int readInitiatorInfo(ZYSO::LUNInfo* item, std::string& text);
};

}  // namespace ZYProvKorvan
