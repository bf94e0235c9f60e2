// korvan-host: the host framework stand-in on the command line.
#include <CLI/CLI.hpp>

#include <iostream>
#include <unistd.h>

#include "Demo.h"
#include "HostJob.h"
#include "HostReport.h"
#include "HostTexts.h"
#include "ZYPassword.h"

using namespace KrvnHost;

namespace {

const int kUsageError = 2;

struct Globals {
    std::string statePath = "korvan-state.json";
    std::string pluginPath;
    bool json = false;
};

// Loads the plug-in (when asked) and the state, then runs the action; 1 on any host failure.
int withJob(const Globals& g, bool needPlugin, const std::function<int(HostJob&)>& action) {
    Plugin plugin;
    std::string error;
    if (needPlugin && !plugin.load(g.pluginPath.empty() ? Plugin::defaultPath() : g.pluginPath, &error)) {
        std::cerr << "korvan-host: " << error << "\n";
        return 1;
    }
    HostJob job(StateFile(g.statePath), plugin);
    if (!job.begin(&error)) {
        std::cerr << "korvan-host: " << error << "\n";
        return 1;
    }
    return action(job);
}

int report(const Globals& g, const CallOutcome& outcome, HostJob& job) {
    if (g.json) std::cout << outcomeJson(outcome, job.state()).dump(2) << "\n";
    else printOutcome(std::cout, outcome, job.state());
    return outcome.result == 0 ? 0 : 1;
}

int saveOrFail(HostJob& job) {
    std::string error;
    if (job.save(&error)) return 0;
    std::cerr << "korvan-host: " << error << "\n";
    return 1;
}

// Sizes: whole GiB or bytes, exactly one of them.
bool sizeFrom(long long gib, long long bytes, long long* out) {
    if ((gib > 0) == (bytes > 0)) {
        std::cerr << "korvan-host: give exactly one of --size-gb and --size-bytes\n";
        return false;
    }
    *out = gib > 0 ? gib * (1LL << 30) : bytes;
    return true;
}

std::string readSecretFromStdin() {
    if (::isatty(STDIN_FILENO)) std::cerr << "Password: " << std::flush;
    std::string line;
    std::getline(std::cin, line);
    return line;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"korvan-host: the host framework stand-in. Keeps the job state in a file, loads "
                 "libZYKorvanSnap.so and drives its entry points."};
    Globals g;
    app.add_option("--state", g.statePath, "Job state file (JSON)")->capture_default_str();
    app.add_option("--plugin", g.pluginPath, "Path of libZYKorvanSnap.so (default: ../lib next to this program)");
    app.add_flag("--json", g.json, "Print machine-readable JSON instead of tables");
    app.require_subcommand(1);
    app.fallthrough();
    std::function<int()> action;

