// KrvnMapInfo: one host a provisioned disk is to be mapped to or unmapped from, as the host's
// map information text describes it. A plain value: copies member-wise, reset() empties it.
#pragma once

#include <string>
#include <vector>

namespace ZYProvKorvan {

struct KrvnMapInfo {
    std::string hostName;                // "hostname"
    std::string hostOS;                  // "hostos"
    std::vector<std::string> endpoints;  // initiator names, from "endpoints"[i]."endpoint"
    short protocol = 0;                  // 3 iSCSI, 4 FC, 5 NFS, 0 absent or anything else

    void reset() { *this = KrvnMapInfo(); }
    // The log form: "Host details - < Host name-[..] Host OS-[..] Protocol-[..] EndPoints-[..] >".
    void dump(std::string& out) const;
};

}  // namespace ZYProvKorvan
