// The parent side of the scale runs: one fresh simulator per size, the child process that
// drives the plug-in, and the counters read around each of its entry calls.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <thread>

#include <fstream>
#include <random>
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

void runSize(int items, bool restLogging, std::vector<ScaleRow>& rows) {
    BenchSim sim(korvansim::defaultSeed(korvansim::localHostName(), items));
    if (!sim.ok()) {
        std::fprintf(stderr, "krvn-bench: simulator for %d items: %s\n", items, sim.error().c_str());
        return;
    }
    const double floorUs = measureFloor(sim, "https", true, false, kSizeFloorBatches).usPerRequest;
    const double freshFloorUs = measureFloor(sim, "http-fresh", false, true, kSizeFloorBatches).usPerRequest;
    std::fprintf(stderr, "  %4d items: floor %.1f us (HTTPS), %.1f us (new connection)\n", items, floorUs,
                 freshFloorUs);
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
            before = sim.tally();
            // The driver's main thread waits on the child meanwhile: this is the simulator's.
            simCpuBefore = processCpuMs();
            child.say("go\n");
        } else if (what == "done") {
            words >> row.rc >> row.itemsOk >> row.wallMs >> row.cpuMs >> row.peakMB;
            std::getline(words >> std::ws, row.error);
            std::this_thread::sleep_for(kLogSettle);
            BenchSim::Tally after = sim.tally();
            row.simCpuMs = processCpuMs() - simCpuBefore;
            row.requests = after.requests - before.requests;
            row.maxGapMs = after.maxGapMs;
            row.logKB = (after.logBytes - before.logBytes) / 1024;
            row.requestTypes = Json::object();
            for (const auto& [type, count] : after.byType.items()) {
                long delta = count.get<long>() - before.byType.value(type, 0L);
                if (delta > 0) row.requestTypes[type] = delta;
            }
            row.simCalls = after.simCalls - before.simCalls;
            row.connections = (after.connections - before.connections) - row.simCalls;
            row.floorUs = floorUs;
            row.ratio = row.requests > 0 && floorUs > 0 ? row.wallMs * 1000.0 / (row.requests * floorUs) : 0;
            const double expectedUs = row.requests * floorUs + row.simCalls * freshFloorUs;
            row.ratioWithSim = expectedUs > 0 ? row.wallMs * 1000.0 / expectedUs : 0;
            rows.push_back(row);
            std::fprintf(stderr,
                         "  %4d items  %-4s %-9s rc=%d ok=%d  %9.1f ms (cpu %7.1f, sim cpu %7.1f, gap %6.1f)  %6ld "
                         "requests  %ld conn  %6ld sim calls  %s\n",
                         items, row.family.c_str(), row.step.c_str(), row.rc, row.itemsOk, row.wallMs, row.cpuMs,
                         row.simCpuMs, row.maxGapMs, row.requests, row.connections, row.simCalls,
                         row.requestTypes.dump().c_str());
        } else if (what == "end") {
            break;
        }
    }
}

}  // namespace

std::vector<ScaleRow> runScale(const std::vector<int>& sizes, bool restLogging) {
    std::vector<ScaleRow> rows;
    for (int items : sizes) runSize(items, restLogging, rows);
    return rows;
}

}  // namespace krvnbench
