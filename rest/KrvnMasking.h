// KrvnMasking: what every text that leaves the plug-in goes through before a log line or a
// final error text shows it.
//
// The transport owns it because the transport is the first to log a request; everything
// above the transport (the context, the session, the frame) uses the same rule. Pure
// functions on their arguments: safe from any thread.
#pragma once

#include <cstddef>
#include <string>

namespace ZYKorvanCommon {

inline constexpr char ZY_KRVN_MASK_VAL_KEY_SESS_ID[] = "sessionId";
inline constexpr char ZY_KRVN_MASK_VAL_KEY_PSWD[] = "password";

// A request or answer in a log line: at most this many bytes, then a note of the full length.
inline constexpr size_t ZY_KRVN_LOG_TEXT_LIMIT = 64 * 1024;
// What the requests and answers of one entry call may fill in the log before each further one
// is cut much shorter: a call over thousands of items re-reads tables that grow with the items,
// and whole dumps of those would grow the log with items x table rows. The head of every text
// is still logged, with its full length; an exchange that failed is logged whole all the same.
inline constexpr size_t ZY_KRVN_LOG_CALL_BUDGET = 1024 * 1024;
inline constexpr size_t ZY_KRVN_LOG_TEXT_LIMIT_PAST_BUDGET = 256;
// Text of the cluster's inside a final error text the host stores and shows.
inline constexpr size_t ZY_KRVN_ERROR_TEXT_LIMIT = 4096;

// The value after every "sessionId" and "password" becomes asterisks, length kept. A quoted
// value (single or double quotes; a double-quoted one may hold backslash escapes) is masked
// whole, quotes included, whatever it holds; an unquoted one up to the next "," (or, when
// none follows, the next "}"), or to the end of the text. A quote that never closes masks
// to the end of the text.
void maskSecrets(const std::string& in, std::string& out);

// The first `limit` bytes of `in`, masked; when `in` is longer, followed by "... [N bytes]"
// with N its whole length. The part cut away is never copied.
std::string maskedForLog(const std::string& in, size_t limit = ZY_KRVN_LOG_TEXT_LIMIT);

// The first `limit` bytes of `in`, masked, followed by "..." when cut.
std::string maskedForError(const std::string& in, size_t limit = ZY_KRVN_ERROR_TEXT_LIMIT);

}  // namespace ZYKorvanCommon
