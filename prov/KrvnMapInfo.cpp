#include "KrvnMapInfo.h"

#include <string>

namespace ZYProvKorvan {

void KrvnMapInfo::dump(std::string& out) const {
    out.assign("Host details - < Host name-[").append(hostName);
    out.append("] Host OS-[").append(hostOS);
    out.append("] Protocol-[").append(std::to_string(protocol));
    out.append("] EndPoints-[");
    for (size_t i = 0; i < endpoints.size(); ++i) out.append(i ? ", " : "").append(endpoints[i]);
    out.append("] >");
}

}  // namespace ZYProvKorvan
