#include "Simulator.h"

#include <cerrno>
#include <chrono>
#include <dirent.h>
#include <httplib.h>
#include <netinet/in.h>
#include <openssl/pem.h>
#include <sys/socket.h>

namespace korvansim {

namespace {

constexpr size_t kWorkers = 16;
// Plenty: a client's keep-alive connection must never be closed for its request count.
constexpr size_t kKeepAliveRequests = 1000000;
constexpr time_t kKeepAliveSec = 3;
constexpr int kStartWaitMs = 2000;
constexpr size_t kMaxRestBody = 32u << 20;
constexpr const char* kJson = "application/json";

// Counts every accepted TCP connection: the server hands each one to its task queue.
class CountingPool : public httplib::ThreadPool {
public:
    CountingPool(size_t n, Counters& counters) : ThreadPool(n), counters_(counters) {}
    void enqueue(std::function<void()> fn) override {
        counters_.connection();
        ThreadPool::enqueue(std::move(fn));
    }

private:
    Counters& counters_;
};

int portOf(const sockaddr_storage& a) {
    if (a.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(a).sin_port);
    if (a.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(a).sin6_port);
    return -1;
}

// A dropped request gets no answer at all: the server's socket of this exchange is shut down
// under httplib, which then fails to write and closes it. The socket is the one whose own
// port and peer port are those of the request.
void shutdownConnection(const httplib::Request& req) {
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) return;
    while (dirent* e = readdir(dir)) {
        int fd = std::atoi(e->d_name);
        sockaddr_storage self{}, peer{};
        socklen_t ls = sizeof self, lp = sizeof peer;
        if (fd <= 2 || getsockname(fd, reinterpret_cast<sockaddr*>(&self), &ls) != 0 ||
            getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &lp) != 0)
            continue;
        if (portOf(self) == req.local_port && portOf(peer) == req.remote_port) {
            shutdown(fd, SHUT_RDWR);
            break;
        }
    }
    closedir(dir);
}

void sendJson(httplib::Response& res, int status, const Json& body) {
    res.status = status;
    res.set_content(jsonText(body), kJson);
}

void sendMessage(httplib::Response& res, int status, const std::string& message) {
    sendJson(res, status, {{"message", message}});
}

void sendSan(httplib::Response& res, const SanStatus& st, const Json& ok) {
    if (st.ok()) sendJson(res, 200, ok);
    else sendMessage(res, st.http, st.message);
}

// The JSON body of a control request, or an answer of 400 and false.
bool jsonBody(const httplib::Request& req, httplib::Response& res, Json& out) {
    out = Json::parse(req.body, nullptr, false);
    if (out.is_discarded() || !out.is_object()) {
        sendMessage(res, 400, "the body must be a JSON object");
        return false;
    }
    return true;
}

// A text member of a control request, or an answer of 400 and false.
bool member(const Json& body, const char* key, httplib::Response& res, std::string& out) {
    auto it = body.find(key);
    if (it == body.end() || !it->is_string()) {
        sendMessage(res, 400, std::string("missing text member [") + key + "]");
        return false;
    }
    out = it->get<std::string>();
    return true;
}

}  // namespace

Simulator::Simulator() : san_(std::make_unique<MemorySan>()), rest_(cluster_, *san_, faults_, counters_) {}

Simulator::~Simulator() { stop(); }

