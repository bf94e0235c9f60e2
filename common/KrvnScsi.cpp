// SCSI inquiry and device identity. Every read of an answer is bounded by the 255-byte
// response and every copy by its work area: a device may answer with any bytes at all.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "CWqString.h"
#include "KrvnCommonUtils.h"
#include "KrvnNumbers.h"
#include "KrvnTextsScsi.h"
#include "ZyDeviceTree.h"

namespace ZYKorvanCommon {

namespace {

std::string byteHex(unsigned char value) {
    char text[8];
    std::snprintf(text, sizeof(text), ZY_KRVN_SCSI_BYTE_HEX_FMT, value);
    return text;
}

// A fixed-width text field: up to the first NUL or the width, blanks kept.
std::string fixedField(const unsigned char* response, int offset, int width) {
    const char* start = reinterpret_cast<const char*>(response + offset);
    const void* nul = std::memchr(start, '\0', width);
    size_t length = nul ? static_cast<size_t>(static_cast<const char*>(nul) - start) : static_cast<size_t>(width);
    return std::string(start, length);
}

bool isScsiWhiteSpace(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

void appendHexByte(std::string& out, unsigned char b) {
    static const char kHex[] = "0123456789ABCDEF";
    out.push_back(kHex[b >> 4]);
    out.push_back(kHex[b & 0x0F]);
}

// The dump shows printable ASCII as itself, whatever locale the host process runs in.
bool isDumpPrintable(unsigned char c) { return c >= 0x20 && c < 0x7F; }

const unsigned char kInquiryPages[] = {ZY_KRVN_SCSI_PAGE_STD, ZY_KRVN_SCSI_PAGE_UNIT_SERIAL,
                                       ZY_KRVN_SCSI_PAGE_DEVICE_ID};

}  // namespace

int KrvnCommonUtils::doSCSIInquiry(const std::string& device, const unsigned char* cdb, unsigned char* response) {
    const unsigned char page = cdb[2];
    const int evpd = page != 0 ? 1 : 0;
    ctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_LOG_SCSI_PERFORMING,
             evpd ? ZY_KRVN_SCSI_INQUIRY_VPD : ZY_KRVN_SCSI_INQUIRY_STD, device.c_str(), evpd, page);

