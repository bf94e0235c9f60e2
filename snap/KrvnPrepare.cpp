// Source preparation and discovery: prove by SCSI inquiry that every source is a Korvan vDisk,
// tie each host item to the Array Management entry of its cluster, and find each source vDisk
// on the cluster so that its name and a snapshot identifier land in the item's metadata.
#include <cstdint>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "CWqString.h"
#include "KrvnNumbers.h"
#include "KrvnTextsPrepare.h"
#include "KrvnTextsSnap.h"
#include "KrvnUtils.h"
#include "ZYPlatformInfo.h"

namespace ZYSnapKrvn {

using namespace ZYKorvanCommon;

namespace {

constexpr int kPageStandard = 0x00;
constexpr int kPageUnitSerial = 0x80;
constexpr int kPageDeviceId = 0x83;

// The array names of the host's list: split at every vertical bar; an empty piece between two
// bars is a name of its own, a trailing bar adds none.
std::vector<std::string> splitArrayList(const std::string& text) {
    std::vector<std::string> names;
    std::istringstream in(text);
    std::string name;
    while (std::getline(in, name, static_cast<char>(ZY_KRVN_PREP_ARRAY_LIST_SEPARATOR))) names.push_back(name);
    return names;
}

// Fetches the host's Korvan array list, doubling the buffer while the host says it is too
// small (the host writes at most `size` bytes; the extra byte keeps the text terminated).
int fetchArrayList(ZYSO::ZYOSUtil* os, std::string& list, int& size) {
    size = ZY_KRVN_PREP_ARRAY_LIST_INITIAL_SIZE;
    std::vector<char> buffer(static_cast<size_t>(size) + 1, '\0');
    int rc =
        os->getArrayListByVendor(ZY_KRVN_PREP_ARRAY_VENDOR, ZY_KRVN_PREP_ARRAY_LIST_SEPARATOR, size, buffer.data());
    while (rc > 0 && size < ZY_KRVN_PREP_ARRAY_LIST_MAX_SIZE) {
        size *= 2;
        buffer.assign(static_cast<size_t>(size) + 1, '\0');
        rc =
            os->getArrayListByVendor(ZY_KRVN_PREP_ARRAY_VENDOR, ZY_KRVN_PREP_ARRAY_LIST_SEPARATOR, size, buffer.data());
    }
    list = buffer.data();
    return rc;
}

// Fetches one array's details text; the host may raise the size when it answers "try again".
int fetchArrayDetails(ZYSO::ZYOSUtil* os, const std::string& arrayName, std::string& text) {
    unsigned short size = ZY_KRVN_PREP_ARRAY_DETAILS_INITIAL_SIZE;
    std::vector<char> buffer(static_cast<size_t>(size) + 1, '\0');
    int rc = os->getArrayDetailsByName(arrayName.c_str(), buffer.data(), &size);
    for (int retry = 0; rc > 0 && retry < ZY_KRVN_PREP_ARRAY_DETAILS_RETRIES; ++retry) {
        buffer.assign(static_cast<size_t>(size) + 1, '\0');
        rc = os->getArrayDetailsByName(arrayName.c_str(), buffer.data(), &size);
    }
    text = buffer.data();
    return rc;
}

// The value of one member of the details text: it runs to the next "," after the member's own
// leading comma, or failing that to the next "}". False when the member or its end is missing.
bool detailsValue(const std::string& text, const char* member, std::string& raw) {
    size_t at = text.find(member);
    if (at == std::string::npos) return false;
    size_t start = at + std::char_traits<char>::length(member);
    size_t end = text.find(',', at + 1);
    if (end == std::string::npos) end = text.find('}', at + 1);
    if (end == std::string::npos || end < start) return false;
    raw = text.substr(start, end - start);
    return true;
}

// What prepare leaves on an item whose source vDisk was found.
void recordDiscoveredSource(KrvnCtx* ctx, KrvnSnapObject* obj, const KrvnDisk& disk) {
    obj->sourceVDiskName = disk.vDiskName;
    long long n = 0;
    obj->snapInfo->generateSnapUUID(ZY_KRVN_PREP_UUID_SEPARATOR, &n, &obj->snapUUID);
    ctx->setSnapMetadata(obj);
    ctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_DISCOVER_GOT_VDISK, disk.vDiskName.c_str());
    obj->snapInfo->setStatus(ZY_KRVN_SNAP_STATUS_PREPARED);
}

int finishDiscovery(KrvnCtx* ctx, size_t found) {
    size_t total = ctx->snapItems.size();
    if (found < total) {
        return ctx->fail(ZY_KRVN_ERR_NOT_ALL_FOUND,
                         CWqString::Format(ZY_KRVN_DISCOVER_FOUND_ONLY,
                                           {found, total, ctx->arrayDetails.arrayId, ctx->arrayDetails.userName}),
                         ZY_KRVN_DISCOVER_FAILED);
    }
    ctx->log(ZY_KRVN_LOGLVL_SNAP_OP_END, "%s", ZY_KRVN_DISCOVER_DONE);
    return 0;
}

// Ties the item to the array of the cluster serial, asking Array Management when the host
// cannot do it from the serial alone.
int tieItemToArray(KrvnUtils& utils, KrvnCtx* kctx, KrvnSnapObject* obj, const std::string& clusterSerial) {
    // Every source is taken to live on the cluster of the first device.
    std::string& arraySerial = kctx->arrayDetails.scsiArrayId;
    if (arraySerial.empty()) arraySerial = clusterSerial;
    if (obj->snapInfo->setArrayInfo(arraySerial.c_str()) == 0) return 0;
    if (utils.identifyArray(obj, arraySerial) == 0) return 0;
    return kctx->fail(ZY_KRVN_ERR_ITEM_ARRAY, CWqString::Format(ZY_KRVN_PREP_ARRAY_NOT_FOUND, {arraySerial}),
                      KrvnFailLog::about(obj->sourceDevice, ZY_KRVN_PREP_DEVICE_FAILED));
}

// One candidate array: its details from the host, its cluster id from the settings or the
// cluster itself, and the association when the id is the device's cluster serial.
int matchCandidate(KrvnUtils& utils, KrvnCtx* kctx, KrvnSnapObject* obj, const std::string& scsiSerial,
                   const std::string& arrayName) {
    kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_MATCH_START, scsiSerial.c_str(), arrayName.c_str());
    const std::string settingName = ZY_KRVN_PREP_SETTING_UNIQUE_ID_PREFIX + arrayName;
    std::string configuredId;
    ZYPlatformInfo settings;
    if (settings.getString(ZY_KRVN_PREP_SETTINGS_SECTION, settingName.c_str(), &configuredId) != 0)
        kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_MATCH_SETTING_FOUND, settingName.c_str(), configuredId.c_str());

    std::string details;
    int rc = kctx->osUtil != nullptr ? fetchArrayDetails(kctx->osUtil, arrayName, details) : 1;
    if (rc != 0 || details.empty()) {
        kctx->log(ZY_KRVN_LOGLVL_ERROR, ZY_KRVN_MATCH_NO_DETAILS, arrayName.c_str());
        return 1;
    }
    KrvnArrayDetails& array = kctx->arrayDetails;
    array.reset();
    array.arrayId = arrayName;
    if (utils.parseArrayDetails(details, array) != 0) {
        kctx->log(ZY_KRVN_LOGLVL_ERROR, ZY_KRVN_MATCH_PARSE_FAILED, arrayName.c_str());
        return 1;
    }

    if (configuredId.empty()) {
        if (utils.rest_connectToArray() != 0) {
            kctx->tolerate();
            return 1;
        }
        rc = utils.rest_getClusterSettingInfo();
        // One session per candidate is enough; leaving it open would leak it on the cluster.
        (void)utils.rest_disconnectArray();
        if (rc != 0) {
            kctx->tolerate();
            return 1;
        }
    } else {
        array.clusterUniqueId = configuredId;
    }

    kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_MATCH_UNIQUE_ID, arrayName.c_str(), array.clusterUniqueId.c_str());
    if (scsiSerial != array.clusterUniqueId) {
        kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_MATCH_MISMATCH, arrayName.c_str(), scsiSerial.c_str());
        return 1;
    }
    kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_MATCH_IDENTIFIED, arrayName.c_str());
    const std::string association = arrayName + static_cast<char>(ZY_KRVN_PREP_ARRAY_LIST_SEPARATOR) + scsiSerial;
    if (obj->snapInfo->setArrayInfo(association.c_str()) != 0) {
        kctx->log(ZY_KRVN_LOGLVL_ERROR, ZY_KRVN_MATCH_SET_INFO_FAILED, association.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int KrvnUtils::InquireDeviceDetails() {
    if (kctx->sourceIsVMware) return processSCSIDetailsForVMware();
    return processSCSIDetails({kPageStandard, kPageUnitSerial, kPageDeviceId}, 0);
}

int KrvnUtils::processSCSIDetailsForVMware() { return 1; }

int KrvnUtils::processSCSIDetails(const std::vector<int>& pages, int) {
    for (int page : pages) {
        kctx->log(ZY_KRVN_LOGLVL_DETAIL, "%s", ZY_KRVN_PREP_BANNER);
        kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_PREP_PAGE_INQUIRY, page);
        kctx->log(ZY_KRVN_LOGLVL_DETAIL, "%s", ZY_KRVN_PREP_BANNER);
        const unsigned char cdb[ZY_KRVN_SCSI_CDB_LEN] = {
            0x12, static_cast<unsigned char>(page != 0 ? 1 : 0), static_cast<unsigned char>(page), 0, 0xFF, 0};
        for (auto& [id, obj] : kctx->snapItems) {
            const std::string& device = obj->sourceDevice;
            unsigned char response[ZY_KRVN_SCSI_RESP_LEN] = {};
            int rc = doSCSIInquiry(device, cdb, response);
            if (rc != 0) return rc;
            dumpHexBuf(response, ZY_KRVN_SCSI_RESP_LEN);
            if (response[1] != page)
                return refuseMismatchedPage(device, response[1], page, ZY_KRVN_PREP_INQUIRY_FAILED);

            if (page == kPageStandard) {
                std::string vendor, product, revision;
                getStdDetailsFromSCSIResp(response, vendor, product, revision);
                kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_PREP_STD_RESULT, vendor.c_str(), product.c_str(),
                          revision.c_str());
                rc = checkStdPageInfoForKorvan(device, vendor, product, revision);
            } else if (page == kPageUnitSerial) {
                std::string serial;
                getDiskSerialIdFromSCSIResp(response, serial);
                kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_PREP_PAGE80_RESULT, serial.c_str());
                rc = checkDiskIdInfoForKorvan(device, serial);
                if (rc == 0) obj->sourceVDiskId = serial;
            } else if (page == kPageDeviceId) {
                std::string clusterSerial;
                getArrayIdFromSCSIResp(response, clusterSerial);
                kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_PREP_PAGE83_RESULT, clusterSerial.c_str());
                rc = checkArrayIdInfoForKorvan(device, clusterSerial);
                if (rc == 0) rc = tieItemToArray(*this, kctx, obj, clusterSerial);
            }
            if (rc != 0) return rc;
        }
    }
    return 0;
}

