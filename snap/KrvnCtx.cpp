// KrvnCtx: input checks, per-item objects, array details and configuration of one call.
#include "KrvnCtx.h"
#include "CWqString.h"

#include <memory>
#include <string>

#include "KrvnTextsSnap.h"

namespace ZYSnapKrvn {

using namespace ZYKorvanCommon;

namespace {
// Writes a step's completion line when the step is left, whichever way it is left.
class StepEndLine {
public:
    StepEndLine(KrvnCtx& ctx, const char* text) : ctx_(ctx), text_(text) {}
    ~StepEndLine() { ctx_.log(ZY_KRVN_LOGLVL_SNAP_OP_END, "%s", text_); }
    StepEndLine(const StepEndLine&) = delete;
    StepEndLine& operator=(const StepEndLine&) = delete;

private:
    KrvnCtx& ctx_;
    const char* text_;
};
}  // namespace

void KrvnSnapObject::dump(std::string& out) const {
    out = CWqString::Format(ZY_KRVN_DUMP_SNAP_OBJECT, {sourceDevice, sourceVDiskId, sourceVDiskName, snapName, snapUUID,
                                                       isVMware ? "true" : "false"});
}

bool AreAllSnapsDeleted(ZYSO::SnapInfo** items, int count) {
    int deleted = 0;
    for (int i = 0; i < count; ++i)
        if (items[i]->getStatus() == ZY_KRVN_SNAP_STATUS_DELETED) ++deleted;
    return deleted == count;
}

// The count is taken whole: a host batch of more than 32767 items must not leave the tail
// of the batch with a stale status.
void setSnapStatus(ZYSO::SnapStatus keep, ZYSO::SnapStatus failed, ZYSO::SnapInfo** items, int count) {
    if (count < 1 || !items) return;
    for (int i = 0; i < count; ++i)
        if (items[i] && items[i]->getStatus() != keep) items[i]->setStatus(failed);
}

KrvnCtx::KrvnCtx(ZYSO::ZYOSUtil* util, long long, int type) : KrvnCommonCtx(util), opType(static_cast<int16_t>(type)) {}

KrvnCtx::~KrvnCtx() {
    for (auto& entry : snapItems) delete entry.second;
    snapItems.clear();
    delete mapCtx;
    mapCtx = nullptr;
}

int KrvnCtx::initialize(ZYSO::SnapInfo** items, int count) {
    log(ZY_KRVN_LOGLVL_SNAP_OP_START, ZY_KRVN_LOG_INIT_CTX);
    StepEndLine done(*this, ZY_KRVN_LOG_INIT_CTX_DONE);
    if (opType == ZY_KRVN_SNAP_OP_SUPPORT_CHECK) {
        // Nothing to validate or create, but the step ends the way every initialisation does.
        log(ZY_KRVN_LOGLVL_SNAP_OP_END, ZY_KRVN_LOG_CREATE_OBJECTS_DONE);
        return 0;
    }

    int rc = validateInputParams(items, count);
    if (rc != 0) return rc;
    if (opType == ZY_KRVN_SNAP_OP_DELETE && AreAllSnapsDeleted(items, count)) return 0;

    itemCount = count;
    snapItemsArray = items;
    log(ZY_KRVN_LOGLVL_SNAP_OP_START, ZY_KRVN_LOG_CREATE_OBJECTS);
    for (int i = 0; i < count; ++i) {
        if (items[i]->getStatus() == ZY_KRVN_SNAP_STATUS_DELETED) continue;
        auto obj = std::make_unique<KrvnSnapObject>();
        obj->snapInfo = items[i];
        KrvnSnapObject*& slot = snapItems[items[i]->getSnapId()];
        delete slot;  // a repeated id: the later item takes the entry
        slot = obj.release();
    }

    rc = fetchAndFillSnapInfo();
    if (rc != 0) return rc;

    if (items[0]->getArrayNumber() >= 1) {
        readAndSetArrayConfigs();
        if (opType == ZY_KRVN_SNAP_OP_MAP && arrayDetails.storageProxy.empty()) {
            return fail(ZY_KRVN_ERR_OPERATION_FAILED,
                        CWqString::Format(ZY_KRVN_ERR_NO_STORAGE_PROXY,
                                          {ZY_KRVN_STORAGE_PROXY_LIST_NAME, arrayDetails.arrayId}),
                        ZY_KRVN_LOG_OP_FAILED_DASH);
        }
        // Unmap takes the storage proxy of each clone from its metadata, never the configured one.
        if (opType == ZY_KRVN_SNAP_OP_UNMAP) arrayDetails.storageProxy.clear();
    }
    log(ZY_KRVN_LOGLVL_SNAP_OP_END, ZY_KRVN_LOG_CREATE_OBJECTS_DONE);
    return 0;
}

int KrvnCtx::validateInputParams(ZYSO::SnapInfo** items, int count) {
    log(ZY_KRVN_LOGLVL_SNAP_OP_START, ZY_KRVN_LOG_VALIDATE);
    StepEndLine done(*this, ZY_KRVN_LOG_VALIDATE_DONE);

    if (!osUtil) return fail(ZY_KRVN_ERR_OS_UTIL, ZY_KRVN_ERR_OS_UTIL_INVALID, ZY_KRVN_LOG_VALIDATE_OBJ_FAILED);
    if (count < 1)
        return fail(ZY_KRVN_ERR_INVALID_COUNT, CWqString::Format(ZY_KRVN_ERR_TEXT_INVALID_COUNT, {count}),
                    ZY_KRVN_LOG_VALIDATE_LIST_FAILED);
    if (!items) return fail(ZY_KRVN_ERR_SNAP_LIST, ZY_KRVN_ERR_EMPTY_LIST, ZY_KRVN_LOG_VALIDATE_OBJ_FAILED_NO_STOP);

    for (int i = 0; i < count; ++i) {
        ZYSO::SnapInfo* item = items[i];
        if (!item)
            return fail(ZY_KRVN_ERR_SNAP_LIST, CWqString::Format(ZY_KRVN_ERR_EMPTY_ITEM, {i, count}),
                        ZY_KRVN_LOG_VALIDATE_OBJ_FAILED);
        if (opType == ZY_KRVN_SNAP_OP_PREPARE || item->getArrayNumber() >= 1) continue;
        if (opType == ZY_KRVN_SNAP_OP_DELETE) {
            // Nothing was ever made on a cluster for an item that never got an array.
            log(ZY_KRVN_LOGLVL_ERROR, ZY_KRVN_LOG_NO_ARRAY, item->getSnapId());
            item->setStatus(ZY_KRVN_SNAP_STATUS_DELETED);
            continue;
        }
        return fail(ZY_KRVN_ERR_ITEM_ARRAY, CWqString::Format(ZY_KRVN_ERR_NO_ARRAY, {item->getSnapId()}),
                    ZY_KRVN_LOG_VALIDATE_OBJ_FAILED);
    }
    return 0;
}

int KrvnCtx::fetchAndFillSnapInfo() {
    log(ZY_KRVN_LOGLVL_SNAP_OP_START, ZY_KRVN_LOG_FETCH);
    sourceIsVMware = false;
    bool first = true;
    for (auto& [id, obj] : snapItems) {
        ZYSO::SnapInfo* item = obj->snapInfo;
        if (!item->getSourceDevice(&obj->sourceDevice))
            return fail(ZY_KRVN_ERR_SOURCE_DEVICE, CWqString::Format(ZY_KRVN_ERR_TEXT_SOURCE_DEVICE, {id}),
                        ZY_KRVN_LOG_OP_FAILED_ERROR);
        log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_LOG_GOT_SOURCE, obj->sourceDevice.c_str());

        if (first) {
            first = false;
            log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_LOG_CHECK_VMWARE);
            int rc = checkIfVMwareDevice(obj);
            if (rc != 0) return rc;
            sourceIsVMware = obj->isVMware;
            log(ZY_KRVN_LOGLVL_DETAIL, sourceIsVMware ? ZY_KRVN_LOG_IS_VMWARE : ZY_KRVN_LOG_NOT_VMWARE);
        }
        // Every source of one request comes from the same kind of host as the first.
        if (sourceIsVMware) obj->isVMware = true;

