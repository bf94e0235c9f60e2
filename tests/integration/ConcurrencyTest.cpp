// Eight host threads at once against one simulator, each with its own items, job and OS utility,
// twenty rounds each: four take a source vDisk of their own through the whole snapshot life
// cycle, four a disk of their own through the whole provisioning one. Every call must end as
// a lone call does; every line the plug-in logs under a job's id, and every line of an item's
// job log, may name only that job's objects; no item's metadata may name another job's. Built
// with ThreadSanitizer (./run test --tsan), the same run shows anything shared that is touched
// unlocked.
#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "EvDebug.h"
#include "FakeWorld.h"

namespace {

using KrvnHost::PluginApi;
using namespace krvntest;

constexpr int kSnapJobs = 4;
constexpr int kLunJobs = 4;
constexpr int kJobs = kSnapJobs + kLunJobs;
constexpr int kRounds = 20;
constexpr const char* kPassword = "Concurrent-Pw-8317";
constexpr long kGiB = 1L << 30;

// Every name of job j's objects (source, snapshot, clone, target, disk) holds its mark, and no
// other job's.
std::string markOf(int job) {
    return job < kSnapJobs ? "vol" + std::to_string(job + 1) : "disk-j" + std::to_string(job) + "-";
}
long long jobIdOf(int job, int round) { return (job + 1) * 1000LL + round + 1; }
int jobOf(long long jobId) { return static_cast<int>(jobId / 1000) - 1; }

// The marks of other jobs that a text names.
std::string foreignMarks(const std::string& text, int job) {
    std::string found;
    for (int other = 0; other < kJobs; ++other)
        if (other != job && text.find(markOf(other)) != std::string::npos) found += " " + markOf(other);
    return found;
}

// Checks every line the platform logger writes as it is written: a line under a job's id names
// only that job's objects, a line under no job names none, and no line holds the password. A
// cluster answer quoted in a line (after "<<") may list any object of the cluster.
class LineCheck {
public:
    LineCheck() { EvDebug::setCaptureSink(&LineCheck::receive, this); }
    ~LineCheck() { EvDebug::setCaptureSink(nullptr, nullptr); }
    LineCheck(const LineCheck&) = delete;
    LineCheck& operator=(const LineCheck&) = delete;

    std::vector<std::string> problems() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return problems_;
    }
    size_t lines() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }

private:
    static void receive(int, long long jobId, const std::string& text, void* user) {
        static_cast<LineCheck*>(user)->check(jobId, text);
    }
    void check(long long jobId, const std::string& text) {
        const int job = jobId == 0 ? -1 : jobOf(jobId);
        std::string problem;
        if (jobId != 0 && (job < 0 || job >= kJobs)) problem = "an unknown job id";
        const std::string foreign = foreignMarks(text.substr(0, text.find("<<")), job);
        if (!foreign.empty()) problem += " names" + foreign;
        if (text.find(kPassword) != std::string::npos) problem += " holds the password";
        std::lock_guard<std::mutex> lock(mutex_);
        ++lines_;
        if (!problem.empty() && problems_.size() < 20)
            problems_.push_back("job id " + std::to_string(jobId) + ":" + problem + ": " + text);
    }
    mutable std::mutex mutex_;
    std::vector<std::string> problems_;
    size_t lines_ = 0;
};

template <class Entry>
struct Step {
    const char* name;
    Entry PluginApi::*entry;
    int status;  // what a lone call leaves on the item
};

const Step<zyso_snap_fn> kSnapSteps[] = {
    {"prepare", &PluginApi::prepareDevices, kSnapPrepared},
    {"snap", &PluginApi::snapDevices, kSnapCreated},
    {"map", &PluginApi::mapSnaps, kSnapMapped},
    {"unmap", &PluginApi::unmapSnaps, kSnapUnmapped},
    {"revert", &PluginApi::revertSnaps, kSnapReverted},
    {"reconcile", &PluginApi::reconcileSnaps, kSnapReverted},
    {"delete", &PluginApi::deleteSnaps, kSnapDeleted},
};
const Step<zyso_lun_fn> kLunSteps[] = {
    {"create", &PluginApi::createLUNs, kLunCreated}, {"map", &PluginApi::mapLUNs, kLunMapped},
    {"unmap", &PluginApi::unmapLUNs, kLunUnmapped},  {"resize", &PluginApi::resizeLUNs, kLunResized},
    {"delete", &PluginApi::deleteLUNs, kLunDeleted},
};

// The vDisk behind each device path of this host.
std::map<std::string, std::string> deviceDisks(SimHarness& sim) {
    std::map<std::string, std::string> out;
    const korvansim::Json state = sim.sim().state();
    for (const auto& host : state["hosts"])
        if (host.value("name", "") == SimHarness::hostName())
            for (const auto& device : host["devices"]) out[device.value("path", "")] = device.value("vdisk", "");
    return out;
}

// One job of one thread: its own items and OS utility, a new job id every round.
class Job {
public:
    Job(SimHarness& sim, const krvntest::TestKeyFile& key, int job) : sim_(sim), key_(key), job_(job) {}