    CWqError error;
    SP<ZyDevice> dev = ZyDeviceTree::getDevice(device.c_str(), &error);
    if (!dev) {
        return ctx->fail(ZY_KRVN_ERR_SCSI_DEVICE,
                         CWqString::Format(ZY_KRVN_ERR_SCSI_NO_DEVICE, {device, error.AsString()}),
                         ZY_KRVN_LOG_SCSI_INQUIRY_FAILED);
    }
    auto* scsi = static_cast<ZyDeviceScsiIface*>(dev->GetInterface(ZY_KRVN_SCSI_SCSI_IFACE_NAME));
    if (!scsi) {
        return ctx->fail(ZY_KRVN_ERR_SCSI_DEVICE, CWqString::Format(ZY_KRVN_ERR_SCSI_NOT_SCSI, {dev->GetName()}),
                         ZY_KRVN_LOG_SCSI_INQUIRY_FAILED);
    }
    std::memset(response, 0, ZY_KRVN_SCSI_RESP_LEN);
    error.Clear();
    if (scsi->SendCdb(cdb, ZY_KRVN_SCSI_CDB_LEN, response, ZY_KRVN_SCSI_RESP_LEN, ZY_KRVN_SCSI_TIMEOUT_SEC, &error) ==
        -1) {
        return ctx->fail(ZY_KRVN_ERR_SCSI_DEVICE,
                         CWqString::Format(ZY_KRVN_ERR_SCSI_INQUIRY, {device, error.AsString(), evpd, byteHex(page)}),
                         ZY_KRVN_LOG_SCSI_INQUIRY_FAILED);
    }
    return 0;
}

void KrvnCommonUtils::getStdDetailsFromSCSIResp(const unsigned char* response, std::string& vendor,
                                                std::string& product, std::string& revision) {
    vendor = fixedField(response, ZY_KRVN_SCSI_VENDOR_OFFSET, ZY_KRVN_SCSI_VENDOR_LEN);
    product = fixedField(response, ZY_KRVN_SCSI_PRODUCT_OFFSET, ZY_KRVN_SCSI_PRODUCT_LEN);
    revision = fixedField(response, ZY_KRVN_SCSI_REVISION_OFFSET, ZY_KRVN_SCSI_REVISION_LEN);
}

void KrvnCommonUtils::getDiskSerialIdFromSCSIResp(const unsigned char* response, std::string& serial) {
    // The length byte may claim up to 255 bytes: keep the copy inside the work area (with
    // room for its NUL) and inside the response.
    char work[ZY_KRVN_SCSI_SERIAL_WORK_LEN] = {};
    size_t length = response[ZY_KRVN_SCSI_SERIAL_LEN_OFFSET];
    length =
        std::min({length, sizeof(work) - 1, static_cast<size_t>(ZY_KRVN_SCSI_RESP_LEN - ZY_KRVN_SCSI_SERIAL_OFFSET)});
    std::memcpy(work, response + ZY_KRVN_SCSI_SERIAL_OFFSET, length);
    serial.clear();
    for (const char* c = work; *c != '\0'; ++c) {
        if (!isScsiWhiteSpace(static_cast<unsigned char>(*c))) serial.push_back(*c);
    }
}

void KrvnCommonUtils::getArrayIdFromSCSIResp(const unsigned char* response, std::string& clusterSerial) {
    // A designator length running past the response is cut at its end.
    size_t length = response[ZY_KRVN_SCSI_DESIGNATOR_LEN_OFFSET];
    length = std::min(length, static_cast<size_t>(ZY_KRVN_SCSI_RESP_LEN - ZY_KRVN_SCSI_DESIGNATOR_OFFSET));
    std::string hex;
    hex.reserve(2 * length);
    for (size_t i = 0; i < length; ++i) appendHexByte(hex, response[ZY_KRVN_SCSI_DESIGNATOR_OFFSET + i]);
    clusterSerial.clear();
    if (hex.size() > ZY_KRVN_SCSI_CLUSTER_SERIAL_SKIP)
        clusterSerial = hex.substr(ZY_KRVN_SCSI_CLUSTER_SERIAL_SKIP, ZY_KRVN_SCSI_CLUSTER_SERIAL_LEN);
}

int KrvnCommonUtils::checkStdPageInfoForKorvan(const std::string& device, const std::string& vendor,
                                               const std::string& product, const std::string& /*revision*/) {
    std::string sentence;
    if (vendor.empty())
        sentence = CWqString::Format(ZY_KRVN_ERR_SCSI_VENDOR_EMPTY, {device, ZY_KRVN_SCSI_KORVAN_VENDOR});
    else if (product.empty())
        sentence = CWqString::Format(ZY_KRVN_ERR_SCSI_PRODUCT_EMPTY, {device, ZY_KRVN_SCSI_KORVAN_PRODUCT});
    else if (vendor != ZY_KRVN_SCSI_KORVAN_VENDOR)
        sentence = CWqString::Format(ZY_KRVN_ERR_SCSI_VENDOR_MISMATCH, {vendor, device, ZY_KRVN_SCSI_KORVAN_VENDOR});
    else if (product != ZY_KRVN_SCSI_KORVAN_PRODUCT)
        sentence = CWqString::Format(ZY_KRVN_ERR_SCSI_PRODUCT_MISMATCH, {product, device, ZY_KRVN_SCSI_KORVAN_PRODUCT});
    else
        return 0;
    return ctx->fail(ZY_KRVN_ERR_SCSI_DATA, sentence, ZY_KRVN_LOG_SCSI_CHECK_FAILED);
}

int KrvnCommonUtils::checkDiskIdInfoForKorvan(const std::string& device, const std::string& serial) {
    if (!serial.empty()) return 0;
    return ctx->fail(ZY_KRVN_ERR_SCSI_DATA, CWqString::Format(ZY_KRVN_ERR_SCSI_SERIAL_EMPTY, {device}),
                     ZY_KRVN_LOG_SCSI_INVALID_DETAILS);
}

int KrvnCommonUtils::checkArrayIdInfoForKorvan(const std::string& device, const std::string& clusterSerial) {
    if (!clusterSerial.empty()) return 0;
    return ctx->fail(ZY_KRVN_ERR_SCSI_DATA, CWqString::Format(ZY_KRVN_ERR_SCSI_CLUSTER_SERIAL_EMPTY, {device}),
                     ZY_KRVN_LOG_SCSI_INVALID_DETAILS);
}

int KrvnCommonUtils::refuseMismatchedPage(const std::string& device, unsigned char returned, int requested,
                                          const KrvnFailLog& log) {
    return ctx->fail(ZY_KRVN_ERR_SCSI_DATA,
                     CWqString::Format(ZY_KRVN_ERR_SCSI_PAGE_MISMATCH, {byteHex(returned), requested, device}), log);
}

KrvnCommonUtils::DeviceSerial KrvnCommonUtils::readDeviceSerial(const std::string& device,
                                                                const std::string& clusterSerial, int64_t& serial) {
    ctx->log(ZY_KRVN_LOGLVL_DETAIL, "%s", ZY_KRVN_LOG_SCSI_STARS);
    ctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_LOG_SCSI_INQUIRING, device.c_str());
    ctx->log(ZY_KRVN_LOGLVL_DETAIL, "%s", ZY_KRVN_LOG_SCSI_STARS);
    std::string diskSerial;
    std::string deviceCluster;
    if (inquireDevice(device, diskSerial, deviceCluster) != 0) {
        ctx->tolerate();
        return DeviceSerial::Unreadable;
    }
    if (deviceCluster != clusterSerial || !parseScsiSerial(diskSerial, serial)) return DeviceSerial::NotOfCluster;
    return DeviceSerial::Read;
}