    // ---- arrays ----
    auto* arrays = app.add_subcommand("arrays", "Array Management entries");
    arrays->require_subcommand(1);
    struct ArrayArgs {
        std::string name, host, user, password, stored, vendor = kKorvanVendor, serial;
        int port = 0, https = -1, retryCount = -1, retryInterval = -1, logging = -1;
        std::vector<std::string> proxies, configs;
    } aa;
    auto* add = arrays->add_subcommand("add", "Add or replace an array entry");
    add->add_option("name", aa.name, "Array (cluster) name")->required();
    add->add_option("--host", aa.host, "Control host of the cluster's REST service")->required();
    add->add_option("--user", aa.user, "REST user name")->required();
    add->add_option("--password", aa.password, "Clear password; stored encrypted (ZYP1:) under [Platform] keyFile");
    add->add_option("--stored-password", aa.stored, "Password already in the stored ZYP1: form");
    add->add_option("--vendor", aa.vendor, "Vendor the entry is filed under")->capture_default_str();
    add->add_option("--serial", aa.serial, "Cluster serial, when already known");
    add->add_option("--port", aa.port, "SMCONFIG_NAME_SERVER_PORT");
    add->add_option("--https", aa.https, "SMCONFIG_NAME_USE_SECURE_CONNECTION (1: HTTPS)");
    add->add_option("--retry-count", aa.retryCount, "SMCONFIG_NAME_SNAP_OP_RETRY_COUNT");
    add->add_option("--retry-interval", aa.retryInterval, "SMCONFIG_NAME_SNAP_OP_RETRY_INTERVAL_IN_SEC");
    add->add_option("--diagnostic-logging", aa.logging, "SMCONFIG_NAME_ENABLE_DIAGNOSTIC_LOGGING");
    add->add_option("--proxy", aa.proxies, "Storage proxy (repeat; the first is used)");
    add->add_option("--config", aa.configs, "Any other integer setting as KEY=VALUE (repeat)");
    add->callback([&] {
        action = [&] {
            return withJob(g, false, [&](HostJob& job) {
                ArrayEntry entry;
                if (ArrayEntry* old = job.state().findArray(aa.name)) entry.number = old->number;
                else entry.number = job.state().nextArrayNumber();
                entry.name = aa.name;
                entry.vendor = aa.vendor;
                entry.controlHost = aa.host;
                entry.user = aa.user;
                entry.serial = aa.serial;
                std::string error;
                if (!aa.stored.empty()) {
                    entry.storedPassword = aa.stored;
                } else {
                    std::string clear = aa.password.empty() ? readSecretFromStdin() : aa.password;
                    if (!ZYPassword::encrypt(clear, &entry.storedPassword, &error)) {
                        std::cerr << "korvan-host: cannot encrypt the password: " << error << "\n";
                        return 1;
                    }
                }
                auto setInt = [&](const char* key, int value) {
                    if (value >= 0) entry.configInts[key] = value;
                };
                setInt(kCfgServerPort, aa.port > 0 ? aa.port : -1);
                setInt(kCfgSecureConnection, aa.https);
                setInt(kCfgRetryCount, aa.retryCount);
                setInt(kCfgRetryInterval, aa.retryInterval);
                setInt(kCfgDiagnosticLogging, aa.logging);
                for (const auto& kv : aa.configs) {
                    size_t eq = kv.find('=');
                    if (eq == std::string::npos || eq == 0) {
                        std::cerr << "korvan-host: --config wants KEY=VALUE, got " << kv << "\n";
                        return kUsageError;
                    }
                    try {
                        entry.configInts[kv.substr(0, eq)] = std::stoi(kv.substr(eq + 1));
                    } catch (const std::exception&) {
                        std::cerr << "korvan-host: --config value is not a number: " << kv << "\n";
                        return kUsageError;
                    }
                }
                if (!aa.proxies.empty()) entry.configLists[kCfgStorageProxyList] = aa.proxies;
                if (ArrayEntry* old = job.state().findArray(aa.name)) *old = entry;
                else job.state().arrays.push_back(entry);
                if (saveOrFail(job)) return 1;
                if (g.json) std::cout << arrayJson(entry).dump(2) << "\n";
                else printArrayTable(std::cout, job.state());
                return 0;
            });
        };
    });
    auto* list = arrays->add_subcommand("list", "List the array entries (passwords are never shown)");
    list->callback([&] {
        action = [&] {
            return withJob(g, false, [&](HostJob& job) {
                if (g.json) {
                    nlohmann::json out = nlohmann::json::array();
                    for (const auto& a : job.state().arrays) out.push_back(arrayJson(a));
                    std::cout << out.dump(2) << "\n";
                } else {
                    printArrayTable(std::cout, job.state());
                }
                return 0;
            });
        };
    });
    std::string removeName;
    auto* remove = arrays->add_subcommand("remove", "Remove an array entry");
    remove->add_option("name", removeName, "Array name")->required();
    remove->callback([&] {
        action = [&] {
            return withJob(g, false, [&](HostJob& job) {
                auto& all = job.state().arrays;
                auto it = std::find_if(all.begin(), all.end(), [&](const ArrayEntry& a) { return a.name == removeName; });
                if (it == all.end()) {
                    std::cerr << "korvan-host: no array " << removeName << "\n";
                    return 1;
                }
                all.erase(it);
                return saveOrFail(job);
            });
        };
    });

