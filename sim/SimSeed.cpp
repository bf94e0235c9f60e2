#include "SimSeed.h"

#include <unistd.h>

namespace korvansim {

std::string defaultIqn(const std::string& host) { return "iqn.1994-05.com.redhat:" + host; }

Json defaultSeed(const std::string& host, int vdisks) {
    Json disks = Json::array(), devices = Json::array();
    for (int i = 1; i <= vdisks; ++i) {
        std::string name = "vol" + std::to_string(i);
        disks.push_back({{"name", name}, {"sizeGB", 10}});
        devices.push_back(name);
    }
    return {
        {"cluster",
         {{"name", kDefaultClusterName},
          {"hash", kDefaultClusterHash},
          {"users", {{{"name", kDefaultUser}, {"password", kDefaultPassword}}}}}},
        {"proxies", {kDefaultProxy}},
        {"vdisks", disks},
        {"hosts", {{{"name", host}, {"iqns", {defaultIqn(host)}}, {"wwpns", Json::array()}, {"devices", devices}}}}};
}

Json commandSeed(const std::string& host) {
    Json seed = defaultSeed(host, 1);
    seed["vdisks"][0]["exposures"] = {{{"proxy", kDefaultProxy}, {"initiators", {defaultIqn(host)}}}};
    return seed;
}

std::string localHostName() {
    char name[4096] = {0};
    gethostname(name, sizeof name - 1);
    return name;
}

}  // namespace korvansim
