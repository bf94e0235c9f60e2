// A host that dies in the middle of an operation. For each operation below and each k in turn,
// the simulator holds the operation's cluster request k+1 unanswered and not carried out (a
// latency fault) while the test kills korvan-host with SIGKILL; then what an operator runs next
// runs: the same operation again, then the one that undoes it. After each run the simulator's
// state and korvan-host's job state tell what is left on the cluster and the host that no item
// records. The table of it is the section "Recovery after a host crash" of docs/operations.md
// and must match it line for line; KRVN_WRITE_RECOVERY_TABLE=1 writes it there instead.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "FakeWorld.h"
#include "HostState.h"
#include "TempDir.h"

extern char** environ;

namespace {

using namespace krvntest;
using Args = std::vector<std::string>;

constexpr const char* kPassword = "Crash-Pw-5521";
constexpr const char* kSource = "vol1";
constexpr const char* kTargetPrefix = "iqn.2020-01.com.korvan:sp1:";
constexpr const char* kTableBegin = "<!-- recovery table: written by CrashRecovery (tests/integration) -->";
constexpr const char* kTableEnd = "<!-- end of the recovery table -->";
// Far beyond anything a run needs here (virtual time): only a hang reaches it.
constexpr auto kRunLimit = std::chrono::seconds(120);
constexpr auto kPollSlice = std::chrono::milliseconds(20);

// korvan-host as the operator runs it, every run's output appended to one file.
class Host {
public:
    Host(const std::string& dir, int port) : dir_(dir), port_(port) {}

    pid_t start(const Args& args) const {
        Args all = {KRVN_BUILD_BIN_DIR "/korvan-host", "--state", dir_ + "/state.json"};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        const std::string output = outputPath();
        posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        posix_spawn_file_actions_adddup2(&files, STDOUT_FILENO, STDERR_FILENO);
        pid_t pid = -1;
        if (posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), environ) != 0) pid = -1;
        posix_spawn_file_actions_destroy(&files);
        return pid;
    }

    // The exit status of a run to its end; -1 when it died of a signal or had to be killed.
    int run(const Args& args) const {
        const pid_t pid = start(args);
        bool held = false;
        return pid > 0 ? finish(pid, nullptr, held) : -1;
    }

    // Waits for the process to end or, when `sim` is given, for an answer to be held, and kills
    // (SIGKILL) and reaps it if it has not ended. The exit status, or -1 when it did not exit by
    // itself.
    int finish(pid_t pid, korvansim::Simulator* sim, bool& held) const {
        const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
        const auto deadline = std::chrono::steady_clock::now() + kRunLimit;
        bool ended = false;
        held = false;
        while (!ended && !held && std::chrono::steady_clock::now() < deadline) {
            pollfd exit{pidfd, POLLIN, 0};
            ended = ::poll(&exit, 1, static_cast<int>(kPollSlice.count())) > 0;
            if (!ended && sim) held = sim->waitForHeld(1, kPollSlice);
        }
        if (!ended) ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        ::close(pidfd);
        return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    Args addArray() const {
        return {"arrays",
                "add",
                SimHarness::kClusterName,
                "--host",
                "127.0.0.1",
                "--port",
                std::to_string(port_),
                "--user",
                SimHarness::kUser,
                "--password",
                kPassword,
                "--proxy",
                SimHarness::kProxy,
                "--serial",
                "1A2B3C4D5E6F70"};
    }
    std::string outputPath() const { return dir_ + "/host-output.txt"; }
    std::string statePath() const { return dir_ + "/state.json"; }

private:
    std::string dir_;
    int port_;
};

// What is on the cluster or the host that no item records, by kind, in the table's order.
const char* const kKinds[] = {"snapshot",     "clone",        "disk",   "LUN",
                              "access entry", "host session", "device", "source logged out"};

struct Left {
    std::map<std::string, int> count;
    int clusterSessions = 0;

    std::string text() const {
        std::string out;
        for (const char* kind : kKinds) {
            auto it = count.find(kind);
            if (it == count.end() || it->second == 0) continue;
            std::string name = kind;
            if (it->second > 1) name = name == "access entry" ? "access entries" : name + "s";
            if (name == "source logged outs") name = "sources logged out";
            out += (out.empty() ? "" : ", ") + std::to_string(it->second) + " " + name;
        }
        return out.empty() ? "none" : out;
    }
};

// A snapshot item's clone is recorded in its metadata; the clone is the item's while a map may
// still stand on it (map failed, mapped, unmap failed), and its LUN, access, session and device
// are the item's while it is mapped or its unmap failed. A disk item holds its disk from its
// creation until it is deleted, and the disk's mapping while it is mapped or its unmap failed.
struct Recorded {
    std::set<std::string> snapshots, held, mapped;

