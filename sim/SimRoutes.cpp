// The HTTP routes of korvan-sim, one short table per service: the cluster REST service
// (/rest/), the simulated SAN (/sim/hosts/, /sim/iscsi/) and administration (state, seed,
// faults, counters, and changes behind the plug-in's back under /sim/admin/). A row is a
// method, a path pattern and a handler; each handler takes the Simulator's lock itself.
#include <dirent.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>

#include "Simulator.h"

namespace korvansim {

namespace {

using Request = httplib::Request;
using Response = httplib::Response;

constexpr size_t kMaxRestBody = 32u << 20;
constexpr char kJson[] = "application/json";
constexpr char kRestPath[] = "/rest/?";
constexpr char kHostPath[] = R"(/sim/hosts/([^/]+))";

// The reply `make` gives, with the time it took (the bench replays answers at that pace).
template <class Make>
RestReply timedReply(Make make) {
    const auto start = std::chrono::steady_clock::now();
    RestReply reply = make();
    reply.serviceUs = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
    return reply;
}

int portOf(const sockaddr_storage& a) {
    if (a.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(a).sin_port);
    if (a.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(a).sin6_port);
    return -1;
}

// A dropped request gets no answer at all: the server's socket of this exchange is shut down
// under httplib, which then fails to write and closes it. The socket is the one whose own
// port and peer port are those of the request.
void shutdownConnection(const Request& req) {
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

void sendJson(Response& res, int status, const Json& body) {
    res.status = status;
    res.set_content(jsonText(body), kJson);
}

void sendMessage(Response& res, int status, const std::string& message) {
    sendJson(res, status, {{"message", message}});
}

void sendSan(Response& res, const SanStatus& st, const Json& ok) {
    if (st.ok())
        sendJson(res, 200, ok);
    else
        sendMessage(res, st.http, st.message);
}

// The JSON object body of a control request, or an answer of 400 and false.
bool jsonBody(const Request& req, Response& res, Json& out) {
    out = Json::parse(req.body, nullptr, false);
    if (out.is_discarded() || !out.is_object()) {
        sendMessage(res, 400, "the body must be a JSON object");
        return false;
    }
    return true;
}

// Text members of a control request, or an answer of 400 and false.
bool members(const Json& body, std::initializer_list<std::pair<const char*, std::string*>> wanted, Response& res) {
    for (const auto& [key, out] : wanted) {
        auto it = body.find(key);
        if (it == body.end() || !it->is_string()) {
            sendMessage(res, 400, std::string("missing text member [") + key + "]");
            return false;
        }
        *out = it->get<std::string>();
    }
    return true;
}

int numberParam(const Request& req, const char* key) {
    const std::string text = req.get_param_value(key);
    return std::stoi(text.empty() ? "0" : text, nullptr, 0);
}

RestReply tooLarge() {
    RestReply reply;
    reply.http = 413;
    reply.body = jsonText({{"status", kStatusError},
                           {"type", ""},
                           {"requestId", ""},
                           {"message", "The request body is larger than " + std::to_string(kMaxRestBody) + " bytes"},
                           {"result", Json::object()}});
    return reply;
}

}  // namespace

// Friend of Simulator: the route tables and their handlers.
class Routes {
public:
    using Handler = void (*)(Simulator&, const Request&, Response&);
    struct Row {
        const char* method;
        const char* path;
        Handler handler;
    };

    static void install(Simulator& sim, httplib::Server& server) {
        logAndCatch(sim, server);
        cluster(sim, server);
        for (const auto* table : {&san(), &administration()})
            for (const Row& row : *table) add(sim, server, row);
    }

private:
    static void add(Simulator& sim, httplib::Server& server, const Row& row) {
        auto handler = [&sim, h = row.handler](const Request& req, Response& res) { h(sim, req, res); };
        const std::string method = row.method;
        if (method == "GET")
            server.Get(row.path, handler);
        else if (method == "POST")
            server.Post(row.path, handler);
        else if (method == "DELETE")
            server.Delete(row.path, handler);
    }

