// Texts of the iSCSI and host-device family of KrvnCommonUtils: the module's names, every log
// line and every error sentence, byte for byte as the host's support staff read them.
#pragma once

namespace ZYKorvanCommon {

// The module and its one export.
inline constexpr char ZY_KRVN_ZYISCSI_LIBRARY_NAME_UNIX[] = "libZyISCSI.so";
inline constexpr char ZY_KRVN_ZYISCSI_LIB_GET_INST_FUNC[] = "GetInstance";

// Loading, written through the platform's short-lived event logger.
inline constexpr char ZY_KRVN_ISCSI_EVENT_PREFIX[] = "KRVN  ";
inline constexpr char ZY_KRVN_ISCSI_LOAD_FAILED[] = "Failed to load ZyiSCSI library. Error[%s]";
inline constexpr char ZY_KRVN_ISCSI_NO_GET_INSTANCE[] = "Failed to get address of 'GetInstance' function.";

inline constexpr char ZY_KRVN_ISCSI_INIT[] = "KRVN  Initializing iSCSI library...";
inline constexpr char ZY_KRVN_ISCSI_INIT_DONE[] = "KRVN  Initializing iSCSI library... - done";
inline constexpr char ZY_KRVN_ISCSI_INIT_FAILED_TEXT[] = "Failed to load ZyiSCSI library for iSCSI target logon.";
inline constexpr char ZY_KRVN_ISCSI_INIT_FAILED_LOG[] = "KRVN  Error-[%d:%s]";

// Logging in.
inline constexpr unsigned int ZY_KRVN_ISCSI_PRE_LOGIN_WAIT_MS = 3000;
inline constexpr char ZY_KRVN_ISCSI_LOGIN_RETRY[] =
    "KRVN  Not able to do iSCSI logon for target [%s] - will reattempt if retries are not exhausted...";
inline constexpr char ZY_KRVN_ISCSI_LOGIN_DONE[] = "KRVN >>  iSCSI logon done for target [%s]";
inline constexpr char ZY_KRVN_ISCSI_LOGIN_FAILED[] =
    "Not able to do iSCSI logon for targets after repeated attempts ({1} times) and hence failing the operation.";
inline constexpr char ZY_KRVN_ISCSI_LOGIN_FAILED_LOG[] = "KRVN  iSCSI logon operation failed. Err-[%d:%s]";

// Logging out.
inline constexpr char ZY_KRVN_ISCSI_LOGOUT[] = "KRVN  Try iSCSI target logout...";
inline constexpr char ZY_KRVN_ISCSI_LOGOUT_DONE[] = "KRVN  Try iSCSI target logout... - done";
inline constexpr char ZY_KRVN_ISCSI_LOGOUT_RETRY[] =
    "KRVN  Failed to check whether snapshot target [%s] is logged on or not - retrying further";

// The host: name, devices, bus rescan.
inline constexpr char ZY_KRVN_HOST_OP_FAILED_LOG[] = "KRVN  Host operation failed - Error-[%d:%s]";
inline constexpr char ZY_KRVN_HOST_NAME_FAILED[] = "Failed to get local host name. Error-[{1}]";
inline constexpr char ZY_KRVN_DEVICE_LIST[] = "KRVN  Getting list of devices available for host-[%s]...";
inline constexpr char ZY_KRVN_DEVICE_LIST_DONE[] = "KRVN  Getting list of devices available for host-[%s]... - done";
inline constexpr char ZY_KRVN_DEVICE_LIST_COUNT[] = "KRVN >>  Devices [count=%zu] available after mapping.";
inline constexpr char ZY_KRVN_DEVICE_LIST_FAILED[] = "Failed to get device list for host [{1}].";
inline constexpr char ZY_KRVN_REFRESH_BUS[] = "KRVN  Refreshing system bus for host [%s]...";
inline constexpr char ZY_KRVN_REFRESH_BUS_DONE[] = "KRVN  Refreshing system bus for host [%s]... - done";
inline constexpr char ZY_KRVN_REFRESH_BUS_DETAILS[] = "KRVN  Refreshing bus : initiators-[%s] devices-[%s]";
inline constexpr char ZY_KRVN_ISCSI_BANNER[] = "KRVN  ************************************************************";
inline constexpr char ZY_KRVN_ISCSI_LIST_JOIN[] = ", ";

}  // namespace ZYKorvanCommon
