// What korvan-host asks a cluster itself, beside the plug-in: the details of one vDisk.
//
// The host needs them to tell a disk the cluster already had from one the plug-in made, and to
// show the size the cluster reports rather than the size asked for. It reaches the cluster's
// REST service as the plug-in does, from the array entry (control host, port, HTTPS, user,
// stored password) through the platform's HTTP client, so the [Platform] TLS and time-out
// settings apply: log in, ask, log out. Works against any cluster, the simulator included.
#pragma once

#include <string>

#include "HostState.h"

namespace KrvnHost {

struct DiskFacts {
    bool exists = false;
    long long sizeBytes = 0;
    long blockSize = 0;
};

// False with *error when the cluster could not be asked or gave no readable answer; a disk the
// cluster does not have is a true answer with exists false.
bool queryDisk(const ArrayEntry& array, const std::string& disk, DiskFacts* facts, std::string* error);

}  // namespace KrvnHost