    // ---- snapshot operations ----
    std::vector<std::string> prepareDevices;
    bool testClone = false;
    int cloneNumber = 1;
    auto* prepare = app.add_subcommand("prepare", "New snapshot items for source devices, then zyso_prepareDevices");
    prepare->add_option("devices", prepareDevices, "Source block devices, e.g. /dev/sdb")->required();
    prepare->add_flag("--test-clone", testClone, "Set request flag 0x8000 (test clone named by clone number)");
    prepare->add_option("--clone-number", cloneNumber, "Clone number of the new items")->capture_default_str();
    prepare->callback([&] {
        action = [&] {
            return withJob(g, true, [&](HostJob& job) {
                std::vector<long long> ids;
                for (const auto& d : prepareDevices)
                    ids.push_back(job.addSnapItem(d, testClone ? kFlagTestClone : 0, cloneNumber));
                return report(g, job.runSnap(SnapOp::Prepare, ids), job);
            });
        };
    });
    struct SnapCmd {
        const char* name;
        SnapOp op;
        const char* help;
    };
    const SnapCmd snapCmds[] = {
        {"snap", SnapOp::Snap, "zyso_snapDevices: snapshot the items (default: prepared items)"},
        {"map", SnapOp::Map, "zyso_mapSnaps: map the snapshots to this host (default: unmapped snapshots)"},
        {"unmap", SnapOp::Unmap, "zyso_unmapSnaps: unmap the snapshots (default: mapped items)"},
        {"revert", SnapOp::Revert, "zyso_revertSnaps: revert the sources to the snapshots (default: every snapshot)"},
        {"reconcile", SnapOp::Reconcile, "zyso_reconcileSnaps: check the snapshots are still on the array (default: every snapshot)"},
        {"delete", SnapOp::Delete, "zyso_deleteSnaps: delete the snapshots (default: every snapshot not deleted)"},
    };
    std::map<std::string, std::vector<long long>> snapIds;
    for (const auto& c : snapCmds) {
        auto* sub = app.add_subcommand(c.name, c.help);
        sub->add_option("ids", snapIds[c.name], "Snapshot item ids (see status)");
        SnapOp op = c.op;
        std::string name = c.name;
        sub->callback([&, op, name] {
            action = [&, op, name] {
                return withJob(g, true, [&](HostJob& job) { return report(g, job.runSnap(op, snapIds[name]), job); });
            };
        });
    }

