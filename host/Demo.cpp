#include "Demo.h"

#include <unistd.h>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iomanip>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>

#include "CWqLibrary.h"
#include "DemoData.h"
#include "FixtureDevices.h"
#include "HostJob.h"
#include "HostReport.h"
#include "HostTexts.h"
#include "SimProcess.h"
#include "SimSeed.h"
#include "ZYPassword.h"
#include "ZyISCSIModule.h"
#include "ZyIscsiSessions.h"

namespace KrvnHost {

namespace {

const int kSourceVDisks = 3;
const int kSimStartTimeoutSec = 20;
const int kProgressEverySec = 5;
// The plug-in's waits between retries follow the array's snapshot configuration; the demo
// keeps them short instead of turning time virtual, so what it shows is real.
const int kDemoRetryCount = 3;
const int kDemoRetryIntervalSec = 1;
const char* const kDemoDisk = "demo-disk1";
const long long kGiB = 1LL << 30;

// Prints a line every few seconds while a long step runs, so the demo never looks hung.
class Progress {
public:
    Progress(std::ostream& out, std::string label) : out_(out), label_(std::move(label)) {
        thread_ = std::thread([this] { run(); });
    }
    ~Progress() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

private:
    void run() {
        auto start = std::chrono::steady_clock::now();
        std::unique_lock<std::mutex> lock(mutex_);
        while (!wake_.wait_for(lock, std::chrono::seconds(kProgressEverySec), [this] { return done_; })) {
            auto secs = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);
            out_ << "     ... " << label_ << " still running (" << secs.count() << " s)" << std::endl;
        }
    }
    std::ostream& out_;
    std::string label_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
    std::thread thread_;
};

struct StepResult {
    bool ok = false;
    std::string statuses;              // what the step gave, short
    std::string problem;               // why it is not what was expected
    std::vector<std::string> details;  // lines under the step
    double seconds = 0;
};

// Items by status, in order: "#1 #2: 5 snapshot created, #3: 6 creation failed". With devices,
// each item shows its mapped device.
template <class Item>
std::string statusSummary(const std::vector<const Item*>& items, int (*status)(const Item&), const char* (*name)(int),
                          std::string (*device)(const Item&)) {
    std::string out;
    for (size_t i = 0; i < items.size(); ++i) {
        out += "#" + std::to_string(items[i]->id);
        if (device) out += " " + device(*items[i]);
        int value = status(*items[i]);
        bool last = i + 1 == items.size() || status(*items[i + 1]) != value;
        out += last ? ": " + std::to_string(value) + " " + name(value) + (i + 1 == items.size() ? "" : ", ") : " ";
    }
    return out;
}

int snapStatusOf(const SnapItem& s) { return s.status; }
int lunStatusOf(const LunItem& l) { return l.status; }
std::string snapDevice(const SnapItem& s) { return s.mappedDevice.empty() ? "-" : s.mappedDevice; }
std::string lunDevice(const LunItem& l) { return l.deviceName.empty() ? "-" : l.deviceName; }

std::string expectedText(int status, const char* name) {
    return "(expected " + std::to_string(status) + " " + name + ")";
}

using Section = std::map<std::string, std::string>;

std::string writeIni(const std::string& path, const Section& platform, const Section& plugin) {
    std::ofstream out(path, std::ios::trunc);
    out << "[Platform]\n";
    for (const auto& [k, v] : platform) out << k << "=" << v << "\n";
    out << "[Ovelin]\n";
    for (const auto& [k, v] : plugin) out << k << "=" << v << "\n";
    return out ? "" : "cannot write " + path;
}

// The cluster serial a host sees in VPD page 0x83 for a cluster name hash such as
// "0x1a2b3c": the hex digits after the prefix character, upper case.
std::string clusterSerialOf(std::string hash) {
    size_t first = hash.find_first_not_of('0');
    if (first != std::string::npos) hash.erase(0, first);
    if (!hash.empty()) hash.erase(0, 1);
    for (char& c : hash) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return hash;
}

std::string twoDecimals(double seconds) {
    std::ostringstream s;
    s << std::fixed << std::setprecision(2) << seconds;
    return s.str();
}

class DemoRun {
public:
    DemoRun(const DemoOptions& options, std::ostream& out) : options_(options), out_(out) {}
    ~DemoRun() {
        sim_.stop();
        if (hadSettings_)
            setenv("ZY_SETTINGS_FILE", oldSettings_.c_str(), 1);
        else
            unsetenv("ZY_SETTINGS_FILE");
    }

