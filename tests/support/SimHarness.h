// SimHarness: korvan-sim started in this process for a test, on 127.0.0.1 with a free port
// (HTTP, and HTTPS too when asked), plus a settings file pointing the platform's sim
// backends at it.
//
//   SimHarness sim(2);                       // default seed with vol1, vol2 on this host
//   ASSERT_TRUE(sim.ok()) << sim.error();
//   sim.fault({{"type", "MakeSnapshot"}, {"kind", "drop"}});
//   ... run the plug-in against 127.0.0.1:sim.port() as cluster kClusterName ...
//   EXPECT_EQ(sim.counters()["requests"]["MakeSnapshot"], 1);
//
// The settings written: [Platform] virtualTime=1, deviceBackend=sim, iscsiBackend=sim,
// simulatorUrl=<HTTP url>, and with HTTPS caFile=<the generated certificate>. The simulator
// stops and the settings file goes when the object dies. Links korvan_sim_core.
#pragma once

#include <memory>
#include <string>

#include "ScopedSettings.h"
#include "SimSeed.h"
#include "Simulator.h"

namespace krvntest {

class SimHarness {
public:
    // The default seed with `vdisks` source vDisks attached to this host.
    explicit SimHarness(int vdisks = 1, bool https = false);
    explicit SimHarness(const korvansim::Json& seed, bool https = false);
    ~SimHarness();
    SimHarness(const SimHarness&) = delete;
    SimHarness& operator=(const SimHarness&) = delete;

    bool ok() const { return error_.empty(); }

    // Serves the storage proxies over iSCSI on free ports and points the platform at the real
    // data path: [Platform] iscsiBackend=libiscsi, deviceBackend=libiscsi and iscsiPortals
    // naming each proxy's portal. False (and the reason in error()) when a port cannot be had.
    bool useIscsi();
    const std::string& error() const { return error_; }

    int port() const { return port_; }
    int httpsPort() const { return httpsPort_; }  // -1 without HTTPS
    std::string url() const;                      // http://127.0.0.1:PORT
    const std::string& caFile() const { return caFile_; }

    ScopedSettings& settings() { return settings_; }
    korvansim::Simulator& sim() { return *sim_; }

    // A fresh dump each call, kept in the harness (valid until the next call) so that
    // `sim.state()["hosts"]` in a range-for does not walk a destroyed temporary. One thread
    // only; sim().state() answers any thread.
    korvansim::Json& state() { return lastState_ = sim_->state(); }
    korvansim::Json& counters() { return lastCounters_ = sim_->counters(); }
    // Adds a fault as POST /sim/faults would; false (and the reason in error()) when refused.
    bool fault(const korvansim::Json& faultJson);
    void clearFaults() { sim_->clearFaults(); }
    // One vDisk of the state dump (null when there is none).
    korvansim::Json vdisk(const std::string& name);

    // What the default seed names.
    static std::string hostName() { return korvansim::localHostName(); }
    static std::string iqn() { return korvansim::defaultIqn(hostName()); }
    static korvansim::Json defaultSeed(int vdisks) { return korvansim::defaultSeed(hostName(), vdisks); }

    static constexpr const char* kClusterName = korvansim::kDefaultClusterName;
    static constexpr const char* kClusterHash = korvansim::kDefaultClusterHash;
    static constexpr const char* kUser = korvansim::kDefaultUser;
    static constexpr const char* kPassword = korvansim::kDefaultPassword;
    static constexpr const char* kProxy = korvansim::kDefaultProxy;

private:
    void start(const korvansim::Json& seed, bool https);

    ScopedSettings settings_;
    std::unique_ptr<korvansim::Simulator> sim_;
    int port_ = -1;
    int httpsPort_ = -1;
    std::string caFile_;
    std::string error_;
    korvansim::Json lastState_;
    korvansim::Json lastCounters_;
};

}  // namespace krvntest
