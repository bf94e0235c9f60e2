// The seeds korvan-sim starts from: the command's own when it is given no --seed, and the
// plainer default that the test harness and the demo build on.
#pragma once

#include <string>

#include "SimModel.h"

namespace korvansim {

inline constexpr const char* kDefaultClusterName = "krvn-cluster";
inline constexpr const char* kDefaultClusterHash = "0x1a2b3c4d5e6f70";
inline constexpr const char* kDefaultUser = "admin";
inline constexpr const char* kDefaultPassword = "secret";
inline constexpr const char* kDefaultProxy = "sp1";

// The IQN the default seed gives a host.
std::string defaultIqn(const std::string& host);

// Cluster "krvn-cluster" (user admin/secret), storage proxy "sp1", and `host` with one IQN
// and `vdisks` source vDisks "vol1".."volN" attached as its devices.
Json defaultSeed(const std::string& host, int vdisks);

// What korvan-sim serves without --seed: the default seed with one vDisk, "vol1", which is
// also exposed on the storage proxy to the host's initiator, as a source disk the host reaches
// over iSCSI is on a real cluster (revert logs the host out of its target and back in).
Json commandSeed(const std::string& host);

// This machine's host name, as the platform's sim backends name it.
std::string localHostName();

}  // namespace korvansim
