// What the platform's "sim" backends have cost this process: the SAN stand-ins (device
// INQUIRY through korvan-sim, the iSCSI module's sessions) that take the place of SG_IO and
// iscsiadm. A real host pays those costs in its kernel and in other processes, so a bench
// subtracts them from the plug-in's own CPU time.
//
// Process-wide and thread-safe; counted from the library's load on.
#pragma once

namespace ZyPlatform {

struct SimCallTally {
    long long calls = 0;  // backend calls (a call and the requests it makes count once)
    long long cpuNs = 0;  // CPU time of the calling threads inside those calls
};

SimCallTally simCallTally();

}  // namespace ZyPlatform
