// Texts of the cluster protocol: the answer envelope, the session, the request catalogue and
// the four families of cluster operations (field names, request templates, the cluster's own
// sentences, and our sentences and log lines about them). Byte for byte what the cluster
// expects or what operators read. Sentences with values are whole templates: {n} is the n-th
// value given to CWqString::Format.
#pragma once

namespace ZYKorvanCommon {

// ---- Response envelope -------------------------------------------------------------------------
inline constexpr char ZY_KRVN_REST_CMN_FIELD_STATUS[] = "status";
inline constexpr char ZY_KRVN_REST_CMN_FIELD_TYPE[] = "type";
inline constexpr char ZY_KRVN_REST_CMN_FIELD_REQ_ID[] = "requestId";
inline constexpr char ZY_KRVN_REST_CMN_FIELD_MSG[] = "message";
inline constexpr char ZY_KRVN_REST_CMN_FIELD_RESULT[] = "result";
inline constexpr char ZY_KRVN_REST_CMN_VALUE_STATUS_OK[] = "ok";

// Expected response types.
inline constexpr char ZY_KRVN_REST_CMN_VALUE_TYPE_LOGIN[] = "Login";
inline constexpr char ZY_KRVN_REST_CMN_VALUE_TYPE_LOGOUT[] = "Logout";
inline constexpr char ZY_KRVN_REST_CMN_VALUE_TYPE_GET_ALL_VDISKS[] = "ListVirtualDisks";
inline constexpr char ZY_KRVN_REST_CMN_VALUE_TYPE_GET_VDISK[] = "VirtualDiskDetails";
inline constexpr char ZY_KRVN_REST_CMN_VALUE_TYPE_GET_VDISK_SSN[] = "GetVirtualDiskByScsiSn";
inline constexpr char ZY_KRVN_REST_CMN_VALUE_TYPE_CREATE_SNAPS[] = "MakeSnapshot";
inline constexpr char ZY_KRVN_REST_CMN_VALUE_TYPE_GET_SNAP_LIST[] = "ListSnapshots";
inline constexpr char ZY_KRVN_REST_CMN_VALUE_TYPE_DELETE_SNAP[] = "DeleteSnapshot";
inline constexpr char ZY_KRVN_REST_CMN_VALUE_TYPE_REVERT_SNAP[] = "RevertToSnapshot";
inline constexpr char ZY_KRVN_REST_CMN_VALUE_TYPE_GET_SNAP_CLONES[] = "ListClonesForSnapshot";
inline constexpr char ZY_KRVN_REST_CMN_VALUE_TYPE_CREATE_CLONE[] = "CloneSnapshot";
inline constexpr char ZY_KRVN_REST_CMN_VALUE_TYPE_GET_SCSI_TARGET[] = "ShowTarget";
inline constexpr char ZY_KRVN_REST_CMN_VALUE_TYPE_ADD_LUN[] = "AddLun";
inline constexpr char ZY_KRVN_REST_CMN_VALUE_TYPE_ADD_ACCESS[] = "PersistACLAccess";
inline constexpr char ZY_KRVN_REST_CMN_VALUE_TYPE_GET_ACCESS[] = "GetACLInformation";
inline constexpr char ZY_KRVN_REST_CMN_VALUE_TYPE_REMOVE_ACCESS[] = "RemoveACLAccess";
inline constexpr char ZY_KRVN_REST_CMN_VALUE_TYPE_REMOVE_LUN[] = "UnmapLun";
inline constexpr char ZY_KRVN_REST_CMN_VALUE_TYPE_DELETE_DISK[] = "DeleteVDisk";
inline constexpr char ZY_KRVN_REST_CMN_VALUE_TYPE_GET_CLUS_INFO[] = "GetClusterSettingInfo";
inline constexpr char ZY_KRVN_REST_CMN_VALUE_TYPE_CREATE_DISK[] = "AddVirtualDisk";
inline constexpr char ZY_KRVN_REST_CMN_VALUE_TYPE_RESIZE_DISK[] = "ResizeDisks";

// Sentences and log lines shared by every cluster operation.
inline constexpr char ZY_KRVN_ERR_PARSE_RESPONSE[] = "Failed to parse the REST response-[{1}]";

inline constexpr char ZY_KRVN_ERR_REQUEST_FAILED[] = "The {1} request has failed. REST Error-[{2}]";
inline constexpr char ZY_KRVN_ERR_WRONG_TYPE[] = "The REST reponse type received-[{1}] - expecting type-[{2}]";
inline constexpr char ZY_KRVN_ERR_NO_RESULT[] = "Invalid {1} response. Expecting field-[{2}]";
inline constexpr char ZY_KRVN_LOG_CLUSTER_STATUS_FAILED[] =
    "KRVN  Cluster-[%s] operation failed. Status-[%s] Error-[%d:%s]";
inline constexpr char ZY_KRVN_LOG_CLUSTER_OP_ERROR[] = "KRVN  Cluster-[%s] operation failed. Error-[%d:%s]";
inline constexpr char ZY_KRVN_LOG_OP_STATUS_UNKNOWN[] =
    "KRVN  Unable to determine operation status for cluster-[%s]. Error-[%d:%s]";
inline constexpr char ZY_KRVN_LOG_CLUSTER_OP_FAILED_REST[] = "KRVN  Cluster operation failed-[%d:%s]. REST error-[%s]";
inline constexpr char ZY_KRVN_LOG_CLUSTER_OP_FAILED[] = "KRVN  Cluster operation failed - [%d:%s]";
inline constexpr char ZY_KRVN_LOG_CLUSTER_NAMED_OP_FAILED[] = "KRVN  Cluster operation-[%s] failed - [%d:%s]";

// ---- Session ----------------------------------------------------------------------------------
inline constexpr char ZY_KRVN_REST_LOGIN_FIELD_SSN_ID[] = "sessionId";
inline constexpr char ZY_KRVN_REST_LOGIN_FIELD_USERNAME[] = "userName";
inline constexpr char ZY_KRVN_REST_LOGIN_FIELD_PRIM_TENANT[] = "primaryTenant";
inline constexpr char ZY_KRVN_REST_LOGIN_FIELD_ROLES[] = "roles";
inline constexpr char ZY_KRVN_USER_DETAILS_LOG[] = "Tenant #{1}-[{2} = {3}], ";
inline constexpr size_t ZY_KRVN_USER_DETAILS_TRAILER_LEN = 2;  // the ", " after the last role

inline constexpr char ZY_KRVN_LOG_CONNECTING[] = "KRVN  Connecting to cluster-[%s]...";
inline constexpr char ZY_KRVN_LOG_CONNECTING_DONE[] = "KRVN  Connecting to cluster-[%s]... - done";
inline constexpr char ZY_KRVN_ERR_CONNECT[] = "Connect to cluster-[{1}] using control host-[{2}] failed.";
inline constexpr char ZY_KRVN_LOG_CONNECT_STATUS_UNKNOWN[] =
    "KRVN  Unable to determine connection to cluster-[%s]. Error-[%d:%s]";
inline constexpr char ZY_KRVN_ERR_INVALID_LOGIN[] =
    "Invalid login response. The field-[{1}] is either not present or empty.";
inline constexpr char ZY_KRVN_LOG_CONNECT_FAILED[] = "KRVN  Connect to cluster-[%s] failed. Error-[%d:%s]";
inline constexpr char ZY_KRVN_LOG_USER_DETAILS[] =
    "KRVN  The user-[%s] details : Roles - < %s >, Primary tenant - < %s >";
inline constexpr char ZY_KRVN_LOG_USER_ROLES_HINT[] =
    "KRVN  Please ensure that - <1> the user-[%s] have proper roles to manage vDisks and snapshots, <2> All the "
    "source devices are accessible by the user, for successful snapshot operation...";
inline constexpr char ZY_KRVN_LOG_CONNECTED[] = "KRVN >>  Successfully connected to cluster-[%s] as [%s] user.";
inline constexpr char ZY_KRVN_LOG_LOGOUT_FAILED[] = "KRVN  Failed to logout from the cluster-[%s]";
inline constexpr char ZY_KRVN_LOG_LOGOUT_DONE[] = "KRVN >>  Successfully logged out from cluster-[%s]";
inline constexpr char ZY_KRVN_LOG_LOGOUT_PARSE_FAILED[] = "KRVN  Failed to parse REST response-[%s]";
inline constexpr char ZY_KRVN_LOG_LOGOUT_STATUS_FAILED[] =
    "KRVN  Cluster-[%s] operation failed. Status-[%s] Error-[%s]";
inline constexpr char ZY_KRVN_LOG_LOGOUT_WRONG_TYPE[] =
    "KRVN  Got wrong operation type-[%s] in response. Expecting-[%s]..";

// ---- Request catalogue ------------------------------------------------------------------------
inline constexpr char ZY_KRVN_REST_REQ_LOGIN[] =
    "request={type:Login, category:UserManagement, params:{userName:'{1}', password:'{2}', cluster:'{3}'}}";
inline constexpr char ZY_KRVN_REST_REQ_LOGOUT[] = "request={type:Logout, category:UserManagement, sessionId:'{1}'}";
inline constexpr char ZY_KRVN_REST_REQ_GET_ALL_VDISKS[] =
    "request={type:ListVirtualDisks, category:VirtualDiskManagement, sessionId:'{1}'}";
inline constexpr char ZY_KRVN_REST_REQ_GET_VDISK[] =
    "request={type:VirtualDiskDetails, category:VirtualDiskManagement, params:{virtualDisk:'{1}'}, sessionId:'{2}'}";
inline constexpr char ZY_KRVN_REST_REQ_GET_VDISK_BY_SSN[] =
    "request={type:GetVirtualDiskByScsiSn, category:VirtualDiskManagement, params:{scsiSn:'{1}'}, sessionId:'{2}'}";
inline constexpr char ZY_KRVN_REST_REQ_CREATE_SNAPS[] =
    "request={type:MakeSnapshot, category:SnapshotManagement, params:{virtualDisks:[{1}]}, sessionId:'{2}'}";
inline constexpr char ZY_KRVN_REST_REQ_GET_SNAPLIST[] =
    "request={type:ListSnapshots, category:SnapshotManagement, params:{virtualDisk:'{1}'}, sessionId:'{2}'}";
inline constexpr char ZY_KRVN_REST_REQ_DELETE_SNAP[] =
    "request={type:DeleteSnapshot, category:SnapshotManagement, params:{snapshotName:'{1}'}, sessionId:'{2}'}";
inline constexpr char ZY_KRVN_REST_REQ_REVERT_SNAP[] =
    "request={type:RevertToSnapshot, category:SnapshotManagement, params:{snapshotName:'{1}'}, sessionId:'{2}'}";
inline constexpr char ZY_KRVN_REST_REQ_GET_SNAP_CLONES[] =
    "request={type:ListClonesForSnapshot, category:SnapshotManagement, params:{snapshotName:'{1}'}, sessionId:'{2}'}";
inline constexpr char ZY_KRVN_REST_REQ_CREATE_CLONE[] =
    "request={type:CloneSnapshot, category:SnapshotManagement, params:{name:'{1}', clonedSnapshotName:'{2}'}, "
    "sessionId:'{3}'}";
inline constexpr char ZY_KRVN_REST_REQ_GET_SCSI_TARGETS[] =
    "request={type:ShowTarget, category:ClusterWatch, params:{host:'{1}', protocols:'block'}, sessionId:'{2}'}";
inline constexpr char ZY_KRVN_REST_REQ_ADD_LUN[] =
    "request={type:AddLun, category:VirtualDiskManagement, params:{virtualDisks:[{1}], targets:[{2}], "
    "readonly:false}, sessionId:'{3}'}";
inline constexpr char ZY_KRVN_REST_REQ_ADD_ACCESS_IQN[] =
    "request={type:PersistACLAccess, category:VirtualDiskManagement, params:{virtualDisks:[{1}], host:'{2}', "
    "address:'{3}', type:iqn}, sessionId:'{4}'}";
inline constexpr char ZY_KRVN_REST_REQ_GET_ACCESS_LIST[] =
    "request={type:GetACLInformation, category:VirtualDiskManagement, params:{virtualDisk:'{1}'}, sessionId:'{2}'}";
inline constexpr char ZY_KRVN_REST_REQ_REMOVE_ACCESS[] =
    "request={type:RemoveACLAccess, category:VirtualDiskManagement, params:{virtualDisk:'{1}', host:'{2}', "
    "address:[{3}]}, sessionId:'{4}'}";
inline constexpr char ZY_KRVN_REST_REQ_REMOVE_LUN[] =
    "request={type:UnmapLun, category:VirtualDiskManagement, params:{virtualDisk:'{1}', target:'{2}'}, "
    "sessionId:'{3}'}";
inline constexpr char ZY_KRVN_REST_REQ_DELETE_VDISK[] =
    "request={type:DeleteVDisk, category:VirtualDiskManagement, params:{virtualDisks:[{1}]}, sessionId:'{2}'}";
inline constexpr char ZY_KRVN_REST_GET_CLUS_SETTING_INFO[] =
    "request={type:GetClusterSettingInfo, category:ClusterWatch, sessionId:'{1}'}";
inline constexpr char ZY_KRVN_REST_REQ_CREATE_VDISK[] =
    "request={type:AddVirtualDisk, category:VirtualDiskManagement, params:{name:'{1}', size:{unit:'{2}', "
    "value:{3}}, diskType:{4}, scsi3pr:{5}, deduplication:{6}, compressed:{7}, blockSize:{8}, "
    "replicationFactor:{9}, encryption:{10}, description:'{11}', cacheEnabled:false}, sessionId:'{12}'}";
inline constexpr char ZY_KRVN_REST_REQ_RESIZE_VDISK[] =
    "request={type:ResizeDisks, category:VirtualDiskManagement, params:{virtualDisks:[{1}], size:{unit:'{2}', "
    "value:{3}}}, sessionId:'{4}'}";

inline constexpr char ZY_KRVN_REST_LIST_QUOTE[] = "'";
inline constexpr char ZY_KRVN_REST_LIST_SEP[] = ",";
inline constexpr char ZY_KRVN_REST_BOOL_TRUE[] = "true";
inline constexpr char ZY_KRVN_REST_BOOL_FALSE[] = "false";
inline constexpr char ZY_KRVN_ERR_UNSAFE_VALUE[] = "Refusing to send a request with an unsafe value-[{1}]";
inline constexpr char ZY_KRVN_UNSAFE_VALUE_SECRET_SHOWN[] = "******";

// ---- Virtual disk queries ---------------------------------------------------------------------
inline constexpr char ZY_KRVN_REST_GET_ALL_VDISKS_FIELD_DISKS[] = "disks";
inline constexpr char ZY_KRVN_VDISK_FIELD_IS_CLONE[] = "isClone";
inline constexpr char ZY_KRVN_VDISK_FIELD_CLUSTERED_FS[] = "clusteredFileSystem";
inline constexpr char ZY_KRVN_VDISK_FIELD_COMPRESSED[] = "compressed";
inline constexpr char ZY_KRVN_VDISK_FIELD_DEDUPLICATION[] = "deduplication";
inline constexpr char ZY_KRVN_VDISK_FIELD_ENCRYPTION[] = "encryption";
inline constexpr char ZY_KRVN_VDISK_FIELD_SCSI3PR[] = "scsi3pr";
inline constexpr char ZY_KRVN_VDISK_FIELD_FROZEN[] = "frozen";
inline constexpr char ZY_KRVN_VDISK_FIELD_BLOCK_SIZE[] = "blockSize";
inline constexpr char ZY_KRVN_VDISK_FIELD_REPL_FACTOR[] = "replicationFactor";
inline constexpr char ZY_KRVN_VDISK_FIELD_SCSI_SERIAL[] = "scsiSerialNumber";
inline constexpr char ZY_KRVN_VDISK_FIELD_CREATED_BY[] = "createdBy";
inline constexpr char ZY_KRVN_VDISK_FIELD_DISK_TYPE[] = "diskType";
inline constexpr char ZY_KRVN_VDISK_FIELD_NAME[] = "vDiskName";
inline constexpr char ZY_KRVN_VDISK_FIELD_REPL_POLICY[] = "replicationPolicy";
inline constexpr char ZY_KRVN_VDISK_FIELD_STATUS[] = "status";
inline constexpr char ZY_KRVN_VDISK_FIELD_TENANT[] = "tenant";
inline constexpr char ZY_KRVN_VDISK_FIELD_FREEZE_REASON[] = "freezeReason";
inline constexpr char ZY_KRVN_VDISK_FIELD_TARGET_LOCATIONS[] = "targetLocations";
inline constexpr char ZY_KRVN_TARGET_LOCATION_PORT_SEP = ':';

inline constexpr char ZY_KRVN_LOG_GET_ALL_VDISKS[] = "KRVN  Getting details of all vDisks...";
inline constexpr char ZY_KRVN_LOG_GET_ALL_VDISKS_DONE[] = "KRVN  Getting details of all vDisks... - done";
inline constexpr char ZY_KRVN_LOG_GOT_ALL_VDISKS[] = "KRVN >>  Got [%zu] vDisk details.";
inline constexpr char ZY_KRVN_ERR_GET_ALL_VDISKS[] = "Failed to get all vDisk details from the cluster";
inline constexpr char ZY_KRVN_ERR_NO_DISKS[] = "Invalid REST response. The field-[{1}] is either not present or empty.";
inline constexpr char ZY_KRVN_LOG_GET_ALL_VDISKS_FAILED[] =
    "KRVN  Failed to get all vDisks' details from cluster-[%s]. Error-[%d:%s]";

inline constexpr char ZY_KRVN_LOG_GET_VDISK[] = "KRVN  Getting vDisk-[%s] details...";
inline constexpr char ZY_KRVN_LOG_GET_VDISK_DONE[] = "KRVN  Getting vDisk-[%s] details... - done";
inline constexpr char ZY_KRVN_LOG_GOT_VDISK[] = "KRVN >>  Got vDisk-[%s] details.";
inline constexpr char ZY_KRVN_ERR_GET_VDISK[] = "Failed to get vDisk-[{1}] details from the cluster.";

inline constexpr char ZY_KRVN_LOG_GET_VDISK_SSN[] = "KRVN  Getting vDisk details using SCSI serial-[%s]...";
inline constexpr char ZY_KRVN_LOG_GET_VDISK_SSN_DONE[] = "KRVN  Getting vDisk details using SCSI serial-[%s]... - done";
inline constexpr char ZY_KRVN_LOG_GOT_VDISK_SSN[] = "KRVN >>  Got vDisk-[%s] details using SCSI serial-[%s].";
inline constexpr char ZY_KRVN_ERR_GET_VDISK_SSN[] =
    "Failed to get vDisk details using SCSI serial-[{1}] from the cluster.";

// Cluster sentences recognised in its error messages ({1}: the vDisk name or serial).
inline constexpr char ZY_KRVN_DISK_NOT_FOUND[] = "Vdisk {1} couldn't be found";
inline constexpr char ZY_KRVN_DISK_MARKED_FOR_DELETE[] = "VDisk is marked for delete :{1}";
inline constexpr char ZY_KRVN_DISK_SSN_NOT_FOUND[] = "Unable to find virtual disk with scsi sn: {1}";

// ---- Snapshots and clones ---------------------------------------------------------------------
inline constexpr char ZY_KRVN_REST_CREATE_SNAPS_FIELD_STATUS[] = "status";
inline constexpr char ZY_KRVN_REST_CREATE_SNAPS_FIELD_NAME[] = "name";
inline constexpr char ZY_KRVN_REST_CREATE_SNAPS_FIELD_SNAP_NAME[] = "snapshotName";
inline constexpr char ZY_KRVN_REST_CREATE_SNAPS_FIELD_MESSAGE[] = "message";
inline constexpr char ZY_KRVN_REST_GET_SNAP_LIST_FIELD_NAME[] = "name";
inline constexpr char ZY_KRVN_REST_GET_SNAP_LIST_FIELD_DETAILS[] = "details";
inline constexpr char ZY_KRVN_REST_DELETE_SNAP_FIELD_NAME[] = "name";
inline constexpr char ZY_KRVN_REST_REVERT_SNAP_FIELD_INIT_NAME[] = "name";
inline constexpr char ZY_KRVN_REST_GET_SNAP_CLONES_FIELD_NAME[] = "name";
inline constexpr char ZY_KRVN_REST_CREATE_CLONE_FIELD_NAME[] = "name";
inline constexpr char ZY_KRVN_REST_CREATE_CLONE_FIELD_STATUS[] = "status";
inline constexpr char ZY_KRVN_REST_CREATE_CLONE_FIELD_BASE_VDISK[] = "baseDisk";

inline constexpr char ZY_KRVN_CREATE_SNAP_NO_MORE_DATA[] = " No more data to read";
inline constexpr char ZY_KRVN_DELETE_SNAP_NOT_EXIST[] = "Invalid snapshot value entered";
inline constexpr int ZY_KRVN_CREATE_SNAPS_MAX_ATTEMPTS = 5;

inline constexpr char ZY_KRVN_ERR_CREATE_SNAPS[] =
    "Failed to create snapshot(s) of one or more source device(s) on the cluster";
inline constexpr char ZY_KRVN_ERR_GET_SNAP_LIST[] = "Failed to get snapshot list for source device-[{1}]";
inline constexpr char ZY_KRVN_ERR_DELETE_SNAP[] = "Failed to delete snapshot-[{1}] for source device-[{2}]";
inline constexpr char ZY_KRVN_ERR_REVERT[] = "Failed to revert source vDisk-[{1}] to snapshot-[{2}]";
inline constexpr char ZY_KRVN_ERR_GET_CLONES[] = "Failed to get clone list for snapshot-[{1}]";
inline constexpr char ZY_KRVN_ERR_CREATE_CLONE[] = "Failed to create clone with name-[{1}] for snapshot-[{2}]";

inline constexpr char ZY_KRVN_SNAP_FAIL_ITEM[] = "device-[{1}] status-[{2}] error-[{3}], ";
inline constexpr size_t ZY_KRVN_SNAP_FAIL_ITEM_TRAILER_LEN = 2;
inline constexpr char ZY_KRVN_LOG_SNAP_ITEM_FAILED[] =
    "KRVN  Snapshot creation failed for device-[%s]. Status-[%s] Error-[%s]";
inline constexpr char ZY_KRVN_ERR_SNAP_CREATION_FAILED[] = "Snapshot creation failed for : ";

inline constexpr char ZY_KRVN_ERR_DELETE_NAME[] =
    "The snapshot name-[{1}] in response doesn't match the actual request value-[{2}]";
inline constexpr char ZY_KRVN_LOG_DELETE_SUSPICIOUS[] = "KRVN  Suspicious delete response. Error-[%d:%s]";
inline constexpr char ZY_KRVN_ERR_REVERT_NAME[] = "Got snapshot name-[{1}] is the response - expecting-[{2}]";
inline constexpr char ZY_KRVN_ERR_CLONE_FAILED[] = "Failed to create clone-[{1}] from snapshot-[{2}]";

// ---- Targets, LUNs and access -----------------------------------------------------------------
inline constexpr char ZY_KRVN_REST_GET_SCSI_TGT_FIELD_LUN_INFO[] = "Lun Information";
inline constexpr char ZY_KRVN_REST_GET_SCSI_TGT_FIELD_LUN_ID[] = "Lun Id";
inline constexpr char ZY_KRVN_REST_GET_SCSI_TGT_FIELD_LUN_TARGET[] = "Target";
inline constexpr char ZY_KRVN_REST_GET_SCSI_TGT_FIELD_SCSI_SERIAL[] = "SCSI SN";
inline constexpr char ZY_KRVN_REST_GET_SCSI_TGT_FIELD_ONLINE[] = "Online";
inline constexpr char ZY_KRVN_REST_GET_SCSI_TGT_VALUE_ONLINE[] = "Yes";
inline constexpr char ZY_KRVN_REST_ADD_LUN_FIELD_STATUS[] = "status";
inline constexpr char ZY_KRVN_REST_ADD_LUN_FIELD_NAME[] = "name";
inline constexpr char ZY_KRVN_REST_ADD_LUN_FIELD_MESSAGE[] = "message";
inline constexpr char ZY_KRVN_REST_ADD_LUN_FIELD_TARGETS[] = "targets";
inline constexpr char ZY_KRVN_REST_ADD_LUN_FIELD_TARGET_STATUS[] = "status";
inline constexpr char ZY_KRVN_REST_ADD_LUN_FIELD_TARGET_NAME[] = "name";
inline constexpr char ZY_KRVN_REST_ADD_LUN_FIELD_TARGET_MESSAGE[] = "message";
inline constexpr char ZY_KRVN_REST_ADD_ACCESS_FIELD_STATUS[] = "status";
inline constexpr char ZY_KRVN_REST_ADD_ACCESS_FIELD_NAME[] = "name";
inline constexpr char ZY_KRVN_REST_ADD_ACCESS_FIELD_MESSAGE[] = "message";
inline constexpr char ZY_KRVN_REST_GET_ACCESS_LIST_FIELD_HOST[] = "host";
inline constexpr char ZY_KRVN_REST_GET_ACCESS_LIST_FIELD_INIT_LIST[] = "initiator";
inline constexpr char ZY_KRVN_REST_GET_ACCESS_LIST_FIELD_INIT_IP[] = "ip";
inline constexpr char ZY_KRVN_REST_GET_ACCESS_LIST_FIELD_INIT_NAME[] = "name";

inline constexpr char ZY_KRVN_LUN_ALREADY_EXPOSED[] = " is already associated with the host {1}";
inline constexpr char ZY_KRVN_LUN_ALREADY_REMOVED[] = "vDisk:{1} is currently not mapped to any controllers(s)";

inline constexpr char ZY_KRVN_ERR_GET_TARGETS[] = "Failed to get SCSI target IQN details for storage proxy-[{1}]";
inline constexpr char ZY_KRVN_LOG_GOT_TARGETS[] = "KRVN >>  Got [%zu] SCSI target IQNs from the cluster..";
inline constexpr char ZY_KRVN_ERR_ADD_LUN[] = "Failed to expose [{1}] disks to [{2}] storage proxies";
inline constexpr char ZY_KRVN_ERR_ADD_ACCESS[] = "Failed to map [{1}] disks to [{2}] host via [{3}] storage proxy";
inline constexpr char ZY_KRVN_ERR_GET_ACCESS[] = "Failed to get the access list for disk-[{1}]";
inline constexpr char ZY_KRVN_ERR_REMOVE_ACCESS[] = "Failed to unmap the disk-[{1}] from host-[{2}]";
inline constexpr char ZY_KRVN_ERR_REMOVE_LUN[] = "Failed to hide the disk-[{1}] from target-[{2}]";

inline constexpr char ZY_KRVN_ERR_EXPOSE_DISK[] = "Failed to expose the disk-[{1}] to one or more targets. Error-[{2}]";
inline constexpr char ZY_KRVN_ERR_EXPOSE_TARGET[] = "Expose to storage proxy-[{1}] for disk-[{2}] failed. Error-[{3}]";
inline constexpr char ZY_KRVN_ERR_MAP_DISK[] =
    "Mapping disk-[{1}] to host-[{2}] via storage proxy-[{3}] failed. Error-[{4}]";

// ---- Disk administration ----------------------------------------------------------------------
inline constexpr char ZY_KRVN_REST_DISK_FIELD_STATUS[] = "status";
inline constexpr char ZY_KRVN_REST_DISK_FIELD_NAME[] = "name";
inline constexpr char ZY_KRVN_REST_DISK_FIELD_MESSAGE[] = "message";
inline constexpr char ZY_KRVN_REST_CLUS_INFO_FIELD_HASH[] = "clusterNameHash";

inline constexpr char ZY_KRVN_DISK_ALREADY_CREATED[] = "{1} vDisk has already been created";
inline constexpr char ZY_KRVN_DISK_RESIZE_SHRINK[] = "Shrinking of virtual disk is not supported";

inline constexpr char ZY_KRVN_ERR_CREATE_DISK[] = "Failed to create disk-[{1}] on the cluster-[{2}]";
inline constexpr char ZY_KRVN_ERR_DELETE_DISKS[] = "Failed to delete one or more disks on the cluster-[{1}]";
inline constexpr char ZY_KRVN_ERR_RESIZE_DISK[] = "Failed to resize disk-[{1}] on the cluster-[{2}]";
inline constexpr char ZY_KRVN_ERR_CLUS_INFO[] = "Failed to get cluster setting info from the cluster-[{1}]";

inline constexpr char ZY_KRVN_ERR_DISK_CREATION[] = "Disk-[{1}] creation failed. Error-[{2}]";
inline constexpr char ZY_KRVN_LOG_DISK_NOT_FOUND_ON_DELETE[] =
    "KRVN >>  Disk-[%s] not found on the cluster. Marking delete as successful..";
inline constexpr char ZY_KRVN_ERR_DISK_DELETION[] = "Disk-[{1}] deletion failed. Error-[{2}]";
inline constexpr char ZY_KRVN_ERR_DELETION_SUMMARY[] = "Deletion for disks-[{1}] failed.";
inline constexpr char ZY_KRVN_LOG_RESIZE_SHRINK[] =
    "KRVN  The requested size is lesser than current size for disk-[%s]..";
inline constexpr char ZY_KRVN_ERR_RESIZE_FAILED[] = "Resize for disk-[{1}] failed. Error-[{2}]";
inline constexpr char ZY_KRVN_ERR_NO_CLUSTER_HASH[] = "Failed to get the cluster name hash from the REST response";

}  // namespace ZYKorvanCommon