        if (opType != ZY_KRVN_SNAP_OP_PREPARE) {
            int rc = fillSnapInfoFromMetadata(obj);
            if (rc != 0) return rc;
            long long n = 0;
            item->generateSnapUUID("-", &n, &obj->snapUUID);
        }
        if (opType == ZY_KRVN_SNAP_OP_MAP || opType == ZY_KRVN_SNAP_OP_UNMAP) fillMountCloneNameForSnap(obj);
    }

    if (opType != ZY_KRVN_SNAP_OP_PREPARE) {
        int rc = getArrayDetailsFromDB();
        if (rc != 0) return rc;
    }
    log(ZY_KRVN_LOGLVL_SNAP_OP_END, ZY_KRVN_LOG_FETCH_DONE);
    return 0;
}

int KrvnCtx::checkIfVMwareDevice(KrvnSnapObject* obj) {
    if (obj->sourceDevice.empty())
        return fail(ZY_KRVN_ERR_SOURCE_EMPTY, ZY_KRVN_ERR_TEXT_SOURCE_EMPTY, ZY_KRVN_LOG_OP_FAILED_ERROR_STOP);
    obj->isVMware = obj->sourceDevice.find(ZY_KRVN_VMWARE_DEVICE_MARK) != std::string::npos;
    return 0;
}

