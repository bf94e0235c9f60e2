#include "SimHarness.h"

#include <unistd.h>
#include <cstdio>
#include <fstream>

namespace krvntest {

namespace {
constexpr const char* kLoopback = "127.0.0.1";
}

SimHarness::SimHarness(int vdisks, bool https) { start(defaultSeed(vdisks), https); }

SimHarness::SimHarness(const korvansim::Json& seed, bool https) { start(seed, https); }

SimHarness::~SimHarness() {
    if (sim_) sim_->stop();
    if (!caFile_.empty()) std::remove(caFile_.c_str());
}

void SimHarness::start(const korvansim::Json& seed, bool https) {
    sim_ = std::make_unique<korvansim::Simulator>();
    if (!sim_->loadSeed(seed, error_)) return;
    port_ = sim_->listenHttp(kLoopback, 0, error_);
    if (port_ < 0) return;
    settings_.set("Platform", "deviceBackend", "sim");
    settings_.set("Platform", "iscsiBackend", "sim");
    settings_.set("Platform", "simulatorUrl", url());
    if (!https) return;
    korvansim::TlsIdentity identity;
    if (!korvansim::generateSelfSigned(identity, error_)) return;
    char path[] = "/tmp/krvn-sim-ca-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) {
        error_ = "cannot create the CA file";
        return;
    }
    close(fd);
    caFile_ = path;
    std::ofstream(caFile_, std::ios::trunc) << identity.certPem;
    httpsPort_ = sim_->listenHttps(kLoopback, 0, identity, error_);
    if (httpsPort_ >= 0) settings_.set("Platform", "caFile", caFile_);
}

std::string SimHarness::url() const { return std::string("http://") + kLoopback + ":" + std::to_string(port_); }

bool SimHarness::useIscsi() {
    if (!sim_->serveIscsi(kLoopback, 0, error_)) return false;
    std::string portals;
    for (const auto& [proxy, address] : sim_->iscsiPortals())
        portals += (portals.empty() ? "" : ",") + proxy + "=" + address;
    settings_.set("Platform", "iscsiBackend", "libiscsi");
    settings_.set("Platform", "deviceBackend", "libiscsi");
    settings_.set("Platform", "iscsiPortals", portals);
    return true;
}

bool SimHarness::fault(const korvansim::Json& faultJson) { return sim_->addFault(faultJson, error_); }

korvansim::Json SimHarness::vdisk(const std::string& name) {
    for (const auto& d : state()["vdisks"])
        if (d["name"] == name) return d;
    return nullptr;
}

}  // namespace krvntest
