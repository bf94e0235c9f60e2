// Texts of the provisioning family: entry points, context, map information, engine.
//
// Every log line, error sentence, setting and configuration name the provisioning side uses
// lives here, byte for byte, so the code reads like the algorithm and the texts can be
// compared in one place. Log formats are char arrays so the compiler checks their arguments.
#pragma once

#include <cstddef>

namespace ZYProvKorvan {

// ---- Operation codes, statuses and version -------------------------------------------------
enum KrvnProvOpType : int {
    ZY_KRVN_PROV_OP_CREATE = 1,
    ZY_KRVN_PROV_OP_DELETE = 2,
    ZY_KRVN_PROV_OP_MAP = 3,
    ZY_KRVN_PROV_OP_UNMAP = 4,
    ZY_KRVN_PROV_OP_RESIZE = 5,
    ZY_KRVN_PROV_OP_RESOLVE = 6,
};

enum KrvnProvStatus : short {
    ZY_KRVN_PROV_STATUS_CREATE_OK = 0,
    ZY_KRVN_PROV_STATUS_CREATE_FAILED = 1,
    ZY_KRVN_PROV_STATUS_RESIZE_OK = 2,
    ZY_KRVN_PROV_STATUS_RESIZE_FAILED = 3,
    ZY_KRVN_PROV_STATUS_MAP_OK = 9,
    ZY_KRVN_PROV_STATUS_MAP_FAILED = 11,
    ZY_KRVN_PROV_STATUS_UNMAP_OK = 14,
    ZY_KRVN_PROV_STATUS_UNMAP_FAILED = 15,
    ZY_KRVN_PROV_STATUS_DELETE_OK = 20,
    ZY_KRVN_PROV_STATUS_DELETE_FAILED = 21,
};

constexpr short ZY_KRVN_PROV_VERSION_MAJOR = 1;
constexpr short ZY_KRVN_PROV_VERSION_MINOR = 1;
constexpr short ZY_KRVN_PROV_VERSION_REVISION = 1;

// The code every provisioning entry point hands to the host with its final error text.
constexpr int ZY_KRVN_PROV_HOST_ERROR_CODE = 70003;

inline constexpr char ZY_KRVN_PROV_LOG_VERSION[] = "KRVN  Version: major-[%d] minor-[%d] revision-[%d]";

// ---- Input validation ----------------------------------------------------------------------
inline constexpr char ZY_KRVN_PROV_LOG_VALIDATING[] = "KRVN  Validating inputs for provioning operation.";
inline constexpr char ZY_KRVN_PROV_LOG_VALIDATING_DONE[] = "KRVN  Validating inputs for provioning operation - done";
inline constexpr char ZY_KRVN_PROV_ERR_OS_UTIL[] = "OS util is not valid. It is either NULL or not initialized";
inline constexpr char ZY_KRVN_PROV_ERR_DISK_COUNT[] = "Invalid disk count-[{1}]";
inline constexpr char ZY_KRVN_PROV_ERR_EMPTY_DISK_LIST[] = "Empty disk list passed";
inline constexpr char ZY_KRVN_PROV_ERR_EMPTY_DISK_INFO[] = "Empty disk info at idx-[{1}] of total-[{2}]";
inline constexpr char ZY_KRVN_PROV_LOG_INPUT_OBJ_INVALID[] = "KRVN  Input internal object validation failed [%d:%s].";
inline constexpr char ZY_KRVN_PROV_LOG_INPUT_LIST_INVALID[] = "KRVN  Input disk list validation failed [%d:%s].";
// The null-array line of the host's log has no full stop; kept as the host's tools expect it.
inline constexpr char ZY_KRVN_PROV_LOG_INPUT_OBJ_INVALID_NO_STOP[] =
    "KRVN  Input internal object validation failed [%d:%s]";

// ---- Context -------------------------------------------------------------------------------
inline constexpr char ZY_KRVN_PROV_LOG_INIT_CTX[] = "KRVN  Initializing context object...";
inline constexpr char ZY_KRVN_PROV_LOG_INIT_CTX_DONE[] = "KRVN  Initializing context object... - done";
inline constexpr char ZY_KRVN_PROV_LOG_CREATE_OBJS[] = "KRVN  Creating internal objects...";
inline constexpr char ZY_KRVN_PROV_LOG_CREATE_OBJS_DONE[] = "KRVN  Creating internal objects... - done";
inline constexpr char ZY_KRVN_PROV_LOG_FETCH_DETAILS[] = "KRVN  Fetching details for internal objects...";
inline constexpr char ZY_KRVN_PROV_LOG_FETCH_DETAILS_DONE[] = "KRVN  Fetching details for internal objects... - done.";
inline constexpr char ZY_KRVN_PROV_LOG_OP_FAILED_ERROR[] = "KRVN  Provisioning operation failed. Error-[%d:%s]";
inline constexpr char ZY_KRVN_PROV_LOG_OP_FAILED[] = "KRVN  Provisioning operation failed - [%d:%s]";

inline constexpr char ZY_KRVN_PROV_ERR_DISK_NAME[] = "Failed to get disk name for the device-[{1}]";
inline constexpr char ZY_KRVN_PROV_ERR_DISK_SIZE[] = "Failed to get disk size for the device-[{1}]";
inline constexpr char ZY_KRVN_PROV_ERR_INVALID_SIZE[] =
    "Invalid disk size-[{1}] for the device-[{2}]. Expecting size-[1 GB] or more";

inline constexpr char ZY_KRVN_PROV_DISK_SIZE_UNIT_GB[] = "GB";
inline constexpr char ZY_KRVN_PROV_DISK_TYPE_BLOCK[] = "BLOCK";
inline constexpr char ZY_KRVN_PROV_DISK_DEFAULT_DESCRIPTION[] = "Created by Pellart";
constexpr int ZY_KRVN_PROV_DISK_CREATE_BLOCK_SIZE_DEFAULT = 4096;
constexpr int ZY_KRVN_PROV_DISK_CREATE_RF_DEFAULT = 3;
constexpr long ZY_KRVN_PROV_DISK_BLOCK_SIZES[] = {512, 4096, 65536};
constexpr int ZY_KRVN_PROV_GB_SHIFT = 30;

// Host text buffers of the item's getters.
constexpr unsigned short ZY_KRVN_PROV_ITEM_TEXT_LEN = 512;

// ---- Host map information ------------------------------------------------------------------
constexpr unsigned short ZY_KRVN_PROV_INIT_INFO_LEN = 4096;
constexpr int ZY_KRVN_PROV_INIT_INFO_ATTEMPTS = 3;
constexpr int ZY_KRVN_PROV_INIT_INFO_TOO_SMALL = 2;
// Upper bound of any buffer grown at the host's request. The host's length is 16 bits, so the
// bound holds by construction today; it stays as a guard should the length ever widen.
constexpr std::size_t ZY_KRVN_PROV_INIT_INFO_MAX_LEN = 1024 * 1024;

inline constexpr char ZY_KRVN_PROV_ERR_INIT_INFO_GET[] = "Unable to get initiator information from disk object.";
inline constexpr char ZY_KRVN_PROV_ERR_INIT_INFO_INVALID[] = "Got invalid initiator information from disk object.";
inline constexpr char ZY_KRVN_PROV_ERR_INIT_INFO_EMPTY[] =
    "Unable to get initiator information from [{1}] to map the Disks";
inline constexpr char ZY_KRVN_PROV_ERR_INIT_INFO_PARSE[] = "Unable to parse initiator information fom [{1}]";

inline constexpr char ZY_KRVN_PROV_INIT_LIST_FIELD_HOSTS[] = "hosts";
inline constexpr char ZY_KRVN_PROV_INIT_LIST_FIELD_HOSTNAME[] = "hostname";
inline constexpr char ZY_KRVN_PROV_INIT_LIST_FIELD_HOSTOS[] = "hostos";
inline constexpr char ZY_KRVN_PROV_INIT_LIST_FIELD_PROTOCOL[] = "protocol";
inline constexpr char ZY_KRVN_PROV_INIT_LIST_FIELD_ENDPOINTS[] = "endpoints";
inline constexpr char ZY_KRVN_PROV_INIT_LIST_FIELD_ENDPOINT[] = "endpoint";
inline constexpr char ZY_KRVN_PROV_INIT_LIST_PROTOCOL_TYPE_ISCSI[] = "3";
inline constexpr char ZY_KRVN_PROV_INIT_LIST_PROTOCOL_TYPE_FC[] = "4";
inline constexpr char ZY_KRVN_PROV_INIT_LIST_PROTOCOL_TYPE_NFS[] = "5";

enum KrvnProvProtocol : short {
    ZY_KRVN_PROV_PROTOCOL_NONE = 0,
    ZY_KRVN_PROV_PROTOCOL_ISCSI = 3,
    ZY_KRVN_PROV_PROTOCOL_FC = 4,
    ZY_KRVN_PROV_PROTOCOL_NFS = 5,
};

// ---- Cluster details and configuration -----------------------------------------------------
inline constexpr char ZY_KRVN_PROV_LOG_ARRAY_DETAILS[] = "KRVN  Getting details from input disk object...";
inline constexpr char ZY_KRVN_PROV_LOG_ARRAY_DETAILS_DONE[] = "KRVN  Getting details from input disk object... - done";
inline constexpr char ZY_KRVN_PROV_LOG_GOT_CLUSTER[] = "KRVN >>  Got cluster details [%s:%s]..";
inline constexpr char ZY_KRVN_PROV_ERR_CLUSTER_NAME[] = "Failed to get cluster name from the disk info";
inline constexpr char ZY_KRVN_PROV_ERR_CONTROL_HOST[] =
    "Failed to get cluster control host information from the disk info";
inline constexpr char ZY_KRVN_PROV_ERR_USER_NAME[] = "Failed to get user name details from the disk info";
inline constexpr char ZY_KRVN_PROV_ERR_PASSWORD[] = "Failed to get cluster password information from the disk info";
inline constexpr char ZY_KRVN_PROV_ERR_DECRYPT[] = "Failed to decrypt cluster credential";
inline constexpr char ZY_KRVN_PROV_ERR_NO_STORAGE_PROXY[] = "Storage proxy not provided in the input";

inline constexpr char ZY_KRVN_PROV_CFG_DIAG_LOGGING[] = "SMCONFIG_NAME_ENABLE_DIAGNOSTIC_LOGGING";
inline constexpr char ZY_KRVN_PROV_CFG_RETRY_COUNT[] = "SMCONFIG_NAME_SNAP_OP_RETRY_COUNT";
inline constexpr char ZY_KRVN_PROV_CFG_RETRY_INTERVAL[] = "SMCONFIG_NAME_SNAP_OP_RETRY_INTERVAL_IN_SEC";
inline constexpr char ZY_KRVN_PROV_CFG_SECURE[] = "SMCONFIG_NAME_USE_SECURE_CONNECTION";
inline constexpr char ZY_KRVN_PROV_CFG_PROXY_LIST[] = "SMCONFIG_STORAGE_PROXY_LIST_KEY";
inline constexpr char ZY_KRVN_PROV_CFG_SERVER_PORT[] = "SMCONFIG_NAME_SERVER_PORT";
inline constexpr char ZY_KRVN_PROV_ARRAY_CONFIG_LIST_DELIM[] = "|:|";
constexpr int ZY_KRVN_PROV_PORT_HTTPS = 8443;
constexpr int ZY_KRVN_PROV_PORT_HTTP = 8080;
inline constexpr char ZY_KRVN_PROV_LOG_CFG_VALUE[] = "KRVN  Config [%s] found - value [%d]";
inline constexpr char ZY_KRVN_PROV_LOG_CFG_BOOL[] = "KRVN  Config [%s] found - value [%s]";
inline constexpr char ZY_KRVN_PROV_LOG_CFG_SIZE[] = "KRVN  Config [%s] found - size [%zu]";

inline constexpr char ZY_KRVN_PROV_SETTING_ENCRYPT_DISABLE[] = "bZYKorvanCreateDiskEncryptDisable";
inline constexpr char ZY_KRVN_PROV_SETTING_REPLICATION[] = "nZYKorvanReplicationFactor";
inline constexpr char ZY_KRVN_PROV_LOG_SETTING_BOOL[] = "KRVN  Found setting-[%s], Value-[%s]";
inline constexpr char ZY_KRVN_PROV_LOG_SETTING_INT[] = "KRVN  Found setting-[%s], Value-[%d]";
inline constexpr char ZY_KRVN_PROV_LOG_ENCRYPT_OFF[] = "KRVN  Disabling encryption option while creating new disks..";
inline constexpr char ZY_KRVN_PROV_LOG_SET_RF[] = "KRVN  Setting new disk replication factor to [%d]";

inline constexpr char ZY_KRVN_PROV_TRUE[] = "true";
inline constexpr char ZY_KRVN_PROV_FALSE[] = "false";
inline const char* provBoolText(bool value) { return value ? ZY_KRVN_PROV_TRUE : ZY_KRVN_PROV_FALSE; }

// ---- Create, resize, delete ----------------------------------------------------------------
inline constexpr char ZY_KRVN_PROV_LOG_CREATE_START[] = "KRVN  Going to create [%zu] Disks...";
inline constexpr char ZY_KRVN_PROV_LOG_CREATE_DISK[] = "KRVN  Going to create %s";
inline constexpr char ZY_KRVN_PROV_LOG_CREATE_OK[] = "KRVN >>  Successfully created disk-[%s]";
inline constexpr char ZY_KRVN_PROV_LOG_CREATE_DONE[] = "KRVN  Going to create [%zu] Disks... - done";
inline constexpr char ZY_KRVN_PROV_LOG_RESIZE_START[] = "KRVN  Going to resize [%zu] Disks...";
inline constexpr char ZY_KRVN_PROV_LOG_RESIZE_DISK[] = "KRVN  Going to resize %s";
inline constexpr char ZY_KRVN_PROV_LOG_RESIZE_OK[] = "KRVN >>  Successfully resized disk-[%s]";
inline constexpr char ZY_KRVN_PROV_LOG_RESIZE_DONE[] = "KRVN  Going to resize [%zu] Disks... - done";

inline constexpr char ZY_KRVN_PROV_LOG_DELETE_START[] = "KRVN  Going to delete [%zu] Disks...";
inline constexpr char ZY_KRVN_PROV_LOG_DELETE_ADD[] = "KRVN  Adding disk-[%s] to delete list..";
inline constexpr char ZY_KRVN_PROV_LOG_DELETE_OK[] = "KRVN >>  Successfully deleted disk-[%s]";
inline constexpr char ZY_KRVN_PROV_LOG_DELETE_GROUP_FAILED[] =
    "KRVN  Group deletion of disks failed. Trying to individually delete the disks..";
inline constexpr char ZY_KRVN_PROV_LOG_DELETE_NOT_FOUND[] =
    "KRVN >>  Disk-[%s] not found on cluster. Marking the disk as successfully deleted..";
inline constexpr char ZY_KRVN_PROV_LOG_DELETE_ONE_OK[] = "KRVN >>  Successfully deleted the disk-[%s]..";
inline constexpr char ZY_KRVN_PROV_ERR_DELETE_SOME[] = "One or more disks failed to delete";
inline constexpr char ZY_KRVN_PROV_LOG_ERROR[] = "KRVN  Error-[%d:%s]";
inline constexpr char ZY_KRVN_PROV_LOG_DELETE_DONE[] = "KRVN  Going to delete [%zu] Disks... - done";

// ---- Map and unmap -------------------------------------------------------------------------
inline constexpr char ZY_KRVN_PROV_ERR_PROTOCOL[] = "Invalid protocol type-[{1}], expecting [{2}]";
inline constexpr char ZY_KRVN_PROV_ERR_EMPTY_HOST[] = "Got empty host name";
inline constexpr char ZY_KRVN_PROV_ERR_EMPTY_INITIATORS[] = "Got empty initiators";

inline constexpr char ZY_KRVN_PROV_LOG_MAP_START[] = "KRVN  Going to map [%zu] disks...";
inline constexpr char ZY_KRVN_PROV_LOG_MAP_ADD_LUN[] = "KRVN  Going to add %s to storage proxy-[%s]";
inline constexpr char ZY_KRVN_PROV_LOG_MAP_LUN_ADDED[] = "KRVN >>  Added disk-[%s] to storage proxy-[%s]";
inline constexpr char ZY_KRVN_PROV_LOG_MAP_TO_HOST[] = "KRVN  Going to map %s to %s";
inline constexpr char ZY_KRVN_PROV_LOG_MAP_INITIATOR_OK[] = "KRVN >>  Mapped disk-[%s] to host-[%s]...";
inline constexpr char ZY_KRVN_PROV_LOG_MAP_DISK_OK[] = "KRVN >>  Successfully mapped disk-[%s] to [%zu] hosts...";
inline constexpr char ZY_KRVN_PROV_LOG_MAP_DONE[] = "KRVN  Going to map [%zu] Disks... - done";

inline constexpr char ZY_KRVN_REG_KEY_CLUSTER_UNIQUE_ID[] = "sZYKorvanClusterUniqueId_";
inline constexpr char ZY_KRVN_PROV_SETTINGS_SECTION[] = "Ovelin";
inline constexpr char ZY_KRVN_PROV_LOG_HASH_START[] = "KRVN  Going to get cluster-[%s] hash ID..";
inline constexpr char ZY_KRVN_PROV_LOG_HASH_SETTING[] = "KRVN  Setting-[%s] found. Got cluster-[%s] hash ID-[%s]";
inline constexpr char ZY_KRVN_PROV_LOG_HASH_GOT[] = "KRVN >>  Got cluster-[%s] hash ID-[%s]";
inline constexpr char ZY_KRVN_PROV_LOG_HASH_DONE[] = "KRVN  Going to get cluster-[%s] hash ID.. - done";

inline constexpr char ZY_KRVN_PROV_LOG_IQNS_START[] = "KRVN  Going to get target IQNs using storage proxy-[%s]..";
inline constexpr char ZY_KRVN_PROV_LOG_IQNS_DONE[] = "KRVN  Going to get target IQNs using storage proxy-[%s].. - done";
inline constexpr char ZY_KRVN_PROV_ERR_IQNS[] =
    "Failed to find target IQN for one or more disk. Found only [{1}] out of [{2}]";
inline constexpr char ZY_KRVN_PROV_LOG_PREFIX_ONLY[] = "KRVN  ";

inline constexpr char ZY_KRVN_PROV_LOG_BANNER[] = "KRVN  ************************************************************";
inline constexpr char ZY_KRVN_PROV_LOG_DEVICE_MATCH[] =
    "KRVN >>  SCSI inquiry on device-[%s] done. It is associated with disk-[%s]..";
inline constexpr char ZY_KRVN_PROV_LOG_DEVICE_NO_MATCH[] =
    "KRVN  SCSI inquiry on device-[%s] done. It is not associated with any of the disks in current map request..";
inline constexpr char ZY_KRVN_PROV_LOG_NOT_ALL_FOUND[] =
    "KRVN  Not all devices are found. Total - [%zu], Found - [%zu]";
// A map that ends without every device must still tell the host why.

inline constexpr char ZY_KRVN_PROV_LOG_UNMAP_START[] = "KRVN  Going to unmap [%zu] disks...";
inline constexpr char ZY_KRVN_PROV_LOG_UNMAP_GONE[] =
    "KRVN >>  Disk-[%s] is not available as it is [%s]. Marking unmap as successful..";
inline constexpr char ZY_KRVN_PROV_TEXT_DELETED[] = "deleted";
inline constexpr char ZY_KRVN_PROV_TEXT_MARKED_DELETE[] = "marked for delete";
inline constexpr char ZY_KRVN_PROV_LOG_UNMAP_GET_ACCESS[] = "KRVN  Going to get access list for disk-[%s]";
inline constexpr char ZY_KRVN_PROV_LOG_UNMAP_NOT_FOUND[] =
    "KRVN >>  Disk-[%s] is not found. Marking unmap as successful...";
inline constexpr char ZY_KRVN_PROV_LOG_UNMAP_ACCESS_COUNT[] = "KRVN >>  Got [%zu] access list for disk-[%s]";
inline constexpr char ZY_KRVN_PROV_LOG_UNMAP_NO_MAPPINGS[] =
    "KRVN >>  Disk-[%s] doesn't have any mappings. Marking unmap as successful...";
inline constexpr char ZY_KRVN_PROV_LOG_UNMAP_FROM[] = "KRVN  Going to unmap %s from %s";
inline constexpr char ZY_KRVN_PROV_LOG_UNMAP_NO_ACCESS[] =
    "KRVN >>  Host-[%s] access not present for disk-[%s]. Marking unmap as successful...";
inline constexpr char ZY_KRVN_PROV_LOG_UNMAP_FOUND_IQN[] = "KRVN >>  Found target IQN-[%s] for disk-[%s]...";
inline constexpr char ZY_KRVN_PROV_LOG_UNMAP_INITIATOR_OK[] = "KRVN >>  Unmapped disk-[%s] from host-[%s]...";
inline constexpr char ZY_KRVN_PROV_LOG_UNMAP_LATEST_ACCESS[] = "KRVN  Going to get latest access list for disk-[%s]";
inline constexpr char ZY_KRVN_PROV_LOG_UNMAP_CHECK_PROXY[] =
    "KRVN  Going to check and remove [%s] from storage proxy-[%s]";
inline constexpr char ZY_KRVN_PROV_LOG_UNMAP_PROXY_GONE[] =
    "KRVN  Storage proxy-[%s] already removed for the disk-[%s]";
inline constexpr char ZY_KRVN_PROV_LOG_UNMAP_LUN_REMOVED[] = "KRVN >>  Removed disk-[%s] from storage proxy-[%s]";
inline constexpr char ZY_KRVN_PROV_LOG_UNMAP_PROXY_IN_USE[] =
    "KRVN >>  The disk-[%s] is still connected to [%zu] initiators via storage proxy-[%s]. Will not remove the storage "
    "proxy connection..";
inline constexpr char ZY_KRVN_PROV_LOG_UNMAP_DISK_OK[] = "KRVN >>  Successfully unmapped disk-[%s] from [%zu] hosts...";
inline constexpr char ZY_KRVN_PROV_LOG_UNMAP_DONE[] = "KRVN  Going to unmap [%zu] disks... - done";

}  // namespace ZYProvKorvan
