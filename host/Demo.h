// korvan-host demo: the whole life cycle of the plug-in against a freshly started simulator.
//
// Starts korvan-sim on a free port with a generated seed (one cluster, one user, one storage
// proxy, this machine as a host with an iSCSI initiator, three source vDisks attached to it),
// writes a settings file for the plug-in and the platform stand-ins into a temporary
// directory, checks device support over fixture devices, then runs every snapshot and
// provisioning operation through the real plug-in, printing each step with its duration and
// the statuses it gave. The result is 0 only when every step gave the expected statuses. The
// temporary directory (settings, plug-in log, simulator log, job state) is removed at the end,
// unless the options keep it or a step failed: then it is left for reading.
#pragma once

#include <ostream>
#include <string>

namespace KrvnHost {

struct DemoOptions {
    std::string simPath;     // korvan-sim; empty: next to the running executable
    std::string pluginPath;  // empty: the default plug-in path
    bool verbose = false;
    bool virtualTime = false;  // the plug-in's fixed waits cost nothing (tests)
    bool keep = false;         // leave the temporary directory even when every step passed
};

int runDemo(const DemoOptions& options, std::ostream& out);

}  // namespace KrvnHost
