#include "IscsiServer.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace korvansim::iscsi {

namespace {

constexpr int kBacklog = 16;
constexpr size_t kReceiveBuffer = 1u << 20;

// "ip:port" of a socket's own end.
std::string localAddress(int fd) {
    sockaddr_storage a{};
    socklen_t length = sizeof a;
    char host[INET6_ADDRSTRLEN] = {0};
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) != 0) return "";
    if (a.ss_family == AF_INET6) {
        const auto& in6 = reinterpret_cast<const sockaddr_in6&>(a);
        inet_ntop(AF_INET6, &in6.sin6_addr, host, sizeof host);
        return "[" + std::string(host) + "]:" + std::to_string(ntohs(in6.sin6_port));
    }
    const auto& in4 = reinterpret_cast<const sockaddr_in&>(a);
    inet_ntop(AF_INET, &in4.sin_addr, host, sizeof host);
    return std::string(host) + ":" + std::to_string(ntohs(in4.sin_port));
}

bool sendAll(int fd, const std::string& bytes) {
    for (size_t sent = 0; sent < bytes.size();) {
        ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

int bindTo(const std::string& host, int port, std::string& message) {
    addrinfo hints{}, *found = nullptr;
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found) {
        message = "cannot resolve [" + host + "]";
        return -1;
    }
    int fd = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    if (fd >= 0) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (fd < 0 || ::bind(fd, found->ai_addr, found->ai_addrlen) != 0 || ::listen(fd, kBacklog) != 0) {
        message = "cannot listen on " + host + ":" + std::to_string(port) + ": " + std::strerror(errno);
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    freeaddrinfo(found);
    return fd;
}

}  // namespace

Server::~Server() { stop(); }

int Server::listen(const std::string& portal, const std::string& host, int port, std::string& message) {
    int fd = bindTo(host, port, message);
    if (fd < 0) return -1;
    std::string address = localAddress(fd);
    std::lock_guard<std::mutex> lock(mutex_);
    if (listeners_.count(portal)) {
        ::close(fd);
        message = "portal [" + portal + "] is already listening";
        return -1;
    }
    Listener& l = listeners_[portal];
    l.fd = fd;
    l.address = address;
    l.thread = std::thread([this, portal, fd] { accept(portal, fd); });
    return std::stoi(address.substr(address.rfind(':') + 1));
}

void Server::accept(const std::string& portal, int listenFd) {
    for (;;) {
        int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0 && (errno == EINTR || errno == ECONNABORTED)) continue;
        if (fd < 0) return;  // shut down by close() or stop()
        int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        reap();
        std::lock_guard<std::mutex> lock(mutex_);
        Link& link = links_.emplace_back();
        link.fd = fd;
        link.session.portal = portal;
        uint16_t tsih = nextTsih_++;
        if (nextTsih_ == 0) nextTsih_ = 1;
        link.thread = std::thread([this, &link, tsih, address = localAddress(fd)] {
            Connection connection(directory_, link.session.portal, address, tsih);
            std::vector<char> buffer(kReceiveBuffer);
            std::string out;
            for (;;) {
                ssize_t n = ::recv(link.fd, buffer.data(), buffer.size(), 0);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) break;
                out.clear();
                bool open = connection.receive(buffer.data(), static_cast<size_t>(n), out);
                if (!sendAll(link.fd, out)) break;
                if (connection.loggedIn() && !link.loggedIn) {
                    std::lock_guard<std::mutex> lock(mutex_);
                    link.session.initiator = connection.initiator();
                    link.session.target = connection.target();
                    link.loggedIn = true;
                }
                if (!open) break;
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                ::shutdown(link.fd, SHUT_RDWR);
                ::close(link.fd);
                link.fd = -1;
                link.loggedIn = false;
            }
            link.done = true;
        });
    }
}

void Server::reap() {
    std::list<Link> ended;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = links_.begin(); it != links_.end();) {
            auto next = std::next(it);
            if (it->done) ended.splice(ended.end(), links_, it);
            it = next;
        }
    }
    for (Link& l : ended) l.thread.join();
}

void Server::close(const std::string& portal) {
    Listener listener;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = listeners_.find(portal);
        if (it == listeners_.end()) return;
        listener = std::move(it->second);
        listeners_.erase(it);
        ::shutdown(listener.fd, SHUT_RDWR);
        for (Link& l : links_)
            if (l.session.portal == portal && l.fd >= 0) ::shutdown(l.fd, SHUT_RDWR);
    }
    listener.thread.join();
    ::close(listener.fd);
}

void Server::stop() {
    std::vector<std::string> portals;
    for (const auto& [portal, address] : this->portals()) portals.push_back(portal);
    for (const auto& p : portals) close(p);
    std::list<Link> all;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (Link& l : links_)
            if (l.fd >= 0) ::shutdown(l.fd, SHUT_RDWR);
        all.splice(all.end(), links_);
    }
    for (Link& l : all) l.thread.join();
}

std::vector<Server::Session> Server::sessions() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Session> out;
    for (const Link& l : links_)
        if (l.loggedIn) out.push_back(l.session);
    return out;
}

std::map<std::string, std::string> Server::portals() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::map<std::string, std::string> out;
    for (const auto& [portal, l] : listeners_) out[portal] = l.address;
    return out;
}

void Server::endSessions(const std::function<bool(const Session&)>& ends) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Link& l : links_)
        if (l.loggedIn && l.fd >= 0 && ends(l.session)) ::shutdown(l.fd, SHUT_RDWR);
}

}  // namespace korvansim::iscsi
