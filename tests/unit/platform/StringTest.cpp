// Positional formatting, number texts and splitting.
#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>

#include "CWqString.h"

namespace {

TEST(PlatformStrings, PositionalPlaceholdersTakeTheirArgumentsAndOthersStay) {
    std::vector<CWqString> ten;
    for (int i = 1; i <= 10; ++i) ten.emplace_back("a" + std::to_string(i));
    const struct {
        const char* format;
        std::vector<CWqString> args;
        const char* expected;
    } cases[] = {
        {"{2}{1}{2}", {"x", "y"}, "yxy"},
        {"{3} and {1}", {"x"}, "{3} and x"},
        {"{0}{}{x}{1", {"x"}, "{0}{}{x}{1"},
        {"{{1}}", {"x"}, "{x}"},
        {"{1}", {"{2}", "z"}, "{2}"},  // inserted text is not read again
        {"{10}|{1}", ten, "a10|a1"},
        {"n={1} s={2} l={3} u={4}",
         {CWqString(-42), CWqString(static_cast<short>(-3)), CWqString(123456789012L),
          CWqString(std::numeric_limits<unsigned long>::max())},
         "n=-42 s=-3 l=123456789012 u=18446744073709551615"},
    };
    for (const auto& c : cases) EXPECT_EQ(CWqString::Format(c.format, c.args), c.expected) << c.format;
    EXPECT_EQ(FXString::Format("Disk-{1}-{1}", "d1"), "Disk-d1-d1");
}

TEST(PlatformStrings, DoublesAreWholeWithoutFractionElseShortestExactText) {
    const std::pair<double, const char*> cases[] = {{10.0, "10"},
                                                    {-2.0, "-2"},
                                                    {0.0, "0"},
                                                    {0.1, "0.1"},
                                                    {2.25, "2.25"},
                                                    {1e21, "1000000000000000000000"},
                                                    {0.30000000000000004, "0.30000000000000004"}};
    for (const auto& [value, expected] : cases) EXPECT_EQ(CWqString(value), expected);
    const CWqString third(1.0 / 3.0);
    EXPECT_EQ(std::strtod(third.c_str(), nullptr), 1.0 / 3.0) << third;
}

TEST(PlatformStrings, SplitGivesThePiecesBetweenSeparators) {
    const struct {
        const char* text;
        const char* separator;
        std::vector<std::string> pieces;
    } cases[] = {
        {"a,,b", ",", {"a", "", "b"}},
        {"a,", ",", {"a"}},
        {",a", ",", {"", "a"}},
        {",", ",", {""}},
        {"", ",", {}},
        {"alone", ",", {"alone"}},
        {"a::b:c", "::", {"a", "b:c"}},
        {"abc", "", {"abc"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> pieces{"left over"};
        FXString::Split(c.text, c.separator, pieces, 0);
        EXPECT_EQ(pieces, c.pieces) << "[" << c.text << "] by [" << c.separator << "]";
    }
}

}  // namespace
