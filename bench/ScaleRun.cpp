// The parent side of the scale runs: one fresh simulator per size, the child process that
// drives the plug-in, and the counters read around each of its entry calls.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "BenchCommon.h"
#include "BenchSim.h"
#include "SimSeed.h"

extern char** environ;

namespace krvnbench {

namespace {

// A /sim/ call is logged once its answer is written, a moment after the client has it.
constexpr auto kLogSettle = std::chrono::milliseconds(20);

// The child with its standard input and output on pipes of ours.
class Child {
public:
    explicit Child(const std::vector<std::string>& args) {
        int toChild[2], fromChild[2];
        if (pipe(toChild) != 0 || pipe(fromChild) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDOUT_FILENO);
        for (int fd : {toChild[0], toChild[1], fromChild[0], fromChild[1]})
            posix_spawn_file_actions_addclose(&actions, fd);
        // KRVN_BENCH_CHILD_WRAPPER runs the child under a profiler, e.g.
        // "valgrind --tool=callgrind --callgrind-out-file=/tmp/krvn.cg".
        std::vector<std::string> words;
        if (const char* wrapper = std::getenv("KRVN_BENCH_CHILD_WRAPPER")) {
            std::istringstream in(wrapper);
            for (std::string w; in >> w;) words.push_back(w);
        }
        char self[4096] = {};
        ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
        words.push_back(n > 0 ? std::string(self, static_cast<size_t>(n)) : args.front());
        words.insert(words.end(), args.begin() + 1, args.end());
        std::vector<char*> argv;
        for (const std::string& a : words) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        if (posix_spawnp(&pid_, argv.front(), &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(toChild[0]);
        close(fromChild[1]);
        in_ = fdopen(toChild[1], "w");
        out_ = fdopen(fromChild[0], "r");
    }
    ~Child() {
        if (in_) fclose(in_);
        if (out_) fclose(out_);
        if (pid_ > 0) waitpid(pid_, nullptr, 0);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool readLine(std::string& line) {
        line.clear();
        if (!out_) return false;
        int c;
        while ((c = fgetc(out_)) != EOF && c != '\n') line.push_back(static_cast<char>(c));
        return c != EOF || !line.empty();
    }
    void say(const char* text) {
        if (!in_) return;
        std::fputs(text, in_);
        std::fflush(in_);
    }

private:
    pid_t pid_ = -1;
    FILE* in_ = nullptr;
    FILE* out_ = nullptr;
};

// The cluster serial the simulator's devices report: the name hash without "0x", upper case.
std::string clusterSerial() {
    std::string hash = std::string(korvansim::kDefaultClusterHash).substr(2);
    for (char& c : hash) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return hash;
}

// The key under which the host stores the array's password, for the run's lifetime.
class KeyFile {
public:
    KeyFile() {
        char path[] = "/tmp/krvn-bench-key-XXXXXX";
        int fd = mkstemp(path);
        if (fd >= 0) close(fd);
        path_ = path;
        std::random_device random;
        std::string key;
        for (int i = 0; i < 32; ++i) key.push_back(static_cast<char>(random() & 0xff));
        std::ofstream(path_, std::ios::binary | std::ios::trunc) << key;
    }
    ~KeyFile() { std::remove(path_.c_str()); }
    KeyFile(const KeyFile&) = delete;
    KeyFile& operator=(const KeyFile&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

constexpr int kSizeFloorBatches = 3;
// Past this many items the vDisks have no contents: three image files per item would pass the
// open-file limit, and the scale runs measure the control path only.
constexpr int kContentsMaxItems = 2000;
// Past kReplayMaxItems, about this many LUN tables of a call are kept to time their reading.
constexpr long kLunSamples = 100;
constexpr const char* kLunTableProxy = korvansim::kDefaultProxy;

// Reads the child's "done" line into the row.
void readDone(std::istringstream& words, ScaleRow& row) {
    words >> row.rc >> row.itemsOk >> row.wallMs >> row.cpuMs >> row.hostCpuMs >> row.sanCpuMs >> row.meterMs >>
        row.hostCalls >> row.sanCalls >> row.peakMB >> row.httpCpuMs;
    std::getline(words >> std::ws, row.error);
    row.pluginCpuMs = row.cpuMs - row.hostCpuMs - row.sanCpuMs - row.meterMs;
}

// The LUN tables the call read, what the plug-in's reader takes over them and what a bare
// client takes to receive them: every one when all were kept, else the samples scaled up.
void takeLunTables(const BenchSim& sim, const Recording& kept, ScaleRow& row) {
    row.lunTables = kept.lunTables;
    row.lunTableMB = static_cast<double>(kept.lunBytes) / (1024.0 * 1024.0);
    if (kept.lunSamples.empty() || kept.lunSampleBytes == 0) return;
    const double sampledMs = lunTableReadMs(kept.lunSamples, kLunTableProxy);
    row.lunParseMs = sampledMs * static_cast<double>(kept.lunBytes) / static_cast<double>(kept.lunSampleBytes);
    std::string why;
    // The samples are every n-th table of the call, large and small alike: scaled by their count.
    row.lunReceiveMs = lunTableReceiveMs(sim, kept.lunSamples, why) * static_cast<double>(kept.lunTables) /
                       static_cast<double>(kept.lunSamples.size());
    if (!why.empty()) std::fprintf(stderr, "krvn-bench: receiving the LUN tables again: %s\n", why.c_str());
}

void runSize(int items, bool restLogging, const std::string& keepLogs, std::vector<ScaleRow>& rows) {
    BenchSim sim(korvansim::defaultSeed(korvansim::localHostName(), items), items <= kContentsMaxItems);
    if (!keepLogs.empty()) sim.keepLogAs(keepLogs + "/log-" + std::to_string(items) + ".txt");
    if (!sim.ok()) {
        std::fprintf(stderr, "krvn-bench: simulator for %d items: %s\n", items, sim.error().c_str());
        return;
    }
    const double floorUs = measureFloor(sim, "https", true, false, kSizeFloorBatches).usPerRequest;
    const double sanFloorUs = measureSanFloor(sim, kSizeFloorBatches);
    std::fprintf(stderr, "  %5d items: floor %.1f us (HTTPS), %.1f us (a /sim/ call on a new connection)\n", items,
                 floorUs, sanFloorUs);
    KeyFile key;
    sim.settings().set("Platform", "keyFile", key.path());
    // Tying a device's cluster serial to the array entry asks the candidate cluster on the
    // default REST port; the simulator listens elsewhere, so the serial is configured, as an
    // administrator would.
    sim.settings().set("Ovelin", std::string("sZYKorvanClusterUniqueId_") + korvansim::kDefaultClusterName,
                       clusterSerial());
    Child child({"krvn-bench", "--scale-child", std::to_string(items), std::to_string(sim.httpsPort()), sim.url(false),
                 restLogging ? "1" : "0"});
    std::string line;
    ScaleRow row;
    BenchSim::Tally before;
    double simCpuBefore = 0;
    const bool replay = items <= kReplayMaxItems;
    while (child.readLine(line)) {
        std::istringstream words(line);
        std::string what;
        words >> what;
        if (what == "ready") {
            row = ScaleRow();
            row.items = items;
            words >> row.family >> row.step;
            std::this_thread::sleep_for(kLogSettle);
            sim.restartGap();
            Recording recording;
            recording.all = replay;
            recording.lunStride = replay ? 1 : std::max(1L, items / kLunSamples);
            sim.startRecording(std::move(recording));
            before = sim.tally();
            // The driver's main thread waits on the child meanwhile: this is the simulator's.
            simCpuBefore = processCpuMs();
            child.say("go\n");
        } else if (what == "done") {
            readDone(words, row);
            std::this_thread::sleep_for(kLogSettle);
            BenchSim::Tally after = sim.tally();
            row.simCpuMs = processCpuMs() - simCpuBefore;
            const Recording kept = sim.stopRecording();
            row.requests = after.requests - before.requests;
            row.maxGapMs = after.maxGapMs;
            row.idleCloses = after.longGaps;
            row.logBytes = after.logBytes - before.logBytes;
            row.requestTypes = Json::object();
            for (const auto& [type, count] : after.byType.items()) {
                long delta = count.get<long>() - before.byType.value(type, 0L);
                if (delta > 0) row.requestTypes[type] = delta;
            }
            row.simCalls = after.simCalls - before.simCalls;
            row.connections = after.clusterConnections - before.clusterConnections;
            row.floorUs = floorUs;
            row.sanFloorUs = sanFloorUs;
            row.unexplainedMs = row.wallMs - (row.requests * floorUs + row.simCalls * sanFloorUs) / 1000.0;
            takeLunTables(sim, kept, row);
            if (replay) {
                std::string why;
                const ReplayCpu bare = replayCpuUsPerRequest(sim, kept.exchanges, kReplayRuns, why);
                row.bareUsPerRequest = bare.bareUs;
                row.bareInstantUsPerRequest = bare.instantUs;
                row.platformUsPerRequest = bare.platformUs;
                if (!why.empty())
                    std::fprintf(stderr, "krvn-bench: replay of %s %s: %s\n", row.family.c_str(), row.step.c_str(),
                                 why.c_str());
                if (!kept.changed) {
                    why.clear();
                    row.bareOnSimUsPerRequest = replayOnSimCpuUsPerRequest(sim, kept.exchanges, kReplayRuns, why);
                    if (!why.empty())
                        std::fprintf(stderr, "krvn-bench: replay to the simulator of %s %s: %s\n", row.family.c_str(),
                                     row.step.c_str(), why.c_str());
                }
            }
            rows.push_back(row);
            std::fprintf(stderr,
                         "  %5d items  %-4s %-9s rc=%d ok=%d  %9.1f ms  plug-in cpu %8.1f ms (process %8.1f, host "
                         "%7.1f, SAN %7.1f)  %6ld requests  %.1f us/req (own %.1f + HTTP client %.1f; bare %.1f, "
                         "bare unpaced %.1f, platform %.1f, bare to the simulator %.1f)  "
                         "sim cpu %8.1f\n",
                         items, row.family.c_str(), row.step.c_str(), row.rc, row.itemsOk, row.wallMs, row.pluginCpuMs,
                         row.cpuMs, row.hostCpuMs, row.sanCpuMs, row.requests, row.pluginUsPerRequest(),
                         row.ownUsPerRequest(), row.httpUsPerRequest(), row.bareUsPerRequest,
                         row.bareInstantUsPerRequest, row.platformUsPerRequest,
                         row.bareOnSimUsPerRequest, row.simCpuMs);
        } else if (what == "end") {
            break;
        }
    }
}

// Each step's median run among `runs` (the same steps in the same order, unless a run failed
// early: then the first run's rows stand), with the spread of its ratio to the bare client.
void appendMedianRuns(const std::vector<std::vector<ScaleRow>>& runs, std::vector<ScaleRow>& rows) {
    const std::vector<ScaleRow>& first = runs.front();
    for (size_t i = 0; i < first.size(); ++i) {
        std::vector<const ScaleRow*> same;
        for (const std::vector<ScaleRow>& run : runs)
            if (i < run.size() && run[i].family == first[i].family && run[i].step == first[i].step)
                same.push_back(&run[i]);
        if (same.size() != runs.size()) {
            rows.push_back(first[i]);
            continue;
        }
        const bool replayed = std::all_of(same.begin(), same.end(), [](const ScaleRow* r) { return r->overBare() > 0; });
        std::sort(same.begin(), same.end(), [replayed](const ScaleRow* a, const ScaleRow* b) {
            return replayed ? a->overBare() < b->overBare() : a->pluginCpuMs < b->pluginCpuMs;
        });
        ScaleRow median = *same[same.size() / 2];
        median.runs = static_cast<int>(same.size());
        median.overBareLow = same.front()->overBare();
        median.overBareHigh = same.back()->overBare();
        rows.push_back(median);
    }
}

}  // namespace

std::vector<ScaleRow> runScale(const std::vector<int>& sizes, bool restLogging, const std::string& keepLogs) {
    std::vector<ScaleRow> rows;
    for (int items : sizes) {
        std::vector<std::vector<ScaleRow>> runs(items == kReplayMaxItems ? kReplayedSizeRuns : 1);
        for (size_t run = 0; run < runs.size(); ++run) {
            if (runs.size() > 1) std::fprintf(stderr, "  %5d items: run %zu of %zu\n", items, run + 1, runs.size());
            runSize(items, restLogging, keepLogs, runs[run]);
        }
        appendMedianRuns(runs, rows);
    }
    return rows;
}

}  // namespace krvnbench