    static void logAndCatch(Simulator& sim, httplib::Server& server) {
        if (sim.log_)
            server.set_logger([&sim](const Request& req, const Response& res) {
                if (req.path.rfind("/sim/", 0) == 0)
                    sim.log_(req.method + " " + req.path + " " + std::to_string(res.status));
            });
        server.set_exception_handler([](const Request&, Response& res, std::exception_ptr ep) {
            std::string what = "unknown";
            try {
                std::rethrow_exception(ep);
            } catch (const std::exception& e) {
                what = e.what();
            } catch (...) {
            }
            sendMessage(res, 500, "internal error: " + what);
        });
    }

    // The cluster service takes a form body by any method. Bodies are read here, whatever
    // their size: httplib would refuse a form body over 8 KiB with 413 if it parsed the form.
    static void cluster(Simulator& sim, httplib::Server& server) {
        auto withBody = [&sim](const Request& req, Response& res, const httplib::ContentReader& read) {
            std::string body;
            bool over = false;
            read([&](const char* data, size_t n) {
                if (body.size() + n > kMaxRestBody)
                    over = true;
                else
                    body.append(data, n);
                return true;
            });
            RestReply reply = timedReply([&] { return over ? tooLarge() : sim.rest(req.method, body); });
            if (sim.exchangeLog_) sim.exchangeLog_(req.method, body, reply);
            answerRest(sim, req, res, reply);
        };
        auto withoutBody = [&sim](const Request& req, Response& res) {
            RestReply reply = timedReply([&] { return sim.rest(req.method, req.body); });
            if (sim.exchangeLog_) sim.exchangeLog_(req.method, req.body, reply);
            answerRest(sim, req, res, reply);
        };
        server.Post(kRestPath, withBody);
        server.Put(kRestPath, withBody);
        server.Patch(kRestPath, withBody);
        server.Delete(kRestPath, withBody);
        server.Get(kRestPath, withoutBody);
    }

    static void answerRest(Simulator& sim, const Request& req, Response& res, const RestReply& reply) {
        if (reply.latencyMs > 0) sim.holdAnswer(reply.latencyMs);
        if (sim.log_)
            sim.log_(req.method + " " + req.path + " " + (reply.type.empty() ? "-" : reply.type) + " " +
                     (reply.drop ? "dropped" : std::to_string(reply.http)));
        if (reply.drop) return shutdownConnection(req);
        res.status = reply.http;
        res.set_content(reply.body, reply.body.rfind(kNotJsonBody, 0) == 0 ? "text/html" : kJson);
    }

    // ---- simulated SAN ----------------------------------------------------------------------

    static const std::vector<Row>& san() {
        static const std::vector<Row> rows = {
            {"GET", kHostPath, hostInfo},
            {"GET", R"(/sim/hosts/([^/]+)/devices)", hostDevices},
            {"POST", R"(/sim/hosts/([^/]+)/rescan)", rescan},
            {"GET", R"(/sim/hosts/([^/]+)/inquiry)", inquiry},
            {"POST", "/sim/iscsi/discover", discover},
            {"POST", "/sim/iscsi/login", login},
            {"POST", "/sim/iscsi/logout", logout},
            {"GET", "/sim/iscsi/device", sessionDevice},
        };
        return rows;
    }

    static void hostInfo(Simulator& sim, const Request& req, Response& res) {
        std::lock_guard<std::mutex> lock(sim.mutex_);
        Json out;
        sendSan(res, sim.san_->host(req.matches[1], out), out);
    }

    static void hostDevices(Simulator& sim, const Request& req, Response& res) {
        std::lock_guard<std::mutex> lock(sim.mutex_);
        std::vector<std::string> devices;
        SanStatus st = sim.san_->devices(req.matches[1], devices);
        sendSan(res, st, {{"devices", devices}});
    }