bool Simulator::loadSeed(const Json& seed, std::string& message) {
    std::lock_guard<std::mutex> lock(mutex_);
    Cluster cluster;
    if (!seed.is_object()) {
        message = "the seed must be a JSON object";
        return false;
    }
    auto hosts = seed.find("hosts");
    if (!cluster.load(seed, message) ||
        !san_->load(hosts != seed.end() ? *hosts : Json::array(), cluster, message))
        return false;
    cluster_ = std::move(cluster);
    seed_ = seed;
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

void Simulator::clearFaults() {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.clear();
}

void Simulator::withState(const std::function<void(Cluster&, SanBackend&)>& f) {
    std::lock_guard<std::mutex> lock(mutex_);
    f(cluster_, *san_);
}

RestReply Simulator::rest(const std::string& method, const std::string& body) {
    std::lock_guard<std::mutex> lock(mutex_);
    return rest_.handle(method, body);
}

int Simulator::listenHttp(const std::string& host, int port, std::string& message) {
    return serve(std::make_unique<httplib::Server>(), host, port, message);
}

int Simulator::listenHttps(const std::string& host, int port, const TlsIdentity& identity, std::string& message) {
    BIO* certBio = BIO_new_mem_buf(identity.certPem.data(), static_cast<int>(identity.certPem.size()));
    BIO* keyBio = BIO_new_mem_buf(identity.keyPem.data(), static_cast<int>(identity.keyPem.size()));
    X509* cert = certBio ? PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr) : nullptr;
    EVP_PKEY* key = keyBio ? PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr) : nullptr;
    BIO_free(certBio);
    BIO_free(keyBio);
    int result = -1;
    if (!cert || !key) message = "the certificate or the key is not valid PEM";
    else result = serve(std::make_unique<httplib::SSLServer>(cert, key), host, port, message);
    X509_free(cert);  // the server's context holds its own references
    EVP_PKEY_free(key);
    return result;
}

int Simulator::serve(std::unique_ptr<httplib::Server> server, const std::string& host, int port,
                     std::string& message) {
    if (!server->is_valid()) {
        message = "the server could not be set up (certificate or key refused)";
        return -1;
    }
    server->new_task_queue = [this] { return new CountingPool(kWorkers, counters_); };
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
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto& s : servers_) s->stop();
        threads.swap(threads_);
    }
    for (auto& t : threads) t.join();
    std::lock_guard<std::mutex> lock(mutex_);
    servers_.clear();
}

