#include <gtest/gtest.h>

#include "SimNotation.h"

using Json = nlohmann::json;
using korvansim::formDecode;
using korvansim::formField;
using korvansim::parseNotation;

namespace {

TEST(SimNotation, ReadsTheBodiesThePluginWrites) {
    const std::pair<const char*, Json> cases[] = {
        {"{type:Login, params:{userName:'admin', password:'p w'}, list:['a','b']}",
         {{"type", "Login"}, {"params", {{"userName", "admin"}, {"password", "p w"}}}, {"list", {"a", "b"}}}},
        {"{size:{unit:'GB', value:10}, scsi3pr:false, encryption:true, v:1.5, neg:-3, big:1e3, w:v1.5x, n:null}",
         {{"size", {{"unit", "GB"}, {"value", 10}}},
          {"scsi3pr", false},
          {"encryption", true},
          {"v", 1.5},
          {"neg", -3},
          {"big", 1000.0},
          {"w", "v1.5x"},
          {"n", nullptr}}},
        // Quotes end a string; backslashes and other bytes are ordinary characters.
        {R"({a:'x\', b:"it's", c:'$snap$', d:[], e:{}})",
         {{"a", "x\\"}, {"b", "it's"}, {"c", "$snap$"}, {"d", Json::array()}, {"e", Json::object()}}},
        {"  [ 1 , 'two' , {three:3} ]  ", Json::array({1, "two", {{"three", 3}}})},
        {"{s:'4611686018427387905', n:4611686018427387905}",
         {{"s", "4611686018427387905"}, {"n", 4611686018427387905LL}}},
    };
    for (const auto& [text, expected] : cases) {
        Json value;
        std::string message;
        EXPECT_TRUE(parseNotation(text, value, message)) << text << ": " << message;
        EXPECT_EQ(value, expected) << text;
    }
}

TEST(SimNotation, RefusesBrokenTextWithAReason) {
    const std::string deep(200, '[');
    const std::pair<const char*, const char*> cases[] = {
        {"", "text ended"},
        {"{type:Login", "unterminated object"},
        {"{type Login}", "':' expected after member 'type'"},
        {"{a:'open}", "unterminated string"},
        {"{a:[1,2}", "',' or ']' expected"},
        {"{a:1 b:2}", "',' or '}' expected"},
        {"{a:1}}", "unexpected text after the value"},
        {"[,]", "unexpected character ','"},
        {deep.c_str(), "nesting deeper than"},
    };
    for (const auto& [text, reason] : cases) {
        Json value;
        std::string message;
        EXPECT_FALSE(parseNotation(text, value, message)) << text;
        EXPECT_EQ(message.rfind("Unable to parse the request: ", 0), 0u) << message;
        EXPECT_NE(message.find(reason), std::string::npos) << text << " -> " << message;
    }
}

TEST(SimNotation, DecodesFormsLikeAnyForm) {
    for (const auto& [in, out] : {std::pair<const char*, const char*>{"a+b%20c%2Bd", "a b c+d"},
                                  {"%41%62", "Ab"},
                                  {"100%", "100%"},
                                  {"%zz%4", "%zz%4"}})
        EXPECT_EQ(formDecode(in), out) << in;
    const std::string every = "a Z9-._~+%&=/\x01\xff'";
    EXPECT_EQ(korvansim::percentEncode(every), "a%20Z9-._~%2B%25%26%3D%2F%01%FF%27");
    EXPECT_EQ(formDecode(korvansim::percentEncode(every)), every);
    std::string value;
    ASSERT_TRUE(formField("x=1&request={type:Login}&request=second", "request", value));
    EXPECT_EQ(value, "{type:Login}") << "the first field of the name";
    EXPECT_TRUE(formField("request", "request", value) && value.empty());
    EXPECT_FALSE(formField("requests=1&x=2", "request", value));
    // An '&' inside a value splits the form, as it would at any form reader.
    ASSERT_TRUE(formField("request={name:'a&b'}", "request", value));
    EXPECT_EQ(value, "{name:'a");
}

}  // namespace
