#include "SimProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <thread>

#include "HostSystem.h"

namespace KrvnHost {

namespace {

const char* const kListeningPrefix = "listening on ";

// Reads one line from fd, giving up at the deadline.
bool readLine(int fd, std::chrono::steady_clock::time_point deadline, std::string* line) {
    line->clear();
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{fd, POLLIN, 0};
        int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        char c;
        ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        if (c == '\n') return true;
        *line += c;
    }
}

}  // namespace

bool SimProcess::start(const std::string& program, const std::string& seedFile, const std::string& logFile,
                       int timeoutSec, std::string* error) {
    if (::access(program.c_str(), X_OK) != 0) {
        *error = "cannot run the simulator " + program + ": " + std::strerror(errno);
        return false;
    }
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        *error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    int log = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    pid_t pid = ::fork();
    if (pid < 0) {
        *error = std::string("fork: ") + std::strerror(errno);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        if (log >= 0) ::close(log);
        return false;
    }
    if (pid == 0) {
        ::dup2(pipeFds[1], STDOUT_FILENO);
        if (log >= 0) ::dup2(log, STDERR_FILENO);
        const char* argv[] = {program.c_str(), "--port", "0", "--seed", seedFile.c_str(), nullptr};
        ::execv(program.c_str(), const_cast<char* const*>(argv));
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    if (log >= 0) ::close(log);
    pid_ = pid;
    out_ = pipeFds[0];
    std::string line;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSec);
    if (!readLine(out_, deadline, &line) || line.compare(0, std::strlen(kListeningPrefix), kListeningPrefix) != 0) {
        *error = "the simulator did not report its address (first line: \"" + line + "\"; see " + logFile + ")";
        stop();
        return false;
    }
    url_ = line.substr(std::strlen(kListeningPrefix));
    return true;
}

void SimProcess::stop() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        for (int i = 0; i < 50; ++i) {
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            pid_ = -1;
        }
    }
    if (out_ >= 0) {
        ::close(out_);
        out_ = -1;
    }
}

bool SimProcess::control(const std::string& path, const nlohmann::json& body, nlohmann::json* out,
                         std::string* error) const {
    return simRequest(url_, path, body, out, error);
}

}  // namespace KrvnHost