    // ---- provisioning ----
    auto* lun = app.add_subcommand("lun", "Provisioning of vDisks");
    lun->require_subcommand(1);
    struct LunArgs {
        std::string name, array, description, initiatorInfo;
        long long sizeGb = 0, sizeBytes = 0;
        long blockSize = 4096;
        std::vector<long> ids;
        std::vector<std::string> hosts;
    } la;
    auto* lcreate = lun->add_subcommand("create", "New provisioning item, then zyso_createLUNs");
    lcreate->add_option("name", la.name, "vDisk name")->required();
    lcreate->add_option("--array", la.array, "Array entry of the cluster (default: the only one)");
    lcreate->add_option("--size-gb", la.sizeGb, "Size in GiB");
    lcreate->add_option("--size-bytes", la.sizeBytes, "Size in bytes");
    lcreate->add_option("--block-size", la.blockSize, "Block size in bytes")->capture_default_str();
    lcreate->add_option("--description", la.description, "Description of the new vDisk");
    lcreate->callback([&] {
        action = [&] {
            return withJob(g, true, [&](HostJob& job) {
                LunItem item;
                if (!sizeFrom(la.sizeGb, la.sizeBytes, &item.sizeBytes)) return kUsageError;
                item.diskName = la.name;
                item.arrayName = la.array;
                if (item.arrayName.empty() && job.state().arrays.size() == 1)
                    item.arrayName = job.state().arrays.front().name;
                item.blockSize = la.blockSize;
                item.description = la.description;
                long id = job.addLunItem(item);
                return report(g, job.runLun(LunOp::Create, {id}), job);
            });
        };
    });
    auto* lresize = lun->add_subcommand("resize", "zyso_resizeLUNs: new size for one item");
    lresize->add_option("id", la.ids, "Provisioning item id")->required()->expected(1);
    lresize->add_option("--size-gb", la.sizeGb, "New size in GiB");
    lresize->add_option("--size-bytes", la.sizeBytes, "New size in bytes");
    lresize->callback([&] {
        action = [&] {
            return withJob(g, true, [&](HostJob& job) {
                LunItem* item = job.state().findLun(la.ids.front());
                long long size = 0;
                if (!sizeFrom(la.sizeGb, la.sizeBytes, &size)) return kUsageError;
                if (item) item->sizeBytes = size;
                return report(g, job.runLun(LunOp::Resize, la.ids), job);
            });
        };
    });
    auto* ldelete = lun->add_subcommand("delete", "zyso_deleteLUNs");
    ldelete->add_option("ids", la.ids, "Provisioning item ids")->required();
    ldelete->callback([&] {
        action = [&] {
            return withJob(g, true, [&](HostJob& job) { return report(g, job.runLun(LunOp::Delete, la.ids), job); });
        };
    });
    for (LunOp op : {LunOp::Map, LunOp::Unmap}) {
        bool isMap = op == LunOp::Map;
        auto* sub = lun->add_subcommand(isMap ? "map" : "unmap", isMap ? "zyso_mapLUNs" : "zyso_unmapLUNs");
        sub->add_option("ids", la.ids, "Provisioning item ids")->required();
        sub->add_option("--host", la.hosts,
                        "Host to map to / unmap from (repeat; default: this machine, or the hosts of the last map)");
        sub->add_option("--initiator-info", la.initiatorInfo, "Host map information JSON, instead of --host");
        sub->callback([&, op] {
            action = [&, op] {
                return withJob(g, true, [&](HostJob& job) {
                    std::string info = la.initiatorInfo;
                    bool keepStored = info.empty() && la.hosts.empty() && op == LunOp::Unmap;
                    if (info.empty() && !keepStored) {
                        std::vector<std::string> hosts = la.hosts;
                        if (hosts.empty()) hosts.push_back(localHostName());
                        std::string error;
                        info = job.initiatorInfoFor(hosts, &error);
                        if (info.empty()) {
                            std::cerr << "korvan-host: " << error << "\n";
                            return 1;
                        }
                    }
                    for (long id : la.ids)
                        if (LunItem* item = job.state().findLun(id))
                            if (!keepStored || item->initiatorInfo.empty()) item->initiatorInfo = info;
                    return report(g, job.runLun(op, la.ids), job);
                });
            };
        });
    }

    // ---- host settings (answered to provisioning items) ----
    auto* hostSettings = app.add_subcommand("settings", "Host settings the provisioning items answer "
                                                        "(e.g. nZYKorvanReplicationFactor)");
    hostSettings->require_subcommand(1);
    std::string settingKey, settingValue;
    auto* sset = hostSettings->add_subcommand("set", "Set a host setting");
    sset->add_option("key", settingKey, "Setting name")->required();
    sset->add_option("value", settingValue, "Value (number, or true/false)")->required();
    auto* sunset = hostSettings->add_subcommand("unset", "Remove a host setting");
    sunset->add_option("key", settingKey, "Setting name")->required();
    auto* slist = hostSettings->add_subcommand("list", "List the host settings");
    auto settingsAction = [&](int kind) {
        action = [&, kind] {
            return withJob(g, false, [&](HostJob& job) {
                auto& all = job.state().settings;
                if (kind == 0) all[settingKey] = settingValue;
                if (kind == 1) all.erase(settingKey);
                if (kind != 2 && saveOrFail(job)) return 1;
                if (g.json) std::cout << nlohmann::json(all).dump(2) << "\n";
                else
                    for (const auto& [k, v] : all) std::cout << "  " << k << " = " << v << "\n";
                return 0;
            });
        };
    };
    sset->callback([&] { settingsAction(0); });
    sunset->callback([&] { settingsAction(1); });
    slist->callback([&] { settingsAction(2); });

