// korvan-host: the host framework stand-in on the command line.
//
// One method per family of sub-commands declares their options; the sub-command that parses
// leaves one action, which runs after parsing. Every action that touches the state runs
// inside withJob (state lock, load, save), and every entry call prints through report.
#include <CLI/CLI.hpp>

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <cstring>
#include <iostream>

#include "Demo.h"
#include "HostJob.h"
#include "HostProgress.h"
#include "HostReport.h"
#include "HostSizes.h"
#include "HostTexts.h"
#include "ZYPassword.h"
#include "ZYPlatformInfo.h"

using namespace KrvnHost;

namespace {

const int kUsageError = 2;

// A password from standard input, without echo on a terminal, so it stays out of the shell's
// history and the process list.
std::string readSecretFromStdin() {
    bool tty = ::isatty(STDIN_FILENO);
    termios saved{};
    if (tty) {
        std::cerr << "Password: " << std::flush;
        ::tcgetattr(STDIN_FILENO, &saved);
        termios quiet = saved;
        quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
        ::tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
    std::string line;
    std::getline(std::cin, line);
    if (tty) {
        ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
        std::cerr << "\n";
    }
    return line;
}

// Progress goes to standard error. A terminal gets the line redrawn in place, unless the
// platform's log goes there too (no [Platform] logFile) and would break into it.
ProgressDisplay::Options progressOptions(bool follow, bool quiet) {
    ProgressDisplay::Options options;
    options.mode = quiet ? ProgressMode::Quiet : follow ? ProgressMode::Follow : ProgressMode::Status;
    const char* term = std::getenv("TERM");
    options.terminal = ::isatty(STDERR_FILENO) && term && std::strcmp(term, "dumb") != 0 &&
                       !ZyPlatform::platformString(kPlatformLogFile, "").empty();
    winsize size{};
    if (options.terminal && ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        options.width = size.ws_col;
    return options;
}

class HostCli {
public:
    int run(int argc, char** argv);

private:
    void addArrays(CLI::App& app);
    void addSnapshots(CLI::App& app);
    void addLuns(CLI::App& app);
    void addSettings(CLI::App& app);
    void addTools(CLI::App& app);

    int withJob(bool needPlugin, const std::function<int(HostJob&)>& work, Access access = Access::Write);
    int report(const CallOutcome& outcome, HostJob& job);
    // Every failure of korvan-host itself: a line on standard error, or with --json an object on
    // standard output, so a script that reads the output always gets JSON.
    int fail(const std::string& text, int code = 1);
    void warnAboutSettings();
    bool sizeOrFail(long long* bytes);
    int saveOrFail(HostJob& job);
    int addArray(HostJob& job);
    int lunMapOrUnmap(HostJob& job, LunOp op);
    int status(HostJob& job);

    // Global options.
    std::string statePath_ = "korvan-state.json";
    std::string pluginPath_;
    bool json_ = false;
    bool follow_ = false, quiet_ = false;
    std::unique_ptr<ProgressDisplay> progress_;
    std::function<int()> action_;

    struct ArrayArgs {
        std::string name, host, user, password, stored, vendor = kKorvanVendor, serial;
        int port = 0, https = -1, retryCount = -1, retryInterval = -1, logging = -1;
        std::vector<std::string> proxies, configs;
    } array_;
    std::string removeName_;
    std::vector<std::string> prepareDevices_;
    bool testClone_ = false;
    int cloneNumber_ = 1;
    std::map<std::string, std::vector<long long>> snapIds_;
    struct LunArgs {
        std::string name, array, description, initiatorInfo;
        std::string sizeGb, sizeBytes;
        long blockSize = 4096;
        std::vector<long> ids;
        std::vector<std::string> hosts;
        bool force = false;
    } lun_;
    std::vector<long long> forgetIds_;
    bool forgetForce_ = false;
    std::string settingKey_, settingValue_;
    int logLines_ = 0;
    std::string clearPassword_;
    std::vector<std::string> supportedDevices_;
    DemoOptions demo_;
};

int HostCli::fail(const std::string& text, int code) {
    if (json_)
        std::cout << nlohmann::json{{"error", text}, {"exitStatus", code}}.dump(2) << "\n";
    else
        std::cerr << "korvan-host: " << text << "\n";
    return code;
}

// The plug-in and the password store read the settings file; one that gives nothing is
// otherwise silent, every setting quietly at its default.
void HostCli::warnAboutSettings() {
    std::string warning = settingsWarning();
    if (!warning.empty()) std::cerr << "korvan-host: warning: " << warning << "\n";
}

bool HostCli::sizeOrFail(long long* bytes) {
    std::string error;
    if (sizeFromOptions(lun_.sizeGb, lun_.sizeBytes, bytes, &error)) return true;
    fail(error, kUsageError);
    return false;
}

int HostCli::withJob(bool needPlugin, const std::function<int(HostJob&)>& work, Access access) {
    Plugin plugin;
    std::string error;
    if (needPlugin) {
        warnAboutSettings();
        if (!plugin.load(pluginPath_.empty() ? Plugin::defaultPath() : pluginPath_, &error)) return fail(error);
    }
    HostJob job(StateFile(statePath_), plugin);
    if (!job.begin(&error, access)) return fail(error);
    if (needPlugin) {
        progress_ = std::make_unique<ProgressDisplay>(std::cerr, progressOptions(follow_, quiet_));
        // Platform lines the platform writes to standard error itself are not shown twice.
        job.watch(progress_.get(), !ZyPlatform::platformString(kPlatformLogFile, "").empty());
    }
    return work(job);
}

int HostCli::report(const CallOutcome& outcome, HostJob& job) {
    if (json_)
        std::cout << outcomeJson(outcome, job.state()).dump(2) << "\n";
    else
        printOutcome(std::cout, outcome, job.state());
    return outcome.result == 0 ? 0 : 1;
}

int HostCli::saveOrFail(HostJob& job) {
    std::string error;
    return job.save(&error) ? 0 : fail(error);
}

// ---- arrays ----

void HostCli::addArrays(CLI::App& app) {
    auto* arrays = app.add_subcommand("arrays", "Array Management entries");
    arrays->require_subcommand(1);
    ArrayArgs& a = array_;
    auto* add = arrays->add_subcommand("add", "Add or replace an array entry");
    add->add_option("name", a.name, "Array (cluster) name")->required();
    add->add_option("--host", a.host, "Control host of the cluster's REST service")->required();
    add->add_option("--user", a.user, "REST user name")->required();
    add->add_option("--password", a.password,
                    "Clear password, stored encrypted (ZYP1:) under [Platform] keyFile; read from "
                    "standard input when neither this nor --stored-password is given");
    add->add_option("--stored-password", a.stored, "Password already in the stored ZYP1: form");
    add->add_option("--vendor", a.vendor, "Vendor the entry is filed under")->capture_default_str();
    add->add_option("--serial", a.serial, "Cluster serial, when already known");
    add->add_option("--port", a.port, "SMCONFIG_NAME_SERVER_PORT");
    add->add_option("--https", a.https, "SMCONFIG_NAME_USE_SECURE_CONNECTION (1: HTTPS)");
    add->add_option("--retry-count", a.retryCount, "SMCONFIG_NAME_SNAP_OP_RETRY_COUNT");
    add->add_option("--retry-interval", a.retryInterval, "SMCONFIG_NAME_SNAP_OP_RETRY_INTERVAL_IN_SEC");
    add->add_option("--diagnostic-logging", a.logging, "SMCONFIG_NAME_ENABLE_DIAGNOSTIC_LOGGING");
    add->add_option("--proxy", a.proxies, "Storage proxy (repeat; the first is used)");
    add->add_option("--config", a.configs, "Any other integer setting as KEY=VALUE (repeat)");
    add->callback(
        [this] { action_ = [this] { return withJob(false, [this](HostJob& job) { return addArray(job); }); }; });

    auto* list = arrays->add_subcommand("list", "List the array entries (passwords are never shown)");
    list->callback([this] {
        action_ = [this] {
            return withJob(
                false,
                [this](HostJob& job) {
                    if (!json_) {
                        printArrayTable(std::cout, job.state());
                        return 0;
                    }
                    nlohmann::json out = nlohmann::json::array();
                    for (const auto& entry : job.state().arrays) out.push_back(arrayJson(entry));
                    std::cout << out.dump(2) << "\n";
                    return 0;
                },
                Access::Read);
        };
    });

    auto* remove = arrays->add_subcommand("remove", "Remove an array entry");
    remove->add_option("name", removeName_, "Array name")->required();
    remove->callback([this] {
        action_ = [this] {
            return withJob(false, [this](HostJob& job) {
                auto& all = job.state().arrays;
                auto it =
                    std::find_if(all.begin(), all.end(), [&](const ArrayEntry& e) { return e.name == removeName_; });
                if (it == all.end()) return fail("no array " + removeName_);
                all.erase(it);
                return saveOrFail(job);
            });
        };
    });
}

int HostCli::addArray(HostJob& job) {
    const ArrayArgs& a = array_;
    ArrayEntry entry;
    ArrayEntry* old = job.state().findArray(a.name);
    entry.number = old ? old->number : job.state().nextArrayNumber();
    entry.name = a.name;
    entry.vendor = a.vendor;
    entry.controlHost = a.host;
    entry.user = a.user;
    entry.serial = a.serial;
    std::string error;
    if (!a.stored.empty()) {
        entry.storedPassword = a.stored;
    } else {
        warnAboutSettings();
        std::string clear = a.password.empty() ? readSecretFromStdin() : a.password;
        if (!ZYPassword::encrypt(clear, &entry.storedPassword, &error))
            return fail("cannot encrypt the password: " + error);
    }
    const std::pair<const char*, int> numbers[] = {
        {kCfgServerPort, a.port > 0 ? a.port : -1}, {kCfgSecureConnection, a.https},    {kCfgRetryCount, a.retryCount},
        {kCfgRetryInterval, a.retryInterval},       {kCfgDiagnosticLogging, a.logging},
    };
    for (const auto& [key, value] : numbers)
        if (value >= 0) entry.configInts[key] = value;
    for (const auto& kv : a.configs) {
        size_t eq = kv.find('=');
        try {
            if (eq == std::string::npos || eq == 0) throw std::invalid_argument(kv);
            size_t used = 0;
            std::string number = kv.substr(eq + 1);
            entry.configInts[kv.substr(0, eq)] = std::stoi(number, &used);
            if (used != number.size()) throw std::invalid_argument(kv);
        } catch (const std::exception&) {
            return fail("--config wants KEY=INTEGER, got " + kv, kUsageError);
        }
    }
    if (!a.proxies.empty()) entry.configLists[kCfgStorageProxyList] = a.proxies;
    if (old)
        *old = entry;
    else
        job.state().arrays.push_back(entry);
    if (saveOrFail(job)) return 1;
    if (json_)
        std::cout << arrayJson(entry).dump(2) << "\n";
    else
        printArrayTable(std::cout, job.state());
    return 0;
}

// ---- snapshot operations ----

void HostCli::addSnapshots(CLI::App& app) {
    auto* prepare = app.add_subcommand("prepare", "New snapshot items for source devices, then zyso_prepareDevices");
    prepare->add_option("devices", prepareDevices_, "Source block devices, e.g. /dev/sdb")->required();
    prepare->add_flag("--test-clone", testClone_, "Set request flag 0x8000 (test clone named by clone number)");
    prepare->add_option("--clone-number", cloneNumber_, "Clone number of the new items")->capture_default_str();
    prepare->callback([this] {
        action_ = [this] {
            return withJob(true, [this](HostJob& job) {
                std::vector<long long> ids;
                for (const auto& d : prepareDevices_)
                    ids.push_back(job.addSnapItem(d, testClone_ ? kFlagTestClone : 0, cloneNumber_));
                return report(job.runSnap(SnapOp::Prepare, ids), job);
            });
        };
    });
    const struct {
        const char* name;
        SnapOp op;
        const char* help;
    } commands[] = {
        {"snap", SnapOp::Snap, "zyso_snapDevices: snapshot the items (default: prepared items)"},
        {"map", SnapOp::Map, "zyso_mapSnaps: map the snapshots to this host (default: unmapped snapshots)"},
        {"unmap", SnapOp::Unmap, "zyso_unmapSnaps: unmap the snapshots (default: mapped items)"},
        {"revert", SnapOp::Revert, "zyso_revertSnaps: revert the sources to the snapshots (default: every snapshot)"},
        {"reconcile", SnapOp::Reconcile,
         "zyso_reconcileSnaps: check the snapshots are still on the array (default: every snapshot)"},
        {"delete", SnapOp::Delete, "zyso_deleteSnaps: delete the snapshots (default: every snapshot not deleted)"},
    };
    for (const auto& c : commands) {
        auto* sub = app.add_subcommand(c.name, c.help);
        std::vector<long long>& ids = snapIds_[c.name];
        sub->add_option("ids", ids, "Snapshot item ids (see status)");
        SnapOp op = c.op;
        sub->callback([this, op, &ids] {
            action_ = [this, op, &ids] {
                return withJob(true, [&](HostJob& job) { return report(job.runSnap(op, ids), job); });
            };
        });
    }
}

// ---- provisioning ----

void HostCli::addLuns(CLI::App& app) {
    auto* lun = app.add_subcommand("lun", "Provisioning of vDisks");
    lun->require_subcommand(1);
    LunArgs& l = lun_;
    auto* create = lun->add_subcommand(
        "create",
        "zyso_createLUNs on a new provisioning item, or on the one of that name whose create never completed");
    create->add_option("name", l.name, "vDisk name")->required();
    create->add_option("--array", l.array, "Array entry of the cluster (default: the only one)");
    create->add_option("--size-gb", l.sizeGb, "Size in GiB (the disk is made of whole GiB, at least one)");
    create->add_option("--size-bytes", l.sizeBytes, "Size in bytes");
    create->add_option("--block-size", l.blockSize, "Block size in bytes: 512, 4096 or 65536 (others become 4096)")
        ->capture_default_str();
    create->add_option("--description", l.description, "Description of the new vDisk");
    create->callback([this] {
        action_ = [this] {
            return withJob(true, [this](HostJob& job) {
                LunItem item;
                if (!sizeOrFail(&item.sizeBytes)) return kUsageError;
                item.diskName = lun_.name;
                item.arrayName = lun_.array;
                if (item.arrayName.empty() && job.state().arrays.size() == 1)
                    item.arrayName = job.state().arrays.front().name;
                item.blockSize = lun_.blockSize;
                item.description = lun_.description;
                return report(job.runLun(LunOp::Create, {job.lunItemForCreate(item)}), job);
            });
        };
    });

    auto* resize = lun->add_subcommand("resize", "zyso_resizeLUNs: a new size for one item");
    resize->add_option("id", l.ids, "Provisioning item id")->required()->expected(1);
    resize->add_option("--size-gb", l.sizeGb, "New size in GiB (the cluster only grows disks)");
    resize->add_option("--size-bytes", l.sizeBytes, "New size in bytes");
    resize->callback([this] {
        action_ = [this] {
            return withJob(true, [this](HostJob& job) {
                long long size = 0;
                if (!sizeOrFail(&size)) return kUsageError;
                if (LunItem* item = job.state().findLun(lun_.ids.front())) item->sizeBytes = size;
                return report(job.runLun(LunOp::Resize, lun_.ids), job);
            });
        };
    });

    auto* remove = lun->add_subcommand("delete", "zyso_deleteLUNs");
    remove->add_option("ids", l.ids, "Provisioning item ids")->required();
    remove->add_flag("--force", l.force, "Also delete a disk the cluster already had when its item was created");
    remove->callback([this] {
        action_ = [this] {
            return withJob(
                true, [this](HostJob& job) { return report(job.runLun(LunOp::Delete, lun_.ids, lun_.force), job); });
        };
    });

    auto* forget = lun->add_subcommand("forget", "Remove provisioning items from the state (the cluster is not asked)");
    forget->add_option("ids", l.ids, "Provisioning item ids")->required();
    forget->add_flag("--force", l.force, "Also items whose disk is on the cluster (the disk stays)");
    forget->callback([this] {
        action_ = [this] {
            return withJob(false, [this](HostJob& job) {
                std::string error;
                if (!job.forgetLuns(lun_.ids, lun_.force, &error)) return fail(error);
                return saveOrFail(job);
            });
        };
    });

    for (LunOp op : {LunOp::Map, LunOp::Unmap}) {
        bool isMap = op == LunOp::Map;
        auto* sub = lun->add_subcommand(isMap ? "map" : "unmap", isMap ? "zyso_mapLUNs" : "zyso_unmapLUNs");
        sub->add_option("ids", l.ids, "Provisioning item ids")->required();
        sub->add_option("--host", l.hosts,
                        isMap ? "Host to map to (repeat; default: this machine)"
                              : "Host to unmap from (repeat; default: the hosts of the map)");
        sub->add_option("--initiator-info", l.initiatorInfo, "Host map information JSON, instead of --host");
        sub->callback([this, op] {
            action_ = [this, op] { return withJob(true, [this, op](HostJob& job) { return lunMapOrUnmap(job, op); }); };
        });
    }
}

int HostCli::lunMapOrUnmap(HostJob& job, LunOp op) {
    std::string info = lun_.initiatorInfo;
    // An unmap without hosts undoes what the map recorded on each item.
    bool keepRecorded = info.empty() && lun_.hosts.empty() && op == LunOp::Unmap;
    if (info.empty() && !keepRecorded) {
        std::vector<std::string> hosts = lun_.hosts;
        if (hosts.empty()) hosts.push_back(localHostName());
        std::string error;
        info = job.initiatorInfoFor(hosts, &error);
        if (info.empty()) return fail(error);
    }
    for (long id : lun_.ids)
        if (LunItem* item = job.state().findLun(id))
            if (!keepRecorded || item->initiatorInfo.empty()) item->initiatorInfo = info;
    return report(job.runLun(op, lun_.ids), job);
}

// ---- host settings ----

void HostCli::addSettings(CLI::App& app) {
    auto* settings =
        app.add_subcommand("settings", "Host settings the provisioning items answer (e.g. nZYKorvanReplicationFactor)");
    settings->require_subcommand(1);
    auto* set = settings->add_subcommand("set", "Set a host setting");
    set->add_option("key", settingKey_, "Setting name")->required();
    set->add_option("value", settingValue_, "Value (number, or true/false)")->required();
    auto* unset = settings->add_subcommand("unset", "Remove a host setting");
    unset->add_option("key", settingKey_, "Setting name")->required();
    auto* list = settings->add_subcommand("list", "List the host settings");
    enum Kind { kSet, kUnset, kList };
    auto make = [this](Kind kind) {
        return [this, kind] {
            action_ = [this, kind] {
                return withJob(
                    false,
                    [this, kind](HostJob& job) {
                        auto& all = job.state().settings;
                        if (kind == kSet) all[settingKey_] = settingValue_;
                        if (kind == kUnset) all.erase(settingKey_);
                        if (kind != kList && saveOrFail(job)) return 1;
                        if (json_)
                            std::cout << nlohmann::json(all).dump(2) << "\n";
                        else
                            for (const auto& [k, v] : all) std::cout << "  " << k << " = " << v << "\n";
                        return 0;
                    },
                    kind == kList ? Access::Read : Access::Write);
            };
        };
    };
    set->callback(make(kSet));
    unset->callback(make(kUnset));
    list->callback(make(kList));
}

// ---- status, passwords, support check, demo ----

int HostCli::status(HostJob& job) {
    HostState& st = job.state();
    size_t keep = static_cast<size_t>(std::max(logLines_, 0));
    size_t from = st.log.size() > keep ? st.log.size() - keep : 0;
    if (json_) {
        nlohmann::json out{{"arrays", nlohmann::json::array()},
                           {"snapItems", nlohmann::json::array()},
                           {"lunItems", nlohmann::json::array()},
                           {"log", nlohmann::json::array()}};
        for (const auto& a : st.arrays) out["arrays"].push_back(arrayJson(a));
        for (const auto& s : st.snaps) out["snapItems"].push_back(snapItemJson(s));
        for (const auto& l : st.luns) out["lunItems"].push_back(lunItemJson(l));
        for (size_t i = from; i < st.log.size(); ++i) out["log"].push_back(st.log[i]);
        std::cout << out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
        return 0;
    }
    std::cout << "Arrays:\n";
    printArrayTable(std::cout, st);
    std::cout << "Snapshot items:\n";
    printSnapTable(std::cout, st, {});
    std::cout << "Provisioning items:\n";
    printLunTable(std::cout, st, {});
    for (const auto& s : st.snaps)
        if (s.lastErrorCode)
            std::cout << "Item " << s.id << " last error " << s.lastErrorCode << ": " << s.lastError << "\n";
    for (const auto& l : st.luns)
        if (l.lastErrorCode)
            std::cout << "Disk item " << l.id << " last error " << l.lastErrorCode << ": " << l.lastError << "\n";
    if (from < st.log.size()) std::cout << "Job log:\n";
    for (size_t i = from; i < st.log.size(); ++i)
        std::cout << "  [" << st.log[i].jobId << "] " << st.log[i].text << "\n";
    return 0;
}

void HostCli::addTools(CLI::App& app) {
    auto* status = app.add_subcommand("status", "Show arrays, items, last errors and the end of the job log");
    status->add_option("--log", logLines_, "Also show the last N lines of the job log");
    // Read only, so it answers while another command holds the state file.
    status->callback([this] {
        action_ = [this] {
            return withJob(
                false, [this](HostJob& job) { return this->status(job); }, Access::Read);
        };
    });

    auto* forget = app.add_subcommand("forget", "Remove snapshot items from the state (the cluster is not asked)");
    forget->add_option("ids", forgetIds_, "Snapshot item ids")->required();
    forget->add_flag("--force", forgetForce_, "Also items whose snapshot is on the cluster (the snapshot stays)");
    forget->callback([this] {
        action_ = [this] {
            return withJob(false, [this](HostJob& job) {
                std::string error;
                if (!job.forgetSnaps(forgetIds_, forgetForce_, &error)) return fail(error);
                return saveOrFail(job);
            });
        };
    });

    auto* encrypt =
        app.add_subcommand("encrypt-password", "Print the stored (ZYP1:) form of a password under [Platform] keyFile");
    encrypt->add_option("password", clearPassword_, "Clear password (read from standard input when absent)");
    encrypt->callback([this] {
        action_ = [this] {
            warnAboutSettings();
            std::string clear = clearPassword_.empty() ? readSecretFromStdin() : clearPassword_;
            std::string stored, error;
            if (!ZYPassword::encrypt(clear, &stored, &error)) return fail("cannot encrypt the password: " + error);
            std::cout << stored << "\n";
            return 0;
        };
    });

    auto* supported = app.add_subcommand("supported", "zyso_isSupported for each device; 0 when all are supported");
    supported->add_option("devices", supportedDevices_, "Block devices to check")->required();
    supported->callback([this] {
        action_ = [this] {
            return withJob(true, [this](HostJob& job) {
                int worst = 0;
                nlohmann::json out = nlohmann::json::array();
                for (const auto& d : supportedDevices_) {
                    int r = job.isSupported(d);
                    worst = std::max(worst, r == 0 ? 0 : 1);
                    if (json_)
                        out.push_back({{"device", d}, {"result", r}, {"supported", r == 0}});
                    else
                        std::cout << "  " << d << ": " << (r == 0 ? "supported" : "not supported") << " (result " << r
                                  << ")\n";
                }
                if (json_) std::cout << out.dump(2) << "\n";
                return worst;
            });
        };
    });

    auto* demo = app.add_subcommand("demo", "Start korvan-sim and run the whole life cycle against it");
    demo->add_option("--sim", demo_.simPath, "Path of korvan-sim (default: next to this program)");
    demo->add_flag("--verbose", demo_.verbose, "Print the item tables of every step");
    demo->add_flag("--virtual-time", demo_.virtualTime,
                   "Run the plug-in's fixed waits on virtual time (well under a second instead of about 16 s)");
    demo->add_flag("--keep", demo_.keep,
                   "Leave the work directory (logs, settings, job state) after a demo that passed");
    demo->callback([this] {
        action_ = [this] {
            demo_.pluginPath = pluginPath_;
            return runDemo(demo_, std::cout);
        };
    });
}

int HostCli::run(int argc, char** argv) {
    CLI::App app{
        "korvan-host: the host framework stand-in. Keeps the job state in a file, loads "
        "libZYKorvanSnap.so and drives its entry points."};
    app.add_option("--state", statePath_, "Job state file (JSON)")->capture_default_str();
    app.add_option(
        "--plugin", pluginPath_,
        "Path of libZYKorvanSnap.so (default: the plug-in folder of this installation, or of the build tree)");
    app.add_flag("--json", json_, "Print machine-readable JSON instead of tables");
    auto* follow = app.add_flag("--follow", follow_,
                                "While an entry point runs, print every line the plug-in logs for the job as it comes "
                                "(default: one progress line with the latest of them and the elapsed time)");
    app.add_flag("--quiet", quiet_, "Print no progress while an entry point runs")->excludes(follow);
    app.require_subcommand(1);
    app.fallthrough();
    addArrays(app);
    addSnapshots(app);
    addLuns(app);
    addSettings(app);
    addTools(app);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // --json may come after the error CLI11 stopped at.
        for (int i = 1; i < argc && !json_; ++i) json_ = std::string(argv[i]) == "--json";
        if (e.get_exit_code() != 0 && json_) return fail(e.what(), kUsageError);
        int code = app.exit(e);
        return code == 0 ? 0 : kUsageError;
    }
    return action_ ? action_() : kUsageError;
}

}  // namespace

int main(int argc, char** argv) {
    HostCli cli;
    return cli.run(argc, argv);
}