int KrvnUtils::identifyArray(KrvnSnapObject* obj, const std::string& scsiSerial) {
    kctx->log(ZY_KRVN_LOGLVL_DETAIL, "%s", ZY_KRVN_IDENTIFY_START);
    std::string list;
    int size = 0;
    int rc = kctx->osUtil != nullptr ? fetchArrayList(kctx->osUtil, list, size) : 1;
    if (rc != 0 || list.empty()) {
        kctx->log(ZY_KRVN_LOGLVL_ERROR, "%s", ZY_KRVN_IDENTIFY_NO_LIST);
        return 1;
    }
    kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_IDENTIFY_LIST, size, list.c_str());
    for (const std::string& name : splitArrayList(list))
        if (matchArray(obj, scsiSerial, name) == 0) break;
    if (obj->snapInfo->getArrayNumber() <= 0) {
        kctx->log(ZY_KRVN_LOGLVL_ERROR, ZY_KRVN_IDENTIFY_NO_MATCH, scsiSerial.c_str());
        return 1;
    }
    return 0;
}

int KrvnUtils::matchArray(KrvnSnapObject* obj, const std::string& scsiSerial, const std::string& arrayName) {
    // The candidate's details only borrow the context; the array being prepared comes back
    // whatever happens.
    const KrvnArrayDetails saved = kctx->arrayDetails;
    // The serial may be the context's own scsiArrayId, which the candidate's details replace.
    const std::string serial = scsiSerial;
    int rc = matchCandidate(*this, kctx, obj, serial, arrayName);
    kctx->arrayDetails = saved;
    return rc;
}