int KrvnCommonUtils::inquireDevice(const std::string& device, std::string& vDiskSerial, std::string& clusterSerial) {
    vDiskSerial.clear();
    clusterSerial.clear();
    ctx->log(ZY_KRVN_LOGLVL_DETAIL, "%s", ZY_KRVN_LOG_SCSI_STARS);
    ctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_LOG_SCSI_INQUIRING, device.c_str());
    ctx->log(ZY_KRVN_LOGLVL_DETAIL, "%s", ZY_KRVN_LOG_SCSI_STARS);

    std::string serial;
    std::string cluster;
    for (unsigned char page : kInquiryPages) {
        const unsigned char cdb[ZY_KRVN_SCSI_CDB_LEN] = {ZY_KRVN_SCSI_OPCODE_INQUIRY,
                                                         static_cast<unsigned char>(page != 0 ? 1 : 0),
                                                         page,
                                                         0,
                                                         ZY_KRVN_SCSI_ALLOC_LEN,
                                                         0};
        unsigned char response[ZY_KRVN_SCSI_RESP_LEN] = {};
        int rc = doSCSIInquiry(device, cdb, response);
        if (rc != 0) return rc;
        dumpHexBuf(response, ZY_KRVN_SCSI_RESP_LEN);
        if (response[ZY_KRVN_SCSI_RESP_PAGE_OFFSET] != page)
            return refuseMismatchedPage(device, response[ZY_KRVN_SCSI_RESP_PAGE_OFFSET], page,
                                        {ZY_KRVN_LOG_SCSI_PAGE_MISMATCH, KrvnLogArgs::Text});
        switch (page) {
            case ZY_KRVN_SCSI_PAGE_STD: {
                std::string vendor, product, revision;
                getStdDetailsFromSCSIResp(response, vendor, product, revision);
                ctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_LOG_SCSI_STD_RESULT, vendor.c_str(), product.c_str(),
                         revision.c_str());
                rc = checkStdPageInfoForKorvan(device, vendor, product, revision);
                if (rc != 0) return rc;
                ctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_LOG_SCSI_STD_DONE, device.c_str());
                break;
            }
            case ZY_KRVN_SCSI_PAGE_UNIT_SERIAL:
                getDiskSerialIdFromSCSIResp(response, serial);
                ctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_LOG_SCSI_P80_RESULT, serial.c_str());
                rc = checkDiskIdInfoForKorvan(device, serial);
                if (rc != 0) return rc;
                break;
            default:
                getArrayIdFromSCSIResp(response, cluster);
                ctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_LOG_SCSI_P83_RESULT, cluster.c_str());
                rc = checkArrayIdInfoForKorvan(device, cluster);
                if (rc != 0) return rc;
                break;
        }
    }
    vDiskSerial = serial;
    clusterSerial = cluster;
    return 0;
}

void KrvnCommonUtils::dumpHexBuf(const unsigned char* buffer, int length) {
    // Both texts are built only when someone will read them.
    if (ctx->debugLevel() < ZY_KRVN_LOGLVL_HEX_DUMP || buffer == nullptr || length <= 0) return;
    std::string hex;
    std::string chars;
    hex.reserve(3 * static_cast<size_t>(length));
    chars.reserve(3 * static_cast<size_t>(length));
    for (int i = 0; i < length; ++i) {
        unsigned char b = buffer[i];
        appendHexByte(hex, b);
        hex.push_back(' ');
        chars.push_back(isDumpPrintable(b) ? static_cast<char>(b) : '.');
        chars.append("  ");
    }
    ctx->log(ZY_KRVN_LOGLVL_HEX_DUMP, ZY_KRVN_LOG_SCSI_DUMP, hex.c_str());
    ctx->log(ZY_KRVN_LOGLVL_HEX_ASCII_DUMP, ZY_KRVN_LOG_SCSI_DUMP, chars.c_str());
}

}  // namespace ZYKorvanCommon