int KrvnCtx::getArrayDetailsFromDB() {
    KrvnSnapObject* obj = firstObject();
    // Every item may have been dropped as already deleted: then there is no array to ask.
    if (!obj) return 0;
    ZYSO::SnapInfo* item = obj->snapInfo;
    const int number = item->getArrayNumber();
    log(ZY_KRVN_LOGLVL_SNAP_OP_START, ZY_KRVN_LOG_GET_ARRAY, number);

    ZYSO::ArrayInfo* info = nullptr;
    // Success without a record is a host fault, taken as a failed lookup.
    if (item->getArrayInfo(&info) || !info) {
        if (info) item->releaseArrayInfo(&info);
        return fail(ZY_KRVN_ERR_ARRAY_DETAILS, CWqString::Format(ZY_KRVN_ERR_TEXT_ARRAY_DETAILS, {number}),
                    ZY_KRVN_LOG_ARRAY_FAILED);
    }

    const std::string scsiArrayId = arrayDetails.scsiArrayId;
    arrayDetails.reset();
    arrayDetails.scsiArrayId = scsiArrayId;
    int arrayNumber = 0;
    info->getArrayNumber(&arrayNumber);
    arrayDetails.arrayNumber = arrayNumber;
    info->getArrayName(&arrayDetails.arrayId);
    info->getControlHost(&arrayDetails.controlHostName);
    info->getUserName(&arrayDetails.userName);
    std::string stored;
    info->getEncryptedPassword(&stored);
    item->decryptPassword(stored, &arrayDetails.userPswd);
    item->releaseArrayInfo(&info);

    log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_LOG_GOT_ARRAY, arrayDetails.arrayNumber, arrayDetails.arrayId.c_str());
    printArrayDetails();
    log(ZY_KRVN_LOGLVL_SNAP_OP_END, ZY_KRVN_LOG_GET_ARRAY_DONE, number);
    return 0;
}

int KrvnCtx::readConfigInt(ZYSO::SnapInfo* item, const char* key, int fallback) {
    int value = 0;
    if (item->getConfigInt(key, &value) == 0) {
        log(ZY_KRVN_LOGLVL_SNAP_OP_START, ZY_KRVN_LOG_CFG_FOUND, key, value);
        return value;
    }
    log(ZY_KRVN_LOGLVL_SNAP_OP_START, ZY_KRVN_LOG_CFG_DEFAULT, key, fallback);
    return fallback;
}

