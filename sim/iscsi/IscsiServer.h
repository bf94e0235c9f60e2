// The network side of korvan-sim's iSCSI target: one listening TCP socket per portal (a
// storage proxy), one thread per connection running a Connection over blocking socket I/O.
//
// Every public member is thread-safe. The directory is called from connection threads and
// must outlive the Server. close() and endSessions() only shut sockets down, so they may be
// called while the caller holds a lock that the directory takes; stop() and the destructor wait
// for every thread and must not be.
#pragma once

#include <atomic>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "IscsiConnection.h"

namespace korvansim::iscsi {

class Server {
public:
    explicit Server(TargetDirectory& directory) : directory_(directory) {}
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Listens for `portal` on host:port (0 picks a free port): the port, or -1 with a message.
    int listen(const std::string& portal, const std::string& host, int port, std::string& message);
    // Stops listening for the portal and ends its connections.
    void close(const std::string& portal);
    void stop();

    struct Session {
        std::string portal;
        std::string initiator;
        std::string target;  // empty for a discovery session
    };
    // The logged-in sessions.
    std::vector<Session> sessions() const;
    // Portal -> "address:port" it listens on.
    std::map<std::string, std::string> portals() const;
    // Ends the sessions `ends` picks (say, those of a target the cluster withdrew).
    void endSessions(const std::function<bool(const Session&)>& ends);

private:
    struct Listener {
        int fd = -1;
        std::string address;
        std::thread thread;
    };
    struct Link {
        int fd = -1;
        Session session;
        bool loggedIn = false;
        std::atomic<bool> done{false};
        std::thread thread;
    };
    void accept(const std::string& portal, int fd);
    void serve(Link& link, std::string address);
    void reap();  // joins the threads of ended connections

    TargetDirectory& directory_;
    mutable std::mutex mutex_;
    std::map<std::string, Listener> listeners_;
    std::list<Link> links_;
    uint16_t nextTsih_ = 1;
};

}  // namespace korvansim::iscsi
