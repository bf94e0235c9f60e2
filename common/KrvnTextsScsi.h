// Texts and constants of SCSI inquiry and device identity.
#pragma once

namespace ZYKorvanCommon {

// INQUIRY command: opcode, EVPD flag, page code, 0, allocation length, control.
inline constexpr unsigned char ZY_KRVN_SCSI_OPCODE_INQUIRY = 0x12;
inline constexpr unsigned char ZY_KRVN_SCSI_ALLOC_LEN = 0xFF;
inline constexpr unsigned char ZY_KRVN_SCSI_PAGE_STD = 0x00;
inline constexpr unsigned char ZY_KRVN_SCSI_PAGE_UNIT_SERIAL = 0x80;
inline constexpr unsigned char ZY_KRVN_SCSI_PAGE_DEVICE_ID = 0x83;
inline constexpr int ZY_KRVN_SCSI_TIMEOUT_SEC = 10;
inline constexpr int ZY_KRVN_SCSI_RESP_PAGE_OFFSET = 1;  // every answer names its page in byte 1

// Standard page fields: offset and width.
inline constexpr int ZY_KRVN_SCSI_VENDOR_OFFSET = 8;
inline constexpr int ZY_KRVN_SCSI_VENDOR_LEN = 8;
inline constexpr int ZY_KRVN_SCSI_PRODUCT_OFFSET = 16;
inline constexpr int ZY_KRVN_SCSI_PRODUCT_LEN = 16;
inline constexpr int ZY_KRVN_SCSI_REVISION_OFFSET = 32;
inline constexpr int ZY_KRVN_SCSI_REVISION_LEN = 4;

// Page 0x80: serial length and start, and the work area it is read into (with its NUL).
inline constexpr int ZY_KRVN_SCSI_SERIAL_LEN_OFFSET = 3;
inline constexpr int ZY_KRVN_SCSI_SERIAL_OFFSET = 4;
inline constexpr int ZY_KRVN_SCSI_SERIAL_WORK_LEN = 64;

// Page 0x83: the designator whose header starts at byte 56; its length byte and identifier.
inline constexpr int ZY_KRVN_SCSI_DESIGNATOR_LEN_OFFSET = 59;
inline constexpr int ZY_KRVN_SCSI_DESIGNATOR_OFFSET = 60;
// The cluster serial: this many hex digits, after dropping the first one.
inline constexpr size_t ZY_KRVN_SCSI_CLUSTER_SERIAL_SKIP = 1;
inline constexpr size_t ZY_KRVN_SCSI_CLUSTER_SERIAL_LEN = 14;

inline constexpr char ZY_KRVN_SCSI_SCSI_IFACE_NAME[] = "ZyDeviceScsiIface";
inline constexpr char ZY_KRVN_SCSI_KORVAN_VENDOR[] = "_KORVAN_";
inline constexpr char ZY_KRVN_SCSI_KORVAN_PRODUCT[] = "VIRTUAL-DISK";
inline constexpr char ZY_KRVN_SCSI_INQUIRY_VPD[] = "VPD";
inline constexpr char ZY_KRVN_SCSI_INQUIRY_STD[] = "standard";
inline constexpr char ZY_KRVN_SCSI_BYTE_HEX_FMT[] = "%02xh";  // one byte in messages: 80h

// Log lines.
inline constexpr char ZY_KRVN_LOG_SCSI_PERFORMING[] =
    "KRVN  Performing %s SCSI Inquiry of device-[%s] - EVPD-[%d], SCSI page code-[%xh]";
inline constexpr char ZY_KRVN_LOG_SCSI_INQUIRY_FAILED[] = "KRVN  SCSI Inquiry failed-[%d:%s]";
inline constexpr char ZY_KRVN_LOG_SCSI_CHECK_FAILED[] = "KRVN  Checking for Korvan device failed-[%d:%s]";
inline constexpr char ZY_KRVN_LOG_SCSI_INVALID_DETAILS[] = "KRVN  Invalid SCSI details-[%d:%s]";
inline constexpr char ZY_KRVN_LOG_SCSI_STARS[] = "KRVN  ************************************************************";
inline constexpr char ZY_KRVN_LOG_SCSI_INQUIRING[] = "KRVN  Inquiring device-[%s]";
inline constexpr char ZY_KRVN_LOG_SCSI_STD_RESULT[] =
    "KRVN >>  Standard SCSI inquiry result - < vendor-[%s] product-[%s] revision-[%s] >";
inline constexpr char ZY_KRVN_LOG_SCSI_STD_DONE[] =
    "KRVN >>  STD inquiry on device-[%s] done - It is a Korvan device...";
inline constexpr char ZY_KRVN_LOG_SCSI_P80_RESULT[] =
    "KRVN >>  Page 80h SCSI inquiry result - < vDisk serial number-[%s] >";
inline constexpr char ZY_KRVN_LOG_SCSI_P83_RESULT[] =
    "KRVN >>  Page 83h SCSI inquiry result - < cluster serial number-[%s] >";
inline constexpr char ZY_KRVN_LOG_SCSI_PAGE_MISMATCH[] = "KRVN  %s";
inline constexpr char ZY_KRVN_LOG_SCSI_DUMP[] = "KRVN  SCSI inquiry dump << [%s] >>";

// Error sentences.
inline constexpr char ZY_KRVN_ERR_SCSI_NO_DEVICE[] = "Failed to get ZyDevice for device-[{1}]. Error-[{2}]";
inline constexpr char ZY_KRVN_ERR_SCSI_NOT_SCSI[] = "{1} is not a SCSI device";
inline constexpr char ZY_KRVN_ERR_SCSI_INQUIRY[] =
    "Failed to do SCSI Inquiry for device-[{1}] with error-[{2}] EVPD-[{3}] SCSI page code-[{4}]";

inline constexpr char ZY_KRVN_ERR_SCSI_VENDOR_EMPTY[] =
    "Vendor id is empty for device-[{1}] - expected vendor id-[{2}]";
inline constexpr char ZY_KRVN_ERR_SCSI_PRODUCT_EMPTY[] =
    "Product id is empty for device-[{1}] - expected product id-[{2}]";
inline constexpr char ZY_KRVN_ERR_SCSI_VENDOR_MISMATCH[] =
    "Vendor id-[{1}] is for device-[{2}] is not matching - expected vendor id-[{3}]";
inline constexpr char ZY_KRVN_ERR_SCSI_PRODUCT_MISMATCH[] =
    "Product id-[{1}] for device-[{2}] is not matching - expected product id-[{3}]";
inline constexpr char ZY_KRVN_ERR_SCSI_SERIAL_EMPTY[] = "vDisk serial number is empty for device-[{1}]";
inline constexpr char ZY_KRVN_ERR_SCSI_CLUSTER_SERIAL_EMPTY[] = "Cluster serial number is empty for device-[{1}]";

inline constexpr char ZY_KRVN_ERR_SCSI_PAGE_MISMATCH[] =
    "Page code-[{1}] returned instead of requested page code-[{2}] for device-[{3}].  Skipping the device..";

}  // namespace ZYKorvanCommon
