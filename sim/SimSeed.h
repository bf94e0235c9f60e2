// The default seed of korvan-sim: what the command serves without --seed and what the test
// harness starts from.
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

// This machine's host name, as the platform's sim backends name it.
std::string localHostName();

}  // namespace korvansim
