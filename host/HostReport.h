// What korvan-host prints: item tables and call outcomes, as text for people or as JSON.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "HostJob.h"
#include "HostState.h"

namespace KrvnHost {

nlohmann::json snapItemJson(const SnapItem& item);
nlohmann::json lunItemJson(const LunItem& item);
nlohmann::json arrayJson(const ArrayEntry& array);  // never the password
nlohmann::json outcomeJson(const CallOutcome& outcome, HostState& state);

// ids empty: every item.
void printSnapTable(std::ostream& out, HostState& state, const std::vector<long long>& ids);
void printLunTable(std::ostream& out, HostState& state, const std::vector<long>& ids);
void printArrayTable(std::ostream& out, const HostState& state);
// The table of the items handed over, then the result, on failure code and error text, and the
// host's notes.
void printOutcome(std::ostream& out, const CallOutcome& outcome, HostState& state);

// Why the settings file the platform reads gives fewer settings than it holds (missing,
// unreadable, a line the parser refused), with its path; empty when it was read whole.
std::string settingsWarning();

}  // namespace KrvnHost