void KrvnCtx::readAndSetArrayConfigs() {
    KrvnSnapObject* obj = firstObject();
    ZYSO::SnapInfo* item = obj ? obj->snapInfo : (snapItemsArray ? snapItemsArray[0] : nullptr);
    if (!item) return;
    KrvnArrayConfigs& cfg = arrayDetails.arrayConfigs;
    const KrvnArrayConfigs defaults;

    cfg.restLogging = readConfigInt(item, ZY_KRVN_CFG_DIAGNOSTIC_LOGGING, defaults.restLogging);

    readSnapConfigList(item, ZY_KRVN_CFG_STORAGE_PROXY_LIST, cfg.storageProxyList);
    log(ZY_KRVN_LOGLVL_SNAP_OP_START, ZY_KRVN_LOG_CFG_LIST, ZY_KRVN_CFG_STORAGE_PROXY_LIST,
        cfg.storageProxyList.size());
    if (!cfg.storageProxyList.empty()) arrayDetails.storageProxy = cfg.storageProxyList.front();

    cfg.maxRetryCount = readConfigInt(item, ZY_KRVN_CFG_RETRY_COUNT, defaults.maxRetryCount);
    cfg.sleepInterval = readConfigInt(item, ZY_KRVN_CFG_RETRY_INTERVAL, defaults.sleepInterval);

    int secure = 0;
    if (item->getConfigInt(ZY_KRVN_CFG_SECURE, &secure) == 0) {
        cfg.useHttps = secure > 0;
        log(ZY_KRVN_LOGLVL_SNAP_OP_START, ZY_KRVN_LOG_CFG_FOUND_TEXT, ZY_KRVN_CFG_SECURE,
            cfg.useHttps ? "true" : "false");
    } else {
        cfg.useHttps = false;
        log(ZY_KRVN_LOGLVL_SNAP_OP_START, ZY_KRVN_LOG_CFG_DEFAULT_TEXT, ZY_KRVN_CFG_SECURE, "false");
    }

    cfg.serverPort =
        readConfigInt(item, ZY_KRVN_CFG_PORT, cfg.useHttps ? ZY_KRVN_HTTPS_PORT_DEFAULT : ZY_KRVN_HTTP_PORT_DEFAULT);
    log(ZY_KRVN_LOGLVL_SNAP_OP_START, ZY_KRVN_LOG_TEXT, cfg.getPrintString().c_str());
}

void KrvnCtx::readSnapConfigList(ZYSO::SnapInfo* item, const char* key, std::vector<std::string>& list) {
    list.clear();
    int count = 0;
    if (item->getConfigListSize(key, &count) != 0) {
        log(ZY_KRVN_LOGLVL_ERROR, ZY_KRVN_LOG_CFG_LIST_SIZE_FAILED, key);
        return;
    }
    for (int i = 0; i < count; ++i) {
        int length = 0;
        if (item->getConfigListItem(key, i, nullptr, &length) == 1) {
            log(ZY_KRVN_LOGLVL_ERROR, ZY_KRVN_LOG_CFG_ITEM_LEN_FAILED, i, key, count);
            return;
        }
        if (length == 0) {
            log(ZY_KRVN_LOGLVL_ERROR, ZY_KRVN_LOG_CFG_ITEM_LEN_ZERO, i, key, count);
            continue;
        }
        // A negative or huge length is a host fault; allocating it would crash or exhaust memory.
        if (length < 0 || length > ZY_KRVN_CFG_ITEM_MAX_LEN) {
            log(ZY_KRVN_LOGLVL_ERROR, ZY_KRVN_LOG_CFG_ITEM_LEN_BAD, length, i, key, count);
            continue;
        }
        // One byte more than asked, zeroed, so an item the host fills to the brim still ends.
        std::string buffer(static_cast<size_t>(length) + 1, '\0');
        int asked = length;
        if (item->getConfigListItem(key, i, &buffer[0], &asked) != 0) {
            log(ZY_KRVN_LOGLVL_ERROR, ZY_KRVN_LOG_CFG_ITEM_FAILED, i, key, count);
            continue;
        }
        list.emplace_back(buffer.c_str());
    }
}

}  // namespace ZYSnapKrvn
