// Texts of source preparation: device inquiry, array identification and matching, the array
// details text, and vDisk discovery. Byte for byte as they reach the log and the host.
#pragma once

namespace ZYSnapKrvn {

// Settings of the plug-in (section "Ovelin" of the platform store).
inline constexpr char ZY_KRVN_PREP_SETTINGS_SECTION[] = "Ovelin";
inline constexpr char ZY_KRVN_PREP_SETTING_BRUTE_FORCE[] = "nZYKorvanEnableBruteForceDiscovery";
inline constexpr char ZY_KRVN_PREP_SETTING_UNIQUE_ID_PREFIX[] = "sZYKorvanClusterUniqueId_";

// Device inquiry.
inline constexpr char ZY_KRVN_PREP_BANNER[] = "KRVN  ************************************************************";
inline constexpr char ZY_KRVN_PREP_PAGE_INQUIRY[] = "KRVN  Performing page-[%d] inquiry for all the source devices...";
inline constexpr char ZY_KRVN_PREP_INQUIRY_FAILED[] = "KRVN  SCSI Inquiry failed - [%d:%s]";
inline constexpr char ZY_KRVN_PREP_STD_RESULT[] =
    "KRVN >>  Standard SCSI inquiry result - < vendor-[%s] product-[%s] revision-[%s] >";
inline constexpr char ZY_KRVN_PREP_PAGE80_RESULT[] =
    "KRVN >>  Page 80h SCSI inquiry result - < vDisk serial number-[%s] >";
inline constexpr char ZY_KRVN_PREP_PAGE83_RESULT[] =
    "KRVN >>  Page 83h SCSI inquiry result - < array serial number-[%s] >";
inline constexpr char ZY_KRVN_PREP_ARRAY_NOT_FOUND[] =
    "Array details not found in Array Management for [{1}]. Please make sure the array details are entered and "
    "configured in Array Management.";
inline constexpr char ZY_KRVN_PREP_DEVICE_FAILED[] = "KRVN  Snapshot preparation failed for device-[%s]. Error-[%d:%s]";

// Identifying the array among the host's Korvan arrays.
inline constexpr char ZY_KRVN_PREP_ARRAY_VENDOR[] = "Pellart Distributed Storage";
inline constexpr int ZY_KRVN_PREP_ARRAY_LIST_SEPARATOR = '|';
inline constexpr int ZY_KRVN_PREP_ARRAY_LIST_INITIAL_SIZE = 4096;
inline constexpr int ZY_KRVN_PREP_ARRAY_LIST_MAX_SIZE = 1024 * 1024;
inline constexpr unsigned short ZY_KRVN_PREP_ARRAY_DETAILS_INITIAL_SIZE = 4096;
inline constexpr int ZY_KRVN_PREP_ARRAY_DETAILS_RETRIES = 3;
inline constexpr char ZY_KRVN_IDENTIFY_START[] =
    "KRVN  Going to identify the array from available list in Array Management...";
inline constexpr char ZY_KRVN_IDENTIFY_NO_LIST[] =
    "KRVN  Failed to get list of Korvan arrays configured in Array Management";
inline constexpr char ZY_KRVN_IDENTIFY_LIST[] = "KRVN >>  Got Korvan array list: [%d]-[%s]";
inline constexpr char ZY_KRVN_IDENTIFY_NO_MATCH[] = "KRVN  Unable to find the array corresponding to SCSI serial-[%s]";
inline constexpr char ZY_KRVN_MATCH_START[] = "KRVN  Going to match SCSI serial-[%s] with array-[%s] details...";
inline constexpr char ZY_KRVN_MATCH_SETTING_FOUND[] = "KRVN  Found setting-[%s], Value-[%s]..";
inline constexpr char ZY_KRVN_MATCH_NO_DETAILS[] = "KRVN  Failed to get array-[%s] details from DB";
inline constexpr char ZY_KRVN_MATCH_PARSE_FAILED[] = "KRVN  Unable to parse array-[%s] details..";
inline constexpr char ZY_KRVN_MATCH_UNIQUE_ID[] = "KRVN  Got array-[%s] uniqueID-[%s]";
inline constexpr char ZY_KRVN_MATCH_MISMATCH[] = "KRVN >>  Array-[%s] did not match for SCSI serial-[%s].";
inline constexpr char ZY_KRVN_MATCH_IDENTIFIED[] = "KRVN >>  Identified array as [%s].";
inline constexpr char ZY_KRVN_MATCH_SET_INFO_FAILED[] = "KRVN  Failed to set array info using [%s] details.";

// The array details text.
inline constexpr char ZY_KRVN_DETAILS_HOST_NAME[] = ",hostName:";
inline constexpr char ZY_KRVN_DETAILS_USER_NAME[] = ",hostUserName:";
inline constexpr char ZY_KRVN_DETAILS_PASSWORD[] = ",hostPassword:";
inline constexpr char ZY_KRVN_DETAILS_EMPTY[] = "KRVN  Got empty details for array-[%s]..";
inline constexpr char ZY_KRVN_DETAILS_NO_HOST[] =
    "KRVN  Got empty details for either control host. Please check the array management details for array-[%s]";

// Discovery of the source vDisks.
inline constexpr char ZY_KRVN_DISCOVER_SETTING_FOUND[] = "KRVN  Setting-[%s] is found. Value-[%d]";
inline constexpr char ZY_KRVN_DISCOVER_BRUTE_FORCE[] =
    "KRVN  Going to discover source devices by getting all the vDisk info..";
inline constexpr char ZY_KRVN_DISCOVER_START[] = "KRVN  Going to discover [%zu] source devices on the array...";
inline constexpr char ZY_KRVN_DISCOVER_BRUTE_FORCE_START[] =
    "KRVN  Going to get individual vDisk details until all the source devices are discovered...";
inline constexpr char ZY_KRVN_DISCOVER_GOT_VDISK[] = "KRVN >>  Got vDisk-[%s] details from the array.";
inline constexpr char ZY_KRVN_DISCOVER_DONE[] = "KRVN  Discovered all source devices on the array... - done.";
inline constexpr char ZY_KRVN_DISCOVER_FAILED[] = "KRVN  Failed to discover the source devices. Error-[%d:%s]";
// {1} found, {2} wanted, {3} the array, {4} the user.
inline constexpr char ZY_KRVN_DISCOVER_FOUND_ONLY[] =
    "Found only [{1}] devices out of [{2}] on the array-[{3}] - logged in as [{4}] user.";
inline constexpr char ZY_KRVN_DISCOVER_NFS_MASTER_DISK[] = "NFS_MASTER_DISK";
inline constexpr char ZY_KRVN_PREP_UUID_SEPARATOR[] = "-";

}  // namespace ZYSnapKrvn
