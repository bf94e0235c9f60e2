#include "HostReport.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <sstream>

#include "HostSizes.h"
#include "HostTexts.h"
#include "ZYPlatformInfo.h"

namespace KrvnHost {

using nlohmann::json;

namespace {

// A plain text table: column widths from the widest cell.
class Table {
public:
    explicit Table(std::vector<std::string> header) { rows_.push_back(std::move(header)); }
    void add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }
    void print(std::ostream& out) const {
        std::vector<size_t> width(rows_[0].size(), 0);
        for (const auto& r : rows_)
            for (size_t i = 0; i < r.size() && i < width.size(); ++i) width[i] = std::max(width[i], r[i].size());
        for (const auto& r : rows_) {
            std::string line;
            for (size_t i = 0; i < r.size(); ++i) {
                line += r[i];
                if (i + 1 < r.size()) line += std::string(width[i] - r[i].size() + 2, ' ');
            }
            out << "  " << line << "\n";
        }
    }

private:
    std::vector<std::vector<std::string>> rows_;
};

std::string statusCell(int status, const char* name) { return std::to_string(status) + " " + name; }

std::string orDash(const std::string& text) { return text.empty() ? "-" : text; }

}  // namespace

json snapItemJson(const SnapItem& s) {
    json j = s;
    j["statusName"] = snapStatusName(s.status);
    return j;
}

json lunItemJson(const LunItem& l) {
    json j = l;
    j["statusName"] = lunStatusName(l.status);
    return j;
}

json arrayJson(const ArrayEntry& a) {
    json j = a;
    j.erase("storedPassword");
    return j;
}

json outcomeJson(const CallOutcome& o, HostState& state) {
    json j{{"operation", o.operation},
           {"result", o.result},
           {"errorCode", o.errorCode},
           {"errorText", o.errorText},
           {"durationSeconds", o.seconds}};
    if (!o.hostError.empty()) j["hostError"] = o.hostError;
    if (!o.notes.empty()) j["notes"] = o.notes;
    json items = json::array();
    for (long long id : o.snapIds)
        if (const SnapItem* s = state.findSnap(id)) items.push_back(snapItemJson(*s));
    for (long id : o.lunIds)
        if (const LunItem* l = state.findLun(id)) items.push_back(lunItemJson(*l));
    j["items"] = items;
    return j;
}

void printSnapTable(std::ostream& out, HostState& state, const std::vector<long long>& ids) {
    Table t({"ID", "SOURCE", "STATUS", "SNAPSHOT", "MAPPED DEVICE"});
    auto add = [&](const SnapItem& s) {
        t.add({std::to_string(s.id), orDash(s.sourceDevice), statusCell(s.status, snapStatusName(s.status)),
               orDash(s.snapName), orDash(s.mappedDevice)});
    };
    if (ids.empty()) {
        for (const auto& s : state.snaps) add(s);
    } else {
        for (long long id : ids)
            if (const SnapItem* s = state.findSnap(id)) add(*s);
    }
    t.print(out);
}

void printLunTable(std::ostream& out, HostState& state, const std::vector<long>& ids) {
    // The size the cluster reported, which is not always the size asked for.
    Table t({"ID", "DISK", "ARRAY", "SIZE", "STATUS", "DEVICE"});
    auto add = [&](const LunItem& l) {
        t.add({std::to_string(l.id), orDash(l.diskName), orDash(l.arrayName),
               l.clusterSizeBytes > 0 ? sizeText(l.clusterSizeBytes) : "-",
               statusCell(l.status, lunStatusName(l.status)), orDash(l.deviceName)});
    };
    if (ids.empty()) {
        for (const auto& l : state.luns) add(l);
    } else {
        for (long id : ids)
            if (const LunItem* l = state.findLun(id)) add(*l);
    }
    t.print(out);
}

void printArrayTable(std::ostream& out, const HostState& state) {
    Table t({"NO", "NAME", "VENDOR", "CONTROL HOST", "USER", "SERIAL", "STORAGE PROXIES"});
    for (const auto& a : state.arrays) {
        std::string proxies;
        auto it = a.configLists.find(kCfgStorageProxyList);
        if (it != a.configLists.end())
            for (const auto& p : it->second) proxies += (proxies.empty() ? "" : ",") + p;
        t.add({std::to_string(a.number), a.name, a.vendor, a.controlHost, a.user, orDash(a.serial), orDash(proxies)});
    }
    t.print(out);
}

void printOutcome(std::ostream& out, const CallOutcome& o, HostState& state) {
    if (!o.snapIds.empty()) printSnapTable(out, state, o.snapIds);
    if (!o.lunIds.empty()) printLunTable(out, state, o.lunIds);
    std::ostringstream took;
    took << std::fixed << std::setprecision(2) << o.seconds;
    out << o.operation << ": " << (o.result == 0 ? "succeeded" : "FAILED") << " (result " << o.result << ", "
        << took.str() << " s)\n";
    if (!o.hostError.empty()) out << "  host error: " << o.hostError << "\n";
    if (o.result != 0 && (o.errorCode != 0 || !o.errorText.empty()))
        out << "  error " << o.errorCode << ": " << o.errorText << "\n";
    for (const auto& note : o.notes) out << "  note: " << note << "\n";
}

std::string settingsWarning() {
    std::string path;
    int openError = 0;
    const int line = ZYPlatformInfo::checkSettingsFile(&path, &openError);
    if (line == 0) return "";
    if (line < 0)
        return "the settings file " + path + " cannot be read (" + std::strerror(openError) +
               "): every setting takes its default. Point ZY_SETTINGS_FILE at your settings file.";
    std::ifstream in(path);
    std::string text;
    for (int n = 0; n < line && std::getline(in, text);) ++n;
    return "line " + std::to_string(line) + " of the settings file " + path + " cannot be parsed: \"" + text +
           "\". That line is ignored; below a broken [section] line, keys stay in the section before it.";
}

}  // namespace KrvnHost
