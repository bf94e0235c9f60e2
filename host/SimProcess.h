// A korvan-sim child process for the demo: started on a free port, stopped with SIGTERM.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace KrvnHost {

class SimProcess {
public:
    SimProcess() = default;
    ~SimProcess() { stop(); }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Runs `program --port 0 --seed seedFile`, its standard error into logFile, and waits (at
    // most timeoutSec) for its "listening on URL" line. False with *error otherwise.
    bool start(const std::string& program, const std::string& seedFile, const std::string& logFile, int timeoutSec,
               std::string* error);
    void stop();
    const std::string& url() const { return url_; }
    int pid() const { return pid_; }

    // One control call (POST with a JSON body, or GET when body is null); the JSON answer.
    bool control(const std::string& path, const nlohmann::json& body, nlohmann::json* out, std::string* error) const;

private:
    int pid_ = -1;
    int out_ = -1;  // read end of the child's standard output, kept open so it never gets SIGPIPE
    std::string url_;
};

}  // namespace KrvnHost