    explicit Recorded(const KrvnHost::HostState& host) {
        held = mapped = {kSource};
        for (const auto& s : host.snaps) {
            if (!s.snapName.empty() && s.status != kSnapDeleted && s.status != kSnapGoneFromArray)
                snapshots.insert(s.snapName);
            auto clone = s.metadata.find(kMetaClone);
            if (clone == s.metadata.end() || clone->second.empty()) continue;
            const std::string name = clone->second.substr(0, clone->second.find("**"));
            if (s.status == kSnapNotMapped || s.status == kSnapMapped || s.status == kSnapUnmapFailed)
                held.insert(name);
            if (s.status == kSnapMapped || s.status == kSnapUnmapFailed) mapped.insert(name);
        }
        for (const auto& l : host.luns) {
            if (l.status != kLunNew && l.status != kLunCreateFailed && l.status != kLunDeleted) held.insert(l.diskName);
            if (l.status == kLunMapped || l.status == kLunUnmapFailed) mapped.insert(l.diskName);
        }
    }
};

std::set<std::string> sourceSessions(const korvansim::Json& state) {
    std::set<std::string> out;
    for (const auto& host : state["hosts"])
        for (const auto& session : host["sessions"]) {
            const std::string target = session.value("target", "");
            if (target == kTargetPrefix + std::string(kSource)) out.insert(target);
        }
    return out;
}

Left leftovers(const korvansim::Json& state, const KrvnHost::HostState& host, const std::set<std::string>& sessions) {
    const Recorded r(host);
    Left left;
    for (const auto& disk : state["vdisks"]) {
        const std::string name = disk.value("name", "");
        if (!r.held.count(name)) ++left.count[disk.value("isClone", false) ? "clone" : "disk"];
        for (const auto& snap : disk["snapshots"]) left.count["snapshot"] += !r.snapshots.count(snap);
        if (r.mapped.count(name)) continue;
        for (const auto& exposure : disk["exposures"]) {
            ++left.count["LUN"];
            left.count["access entry"] += static_cast<int>(exposure["initiators"].size());
        }
    }
    for (const auto& h : state["hosts"]) {
        for (const auto& session : h["sessions"]) {
            const std::string target = session.value("target", "");
            left.count["host session"] += !r.mapped.count(target.substr(target.rfind(':') + 1));
        }
        for (const auto& device : h["devices"]) left.count["device"] += !r.mapped.count(device.value("vdisk", ""));
    }
    const std::set<std::string> now = sourceSessions(state);
    for (const std::string& target : sessions) left.count["source logged out"] += !now.count(target);
    left.clusterSessions = state["cluster"].value("sessions", 0);
    return left;
}

struct Scenario {
    const char* operation;  // as the table names it
    std::vector<Args> setup;
    Args run;
    Args again;  // what runs after the kill: the same operation, or (empty) nothing
    Args undo;   // empty: nothing undoes it
};

const Args kPrepare{"prepare", "/dev/sdb"}, kSnap{"snap"}, kMap{"map"}, kUnmap{"unmap"}, kRevert{"revert"},
    kDelete{"delete"}, kLunCreate{"lun", "create", "crash1", "--size-gb", "1"}, kLunMap{"lun", "map", "1"},
    kLunUnmap{"lun", "unmap", "1"}, kLunDelete{"lun", "delete", "1"};

const Scenario kScenarios[] = {
    {"snap", {kPrepare}, kSnap, kSnap, kDelete},
    {"map", {kPrepare, kSnap}, kMap, kMap, kUnmap},
    {"map, undone at once", {kPrepare, kSnap}, kMap, {}, {"unmap", "1"}},
    {"unmap", {kPrepare, kSnap, kMap}, kUnmap, kUnmap, kMap},
    {"revert", {kPrepare, kSnap, kRevert}, kRevert, kRevert, {}},
    {"delete", {kPrepare, kSnap}, kDelete, kDelete, {}},
    {"lun create", {}, kLunCreate, kLunCreate, kLunDelete},
    {"lun map", {kLunCreate}, kLunMap, kLunMap, kLunUnmap},
    {"lun delete", {kLunCreate}, kLunDelete, kLunDelete, {}},
};

std::string joined(const Args& args) {
    std::string out;
    for (const std::string& a : args) out += (out.empty() ? "" : " ") + a;
    return out;
}

KrvnHost::HostState hostState(const Host& host) {
    KrvnHost::HostState state;
    std::string error;
    EXPECT_TRUE(KrvnHost::StateFile(host.statePath()).load(&state, &error)) << error;
    return state;
}