    void run() {
        for (int round = 0; round < kRounds; ++round) job_ < kSnapJobs ? snapRound(round) : lunRound(round);
    }
    const std::vector<std::string>& problems() const { return problems_; }

private:
    void note(int round, const std::string& text) {
        problems_.push_back("job " + std::to_string(job_) + " round " + std::to_string(round) + ": " + text);
    }

    void snapRound(int round) {
        krvntest::FakeSnapBatch batch(1);
        krvntest::FakeSnapInfo& item = batch[0];
        const std::map<std::string, std::string> devices = deviceDisks(sim_);
        for (const auto& [path, vdisk] : devices)
            if (vdisk == markOf(job_)) item.sourceDevice = path;
        harden::onSimArray(item, batch.os, sim_.port(), kPassword);
        harden::attachHostToSim(batch.os, sim_);
        batch.os.jobId = jobIdOf(job_, round);

        size_t calls = 0;
        for (const auto& step : kSnapSteps) {
            const int rc = (harden::plugin().*step.entry)(batch.data(), batch.count(), &batch.os);
            ++calls;
            if (rc != 0 || item.status != step.status)
                note(round, std::string(step.name) + " gave " + std::to_string(rc) + " and status " +
                                std::to_string(item.status) + ": " + item.lastErrorMessage);
            if (rc != 0) break;
        }
        for (int key : {kMetaSnapshot, kMetaClone}) {
            const std::string& value = item.metadata[key];
            if (value.find(markOf(job_)) == std::string::npos || !foreignMarks(value, job_).empty())
                note(round, "metadata " + std::to_string(key) + " is " + value);
        }
        // Start and success of every call, and nothing else, each about this job alone.
        if (item.logLines.size() != 2 * calls) note(round, std::to_string(item.logLines.size()) + " job log lines");
        for (const krvntest::FakeLogLine& line : item.logLines)
            if (!foreignMarks(line.text, job_).empty()) note(round, "job log line " + line.text);
    }

    void lunRound(int round) {
        krvntest::FakeLunBatch batch;
        krvntest::FakeLunInfo& item = batch.add();
        harden::onSimCluster(item, markOf(job_) + "r" + std::to_string(round), sim_.port(), key_.encrypt(kPassword));
        harden::attachHostToSim(batch.os, sim_);
        batch.os.jobId = jobIdOf(job_, round);

        for (const auto& step : kLunSteps) {
            if (step.status == kLunResized) item.size = 4 * kGiB;
            const int rc = (harden::plugin().*step.entry)(batch.data(), batch.count(), &batch.os);
            if (rc != 0 || item.status != step.status)
                note(round, std::string(step.name) + " gave " + std::to_string(rc) + " and status " +
                                std::to_string(item.status) + ": " + item.lastErrorMessage);
            if (rc != 0) break;
            if (step.status == kLunMapped && deviceDisks(sim_)[item.deviceName] != item.diskName)
                note(round, "mapped to the device " + item.deviceName + " of another disk");
        }
        if (item.lunName != item.diskName) note(round, "LUN name " + item.lunName);
    }

    SimHarness& sim_;
    const krvntest::TestKeyFile& key_;
    const int job_;
    std::vector<std::string> problems_;
};

TEST(Concurrency, EightJobsAtOnceEndAsLoneCallsAndNeitherLogsNorMetadataMixThem) {
    SimHarness sim(harden::exposedSourcesSeed(kSnapJobs, kPassword));
    ASSERT_TRUE(sim.ok()) << sim.error();
    krvntest::TestKeyFile key;
    sim.settings().set("Platform", "logFile", "/dev/null");
    sim.settings().set("Platform", "keyFile", key.path());
    harden::plugin();  // loaded once, before the threads share it
    LineCheck check;

    std::vector<Job> jobs;
    for (int job = 0; job < kJobs; ++job) jobs.emplace_back(sim, key, job);
    std::vector<std::thread> threads;
    for (Job& job : jobs) threads.emplace_back([&job] { job.run(); });
    for (std::thread& thread : threads) thread.join();

    for (const Job& job : jobs)
        for (const std::string& problem : job.problems()) ADD_FAILURE() << problem;
    for (const std::string& problem : check.problems()) ADD_FAILURE() << problem;
    EXPECT_GT(check.lines(), static_cast<size_t>(kJobs * kRounds)) << "the log check saw the calls";

    // Every job cleaned up after itself: only the seeded sources remain, none of their
    // snapshots, and every cluster session is closed.
    const korvansim::Json state = sim.sim().state();
    std::vector<std::string> left;
    for (const auto& disk : state["vdisks"]) {
        left.push_back(disk.value("name", ""));
        EXPECT_TRUE(disk["snapshots"].empty()) << disk.dump();
    }
    EXPECT_EQ(left, (std::vector<std::string>{"vol1", "vol2", "vol3", "vol4"}));
    EXPECT_EQ(state["cluster"].value("sessions", -1), 0);
}

}  // namespace
