// KrvnMapCtx: the map-time state of one map or unmap call.
//
// Created by the map or unmap step when the snapshot context has none, owned by that context
// (KrvnCtx::mapCtx) and freed with it. It only ever holds values: host names, device paths and
// the storage proxies' LUN tables as the cluster reported them during this call.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "KrvnRecords.h"

namespace ZYSnapKrvn {

// Data-path protocols, used as bit sets (FC and iSCSI together is 3).
enum KrvnSCSIConnType : uint16_t {
    ZY_KRVN_SCSI_CONN_TYPE_UNKNOWN = 0,
    ZY_KRVN_SCSI_CONN_TYPE_ISCSI = 1,
    ZY_KRVN_SCSI_CONN_TYPE_FC = 2,
    ZY_KRVN_SCSI_CONN_TYPE_FC_ISCSI = 3,
};

// "iSCSI", "FC", "FC & iSCSI"; empty text for unknown.
inline const char* connTypeName(uint16_t type) {
    switch (type) {
        case ZY_KRVN_SCSI_CONN_TYPE_ISCSI:
            return "iSCSI";
        case ZY_KRVN_SCSI_CONN_TYPE_FC:
            return "FC";
        case ZY_KRVN_SCSI_CONN_TYPE_FC_ISCSI:
            return "FC & iSCSI";
        default:
            return "";
    }
}

struct KrvnMapCtx {
    // LUN table of each storage proxy, as listed by the cluster.
    std::map<std::string, std::vector<ZYKorvanCommon::KrvnSCSITarget>> proxyTargets;
    std::vector<std::string> hostWwpns;      // FC port names of the mount host, colon form
    std::vector<std::string> hostIqns;       // iSCSI initiator names of the mount host
    std::vector<std::string> devicesBefore;  // host devices listed before the map
    std::vector<std::string> devicesAfter;   // host devices listed after the map
    std::vector<std::string> mappedDevices;  // devices handed to the bus rescan (unmap only)
    std::string hostName;
    uint16_t arrayInterfaces = ZY_KRVN_SCSI_CONN_TYPE_UNKNOWN;
    uint16_t hostInterfaces = ZY_KRVN_SCSI_CONN_TYPE_UNKNOWN;
    uint16_t connectionType = ZY_KRVN_SCSI_CONN_TYPE_UNKNOWN;

    void reset() { *this = KrvnMapCtx(); }
};

}  // namespace ZYSnapKrvn