std::string fileText(const std::string& path) {
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

// The doc's table: everything between the two marker lines.
std::string docTable(const std::string& doc) {
    const size_t begin = doc.find(kTableBegin), end = doc.find(kTableEnd);
    if (begin == std::string::npos || end == std::string::npos || end < begin) return "";
    const size_t from = doc.find('\n', begin) + 1;
    return doc.substr(from, end - from);
}

TEST(CrashRecovery, EveryKillPointOfEveryOperationIsTabledAndWhatIsLeftIsWhatTheTableSays) {
    krvntest::TestKeyFile key;
    const krvntest::TempDir work;  // state file, logs, korvan-host's output
    ASSERT_FALSE(work.path().empty());
    const std::string& dir = work.path();
    const korvansim::Json seed = harden::exposedSourcesSeed(1, kPassword);
    SimHarness sim(seed);
    ASSERT_TRUE(sim.ok()) << sim.error();
    sim.settings().set("Platform", "keyFile", key.path());
    sim.settings().set("Platform", "logFile", dir + "/plugin.log");
    const Host host(dir, sim.port());

    std::string table =
        "| Operation | Killed after request | Left after the kill | After running it again | After the undo | "
        "Cluster sessions left open |\n|---|---|---|---|---|---|\n";
    for (const Scenario& s : kScenarios) {
        for (int k = 1;; ++k) {
            const std::string where = std::string(s.operation) + ", killed after request " + std::to_string(k);
            std::string error;
            ASSERT_TRUE(sim.sim().loadSeed(seed, error)) << error;
            std::remove(host.statePath().c_str());
            ASSERT_EQ(host.run(host.addArray()), 0) << where << ": " << fileText(host.outputPath());
            for (const Args& step : s.setup) ASSERT_EQ(host.run(step), 0) << where << ": " << joined(step);
            const std::set<std::string> sessions = sourceSessions(sim.sim().state());
            sim.sim().clearCounters();
            ASSERT_TRUE(
                sim.fault({{"type", "*"}, {"kind", "latency"}, {"latencyMs", 600000}, {"apply", false}, {"after", k}}))
                << sim.error();

            const pid_t pid = host.start(s.run);
            ASSERT_GT(pid, 0);
            bool held = false;
            const int status = host.finish(pid, &sim.sim(), held);
            if (!held) {
                // Fewer than k + 1 requests: the operation ran through, and every kill point is done.
                EXPECT_EQ(status, 0) << where << ": " << fileText(host.outputPath());
                EXPECT_GT(k, 1) << where << ": never held";
                break;
            }
            const korvansim::Json sequence = sim.counters()["sequence"];
            sim.clearFaults();
            ASSERT_GT(sequence.size(), static_cast<size_t>(k)) << where;
            const Left killed = leftovers(sim.sim().state(), hostState(host), sessions);

            Left again = killed;
            if (!s.again.empty()) {
                EXPECT_EQ(host.run(s.again), 0) << where << ", then " << joined(s.again);
                again = leftovers(sim.sim().state(), hostState(host), sessions);
            }
            Left undone = again;
            if (!s.undo.empty()) {
                EXPECT_EQ(host.run(s.undo), 0) << where << ", then " << joined(s.undo);
                undone = leftovers(sim.sim().state(), hostState(host), sessions);
            }
            // Only the killed host's session stays open: every later login had its logout.
            EXPECT_EQ(undone.clusterSessions, killed.clusterSessions) << where;
            // What no item can know of: a snapshot the cluster named for a host that died first.
            const bool unknowable = std::string(s.operation) == "snap" && sequence[k - 1] == "MakeSnapshot";
            EXPECT_EQ(undone.text(), unknowable ? "1 snapshot" : "none") << where;

            table += "| " + std::string(s.operation) + " | " + std::to_string(k) + " " +
                     sequence[k - 1].get<std::string>() + " | " + killed.text() + " | " +
                     (s.again.empty() ? "-" : again.text()) + " | " + (s.undo.empty() ? "-" : undone.text()) + " | " +
                     std::to_string(killed.clusterSessions) + " |\n";
        }
    }

    // The password never reached a log or korvan-host's output.
    for (const std::string& file : {dir + "/plugin.log", host.outputPath()})
        EXPECT_EQ(fileText(file).find(kPassword), std::string::npos) << file;

    const std::string docPath = KRVN_SOURCE_DIR "/docs/operations.md";
    std::string doc = fileText(docPath);
    if (std::getenv("KRVN_WRITE_RECOVERY_TABLE")) {
        const size_t begin = doc.find(kTableBegin), end = doc.find(kTableEnd);
        ASSERT_TRUE(begin != std::string::npos && end != std::string::npos) << "no table markers in " << docPath;
        doc.replace(doc.find('\n', begin) + 1, end - doc.find('\n', begin) - 1, table);
        std::ofstream(docPath, std::ios::trunc) << doc;
    }
    EXPECT_EQ(docTable(fileText(docPath)), table)
        << "docs/operations.md does not show what the test measured; KRVN_WRITE_RECOVERY_TABLE=1 writes it there";
}

}  // namespace
