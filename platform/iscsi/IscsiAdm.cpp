// The "iscsiadm" iSCSI backend: open-iscsi's command, run with fork and exec.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>

#include <sstream>

#include "IscsiBackends.h"

namespace ZyIscsi {

namespace {

constexpr const char* kIscsiadm = "iscsiadm";
constexpr int kErrSessionExists = 15;  // iscsiadm: already logged in
constexpr int kErrNoSessions = 21;     // iscsiadm: no session to list or log out

int iscsiadm(std::vector<std::string> args, std::string& output) {
    args.insert(args.begin(), kIscsiadm);
    return runProgram(args, output);
}

}  // namespace

int runProgram(const std::vector<std::string>& argv, std::string& output) {
    output.clear();
    int pipeFds[2];
    if (argv.empty() || pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = fork();
    if (pid < 0) {
        close(pipeFds[0]);
        close(pipeFds[1]);
        return -1;
    }
    if (pid == 0) {
        int devNull = open("/dev/null", O_RDWR);
        dup2(devNull, STDIN_FILENO);
        dup2(devNull, STDERR_FILENO);
        dup2(pipeFds[1], STDOUT_FILENO);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(pipeFds[1]);
    char buf[4096];
    ssize_t n;
    while ((n = read(pipeFds[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0) output.append(buf, static_cast<size_t>(n));
    close(pipeFds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int AdmIscsi::discoverPortal(const char* portal) {
    std::string out;
    return portal ? iscsiadm({"-m", "discovery", "-t", "sendtargets", "-p", portal}, out) : -1;
}

bool AdmIscsi::login(const char* portal, const char* targetIqn) {
    std::string out;
    if (!portal || !targetIqn) return false;
    int rc = iscsiadm({"-m", "node", "-T", targetIqn, "-p", portal, "--login"}, out);
    return rc == 0 || rc == kErrSessionExists;
}

bool AdmIscsi::logout(const char* portal, const char* targetIqn) {
    std::string out;
    return portal && targetIqn && iscsiadm({"-m", "node", "-T", targetIqn, "-p", portal, "--logout"}, out) == 0;
}

bool AdmIscsi::getTargetDevice(const char* targetIqn, char* buffer, unsigned long long* length) {
    std::string out;
    if (!targetIqn) return false;
    int rc = iscsiadm({"-m", "session", "-P", "3"}, out);
    if (rc == kErrNoSessions) return true;
    if (rc != 0) return false;
    std::string device = deviceOfTarget(out, targetIqn);
    return device.empty() || giveDevice(device, buffer, length);
}

std::string AdmIscsi::deviceOfTarget(const std::string& sessionText, const std::string& targetIqn) {
    // "Target: <iqn> (non-flash)" opens a session block; its LUNs follow as
    // "Attached scsi disk sdb          State: running".
    std::istringstream in(sessionText);
    std::string line;
    bool inTarget = false;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string first, second;
        words >> first;
        if (first == "Target:") {
            words >> second;
            inTarget = second == targetIqn;
        } else if (inTarget && first == "Attached") {
            std::string scsi, disk, name;
            words >> scsi >> disk >> name;
            if (scsi == "scsi" && disk == "disk" && !name.empty()) return "/dev/" + name;
        }
    }
    return {};
}

}  // namespace ZyIscsi