void Simulator::routes(httplib::Server& server) {
    if (log_)
        server.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
            if (req.path.rfind("/sim/", 0) == 0) log_(req.method + " " + req.path + " " + std::to_string(res.status));
        });
    server.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr ep) {
        std::string what = "unknown";
        try {
            std::rethrow_exception(ep);
        } catch (const std::exception& e) {
            what = e.what();
        } catch (...) {
        }
        sendMessage(res, 500, "internal error: " + what);
    });
    // The cluster service. Bodies are read here, whatever their size: httplib would refuse a
    // form body over 8 KiB with 413 if it parsed the form itself.
    auto restBody = [this](const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& read) {
        std::string body;
        bool tooLarge = false;
        read([&](const char* data, size_t n) {
            if (body.size() + n > kMaxRestBody) tooLarge = true;
            else body.append(data, n);
            return true;
        });
        RestReply reply;
        if (tooLarge) {
            reply.http = 413;
            reply.body = Json{{"status", kStatusError}, {"type", ""}, {"requestId", ""},
                              {"message", "The request body is larger than " + std::to_string(kMaxRestBody) + " bytes"},
                              {"result", Json::object()}}.dump();
        } else {
            reply = rest(req.method, body);
        }
        if (reply.latencyMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(reply.latencyMs));
        if (log_)
            log_(req.method + " " + req.path + " " + (reply.type.empty() ? "-" : reply.type) + " " +
                 (reply.drop ? "dropped" : std::to_string(reply.http)));
        if (reply.drop) return shutdownConnection(req);
        res.status = reply.http;
        res.set_content(reply.body, reply.body.rfind(kNotJsonBody, 0) == 0 ? "text/html" : kJson);
    };
    auto restNoBody = [this](const httplib::Request& req, httplib::Response& res) {
        RestReply reply = rest(req.method, req.body);
        res.status = reply.http;
        res.set_content(reply.body, kJson);
    };
    const char* restPath = "/rest/?";
    server.Post(restPath, restBody);
    server.Put(restPath, restBody);
    server.Patch(restPath, restBody);
    server.Delete(restPath, restBody);
    server.Get(restPath, restNoBody);

    // SAN side: hosts, devices, INQUIRY, iSCSI sessions.
    server.Get(R"(/sim/hosts/([^/]+))", [this](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard<std::mutex> lock(mutex_);
        Json out;
        sendSan(res, san_->host(req.matches[1], out), out);
    });
    server.Get(R"(/sim/hosts/([^/]+)/devices)", [this](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::string> devices;
        SanStatus st = san_->devices(req.matches[1], devices);
        sendSan(res, st, {{"devices", devices}});
    });
    server.Post(R"(/sim/hosts/([^/]+)/rescan)", [this](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard<std::mutex> lock(mutex_);
        counters_.san("rescan");
        std::vector<std::string> devices;
        SanStatus st = san_->rescan(req.matches[1], devices);
        sendSan(res, st, {{"devices", devices}});
    });
    server.Get(R"(/sim/hosts/([^/]+)/inquiry)", [this](const httplib::Request& req, httplib::Response& res) {
        int evpd = 0, page = 0;
        try {
            evpd = std::stoi(req.get_param_value("evpd").empty() ? "0" : req.get_param_value("evpd"), nullptr, 0);
            page = std::stoi(req.get_param_value("page").empty() ? "0" : req.get_param_value("page"), nullptr, 0);
        } catch (const std::exception&) {
            return sendMessage(res, 400, "evpd and page must be numbers");
        }
        std::lock_guard<std::mutex> lock(mutex_);
        counters_.san("inquiry");
        std::string bytes;
        SanStatus st = san_->inquiry(cluster_, req.matches[1], req.get_param_value("path"), evpd != 0, page, bytes);
        if (!st.ok()) return sendMessage(res, st.http, st.message);
        res.set_content(bytes, "application/octet-stream");
    });
    using SanCall = std::function<void(const Json&, const std::string& host, httplib::Response&)>;
    auto iscsi = [this, &server](const char* path, const char* counter, SanCall call) {
        server.Post(path, [this, counter, call](const httplib::Request& req, httplib::Response& res) {
            Json body;
            std::string host;
            if (!jsonBody(req, res, body) || !member(body, "host", res, host)) return;
            std::lock_guard<std::mutex> lock(mutex_);
            counters_.san(counter);
            call(body, host, res);
        });
    };
    iscsi("/sim/iscsi/discover", "discover", [this](const Json& body, const std::string& host, httplib::Response& res) {
        std::string portal;
        std::vector<std::string> targets;
        if (!member(body, "portal", res, portal)) return;
        SanStatus st = san_->discover(cluster_, host, portal, targets);
        sendSan(res, st, {{"targets", targets}});
    });
    iscsi("/sim/iscsi/login", "login", [this](const Json& body, const std::string& host, httplib::Response& res) {
        std::string portal, target, device;
        if (!member(body, "portal", res, portal) || !member(body, "target", res, target)) return;
        SanStatus st = san_->login(cluster_, host, portal, target, device);
        sendSan(res, st, {{"device", device}});
    });
    iscsi("/sim/iscsi/logout", "logout", [this](const Json& body, const std::string& host, httplib::Response& res) {
        std::string portal, target;
        if (member(body, "portal", res, portal) && member(body, "target", res, target))
            sendSan(res, san_->logout(host, portal, target), Json::object());
    });
    server.Get("/sim/iscsi/device", [this](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard<std::mutex> lock(mutex_);
        sendJson(res, 200, {{"device", san_->sessionDevice(req.get_param_value("host"), req.get_param_value("target"))}});
    });

    // Control.
    server.Get("/sim/state", [this](const httplib::Request&, httplib::Response& res) { sendJson(res, 200, state()); });
    server.Get("/sim/counters",
               [this](const httplib::Request&, httplib::Response& res) { sendJson(res, 200, counters()); });
    server.Delete("/sim/counters", [this](const httplib::Request&, httplib::Response& res) {
        std::lock_guard<std::mutex> lock(mutex_);
        counters_.clear();
        sendJson(res, 200, Json::object());
    });
    server.Post("/sim/reset", [this](const httplib::Request&, httplib::Response& res) {
        reset();
        sendJson(res, 200, Json::object());
    });
    server.Post("/sim/seed", [this](const httplib::Request& req, httplib::Response& res) {
        Json seed;
        std::string message;
        if (!jsonBody(req, res, seed)) return;
        if (!loadSeed(seed, message)) return sendMessage(res, 400, message);
        sendJson(res, 200, Json::object());
    });
    server.Post("/sim/faults", [this](const httplib::Request& req, httplib::Response& res) {
        Json faultJson;
        std::string message;
        if (!jsonBody(req, res, faultJson)) return;
        if (!addFault(faultJson, message)) return sendMessage(res, 400, message);
        sendJson(res, 200, Json::object());
    });
    server.Get("/sim/faults", [this](const httplib::Request&, httplib::Response& res) {
        std::lock_guard<std::mutex> lock(mutex_);
        sendJson(res, 200, faults_.dump());
    });
    server.Delete("/sim/faults", [this](const httplib::Request&, httplib::Response& res) {
        clearFaults();
        sendJson(res, 200, Json::object());
    });

    // Changes behind the plug-in's back.
    using AdminCall = std::function<SanStatus(const std::string& name, const Json& body, Json& out)>;
    auto admin = [this, &server](const char* path, const char* key, AdminCall call) {
        server.Post(path, [this, key, call](const httplib::Request& req, httplib::Response& res) {
            Json body, out = Json::object();
            std::string name;
            if (!jsonBody(req, res, body) || !member(body, key, res, name)) return;
            std::lock_guard<std::mutex> lock(mutex_);
            sendSan(res, call(name, body, out), out);
        });
    };
    admin("/sim/admin/deleteVDisk", "name", [this](const std::string& name, const Json&, Json&) {
        return removeVDisk(cluster_, *san_, name) ? SanStatus{}
                                                  : SanStatus::fail(404, fill(sentence::kDiskNotFound, name));
    });
    admin("/sim/admin/deleteSnapshot", "name", [this](const std::string& name, const Json&, Json&) {
        return removeSnapshot(cluster_, name) ? SanStatus{} : SanStatus::fail(404, sentence::kInvalidSnapshot);
    });
    admin("/sim/admin/markForDelete", "name", [this](const std::string& name, const Json&, Json&) {
        VDisk* d = cluster_.find(name);
        if (!d) return SanStatus::fail(404, fill(sentence::kDiskNotFound, name));
        d->markedForDelete = true;
        return SanStatus{};
    });
    admin("/sim/admin/attach", "host", [this](const std::string& host, const Json& body, Json& out) {
        auto vdisk = body.find("vdisk");
        if (vdisk == body.end() || !vdisk->is_string()) return SanStatus::fail(400, "missing text member [vdisk]");
        std::string device;
        SanStatus st = san_->attach(cluster_, host, vdisk->get<std::string>(), device);
        out = {{"device", device}};
        return st;
    });
    admin("/sim/admin/freeze", "name", [this](const std::string& name, const Json& body, Json&) {
        VDisk* d = cluster_.find(name);
        if (!d) return SanStatus::fail(404, fill(sentence::kDiskNotFound, name));
        d->frozen = body.value("frozen", true);
        d->frozenReadsLeft = body.value("reads", 0);
        d->frozenUntilSet = false;
        d->freezeReason = d->frozen ? body.value("reason", std::string(sentence::kFrozenByClone)) : "";
        return SanStatus{};
    });
}

}  // namespace korvansim
