#include "fits/automation/variant.h"

#include <gtest/gtest.h>

#include <clocale>

namespace fits {
namespace {

TEST(Variant, TextForms) {
    const std::pair<Variant, const char*> cases[] = {
        {Variant(), ""},          {Variant(0.1f), "0.1"},
        {Variant(5.0f), "5"},     {Variant(0.02f), "0.02"},
        {Variant(0.1), "0.1"},    {Variant(-3), "-3"},
        {Variant(true), "True"},  {Variant("a b"), "a b"},
        {Variant(1e21), "1e+21"}, {Variant(2147483647), "2147483647"},
    };
    for (const auto& [v, text] : cases)
        EXPECT_EQ(v.ToText(), text);
}

TEST(Variant, TextIndependentOfLocale) {
    std::string saved = std::setlocale(LC_ALL, nullptr);
    // A comma-decimal locale; scripts/deps.sh generates it.
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr) << "locale de_DE.UTF-8 missing";
    EXPECT_EQ(Variant(0.1f).ToText(), "0.1");
    EXPECT_EQ(ParseNumber("2.5"), 2.5);
    std::setlocale(LC_ALL, saved.c_str());
}

TEST(Variant, WholeNumbersRoundHalvesToEven) {
    const std::pair<Variant, std::optional<std::int32_t>> cases[] = {
        {Variant(2.5), 2},
        {Variant(3.5), 4},
        {Variant(-2.5), -2},
        {Variant("512"), 512},
        {Variant(" 7 "), 7},
        {Variant("1e3"), 1000},
        {Variant("abc"), std::nullopt},
        {Variant(""), std::nullopt},
        {Variant(3e9), std::nullopt},
        {Variant(), std::nullopt},
        {Variant("+4"), 4},
        {Variant("2.5"), 2},
    };
    for (const auto& [v, n] : cases)
        EXPECT_EQ(v.ToInt32(), n) << v.ToText();
}

}  // namespace
}  // namespace fits