    int run();

private:
    bool setUp(std::string* error);
    bool writeSettings(std::string* error);
    bool loginSources(std::string* error);
    bool writeSources(const DataPattern& pattern, std::string* error);
    // Reads each device at the pattern's place; false (with the step failed) on a mismatch.
    bool expectData(StepResult& r, const std::vector<std::pair<std::string, std::string>>& devices,
                    const DataPattern& expected);
    void checkMappedData(StepResult& r);
    void checkRevertedData(StepResult& r);
    void checkDiskSize(StepResult& r);
    void useSettings(const std::string& path) { setenv("ZY_SETTINGS_FILE", path.c_str(), 1); }
    void step(const std::string& name, bool runnable, const std::function<StepResult()>& body);
    StepResult snapStep(SnapOp op, int expected, bool showDevices = false);
    StepResult lunStep(LunOp op, short expected, bool showDevice = false);
    StepResult supportStep();
    StepResult reconcileStep();
    StepResult outcomeProblem(StepResult r, const CallOutcome& o);

    const DemoOptions& options_;
    std::ostream& out_;
    std::string work_, simSettings_, fixtureSettings_, pluginLog_, host_;
    std::string oldSettings_;
    bool hadSettings_ = false;
    SimProcess sim_;
    Plugin plugin_;
    std::unique_ptr<HostJob> job_;
    std::vector<std::string> sources_;
    std::vector<std::string> sourceTargets_;  // the iSCSI target of each source, in order
    std::string portals_;                     // [Platform] iscsiPortals of the simulator's target
    uint32_t blockSize_ = 0;
    DataPattern before_, after_;  // what the snapshots hold, what the sources get after
    std::vector<long long> snapIds_;
    long lunId_ = 0;
    int stepNo_ = 0, passed_ = 0;
    bool snapChain_ = true, lunChain_ = true;
};

bool DemoRun::setUp(std::string* error) {
    if (const char* old = std::getenv("ZY_SETTINGS_FILE")) oldSettings_ = old, hadSettings_ = true;
    char tmpl[] = "/tmp/korvan-demo-XXXXXX";
    if (!::mkdtemp(tmpl)) {
        *error = "cannot create a temporary directory";
        return false;
    }
    work_ = tmpl;
    pluginLog_ = work_ + "/plugin.log";
    host_ = localHostName();

    nlohmann::json seed = korvansim::defaultSeed(host_, kSourceVDisks);
    // Clones come up unfrozen: the plug-in's fixed wait between freeze checks is half a minute.
    seed["cluster"]["unfreezeAfterReads"] = 0;
    // The sources reach the host the way they do on a real one, as iSCSI sessions to their
    // targets on the storage proxy (revert logs the host out of them and back in).
    for (auto& disk : seed["vdisks"])
        disk["exposures"] = {{{"proxy", korvansim::kDefaultProxy}, {"initiators", {korvansim::defaultIqn(host_)}}}};
    for (auto& h : seed["hosts"]) h["devices"] = nlohmann::json::array();
    std::ofstream(work_ + "/seed.json") << seed.dump(2);
    std::string simPath = options_.simPath.empty() ? executableDir() + "/korvan-sim" : options_.simPath;
    if (!sim_.start(simPath, work_ + "/seed.json", work_ + "/sim.log", kSimStartTimeoutSec, error)) return false;
    nlohmann::json state;
    if (!sim_.control("/sim/state", nullptr, &state, error)) return false;
    const nlohmann::json portals = state["iscsi"].value("portals", nlohmann::json::object());
    for (const auto& [proxy, address] : portals.items())
        portals_ += (portals_.empty() ? "" : ",") + proxy + "=" + address.get<std::string>();

    if (!writeSettings(error)) return false;
    std::string pluginPath = options_.pluginPath.empty() ? Plugin::defaultPath() : options_.pluginPath;
    if (!plugin_.load(pluginPath, error)) return false;

    job_ = std::make_unique<HostJob>(StateFile(work_ + "/korvan-state.json"), plugin_);
    if (!job_->begin(error)) return false;
    ArrayEntry array;
    array.number = 1;
    array.name = korvansim::kDefaultClusterName;
    array.vendor = kKorvanVendor;
    array.controlHost = "127.0.0.1";
    array.user = korvansim::kDefaultUser;
    if (!ZYPassword::encrypt(korvansim::kDefaultPassword, &array.storedPassword, error)) return false;
    array.configInts[kCfgServerPort] = std::atoi(sim_.url().substr(sim_.url().rfind(':') + 1).c_str());
    array.configInts[kCfgRetryCount] = kDemoRetryCount;
    array.configInts[kCfgRetryInterval] = kDemoRetryIntervalSec;
    array.configInts[kCfgDiagnosticLogging] = 1;
    array.configLists[kCfgStorageProxyList] = {korvansim::kDefaultProxy};
    job_->state().arrays.push_back(array);
    if (!job_->save(error)) return false;

    if (!loginSources(error)) return false;
    if (static_cast<int>(sources_.size()) != kSourceVDisks) {
        *error = "the host holds " + std::to_string(sources_.size()) + " source devices, expected " +
                 std::to_string(kSourceVDisks);
        return false;
    }
    if (!blockSizeOf(sources_.front(), &blockSize_, nullptr, error)) return false;
    before_ = makePattern("A", 0xA5, blockSize_);
    after_ = makePattern("B", 0x5B, blockSize_);
    if (!writeSources(before_, error)) return false;
    short major = 0, minor = 0, revision = 0;
    plugin_.api().version(&major, &minor, &revision);
    out_ << "korvan-host demo\n"
         << "  work directory : " << work_ << "\n"
         << "  simulator      : " << sim_.url() << " (pid " << sim_.pid() << "), log " << work_ << "/sim.log\n"
         << "  host           : " << host_ << ", source devices";
    for (const auto& s : sources_) out_ << " " << s;
    out_ << "\n  data path      : iSCSI to the simulator's target (libiscsi) at " << portals_
         << "\n  data           : wrote pattern " << before_.name << " (" << before_.sum << ") at blocks "
         << kDataFirstBlock << "-" << kDataFirstBlock + kDataBlocks - 1 << " of each source"
         << "\n  plug-in        : " << plugin_.path() << " (version " << major << "." << minor << "." << revision
         << ")\n  plug-in log    : " << pluginLog_ << "\n  job state      : " << work_ << "/korvan-state.json\n\n";
    return true;
}

bool DemoRun::loginSources(std::string* error) {
    // The sources reach the host as they do on a real one: iSCSI sessions to their targets on
    // the storage proxy, opened through the iSCSI module the plug-in uses. The targets come
    // from the state dump, which names every exposure in the order of the vDisks.
    const std::string portal = korvansim::kDefaultProxy;
    nlohmann::json state;
    if (!sim_.control("/sim/state", nullptr, &state, error)) return false;
    CWqLibrary library(true);
    void* address = nullptr;
    if (library.Load(kIscsiModuleName, false).IsError() || library.GetAddress(kIscsiModuleEntry, address).IsError()) {
        *error = std::string("cannot load the iSCSI module ") + kIscsiModuleName;
        return false;
    }
    // Declared after the library, so the instance goes first.
    std::unique_ptr<ZyISCSIModule> iscsi(reinterpret_cast<ZyISCSIModule* (*)()>(address)());
    for (const auto& disk : state.value("vdisks", nlohmann::json::array()))
        for (const auto& e : disk.value("exposures", nlohmann::json::array())) {
            const std::string target = e.value("target", "");
            if (e.value("proxy", "") != portal) continue;
            if (!iscsi || !iscsi->login(portal.c_str(), target.c_str())) {
                *error = "cannot log in to " + target + " at " + portal;
                return false;
            }
            sources_.push_back(ZyIscsiSessions::deviceOf(target));
            sourceTargets_.push_back(target);
        }
    return true;
}

bool DemoRun::writeSources(const DataPattern& pattern, std::string* error) {
    for (const std::string& target : sourceTargets_)
        if (!writePattern(ZyIscsiSessions::deviceOf(target), pattern, blockSize_, error)) return false;
    return true;
}

bool DemoRun::expectData(StepResult& r, const std::vector<std::pair<std::string, std::string>>& devices,
                         const DataPattern& expected) {
    for (const auto& [label, device] : devices) {
        std::string bytes, error;
        if (!readPatternPlace(device, blockSize_, &bytes, &error)) {
            r.ok = false;
            r.problem = "cannot read " + device + ": " + error;
            return false;
        }
        const bool same = bytes == expected.bytes;
        r.details.push_back(label + " " + device + " reads " + checksum(bytes) +
                            (same ? ": pattern " + expected.name + ", ok" : ": NOT pattern " + expected.name));
        if (!same) {
            r.ok = false;
            r.problem = device + " does not hold pattern " + expected.name + " (" + expected.sum + ")";
        }
    }
    return r.ok;
}

void DemoRun::checkMappedData(StepResult& r) {
    std::vector<std::pair<std::string, std::string>> mapped;
    for (long long id : snapIds_) {
        const SnapItem* s = job_->state().findSnap(id);
        mapped.emplace_back("snapshot of " + s->sourceDevice + " mapped as", s->mappedDevice);
    }
    expectData(r, mapped, before_);
}

void DemoRun::checkRevertedData(StepResult& r) {
    // Revert logs the host out of each source and back in: the data is the snapshot's, the
    // device path a new one.
    std::vector<std::pair<std::string, std::string>> sources;
    for (const std::string& target : sourceTargets_)
        sources.emplace_back("source " + target.substr(target.rfind(':') + 1) + " now",
                             ZyIscsiSessions::deviceOf(target));
    expectData(r, sources, before_);
}

void DemoRun::checkDiskSize(StepResult& r) {
    const LunItem* l = job_->state().findLun(lunId_);
    uint32_t blockSize = 0;
    uint64_t bytes = 0;
    std::string error;
    if (!blockSizeOf(l->deviceName, &blockSize, &bytes, &error)) {
        r.ok = false;
        r.problem = "cannot read the size of " + l->deviceName + ": " + error;
        return;
    }
    const bool same = static_cast<long long>(bytes) == l->sizeBytes;
    r.details.push_back(l->deviceName + " holds " + std::to_string(bytes) + " bytes" +
                        (same ? ", the size created" : ", NOT the size created"));
    if (!same) {
        r.ok = false;
        r.problem =
            l->deviceName + " holds " + std::to_string(bytes) + " bytes, expected " + std::to_string(l->sizeBytes);
    }
}

bool DemoRun::writeSettings(std::string* error) {
    // A fresh key for the demo's stored password.
    std::random_device rd;
    std::string key(32, '\0');
    for (auto& c : key) c = static_cast<char>(rd() & 0xFF);
    std::ofstream(work_ + "/secret.key", std::ios::binary) << key;
    Section platform = {
        {"virtualTime", options_.virtualTime ? "1" : "0"},
        {"deviceBackend", "libiscsi"},
        {"iscsiBackend", "libiscsi"},
        {"iscsiPortals", portals_},
        {"simulatorUrl", sim_.url()},
        {"logFile", pluginLog_},
        {"debugLevel", "3"},
        {"keyFile", work_ + "/secret.key"},
    };
    // Matching a cluster serial to an array entry logs in to the candidate with the default REST
    // port, not the entry's configured one; the simulator runs on a free port, so the demo
    // gives the cluster's unique id as a setting, the way an administrator would.
    Section plugin = {{std::string(kSettingClusterUniqueId) + korvansim::kDefaultClusterName,
                       clusterSerialOf(korvansim::kDefaultClusterHash)}};
    simSettings_ = work_ + "/settings.ini";
    *error = writeIni(simSettings_, platform, plugin);
    if (!error->empty()) return false;
    platform["deviceBackend"] = "fixture";
    platform["deviceFixtureDir"] = work_ + "/fixture-devices";
    fixtureSettings_ = work_ + "/settings-fixture.ini";
    *error = writeIni(fixtureSettings_, platform, plugin);
    if (!error->empty()) return false;
    useSettings(simSettings_);
    return true;
}

void DemoRun::step(const std::string& name, bool runnable, const std::function<StepResult()>& body) {
    ++stepNo_;
    auto head = [&] { out_ << std::setw(3) << stepNo_ << "  " << std::left << std::setw(12) << name << std::right; };
    if (!runnable) {
        head();
        out_ << "  skipped (an earlier step failed)\n";
        return;
    }
    StepResult r;
    {
        Progress progress(out_, name);
        auto start = std::chrono::steady_clock::now();
        r = body();
        r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    head();
    out_ << std::setw(7) << twoDecimals(r.seconds) << " s  " << (r.ok ? "ok      " : "FAILED  ") << r.statuses << "\n";
    for (const auto& line : r.details) out_ << "       " << line << "\n";
    if (!r.ok) out_ << "       " << r.problem << "\n";
    if (r.ok) ++passed_;
}

StepResult DemoRun::outcomeProblem(StepResult r, const CallOutcome& o) {
    if (o.result != 0) {
        r.ok = false;
        std::string text = o.hostError.empty() ? o.errorText : o.hostError;
        r.problem = "result " + std::to_string(o.result) + ", error " + std::to_string(o.errorCode) + ": " + text;
    }
    if (options_.verbose) printOutcome(out_, o, job_->state());
    return r;
}

StepResult DemoRun::snapStep(SnapOp op, int expected, bool showDevices) {
    CallOutcome o = job_->runSnap(op, snapIds_);
    StepResult r;
    r.ok = true;
    std::vector<const SnapItem*> items;
    for (long long id : snapIds_) {
        const SnapItem* s = job_->state().findSnap(id);
        items.push_back(s);
        if (s->status != expected) {
            r.ok = false;
            r.problem = "item " + std::to_string(id) + " has status " + std::to_string(s->status) + " (" +
                        snapStatusName(s->status) + "), expected " + std::to_string(expected);
        }
    }
    r.statuses = statusSummary<SnapItem>(items, snapStatusOf, snapStatusName, showDevices ? snapDevice : nullptr) +
                 " " + expectedText(expected, snapStatusName(expected));
    return outcomeProblem(r, o);
}

StepResult DemoRun::lunStep(LunOp op, short expected, bool showDevice) {
    CallOutcome o = job_->runLun(op, {lunId_});
    const LunItem* l = job_->state().findLun(lunId_);
    StepResult r;
    r.ok = l->status == expected;
    r.statuses = statusSummary<LunItem>({l}, lunStatusOf, lunStatusName, showDevice ? lunDevice : nullptr) + " " +
                 expectedText(expected, lunStatusName(expected));
    if (!r.ok)
        r.problem = "disk item has status " + std::to_string(l->status) + " (" + lunStatusName(l->status) +
                    "), expected " + std::to_string(expected);
    return outcomeProblem(r, o);
}

StepResult DemoRun::supportStep() {
    StepResult r;
    r.ok = true;
    int devices = 0;
    auto check = [&](const std::string& device, bool korvan, const std::string& why) {
        int got = job_->isSupported(device);
        ++devices;
        std::ostringstream line;
        line << std::left << std::setw(24) << device << got << (got == 0 ? " supported      " : " not supported  ")
             << why;
        r.details.push_back(line.str());
        if ((got == 0) != korvan) {
            r.ok = false;
            r.problem += device + " answered " + std::to_string(got) + ", expected " + (korvan ? "0" : "1") + "; ";
        }
    };
    for (const auto& s : sources_) check(s, true, "a vDisk of the simulated cluster, with its Korvan INQUIRY pages");
    std::string error;
    std::vector<FixtureDevice> fixtures = buildFixtureDevices(work_ + "/fixture-devices", defaultCaptureDir(), &error);
    if (fixtures.empty()) {
        r.ok = false;
        r.problem += "no fixture devices: " + error;
        return r;
    }
    useSettings(fixtureSettings_);
    for (const auto& f : fixtures) check(f.path, f.korvan, "(fixture) " + f.what);
    useSettings(simSettings_);
    r.statuses = std::to_string(devices) + " devices, result 0 for a Korvan vDisk, 1 for anything else:";
    return r;
}

StepResult DemoRun::reconcileStep() {
    // One snapshot disappears behind the plug-in's back; reconcile must find exactly that one.
    const long long goneId = snapIds_[1];
    const std::string gone = job_->state().findSnap(goneId)->snapName;
    std::map<long long, int> before;
    for (long long id : snapIds_) before[id] = job_->state().findSnap(id)->status;
    nlohmann::json answer;
    std::string error;
    StepResult r;
    if (!sim_.control("/sim/admin/deleteSnapshot", {{"name", gone}}, &answer, &error)) {
        r.problem = "cannot delete " + gone + " on the simulator: " + error;
        return r;
    }
    CallOutcome o = job_->runSnap(SnapOp::Reconcile, snapIds_);
    r.ok = true;
    std::vector<const SnapItem*> items;
    for (long long id : snapIds_) {
        items.push_back(job_->state().findSnap(id));
        int status = items.back()->status;
        int expected = id == goneId ? static_cast<int>(kSnapGoneFromArray) : before[id];
        if (status != expected) {
            r.ok = false;
            r.problem = "item " + std::to_string(id) + " has status " + std::to_string(status) + ", expected " +
                        std::to_string(expected);
        }
    }
    r.statuses = statusSummary<SnapItem>(items, snapStatusOf, snapStatusName, nullptr) + " (deleted " + gone +
                 ": expected 24 " + snapStatusName(kSnapGoneFromArray) + ", the others unchanged)";
    return outcomeProblem(r, o);
}

int DemoRun::run() {
    std::string error;
    if (!setUp(&error)) {
        out_ << "demo: set-up failed: " << error << "\n";
        if (!work_.empty()) out_ << "demo: files are in " << work_ << "\n";
        return 1;
    }
    using Check = std::function<void(StepResult&)>;
    auto snap = [&](const char* name, SnapOp op, int expected, bool devices = false, const Check& check = nullptr) {
        step(name, snapChain_, [&] {
            StepResult r = snapStep(op, expected, devices);
            if (r.ok && check) check(r);
            snapChain_ = r.ok;
            return r;
        });
    };
    auto lun = [&](const char* name, LunOp op, short expected, bool device = false, const Check& check = nullptr) {
        step(name, lunChain_, [&] {
            StepResult r = lunStep(op, expected, device);
            if (r.ok && check) check(r);
            lunChain_ = r.ok;
            return r;
        });
    };
    const Check overwriteSources = [&](StepResult& r) {
        std::string error;
        if (!writeSources(after_, &error)) {
            r.ok = false;
            r.problem = "cannot write pattern " + after_.name + ": " + error;
            return;
        }
        r.details.push_back("wrote pattern " + after_.name + " (" + after_.sum +
                            ") over each source; the snapshots keep " + before_.name + " (" + before_.sum + ")");
    };

    step("supported", true, [&] { return supportStep(); });
    for (const auto& s : sources_) snapIds_.push_back(job_->addSnapItem(s, 0, 1));
    snap("prepare", SnapOp::Prepare, kSnapPrepared);
    snap("snap", SnapOp::Snap, kSnapCreated, false, overwriteSources);
    snap("map", SnapOp::Map, kSnapMapped, true, [&](StepResult& r) { checkMappedData(r); });
    snap("unmap", SnapOp::Unmap, kSnapUnmapped);
    snap("revert", SnapOp::Revert, kSnapReverted, false, [&](StepResult& r) { checkRevertedData(r); });
    step("reconcile", snapChain_, [&] {
        StepResult r = reconcileStep();
        snapChain_ = r.ok;
        return r;
    });
    snap("delete", SnapOp::Delete, kSnapDeleted);

    LunItem disk;
    disk.diskName = kDemoDisk;
    disk.arrayName = korvansim::kDefaultClusterName;
    disk.sizeBytes = kGiB;
    disk.description = "korvan-host demo";
    lunId_ = job_->addLunItem(disk);
    lun("lun create", LunOp::Create, kLunCreated);
    std::string info = job_->initiatorInfoFor({host_}, &error);
    if (info.empty()) {
        out_ << "demo: no map information for " << host_ << ": " << error << "\n";
        lunChain_ = false;
    }
    job_->state().findLun(lunId_)->initiatorInfo = info;
    lun("lun map", LunOp::Map, kLunMapped, true, [&](StepResult& r) { checkDiskSize(r); });
    lun("lun unmap", LunOp::Unmap, kLunUnmapped);
    job_->state().findLun(lunId_)->sizeBytes = 2 * kGiB;
    lun("lun resize", LunOp::Resize, kLunResized);
    lun("lun delete", LunOp::Delete, kLunDeleted);

    sim_.stop();
    const bool allPassed = passed_ == stepNo_;
    out_ << "\n" << passed_ << " of " << stepNo_ << " steps gave the expected statuses.\n";
    if (allPassed && !options_.keep) {
        job_.reset();  // its lock file is in the directory
        std::error_code ec;
        std::filesystem::remove_all(work_, ec);
        out_ << "Removed " << work_ << " (korvan-host demo --keep leaves it, with the logs and the job state).\n";
    } else {
        out_ << "Plug-in log: " << pluginLog_ << "\nJob state:   " << work_ << "/korvan-state.json"
             << " (korvan-host --state " << work_ << "/korvan-state.json status)\n"
             << "Remove " << work_ << " when done with it.\n";
    }
    return allPassed ? 0 : 1;
}

}  // namespace

int runDemo(const DemoOptions& options, std::ostream& out) {
    DemoRun demo(options, out);
    return demo.run();
}

}  // namespace KrvnHost