int KrvnUtils::parseArrayDetails(const std::string& text, KrvnArrayDetails& details) {
    if (text.empty()) {
        kctx->log(ZY_KRVN_LOGLVL_ERROR, ZY_KRVN_DETAILS_EMPTY, kctx->arrayDetails.arrayId.c_str());
        return 1;
    }
    const std::pair<const char*, std::string*> members[] = {
        {ZY_KRVN_DETAILS_HOST_NAME, &details.controlHostName},
        {ZY_KRVN_DETAILS_USER_NAME, &details.userName},
        {ZY_KRVN_DETAILS_PASSWORD, &details.userPswd},
    };
    for (const auto& [member, field] : members) {
        std::string raw;
        if (detailsValue(text, member, raw)) deformatString(raw, *field);
    }
    if (details.controlHostName.empty()) {
        kctx->log(ZY_KRVN_LOGLVL_ERROR, ZY_KRVN_DETAILS_NO_HOST, kctx->arrayDetails.arrayId.c_str());
        return 1;
    }
    return 0;
}

void KrvnUtils::deformatString(const std::string& in, std::string& out) {
    out.clear();
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '\\') {
            out += in[i];
            continue;
        }
        if (++i == in.size()) break;  // a lone trailing backslash is dropped
        switch (in[i]) {
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            default:
                out += in[i];
                break;
        }
    }
}

