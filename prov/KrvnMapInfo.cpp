#include "KrvnMapInfo.h"

#include <sstream>

namespace ZYProvKorvan {

void KrvnMapInfo::dump(std::string& out) const {
    std::ostringstream text;
    text << "Host details - < "
         << "Host name-[" << hostName << "] "
         << "Host OS-[" << hostOS << "] "
         << "Protocol-[" << protocol << "] "
         << "EndPoints-[";
    for (size_t i = 0; i < endpoints.size(); ++i) text << (i ? ", " : "") << endpoints[i];
    text << "] "
         << ">";
    out = text.str();
}

}  // namespace ZYProvKorvan
