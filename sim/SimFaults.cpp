#include "SimFaults.h"

namespace korvansim {

namespace {

constexpr size_t kSequenceKept = 1000;

const std::map<std::string, FaultKind>& kindNames() {
    static const std::map<std::string, FaultKind> names = {
        {"drop", FaultKind::Drop},           {"status", FaultKind::Status},         {"notjson", FaultKind::NotJson},
        {"wrongtype", FaultKind::WrongType}, {"wrongshape", FaultKind::WrongShape}, {"message", FaultKind::Message},
        {"latency", FaultKind::Latency}};
    return names;
}

std::string kindName(FaultKind kind) {
    for (const auto& [n, k] : kindNames())
        if (k == kind) return n;
    return "?";
}

}  // namespace

bool FaultBook::add(const Json& faultJson, std::string& message) {
    try {
        Fault f;
        f.type = faultJson.at("type").get<std::string>();
        auto kind = kindNames().find(faultJson.at("kind").get<std::string>());
        if (kind == kindNames().end()) {
            message = "unknown fault kind [" + faultJson.at("kind").get<std::string>() + "]";
            return false;
        }
        f.kind = kind->second;
        f.status = faultJson.value("status", f.status);
        f.message = faultJson.value("message", f.message);
        f.latencyMs = faultJson.value("latencyMs", f.latencyMs);
        f.count = faultJson.value("count", f.count);
        f.after = faultJson.value("after", f.after);
        // A slow or oddly shaped answer still reports work the cluster did.
        bool answerChanges =
            f.kind == FaultKind::Latency || f.kind == FaultKind::WrongType || f.kind == FaultKind::WrongShape;
        f.apply = faultJson.value("apply", answerChanges);
        if (f.type.empty() || f.count == 0 || f.count < -1 || f.latencyMs < 0 || f.after < 0 || f.status < 100 ||
            f.status > 599) {
            message =
                "fault needs a type, a count of -1 or more than 0, a latency and an after of 0 or more and an HTTP "
                "status";
            return false;
        }
        faults_.push_back(f);
        return true;
    } catch (const std::exception& e) {
        message = std::string("invalid fault: ") + e.what();
        return false;
    }
}

std::optional<Fault> FaultBook::take(const std::string& type) {
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
        if (it->type != type && it->type != "*") continue;
        if (it->after > 0) {
            --it->after;
            continue;
        }
        Fault f = *it;
        if (it->count > 0 && --it->count == 0) faults_.erase(it);
        return f;
    }
    return std::nullopt;
}

Json FaultBook::dump() const {
    Json out = Json::array();
    for (const auto& f : faults_)
        out.push_back({{"type", f.type},
                       {"kind", kindName(f.kind)},
                       {"status", f.status},
                       {"message", f.message},
                       {"latencyMs", f.latencyMs},
                       {"count", f.count},
                       {"after", f.after},
                       {"apply", f.apply}});
    return out;
}

void Counters::request(const std::string& type) {
    ++requests_[type];
    ++rest_;
    sequence_.push_back(type);
    if (sequence_.size() > kSequenceKept) sequence_.pop_front();
}

void Counters::clear() {
    requests_.clear();
    san_.clear();
    sequence_.clear();
    rest_ = 0;
    connections_ = 0;
    tlsConnections_ = 0;
}

Json Counters::dump() const {
    return {{"requests", requests_},
            {"san", san_},
            {"rest", rest_},
            {"connections", connections_.load()},
            {"tlsConnections", tlsConnections_.load()},
            {"sequence", sequence_}};
}

long Counters::requests(const std::string& type) const {
    auto it = requests_.find(type);
    return it == requests_.end() ? 0 : it->second;
}

}  // namespace korvansim
