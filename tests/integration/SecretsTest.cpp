// The whole life cycle at the highest debug level, with the plug-in's log in a file and the
// host's job log kept: neither the cluster password (one that holds every character that ends
// or escapes a value somewhere: notation, JSON, forms, shells) nor any session id the cluster
// issued may appear, whole or in part, in a single line of either, in a final error text or in
// any metadata.
#include <gtest/gtest.h>

#include <unistd.h>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "FakeWorld.h"

namespace {

using harden::LunWorld;
using harden::SnapWorld;
using KrvnHost::PluginApi;
using namespace krvntest;

constexpr const char* kPassword = "Qz7,Kx9}Vw2{Jm4:Rb6=Tn8%Hc3+Ly5&Gd1$Fp0 Ws4";

// The password and each of its pieces between the special characters.
std::vector<std::string> passwordAndPieces() {
    std::vector<std::string> out = {kPassword};
    std::string piece;
    for (const char* c = kPassword;; ++c) {
        if (*c && std::isalnum(static_cast<unsigned char>(*c))) {
            piece += *c;
            continue;
        }
        if (!piece.empty()) out.push_back(piece);
        piece.clear();
        if (!*c) return out;
    }
}

std::vector<std::string> issuedSessions(krvntest::SimHarness& sim) {
    std::vector<std::string> ids;
    sim.sim().withState([&](korvansim::Cluster& cluster, korvansim::SanBackend&) { ids = cluster.issuedSessions(); });
    return ids;
}

std::vector<std::string> fileLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class LogFile {
public:
    LogFile() {
        char tmpl[] = "/tmp/krvn-secrets-log-XXXXXX";
        int fd = mkstemp(tmpl);
        if (fd >= 0) close(fd);
        path = tmpl;
    }
    ~LogFile() { std::remove(path.c_str()); }
    std::string path;
};

// Every place a secret could surface, one line each, named for the failure message.
struct Sink {
    std::vector<std::pair<std::string, std::string>> lines;  // {where, text}
    void add(const std::string& where, const std::vector<std::string>& texts) {
        for (const auto& t : texts) lines.emplace_back(where, t);
    }
};

void expectNoSecret(const Sink& sink, const std::vector<std::string>& secrets) {
    for (const auto& secret : secrets) {
        ASSERT_FALSE(secret.empty());
        for (const auto& [where, text] : sink.lines)
            EXPECT_EQ(text.find(secret), std::string::npos) << "secret [" << secret << "] in " << where << ": " << text;
    }
}

TEST(Secrets, NoPasswordOrSessionIdInAnyLogLineOfTheWholeLifeCycle) {
    const PluginApi& api = harden::plugin();
    LogFile log;
    Sink sink;
    std::vector<std::string> secrets = passwordAndPieces();
    size_t logLines = 0;

    {
        SnapWorld w(2, kPassword);
        w.sim.settings().set("Platform", "logFile", log.path);
        for (size_t i = 0; i < w.batch.size(); ++i)
            w.batch[i].configInts["SMCONFIG_NAME_ENABLE_DIAGNOSTIC_LOGGING"] = 1;
        const std::vector<std::pair<const char*, zyso_snap_fn>> cycle = {
            {"prepare", api.prepareDevices}, {"snap", api.snapDevices},   {"map", api.mapSnaps},
            {"unmap", api.unmapSnaps},       {"revert", api.revertSnaps}, {"reconcile", api.reconcileSnaps},
            {"delete", api.deleteSnaps}};
        for (const auto& [name, entry] : cycle)
            EXPECT_EQ(w.run(entry), 0) << name << ": " << w.batch[0].lastErrorMessage;
        // And a call that fails after its login, so that a final error text is written too.
        for (size_t i = 0; i < w.batch.size(); ++i) w.batch[i].status = kSnapNew;
        EXPECT_EQ(w.run(api.prepareDevices), 0) << w.batch[0].lastErrorMessage;
        ASSERT_TRUE(w.sim.fault({{"type", "MakeSnapshot"}, {"kind", "status"}, {"status", 500}, {"count", -1}}));
        EXPECT_EQ(w.run(api.snapDevices), 1);
        EXPECT_FALSE(w.batch[0].lastErrorMessage.empty());
        for (size_t i = 0; i < w.batch.size(); ++i) {
            for (const auto& line : w.batch[i].logLines) sink.add("job log", {line.prefix + line.text});
            sink.add("last error", {w.batch[i].lastErrorMessage});
            for (const auto& [key, value] : w.batch[i].metadata) sink.add("metadata " + std::to_string(key), {value});
        }
        const std::vector<std::string> ids = issuedSessions(w.sim);
        EXPECT_GE(ids.size(), cycle.size()) << "one session per call at least";
        secrets.insert(secrets.end(), ids.begin(), ids.end());
    }
    {
        LunWorld w(2, kPassword);
        w.sim.settings().set("Platform", "logFile", log.path);
        for (size_t i = 0; i < w.batch.size(); ++i) w.batch[i].configs["SMCONFIG_NAME_ENABLE_DIAGNOSTIC_LOGGING"] = "1";
        const std::vector<std::pair<const char*, zyso_lun_fn>> cycle = {{"create", api.createLUNs},
                                                                        {"map", api.mapLUNs},
                                                                        {"unmap", api.unmapLUNs},
                                                                        {"resize", api.resizeLUNs},
                                                                        {"delete", api.deleteLUNs}};
        for (const auto& [name, entry] : cycle) {
            if (entry == api.resizeLUNs)
                for (size_t i = 0; i < w.batch.size(); ++i) w.batch[i].size = 4L << 30;
            EXPECT_EQ(w.run(entry), 0) << name << ": " << w.batch[0].lastErrorMessage;
        }
        for (size_t i = 0; i < w.batch.size(); ++i) sink.add("last error", {w.batch[i].lastErrorMessage});
        const std::vector<std::string> ids = issuedSessions(w.sim);
        EXPECT_GE(ids.size(), cycle.size()) << "one session per call at least";
        secrets.insert(secrets.end(), ids.begin(), ids.end());
    }
    const std::vector<std::string> lines = fileLines(log.path);
    logLines = lines.size();
    sink.add("plug-in log", lines);

    // The log must really hold the exchanges a leak would show up in.
    size_t requestDumps = 0;
    for (const auto& line : lines) requestDumps += line.find("sessionId") != std::string::npos;
    EXPECT_GT(logLines, 500u);
    EXPECT_GT(requestDumps, 10u) << "the REST exchanges were not logged";
    expectNoSecret(sink, secrets);
}

}  // namespace