    // ---- the rest ----
    int logLines = 0;
    auto* status = app.add_subcommand("status", "Show arrays, items and the end of the job log");
    status->add_option("--log", logLines, "Also show the last N lines of the job log");
    status->callback([&] {
        action = [&] {
            return withJob(g, false, [&](HostJob& job) {
                HostState& st = job.state();
                size_t from = st.log.size() > static_cast<size_t>(std::max(logLines, 0))
                                  ? st.log.size() - static_cast<size_t>(std::max(logLines, 0))
                                  : 0;
                if (g.json) {
                    nlohmann::json out;
                    out["arrays"] = nlohmann::json::array();
                    for (const auto& a : st.arrays) out["arrays"].push_back(arrayJson(a));
                    out["snapItems"] = nlohmann::json::array();
                    for (const auto& s : st.snaps) out["snapItems"].push_back(snapItemJson(s));
                    out["lunItems"] = nlohmann::json::array();
                    for (const auto& l : st.luns) out["lunItems"].push_back(lunItemJson(l));
                    out["log"] = nlohmann::json::array();
                    for (size_t i = from; i < st.log.size(); ++i)
                        out["log"].push_back({{"job", st.log[i].jobId}, {"level", st.log[i].level}, {"text", st.log[i].text}});
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
                    if (s.lastErrorCode) std::cout << "Item " << s.id << " last error " << s.lastErrorCode << ": " << s.lastError << "\n";
                for (const auto& l : st.luns)
                    if (l.lastErrorCode) std::cout << "Disk item " << l.id << " last error " << l.lastErrorCode << ": " << l.lastError << "\n";
                if (logLines > 0) {
                    std::cout << "Job log:\n";
                    for (size_t i = from; i < st.log.size(); ++i)
                        std::cout << "  [" << st.log[i].jobId << "] " << st.log[i].text << "\n";
                }
                return 0;
            });
        };
    });

    std::string clearPassword;
    auto* encrypt = app.add_subcommand("encrypt-password",
                                       "Print the stored (ZYP1:) form of a password under [Platform] keyFile");
    encrypt->add_option("password", clearPassword, "Clear password (read from standard input when absent)");
    encrypt->callback([&] {
        action = [&] {
            std::string clear = clearPassword.empty() ? readSecretFromStdin() : clearPassword;
            std::string stored, error;
            if (!ZYPassword::encrypt(clear, &stored, &error)) {
                std::cerr << "korvan-host: cannot encrypt the password: " << error << "\n";
                return 1;
            }
            std::cout << stored << "\n";
            return 0;
        };
    });

    std::vector<std::string> supportedDevices;
    auto* supported = app.add_subcommand("supported", "zyso_isSupported for each device");
    supported->add_option("devices", supportedDevices, "Block devices to check")->required();
    supported->callback([&] {
        action = [&] {
            return withJob(g, true, [&](HostJob& job) {
                int worst = 0;
                nlohmann::json out = nlohmann::json::array();
                for (const auto& d : supportedDevices) {
                    int r = job.isSupported(d);
                    worst = std::max(worst, r == 0 ? 0 : 1);
                    if (g.json) out.push_back({{"device", d}, {"result", r}, {"supported", r == 0}});
                    else std::cout << "  " << d << ": " << (r == 0 ? "supported" : "not supported") << " (result " << r << ")\n";
                }
                if (g.json) std::cout << out.dump(2) << "\n";
                return worst;
            });
        };
    });

    DemoOptions demoOptions;
    auto* demo = app.add_subcommand("demo", "Start korvan-sim and run the whole life cycle against it");
    demo->add_option("--sim", demoOptions.simPath, "Path of korvan-sim (default: next to this program)");
    demo->add_flag("--verbose", demoOptions.verbose, "Print the item tables of every step");
    demo->callback([&] {
        action = [&] {
            demoOptions.pluginPath = g.pluginPath;
            return runDemo(demoOptions, std::cout);
        };
    });

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int code = app.exit(e);
        return code == 0 ? 0 : kUsageError;
    }
    return action ? action() : kUsageError;
}
