// Texts of the operation context: its log lines and the sentences it adds to the error state.
#pragma once

namespace ZYKorvanCommon {

const char* const ZY_KRVN_LOG_ARRAY_DETAILS = "KRVN >>  %s";
const char* const ZY_KRVN_LOG_REST_DETAILS = "KRVN  REST API-<<[%s]>> Request-<<[%s]>> Response-<<[%s]>>";
const char* const ZY_KRVN_LOG_INVALID_REST_ERROR_RESP = "KRVN  Invalid REST error response. %s";

const char* const ZY_KRVN_REST_RESP_KEY_MESSAGE = "message";
const char* const ZY_KRVN_ERR_MESSAGE_TAG_NOT_FOUND = "\"message\" tag not found in REST error response";
const char* const ZY_KRVN_REST_ERROR_SEPARATOR = " ";
const char* const ZY_KRVN_FINAL_ERR_CLUSTER_ERRORS = "\nErrors returned by cluster-[";
const char* const ZY_KRVN_FINAL_ERR_CLUSTER_ERRORS_END = "]";

}  // namespace ZYKorvanCommon