    static void rescan(Simulator& sim, const Request& req, Response& res) {
        std::lock_guard<std::mutex> lock(sim.mutex_);
        sim.counters_.san("rescan");
        std::vector<std::string> devices;
        SanStatus st = sim.san_->rescan(req.matches[1], devices);
        sendSan(res, st, {{"devices", devices}});
    }

    static void inquiry(Simulator& sim, const Request& req, Response& res) {
        int evpd = 0, page = 0;
        try {
            evpd = numberParam(req, "evpd");
            page = numberParam(req, "page");
        } catch (const std::exception&) {
            return sendMessage(res, 400, "evpd and page must be numbers");
        }
        std::lock_guard<std::mutex> lock(sim.mutex_);
        sim.counters_.san("inquiry");
        std::string bytes;
        SanStatus st =
            sim.san_->inquiry(sim.cluster_, req.matches[1], req.get_param_value("path"), evpd != 0, page, bytes);
        if (!st.ok()) return sendMessage(res, st.http, st.message);
        res.set_content(bytes, "application/octet-stream");
    }

    // A SAN call with a JSON body naming the host and the given members; counted once its
    // request is well formed.
    static bool sanCall(Simulator& sim, const Request& req, Response& res, const char* counter, std::string& host,
                        std::string& portal, std::string* target) {
        Json body;
        if (!jsonBody(req, res, body) || !members(body, {{"host", &host}, {"portal", &portal}}, res) ||
            (target && !members(body, {{"target", target}}, res)))
            return false;
        sim.counters_.san(counter);
        return true;
    }

    static void discover(Simulator& sim, const Request& req, Response& res) {
        std::lock_guard<std::mutex> lock(sim.mutex_);
        std::string host, portal;
        std::vector<std::string> targets;
        if (!sanCall(sim, req, res, "discover", host, portal, nullptr)) return;
        SanStatus st = sim.san_->discover(sim.cluster_, host, portal, targets);
        sendSan(res, st, {{"targets", targets}});
    }

    static void login(Simulator& sim, const Request& req, Response& res) {
        std::lock_guard<std::mutex> lock(sim.mutex_);
        std::string host, portal, target, device;
        if (!sanCall(sim, req, res, "login", host, portal, &target)) return;
        SanStatus st = sim.san_->login(sim.cluster_, host, portal, target, device);
        sendSan(res, st, {{"device", device}});
    }

    static void logout(Simulator& sim, const Request& req, Response& res) {
        std::lock_guard<std::mutex> lock(sim.mutex_);
        std::string host, portal, target;
        if (sanCall(sim, req, res, "logout", host, portal, &target))
            sendSan(res, sim.san_->logout(host, portal, target), Json::object());
    }

    static void sessionDevice(Simulator& sim, const Request& req, Response& res) {
        std::lock_guard<std::mutex> lock(sim.mutex_);
        sendJson(res, 200,
                 {{"device", sim.san_->sessionDevice(req.get_param_value("host"), req.get_param_value("target"))}});
    }

    // ---- administration ---------------------------------------------------------------------

    static const std::vector<Row>& administration() {
        static const std::vector<Row> rows = {
            {"GET", "/sim/state",
             [](Simulator& sim, const Request&, Response& res) { sendJson(res, 200, sim.state()); }},
            {"GET", "/sim/counters",
             [](Simulator& sim, const Request&, Response& res) { sendJson(res, 200, sim.counters()); }},
            {"DELETE", "/sim/counters", clearCounters},
            {"POST", "/sim/reset",
             [](Simulator& sim, const Request&, Response& res) { sim.reset(), sendJson(res, 200, Json::object()); }},
            {"POST", "/sim/seed", seed},
            {"POST", "/sim/faults", addFault},
            {"GET", "/sim/faults", listFaults},
            {"DELETE", "/sim/faults",
             [](Simulator& sim, const Request&, Response& res) {
                 sim.clearFaults(), sendJson(res, 200, Json::object());
             }},
            {"POST", "/sim/admin/deleteVDisk", deleteVDisk},
            {"POST", "/sim/admin/deleteSnapshot", deleteSnapshot},
            {"POST", "/sim/admin/markForDelete", markForDelete},
            {"POST", "/sim/admin/attach", attach},
            {"POST", "/sim/admin/freeze", freeze},
        };
        return rows;
    }

