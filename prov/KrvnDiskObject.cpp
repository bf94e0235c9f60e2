#include "KrvnDiskObject.h"

#include <string>

#include "KrvnTextsProv.h"

namespace ZYProvKorvan {

void KrvnDiskObject::dump(std::string& out) const {
    // Written once or twice per item of a call over thousands: appended, not streamed.
    const std::string numbers[] = {std::to_string(size), std::to_string(scsiSerial), std::to_string(blockSize),
                                   std::to_string(replicationFactor)};
    out.clear();
    out.reserve(320 + diskName.size() + diskType.size() + sizeUnit.size() + targetIQN.size() + description.size());
    out.append("Disk - < name-[").append(diskName);
    out.append("] type-[").append(diskType);
    out.append("] size-[").append(numbers[0]).append(" ").append(sizeUnit);
    out.append("] SCSI serial-[").append(numbers[1]);
    out.append("] block size-[").append(numbers[2]);
    out.append("] repln factor-[").append(numbers[3]);
    out.append("] isDeduped-[").append(provBoolText(isDeduped));
    out.append("] isCompressed-[").append(provBoolText(isCompressed));
    out.append("] isSCSI3pr-[").append(provBoolText(isSCSI3pr));
    out.append("] IsEncrypted-[").append(provBoolText(isEncrypted));
    out.append("] target IQN-[").append(targetIQN);
    out.append("] description-[").append(description);
    out.append("] >");
}

}  // namespace ZYProvKorvan
