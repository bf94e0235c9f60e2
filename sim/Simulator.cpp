#include "Simulator.h"

#include "IscsiServer.h"

#include <httplib.h>
#include <cerrno>
#include <chrono>

namespace korvansim {

namespace {

constexpr size_t kWorkers = 16;
// Plenty: a client's keep-alive connection must never be closed for its request count.
constexpr size_t kKeepAliveRequests = 1000000;
constexpr time_t kKeepAliveSec = 3;
constexpr int kStartWaitMs = 2000;

// Counts every accepted TCP connection: the server hands each one to its task queue.
class CountingPool : public httplib::ThreadPool {
public:
    CountingPool(size_t n, Counters& counters, bool tls) : ThreadPool(n), counters_(counters), tls_(tls) {}
    void enqueue(std::function<void()> fn) override {
        counters_.connection(tls_);
        ThreadPool::enqueue(std::move(fn));
    }

private:
    Counters& counters_;
    bool tls_;
};

}  // namespace

Simulator::Simulator() : san_(std::make_unique<MemorySan>()), rest_(cluster_, *san_, faults_, counters_) {
    std::string message;
    useDataFolder("", message);
}

bool Simulator::useDataFolder(const std::string& dir, std::string& message) {
    auto data = std::make_unique<DataStore>();
    if (!data->open(dir, message)) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    data_ = std::move(data);
    modelChanged();
    return true;
}

void Simulator::withoutContents() {
    std::lock_guard<std::mutex> lock(mutex_);
    data_.reset();
}

Simulator::~Simulator() { stop(); }

bool Simulator::loadSeed(const Json& seed, std::string& message) {
    std::lock_guard<std::mutex> lock(mutex_);
    Cluster cluster;
    if (!seed.is_object()) {
        message = "the seed must be a JSON object";
        return false;
    }
    auto hosts = seed.find("hosts");
    if (!cluster.load(seed, message) || !san_->load(hosts != seed.end() ? *hosts : Json::array(), cluster, message))
        return false;
    cluster_ = std::move(cluster);
    seed_ = seed;
    releaseHeld();
    if (data_) data_->clear();
    dataError_.clear();
    modelChanged();
    std::string portalError;
    followProxies(portalError);  // a port that cannot be had shows as a proxy without portal
    faults_.clear();
    counters_.clear();
    return true;
}

void Simulator::reset() {
    Json seed;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        seed = seed_;
    }
    std::string ignored;
    loadSeed(seed, ignored);
}

Json Simulator::state() {
    std::lock_guard<std::mutex> lock(mutex_);
    Json out = cluster_.dump();
    out["hosts"] = san_->dump();
    out["faults"] = faults_.dump();
    out["data"] = {{"folder", data_ ? data_->dir() : std::string()}, {"error", dataError_}};
    out["held"] = held_;
    out["iscsi"] = {{"portals", iscsiPortals()}, {"sessions", Json::array()}};
    if (iscsi_)
        for (const auto& s : iscsi_->sessions())
            out["iscsi"]["sessions"].push_back(
                {{"portal", s.portal}, {"initiator", s.initiator}, {"target", s.target}});
    return out;
}

Json Simulator::counters() {
    std::lock_guard<std::mutex> lock(mutex_);
    return counters_.dump();
}

bool Simulator::addFault(const Json& faultJson, std::string& message) {
    std::lock_guard<std::mutex> lock(mutex_);
    return faults_.add(faultJson, message);
}

void Simulator::clearCounters() {
    std::lock_guard<std::mutex> lock(mutex_);
    counters_.clear();
}

void Simulator::clearFaults() {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.clear();
    releaseHeld();
}

bool Simulator::waitForHeld(int count, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return heldChanged_.wait_for(lock, timeout, [&] { return held_ >= count; });
}

void Simulator::holdAnswer(int ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    const unsigned long from = releases_;
    ++held_;
    heldChanged_.notify_all();
    heldChanged_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return releases_ != from; });
    --held_;
    heldChanged_.notify_all();
}

void Simulator::releaseHeld() {
    ++releases_;
    heldChanged_.notify_all();
}

void Simulator::withState(const std::function<void(Cluster&, SanBackend&)>& f) {
    std::lock_guard<std::mutex> lock(mutex_);
    f(cluster_, *san_);
    cluster_.reindex();
    modelChanged();
}

RestReply Simulator::rest(const std::string& method, const std::string& body) {
    std::lock_guard<std::mutex> lock(mutex_);
    RestReply reply = rest_.handle(method, body);
    // Only the vDisks a change named are brought in line: walking every image after every
    // request makes a large cluster quadratic.
    if (reply.changed) modelChanged(&reply.touched);
    return reply;
}

int Simulator::listenHttp(const std::string& host, int port, std::string& message) {
    return serve(std::make_unique<httplib::Server>(), host, port, false, message);
}

int Simulator::listenHttps(const std::string& host, int port, const TlsIdentity& identity, std::string& message) {
    auto server = makeHttpsServer(identity, message);
    return server ? serve(std::move(server), host, port, true, message) : -1;
}

int Simulator::serve(std::unique_ptr<httplib::Server> server, const std::string& host, int port, bool tls,
                     std::string& message) {
    if (!server->is_valid()) {
        message = "the server could not be set up (certificate or key refused)";
        return -1;
    }
    server->new_task_queue = [this, tls] { return new CountingPool(kWorkers, counters_, tls); };
    server->set_tcp_nodelay(true);
    server->set_keep_alive_max_count(kKeepAliveRequests);
    server->set_keep_alive_timeout(kKeepAliveSec);
    // The library's default adds SO_REUSEPORT, with which a second simulator on a busy port
    // starts and silently shares it; SO_REUSEADDR alone only allows a restart over TIME_WAIT.
    server->set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    // A request with neither Content-Length nor chunked encoding has no body (RFC 9112 6.3);
    // the library would wait for the connection to close instead, then answer 400.
    server->set_pre_routing_handler([](const httplib::Request& req, httplib::Response&) {
        if (!req.has_header("Content-Length") && !req.has_header("Transfer-Encoding"))
            const_cast<httplib::Request&>(req).headers.emplace("Content-Length", "0");
        return httplib::Server::HandlerResponse::Unhandled;
    });
    routes(*server);
    errno = 0;
    int bound = port == 0 ? server->bind_to_any_port(host) : (server->bind_to_port(host, port) ? port : -1);
    if (bound < 0) {
        message = errno == EADDRINUSE ? "port " + std::to_string(port) + " is in use"
                                      : "cannot listen on " + host + ":" + std::to_string(port);
        return -1;
    }
    httplib::Server* raw = server.get();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        servers_.push_back(std::move(server));
        threads_.emplace_back([raw] { raw->listen_after_bind(); });
    }
    // The server's stop() reaches only a server already running: without this wait a quick
    // stop() leaves the thread accepting for ever and stop()'s join hanging.
    for (int waited = 0; !raw->is_running() && waited < kStartWaitMs; ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return bound;
}

void Simulator::stop() {
    // Without the lock: connection threads may be waiting for it.
    if (iscsi_) iscsi_->stop();
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        releaseHeld();  // a held answer would keep its worker, and so the join below, waiting
        for (auto& s : servers_) s->stop();
        threads.swap(threads_);
    }
    for (auto& t : threads) t.join();
    std::lock_guard<std::mutex> lock(mutex_);
    servers_.clear();
}

}  // namespace korvansim
