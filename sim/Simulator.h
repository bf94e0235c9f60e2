// korvan-sim: the cluster REST service (/rest/) and the control and SAN API (/sim/) over HTTP
// and HTTPS on one shared state.
//
// A Simulator owns the state (cluster, SAN, faults, counters) behind one mutex and any number
// of listening servers, each on its own thread. Every public member is thread-safe. Stopping
// (or destroying) the Simulator stops its servers.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "SimCert.h"
#include "SimData.h"
#include "SimFaults.h"
#include "SimModel.h"
#include "SimRest.h"
#include "SimSan.h"

namespace httplib {
class Server;
}

namespace korvansim::iscsi {
class Server;
class TargetDirectory;
}  // namespace korvansim::iscsi

namespace korvansim {

class Simulator {
public:
    Simulator();
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Replaces the state with the seed and remembers it for reset(). On false nothing changed.
    bool loadSeed(const Json& seed, std::string& message);
    // Back to the last seed: state, faults and counters.
    void reset();
    // The folder of the vDisks' contents (SimData); without a call, a temporary folder removed
    // with the Simulator. Contents start empty, as after every seed.
    bool useDataFolder(const std::string& dir, std::string& message);
    // No contents at all: no image files, and the iSCSI target refuses every login. For runs of
    // the control path over more vDisks than the process may hold open files (one per image).
    void withoutContents();
    std::shared_ptr<Image> diskImage(const std::string& vdisk) const { return data_ ? data_->disk(vdisk) : nullptr; }

    // Listens on host:port (0 picks a free port) and returns the port, or -1 with a message.
    int listenHttp(const std::string& host, int port, std::string& message);
    // HTTPS with the given identity (PEM texts).
    int listenHttps(const std::string& host, int port, const TlsIdentity& identity, std::string& message);
    void stop();

    // Serves iSCSI on `host` for every storage proxy, one port each: with firstPort >= 0 on
    // firstPort, firstPort + 1, ... in seed order (0: free ports); with firstPort < 0 each on
    // its seed "port" when the seed names one, else on a free port. Proxies of later seeds
    // follow. False with a message when a port cannot be bound.
    bool serveIscsi(const std::string& host, int firstPort, std::string& message);
    // Storage proxy -> "address:port" of its iSCSI portal.
    std::map<std::string, std::string> iscsiPortals() const;

    Json state();
    Json counters();
    void clearCounters();
    bool addFault(const Json& faultJson, std::string& message);
    // Also releases every answer a latency fault is holding.
    void clearFaults();
    // True once at least `count` answers are being held by latency faults; false when the time
    // runs out first.
    bool waitForHeld(int count, std::chrono::milliseconds timeout);
    // Runs `f` on the cluster and the SAN under the lock (tests and the control API); the
    // contents follow what `f` changed.
    void withState(const std::function<void(Cluster&, SanBackend&)>& f);
    // One REST exchange without HTTP (the HTTP layer and tests use it alike).
    RestReply rest(const std::string& method, const std::string& body);
    // Receives one line per HTTP request (method, path, REST type, status); never a body, so
    // no password or session id. Set before listening.
    void setRequestLog(std::function<void(const std::string&)> log) { log_ = std::move(log); }
    // Receives every cluster exchange whole: the method, the form body as it came and the
    // answer (the bench replays them). Bodies hold passwords and session ids: never log them.
    // Called on the server's thread after the lock is released. Set before listening.
    using ExchangeLog = std::function<void(const std::string& method, const std::string& body, const RestReply& reply)>;
    void setExchangeLog(ExchangeLog log) { exchangeLog_ = std::move(log); }

private:
    friend class Routes;          // the HTTP route tables (SimRoutes.cpp)
    friend class IscsiDirectory;  // what the iSCSI target asks of the model (SimIscsi.cpp)
    int serve(std::unique_ptr<httplib::Server> server, const std::string& host, int port, bool tls,
              std::string& message);
    void routes(httplib::Server& server);  // in SimRoutes.cpp
    // After every change of the model, under the lock: the contents follow it (only those of
    // the vDisks named, when a list is given), and sessions to targets the cluster withdrew end.
    void modelChanged(const std::vector<std::string>* touched = nullptr);
    // Under the lock: a portal for every proxy, none for a proxy that went.
    bool followProxies(std::string& message);
    // Holds an answer for up to `ms`, or until released (faults cleared, a new seed, stop).
    void holdAnswer(int ms);
    void releaseHeld();  // under the lock

    std::mutex mutex_;
    Json seed_;
    Cluster cluster_;
    std::unique_ptr<SanBackend> san_;
    std::unique_ptr<DataStore> data_;
    std::string dataError_;  // the last failure to make an image, shown in the state dump
    FaultBook faults_;
    Counters counters_;
    std::condition_variable heldChanged_;
    int held_ = 0;                // answers being held now
    unsigned long releases_ = 0;  // bumped to let every held answer go
    RestService rest_;
    std::vector<std::unique_ptr<httplib::Server>> servers_;
    std::vector<std::thread> threads_;
    std::function<void(const std::string&)> log_;
    ExchangeLog exchangeLog_;
    std::unique_ptr<iscsi::TargetDirectory> directory_;
    std::unique_ptr<iscsi::Server> iscsi_;
    std::string iscsiHost_;  // empty until serveIscsi()
    int iscsiFirstPort_ = -1;
};

}  // namespace korvansim
