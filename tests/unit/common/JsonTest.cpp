#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "KrvnJson.h"
#include "ZYSnapRESTAPI.h"

using ZYKorvanCommon::JsonDocument;
using ZYKorvanCommon::JsonValue;

namespace {

TEST(JsonHelper, EachAccessorTakesOnlyItsOwnTypeAndLeavesTheTargetOtherwise) {
    JsonDocument doc;
    ASSERT_TRUE(doc.parseObject(R"({"s":"text","b":true,"n":42,"o":{"inner":"x"},"a":[1,"two",false],"z":null})"));
    const JsonValue root = doc.root();
    for (const std::string key : {"s", "b", "n", "o", "a", "z", "missing"}) {
        std::string s = "kept";
        bool b = false;
        int64_t n = 7;
        JsonValue o, a;
        EXPECT_EQ(key == "s", root.getString(key, s)) << key;
        EXPECT_EQ(key == "b", root.getBool(key, b)) << key;
        EXPECT_EQ(key == "n", root.getInt64(key, n)) << key;
        EXPECT_EQ(key == "o", root.getObject(key, o)) << key;
        EXPECT_EQ(key == "a", root.getArray(key, a)) << key;
        EXPECT_EQ(key == "s" ? "text" : "kept", s);
        EXPECT_EQ(key == "b", b);
        EXPECT_EQ(key == "n" ? 42 : 7, n);
        EXPECT_EQ(key == "o", o.isPresent());
        EXPECT_EQ(key != "missing", root.has(key));
    }
    JsonValue o, a;
    std::string s;
    ASSERT_TRUE(root.getObject("o", o) && root.getArray("a", a));
    EXPECT_TRUE(o.getString("inner", s));
    EXPECT_EQ("x", s);
    ASSERT_EQ(3u, a.size());
    std::vector<std::string> seen;
    a.forEachElement([&](const JsonValue& e) { seen.push_back(e.isBool() ? "bool" : e.asString(s) ? s : "other"); });
    EXPECT_EQ((std::vector<std::string>{"other", "two", "bool"}), seen);
    size_t visited = 0;
    EXPECT_FALSE(a.forEachElementWhile([&](const JsonValue&) { return ++visited < 2; }));
    EXPECT_EQ(2u, visited) << "the walk stops where the callback says";
    // Object accessors on non-objects and array accessors on non-arrays answer absent.
    EXPECT_FALSE(a.member("x").isPresent());
    EXPECT_EQ(0u, o.size());
    EXPECT_FALSE(root.member("s").member("x").isPresent());
}

TEST(JsonHelper, IntegersAreExactInRangeTruncatedFromDoublesAndNeverWrapped) {
    const struct {
        const char* number;
        bool ok64;
        int64_t v64;
        bool ok32;
        bool ok16;
    } rows[] = {
        {"-5", true, -5, true, true},
        {"32767", true, 32767, true, true},
        {"32768", true, 32768, true, false},
        {"-32768", true, -32768, true, true},
        {"-32769", true, -32769, true, false},
        {"2147483647", true, 2147483647, true, false},
        {"2147483648", true, 2147483648LL, false, false},
        {"-2147483649", true, -2147483649LL, false, false},
        {"9223372036854775807", true, INT64_MAX, false, false},
        {"-9223372036854775808", true, INT64_MIN, false, false},
        {"9223372036854775808", false, 0, false, false},
        {"18446744073709551615", false, 0, false, false},
        {"3.9", true, 3, true, true},
        {"-3.9", true, -3, true, true},
        {"1e3", true, 1000, true, true},
        {"40000.5", true, 40000, true, false},
        {"3e9", true, 3000000000LL, false, false},
        {"9.3e18", false, 0, false, false},
        {"-9.3e18", false, 0, false, false},
        {"\"7\"", false, 0, false, false},
        {"true", false, 0, false, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.number);
        JsonDocument doc;
        ASSERT_TRUE(doc.parseObject(std::string(R"({"v":)") + row.number + "}"));
        const JsonValue root = doc.root();
        int64_t v64 = 77, self = 77;
        int32_t v32 = 77;
        int16_t v16 = 77;
        EXPECT_EQ(row.ok64, root.getInt64("v", v64));
        EXPECT_EQ(row.ok64 ? row.v64 : 77, v64);
        EXPECT_EQ(row.ok32, root.getInt32("v", v32));
        EXPECT_EQ(row.ok32 ? static_cast<int32_t>(row.v64) : 77, v32);
        EXPECT_EQ(row.ok16, root.getInt16("v", v16));
        EXPECT_EQ(row.ok16 ? static_cast<int16_t>(row.v64) : 77, v16);
        EXPECT_EQ(row.ok64, root.member("v").asInt64(self));
        EXPECT_EQ(row.ok64 ? row.v64 : 77, self);
    }
    // Beyond 64 bits the parser may refuse the text outright; if it accepts it, it must not read.
    JsonDocument doc;
    int64_t v = 77;
    EXPECT_FALSE(doc.parseObject(R"({"v":123456789012345678901234567890})") && doc.root().getInt64("v", v));
    EXPECT_EQ(77, v);
}

TEST(JsonHelper, MembersAreVisitedInByteWiseKeyOrder) {
    JsonDocument doc;
    ASSERT_TRUE(doc.parseObject(R"({"b":1,"a":2,"B":3,"\u00e4":4,"aa":5,"":6})"));
    std::vector<std::string> keys;
    std::vector<int64_t> values;
    doc.root().forEachMemberSorted([&](const std::string& key, const JsonValue& value) {
        int64_t v = 0;
        value.asInt64(v);
        keys.push_back(key);
        values.push_back(v);
    });
    EXPECT_EQ((std::vector<std::string>{"", "B", "a", "aa", "b", "\xC3\xA4"}), keys);
    EXPECT_EQ((std::vector<int64_t>{6, 3, 2, 5, 1, 4}), values);
    EXPECT_EQ(6u, doc.root().memberCount());
}

TEST(JsonHelper, OnlyValidObjectsParseAndAFailureForgetsThePreviousDocument) {
    JsonDocument doc;
    for (const char* text : {"", "{", "{\"k\":}", "not json", "{\"k\":1} trailing", "[1,2]", "42", "null", "{'k':1}"}) {
        ASSERT_TRUE(doc.parseObject(R"({"k":1})"));
        EXPECT_TRUE(doc.error().empty());
        EXPECT_FALSE(doc.parseObject(text)) << text;
        EXPECT_FALSE(doc.error().empty()) << text;
        EXPECT_FALSE(doc.root().isPresent()) << text;
    }
    // A string with room past its end is read where it lies (as the transport leaves each
    // answer): whatever lies past the end must not count.
    for (const std::string text : {R"({"k":[1,2]})", R"({"k":"ab"})"}) {
        std::string roomy = text + "]}\"x" + std::string(ZYSnapRESTAPI::kAnswerSlack, ']');
        roomy.resize(text.size());
        ASSERT_GE(roomy.capacity() - roomy.size(), ZYSnapRESTAPI::kAnswerSlack);
        ASSERT_TRUE(doc.parseObject(roomy)) << text << ": " << doc.error();
        EXPECT_TRUE(doc.root().has("k")) << text;
    }
}

// Parsers are kept between documents: a document made after another one ended, or while
// another is still read, must never show the other's values.
TEST(JsonHelper, DocumentsAliveTogetherOrOneAfterAnotherKeepTheirOwnValues) {
    const std::string big = "{\"rows\":[" + std::string(300000, ' ') + "1],\"name\":\"big\"}";
    for (int round = 0; round < 3; ++round) {
        JsonDocument outer;
        ASSERT_TRUE(outer.parseObject(R"({"name":"outer","n":1})"));
        const JsonValue outerRoot = outer.root();
        {
            JsonDocument inner;
            ASSERT_TRUE(inner.parseObject(round == 1 ? big : std::string(R"({"name":"inner","n":2})")));
            EXPECT_EQ(ZYKorvanCommon::jsonText(inner.root(), "name"), round == 1 ? "big" : "inner");
            std::string name;
            EXPECT_TRUE(outerRoot.getString("name", name));
            EXPECT_EQ(name, "outer") << "round " << round;
        }
        JsonDocument after;
        EXPECT_FALSE(after.root().isPresent()) << "a new document holds nothing before its parse";
        ASSERT_TRUE(after.parseObject(R"({"name":"after"})"));
        EXPECT_EQ(ZYKorvanCommon::jsonText(after.root(), "name"), "after");
        EXPECT_EQ(ZYKorvanCommon::jsonText(outerRoot, "name"), "outer");
    }
}

}  // namespace
