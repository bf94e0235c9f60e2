// Internal to the platform: libcurl's process-wide set-up, shared by both of the platform's
// HTTP users (ZYLibCurl and the simulator client), so that it runs once, before any handle.
#pragma once

namespace ZyPlatform {

// Runs curl_global_init on the first call only, whichever thread makes it; every call answers
// whether it succeeded.
bool curlGlobalReady();

}  // namespace ZyPlatform
