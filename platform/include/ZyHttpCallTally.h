// What the platform's HTTP client has cost this process: the CPU time of the calling threads
// inside ZYLibCurlSendHttpReq (libcurl, TLS and the kernel's share on that thread). A bench
// tells the plug-in's own work from its HTTP exchanges with it.
//
// Off until switched on: it reads the thread's CPU clock, a system call, twice per request.
// Process-wide and thread-safe.
#pragma once

namespace ZyPlatform {

struct HttpCallTally {
    long long calls = 0;  // requests sent while on
    long long cpuNs = 0;  // CPU time of the calling threads inside them
};

void setHttpCallTally(bool on);
HttpCallTally httpCallTally();

}  // namespace ZyPlatform
