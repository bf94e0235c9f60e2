// Texts and settings of the HTTP transport and of its configuration by the session.
#pragma once

namespace ZYKorvanCommon {

// Configuration the session hands to the transport's setters.
inline constexpr char ZY_KRVN_REST_API_BASE_EP[] = "rest";
inline constexpr char ZY_KRVN_REST_HDR_CONTENT_TYPE[] = "Content-Type: application/x-www-form-urlencoded";
inline constexpr char ZY_KRVN_REST_USER_AGENT[] = "User-Agent: ZySnapKorvan";
inline constexpr char ZY_KRVN_REST_CONNECTION_HTTP[] = "http";
inline constexpr char ZY_KRVN_REST_CONNECTION_HTTPS[] = "https";
inline constexpr char ZY_KRVN_SERVER_PORT_SEP[] = ":";

// Transport.
inline constexpr char ZY_KRVN_REST_HDR_ACCEPT_JSON[] = "Accept: application/json";
inline constexpr long ZY_KRVN_REST_HTTP_RESP_401 = 401;
inline constexpr char ZY_KRVN_REST_URL_SCHEME_SEP[] = "://";
inline constexpr char ZY_KRVN_REST_URL_PATH_SEP[] = "/";
// Every cluster body is one form field; only its value is percent-encoded.
inline constexpr char ZY_KRVN_REST_FORM_FIELD_PREFIX[] = "request=";

inline constexpr char ZY_KRVN_REST_AUTH_FAILED[] =
    "Authentication failed. Please check whether correct credentials are provided";

inline constexpr char ZY_KRVN_LOG_REST_URL[] = "KRVN  Computed URL-[%s] to send the request.";
inline constexpr char ZY_KRVN_LOG_REST_HDR_ACCEPT_FAILED[] = "KRVN  Failed to set CURL HTTPHEADER header - accept.";
inline constexpr char ZY_KRVN_LOG_REST_INIT_FAILED[] = "KRVN  KRVN  Failed to initialize CURL library.";
inline constexpr char ZY_KRVN_LOG_REST_NOT_CONNECTED[] =
    "KRVN  Error: Connect module has to be called before making any queries.";
inline constexpr char ZY_KRVN_LOG_REST_UNSUPPORTED_KIND[] = "KRVN  Unsupported request type [%d]";
inline constexpr char ZY_KRVN_LOG_REST_SEND_FAILED[] =
    "KRVN  Error while processing the request. URL-[ %s ] Request-[ %s ]";
inline constexpr char ZY_KRVN_LOG_REST_EMPTY_RESPONSE[] =
    "KRVN  Empty response received for request. URL-[ %s ] Request-[ %s ]";
inline constexpr char ZY_KRVN_LOG_REST_RESPONSE[] = "KRVN  Response for URL-[ %s ] Request-[ %s ] : <<%s>>";
inline constexpr char ZY_KRVN_LOG_REST_BUDGET_REACHED[] =
    "KRVN  The requests and answers of this call have filled [%zu] bytes of the log: from here on each is logged "
    "cut at [%zu] bytes.";

}  // namespace ZYKorvanCommon
