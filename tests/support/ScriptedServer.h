// ScriptedServer: a local HTTP or HTTPS server that plays the cluster's REST service from a
// script, for unit tests of the REST client and of both engines.
//
//   ScriptedServer srv;
//   srv.start();                                   // or srv.startHttpsFiles(cert, key)
//   srv.reply(200, R"({"status":"ok", ...})");     // answers are used in order
//   ... drive the plug-in against 127.0.0.1:srv.port() ...
//   srv.requests()[0].request                      // the decoded "request=" value
//
// Every request is recorded (method, path, headers, raw body, the form-decoded value of
// "request="). Answers come from a FIFO queue of scripted replies; once it is empty the default
// reply is used (500 with an empty body unless setDefault() says otherwise). A reply may be a
// function of the request, or a dropped connection (a transport failure for the client).
// The server counts the TCP connections it accepted. Thread-safe; stop() (or the destructor)
// shuts it down.
#pragma once

#include <atomic>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace krvntest {

struct RecordedRequest {
    std::string method;
    std::string path;
    std::multimap<std::string, std::string> headers;
    std::string body;     // as received
    std::string request;  // the value of the "request" form field, form-decoded
    bool hasRequestField = false;

    // First value of a header (case-insensitive name), "" when absent.
    std::string header(const std::string& name) const;
};

struct ScriptedReply {
    int status = 200;
    std::string body;
    std::string contentType = "application/json";
    bool drop = false;  // close the connection without a complete answer

    static ScriptedReply dropped() {
        ScriptedReply r;
        r.drop = true;
        return r;
    }
};

using ReplyFunction = std::function<ScriptedReply(const RecordedRequest&)>;

class ScriptedServer {
public:
    ScriptedServer();
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    // Listens on 127.0.0.1 at a free port. False when the server could not start.
    bool start();
    // The same over TLS from PEM files (TestCert::shared().certFile(), keyFile()).
    bool startHttpsFiles(const std::string& certFile, const std::string& keyFile);
    void stop();

    int port() const { return port_; }
    bool https() const { return https_; }

    // Scripted answers, used once each in the order given.
    void reply(int status, const std::string& body);
    void reply(const ScriptedReply& answer);
    void reply(ReplyFunction fn);
    void replyDrop();
    // The answer once the queue is empty.
    void setDefault(int status, const std::string& body);
    void setDefault(ReplyFunction fn);

    std::vector<RecordedRequest> requests() const;
    size_t requestCount() const;
    RecordedRequest lastRequest() const;
    void clearRequests();
    size_t connectionCount() const;

private:
    struct Impl;
    bool startWith(bool useTls, const std::string& certFile, const std::string& keyFile);
    ScriptedReply answer(const RecordedRequest& request);

    std::unique_ptr<Impl> impl_;
    mutable std::mutex mutex_;
    std::deque<ReplyFunction> queue_;
    ReplyFunction default_;
    std::vector<RecordedRequest> requests_;
    std::atomic<size_t> connections_{0};
    std::thread thread_;
    int port_ = 0;
    bool https_ = false;
};

}  // namespace krvntest
