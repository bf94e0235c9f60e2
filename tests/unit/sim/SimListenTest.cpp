// How korvan-sim reads requests, below any route.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "SimHarness.h"

using krvntest::SimHarness;

namespace {

// One request written as is on a fresh connection; the status line of the answer, or "" when
// none came within two seconds (the library's own wait for a body that never comes is five).
std::string statusLine(int port, const std::string& request) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
        pollfd p{fd, POLLIN, 0};
        char buffer[512];
        ssize_t n = ::poll(&p, 1, 2000) == 1 ? ::read(fd, buffer, sizeof buffer) : 0;
        if (n > 0) answer.assign(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return answer.substr(0, answer.find("\r\n"));
}

}  // namespace

// A busy port is in the command-line tests (integration), as korvan-sim reports it.
TEST(SimListen, RequestsWithoutBodyAreAnsweredAtOnce) {
    SimHarness sim(1);
    ASSERT_TRUE(sim.ok()) << sim.error();
    // curl -X POST sends neither Content-Length nor a chunked body.
    for (const char* request :
         {"POST /sim/reset HTTP/1.1\r\nHost: x\r\n\r\n", "DELETE /sim/faults HTTP/1.1\r\nHost: x\r\n\r\n",
          "POST /sim/reset HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n"})
        EXPECT_EQ(statusLine(sim.port(), request), "HTTP/1.1 200 OK") << request;
    EXPECT_EQ(statusLine(sim.port(), "POST /rest/ HTTP/1.1\r\nHost: x\r\n\r\n"), "HTTP/1.1 400 Bad Request")
        << "an empty form has no request field";
}
