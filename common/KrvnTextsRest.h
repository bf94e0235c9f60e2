// Texts of the cluster REST client: the session and its envelope check, the request
// catalogue, and the four families of cluster operations. Byte for byte what the cluster
// expects or what operators read in the log.
#pragma once

namespace ZYKorvanCommon {

// ---- Response envelope -------------------------------------------------------------------------
const char* const ZY_KRVN_REST_CMN_FIELD_STATUS = "status";
const char* const ZY_KRVN_REST_CMN_FIELD_TYPE = "type";
const char* const ZY_KRVN_REST_CMN_FIELD_REQ_ID = "requestId";
const char* const ZY_KRVN_REST_CMN_FIELD_MSG = "message";
const char* const ZY_KRVN_REST_CMN_FIELD_RESULT = "result";
const char* const ZY_KRVN_REST_CMN_VALUE_STATUS_OK = "ok";

// Expected response types.
const char* const ZY_KRVN_REST_CMN_VALUE_TYPE_LOGIN = "Login";
const char* const ZY_KRVN_REST_CMN_VALUE_TYPE_LOGOUT = "Logout";
const char* const ZY_KRVN_REST_CMN_VALUE_TYPE_GET_ALL_VDISKS = "ListVirtualDisks";
const char* const ZY_KRVN_REST_CMN_VALUE_TYPE_GET_VDISK = "VirtualDiskDetails";
const char* const ZY_KRVN_REST_CMN_VALUE_TYPE_GET_VDISK_SSN = "GetVirtualDiskByScsiSn";
const char* const ZY_KRVN_REST_CMN_VALUE_TYPE_CREATE_SNAPS = "MakeSnapshot";
const char* const ZY_KRVN_REST_CMN_VALUE_TYPE_GET_SNAP_LIST = "ListSnapshots";
const char* const ZY_KRVN_REST_CMN_VALUE_TYPE_DELETE_SNAP = "DeleteSnapshot";
const char* const ZY_KRVN_REST_CMN_VALUE_TYPE_REVERT_SNAP = "RevertToSnapshot";
const char* const ZY_KRVN_REST_CMN_VALUE_TYPE_GET_SNAP_CLONES = "ListClonesForSnapshot";
const char* const ZY_KRVN_REST_CMN_VALUE_TYPE_CREATE_CLONE = "CloneSnapshot";
const char* const ZY_KRVN_REST_CMN_VALUE_TYPE_GET_SCSI_TARGET = "ShowTarget";
const char* const ZY_KRVN_REST_CMN_VALUE_TYPE_ADD_LUN = "AddLun";
const char* const ZY_KRVN_REST_CMN_VALUE_TYPE_ADD_ACCESS = "PersistACLAccess";
const char* const ZY_KRVN_REST_CMN_VALUE_TYPE_GET_ACCESS = "GetACLInformation";
const char* const ZY_KRVN_REST_CMN_VALUE_TYPE_REMOVE_ACCESS = "RemoveACLAccess";
const char* const ZY_KRVN_REST_CMN_VALUE_TYPE_REMOVE_LUN = "UnmapLun";
const char* const ZY_KRVN_REST_CMN_VALUE_TYPE_DELETE_DISK = "DeleteVDisk";
const char* const ZY_KRVN_REST_CMN_VALUE_TYPE_GET_CLUS_INFO = "GetClusterSettingInfo";
const char* const ZY_KRVN_REST_CMN_VALUE_TYPE_CREATE_DISK = "AddVirtualDisk";
const char* const ZY_KRVN_REST_CMN_VALUE_TYPE_RESIZE_DISK = "ResizeDisks";

// Sentences and log lines shared by every cluster operation.
const char* const ZY_KRVN_ERR_PARSE_RESPONSE = "Failed to parse the REST response-[";
const char* const ZY_KRVN_ERR_CLOSE = "]";
const char* const ZY_KRVN_ERR_REQUEST_FAILED_1 = "The ";
const char* const ZY_KRVN_ERR_REQUEST_FAILED_2 = " request has failed. REST Error-[";
const char* const ZY_KRVN_ERR_WRONG_TYPE_1 = "The REST reponse type received-[";
const char* const ZY_KRVN_ERR_WRONG_TYPE_2 = "] - expecting type-[";
const char* const ZY_KRVN_ERR_NO_RESULT_1 = "Invalid ";
const char* const ZY_KRVN_ERR_NO_RESULT_2 = " response. Expecting field-[";
const char* const ZY_KRVN_LOG_CLUSTER_STATUS_FAILED = "KRVN  Cluster-[%s] operation failed. Status-[%s] Error-[%d:%s]";
const char* const ZY_KRVN_LOG_CLUSTER_OP_ERROR = "KRVN  Cluster-[%s] operation failed. Error-[%d:%s]";
const char* const ZY_KRVN_LOG_OP_STATUS_UNKNOWN = "KRVN  Unable to determine operation status for cluster-[%s]. Error-[%d:%s]";
const char* const ZY_KRVN_LOG_CLUSTER_OP_FAILED_REST = "KRVN  Cluster operation failed-[%d:%s]. REST error-[%s]";
const char* const ZY_KRVN_LOG_CLUSTER_OP_FAILED = "KRVN  Cluster operation failed - [%d:%s]";
const char* const ZY_KRVN_LOG_CLUSTER_NAMED_OP_FAILED = "KRVN  Cluster operation-[%s] failed - [%d:%s]";

// ---- Session ----------------------------------------------------------------------------------
const char* const ZY_KRVN_REST_LOGIN_FIELD_SSN_ID = "sessionId";
const char* const ZY_KRVN_REST_LOGIN_FIELD_USERNAME = "userName";
const char* const ZY_KRVN_REST_LOGIN_FIELD_PRIM_TENANT = "primaryTenant";
const char* const ZY_KRVN_REST_LOGIN_FIELD_ROLES = "roles";
const char* const ZY_KRVN_USER_DETAILS_LOG = "Tenant #{1}-[{2} = {3}], ";
constexpr size_t ZY_KRVN_USER_DETAILS_TRAILER_LEN = 2;   // the ", " after the last role

const char* const ZY_KRVN_LOG_CONNECTING = "KRVN  Connecting to cluster-[%s]...";
const char* const ZY_KRVN_LOG_CONNECTING_DONE = "KRVN  Connecting to cluster-[%s]... - done";
const char* const ZY_KRVN_ERR_CONNECT_1 = "Connect to cluster-[";
const char* const ZY_KRVN_ERR_CONNECT_2 = "] using control host-[";
const char* const ZY_KRVN_ERR_CONNECT_3 = "] failed.";
const char* const ZY_KRVN_LOG_CONNECT_STATUS_UNKNOWN = "KRVN  Unable to determine connection to cluster-[%s]. Error-[%d:%s]";
const char* const ZY_KRVN_ERR_INVALID_LOGIN_1 = "Invalid login response. The field-[";
const char* const ZY_KRVN_ERR_INVALID_LOGIN_2 = "] is either not present or empty.";
const char* const ZY_KRVN_LOG_CONNECT_FAILED = "KRVN  Connect to cluster-[%s] failed. Error-[%d:%s]";
const char* const ZY_KRVN_LOG_USER_DETAILS = "KRVN  The user-[%s] details : Roles - < %s >, Primary tenant - < %s >";
const char* const ZY_KRVN_LOG_USER_ROLES_HINT =
    "KRVN  Please ensure that - <1> the user-[%s] have proper roles to manage vDisks and snapshots, <2> All the "
    "source devices are accessible by the user, for successful snapshot operation...";
const char* const ZY_KRVN_LOG_CONNECTED = "KRVN >>  Successfully connected to cluster-[%s] as [%s] user.";
const char* const ZY_KRVN_LOG_LOGOUT_FAILED = "KRVN  Failed to logout from the cluster-[%s]";
const char* const ZY_KRVN_LOG_LOGOUT_DONE = "KRVN >>  Successfully logged out from cluster-[%s]";
const char* const ZY_KRVN_LOG_LOGOUT_PARSE_FAILED = "KRVN  Failed to parse REST response-[%s]";
const char* const ZY_KRVN_LOG_LOGOUT_STATUS_FAILED = "KRVN  Cluster-[%s] operation failed. Status-[%s] Error-[%s]";
const char* const ZY_KRVN_LOG_LOGOUT_WRONG_TYPE = "KRVN  Got wrong operation type-[%s] in response. Expecting-[%s]..";

// ---- Request catalogue ------------------------------------------------------------------------
const char* const ZY_KRVN_REST_REQ_LOGIN =
    "request={type:Login, category:UserManagement, params:{userName:'{1}', password:'{2}', cluster:'{3}'}}";
const char* const ZY_KRVN_REST_REQ_LOGOUT = "request={type:Logout, category:UserManagement, sessionId:'{1}'}";
const char* const ZY_KRVN_REST_REQ_GET_ALL_VDISKS =
    "request={type:ListVirtualDisks, category:VirtualDiskManagement, sessionId:'{1}'}";
const char* const ZY_KRVN_REST_REQ_GET_VDISK =
    "request={type:VirtualDiskDetails, category:VirtualDiskManagement, params:{virtualDisk:'{1}'}, sessionId:'{2}'}";
const char* const ZY_KRVN_REST_REQ_GET_VDISK_BY_SSN =
    "request={type:GetVirtualDiskByScsiSn, category:VirtualDiskManagement, params:{scsiSn:'{1}'}, sessionId:'{2}'}";
const char* const ZY_KRVN_REST_REQ_CREATE_SNAPS =
    "request={type:MakeSnapshot, category:SnapshotManagement, params:{virtualDisks:[{1}]}, sessionId:'{2}'}";
const char* const ZY_KRVN_REST_REQ_GET_SNAPLIST =
    "request={type:ListSnapshots, category:SnapshotManagement, params:{virtualDisk:'{1}'}, sessionId:'{2}'}";
const char* const ZY_KRVN_REST_REQ_DELETE_SNAP =
    "request={type:DeleteSnapshot, category:SnapshotManagement, params:{snapshotName:'{1}'}, sessionId:'{2}'}";
const char* const ZY_KRVN_REST_REQ_REVERT_SNAP =
    "request={type:RevertToSnapshot, category:SnapshotManagement, params:{snapshotName:'{1}'}, sessionId:'{2}'}";
const char* const ZY_KRVN_REST_REQ_GET_SNAP_CLONES =
    "request={type:ListClonesForSnapshot, category:SnapshotManagement, params:{snapshotName:'{1}'}, sessionId:'{2}'}";
const char* const ZY_KRVN_REST_REQ_CREATE_CLONE =
    "request={type:CloneSnapshot, category:SnapshotManagement, params:{name:'{1}', clonedSnapshotName:'{2}'}, "
    "sessionId:'{3}'}";
const char* const ZY_KRVN_REST_REQ_GET_SCSI_TARGETS =
    "request={type:ShowTarget, category:ClusterWatch, params:{host:'{1}', protocols:'block'}, sessionId:'{2}'}";
const char* const ZY_KRVN_REST_REQ_ADD_LUN =
    "request={type:AddLun, category:VirtualDiskManagement, params:{virtualDisks:[{1}], targets:[{2}], "
    "readonly:false}, sessionId:'{3}'}";
const char* const ZY_KRVN_REST_REQ_ADD_ACCESS_IQN =
    "request={type:PersistACLAccess, category:VirtualDiskManagement, params:{virtualDisks:[{1}], host:'{2}', "
    "address:'{3}', type:iqn}, sessionId:'{4}'}";
const char* const ZY_KRVN_REST_REQ_GET_ACCESS_LIST =
    "request={type:GetACLInformation, category:VirtualDiskManagement, params:{virtualDisk:'{1}'}, sessionId:'{2}'}";
const char* const ZY_KRVN_REST_REQ_REMOVE_ACCESS =
    "request={type:RemoveACLAccess, category:VirtualDiskManagement, params:{virtualDisk:'{1}', host:'{2}', "
    "address:[{3}]}, sessionId:'{4}'}";
const char* const ZY_KRVN_REST_REQ_REMOVE_LUN =
    "request={type:UnmapLun, category:VirtualDiskManagement, params:{virtualDisk:'{1}', target:'{2}'}, "
    "sessionId:'{3}'}";
const char* const ZY_KRVN_REST_REQ_DELETE_VDISK =
    "request={type:DeleteVDisk, category:VirtualDiskManagement, params:{virtualDisks:[{1}]}, sessionId:'{2}'}";
const char* const ZY_KRVN_REST_GET_CLUS_SETTING_INFO =
    "request={type:GetClusterSettingInfo, category:ClusterWatch, sessionId:'{1}'}";
const char* const ZY_KRVN_REST_REQ_CREATE_VDISK =
    "request={type:AddVirtualDisk, category:VirtualDiskManagement, params:{name:'{1}', size:{unit:'{2}', "
    "value:{3}}, diskType:{4}, scsi3pr:{5}, deduplication:{6}, compressed:{7}, blockSize:{8}, "
    "replicationFactor:{9}, encryption:{10}, description:'{11}', cacheEnabled:false}, sessionId:'{12}'}";
const char* const ZY_KRVN_REST_REQ_RESIZE_VDISK =
    "request={type:ResizeDisks, category:VirtualDiskManagement, params:{virtualDisks:[{1}], size:{unit:'{2}', "
    "value:{3}}}, sessionId:'{4}'}";

const char* const ZY_KRVN_REST_LIST_QUOTE = "'";
const char* const ZY_KRVN_REST_LIST_SEP = ",";
const char* const ZY_KRVN_REST_BOOL_TRUE = "true";
const char* const ZY_KRVN_REST_BOOL_FALSE = "false";
const char* const ZY_KRVN_ERR_UNSAFE_VALUE = "Refusing to send a request with an unsafe value-[";
const char* const ZY_KRVN_UNSAFE_VALUE_SECRET_SHOWN = "******";

// ---- Virtual disk queries ---------------------------------------------------------------------
const char* const ZY_KRVN_REST_GET_ALL_VDISKS_FIELD_DISKS = "disks";
const char* const ZY_KRVN_VDISK_FIELD_IS_CLONE = "isClone";
const char* const ZY_KRVN_VDISK_FIELD_CLUSTERED_FS = "clusteredFileSystem";
const char* const ZY_KRVN_VDISK_FIELD_COMPRESSED = "compressed";
const char* const ZY_KRVN_VDISK_FIELD_DEDUPLICATION = "deduplication";
const char* const ZY_KRVN_VDISK_FIELD_ENCRYPTION = "encryption";
const char* const ZY_KRVN_VDISK_FIELD_SCSI3PR = "scsi3pr";
const char* const ZY_KRVN_VDISK_FIELD_FROZEN = "frozen";
const char* const ZY_KRVN_VDISK_FIELD_BLOCK_SIZE = "blockSize";
const char* const ZY_KRVN_VDISK_FIELD_REPL_FACTOR = "replicationFactor";
const char* const ZY_KRVN_VDISK_FIELD_SCSI_SERIAL = "scsiSerialNumber";
const char* const ZY_KRVN_VDISK_FIELD_CREATED_BY = "createdBy";
const char* const ZY_KRVN_VDISK_FIELD_DISK_TYPE = "diskType";
const char* const ZY_KRVN_VDISK_FIELD_NAME = "vDiskName";
const char* const ZY_KRVN_VDISK_FIELD_REPL_POLICY = "replicationPolicy";
const char* const ZY_KRVN_VDISK_FIELD_STATUS = "status";
const char* const ZY_KRVN_VDISK_FIELD_TENANT = "tenant";
const char* const ZY_KRVN_VDISK_FIELD_FREEZE_REASON = "freezeReason";
const char* const ZY_KRVN_VDISK_FIELD_TARGET_LOCATIONS = "targetLocations";
const char ZY_KRVN_TARGET_LOCATION_PORT_SEP = ':';

const char* const ZY_KRVN_LOG_GET_ALL_VDISKS = "KRVN  Getting details of all vDisks...";
const char* const ZY_KRVN_LOG_GET_ALL_VDISKS_DONE = "KRVN  Getting details of all vDisks... - done";
const char* const ZY_KRVN_LOG_GOT_ALL_VDISKS = "KRVN >>  Got [%zu] vDisk details.";
const char* const ZY_KRVN_ERR_GET_ALL_VDISKS = "Failed to get all vDisk details from the cluster";
const char* const ZY_KRVN_ERR_NO_DISKS_1 = "Invalid REST response. The field-[";
const char* const ZY_KRVN_ERR_NO_DISKS_2 = "] is either not present or empty.";
const char* const ZY_KRVN_LOG_GET_ALL_VDISKS_FAILED = "KRVN  Failed to get all vDisks' details from cluster-[%s]. Error-[%d:%s]";

const char* const ZY_KRVN_LOG_GET_VDISK = "KRVN  Getting vDisk-[%s] details...";
const char* const ZY_KRVN_LOG_GET_VDISK_DONE = "KRVN  Getting vDisk-[%s] details... - done";
const char* const ZY_KRVN_LOG_GOT_VDISK = "KRVN >>  Got vDisk-[%s] details.";
const char* const ZY_KRVN_ERR_GET_VDISK_1 = "Failed to get vDisk-[";
const char* const ZY_KRVN_ERR_GET_VDISK_2 = "] details from the cluster.";

const char* const ZY_KRVN_LOG_GET_VDISK_SSN = "KRVN  Getting vDisk details using SCSI serial-[%s]...";
const char* const ZY_KRVN_LOG_GET_VDISK_SSN_DONE = "KRVN  Getting vDisk details using SCSI serial-[%s]... - done";
const char* const ZY_KRVN_LOG_GOT_VDISK_SSN = "KRVN >>  Got vDisk-[%s] details using SCSI serial-[%s].";
const char* const ZY_KRVN_ERR_GET_VDISK_SSN_1 = "Failed to get vDisk details using SCSI serial-[";
const char* const ZY_KRVN_ERR_GET_VDISK_SSN_2 = "] from the cluster.";

// Cluster sentences recognised in its error messages ({1}: the vDisk name or serial).
const char* const ZY_KRVN_DISK_NOT_FOUND = "Vdisk {1} couldn't be found";
const char* const ZY_KRVN_DISK_MARKED_FOR_DELETE = "VDisk is marked for delete :{1}";
const char* const ZY_KRVN_DISK_SSN_NOT_FOUND = "Unable to find virtual disk with scsi sn: {1}";

// ---- Snapshots and clones ---------------------------------------------------------------------
const char* const ZY_KRVN_REST_CREATE_SNAPS_FIELD_STATUS = "status";
const char* const ZY_KRVN_REST_CREATE_SNAPS_FIELD_NAME = "name";
const char* const ZY_KRVN_REST_CREATE_SNAPS_FIELD_SNAP_NAME = "snapshotName";
const char* const ZY_KRVN_REST_CREATE_SNAPS_FIELD_MESSAGE = "message";
const char* const ZY_KRVN_REST_GET_SNAP_LIST_FIELD_NAME = "name";
const char* const ZY_KRVN_REST_GET_SNAP_LIST_FIELD_DETAILS = "details";
const char* const ZY_KRVN_REST_DELETE_SNAP_FIELD_NAME = "name";
const char* const ZY_KRVN_REST_REVERT_SNAP_FIELD_INIT_NAME = "name";
const char* const ZY_KRVN_REST_GET_SNAP_CLONES_FIELD_NAME = "name";
const char* const ZY_KRVN_REST_CREATE_CLONE_FIELD_NAME = "name";
const char* const ZY_KRVN_REST_CREATE_CLONE_FIELD_STATUS = "status";
const char* const ZY_KRVN_REST_CREATE_CLONE_FIELD_BASE_VDISK = "baseDisk";

const char* const ZY_KRVN_CREATE_SNAP_NO_MORE_DATA = " No more data to read";
const char* const ZY_KRVN_DELETE_SNAP_NOT_EXIST = "Invalid snapshot value entered";
constexpr int ZY_KRVN_CREATE_SNAPS_MAX_ATTEMPTS = 5;

const char* const ZY_KRVN_ERR_CREATE_SNAPS = "Failed to create snapshot(s) of one or more source device(s) on the cluster";
const char* const ZY_KRVN_ERR_GET_SNAP_LIST = "Failed to get snapshot list for source device-[";
const char* const ZY_KRVN_ERR_DELETE_SNAP_1 = "Failed to delete snapshot-[";
const char* const ZY_KRVN_ERR_DELETE_SNAP_2 = "] for source device-[";
const char* const ZY_KRVN_ERR_REVERT_1 = "Failed to revert source vDisk-[";
const char* const ZY_KRVN_ERR_REVERT_2 = "] to snapshot-[";
const char* const ZY_KRVN_ERR_GET_CLONES = "Failed to get clone list for snapshot-[";
const char* const ZY_KRVN_ERR_CREATE_CLONE_1 = "Failed to create clone with name-[";
const char* const ZY_KRVN_ERR_CREATE_CLONE_2 = "] for snapshot-[";

const char* const ZY_KRVN_SNAP_FAIL_ITEM_1 = "device-[";
const char* const ZY_KRVN_SNAP_FAIL_ITEM_2 = "] status-[";
const char* const ZY_KRVN_SNAP_FAIL_ITEM_3 = "] error-[";
const char* const ZY_KRVN_SNAP_FAIL_ITEM_4 = "], ";
constexpr size_t ZY_KRVN_SNAP_FAIL_ITEM_TRAILER_LEN = 2;
const char* const ZY_KRVN_LOG_SNAP_ITEM_FAILED = "KRVN  Snapshot creation failed for device-[%s]. Status-[%s] Error-[%s]";
const char* const ZY_KRVN_ERR_SNAP_CREATION_FAILED = "Snapshot creation failed for : ";

const char* const ZY_KRVN_ERR_DELETE_NAME_1 = "The snapshot name-[";
const char* const ZY_KRVN_ERR_DELETE_NAME_2 = "] in response doesn't match the actual request value-[";
const char* const ZY_KRVN_LOG_DELETE_SUSPICIOUS = "KRVN  Suspicious delete response. Error-[%d:%s]";
const char* const ZY_KRVN_ERR_REVERT_NAME_1 = "Got snapshot name-[";
const char* const ZY_KRVN_ERR_REVERT_NAME_2 = "] is the response - expecting-[";
const char* const ZY_KRVN_ERR_CLONE_FAILED_1 = "Failed to create clone-[";
const char* const ZY_KRVN_ERR_CLONE_FAILED_2 = "] from snapshot-[";

// ---- Targets, LUNs and access -----------------------------------------------------------------
const char* const ZY_KRVN_REST_GET_SCSI_TGT_FIELD_LUN_INFO = "Lun Information";
const char* const ZY_KRVN_REST_GET_SCSI_TGT_FIELD_LUN_ID = "Lun Id";
const char* const ZY_KRVN_REST_GET_SCSI_TGT_FIELD_LUN_TARGET = "Target";
const char* const ZY_KRVN_REST_GET_SCSI_TGT_FIELD_SCSI_SERIAL = "SCSI SN";
const char* const ZY_KRVN_REST_GET_SCSI_TGT_FIELD_ONLINE = "Online";
const char* const ZY_KRVN_REST_GET_SCSI_TGT_VALUE_ONLINE = "Yes";
const char* const ZY_KRVN_REST_ADD_LUN_FIELD_STATUS = "status";
const char* const ZY_KRVN_REST_ADD_LUN_FIELD_NAME = "name";
const char* const ZY_KRVN_REST_ADD_LUN_FIELD_MESSAGE = "message";
const char* const ZY_KRVN_REST_ADD_LUN_FIELD_TARGETS = "targets";
const char* const ZY_KRVN_REST_ADD_LUN_FIELD_TARGET_STATUS = "status";
const char* const ZY_KRVN_REST_ADD_LUN_FIELD_TARGET_NAME = "name";
const char* const ZY_KRVN_REST_ADD_LUN_FIELD_TARGET_MESSAGE = "message";
const char* const ZY_KRVN_REST_ADD_ACCESS_FIELD_STATUS = "status";
const char* const ZY_KRVN_REST_ADD_ACCESS_FIELD_NAME = "name";
const char* const ZY_KRVN_REST_ADD_ACCESS_FIELD_MESSAGE = "message";
const char* const ZY_KRVN_REST_GET_ACCESS_LIST_FIELD_HOST = "host";
const char* const ZY_KRVN_REST_GET_ACCESS_LIST_FIELD_INIT_LIST = "initiator";
const char* const ZY_KRVN_REST_GET_ACCESS_LIST_FIELD_INIT_IP = "ip";
const char* const ZY_KRVN_REST_GET_ACCESS_LIST_FIELD_INIT_NAME = "name";

const char* const ZY_KRVN_LUN_ALREADY_EXPOSED = " is already associated with the host {1}";
const char* const ZY_KRVN_LUN_ALREADY_REMOVED = "vDisk:{1} is currently not mapped to any controllers(s)";

const char* const ZY_KRVN_ERR_GET_TARGETS = "Failed to get SCSI target IQN details for storage proxy-[";
const char* const ZY_KRVN_LOG_GOT_TARGETS = "KRVN >>  Got [%zu] SCSI target IQNs from the cluster..";
const char* const ZY_KRVN_ERR_ADD_LUN_1 = "Failed to expose [";
const char* const ZY_KRVN_ERR_ADD_LUN_2 = "] disks to [";
const char* const ZY_KRVN_ERR_ADD_LUN_3 = "] storage proxies";
const char* const ZY_KRVN_ERR_ADD_ACCESS_1 = "Failed to map [";
const char* const ZY_KRVN_ERR_ADD_ACCESS_2 = "] disks to [";
const char* const ZY_KRVN_ERR_ADD_ACCESS_3 = "] host via [";
const char* const ZY_KRVN_ERR_ADD_ACCESS_4 = "] storage proxy";
const char* const ZY_KRVN_ERR_GET_ACCESS = "Failed to get the access list for disk-[";
const char* const ZY_KRVN_ERR_REMOVE_ACCESS_1 = "Failed to unmap the disk-[";
const char* const ZY_KRVN_ERR_REMOVE_ACCESS_2 = "] from host-[";
const char* const ZY_KRVN_ERR_REMOVE_LUN_1 = "Failed to hide the disk-[";
const char* const ZY_KRVN_ERR_REMOVE_LUN_2 = "] from target-[";

const char* const ZY_KRVN_ERR_EXPOSE_DISK_1 = "Failed to expose the disk-[";
const char* const ZY_KRVN_ERR_EXPOSE_DISK_2 = "] to one or more targets. Error-[";
const char* const ZY_KRVN_ERR_EXPOSE_TARGET_1 = "Expose to storage proxy-[";
const char* const ZY_KRVN_ERR_EXPOSE_TARGET_2 = "] for disk-[";
const char* const ZY_KRVN_ERR_EXPOSE_TARGET_3 = "] failed. Error-[";
const char* const ZY_KRVN_ERR_MAP_DISK_1 = "Mapping disk-[";
const char* const ZY_KRVN_ERR_MAP_DISK_2 = "] to host-[";
const char* const ZY_KRVN_ERR_MAP_DISK_3 = "] via storage proxy-[";
const char* const ZY_KRVN_ERR_MAP_DISK_4 = "] failed. Error-[";

// ---- Disk administration ----------------------------------------------------------------------
const char* const ZY_KRVN_REST_DISK_FIELD_STATUS = "status";
const char* const ZY_KRVN_REST_DISK_FIELD_NAME = "name";
const char* const ZY_KRVN_REST_DISK_FIELD_MESSAGE = "message";
const char* const ZY_KRVN_REST_CLUS_INFO_FIELD_HASH = "clusterNameHash";

const char* const ZY_KRVN_DISK_ALREADY_CREATED = "{1} vDisk has already been created";
const char* const ZY_KRVN_DISK_RESIZE_SHRINK = "Shrinking of virtual disk is not supported";

const char* const ZY_KRVN_ERR_CREATE_DISK_1 = "Failed to create disk-[";
const char* const ZY_KRVN_ERR_CREATE_DISK_2 = "] on the cluster-[";
const char* const ZY_KRVN_ERR_DELETE_DISKS = "Failed to delete one or more disks on the cluster-[";
const char* const ZY_KRVN_ERR_RESIZE_DISK_1 = "Failed to resize disk-[";
const char* const ZY_KRVN_ERR_RESIZE_DISK_2 = "] on the cluster-[";
const char* const ZY_KRVN_ERR_CLUS_INFO = "Failed to get cluster setting info from the cluster-[";

const char* const ZY_KRVN_ERR_DISK_CREATION_1 = "Disk-[";
const char* const ZY_KRVN_ERR_DISK_CREATION_2 = "] creation failed. Error-[";
const char* const ZY_KRVN_LOG_DISK_NOT_FOUND_ON_DELETE = "KRVN >>  Disk-[%s] not found on the cluster. Marking delete as successful..";
const char* const ZY_KRVN_ERR_DISK_DELETION_1 = "Disk-[";
const char* const ZY_KRVN_ERR_DISK_DELETION_2 = "] deletion failed. Error-[";
const char* const ZY_KRVN_ERR_DELETION_SUMMARY_1 = "Deletion for disks-[";
const char* const ZY_KRVN_ERR_DELETION_SUMMARY_2 = "] failed.";
const char* const ZY_KRVN_LOG_RESIZE_SHRINK = "KRVN  The requested size is lesser than current size for disk-[%s]..";
const char* const ZY_KRVN_ERR_RESIZE_FAILED_1 = "Resize for disk-[";
const char* const ZY_KRVN_ERR_RESIZE_FAILED_2 = "] failed. Error-[";
const char* const ZY_KRVN_ERR_NO_CLUSTER_HASH = "Failed to get the cluster name hash from the REST response";

}  // namespace ZYKorvanCommon
