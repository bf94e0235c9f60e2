// Texts of the snapshot create, delete, revert and reconcile steps, byte for byte as they reach
// the log and the host.
#pragma once

namespace ZYSnapKrvn {

// Create.
inline constexpr char ZY_KRVN_OPS_CREATE[] = "KRVN  Creating snapshots...";
inline constexpr char ZY_KRVN_OPS_CREATE_DONE[] = "KRVN  Creating snapshots... - done";
inline constexpr char ZY_KRVN_OPS_CREATE_FAILED[] =
    "KRVN  Failed to create snapshot for one or more devices. Error-[%d:%s]";
// {1} created, {2} wanted, {3} the array.
inline constexpr char ZY_KRVN_OPS_CREATED_ONLY[] =
    "Created snapshots for only [{1}] devices out of [{2}] on the array-[{3}]. ";
// {1} the item's id, {2} the snapshot its metadata already names.
inline constexpr char ZY_KRVN_OPS_ALREADY_HOLDS[] =
    "The snap-[{1}] already holds snapshot-[{2}]. A new snapshot needs a new snap item.";

// Delete.
inline constexpr char ZY_KRVN_OPS_DELETE[] = "KRVN  Deleting snapshots...";
inline constexpr char ZY_KRVN_OPS_DELETE_DONE[] = "KRVN  Deleting snapshots... - done";
inline constexpr char ZY_KRVN_OPS_DELETE_NO_NAME[] =
    "Snapshot name is empty for snap-[{1}] - may be operation had failed during prepare or create. Marking the "
    "snapshot as successfully deleted.";
inline constexpr char ZY_KRVN_OPS_DETAIL_TEXT[] = "KRVN >>  %s";
inline constexpr char ZY_KRVN_OPS_DELETE_TRYING[] = "KRVN  Trying to delete snapshot-[%s]";
inline constexpr char ZY_KRVN_OPS_DELETE_LIST_CACHED[] =
    "KRVN >>  Got [%zu] snapshots for source device-[%s] from cache.";
inline constexpr char ZY_KRVN_OPS_DELETE_LIST_FETCHED[] = "KRVN >>  Got [%zu] snapshots for source device-[%s].";
inline constexpr char ZY_KRVN_OPS_DELETE_SOURCE_GONE[] =
    "KRVN >>  Source device-[%s] is not found on array. Marking the snapshot-[%s] as deleted.";
inline constexpr char ZY_KRVN_OPS_DELETE_NO_LIST[] =
    "KRVN >>  Unable to get snapshot list for source device-[%s]. Going ahead with next snapshot..";
inline constexpr char ZY_KRVN_OPS_DELETE_NOT_LISTED[] =
    "KRVN >>  Snapshot-[%s] for source device-[%s] is not found in the list. Marking the snapshot as deleted.";
inline constexpr char ZY_KRVN_OPS_DELETE_DONE_ONE[] = "KRVN >>  Successfully deleted snapshot-[%s]";
inline constexpr char ZY_KRVN_OPS_DELETE_UNKNOWN[] =
    "KRVN >>  Array did not find the snapshot-[%s]. Marking the snapshot as deleted.";

// Revert and reconcile share the snapshot list texts.
inline constexpr char ZY_KRVN_OPS_LIST_CACHED[] = "KRVN >>  Got [%zu] snapshots for vDisk-[%s] from cache";
inline constexpr char ZY_KRVN_OPS_LIST_FETCHING[] = "KRVN  Going to get snapshot list for vDisk-[%s]...";
inline constexpr char ZY_KRVN_OPS_LIST_FETCHED[] = "KRVN >>  Got [%zu] snapshots for vDisk-[%s]";
inline constexpr char ZY_KRVN_OPS_SNAP_EXISTS[] = "KRVN >>  Found snapshot-[%s] existing on the array-[%s]";

// Revert.
inline constexpr char ZY_KRVN_OPS_REVERT[] = "KRVN  Going to revert snapshots...";
inline constexpr char ZY_KRVN_OPS_REVERT_DONE[] = "KRVN  Going to revert snapshots... - done";
inline constexpr unsigned int ZY_KRVN_OPS_REVERT_PORTAL_WAIT_MS = 3000;
inline constexpr char ZY_KRVN_OPS_REVERT_FOUND_IQN[] = "KRVN >>  Found IQN-[%s] for source device-[%s]";
inline constexpr char ZY_KRVN_OPS_REVERT_NO_IQN[] = "Failed to get the SCSI target IQN for the device-[{1}]";
inline constexpr char ZY_KRVN_OPS_FAILED_ERROR[] = "KRVN  Snapshot operation failed - Error-[%d:%s]";
inline constexpr char ZY_KRVN_OPS_REVERT_NO_NAME[] =
    "Empty name for snapshot-[{1}] - may be operation had failed during prepare or create.";
inline constexpr char ZY_KRVN_OPS_REVERT_NOT_ON_ARRAY[] = "Snapshot-[{1}] not found on the array-[{2}]";
inline constexpr char ZY_KRVN_OPS_REVERT_NOT_ON_ARRAY_LOG[] = "KRVN >>  Snapshot operation failed - [%d:%s]";
inline constexpr char ZY_KRVN_OPS_REVERTING[] = "KRVN  Reverting vDisk-[%s] to snapshot-[%s]";
inline constexpr char ZY_KRVN_OPS_REVERTED[] = "KRVN >>  Successfully reverted vDisk-[%s] to snapshot-[%s]";

// Reconcile.
inline constexpr char ZY_KRVN_OPS_RECON[] = "KRVN  Going to reconcile snapshots...";
inline constexpr char ZY_KRVN_OPS_RECON_DONE[] = "KRVN  Going to reconcile snapshots... - done";
inline constexpr char ZY_KRVN_OPS_RECON_NO_NAME[] =
    "KRVN >>  Empty name for snapshot-[%lld] - may be operation had failed during prepare or create. Skipping it..";
inline constexpr char ZY_KRVN_OPS_RECON_SOURCE_GONE[] =
    "KRVN >>  Source vDisk-[%s] - is not found on the array-[%s]. Marking the snapshot-[%s] as externally deleted..";
inline constexpr char ZY_KRVN_OPS_RECON_GONE[] =
    "KRVN >>  Snapshot-[%s] not found on the array-[%s]. Marking it as externally deleted...";
inline constexpr char ZY_KRVN_OPS_RECON_STATS[] =
    "KRVN >>  Reconcile stats Total-[%zu] : Found-[%d] Externally Deleted-[%d] Skipped-[%d] Failed-[%d]";

}  // namespace ZYSnapKrvn