    static void clearCounters(Simulator& sim, const Request&, Response& res) {
        std::lock_guard<std::mutex> lock(sim.mutex_);
        sim.counters_.clear();
        sendJson(res, 200, Json::object());
    }

    static void seed(Simulator& sim, const Request& req, Response& res) {
        Json body;
        std::string message;
        if (!jsonBody(req, res, body)) return;
        if (!sim.loadSeed(body, message)) return sendMessage(res, 400, message);
        sendJson(res, 200, Json::object());
    }

    static void addFault(Simulator& sim, const Request& req, Response& res) {
        Json body;
        std::string message;
        if (!jsonBody(req, res, body)) return;
        if (!sim.addFault(body, message)) return sendMessage(res, 400, message);
        sendJson(res, 200, Json::object());
    }

    static void listFaults(Simulator& sim, const Request&, Response& res) {
        std::lock_guard<std::mutex> lock(sim.mutex_);
        sendJson(res, 200, sim.faults_.dump());
    }

    // A change behind the plug-in's back: a JSON body with a `key` member, the change made
    // under the lock, its outcome answered.
    template <class Change>
    static void adminCall(Simulator& sim, const Request& req, Response& res, const char* key, Change change) {
        Json body, out = Json::object();
        std::string name;
        if (!jsonBody(req, res, body) || !members(body, {{key, &name}}, res)) return;
        std::lock_guard<std::mutex> lock(sim.mutex_);
        sendSan(res, change(name, body, out), out);
        sim.modelChanged();
    }

    static void deleteVDisk(Simulator& sim, const Request& req, Response& res) {
        adminCall(sim, req, res, "name", [&](const std::string& name, const Json&, Json&) {
            return removeVDisk(sim.cluster_, *sim.san_, name)
                       ? SanStatus{}
                       : SanStatus::fail(404, fill(sentence::kDiskNotFound, name));
        });
    }

    static void deleteSnapshot(Simulator& sim, const Request& req, Response& res) {
        adminCall(sim, req, res, "name", [&](const std::string& name, const Json&, Json&) {
            return removeSnapshot(sim.cluster_, name) ? SanStatus{} : SanStatus::fail(404, sentence::kInvalidSnapshot);
        });
    }

    static void markForDelete(Simulator& sim, const Request& req, Response& res) {
        adminCall(sim, req, res, "name", [&](const std::string& name, const Json&, Json&) {
            VDisk* d = sim.cluster_.find(name);
            if (!d) return SanStatus::fail(404, fill(sentence::kDiskNotFound, name));
            d->markedForDelete = true;
            return SanStatus{};
        });
    }

    static void attach(Simulator& sim, const Request& req, Response& res) {
        adminCall(sim, req, res, "host", [&](const std::string& host, const Json& body, Json& out) {
            auto vdisk = body.find("vdisk");
            if (vdisk == body.end() || !vdisk->is_string()) return SanStatus::fail(400, "missing text member [vdisk]");
            std::string device;
            SanStatus st = sim.san_->attach(sim.cluster_, host, vdisk->get<std::string>(), device);
            out = {{"device", device}};
            return st;
        });
    }

    static void freeze(Simulator& sim, const Request& req, Response& res) {
        adminCall(sim, req, res, "name", [&](const std::string& name, const Json& body, Json&) {
            VDisk* d = sim.cluster_.find(name);
            if (!d) return SanStatus::fail(404, fill(sentence::kDiskNotFound, name));
            d->frozen = body.value("frozen", true);
            d->frozenReadsLeft = body.value("reads", 0);
            d->frozenUntilSet = false;
            d->freezeReason = d->frozen ? body.value("reason", std::string(sentence::kFrozenByClone)) : "";
            return SanStatus{};
        });
    }
};

void Simulator::routes(httplib::Server& server) { Routes::install(*this, server); }

}  // namespace korvansim
