#include "KrvnDiskObject.h"

#include <sstream>

#include "KrvnTextsProv.h"

namespace ZYProvKorvan {

void KrvnDiskObject::dump(std::string& out) const {
    std::ostringstream text;
    text << "Disk - < "
         << "name-[" << diskName << "] "
         << "type-[" << diskType << "] "
         << "size-[" << size << " " << sizeUnit << "] "
         << "SCSI serial-[" << scsiSerial << "] "
         << "block size-[" << blockSize << "] "
         << "repln factor-[" << replicationFactor << "] "
         << "isDeduped-[" << provBoolText(isDeduped) << "] "
         << "isCompressed-[" << provBoolText(isCompressed) << "] "
         << "isSCSI3pr-[" << provBoolText(isSCSI3pr) << "] "
         << "IsEncrypted-[" << provBoolText(isEncrypted) << "] "
         << "target IQN-[" << targetIQN << "] "
         << "description-[" << description << "] "
         << ">";
    out = text.str();
}

}  // namespace ZYProvKorvan
