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
nlohmann::json arrayJson(const ArrayEntry& array);   // never the password
nlohmann::json outcomeJson(const CallOutcome& outcome, HostState& state);

// ids empty: every item.
void printSnapTable(std::ostream& out, HostState& state, const std::vector<long long>& ids);
void printLunTable(std::ostream& out, HostState& state, const std::vector<long>& ids);
void printArrayTable(std::ostream& out, const HostState& state);
// The table of the items handed over, then the result and, on failure, code and error text.
void printOutcome(std::ostream& out, const CallOutcome& outcome, HostState& state);

}  // namespace KrvnHost
