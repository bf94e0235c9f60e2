// Texts of the snapshot entry points, the snapshot context and the snapshot metadata.
//
// Every byte here is part of the plug-in's observable behaviour (job log, plug-in log, error
// texts the host shows, setting names the host stores): change none without a reason.
#pragma once

namespace ZYSnapKrvn {

// ---- Entry points -------------------------------------------------------------------------
inline constexpr char ZY_KRVN_LOG_PREFIX[] = "KRVN  ";
inline constexpr char ZY_KRVN_LOG_VERSION[] = "KRVN  Version: major-[%d] minor-[%d] revision-[%d]";
inline constexpr char ZY_KRVN_LOG_INVALID_DEVICE[] = "KRVN  Invalid device name passed.";
inline constexpr char ZY_KRVN_LOG_INVALID_OS_UTIL[] = "KRVN  Invalid snap utility passed.";
inline constexpr char ZY_KRVN_LOG_INVALID_ERR_BUF[] = "KRVN  Invalid error buffer passed.";
inline constexpr char ZY_KRVN_LOG_CHECKING_DEVICE[] =
    "KRVN  Checking whether device-[%s] belongs to Korvan storage or not..";
inline constexpr char ZY_KRVN_JOB_UNPREPARE_UNSUPPORTED[] = "Snapshot unprepare operation not supported by the engine.";
inline constexpr char ZY_KRVN_JOB_ISMAPPED_UNSUPPORTED[] = "The isMapped operation not supported by the engine.";
inline constexpr char ZY_KRVN_JOB_NOTHING_TO_DELETE[] = "No snapshots require deletion.";

inline constexpr char ZY_KRVN_JOB_PREPARE_START[] = "Going to prepare [%d] devices for snapshots..";
inline constexpr char ZY_KRVN_JOB_PREPARE_SUCCESS[] = "Preparation for [%d] devices done.. - success";
inline constexpr char ZY_KRVN_JOB_PREPARE_FAILURE[] = "Device preparation failed..";
inline constexpr char ZY_KRVN_JOB_CREATE_START[] = "Going to create [%d] snapshots..";
inline constexpr char ZY_KRVN_JOB_CREATE_SUCCESS[] = "Successfully created [%d] snapshots..";
inline constexpr char ZY_KRVN_JOB_CREATE_FAILURE[] = "Snapshot creation failed..";
inline constexpr char ZY_KRVN_JOB_DELETE_START[] = "Going to delete [%d] snapshots..";
inline constexpr char ZY_KRVN_JOB_DELETE_SUCCESS[] = "Successfully deleted [%d] snapshots..";
inline constexpr char ZY_KRVN_JOB_DELETE_FAILURE[] = "Snapshot deletion failed..";
inline constexpr char ZY_KRVN_JOB_MAP_START[] = "Going to map [%d] snapshots..";
inline constexpr char ZY_KRVN_JOB_MAP_SUCCESS[] = "Successfully mapped [%d] snapshots..";
inline constexpr char ZY_KRVN_JOB_MAP_FAILURE[] = "Snapshot map operation failed..";
inline constexpr char ZY_KRVN_JOB_UNMAP_START[] = "Going to unmap [%d] snapshots..";
inline constexpr char ZY_KRVN_JOB_UNMAP_SUCCESS[] = "Successfully unmapped [%d] snapshots..";
inline constexpr char ZY_KRVN_JOB_UNMAP_FAILURE[] = "Snapshot unmap operation failed..";
inline constexpr char ZY_KRVN_JOB_REVERT_START[] = "Going to revert [%d] snapshots..";
inline constexpr char ZY_KRVN_JOB_REVERT_SUCCESS[] = "Successfully reverted [%d] snapshots..";
inline constexpr char ZY_KRVN_JOB_REVERT_FAILURE[] = "Snapshot revert failed..";
inline constexpr char ZY_KRVN_JOB_RECON_START[] = "Going to reconcile [%d] snapshots..";
inline constexpr char ZY_KRVN_JOB_RECON_SUCCESS[] = "Successfully reconciled [%d] snapshots..";
inline constexpr char ZY_KRVN_JOB_RECON_FAILURE[] = "Snapshot reconciliation failed..";

// Failure codes handed to the host with the final error text.
inline constexpr int ZY_KRVN_ERR_CODE_PREPARE = 62008;
inline constexpr int ZY_KRVN_ERR_CODE_CREATE = 60001;
inline constexpr int ZY_KRVN_ERR_CODE_DELETE = 60004;
inline constexpr int ZY_KRVN_ERR_CODE_MAP = 62009;
inline constexpr int ZY_KRVN_ERR_CODE_UNMAP = 62010;
inline constexpr int ZY_KRVN_ERR_CODE_REVERT = 60005;
inline constexpr int ZY_KRVN_ERR_CODE_RECON = 60039;

// What an exception that reached an entry point becomes.
inline constexpr char ZY_KRVN_LOG_OP_FAILED_DASH[] = "KRVN  Snapshot operation failed - [%d:%s]";

// ---- Context: initialize and validation ---------------------------------------------------
inline constexpr char ZY_KRVN_LOG_INIT_CTX[] = "KRVN  Initializing context object...";
inline constexpr char ZY_KRVN_LOG_INIT_CTX_DONE[] = "KRVN  Initializing context object... - done";
inline constexpr char ZY_KRVN_LOG_CREATE_OBJECTS[] = "KRVN  Creating internal objects...";
inline constexpr char ZY_KRVN_LOG_CREATE_OBJECTS_DONE[] = "KRVN  Creating internal objects... - done";
inline constexpr char ZY_KRVN_ERR_NO_STORAGE_PROXY[] =
    "Storage proxy is not provided for map operation. Please check and ensure that storage proxies have been entered "
    "in [{1}] snap configuration at Array Management for [{2}] storage array";
inline constexpr char ZY_KRVN_STORAGE_PROXY_LIST_NAME[] = "Storage Proxy List";

inline constexpr char ZY_KRVN_LOG_VALIDATE[] = "KRVN  Validating inputs for snapshot operation.";
inline constexpr char ZY_KRVN_LOG_VALIDATE_DONE[] = "KRVN  Validating inputs for snapshot operation - done";
inline constexpr char ZY_KRVN_ERR_OS_UTIL_INVALID[] = "Snap OS util is not valid. It is either NULL or not initialized";
inline constexpr char ZY_KRVN_LOG_VALIDATE_OBJ_FAILED[] = "KRVN  Input internal object validation failed [%d:%s].";
inline constexpr char ZY_KRVN_LOG_VALIDATE_LIST_FAILED[] = "KRVN  Input snapshot list validation failed [%d:%s].";
inline constexpr char ZY_KRVN_LOG_VALIDATE_OBJ_FAILED_NO_STOP[] =
    "KRVN  Input internal object validation failed [%d:%s]";
inline constexpr char ZY_KRVN_ERR_TEXT_INVALID_COUNT[] = "Invalid snapshot count-[{1}]";
inline constexpr char ZY_KRVN_ERR_EMPTY_LIST[] = "Empty snapshot list passed";
// {1} the number of items of the call.
inline constexpr char ZY_KRVN_ERR_NOTHING_LEFT[] =
    "All [{1}] snapshots of the request are deleted already: there is nothing left to work on.";
inline constexpr char ZY_KRVN_ERR_EMPTY_ITEM[] = "Empty snapshot info at idx-[{1}] of total-[{2}]";
inline constexpr char ZY_KRVN_LOG_NO_ARRAY[] =
    "KRVN  The snap-[%lld] is not associated with any array. Possibly source device discovery could have failed.";
inline constexpr char ZY_KRVN_ERR_NO_ARRAY[] =
    "The snap-[{1}] is not associated with any array. Possibly source device discovery could have failed.";

// ---- Context: per-item fetch ----------------------------------------------------------------
inline constexpr char ZY_KRVN_LOG_FETCH[] = "KRVN  Fetching details for internal objects...";
inline constexpr char ZY_KRVN_LOG_FETCH_DONE[] = "KRVN  Fetching details for internal objects... - done.";
inline constexpr char ZY_KRVN_ERR_TEXT_SOURCE_DEVICE[] = "Failed to get source device details for snap-[{1}]";
inline constexpr char ZY_KRVN_LOG_OP_FAILED_ERROR[] = "KRVN  Snapshot operation failed. Error-[%d:%s]";
inline constexpr char ZY_KRVN_LOG_OP_FAILED_ERROR_STOP[] = "KRVN  Snapshot operation failed. Error-[%d:%s].";
inline constexpr char ZY_KRVN_LOG_GOT_SOURCE[] = "KRVN >>  Got source device-[%s].";
inline constexpr char ZY_KRVN_LOG_CHECK_VMWARE[] = "KRVN  Going to check if the source device is VMware or not..";
inline constexpr char ZY_KRVN_LOG_IS_VMWARE[] = "KRVN >>  The source is a VMware device.";
inline constexpr char ZY_KRVN_LOG_NOT_VMWARE[] = "KRVN >>  The source is not a VMware device.";
inline constexpr char ZY_KRVN_ERR_TEXT_SOURCE_EMPTY[] =
    "Source device is empty. Unable to check if it is VMware or not.";
inline constexpr char ZY_KRVN_VMWARE_DEVICE_MARK[] = "ovltype:vmware";

// ---- Context: array details and configuration ---------------------------------------------
inline constexpr char ZY_KRVN_LOG_GET_ARRAY[] = "KRVN  Getting details for array-[%d]...";
inline constexpr char ZY_KRVN_LOG_GET_ARRAY_DONE[] = "KRVN  Getting details for array-[%d]... - done";
inline constexpr char ZY_KRVN_ERR_TEXT_ARRAY_DETAILS[] =
    "Failed to get array details for array #-[{1}] from the database. Please ensure the array details have been "
    "entered in Array Management";
inline constexpr char ZY_KRVN_LOG_ARRAY_FAILED[] = "Snapshot operation failed. Error-[%d:%s]";
inline constexpr char ZY_KRVN_LOG_GOT_ARRAY[] = "KRVN >>  Got array-[%d:%s] details.";

inline constexpr char ZY_KRVN_CFG_DIAGNOSTIC_LOGGING[] = "SMCONFIG_NAME_ENABLE_DIAGNOSTIC_LOGGING";
inline constexpr char ZY_KRVN_CFG_STORAGE_PROXY_LIST[] = "SMCONFIG_STORAGE_PROXY_LIST_KEY";
inline constexpr char ZY_KRVN_CFG_RETRY_COUNT[] = "SMCONFIG_NAME_SNAP_OP_RETRY_COUNT";
inline constexpr char ZY_KRVN_CFG_RETRY_INTERVAL[] = "SMCONFIG_NAME_SNAP_OP_RETRY_INTERVAL_IN_SEC";
inline constexpr char ZY_KRVN_CFG_SECURE[] = "SMCONFIG_NAME_USE_SECURE_CONNECTION";
inline constexpr char ZY_KRVN_CFG_PORT[] = "SMCONFIG_NAME_SERVER_PORT";
inline constexpr int ZY_KRVN_HTTPS_PORT_DEFAULT = 8443;
inline constexpr int ZY_KRVN_HTTP_PORT_DEFAULT = 8080;

inline constexpr char ZY_KRVN_LOG_CFG_FOUND[] = "KRVN  Config [%s] found - value [%d]";
inline constexpr char ZY_KRVN_LOG_CFG_DEFAULT[] = "KRVN  Config [%s] not found - setting default value [%d]";
inline constexpr char ZY_KRVN_LOG_CFG_FOUND_TEXT[] = "KRVN  Config [%s] found - value [%s]";
inline constexpr char ZY_KRVN_LOG_CFG_DEFAULT_TEXT[] = "KRVN  Config [%s] not found - setting default value [%s]";
inline constexpr char ZY_KRVN_LOG_CFG_LIST[] = "KRVN  Config [%s] fetched - size [%zu]";
inline constexpr char ZY_KRVN_LOG_TEXT[] = "KRVN  %s";
inline constexpr char ZY_KRVN_LOG_CFG_LIST_SIZE_FAILED[] = "KRVN  Failed to get the list size of config-[%s]..";
inline constexpr char ZY_KRVN_LOG_CFG_ITEM_LEN_FAILED[] =
    "KRVN  Failed to get length of item @ [%d] for the config-[%s] [Total-%d]...";
inline constexpr char ZY_KRVN_LOG_CFG_ITEM_LEN_ZERO[] =
    "KRVN  Got item length as [0] for item @ [%d] for the config-[%s] [Total-%d]...";
inline constexpr char ZY_KRVN_LOG_CFG_ITEM_LEN_BAD[] =
    "KRVN  Got unusable item length [%d] for item @ [%d] for the config-[%s] [Total-%d]...";
inline constexpr char ZY_KRVN_LOG_CFG_ITEM_FAILED[] =
    "KRVN  Failed to get item @ [%d] for the config-[%s] [Total-%d]...";
// A configuration list item longer than this is taken for a host fault, not allocated.
inline constexpr int ZY_KRVN_CFG_ITEM_MAX_LEN = 64 * 1024;

// ---- Snapshot object dump ------------------------------------------------------------------
// {1} device, {2} vDisk serial, {3} vDisk name, {4} snapshot, {5} UUID, {6} VMware.
inline constexpr char ZY_KRVN_DUMP_SNAP_OBJECT[] =
    "Source dev-[{1}], Source vDisk id-[{2}], Source vDisk name-[{3}], Snap name-[{4}], Snap UUID-[{5}], Is "
    "VMware-[{6}]";

// ---- Snapshot and clone metadata -----------------------------------------------------------
inline constexpr char ZY_KRVN_SNAP_METADATA_SEP[] = "**";
inline constexpr char ZY_KRVN_TEST_CLONE_NAME_PREFIX[] = "ZYClone_";
inline constexpr char ZY_KRVN_REG_MOUNT_CLONE_NAME_PREFIX[] = "ZY_";
inline constexpr char ZY_KRVN_CLONE_NAME_SEP[] = "_";
inline constexpr char ZY_KRVN_SNAP_NAME_SEP = '$';
inline constexpr char ZY_KRVN_SNAP_NAME_NEW_SEP = '-';

inline constexpr char ZY_KRVN_LOG_SET_SNAP_MD[] = "KRVN  Setting snapshot metadata...";
inline constexpr char ZY_KRVN_LOG_SET_SNAP_MD_VALUE[] = "KRVN >>  Setting snapshot metadata-[%s]";
inline constexpr char ZY_KRVN_LOG_SET_SNAP_MD_DONE[] = "KRVN  Setting snapshot metadata... - done";
inline constexpr char ZY_KRVN_LOG_UPDATE_SNAP_MD[] = "KRVN  Updating snapshot metadata...";
inline constexpr char ZY_KRVN_LOG_UPDATE_SNAP_MD_FAILED[] = "KRVN  Updating snapshot metadata failed. Error-[%d:%s]";
inline constexpr char ZY_KRVN_LOG_UPDATE_SNAP_MD_BEFORE[] = "KRVN >>  Before updating snapshot metadata-[%s]";
inline constexpr char ZY_KRVN_LOG_UPDATE_SNAP_MD_AFTER[] = "KRVN >>  After updating snapshot metadata-[%s]";
inline constexpr char ZY_KRVN_LOG_UPDATE_SNAP_MD_DONE[] = "KRVN  Updating snapshot metadata... - done";
inline constexpr char ZY_KRVN_ERR_SNAP_MD_READ[] = "Failed to get snapshot metadata for device-[{1}]";
inline constexpr char ZY_KRVN_LOG_GET_SNAP_MD[] = "KRVN  Getting snapshot metadata...";
inline constexpr char ZY_KRVN_LOG_GET_SNAP_MD_DONE[] = "KRVN  Getting snapshot metadata... - done";
inline constexpr char ZY_KRVN_LOG_DETAIL_TEXT[] = "KRVN >>  %s";
inline constexpr char ZY_KRVN_MSG_SNAP_MD_EMPTY[] = "Snap-[{1}] metadata is empty. Nothing to delete..";
inline constexpr char ZY_KRVN_ERR_SNAP_MD_EMPTY[] =
    "Snapshot metadata is empty - may be snapshot preparation phase failed";
inline constexpr char ZY_KRVN_ERR_MD_NO_ARRAY_ID[] = "Array unique ID is not found in the snapshot metadata-[{1}]";
inline constexpr char ZY_KRVN_ERR_MD_NO_VDISK_NAME[] = "vDisk name is not found in the snapshot metadata-[{1}]";
inline constexpr char ZY_KRVN_ERR_MD_NO_VDISK_SERIAL[] =
    "vDisk SCSI serial number is not found in the snapshot metadata-[{1}]";
inline constexpr char ZY_KRVN_ERR_MD_NO_SNAP_NAME[] = "Snapshot name is not found in the snapshot metadata-[{1}]";
inline constexpr char ZY_KRVN_LOG_MD_NO_SNAP_NAME[] = "KRVN  Snapshot name is not found in the snapshot metadata-[%s]";
inline constexpr char ZY_KRVN_LOG_SNAP_MD_INFO[] =
    "KRVN >>  Info from snapshot metadata - array serial-[%s], vDisk name-[%s], vDisk SCSI serial "
    "number-[%s], snapshot name-[%s]";
inline constexpr char ZY_KRVN_LOG_SNAP_MD_FAILED[] = "KRVN  Snapshot operation failed-[%d:%s]";

inline constexpr char ZY_KRVN_LOG_SET_CLONE_MD[] = "KRVN  Setting clone metadata...";
inline constexpr char ZY_KRVN_LOG_SET_CLONE_MD_VALUE[] = "KRVN >>  Added clone metadata-[%s]";
inline constexpr char ZY_KRVN_LOG_SET_CLONE_MD_DONE[] = "KRVN  Setting clone metadata... - done";
inline constexpr char ZY_KRVN_LOG_GET_CLONE_MD[] = "KRVN  Getting clone info from metadata...";
inline constexpr char ZY_KRVN_LOG_CLONE_MD_READ_FAILED[] = "KRVN  Failed to get clone metadata for snapshot-[%s]";
inline constexpr char ZY_KRVN_LOG_CLONE_MD_EMPTY[] =
    "KRVN  Got empty clone metadata for snapshot-[%s]. Possibly map operation had failed...";
inline constexpr char ZY_KRVN_LOG_CLONE_MD_FIELD_MISSING[] =
    "KRVN  Unable to get storage proxy info from metadata-[%s] for snapshot-[%s]";

// ---- Device identity ------------------------------------------------------------------------
inline constexpr char ZY_KRVN_LOG_STD_INQUIRY_RESULT[] =
    "KRVN  Standard SCSI inquiry result - < vendor-[%s] product-[%s] revision-[%s] >";
inline constexpr char ZY_KRVN_LOG_DEVICE_IS_KORVAN[] = "KRVN  Device-[%s] belongs to Korvan storage.";

}  // namespace ZYSnapKrvn
