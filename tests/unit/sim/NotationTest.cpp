#include <gtest/gtest.h>

#include "SimNotation.h"

using Json = nlohmann::json;
using korvansim::formDecode;
using korvansim::formField;
using korvansim::parseNotation;

namespace {

Json parsed(const std::string& text) {
    Json value;
    std::string message;
    EXPECT_TRUE(parseNotation(text, value, message)) << text << ": " << message;
    return value;
}

TEST(SimNotation, ReadsTheBodiesThePluginWrites) {
    struct Case {
        const char* text;
        Json expected;
    };
    const Case cases[] = {
        {"{type:Login, category:UserManagement, params:{userName:'admin', password:'p w', cluster:'c1'}}",
         {{"type", "Login"},
          {"category", "UserManagement"},
          {"params", {{"userName", "admin"}, {"password", "p w"}, {"cluster", "c1"}}}}},
        {"{type:MakeSnapshot, params:{virtualDisks:['a','b']}, sessionId:'s1'}",
         {{"type", "MakeSnapshot"}, {"params", {{"virtualDisks", {"a", "b"}}}}, {"sessionId", "s1"}}},
        {"{params:{size:{unit:'GB', value:10}, blockSize:4096, scsi3pr:false, encryption:true, diskType:BLOCK}}",
         {{"params",
           {{"size", {{"unit", "GB"}, {"value", 10}}},
            {"blockSize", 4096},
            {"scsi3pr", false},
            {"encryption", true},
            {"diskType", "BLOCK"}}}}},
        {"{value:1.5, neg:-3, big:1e3, word:v1.5x, nothing:null}",
         {{"value", 1.5}, {"neg", -3}, {"big", 1000.0}, {"word", "v1.5x"}, {"nothing", nullptr}}},
        // Quotes end a string; backslashes and other bytes are ordinary characters.
        {R"({a:'x\', b:"it's", c:'$snap$', d:[], e:{}})",
         {{"a", "x\\"}, {"b", "it's"}, {"c", "$snap$"}, {"d", Json::array()}, {"e", Json::object()}}},
        {"  [ 1 , 'two' , {three:3} ]  ", Json::array({1, "two", {{"three", 3}}})},
        {"{scsiSn:'4611686018427387905', n:4611686018427387905}",
         {{"scsiSn", "4611686018427387905"}, {"n", 4611686018427387905LL}}},
    };
    for (const auto& c : cases) EXPECT_EQ(parsed(c.text), c.expected) << c.text;
}

TEST(SimNotation, RefusesBrokenTextWithAReason) {
    struct Case {
        const char* text;
        const char* reason;
    };
    const std::string deep(200, '[');
    const Case cases[] = {
        {"", "text ended"},
        {"{type:Login", "unterminated object"},
        {"{type Login}", "':' expected after member 'type'"},
        {"{a:'open}", "unterminated string"},
        {"{a:[1,2}", "',' or ']' expected"},
        {"{a:1 b:2}", "',' or '}' expected"},
        {"{a:1}}", "unexpected text after the value"},
        {"{:1}", "unexpected character ':'"},
        {"[,]", "unexpected character ','"},
        {deep.c_str(), "nesting deeper than"},
    };
    for (const auto& c : cases) {
        Json value;
        std::string message;
        EXPECT_FALSE(parseNotation(c.text, value, message)) << c.text;
        EXPECT_NE(message.find(c.reason), std::string::npos) << c.text << " -> " << message;
        EXPECT_EQ(message.rfind("Unable to parse the request: ", 0), 0u) << message;
    }
}

TEST(SimNotation, DecodesFormsLikeAnyForm) {
    EXPECT_EQ(formDecode("a+b%20c%2Bd"), "a b c+d");
    EXPECT_EQ(formDecode("100%"), "100%");
    EXPECT_EQ(formDecode("%zz%4"), "%zz%4");
    EXPECT_EQ(formDecode("%41%62"), "Ab");

    std::string value;
    ASSERT_TRUE(formField("x=1&request={type:Login}&request=second", "request", value));
    EXPECT_EQ(value, "{type:Login}");
    ASSERT_TRUE(formField("request", "request", value));
    EXPECT_EQ(value, "");
    EXPECT_FALSE(formField("requests=1&x=2", "request", value));
    // An '&' inside a value splits the form, as it would at any form reader.
    ASSERT_TRUE(formField("request={name:'a&b'}", "request", value));
    EXPECT_EQ(value, "{name:'a");
}

}  // namespace
