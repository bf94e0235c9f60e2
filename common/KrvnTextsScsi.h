// Texts and constants of SCSI inquiry and device identity.
#pragma once

namespace ZYKorvanCommon {

// INQUIRY command: opcode, EVPD flag, page code, 0, allocation length, control.
constexpr unsigned char ZY_KRVN_SCSI_OPCODE_INQUIRY = 0x12;
constexpr unsigned char ZY_KRVN_SCSI_ALLOC_LEN = 0xFF;
constexpr unsigned char ZY_KRVN_SCSI_PAGE_STD = 0x00;
constexpr unsigned char ZY_KRVN_SCSI_PAGE_UNIT_SERIAL = 0x80;
constexpr unsigned char ZY_KRVN_SCSI_PAGE_DEVICE_ID = 0x83;
constexpr int ZY_KRVN_SCSI_TIMEOUT_SEC = 10;
constexpr int ZY_KRVN_SCSI_RESP_PAGE_OFFSET = 1;   // every answer names its page in byte 1

// Standard page fields: offset and width.
constexpr int ZY_KRVN_SCSI_VENDOR_OFFSET = 8;
constexpr int ZY_KRVN_SCSI_VENDOR_LEN = 8;
constexpr int ZY_KRVN_SCSI_PRODUCT_OFFSET = 16;
constexpr int ZY_KRVN_SCSI_PRODUCT_LEN = 16;
constexpr int ZY_KRVN_SCSI_REVISION_OFFSET = 32;
constexpr int ZY_KRVN_SCSI_REVISION_LEN = 4;

// Page 0x80: serial length and start, and the work area it is read into (with its NUL).
constexpr int ZY_KRVN_SCSI_SERIAL_LEN_OFFSET = 3;
constexpr int ZY_KRVN_SCSI_SERIAL_OFFSET = 4;
constexpr int ZY_KRVN_SCSI_SERIAL_WORK_LEN = 64;

// Page 0x83: the designator whose header starts at byte 56; its length byte and identifier.
constexpr int ZY_KRVN_SCSI_DESIGNATOR_LEN_OFFSET = 59;
constexpr int ZY_KRVN_SCSI_DESIGNATOR_OFFSET = 60;
// The cluster serial: this many hex digits, after dropping the first one.
constexpr size_t ZY_KRVN_SCSI_CLUSTER_SERIAL_SKIP = 1;
constexpr size_t ZY_KRVN_SCSI_CLUSTER_SERIAL_LEN = 14;

const char* const ZY_KRVN_SCSI_SCSI_IFACE_NAME = "ZyDeviceScsiIface";
const char* const ZY_KRVN_SCSI_KORVAN_VENDOR = "_KORVAN_";
const char* const ZY_KRVN_SCSI_KORVAN_PRODUCT = "VIRTUAL-DISK";
const char* const ZY_KRVN_SCSI_INQUIRY_VPD = "VPD";
const char* const ZY_KRVN_SCSI_INQUIRY_STD = "standard";
const char* const ZY_KRVN_SCSI_BYTE_HEX_FMT = "%02xh";   // one byte in messages: 80h

// Log lines.
const char* const ZY_KRVN_LOG_SCSI_PERFORMING =
    "KRVN  Performing %s SCSI Inquiry of device-[%s] - EVPD-[%d], SCSI page code-[%xh]";
const char* const ZY_KRVN_LOG_SCSI_INQUIRY_FAILED = "KRVN  SCSI Inquiry failed-[%d:%s]";
const char* const ZY_KRVN_LOG_SCSI_CHECK_FAILED = "KRVN  Checking for Korvan device failed-[%d:%s]";
const char* const ZY_KRVN_LOG_SCSI_INVALID_DETAILS = "KRVN  Invalid SCSI details-[%d:%s]";
const char* const ZY_KRVN_LOG_SCSI_STARS =
    "KRVN  ************************************************************";
const char* const ZY_KRVN_LOG_SCSI_INQUIRING = "KRVN  Inquiring device-[%s]";
const char* const ZY_KRVN_LOG_SCSI_STD_RESULT =
    "KRVN >>  Standard SCSI inquiry result - < vendor-[%s] product-[%s] revision-[%s] >";
const char* const ZY_KRVN_LOG_SCSI_STD_DONE = "KRVN >>  STD inquiry on device-[%s] done - It is a Korvan device...";
const char* const ZY_KRVN_LOG_SCSI_P80_RESULT = "KRVN >>  Page 80h SCSI inquiry result - < vDisk serial number-[%s] >";
const char* const ZY_KRVN_LOG_SCSI_P83_RESULT =
    "KRVN >>  Page 83h SCSI inquiry result - < cluster serial number-[%s] >";
const char* const ZY_KRVN_LOG_SCSI_PAGE_MISMATCH = "KRVN  %s";
const char* const ZY_KRVN_LOG_SCSI_DUMP = "KRVN  SCSI inquiry dump << [%s] >>";

// Error sentences.
const char* const ZY_KRVN_ERR_SCSI_NO_DEVICE = "Failed to get ZyDevice for device-[";
const char* const ZY_KRVN_ERR_SCSI_NO_DEVICE_ERROR = "]. Error-[";
const char* const ZY_KRVN_ERR_SCSI_NOT_SCSI = " is not a SCSI device";
const char* const ZY_KRVN_ERR_SCSI_INQUIRY = "Failed to do SCSI Inquiry for device-[";
const char* const ZY_KRVN_ERR_SCSI_INQUIRY_ERROR = "] with error-[";
const char* const ZY_KRVN_ERR_SCSI_INQUIRY_EVPD = "] EVPD-[";
const char* const ZY_KRVN_ERR_SCSI_INQUIRY_PAGE = "] SCSI page code-[";
const char* const ZY_KRVN_ERR_SCSI_END = "]";

const char* const ZY_KRVN_ERR_SCSI_VENDOR_EMPTY = "Vendor id is empty for device-[";
const char* const ZY_KRVN_ERR_SCSI_EXPECTED_VENDOR = "] - expected vendor id-[";
const char* const ZY_KRVN_ERR_SCSI_PRODUCT_EMPTY = "Product id is empty for device-[";
const char* const ZY_KRVN_ERR_SCSI_EXPECTED_PRODUCT = "] - expected product id-[";
const char* const ZY_KRVN_ERR_SCSI_VENDOR_MISMATCH = "Vendor id-[";
const char* const ZY_KRVN_ERR_SCSI_VENDOR_MISMATCH_DEVICE = "] is for device-[";
const char* const ZY_KRVN_ERR_SCSI_PRODUCT_MISMATCH = "Product id-[";
const char* const ZY_KRVN_ERR_SCSI_PRODUCT_MISMATCH_DEVICE = "] for device-[";
const char* const ZY_KRVN_ERR_SCSI_NOT_MATCHING_VENDOR = "] is not matching - expected vendor id-[";
const char* const ZY_KRVN_ERR_SCSI_NOT_MATCHING_PRODUCT = "] is not matching - expected product id-[";
const char* const ZY_KRVN_ERR_SCSI_SERIAL_EMPTY = "vDisk serial number is empty for device-[";
const char* const ZY_KRVN_ERR_SCSI_CLUSTER_SERIAL_EMPTY = "Cluster serial number is empty for device-[";

const char* const ZY_KRVN_ERR_SCSI_PAGE_MISMATCH = "Page code-[";
const char* const ZY_KRVN_ERR_SCSI_PAGE_MISMATCH_REQUESTED = "] returned instead of requested page code-[";
const char* const ZY_KRVN_ERR_SCSI_PAGE_MISMATCH_DEVICE = "] for device-[";
const char* const ZY_KRVN_ERR_SCSI_PAGE_MISMATCH_END = "].  Skipping the device..";

}  // namespace ZYKorvanCommon
