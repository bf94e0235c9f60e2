// Typed access over simdjson's DOM. Only the error-code API is used: nothing here throws.
#include "KrvnJson.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>
#include <type_traits>
#include <utility>
#include <vector>

#include <simdjson.h>

#include "ZYSnapRESTAPI.h"

namespace ZYKorvanCommon {

namespace dom = simdjson::dom;

static_assert(ZYSnapRESTAPI::kAnswerSlack >= simdjson::SIMDJSON_PADDING, "answers leave the parser too little room");
static_assert(sizeof(dom::element) <= JsonValue::kStorage, "dom::element must fit the value storage");
static_assert(std::is_trivially_copyable<dom::element>::value, "dom::element is copied bytewise");

namespace {

dom::element elementOf(const JsonValue& value) {
    dom::element e;
    std::memcpy(static_cast<void*>(&e), value.storage_, sizeof(e));
    return e;
}

JsonValue valueOf(const dom::element& e) {
    JsonValue v;
    std::memcpy(v.storage_, static_cast<const void*>(&e), sizeof(e));
    v.present_ = true;
    return v;
}

// The number as a signed integer in [lo, hi]; doubles are truncated toward zero and
// must be finite. Anything else (not a number, out of range) is refused.
bool numberInRange(const JsonValue& value, int64_t lo, int64_t hi, int64_t& out) {
    if (!value.isPresent()) return false;
    dom::element e = elementOf(value);
    switch (e.type()) {
        case dom::element_type::INT64: {
            int64_t n = 0;
            if (e.get_int64().get(n) != simdjson::SUCCESS || n < lo || n > hi) return false;
            out = n;
            return true;
        }
        case dom::element_type::UINT64: {
            uint64_t n = 0;
            if (e.get_uint64().get(n) != simdjson::SUCCESS || n > static_cast<uint64_t>(hi)) return false;
            out = static_cast<int64_t>(n);
            return true;
        }
        case dom::element_type::DOUBLE: {
            double d = 0;
            if (e.get_double().get(d) != simdjson::SUCCESS || !std::isfinite(d)) return false;
            double t = std::trunc(d);
            // 2^63 is exactly representable; every double below it converts without overflow.
            if (t < static_cast<double>(lo) || t >= -static_cast<double>(std::numeric_limits<int64_t>::min()))
                return false;
            int64_t n = static_cast<int64_t>(t);
            if (n < lo || n > hi) return false;
            out = n;
            return true;
        }
        default:
            return false;
    }
}

template <class Int>
bool memberInt(const JsonValue& obj, std::string_view key, Int& out) {
    int64_t n = 0;
    if (!numberInRange(obj.member(key), std::numeric_limits<Int>::min(), std::numeric_limits<Int>::max(), n))
        return false;
    out = static_cast<Int>(n);
    return true;
}

bool isType(const JsonValue& value, dom::element_type type) {
    return value.isPresent() && elementOf(value).type() == type;
}

}  // namespace

JsonValue::JsonValue() { std::memset(storage_, 0, sizeof(storage_)); }

bool JsonValue::isPresent() const { return present_; }
bool JsonValue::isObject() const { return isType(*this, dom::element_type::OBJECT); }
bool JsonValue::isArray() const { return isType(*this, dom::element_type::ARRAY); }
bool JsonValue::isString() const { return isType(*this, dom::element_type::STRING); }
bool JsonValue::isBool() const { return isType(*this, dom::element_type::BOOL); }

bool JsonValue::isNumber() const {
    if (!present_) return false;
    dom::element_type t = elementOf(*this).type();
    return t == dom::element_type::INT64 || t == dom::element_type::UINT64 || t == dom::element_type::DOUBLE;
}

JsonValue JsonValue::member(std::string_view key) const {
    if (!isObject()) return JsonValue();
    dom::object obj;
    if (elementOf(*this).get_object().get(obj) != simdjson::SUCCESS) return JsonValue();
    dom::element found;
    if (obj.at_key(key).get(found) != simdjson::SUCCESS) return JsonValue();
    return valueOf(found);
}

bool JsonValue::getString(std::string_view key, std::string& out) const { return member(key).asString(out); }
bool JsonValue::getStringView(std::string_view key, std::string_view& out) const {
    return member(key).asStringView(out);
}
bool JsonValue::getBool(std::string_view key, bool& out) const { return member(key).asBool(out); }
bool JsonValue::getInt64(std::string_view key, int64_t& out) const { return memberInt(*this, key, out); }
bool JsonValue::getInt32(std::string_view key, int32_t& out) const { return memberInt(*this, key, out); }
bool JsonValue::getInt16(std::string_view key, int16_t& out) const { return memberInt(*this, key, out); }

bool JsonValue::getObject(std::string_view key, JsonValue& out) const {
    JsonValue v = member(key);
    if (!v.isObject()) return false;
    out = v;
    return true;
}

bool JsonValue::getArray(std::string_view key, JsonValue& out) const {
    JsonValue v = member(key);
    if (!v.isArray()) return false;
    out = v;
    return true;
}

bool JsonValue::asString(std::string& out) const {
    std::string_view s;
    if (!asStringView(s)) return false;
    out.assign(s.data(), s.size());
    return true;
}

bool JsonValue::asStringView(std::string_view& out) const {
    if (!isString()) return false;
    std::string_view s;
    if (elementOf(*this).get_string().get(s) != simdjson::SUCCESS) return false;
    out = s;
    return true;
}

bool JsonValue::asBool(bool& out) const {
    if (!isBool()) return false;
    bool b = false;
    if (elementOf(*this).get_bool().get(b) != simdjson::SUCCESS) return false;
    out = b;
    return true;
}

bool JsonValue::asInt64(int64_t& out) const {
    int64_t n = 0;
    if (!numberInRange(*this, std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max(), n))
        return false;
    out = n;
    return true;
}

size_t JsonValue::size() const {
    if (!isArray()) return 0;
    dom::array arr;
    if (elementOf(*this).get_array().get(arr) != simdjson::SUCCESS) return 0;
    return arr.size();
}

void JsonValue::forEachElement(const std::function<void(const JsonValue&)>& fn) const {
    forEachElementWhile([&fn](const JsonValue& e) {
        fn(e);
        return true;
    });
}

bool JsonValue::forEachElementWhile(const std::function<bool(const JsonValue&)>& fn) const {
    if (!isArray()) return true;
    dom::array arr;
    if (elementOf(*this).get_array().get(arr) != simdjson::SUCCESS) return true;
    for (dom::element e : arr)
        if (!fn(valueOf(e))) return false;
    return true;
}

void JsonValue::forEachMemberSorted(const std::function<void(const std::string& key, const JsonValue&)>& fn) const {
    if (!isObject()) return;
    dom::object obj;
    if (elementOf(*this).get_object().get(obj) != simdjson::SUCCESS) return;
    std::vector<std::pair<std::string, JsonValue>> members;
    members.reserve(obj.size());
    for (dom::key_value_pair kv : obj) members.emplace_back(std::string(kv.key), valueOf(kv.value));
    // std::string compares with char_traits<char>, which orders as unsigned bytes.
    std::stable_sort(members.begin(), members.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& m : members) fn(m.first, m.second);
}

size_t JsonValue::memberCount() const {
    if (!isObject()) return 0;
    dom::object obj;
    if (elementOf(*this).get_object().get(obj) != simdjson::SUCCESS) return 0;
    return obj.size();
}

struct JsonDocument::State {
    dom::parser parser;
    dom::element root;
    bool parsed = false;
};

namespace {

// A parser grows buffers to the largest text it read; making them again for every answer
// costs more than reading a small answer. A few parsers are kept between documents (shared by
// the threads, under a lock), but none that grew past this, so a rare huge answer does not
// stay resident in the host.
constexpr size_t kKeptParserCapacity = 1 << 20;
constexpr size_t kKeptParsers = 8;

struct IdleParsers {
    std::mutex mutex;
    std::vector<std::unique_ptr<JsonDocument::State>> states;
};

IdleParsers& idleParsers() {
    static IdleParsers idle;
    return idle;
}

}  // namespace

JsonDocument::JsonDocument() {
    IdleParsers& idle = idleParsers();
    {
        std::lock_guard<std::mutex> lock(idle.mutex);
        if (!idle.states.empty()) {
            state_ = std::move(idle.states.back());
            idle.states.pop_back();
        }
    }
    if (!state_) state_.reset(new State());
    state_->parsed = false;
}

JsonDocument::~JsonDocument() {
    if (!state_ || state_->parser.capacity() > kKeptParserCapacity) return;
    IdleParsers& idle = idleParsers();
    std::lock_guard<std::mutex> lock(idle.mutex);
    if (idle.states.size() < kKeptParsers) idle.states.push_back(std::move(state_));
}

bool JsonDocument::parseObject(std::string_view text) { return parse(text, false); }

bool JsonDocument::parseObject(const std::string& text) {
    // The bytes past the end are only read ahead, never relied on; they need not be set.
    return parse(text, text.capacity() - text.size() >= simdjson::SIMDJSON_PADDING);
}

bool JsonDocument::parse(std::string_view text, bool padded) {
    state_->parsed = false;
    error_.clear();
    if (text.empty()) {
        error_ = simdjson::error_message(simdjson::EMPTY);
        return false;
    }
    dom::element root;
    // Without room past its end the parser copies the text into a padded buffer of its own.
    simdjson::error_code err = state_->parser.parse(text.data(), text.size(), !padded).get(root);
    if (err != simdjson::SUCCESS) {
        error_ = simdjson::error_message(err);
        return false;
    }
    if (root.type() != dom::element_type::OBJECT) {
        error_ = "the top level is not an object";
        return false;
    }
    state_->root = root;
    state_->parsed = true;
    return true;
}

JsonValue JsonDocument::root() const {
    if (!state_->parsed) return JsonValue();
    return valueOf(state_->root);
}

}  // namespace ZYKorvanCommon