int KrvnUtils::GetArrayDetailsFromDB() {
    if (kctx->getArrayDetailsFromDB() != 0) return kctx->errorCode;
    KrvnSnapObject* first = kctx->firstObject();
    if (first != nullptr && first->snapInfo->getArrayNumber() > 0) kctx->readAndSetArrayConfigs();
    return 0;
}

int KrvnUtils::discoverArrayVDiskDetails() {
    unsigned long bruteForce = 0;
    ZYPlatformInfo settings;
    if (settings.getNumber(ZY_KRVN_PREP_SETTINGS_SECTION, ZY_KRVN_PREP_SETTING_BRUTE_FORCE, &bruteForce) != 0)
        kctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_DISCOVER_SETTING_FOUND, ZY_KRVN_PREP_SETTING_BRUTE_FORCE,
                  static_cast<int>(bruteForce));
    if (bruteForce > 0) {
        kctx->log(ZY_KRVN_LOGLVL_DETAIL, "%s", ZY_KRVN_DISCOVER_BRUTE_FORCE);
        return discoverArrayVDiskDetailsBruteForce();
    }

    kctx->log(ZY_KRVN_LOGLVL_SNAP_OP_START, ZY_KRVN_DISCOVER_START, kctx->snapItems.size());
    size_t found = 0;
    for (auto& [id, obj] : kctx->snapItems) {
        KrvnDisk disk;
        // A serial that is not a number names no vDisk; asking the cluster for it is pointless.
        if (!parseScsiSerial(obj->sourceVDiskId, disk.scsiSerialNumber)) continue;
        if (rest_getVDiskDetailsBySSN(disk) != 0) {
            kctx->tolerate();
            continue;
        }
        recordDiscoveredSource(kctx, obj, disk);
        ++found;
    }
    return finishDiscovery(kctx, found);
}

int KrvnUtils::discoverArrayVDiskDetailsBruteForce() {
    std::vector<KrvnDisk> disks;
    int rc = rest_getAllVDiskDetails(disks);
    if (rc != 0) return rc;
    kctx->log(ZY_KRVN_LOGLVL_SNAP_OP_START, "%s", ZY_KRVN_DISCOVER_BRUTE_FORCE_START);

    // Items found in this run; a status of "prepared" left by an earlier run must not hide an
    // item from being found again.
    std::set<long long> foundIds;
    const size_t total = kctx->snapItems.size();
    for (const KrvnDisk& listed : disks) {
        if (foundIds.size() == total) break;
        if (listed.isClone || listed.diskType == ZY_KRVN_DISCOVER_NFS_MASTER_DISK) continue;
        KrvnDisk disk;
        disk.vDiskName = listed.vDiskName;
        if (rest_getVDiskDetails(disk) != 0) {
            kctx->tolerate();
            continue;
        }
        for (auto& [id, obj] : kctx->snapItems) {
            int64_t serial = 0;
            if (foundIds.count(id) != 0 || !parseScsiSerial(obj->sourceVDiskId, serial) ||
                serial != disk.scsiSerialNumber)
                continue;
            recordDiscoveredSource(kctx, obj, disk);
            foundIds.insert(id);
            break;
        }
    }
    return finishDiscovery(kctx, foundIds.size());
}

}  // namespace ZYSnapKrvn
