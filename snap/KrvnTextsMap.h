// Texts of the snapshot map and unmap steps and the settings they read, byte for byte as they
// reach the log, the host and the settings store.
#pragma once

namespace ZYSnapKrvn {

// ---- Settings (section "Ovelin" of the platform store) --------------------------------------
inline constexpr char ZY_KRVN_MAP_SETTINGS_SECTION[] = "Ovelin";
inline constexpr char ZY_KRVN_REG_KEY_CLONE_FREEZE_WAIT_TIME_IN_MIN[] = "nZYKorvanCloneFreezeWaitTimeInMin";
inline constexpr char ZY_KRVN_REG_KEY_DEBUG_WAIT_AFTER_MAP[] = "nZYKorvanPostMapWaitInMin";
inline constexpr long long ZY_KRVN_FREEZE_WAIT_TIME_DEFAULT = 3600;  // seconds
inline constexpr unsigned int ZY_KRVN_FREEZE_CHECK_INTERVAL_MS = 30000;
inline constexpr unsigned int ZY_KRVN_POST_LOGIN_WAIT_MS = 3000;
inline constexpr unsigned long long ZY_KRVN_TARGET_DEVICE_BUFFER_LEN = 4096;

// ---- Shared by map and unmap -------------------------------------------------------------
inline constexpr char ZY_KRVN_MAP_BANNER[] = "KRVN  ************************************************************";
inline constexpr char ZY_KRVN_MAP_HOST_INTERFACES[] =
    "KRVN  Getting details of SCSI interfaces present in mount host...";
inline constexpr char ZY_KRVN_MAP_FAILED_ERROR[] = "KRVN  Snapshot operation failed - Error-[%d:%s]";
inline constexpr char ZY_KRVN_MAP_DETAIL_TEXT[] = "KRVN >>  %s";
inline constexpr char ZY_KRVN_MAP_LIST_SEP[] = ", ";

// ---- Map ---------------------------------------------------------------------------------------
inline constexpr char ZY_KRVN_MAP_START[] = "KRVN  Going to map the snapshots...";
inline constexpr char ZY_KRVN_MAP_DONE[] = "KRVN  Going to map the snapshots... - done";
inline constexpr char ZY_KRVN_MAP_PREPARING[] = "KRVN  Preparing snaps for map operation...";
inline constexpr char ZY_KRVN_MAP_PREPARING_DONE[] = "KRVN  Preparing snaps for map operation... - done";

// Host interfaces.
inline constexpr char ZY_KRVN_MAP_GOT_HOST_NAME[] = "KRVN >>  Got host name-[%s]";
inline constexpr char ZY_KRVN_MAP_NO_IFACES[] =
    "No appropriate host interfaces (FC and / or iSCSI) found for host [{1}]. Please ensure that HBA and / or iSCSI "
    "initiators are configured properly and available for map operations.";
inline constexpr char ZY_KRVN_MAP_INITIATORS[] = "KRVN  Getting list of initiators for the host-[%s]...";
inline constexpr char ZY_KRVN_MAP_INITIATORS_DONE[] = "KRVN  Getting list of initiators for the host-[%s]... - done";
inline constexpr char ZY_KRVN_MAP_IFACES_FAILED[] = "Failed to get SCSI interface list (wwpn & iqn) for host [{1}].";
inline constexpr char ZY_KRVN_MAP_IFACE_LIST[] = "List of Host Interfaces : ";
inline constexpr char ZY_KRVN_MAP_IFACE_FC[] = "\t\tFC - [";
inline constexpr char ZY_KRVN_MAP_IFACE_ISCSI[] = "\t\tiSCSI - [";
inline constexpr char ZY_KRVN_MAP_HOST_CONN_TYPE[] = "KRVN >>  Host connection type-[%s]";
inline constexpr char ZY_KRVN_MAP_ACCESS_PROTOCOL[] = "KRVN >>  Access protocol for host map operation-[%s]";

// Clones an earlier map already brought onto this host.
inline constexpr char ZY_KRVN_MAP_TARGET_LOGON[] = "KRVN  Check and try iscsi target logon...";
inline constexpr char ZY_KRVN_MAP_TARGET_LOGON_DONE[] = "KRVN  Check and try iscsi target logon... - done";
inline constexpr char ZY_KRVN_MAP_FOUND_TARGET[] = "KRVN >>  Found target IQN-[%s] for clone-[%s]";
inline constexpr char ZY_KRVN_MAP_NO_TARGET[] = "KRVN >>  Target not available for snapshot-[%s]";
inline constexpr char ZY_KRVN_MAP_TARGET_CHECK_FAILED[] =
    "KRVN >>  Snapshot target [%s] is NOT logged on - however continuing further and going to attempt map";
inline constexpr char ZY_KRVN_MAP_TARGET_NO_DEVICE[] =
    "KRVN >>  Snapshot target [%s] is NOT logged on - continuing further and going to attempt map";
inline constexpr char ZY_KRVN_MAP_ALL_MAPPED[] =
    "KRVN  All the snapshot targets are mapped and available - total snapshot targets [%zu] - mapped snapshot "
    "targets [%zu]- hence skipping mapping";

// Clones.
inline constexpr char ZY_KRVN_MAP_CREATE_CLONES[] = "KRVN  Going to create clones for [%zu] snaps..";
inline constexpr char ZY_KRVN_MAP_CREATE_CLONES_DONE[] = "KRVN  Going to create clones for [%zu] snaps.. - done";
inline constexpr char ZY_KRVN_MAP_ITEM_HEADER[] = "KRVN  -------------------- [%s] --------------------";
inline constexpr char ZY_KRVN_MAP_ALREADY_DISCOVERED[] = "KRVN  Clone-[%s] already discovered. Skipping it...";
inline constexpr char ZY_KRVN_MAP_GET_CLONES[] = "KRVN >>  Going to get clones associated with snapshot-[%s]..";
inline constexpr char ZY_KRVN_MAP_CLONES_CACHED[] = "KRVN >>  Got [%zu] clones for snapshot-[%s] from cache..";
inline constexpr char ZY_KRVN_MAP_CLONES_FETCHED[] = "KRVN >>  Got [%zu] clones for snapshot-[%s]..";
inline constexpr char ZY_KRVN_MAP_CANDIDATES[] =
    "KRVN  Found [%zu] clones with clone name prefix-[%s]. Will check for a valid clone to use...";
inline constexpr char ZY_KRVN_MAP_CANDIDATE_DETAILS[] = "KRVN  ---------- Getting [%s] vDisk details ----------";
inline constexpr char ZY_KRVN_MAP_CLONE_UNUSABLE[] = "KRVN  Clone-[%s] is not usable as it is [%s]..";
inline constexpr char ZY_KRVN_MAP_CLONE_DELETED[] = "deleted";
inline constexpr char ZY_KRVN_MAP_CLONE_MARKED[] = "marked for delete";
inline constexpr char ZY_KRVN_MAP_CLONE_REUSED[] = "KRVN >>  Clone-[%s] already exists, Using it..";
inline constexpr char ZY_KRVN_MAP_CREATING_CLONE[] = "KRVN  ---------- Creating new clone-[%s] ----------";
inline constexpr char ZY_KRVN_MAP_CREATED_CLONE[] = "KRVN >>  Created clone-[%s]..";

// Waiting for new clones to unfreeze.
inline constexpr char ZY_KRVN_MAP_SETTING_FOUND[] = "KRVN  Setting-[%s] is found. Value-[%d]";
inline constexpr char ZY_KRVN_MAP_UNFREEZE_WAIT[] = "KRVN  Check and wait for [%zu] clones to unfreeze...";
inline constexpr char ZY_KRVN_MAP_UNFREEZE_WAIT_DONE[] = "KRVN  Check and wait for [%zu] clones to unfreeze... - done";
inline constexpr char ZY_KRVN_MAP_STILL_FROZEN[] = "KRVN  Clone-[%s] remains frozen : Reason-[%s]";
inline constexpr char ZY_KRVN_MAP_UNFROZEN[] = "KRVN >>  Clone-[%s] is not frozen, removing it from watch list...";
inline constexpr char ZY_KRVN_MAP_ALL_UNFROZEN[] = "KRVN  Found all the [%zu] clones to be unfrozen...";
inline constexpr char ZY_KRVN_MAP_SOME_UNFROZEN[] =
    "KRVN  Only [%zu] of the [%zu] clones are unfrozen. Will check the status after [30s]...";
// {1} still frozen, {2} clones, {3} seconds waited.
inline constexpr char ZY_KRVN_MAP_FROZEN[] = "Clones [{1}] out of [{2}] remain frozen even after waiting for [{3}s]";

// Exposing the clones and granting access.
inline constexpr char ZY_KRVN_MAP_EXPOSE[] = "KRVN  Going to expose the clones to storage proxies...";
inline constexpr char ZY_KRVN_MAP_EXPOSE_DONE[] = "KRVN  Going to expose the clones to storage proxies... - done";
inline constexpr char ZY_KRVN_MAP_EXPOSING[] = "KRVN  Exposing [%s] clone disks to [%s] storage proxies..";
inline constexpr char ZY_KRVN_MAP_EXPOSED[] =
    "KRVN >>  Successfully exposed [%s] clone disks to [%s] storage proxies..";
inline constexpr char ZY_KRVN_MAP_ACCESS[] = "KRVN  Going to add access to the clones...";
inline constexpr char ZY_KRVN_MAP_ACCESS_DONE[] = "KRVN  Going to add access to the clones... - done";
inline constexpr char ZY_KRVN_MAP_ADDING_ACCESS[] =
    "KRVN  Adding host-[%s:%s] access to the clones-[%s] via storage proxy-[%s]...";
inline constexpr char ZY_KRVN_MAP_ADDED_ACCESS[] =
    "KRVN >>  Successfully Added host-[%s:%s] access to the clones-[%s] via storage proxy-[%s]...";
// Every item already on the host: an empty disk list is not worth a request.
inline constexpr char ZY_KRVN_MAP_NOTHING_PENDING[] =
    "KRVN >>  Every clone of this request is already mapped. Nothing to send..";

// Target IQNs of the clones.
inline constexpr char ZY_KRVN_MAP_IQNS_MISSING[] =
    "Failed to find target IQN for one or more clones. Found only [{1}] out of [{2}]...";

// Finding the new devices.
inline constexpr char ZY_KRVN_MAP_DEVICE_COUNTS[] =
    "KRVN >>  Initial device count-[%zu] : After map device count-[%zu] : Diff device count-[%zu]";
inline constexpr char ZY_KRVN_MAP_POST_WAIT_FOUND[] = "KRVN  Setting [%s] found, Value-[%d]..";
inline constexpr char ZY_KRVN_MAP_POST_WAIT_SLEEP[] = "KRVN  Sleeping for [%d] mins..";
inline constexpr char ZY_KRVN_MAP_DEVICE_MATCHED[] =
    "KRVN >>  SCSI inquiry on device-[%s] done. It is associated with snapshot-[%s]..";
inline constexpr char ZY_KRVN_MAP_DEVICE_FOREIGN[] =
    "KRVN  SCSI inquiry on device-[%s] done. It is not associated with any of the snapshot in current map request..";
inline constexpr char ZY_KRVN_MAP_NOT_ALL_FOUND[] = "KRVN  Not all devices are found. Total - [%zu], Found - [%zu]";

// ---- Unmap -------------------------------------------------------------------------------------
inline constexpr char ZY_KRVN_UNMAP_START[] = "KRVN  Going to unmap the snapshots...";
inline constexpr char ZY_KRVN_UNMAP_DONE[] = "KRVN  Going to unmap the snapshots... - done";
inline constexpr char ZY_KRVN_UNMAP_TRYING[] = "KRVN  Trying to unmap clone-[%s]...";
inline constexpr char ZY_KRVN_UNMAP_GET_SNAPS[] = "KRVN  Going to get snapshots for vDisk-[%s]";
inline constexpr char ZY_KRVN_UNMAP_SNAPS_CACHED[] = "KRVN >>  Got [%zu] snapshots for vDisk-[%s] from cache";
inline constexpr char ZY_KRVN_UNMAP_SNAPS_FETCHED[] = "KRVN >>  Got [%zu] snapshots for vDisk-[%s]";
inline constexpr char ZY_KRVN_UNMAP_VDISK_GONE[] =
    "KRVN >>  VDisk-[%s] not found - may be deleted externally and hence marking snapshot-[%s] as unmapped "
    "successfully.";
inline constexpr char ZY_KRVN_UNMAP_SNAP_GONE[] =
    "KRVN >>  Snapshot-[%s] not found - may be deleted externally and hence marking it as unmapped successfully.";
inline constexpr char ZY_KRVN_UNMAP_GET_CLONES[] = "KRVN  Going to get clones for snapshot-[%s]";
inline constexpr char ZY_KRVN_UNMAP_CLONES_CACHED[] = "KRVN >>  Got [%zu] clones for snapshot-[%s] from cache";
inline constexpr char ZY_KRVN_UNMAP_CLONES_FETCHED[] = "KRVN >>  Got [%zu] clones for snapshot-[%s]";
inline constexpr char ZY_KRVN_UNMAP_NO_CLONE_METADATA[] =
    "KRVN  Unable to get clone name from mount metadata. Will try to search for clone with prefix name-[%s]...";
inline constexpr char ZY_KRVN_UNMAP_CLONE_GONE[] =
    "KRVN >>  Clone-[%s] not found - may be deleted externally and hence marking it as unmapped successfully.";
inline constexpr char ZY_KRVN_UNMAP_CLONE_AMBIGUOUS[] =
    "KRVN >>  Snapshot-[%s] has [%zu] clones with prefix name-[%s]. Not able to choose the right clone for cleanup..";
// The host's sentence for the same refusal: {1} snapshot, {2} count, {3} clone name or prefix.
inline constexpr char ZY_KRVN_UNMAP_ERR_CLONE_AMBIGUOUS[] =
    "Snapshot-[{1}] has [{2}] clones with prefix name-[{3}]. Not able to choose the right clone for cleanup..";
inline constexpr char ZY_KRVN_UNMAP_GOT_CLONE[] = "KRVN >>  Got clone-[%s] for snapshot-[%s]...";
inline constexpr char ZY_KRVN_UNMAP_CONFIGURED_PROXY[] =
    "KRVN >>  No storage proxy in the clone metadata. Will unmap through proxy-[%s], the first of the array's "
    "storage proxies, where a map of this array exposes its clones...";
inline constexpr char ZY_KRVN_UNMAP_NO_PROXY[] =
    "KRVN >>  Unable to unmap as storage proxy is not present in clone metadata. Will try to delete the clone...";
inline constexpr char ZY_KRVN_UNMAP_MARK_SUCCESS[] = "KRVN >>  Marking unmap as successful...";
inline constexpr char ZY_KRVN_UNMAP_GET_CLONE_DETAILS[] = "KRVN  Going to get clone-[%s] details...";
inline constexpr char ZY_KRVN_UNMAP_GOT_CLONE_DETAILS[] = "KRVN >>  Got clone-[%s] details...";
inline constexpr char ZY_KRVN_UNMAP_MANY_PROXIES[] =
    "KRVN  The clone-[%s] is exposed to [%zu] storage proxies. Will proceed unmap operation using proxy-[%s] from "
    "metadata...";
inline constexpr char ZY_KRVN_UNMAP_PROXY_NOT_LISTED[] =
    "KRVN  The storage proxy-[%s] is not found in the clone-[%s] target location list (size=%zu). Will proceed with "
    "unmap...";
inline constexpr char ZY_KRVN_UNMAP_GOT_TARGET[] = "KRVN >>  Got target IQN-[%s] for clone[%s]...";

// Removing this host's access.
inline constexpr char ZY_KRVN_UNMAP_REMOVE_ACCESS[] = "KRVN  Going to unmap clone-[%s] from host-[%s]...";
inline constexpr char ZY_KRVN_UNMAP_REMOVE_ACCESS_DONE[] = "KRVN  Going to unmap clone-[%s] from host-[%s]... - done";
inline constexpr char ZY_KRVN_UNMAP_GET_ACCESS[] = "KRVN  Going to get access list for clone-[%s]";
inline constexpr char ZY_KRVN_UNMAP_GOT_ACCESS[] = "KRVN >>  Got [%zu] access list for clone-[%s]";
inline constexpr char ZY_KRVN_UNMAP_NO_ACCESS[] =
    "KRVN >>  Clone-[%s] is not mapped to any host. Will proceed further...";
inline constexpr char ZY_KRVN_UNMAP_ACCESS_REMOVED[] =
    "KRVN >>  Successfully unmapped clone-[%s] from host-[%s] via storage proxy-[%s]...";
inline constexpr char ZY_KRVN_UNMAP_IQN_NOT_IN_ACL[] =
    "KRVN >>  Host IQN-[%s] is not found in the clone's ACL list via storage proxy-[%s]. The access might have been "
    "removed externally...";
inline constexpr char ZY_KRVN_UNMAP_ACCESS_FAILURES[] = "KRVN  Failed to remove access for one or more IQN(s)..";

// Removing the LUN from the storage proxy.
inline constexpr char ZY_KRVN_UNMAP_REMOVE_LUN[] = "KRVN  Going to remove clone-[%s] from SCSI target-[%s]...";
inline constexpr char ZY_KRVN_UNMAP_REMOVE_LUN_DONE[] =
    "KRVN  Going to remove clone-[%s] from SCSI target-[%s]... - done";
inline constexpr char ZY_KRVN_UNMAP_ACL_BEFORE_LUN[] =
    "KRVN  Trying to get latest ACL info for clone-[%s] (before removing from SCSI target)";
inline constexpr char ZY_KRVN_UNMAP_GOT_ACL_INFO[] = "KRVN >>  Got [%zu] access info for clone-[%s]";
inline constexpr char ZY_KRVN_UNMAP_LUN_IN_USE[] =
    "KRVN >>  Found [%zu] initiator access for the clone-[%s].. Will not remove it from SCSI target-[%s]";
inline constexpr char ZY_KRVN_UNMAP_LUN_REMOVED[] = "KRVN >>  Successfully removed clone-[%s] from SCSI target-[%s]";
inline constexpr char ZY_KRVN_UNMAP_LUN_HIDDEN[] =
    "KRVN >>  Clone-[%s] is not exposed to SCSI target-[%s]. Marking it as hidden from the SCSI target...";

// Deleting the clone.
inline constexpr char ZY_KRVN_UNMAP_DELETE[] = "KRVN  Going to delete the clone-[%s]...";
inline constexpr char ZY_KRVN_UNMAP_DELETE_DONE[] = "KRVN  Going to delete the clone-[%s]... - done";
inline constexpr char ZY_KRVN_UNMAP_ACL_BEFORE_DELETE[] =
    "KRVN  Trying to get latest ACL info for clone-[%s] (before deleting the clone)...";
inline constexpr char ZY_KRVN_UNMAP_GOT_TARGETS[] = "KRVN >>  Got [%zu] SCSI targets connected to the clone-[%s]";
inline constexpr char ZY_KRVN_UNMAP_DELETING[] = "KRVN  Trying to delete clone-[%s]...";
inline constexpr char ZY_KRVN_UNMAP_DELETED[] = "KRVN >>  Successfully deleted clone-[%s]...";
inline constexpr char ZY_KRVN_UNMAP_CLONE_IN_USE[] =
    "KRVN >>  Will not delete the clone-[%s] as there are SCSI targets connected to it...";

}  // namespace ZYSnapKrvn
