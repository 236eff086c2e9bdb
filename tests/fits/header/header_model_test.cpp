#include "fits/header/header_model.h"

#include <gtest/gtest.h>

namespace fits {
namespace {

// Each line parsed once into its card; the text starts with an empty line, which is no card,
// so row k stands on line k + 2.
TEST(HeaderModel, CardsAreTypedOnce) {
    const struct {
        std::string line;
        std::string keyword;
        ValueKind kind;
        std::string value;
        std::optional<double> number;
        std::string comment;
        std::string problem;  // a part of it; empty: none
    } cases[] = {
        {"SIMPLE  =                    T", "SIMPLE", ValueKind::kLogical, "T", {}, "", ""},
        {"BZERO   =             3.2768D4 / offset", "BZERO", ValueKind::kReal, "3.2768D4", 32768,
         "offset", ""},
        {"NAXIS1  =                 -12/n", "NAXIS1", ValueKind::kInteger, "-12", -12, "n", ""},
        {"OBJECT  = 'it''s / here '  / quoted",
         "OBJECT",
         ValueKind::kString,
         "it's / here ",
         {},
         "quoted",
         ""},
        {"COMMENT   free text / not a comment",
         "COMMENT",
         ValueKind::kNone,
         "",
         {},
         "free text / not a comment",
         ""},
        {"          blank keyword", "", ValueKind::kNone, "", {}, "blank keyword", ""},
        {"BSCALE  = 1.5e3", "BSCALE", ValueKind::kReal, "1.5e3", {}, "", "capital E or D"},
        {"EXPTIME = 2.0 s", "EXPTIME", ValueKind::kReal, "2.0", 2, "", "after its value"},
        {"OBSERVER= 'open", "OBSERVER", ValueKind::kNone, "open", {}, "", "closing quote"},
        {"NAXIS2  =   / none", "NAXIS2", ValueKind::kEmpty, "", {}, "", "no value"},
        {"FM      = -1.0E-400", "FM", ValueKind::kReal, "-1.0E-400", {}, "", "range of 64-bit"},
    };
    std::string text = "\r\n";
    for (const auto& c : cases)
        text += c.line + "\r\n";
    const HeaderModel model = HeaderModel::Parse(text);
    ASSERT_EQ(model.Cards().size(), std::size(cases));
    for (std::size_t k = 0; k < std::size(cases); ++k) {
        const auto& c = cases[k];
        const HeaderCard& card = model.Cards()[k];
        SCOPED_TRACE(c.line);
        EXPECT_EQ(card.line, static_cast<Pos>(k + 2));
        EXPECT_EQ(card.keyword, c.keyword);
        EXPECT_EQ(card.kind, c.kind);
        EXPECT_EQ(card.value, c.value);
        EXPECT_EQ(card.number, c.number);
        EXPECT_EQ(card.comment, c.comment);
        EXPECT_EQ(card.problem.empty(), c.problem.empty()) << card.problem;
        EXPECT_NE(card.problem.find(c.problem), std::string::npos) << card.problem;
    }
    EXPECT_EQ(model.Number("BZERO"), 32768);
    EXPECT_FALSE(model.HasValue("NAXIS2"));
}

}  // namespace
}  // namespace fits
