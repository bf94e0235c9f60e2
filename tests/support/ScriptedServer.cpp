#include "ScriptedServer.h"

#include <httplib.h>

#include <cctype>
#include <chrono>

#include "SimNotation.h"

namespace krvntest {

namespace {

constexpr const char* kRequestField = "request";
constexpr size_t kWorkerThreads = 4;

// Every accepted connection becomes one task of the server's queue: counting the tasks counts
// the connections.
class CountingQueue : public httplib::TaskQueue {
public:
    CountingQueue(std::atomic<size_t>& counter) : counter_(counter), pool_(kWorkerThreads) {}
    void enqueue(std::function<void()> fn) override {
        ++counter_;
        pool_.enqueue(std::move(fn));
    }
    void shutdown() override { pool_.shutdown(); }

private:
    std::atomic<size_t>& counter_;
    httplib::ThreadPool pool_;
};

bool lowerEquals(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

}  // namespace

std::string RecordedRequest::header(const std::string& name) const {
    for (const auto& [key, value] : headers) {
        if (lowerEquals(key, name)) return value;
    }
    return std::string();
}

struct ScriptedServer::Impl {
    std::unique_ptr<httplib::Server> server;
};

ScriptedServer::ScriptedServer() : impl_(new Impl) { setDefault(500, ""); }

ScriptedServer::~ScriptedServer() { stop(); }

bool ScriptedServer::start() { return startWith(false, std::string(), std::string()); }

bool ScriptedServer::startHttpsFiles(const std::string& certFile, const std::string& keyFile) {
    return startWith(true, certFile, keyFile);
}

bool ScriptedServer::startWith(bool useTls, const std::string& certFile, const std::string& keyFile) {
    if (impl_->server) return false;
    if (useTls) {
        auto tls = std::make_unique<httplib::SSLServer>(certFile.c_str(), keyFile.c_str());
        if (!tls->is_valid()) return false;
        impl_->server = std::move(tls);
    } else {
        impl_->server = std::make_unique<httplib::Server>();
    }
    https_ = useTls;
    httplib::Server& svr = *impl_->server;
    // Without these, each reused connection stalls about 40 ms and closes after five requests.
    svr.set_tcp_nodelay(true);
    svr.set_keep_alive_max_count(1000);
    svr.new_task_queue = [this] { return new CountingQueue(connections_); };

    // The body is read here rather than by the library, which refuses form bodies over 8 KB.
    auto withBody = [this](const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader) {
        RecordedRequest rec;
        rec.method = req.method;
        rec.path = req.path;
        for (const auto& h : req.headers) rec.headers.emplace(h.first, h.second);
        reader([&rec](const char* data, size_t length) {
            rec.body.append(data, length);
            return true;
        });
        rec.hasRequestField = korvansim::formField(rec.body, kRequestField, rec.request);
        ScriptedReply out = answer(rec);
        if (out.drop) {
            // A declared length that is never delivered: the client sees a broken transfer.
            res.set_content_provider(64, "application/json", [](size_t, size_t, httplib::DataSink&) { return false; });
            return;
        }
        res.status = out.status;
        res.set_content(out.body, out.contentType.c_str());
    };
    auto withoutBody = [withBody](const httplib::Request& req, httplib::Response& res) {
        withBody(
            req, res,
            httplib::ContentReader([](httplib::ContentReceiver) { return true; },
                                   [](httplib::MultipartContentHeader, httplib::ContentReceiver) { return true; }));
    };
    const char* any = ".*";
    svr.Post(any, withBody);
    svr.Put(any, withBody);
    svr.Patch(any, withBody);
    svr.Delete(any, withBody);
    svr.Get(any, withoutBody);

    port_ = svr.bind_to_any_port("127.0.0.1");
    if (port_ <= 0) {
        impl_->server.reset();
        return false;
    }
    auto finished = std::make_shared<std::atomic<bool>>(false);
    thread_ = std::thread([&svr, finished] {
        svr.listen_after_bind();
        *finished = true;
    });
    // stop() before the listener runs would be lost and leave accept() blocked for ever.
    while (!svr.is_running() && !*finished) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return svr.is_running();
}

void ScriptedServer::stop() {
    if (!impl_->server) return;
    impl_->server->stop();
    if (thread_.joinable()) thread_.join();
    impl_->server.reset();
}

ScriptedReply ScriptedServer::answer(const RecordedRequest& request) {
    ReplyFunction fn;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
        if (!queue_.empty()) {
            fn = std::move(queue_.front());
            queue_.pop_front();
        } else {
            fn = default_;
        }
    }
    return fn(request);
}

void ScriptedServer::reply(int status, const std::string& body) {
    ScriptedReply r;
    r.status = status;
    r.body = body;
    reply(r);
}

void ScriptedServer::reply(const ScriptedReply& answer) {
    reply(ReplyFunction([answer](const RecordedRequest&) { return answer; }));
}

void ScriptedServer::reply(ReplyFunction fn) {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(std::move(fn));
}

void ScriptedServer::replyDrop() { reply(ScriptedReply::dropped()); }

void ScriptedServer::setDefault(int status, const std::string& body) {
    ScriptedReply r;
    r.status = status;
    r.body = body;
    setDefault(ReplyFunction([r](const RecordedRequest&) { return r; }));
}

void ScriptedServer::setDefault(ReplyFunction fn) {
    std::lock_guard<std::mutex> lock(mutex_);
    default_ = std::move(fn);
}

std::vector<RecordedRequest> ScriptedServer::requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

size_t ScriptedServer::requestCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_.size();
}

RecordedRequest ScriptedServer::lastRequest() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_.empty() ? RecordedRequest() : requests_.back();
}

void ScriptedServer::clearRequests() {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.clear();
}

size_t ScriptedServer::connectionCount() const { return connections_.load(); }

}  // namespace krvntest
