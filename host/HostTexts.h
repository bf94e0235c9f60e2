// Names and texts of the host stand-in, in one place.
#pragma once

namespace KrvnHost {

// The vendor under which Array Management files Korvan clusters; the plug-in lists arrays by it.
inline constexpr const char* kKorvanVendor = "Pellart Distributed Storage";
// The iSCSI module, loaded by its bare name as the plug-in loads it.
inline constexpr const char* kIscsiModuleName = "libZyISCSI.so";
inline constexpr const char* kIscsiModuleEntry = "GetInstance";

// Snapshot configuration keys of an array entry.
inline constexpr const char* kCfgDiagnosticLogging = "SMCONFIG_NAME_ENABLE_DIAGNOSTIC_LOGGING";
inline constexpr const char* kCfgRetryCount = "SMCONFIG_NAME_SNAP_OP_RETRY_COUNT";
inline constexpr const char* kCfgRetryInterval = "SMCONFIG_NAME_SNAP_OP_RETRY_INTERVAL_IN_SEC";
inline constexpr const char* kCfgSecureConnection = "SMCONFIG_NAME_USE_SECURE_CONNECTION";
inline constexpr const char* kCfgServerPort = "SMCONFIG_NAME_SERVER_PORT";
inline constexpr const char* kCfgStorageProxyList = "SMCONFIG_STORAGE_PROXY_LIST_KEY";
// How a configuration list travels as one text through LUNInfo::getConfigValue.
inline constexpr const char* kConfigListDelimiter = "|:|";

// Members of the array details text handed out by getArrayDetailsByName.
inline constexpr const char* kDetailsArrayName = "arrayName:";
inline constexpr const char* kDetailsArrayNumber = ",arrayNumber:";
inline constexpr const char* kDetailsVendor = ",vendor:";
inline constexpr const char* kDetailsHostName = ",hostName:";
inline constexpr const char* kDetailsHostUserName = ",hostUserName:";
inline constexpr const char* kDetailsHostPassword = ",hostPassword:";
inline constexpr const char* kDetailsSerial = ",serial:";

// The cluster's REST service as korvan-host reaches it for its own questions (ClusterQuery):
// the plug-in's defaults and request forms, each value single-quoted without escapes.
inline constexpr int kRestPortHttp = 8080;
inline constexpr int kRestPortHttps = 8443;
inline constexpr const char* kRestPath = "/rest/";
inline constexpr const char* kRestContentType = "Content-Type: application/x-www-form-urlencoded";
inline constexpr const char* kRestLogin =
    "{type:Login, category:UserManagement, params:{userName:'{user}', password:'{password}', cluster:'{cluster}'}}";
inline constexpr const char* kRestDiskDetails =
    "{type:VirtualDiskDetails, category:VirtualDiskManagement, params:{virtualDisk:'{disk}'}, sessionId:'{session}'}";
inline constexpr const char* kRestLogout = "{type:Logout, category:UserManagement, sessionId:'{session}'}";
// The cluster's answer to a detail query of a disk it does not have ends with this.
inline constexpr const char* kRestDiskNotFound = "couldn't be found";

// Block sizes the plug-in hands to the cluster; any other becomes the first fallback.
inline constexpr long kClusterBlockSizes[] = {512, 4096, 65536};
inline constexpr long kPluginBlockSizeFallback = 4096;

// The plug-in's prepare failure when no array entry is tied to a device's cluster serial; the
// serial follows up to "]".
inline constexpr const char* kPluginArrayNotFound = "Array details not found in Array Management for [";
// The [Ovelin] setting that names a cluster's serial for an array entry, by name.
inline constexpr const char* kSettingClusterUniqueId = "sZYKorvanClusterUniqueId_";

// Request flag of a snapshot item: the mount clone is a test clone named by clone number.
inline constexpr unsigned kFlagTestClone = 0x8000;

// Metadata keys the plug-in keeps on snapshot items.
inline constexpr int kMetaSnapshot = 6;
inline constexpr int kMetaClone = 149;

// Linux host paths of the real (non-simulated) OS utility.
inline constexpr const char* kIscsiInitiatorFile = "/etc/iscsi/initiatorname.iscsi";
inline constexpr const char* kIscsiInitiatorKey = "InitiatorName=";
inline constexpr const char* kFcHostDir = "/sys/class/fc_host";
inline constexpr const char* kBlockDir = "/sys/block";
inline constexpr const char* kScsiHostDir = "/sys/class/scsi_host";
inline constexpr const char* kScsiScanAll = "- - -";

// Settings of the platform stand-ins that the host reads too.
inline constexpr const char* kPlatformIscsiBackend = "iscsiBackend";
inline constexpr const char* kPlatformSimulatorUrl = "simulatorUrl";
inline constexpr const char* kPlatformLogFile = "logFile";

// Status values of snapshot items (0 is the host's own: never handed to the plug-in).
enum SnapStatusValue : int {
    kSnapNew = 0,
    kSnapPrepared = 1,
    kSnapPrepareFailed = 2,
    kSnapCreated = 5,
    kSnapCreateFailed = 6,
    kSnapNotMapped = 11,
    kSnapMapped = 12,
    kSnapUnmapped = 14,
    kSnapUnmapFailed = 15,
    kSnapDeleted = 20,
    kSnapDeleteFailed = 21,
    kSnapReverted = 22,
    kSnapRevertFailed = 23,
    kSnapGoneFromArray = 24,
};

// Status values of provisioning items (-1 is the host's own: never handed to the plug-in).
enum LunStatusValue : short {
    kLunNew = -1,
    kLunCreated = 0,
    kLunCreateFailed = 1,
    kLunResized = 2,
    kLunResizeFailed = 3,
    kLunMapped = 9,
    kLunMapFailed = 11,
    kLunUnmapped = 14,
    kLunUnmapFailed = 15,
    kLunDeleted = 20,
    kLunDeleteFailed = 21,
};

// The map information of a provisioning map: this host stand-in maps over iSCSI from Linux.
inline constexpr const char* kMapProtocolIscsi = "3";
inline constexpr const char* kMapHostOs = "Linux";

// Names of the item status values, for tables.
const char* snapStatusName(int status);
const char* lunStatusName(int status);

}  // namespace KrvnHost
