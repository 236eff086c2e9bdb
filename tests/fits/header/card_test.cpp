#include "fits/header/card.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace fits {
namespace {

struct CardCase {
    const char* keyword;
    const char* value;
    ValueType type;
    const char* comment;
    const char* card;
};

TEST(BuildCard, WorkedExamplesAndEdges) {
    const CardCase cases[] = {
        {"naxis1", "512", ValueType::kInteger, "number of columns",
         "NAXIS1  =                  512 / number of columns"},
        {"simple", "t", ValueType::kLogical, "", "SIMPLE  =                    T"},
        {"object", "M31", ValueType::kString, "", "OBJECT  = 'M31     '"},
        {"history", "converted", ValueType::kInteger, "", "HISTORY converted"},
        {"history", "converted", ValueType::kString, "", "HISTORY converted"},
        {"comment", "x", ValueType::kString, "", "COMMENT x"},
        {"note", "x", ValueType::kNone, "see log", "NOTE     / see log"},
        {"", "free text", ValueType::kInteger, "", "        free text"},
        {"...", "free", ValueType::kLogical, "", "        free"},
        {"s", "", ValueType::kString, "", "S       = '        '"},
        {"s", "'q", ValueType::kString, "", "S       = '''q     '"},
        {"x", "7", ValueType::kFloating, "", "X       =                   7."},
        {"x", "7", ValueType::kInteger, "  c ", "X       =                    7 /   c "},
        {"x", "7", ValueType::kInteger, "   ", "X       =                    7"},
        {"x", "7", static_cast<ValueType>(5), "", "X       "},
        {"x", "7", static_cast<ValueType>(-1), "", "X       "},
        {"exptime", "5", ValueType::kFloating, "exposure time - seconds",
         "EXPTIME =                   5. / exposure time - seconds"},
        {"bitpix", "0", ValueType::kInteger, "unsupported data type",
         "BITPIX  =                    0 / unsupported data type"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(BuildCard(c.keyword, c.value, c.type, c.comment), c.card) << c.keyword;
}

TEST(BuildCard, LongStringRunsPast80Columns) {
    std::string value(69, 'a');
    std::string card = BuildCard("k", value, ValueType::kString, "c");
    EXPECT_EQ(card.size(), 8u + 3 + 69 + 1 + 4);
    EXPECT_EQ(GetValue(card), value);
}

TEST(FormatKeyword, Normalises) {
    const std::pair<const char*, const char*> cases[] = {
        {"date-obs", "DATE-OBS"},  {"  exptime ", "EXPTIME "}, {"my key", "MY_KEY  "},
        {"a.b", "AB      "},       {"abcdefghij", "ABCDEFGH"}, {"", "        "},
        {"ABCDEFGH", "ABCDEFGH"},  {"ABC.DEFGH", "ABCDEFG "},  {"@@@", "        "},
        {"a_b-c9", "A_B-C9  "},    {".a", "A       "},         {"a .b", "A_B     "},
        {"\xe9t\xe9", "T       "},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(FormatKeyword(in), out) << in;
}

TEST(FormatString, QuotesAndPads) {
    const std::pair<const char*, const char*> cases[] = {
        {"abc", "= 'abc     '"},        {"it's", "= 'it''s   '"}, {"", "= '        '"},
        {"  lead  ", "= '  lead  '"},   {"''", "= '''''    '"},   {"12345678", "= '12345678'"},
        {"123456789", "= '123456789'"},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(FormatString(in, true), out) << in;
    EXPECT_EQ(FormatString("  a b  ", false), "  a b");
}

TEST(FormatNumber, IntegerAndFloating) {
    struct NumberCase {
        const char* in;
        bool floating;
        const char* text;
    } cases[] = {
        {"5", true, "5."},      {"1e3", true, "1.E3"},
        {"2.50", true, "2.50"}, {"-1.5e-3", true, "-1.5E-3"},
        {"7E2", true, "7.E2"},  {"abc", true, "0."},
        {"42", false, "42"},    {"3.9", false, "3"},
        {"1E5", false, "1"},    {"-7.2e1", false, "-7"},
        {"7.9E2", false, "7"},  {"abc", false, "0"},
        {" 12 ", false, "12"},  {"", false, "0"},
        {"1.2.3", false, "0"},  {"1e", false, "0"},
        {"+3", false, "+3"},    {".5", false, "0"},
        {"-.5", false, "0"},    {".5", true, ".5"},
        {"5D3", true, "5.D3"},  {"2D1", false, "2"},
        {"1,5", true, "0."},    {"123456789012345678901234", false, "12345678901234567890"},
    };
    for (const auto& c : cases) {
        std::string field = FormatNumber(c.in, c.floating);
        ASSERT_EQ(field.size(), 22u) << c.in;
        EXPECT_EQ(field.substr(0, 2), "= ");
        EXPECT_EQ(std::string(Trim(field.substr(2))), c.text) << c.in;
    }
}

TEST(FormatNumber, IndependentOfLocale) {
    const char* old = std::setlocale(LC_ALL, nullptr);
    std::string saved = old ? old : "C";
    // A comma-decimal locale; scripts/deps.sh generates it.
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr) << "locale de_DE.UTF-8 missing";
    EXPECT_EQ(std::string(Trim(FormatNumber("0.1", true).substr(2))), "0.1");
    EXPECT_EQ(std::string(Trim(FormatNumber("0,1", true).substr(2))), "0.");
    EXPECT_EQ(FormatLogical("0,5").back(), 'F');
    std::setlocale(LC_ALL, saved.c_str());
}

TEST(FormatLogical, TruthRules) {
    const std::pair<const char*, char> cases[] = {
        {"T", 'T'},  {"true", 'T'}, {"TRUE", 'T'}, {"t", 'T'},    {"1", 'T'},     {"-1", 'T'},
        {"2", 'T'},  {" 3x", 'T'},  {"0.5", 'T'},  {"F", 'F'},    {"false", 'F'}, {"0", 'F'},
        {"no", 'F'}, {"yes", 'F'},  {"", 'F'},     {"0.00", 'F'}, {"x1", 'F'},
    };
    for (const auto& [in, letter] : cases) {
        std::string field = FormatLogical(in);
        ASSERT_EQ(field.size(), 22u);
        EXPECT_EQ(field.back(), letter) << in;
    }
}

TEST(TakeApart, ValueCommentKeyword) {
    struct ParseCase {
        const char* line;
        const char* keyword;
        const char* value;
        const char* comment;
    } cases[] = {
        {"NAXIS1  =                  512 / number of columns", "NAXIS1", "512",
         "number of columns"},
        {"OBJECT  = 'it''s   ' / target", "OBJECT", "it's", "target"},
        {"HISTORY converted by user", "HISTORY", "converted by user", ""},
        {"SIMPLE  =                    T", "SIMPLE", "T", ""},
        {"HISTORY a / b", "HISTORY", "a", "b"},
        {"S       = '        '", "S", "", ""},
        {"S       = '''q      '", "S", "'q", ""},
        {"S       = 'a / b' / c", "S", "a / b", "c"},
        {"S       = 'open / c", "S", "open", "c"},
        {"K       = 1/2", "K", "1/2", ""},
        {"K       = 1 /2 / x", "K", "1", "2 / x"},
        {"SIMPLE  =                    T\r\n", "SIMPLE", "T", ""},
        {"ABC\r\n", "ABC", "", ""},
        {"ABCDEFG\r\n", "ABCDEFG", "", ""},
        {"", "", "", ""},
        {"END", "END", "", ""},
        {"KEY     = 5 /  spaced  \r\nrest", "KEY", "5", "spaced"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GetKeyword(c.line), c.keyword) << c.line;
        EXPECT_EQ(GetValue(c.line), c.value) << c.line;
        EXPECT_EQ(GetComment(c.line), c.comment) << c.line;
    }
}

TEST(TakeApart, RoundTripsBuiltCards) {
    const CardCase cases[] = {
        {"object", "it's a 'test'", ValueType::kString, "with / slash", ""},
        {"k", "", ValueType::kString, "c", ""},
        {"k", "'lead", ValueType::kString, "", ""},
        {"k", "-12", ValueType::kInteger, "n", ""},
    };
    for (const auto& c : cases) {
        std::string card = BuildCard(c.keyword, c.value, c.type, c.comment);
        EXPECT_EQ(GetValue(card), c.value) << card;
        EXPECT_EQ(GetComment(card), c.comment) << card;
    }
}

TEST(FindQuotes, Positions) {
    const struct {
        const char* text;
        Pos open, close;
    } cases[] = {
        {"abc", 0, 0}, {"'a'", 1, 3},  {"x 'a''b' y", 3, 8}, {"'abc", 1, 0},
        {"''", 1, 2},  {"''''", 1, 4}, {"'''", 1, 0},
    };
    for (const auto& c : cases) {
        auto [open, close] = FindQuotes(c.text);
        EXPECT_EQ(open, c.open) << c.text;
        EXPECT_EQ(close, c.close) << c.text;
    }
    EXPECT_EQ(FindComment("'a / b' / c"), 8);
    EXPECT_EQ(FindComment("a/b"), 0);
    EXPECT_EQ(FindComment("a / b"), 2);
}

TEST(TextHelpers, EditInPlaceWithinBounds) {
    std::string t = "abc";
    InsertChar(t, 4, "x");  // cannot append
    InsertChar(t, 0, "x");
    InsertChar(t, 1, "xy");
    EXPECT_EQ(t, "abc");
    InsertChar(t, 3, "x");
    EXPECT_EQ(t, "abxc");
    DeleteChar(t, 5);
    DeleteChar(t, 0);
    DeleteChar(t, 1);
    EXPECT_EQ(t, "bxc");
    ReplaceChar(t, 3, "z");
    ReplaceChar(t, 4, "z");
    ReplaceChar(t, 1, "");
    EXPECT_EQ(t, "bxz");
    EXPECT_EQ(CharAt(t, 0), "");
    EXPECT_EQ(CharAt(t, 2), "x");
    EXPECT_EQ(CharAt(t, 4), "");
    FitWidth(t, 5);
    EXPECT_EQ(t, "bxz  ");
    FitWidth(t, 2);
    EXPECT_EQ(t, "bx");
    EXPECT_TRUE(IsUpperLetter("A"));
    EXPECT_TRUE(IsUpperLetter("Z"));
    EXPECT_FALSE(IsUpperLetter("a"));
    EXPECT_FALSE(IsUpperLetter("@"));
    EXPECT_FALSE(IsUpperLetter("["));
}

TEST(ChangeExtension, LastDotOfWholePath) {
    const std::pair<const char*, const char*> cases[] = {
        {"C:\\data\\run1.spe", "C:\\data\\run1.fit"},
        {"C:\\data\\run", "C:\\data\\run.fit"},
        {"C:\\my.data\\run", "C:\\my.fit"},
        {"/d/a.b.spe", "/d/a.b.fit"},
        {"", ".fit"},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(ChangeExtension(in, "fit"), out);
}

}  // namespace
}  // namespace fits
