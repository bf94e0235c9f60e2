// korvan-sim: a Korvan cluster simulator on 127.0.0.1 (see sim/README.md).
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "SimCert.h"
#include "SimSeed.h"
#include "Simulator.h"

namespace {

const char* kUsage =
    "usage: korvan-sim [--seed FILE] [--host ADDR] [--port N] [--https [--cert FILE --key FILE] "
    "[--write-ca FILE]] [--data DIR] [--iscsi-port N | --no-iscsi] [--quiet]\n"
    "  --seed FILE      state to start from (JSON); default: cluster krvn-cluster with vol1 attached to\n"
    "                   this host and exposed to it on storage proxy sp1\n"
    "  --host ADDR      address to listen on (default 127.0.0.1)\n"
    "  --port N         port (default 8080; 0 picks a free one)\n"
    "  --https          serve HTTPS, with a generated certificate unless --cert and --key are given\n"
    "  --write-ca FILE  write the certificate in use (PEM) for clients to trust\n"
    "  --data DIR       folder of the vDisks' contents (default: a temporary folder removed at exit)\n"
    "  --iscsi-port N   iSCSI portals of the storage proxies on ports N, N+1, ... (0: free ports;\n"
    "                   default: a proxy's seed \"port\" if the seed names one, else a free port)\n"
    "  --no-iscsi       no iSCSI target\n"
    "  --quiet          no request log on stderr\n"
    "The first line on stdout is \"listening on http[s]://ADDR:PORT\", then one line\n"
    "\"iscsi PROXY ADDR:PORT\" per storage proxy.\n";

bool readFile(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream text;
    text << in.rdbuf();
    out = text.str();
    return true;
}

int fail(const std::string& message) {
    std::cerr << "korvan-sim: " << message << "\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string seedFile, host = "127.0.0.1", certFile, keyFile, caOut, dataDir;
    int port = 8080, iscsiPort = -1;
    bool https = false, quiet = false, iscsi = true;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&](std::string& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        std::string value;
        if (a == "--seed" && next(seedFile)) continue;
        if (a == "--host" && next(host)) continue;
        if (a == "--cert" && next(certFile)) continue;
        if (a == "--key" && next(keyFile)) continue;
        if (a == "--write-ca" && next(caOut)) continue;
        if (a == "--data" && next(dataDir)) continue;
        if (a == "--https" || a == "--quiet") {
            (a == "--https" ? https : quiet) = true;
            continue;
        }
        if (a == "--no-iscsi") {
            iscsi = false;
            continue;
        }
        if ((a == "--port" || a == "--iscsi-port") && next(value)) {
            char* end = nullptr;
            long p = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end || p < 0 || p > 65535) return fail("invalid port [" + value + "]");
            (a == "--port" ? port : iscsiPort) = static_cast<int>(p);
            continue;
        }
        if (a == "--help" || a == "-h") {
            std::cout << kUsage;
            return 0;
        }
        std::cerr << "korvan-sim: unknown or incomplete option [" << a << "]\n" << kUsage;
        return 2;
    }

    korvansim::Json seed = korvansim::commandSeed(korvansim::localHostName());
    if (!seedFile.empty()) {
        std::string text;
        if (!readFile(seedFile, text)) return fail("cannot read the seed [" + seedFile + "]");
        seed = korvansim::Json::parse(text, nullptr, false);
        if (seed.is_discarded()) return fail("the seed [" + seedFile + "] is not JSON");
    }

    // Signals are taken by sigwait below, never by the server threads.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    korvansim::Simulator sim;
    if (!quiet)
        sim.setRequestLog([](const std::string& line) { std::fprintf(stderr, "korvan-sim: %s\n", line.c_str()); });
    std::string message;
    if (!dataDir.empty() && !sim.useDataFolder(dataDir, message)) return fail(message);
    if (!sim.loadSeed(seed, message)) return fail(message);
    int bound = -1;
    if (https) {
        korvansim::TlsIdentity identity;
        if (certFile.empty() != keyFile.empty()) return fail("--cert and --key go together");
        if (!certFile.empty()) {
            if (!readFile(certFile, identity.certPem) || !readFile(keyFile, identity.keyPem))
                return fail("cannot read the certificate or the key");
        } else if (!korvansim::generateSelfSigned(identity, message)) {
            return fail(message);
        }
        if (!caOut.empty()) {
            std::ofstream ca(caOut, std::ios::binary | std::ios::trunc);
            if (!(ca << identity.certPem)) return fail("cannot write [" + caOut + "]");
        }
        bound = sim.listenHttps(host, port, identity, message);
    } else {
        bound = sim.listenHttp(host, port, message);
    }
    if (bound < 0) return fail(message);
    if (iscsi && !sim.serveIscsi(host, iscsiPort, message)) return fail(message);
    std::printf("listening on %s://%s:%d\n", https ? "https" : "http", host.c_str(), bound);
    for (const auto& [proxy, address] : sim.iscsiPortals())
        std::printf("iscsi %s %s\n", proxy.c_str(), address.c_str());
    std::fflush(stdout);

    int received = 0;
    sigwait(&signals, &received);
    sim.stop();
    return 0;
}
