#include "KrvnProvCtx.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>

#include "CWqString.h"
#include "KrvnJson.h"
#include "KrvnTextsProv.h"
#include "ZYPassword.h"

namespace ZYProvKorvan {

using namespace ZYKorvanCommon;

namespace {

using ItemTextGetter = int (ZYSO::LUNInfo::*)(char*, unsigned short*);

// The host's 512-byte text getters. The text is bounded by the buffer even when the host
// leaves no terminating NUL.
int readItemText(ZYSO::LUNInfo* item, ItemTextGetter getter, std::string& out) {
    char buffer[ZY_KRVN_PROV_ITEM_TEXT_LEN] = {};
    unsigned short length = ZY_KRVN_PROV_ITEM_TEXT_LEN;
    int rc = (item->*getter)(buffer, &length);
    if (rc == 0) out.assign(buffer, strnlen(buffer, sizeof(buffer)));
    explicit_bzero(buffer, sizeof(buffer));  // the same buffer carries the stored password
    return rc;
}

// atoi's reading (leading blanks, sign, digits, stop at the first other character, 0 when
// none), without its undefined behaviour on out-of-range numbers: those are clamped.
int32_t configNumber(const std::string& text) {
    long value = std::strtol(text.c_str(), nullptr, 10);
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

short protocolFromText(const std::string& text) {
    if (text == ZY_KRVN_PROV_INIT_LIST_PROTOCOL_TYPE_ISCSI) return ZY_KRVN_PROV_PROTOCOL_ISCSI;
    if (text == ZY_KRVN_PROV_INIT_LIST_PROTOCOL_TYPE_FC) return ZY_KRVN_PROV_PROTOCOL_FC;
    if (text == ZY_KRVN_PROV_INIT_LIST_PROTOCOL_TYPE_NFS) return ZY_KRVN_PROV_PROTOCOL_NFS;
    return ZY_KRVN_PROV_PROTOCOL_NONE;
}

// One host element of the map information. False when the element or one of its endpoints is
// not a JSON object: such a text is refused as a whole.
bool readMapHost(const JsonValue& host, KrvnMapInfo& info) {
    if (!host.isObject()) return false;
    host.getString(ZY_KRVN_PROV_INIT_LIST_FIELD_HOSTNAME, info.hostName);
    host.getString(ZY_KRVN_PROV_INIT_LIST_FIELD_HOSTOS, info.hostOS);
    std::string protocol;
    host.getString(ZY_KRVN_PROV_INIT_LIST_FIELD_PROTOCOL, protocol);
    info.protocol = protocolFromText(protocol);
    JsonValue endpoints;
    if (!host.getArray(ZY_KRVN_PROV_INIT_LIST_FIELD_ENDPOINTS, endpoints)) return true;
    bool wellFormed = true;
    endpoints.forEachElement([&](const JsonValue& endpoint) {
        if (!endpoint.isObject()) {
            wellFormed = false;
            return;
        }
        if (endpoint.memberCount() == 0) return;
        std::string name;
        endpoint.getString(ZY_KRVN_PROV_INIT_LIST_FIELD_ENDPOINT, name);
        info.endpoints.push_back(name);
    });
    return wellFormed;
}

}  // namespace

KrvnProvCtx::KrvnProvCtx(ZYSO::ZYOSUtil* util, long, int op) : KrvnCommonCtx(util), opType(static_cast<int16_t>(op)) {}

KrvnProvCtx::~KrvnProvCtx() {
    for (auto& entry : disks) delete entry.second;
    disks.clear();
}

ZYSO::LUNInfo* KrvnProvCtx::firstItem() const { return disks.empty() ? nullptr : disks.begin()->second->lunInfo; }

int KrvnProvCtx::initialize(ZYSO::LUNInfo** items, short count) {
    log(ZY_KRVN_LOGLVL_SNAP_OP_START, "%s", ZY_KRVN_PROV_LOG_INIT_CTX);
    int rc = validateInputParams(items, count);
    if (rc == 0) {
        diskCount = count;
        luns = items;
        log(ZY_KRVN_LOGLVL_SNAP_OP_START, "%s", ZY_KRVN_PROV_LOG_CREATE_OBJS);
        for (short i = 0; i < count; ++i) {
            const long id = items[i]->getLunId();
            // Made before the slot is touched: if making it throws, the map still owns only
            // live objects. The later item of a repeated id wins.
            auto disk = std::make_unique<KrvnDiskObject>(items[i]);
            KrvnDiskObject*& slot = disks[id];
            delete slot;
            slot = disk.release();
        }
        rc = fetchAndFillDiskInfo();
        if (rc == 0) log(ZY_KRVN_LOGLVL_SNAP_OP_END, "%s", ZY_KRVN_PROV_LOG_CREATE_OBJS_DONE);
    }
    log(ZY_KRVN_LOGLVL_SNAP_OP_END, "%s", ZY_KRVN_PROV_LOG_INIT_CTX_DONE);
    return rc;
}

int KrvnProvCtx::validateInputParams(ZYSO::LUNInfo** items, short count) {
    log(ZY_KRVN_LOGLVL_SNAP_OP_START, "%s", ZY_KRVN_PROV_LOG_VALIDATING);
    int rc = 0;
    if (osUtil == nullptr) {
        rc = fail(ZY_KRVN_ERR_OS_UTIL, ZY_KRVN_PROV_ERR_OS_UTIL, ZY_KRVN_PROV_LOG_INPUT_OBJ_INVALID);
    } else if (count < 1) {
        // A negative count is refused here and never used as a size or an index.
        rc = fail(ZY_KRVN_ERR_INVALID_COUNT, CWqString::Format(ZY_KRVN_PROV_ERR_DISK_COUNT, {count}),
                  ZY_KRVN_PROV_LOG_INPUT_LIST_INVALID);
    } else if (items == nullptr) {
        rc = fail(ZY_KRVN_ERR_DISK_LIST, ZY_KRVN_PROV_ERR_EMPTY_DISK_LIST, ZY_KRVN_PROV_LOG_INPUT_OBJ_INVALID_NO_STOP);
    } else {
        for (short i = 0; i < count; ++i) {
            if (items[i] != nullptr) continue;
            rc = fail(ZY_KRVN_ERR_DISK_LIST, CWqString::Format(ZY_KRVN_PROV_ERR_EMPTY_DISK_INFO, {i, count}),
                      ZY_KRVN_PROV_LOG_INPUT_OBJ_INVALID);
            break;
        }
    }
    log(ZY_KRVN_LOGLVL_SNAP_OP_END, "%s", ZY_KRVN_PROV_LOG_VALIDATING_DONE);
    return rc;
}

int KrvnProvCtx::fetchAndFillDiskInfo() {
    log(ZY_KRVN_LOGLVL_SNAP_OP_START, "%s", ZY_KRVN_PROV_LOG_FETCH_DETAILS);
    int rc = 0;
    for (auto& entry : disks) {
        if (readItemText(entry.second->lunInfo, &ZYSO::LUNInfo::getDiskName, entry.second->diskName) != 0) {
            rc = fail(ZY_KRVN_ERR_DISK_PARAMS, CWqString::Format(ZY_KRVN_PROV_ERR_DISK_NAME, {entry.first}),
                      ZY_KRVN_PROV_LOG_OP_FAILED_ERROR);
            break;
        }
        if (opType == ZY_KRVN_PROV_OP_MAP || opType == ZY_KRVN_PROV_OP_UNMAP) {
            rc = fillMapInfoForDisk(entry);
        } else if (opType == ZY_KRVN_PROV_OP_CREATE || opType == ZY_KRVN_PROV_OP_RESIZE) {
            rc = fillDiskInfoForDisk(entry);
        }
        if (rc != 0) break;
    }
    if (rc == 0) {
        rc = getArrayDetails();
        if (rc == 0) fillDiskInfoFromGlobalSettings();
    }
    log(ZY_KRVN_LOGLVL_SNAP_OP_END, "%s", ZY_KRVN_PROV_LOG_FETCH_DETAILS_DONE);
    return rc;
}

int KrvnProvCtx::fillDiskInfoForDisk(std::pair<const long, KrvnDiskObject*>& entry) {
    KrvnDiskObject& disk = *entry.second;
    long bytes = 0;
    if (disk.lunInfo->getSize(&bytes) != 0) {
        return fail(ZY_KRVN_ERR_DISK_PARAMS, CWqString::Format(ZY_KRVN_PROV_ERR_DISK_SIZE, {entry.first}),
                    ZY_KRVN_PROV_LOG_OP_FAILED_ERROR);
    }
    const int64_t wholeGB = static_cast<int64_t>(bytes) / (int64_t{1} << ZY_KRVN_PROV_GB_SHIFT);
    if (wholeGB <= 0) {
        return fail(ZY_KRVN_ERR_DISK_PARAMS, CWqString::Format(ZY_KRVN_PROV_ERR_INVALID_SIZE, {bytes, entry.first}),
                    ZY_KRVN_PROV_LOG_OP_FAILED_ERROR);
    }
    disk.sizeUnit = ZY_KRVN_PROV_DISK_SIZE_UNIT_GB;
    disk.size = wholeGB;
    disk.diskType = ZY_KRVN_PROV_DISK_TYPE_BLOCK;
    disk.isDeduped = true;
    disk.isCompressed = disk.isDeduped;
    disk.isSCSI3pr = false;

    long blockSize = 0;
    if (disk.lunInfo->getBlockSize(&blockSize) == 0) {
        for (long allowed : ZY_KRVN_PROV_DISK_BLOCK_SIZES) {
            if (blockSize == allowed) disk.blockSize = static_cast<int32_t>(blockSize);
        }
    }
    disk.lunInfo->getDescription(&disk.description);
    if (disk.description.empty()) disk.description = ZY_KRVN_PROV_DISK_DEFAULT_DESCRIPTION;
    return 0;
}

int KrvnProvCtx::readInitiatorInfo(ZYSO::LUNInfo* item, std::string& text) {
    std::vector<char> buffer(ZY_KRVN_PROV_INIT_INFO_LEN, 0);
    unsigned short length = ZY_KRVN_PROV_INIT_INFO_LEN;
    int attempts = ZY_KRVN_PROV_INIT_INFO_ATTEMPTS;
    int rc = item->getInitiatorInfo(buffer.data(), &length);
    while (rc == ZY_KRVN_PROV_INIT_INFO_TOO_SMALL && --attempts > 0) {
        // Never more than the host asked for, and never an empty buffer handed back to it.
        if (length == 0 || length > ZY_KRVN_PROV_INIT_INFO_MAX_LEN) {
            return fail(ZY_KRVN_ERR_INITIATOR_INFO, ZY_KRVN_PROV_ERR_INIT_INFO_INVALID, ZY_KRVN_PROV_LOG_OP_FAILED);
        }
        buffer.assign(length, 0);
        rc = item->getInitiatorInfo(buffer.data(), &length);
    }
    if (rc != 0) return fail(ZY_KRVN_ERR_INITIATOR_INFO, ZY_KRVN_PROV_ERR_INIT_INFO_GET, ZY_KRVN_PROV_LOG_OP_FAILED);
    // The host's text ends at its NUL or at the end of the buffer, whichever comes first.
    text.assign(buffer.data(), strnlen(buffer.data(), buffer.size()));
    return 0;
}

int KrvnProvCtx::fillMapInfoForDisk(std::pair<const long, KrvnDiskObject*>& entry) {
    KrvnDiskObject& disk = *entry.second;
    std::string text;
    int rc = readInitiatorInfo(disk.lunInfo, text);
    if (rc != 0) return rc;
    if (parseMapInfo(text.c_str(), disk.mapInfos) != 0) return ZY_KRVN_ERR_INITIATOR_INFO;
    if (disk.mapInfos.empty()) {
        return fail(ZY_KRVN_ERR_INITIATOR_INFO, CWqString::Format(ZY_KRVN_PROV_ERR_INIT_INFO_EMPTY, {text}),
                    ZY_KRVN_PROV_LOG_OP_FAILED);
    }
    return 0;
}

int KrvnProvCtx::parseMapInfo(const char* text, std::vector<KrvnMapInfo>& out) {
    const std::string source = text ? text : "";
    JsonDocument document;
    const bool parsed = document.parseObject(source);
    std::vector<KrvnMapInfo> hosts;
    bool wellFormed = parsed && document.root().memberCount() > 0;
    JsonValue hostList;
    if (wellFormed && document.root().getArray(ZY_KRVN_PROV_INIT_LIST_FIELD_HOSTS, hostList)) {
        hostList.forEachElement([&](const JsonValue& host) {
            KrvnMapInfo info;
            if (!wellFormed || !readMapHost(host, info)) {
                wellFormed = false;
                return;
            }
            hosts.push_back(info);
        });
    }
    if (!wellFormed) {
        return fail(ZY_KRVN_ERR_INITIATOR_INFO, CWqString::Format(ZY_KRVN_PROV_ERR_INIT_INFO_PARSE, {source}),
                    ZY_KRVN_PROV_LOG_OP_FAILED);
    }
    out.insert(out.end(), hosts.begin(), hosts.end());
    return 0;
}

int KrvnProvCtx::getArrayDetails() {
    log(ZY_KRVN_LOGLVL_SNAP_OP_START, "%s", ZY_KRVN_PROV_LOG_ARRAY_DETAILS);
    ZYSO::LUNInfo* item = firstItem();
    std::string storedPassword;
    struct ItemField {
        ItemTextGetter getter;
        std::string* field;
        const char* failure;
    };
    const ItemField fields[] = {
        {&ZYSO::LUNInfo::getClusterName, &arrayDetails.arrayId, ZY_KRVN_PROV_ERR_CLUSTER_NAME},
        {&ZYSO::LUNInfo::getClusterControlHost, &arrayDetails.controlHostName, ZY_KRVN_PROV_ERR_CONTROL_HOST},
        {&ZYSO::LUNInfo::getClusterUserName, &arrayDetails.userName, ZY_KRVN_PROV_ERR_USER_NAME},
        {&ZYSO::LUNInfo::getClusterPassword, &storedPassword, ZY_KRVN_PROV_ERR_PASSWORD},
    };
    for (const ItemField& f : fields) {
        if (readItemText(item, f.getter, *f.field) != 0) {
            return fail(ZY_KRVN_ERR_PROV_ARRAY_DETAILS, f.failure, ZY_KRVN_PROV_LOG_OP_FAILED_ERROR);
        }
    }
    char clear[ZY_KRVN_PROV_ITEM_TEXT_LEN] = {};
    unsigned long clearLength = sizeof(clear);
    const bool decrypted = ZYPassword::decrypt(storedPassword.c_str(), clear, &clearLength);
    if (decrypted) arrayDetails.userPswd.assign(clear, strnlen(clear, sizeof(clear)));
    explicit_bzero(clear, sizeof(clear));
    explicit_bzero(storedPassword.data(), storedPassword.size());
    if (!decrypted || arrayDetails.arrayId.empty() || arrayDetails.controlHostName.empty() ||
        arrayDetails.userName.empty() || arrayDetails.userPswd.empty()) {
        return fail(ZY_KRVN_ERR_PROV_ARRAY_DETAILS, ZY_KRVN_PROV_ERR_DECRYPT, ZY_KRVN_PROV_LOG_OP_FAILED_ERROR);
    }
    readArrayConfigs();
    const auto& proxies = arrayDetails.arrayConfigs.storageProxyList;
    if (!proxies.empty()) arrayDetails.storageProxy = proxies.front();
    if (opType == ZY_KRVN_PROV_OP_MAP && arrayDetails.storageProxy.empty()) {
        return fail(ZY_KRVN_ERR_PROV_ARRAY_DETAILS, ZY_KRVN_PROV_ERR_NO_STORAGE_PROXY,
                    ZY_KRVN_PROV_LOG_OP_FAILED_ERROR);
    }
    log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_PROV_LOG_GOT_CLUSTER, arrayDetails.arrayId.c_str(),
        arrayDetails.controlHostName.c_str());
    printArrayDetails();
    log(ZY_KRVN_LOGLVL_SNAP_OP_START, "%s", ZY_KRVN_PROV_LOG_ARRAY_DETAILS_DONE);
    return 0;
}

int KrvnProvCtx::readArrayConfigs() {
    ZYSO::LUNInfo* item = firstItem();
    KrvnArrayConfigs& configs = arrayDetails.arrayConfigs;
    std::string value;
    auto found = [&](const char* key) {
        value.clear();
        return item->getConfigValue(key, &value) == 0;
    };

    struct NumberConfig {
        const char* key;
        int32_t KrvnArrayConfigs::*field;
    };
    static const NumberConfig numbers[] = {
        {ZY_KRVN_PROV_CFG_DIAG_LOGGING, &KrvnArrayConfigs::restLogging},
        {ZY_KRVN_PROV_CFG_RETRY_COUNT, &KrvnArrayConfigs::maxRetryCount},
        {ZY_KRVN_PROV_CFG_RETRY_INTERVAL, &KrvnArrayConfigs::sleepInterval},
    };
    for (const NumberConfig& number : numbers) {
        if (!found(number.key)) continue;
        if (!value.empty()) configs.*number.field = configNumber(value);
        log(ZY_KRVN_LOGLVL_SNAP_OP_START, ZY_KRVN_PROV_LOG_CFG_VALUE, number.key, configs.*number.field);
    }
    if (found(ZY_KRVN_PROV_CFG_SECURE)) {
        if (!value.empty()) configs.useHttps = configNumber(value) > 0;
        log(ZY_KRVN_LOGLVL_SNAP_OP_START, ZY_KRVN_PROV_LOG_CFG_BOOL, ZY_KRVN_PROV_CFG_SECURE,
            provBoolText(configs.useHttps));
    }
    if (found(ZY_KRVN_PROV_CFG_PROXY_LIST)) {
        if (!value.empty()) {
            std::vector<std::string> proxies;
            FXString::Split(value, ZY_KRVN_PROV_ARRAY_CONFIG_LIST_DELIM, proxies, 0);
            configs.storageProxyList = proxies;
        }
        log(ZY_KRVN_LOGLVL_SNAP_OP_START, ZY_KRVN_PROV_LOG_CFG_SIZE, ZY_KRVN_PROV_CFG_PROXY_LIST,
            configs.storageProxyList.size());
    }
    if (found(ZY_KRVN_PROV_CFG_SERVER_PORT)) {
        if (!value.empty()) configs.serverPort = configNumber(value);
        log(ZY_KRVN_LOGLVL_SNAP_OP_START, ZY_KRVN_PROV_LOG_CFG_VALUE, ZY_KRVN_PROV_CFG_SERVER_PORT, configs.serverPort);
    } else {
        configs.serverPort = configs.useHttps ? ZY_KRVN_PROV_PORT_HTTPS : ZY_KRVN_PROV_PORT_HTTP;
    }
    return 0;
}

void KrvnProvCtx::fillDiskInfoFromGlobalSettings() {
    ZYSO::LUNInfo* item = firstItem();
    bool encryptDisabled = false;
    if (item->getSettingBool(ZY_KRVN_PROV_SETTING_ENCRYPT_DISABLE, &encryptDisabled) == 0) {
        log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_PROV_LOG_SETTING_BOOL, ZY_KRVN_PROV_SETTING_ENCRYPT_DISABLE,
            provBoolText(encryptDisabled));
        if (encryptDisabled) {
            log(ZY_KRVN_LOGLVL_DETAIL, "%s", ZY_KRVN_PROV_LOG_ENCRYPT_OFF);
            for (auto& entry : disks) entry.second->isEncrypted = false;
        }
    }
    int replication = 0;
    if (item->getSettingInt(ZY_KRVN_PROV_SETTING_REPLICATION, &replication) == 0) {
        log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_PROV_LOG_SETTING_INT, ZY_KRVN_PROV_SETTING_REPLICATION, replication);
        if (replication > 0) {
            log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_PROV_LOG_SET_RF, replication);
            for (auto& entry : disks) entry.second->replicationFactor = replication;
        }
    }
}

KrvnDisk KrvnProvCtx::getDiskParams(const KrvnDiskObject* disk) const {
    KrvnDisk record;
    record.vDiskName = disk->diskName;
    record.size = static_cast<double>(disk->size);
    record.sizeUnit = disk->sizeUnit;
    record.diskType = disk->diskType;
    record.deduplication = disk->isDeduped;
    record.compressed = disk->isCompressed;
    record.scsi3pr = disk->isSCSI3pr;
    record.encryption = disk->isEncrypted;
    record.blockSize = disk->blockSize;
    // The record's field is 16 bits: an out-of-range setting is clamped, never wrapped.
    record.replicationFactor =
        static_cast<int16_t>(std::min<int32_t>(std::max<int32_t>(disk->replicationFactor, INT16_MIN), INT16_MAX));
    record.description = disk->description;
    return record;
}

}  // namespace ZYProvKorvan
