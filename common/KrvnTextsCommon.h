// Texts of the operation context: its log lines and the sentences it adds to the error state.
#pragma once

namespace ZYKorvanCommon {

inline constexpr char ZY_KRVN_LOG_ARRAY_DETAILS[] = "KRVN >>  %s";
inline constexpr char ZY_KRVN_LOG_REST_DETAILS[] = "KRVN  REST API-<<[%s]>> Request-<<[%s]>> Response-<<[%s]>>";
inline constexpr char ZY_KRVN_LOG_INVALID_REST_ERROR_RESP[] = "KRVN  Invalid REST error response. %s";

inline constexpr char ZY_KRVN_REST_RESP_KEY_MESSAGE[] = "message";
inline constexpr char ZY_KRVN_ERR_MESSAGE_TAG_NOT_FOUND[] = "\"message\" tag not found in REST error response";
inline constexpr char ZY_KRVN_REST_ERROR_SEPARATOR[] = " ";
inline constexpr char ZY_KRVN_FINAL_ERR_CLUSTER_ERRORS[] = "\nErrors returned by cluster-[{1}]";

// A settings file that is not read whole is said once per call: {path, reason} / {path, line}.
inline constexpr char ZY_KRVN_LOG_SETTINGS_UNREADABLE[] =
    "KRVN  The settings file-[%s] cannot be read (%s): every setting takes its default.";
inline constexpr char ZY_KRVN_LOG_SETTINGS_BAD_LINE[] =
    "KRVN  The settings file-[%s] has a line the parser refuses (line %d): that line is ignored, the others are read.";

// Both maps end with it when a device never showed up: {1} devices wanted, {2} found.
inline constexpr char ZY_KRVN_ERR_NOT_ALL_DEVICES[] = "Not all devices are found. Total - [{1}], Found - [{2}]";

}  // namespace ZYKorvanCommon
