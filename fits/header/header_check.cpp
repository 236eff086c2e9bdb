#include "fits/header/header_check.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>

#include "fits/header/fits_format.h"
#include "fits/header/header_model.h"
#include "fits/header/header_text.h"

namespace fits {
namespace {

constexpr auto kCard = static_cast<std::size_t>(kCardBytes);
constexpr std::size_t kKeywordField = kKeywordColumns;

// The keyword is `stem` followed by a positive number (NAXIS3, CTYPE1).
std::optional<int> IndexAfter(std::string_view keyword, std::string_view stem) {
    if (keyword.size() <= stem.size() || !keyword.starts_with(stem)) return std::nullopt;
    std::string_view digits = keyword.substr(stem.size());
    if (digits.size() > 3 || digits.front() == '0') return std::nullopt;
    int n = 0;
    for (char c : digits) {
        if (!IsDigit(c)) return std::nullopt;
        n = n * 10 + (c - '0');
    }
    return n;
}

std::string Quoted(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

// ---- Reserved keywords ---------------------------------------------------------------------

enum class Type { kAny, kLogical, kInteger, kReal, kString, kDate };

// The type of value FITS gives a reserved keyword (FITS Standard 4.0 sections 4.4 and 8).
Type ReservedType(std::string_view keyword) {
    struct Entry {
        std::string_view keyword;
        Type type;
    };
    static constexpr Entry kReserved[] = {
        {"SIMPLE", Type::kLogical},   {"EXTEND", Type::kLogical},  {"BITPIX", Type::kInteger},
        {"NAXIS", Type::kInteger},    {"BLANK", Type::kInteger},   {"EXTVER", Type::kInteger},
        {"EXTLEVEL", Type::kInteger}, {"WCSAXES", Type::kInteger}, {"BSCALE", Type::kReal},
        {"BZERO", Type::kReal},       {"DATAMAX", Type::kReal},    {"DATAMIN", Type::kReal},
        {"EQUINOX", Type::kReal},     {"MJD-OBS", Type::kReal},    {"LONPOLE", Type::kReal},
        {"LATPOLE", Type::kReal},     {"RESTFRQ", Type::kReal},    {"RESTWAV", Type::kReal},
        {"BUNIT", Type::kString},     {"ORIGIN", Type::kString},   {"TELESCOP", Type::kString},
        {"INSTRUME", Type::kString},  {"OBSERVER", Type::kString}, {"OBJECT", Type::kString},
        {"AUTHOR", Type::kString},    {"REFERENC", Type::kString}, {"EXTNAME", Type::kString},
        {"RADESYS", Type::kString},   {"TIMESYS", Type::kString},  {"SPECSYS", Type::kString},
        {"DATE", Type::kDate},        {"DATE-OBS", Type::kDate},   {"DATE-END", Type::kDate},
        {"DATE-BEG", Type::kDate},    {"DATE-AVG", Type::kDate},
    };
    for (const Entry& e : kReserved)
        if (keyword == e.keyword) return e.type;
    if (IndexAfter(keyword, "NAXIS")) return Type::kInteger;
    for (std::string_view stem : {"CTYPE", "CUNIT"})
        if (IndexAfter(keyword, stem)) return Type::kString;
    for (std::string_view stem : {"CRPIX", "CRVAL", "CDELT", "CROTA"})
        if (IndexAfter(keyword, stem)) return Type::kReal;
    return Type::kAny;
}

bool LeapYear(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

// Digits of `s` from `at`, `n` of them, as a number; -1 when they are not all digits.
int DigitsAt(std::string_view s, std::size_t at, std::size_t n) {
    if (at + n > s.size()) return -1;
    int v = 0;
    for (std::size_t i = at; i < at + n; ++i) {
        if (!IsDigit(s[i])) return -1;
        v = v * 10 + (s[i] - '0');
    }
    return v;
}

// A FITS date: "YYYY-MM-DD", optionally "Thh:mm:ss[.s...]", or the old "DD/MM/YY".
bool IsFitsDate(std::string_view text) {
    text = TrimRight(text);
    if (text.size() == 8 && text[2] == '/' && text[5] == '/') {
        const int d = DigitsAt(text, 0, 2), m = DigitsAt(text, 3, 2), y = DigitsAt(text, 6, 2);
        return d >= 1 && d <= 31 && m >= 1 && m <= 12 && y >= 0;
    }
    if (text.size() < 10 || text[4] != '-' || text[7] != '-') return false;
    const int y = DigitsAt(text, 0, 4), m = DigitsAt(text, 5, 2), d = DigitsAt(text, 8, 2);
    static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y < 0 || m < 1 || m > 12 || d < 1) return false;
    if (d > kDays[static_cast<std::size_t>(m - 1)] + (m == 2 && LeapYear(y) ? 1 : 0)) return false;
    if (text.size() == 10) return true;
    if (text.size() < 19 || text[10] != 'T' || text[13] != ':' || text[16] != ':') return false;
    const int h = DigitsAt(text, 11, 2), mi = DigitsAt(text, 14, 2), s = DigitsAt(text, 17, 2);
    if (h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 60) return false;
    if (text.size() == 19) return true;
    return text[19] == '.' && text.size() > 20 &&
           text.substr(20).find_first_not_of("0123456789") == std::string_view::npos;
}

// Why the value does not have the type the keyword requires; empty when it does.
std::string TypeProblem(std::string_view keyword, const HeaderCard& value) {
    const Type type = ReservedType(keyword);
    if (type == Type::kAny) return {};
    const bool number = value.kind == ValueKind::kInteger || value.kind == ValueKind::kReal;
    switch (type) {
        case Type::kLogical:
            if (value.kind == ValueKind::kLogical) return {};
            return "must have the value T or F";
        case Type::kInteger:
            if (value.kind == ValueKind::kInteger) return {};
            return "must have a whole number as its value (digits only, no point or exponent)";
        case Type::kReal:
            if (number) return {};
            return "must have a number as its value";
        case Type::kString:
            if (value.kind == ValueKind::kString) return {};
            return "must have a string in quotes as its value";
        case Type::kDate:
            if (value.kind == ValueKind::kString && IsFitsDate(value.value)) return {};
            return "must have a date 'YYYY-MM-DD' or 'YYYY-MM-DDThh:mm:ss[.sss]' as its value";
        case Type::kAny:
            break;
    }
    return {};
}

// Keywords of extension and table headers, which a primary header must not hold.
bool BelongsToExtension(std::string_view keyword) {
    for (std::string_view k : {"XTENSION", "PCOUNT", "GCOUNT", "GROUPS", "TFIELDS", "THEAP"})
        if (keyword == k) return true;
    for (std::string_view stem :
         {"TFORM", "TTYPE", "TBCOL", "TZERO", "TSCAL", "TNULL", "TUNIT", "TDISP", "TDIM"})
        if (IndexAfter(keyword, stem)) return true;
    return false;
}

}  // namespace

bool IsTableKeyword(std::string_view keyword) {
    return BelongsToExtension(keyword) && keyword != "XTENSION" && keyword != "PCOUNT" &&
           keyword != "GCOUNT" && keyword != "GROUPS";
}

namespace {

// ---- The whole header --------------------------------------------------------------------

// The problem of a line longer than a card, judged before its first 80 characters are: only
// text in the comment (or of a commentary card) may lie beyond column 80.
std::string LongLineProblem(std::string_view line) {
    if (std::string problem = LongKeywordProblem(line); !problem.empty()) return problem;
    if (line.size() <= kCard) return {};
    const std::string keyword = GetKeyword(line);
    if (IsCommentaryKeyword(keyword) || line.substr(8, 2) != "= ") return {};
    const Pos comment = FindComment(line);
    if (comment != 0 && static_cast<std::size_t>(comment) + 1 <= kCard) return {};
    return "is " + std::to_string(line.size()) +
           " characters long and its value does not end within the 80 columns of a card";
}

std::string KeywordFieldProblem(std::string_view card) {
    const std::string_view field = card.substr(0, std::min(card.size(), kKeywordField));
    std::size_t i = 0;
    while (i < field.size() && IsKeywordChar(field[i]))
        ++i;
    const std::size_t blank = i;
    while (i < field.size() && field[i] == ' ')
        ++i;
    if (i == field.size()) return {};
    if (blank < i || !IsKeywordChar(field[i]))
        return "has the keyword field " + Quoted(field) +
               ": a keyword holds A-Z, 0-9, '-' and '_' only, from column 1, without blanks "
               "inside";
    return {};
}

}  // namespace

std::string LongKeywordProblem(std::string_view line) {
    std::size_t end = 0;
    while (end < line.size() && IsKeywordChar(line[end]))
        ++end;
    if (end <= kKeywordField) return {};
    const std::size_t next = line.find_first_not_of(' ', end);
    if (next == std::string_view::npos || line[next] != '=') return {};
    return "has the keyword " + Quoted(line.substr(0, end)) + " of " + std::to_string(end) +
           " characters; a FITS keyword has 8 at most (readers would keep " +
           Quoted(line.substr(0, kKeywordField)) + " without the value)";
}

namespace {

// A card's own problem (syntax, type of a reserved keyword): `card` is the parsed line, its
// text judged on its first 80 columns.
std::string OwnProblem(const HeaderCard& parsed) {
    const std::string_view card =
        std::string_view(parsed.text).substr(0, std::min(parsed.text.size(), kCard));
    for (unsigned char c : card) {
        if (c >= 0x20 && c < 0x7F) continue;
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02X", c);
        return std::string("holds the byte ") + hex + (c >= 0x80 ? " (not ASCII)" : "") +
               "; a FITS header holds printable ASCII only (no accents or other letters)";
    }
    if (std::string problem = KeywordFieldProblem(card); !problem.empty()) return problem;
    const std::string& keyword = parsed.keyword;
    if (IsCommentaryKeyword(keyword)) return {};
    // "HIERARCH A B C = value": the value after the first "= " must be one readers take.
    if (keyword == "HIERARCH" && card.substr(8, 2) != "= ") return parsed.problem;
    if (keyword == "END")
        return "is END, which ends a header; the writer adds it after the last card";
    if (keyword == "CONTINUE")
        return "continues a long string (CONTINUE), which this converter does not write; keep "
               "each string within its card";
    if (keyword == "EPOCH") return "is EPOCH, which FITS no longer uses; write EQUINOX instead";
    if (card.size() > 9 && card[8] == '=' && card[9] != ' ')
        return "has \"=\" in column 9 without a blank after it (a value follows \"= \")";
    if (card.size() == 9 && card[8] == '=')
        return "has \"=\" but no value (write a value, or leave out \"=\")";
    if (!parsed.problem.empty()) return parsed.problem;
    const bool has_value = parsed.kind != ValueKind::kNone;
    if (keyword == "BSCALE" && has_value && ReadNumber(parsed.value) == 0.0)
        return "is 0, which would make every value 0";
    if (!has_value && ReservedType(keyword) != Type::kAny)
        return "has no value: FITS requires \"= \" in columns 9-10 and a value for " + keyword;
    if (has_value) return TypeProblem(keyword, parsed);
    return {};
}

// The mandatory cards' order and values, for the (n+1)-th card.
class Mandatory {
  public:
    // The keyword card n (0-based) must have, or "" once the mandatory cards are complete.
    std::string Expected(std::size_t n) const {
        if (n == 0) return "SIMPLE";
        if (n == 1) return "BITPIX";
        if (n == 2) return "NAXIS";
        if (axes_ && static_cast<long>(n) - 2 <= *axes_) return "NAXIS" + std::to_string(n - 2);
        return {};
    }
    // Why the card standing where `expected` must stand is not right; empty when it is.
    std::string Check(const std::string& expected, const HeaderCard& value) {
        const HeaderCard& card = value;
        if (card.keyword != expected) {
            if (card.keyword == "XTENSION")
                return "begins an extension header; a primary header begins with SIMPLE";
            return "stands where FITS requires " + expected +
                   " (a primary header begins with SIMPLE, BITPIX, NAXIS, NAXIS1 ... NAXISn, "
                   "in this order)";
        }
        const bool whole = value.kind == ValueKind::kInteger;
        if (expected == "SIMPLE")
            return value.kind == ValueKind::kLogical && value.value == "T" && value.fixed
                       ? ""
                       : "must be T, in column 30 (the file conforms to FITS)";
        if (!whole || !value.fixed)
            return "must be a whole number ending in column 30 (the fixed format FITS requires)";
        long long v = 0;
        const std::string& text = value.value;
        std::from_chars(text.data() + (text.starts_with('+') ? 1 : 0), text.data() + text.size(),
                        v);
        if (expected == "BITPIX") {
            bitpix_ = v;
            if (v == 8 || v == 16 || v == 32 || v == 64 || v == -32 || v == -64) return {};
            return "is " + text + "; BITPIX is one of 8, 16, 32, 64, -32, -64";
        }
        if (expected == "NAXIS") {
            if (v < 0 || v > 999) return "is " + text + "; NAXIS is 0 to 999";
            axes_ = v;
            return {};
        }
        if (v < 0) return "is " + text + "; an axis has 0 or more elements";
        return {};
    }
    std::optional<long long> Axes() const { return axes_; }
    std::optional<long long> Bitpix() const { return bitpix_; }

  private:
    std::optional<long long> axes_, bitpix_;
};

HeaderProblem At(const HeaderCard& card, std::string reason) {
    const std::string_view columns =
        std::string_view(card.text).substr(0, std::min(card.text.size(), kCard));
    const bool named = KeywordFieldProblem(columns).empty();
    return HeaderProblem{card.line, named ? card.keyword : "", std::move(reason)};
}

// The first line longer than a card whose part beyond column 80 is not comment.
std::optional<HeaderProblem> FindLongLine(const HeaderModel& header) {
    for (const HeaderCard& card : header.Cards())
        if (std::string problem = LongLineProblem(card.text); !problem.empty())
            return At(card, problem);
    return std::nullopt;
}

}  // namespace

bool OnlyCommentBeyondCard(std::string_view line) {
    return line.size() > kCard && LongLineProblem(line).empty();
}

std::string CardProblem(std::string_view card) {
    if (std::string problem = LongLineProblem(card); !problem.empty()) return problem;
    return OwnProblem(ParseCard(card));
}

std::optional<HeaderProblem> FindHeaderProblem(std::string_view text, HeaderCheck check) {
    return FindHeaderProblem(HeaderModel::Parse(text), check);
}

std::optional<HeaderProblem> FindHeaderProblem(const HeaderModel& header, HeaderCheck check) {
    if (auto problem = FindLongLine(header)) return problem;
    const std::vector<HeaderCard>& cards = header.Cards();
    const bool complete = check == HeaderCheck::kComplete;
    if (complete && cards.empty()) return HeaderProblem{0, "", "the header is empty"};
    bool primary = complete;
    for (const HeaderCard& card : cards)
        primary = primary || card.keyword == "SIMPLE";
    Mandatory mandatory;
    std::map<std::string, Pos, std::less<>> seen;
    std::size_t n = 0;
    for (; n < cards.size(); ++n) {
        const HeaderCard& card = cards[n];
        if (std::string own = OwnProblem(card); !own.empty()) return At(card, own);
        const std::string expected = primary ? mandatory.Expected(n) : "";
        if (!expected.empty()) {
            if (std::string wrong = mandatory.Check(expected, card); !wrong.empty())
                return At(card, wrong);
        } else if (BelongsToExtension(card.keyword)) {
            return At(card, "belongs to extension or table headers, not to a primary header");
        } else if (auto k = IndexAfter(card.keyword, "NAXIS"); primary && k && mandatory.Axes() &&
                                                               *k > *mandatory.Axes() &&
                                                               !seen.count(card.keyword)) {
            return At(card, "stands beyond NAXIS = " + std::to_string(*mandatory.Axes()) +
                                "; a header has NAXIS1 ... NAXISn only");
        } else if (card.keyword == "BLANK" && mandatory.Bitpix() && *mandatory.Bitpix() < 0) {
            return At(card, "applies to whole-number data only; BITPIX is " +
                                std::to_string(*mandatory.Bitpix()));
        }
        if (IsCommentaryKeyword(card.keyword) || card.keyword == "HIERARCH") continue;
        if (auto [it, added] = seen.emplace(card.keyword, card.line); !added)
            return At(card, card.keyword + " already stands at line " + std::to_string(it->second) +
                                "; a keyword stands once");
    }
    if (complete) {
        if (std::string missing = mandatory.Expected(n); !missing.empty())
            return HeaderProblem{0, "",
                                 "the header ends without " + missing +
                                     " (a primary header begins with SIMPLE, BITPIX, NAXIS, "
                                     "NAXIS1 ... NAXISn, in this order)"};
    }
    return std::nullopt;
}

namespace {

// "header line N (KEYWORD) reason", or the reason alone for the header as a whole.
std::string ProblemText(const HeaderProblem& problem) {
    if (problem.line == 0) return problem.reason;
    return "header line " + std::to_string(problem.line) +
           (problem.keyword.empty() ? "" : " (" + problem.keyword + ")") + " " + problem.reason;
}

}  // namespace

std::string DescribeProblem(const std::string& name, const HeaderProblem& problem) {
    return name + ": " + ProblemText(problem);
}

std::vector<std::string> CutComments(std::string_view text) {
    return CutComments(HeaderModel::Parse(text));
}

std::vector<std::string> CutComments(const HeaderModel& header) {
    std::vector<std::string> cut;
    for (const HeaderCard& card : header.Cards())
        if (card.text.size() > kCard && LongLineProblem(card.text).empty())
            cut.push_back("header line " + std::to_string(card.line) + " (" + card.keyword +
                          ") is cut at column 80: " +
                          Quoted(std::string_view(card.text).substr(kCard)) + " is left out");
    return cut;
}

namespace {

// The line with its keyword in columns 1-8 and "= " in columns 9-10 when it is written as
// "KEYWORD = value" with other spacing ("A = 1", "OBSERVER='me'"); unchanged otherwise.
std::string PlaceValueIndicator(std::string_view bare) {
    const std::size_t stop = bare.find_first_of(" =");
    if (stop == 0 || stop == std::string_view::npos || stop > kKeywordField)
        return std::string(bare);
    const std::string_view keyword = bare.substr(0, stop);
    for (char c : keyword)
        if (!IsKeywordChar(c)) return std::string(bare);
    if (IsCommentaryKeyword(keyword) || keyword == "HIERARCH") return std::string(bare);
    const std::size_t equals = bare.find_first_not_of(' ', stop);
    if (equals == std::string_view::npos || bare[equals] != '=') return std::string(bare);
    if (equals == kKeywordField && (bare.size() == equals + 1 || bare[equals + 1] == ' '))
        return std::string(bare);
    std::string card(keyword);
    card.resize(kKeywordField, ' ');
    card += "= ";
    card += TrimLeft(bare.substr(equals + 1));
    return card;
}

// The card with a mandatory keyword's right value in fixed format; unchanged otherwise.
std::string FixedMandatory(const std::string& card) {
    const std::string keyword = GetKeyword(card);
    const bool mandatory = keyword == "SIMPLE" || keyword == "BITPIX" || keyword == "NAXIS" ||
                           IndexAfter(keyword, "NAXIS").has_value();
    if (!mandatory || card.size() > kCard || !KeywordFieldProblem(card).empty()) return card;
    const HeaderCard value = ParseCard(card);
    const ValueType type = keyword == "SIMPLE" ? ValueType::kLogical : ValueType::kInteger;
    const bool right =
        keyword == "SIMPLE" ? value.kind == ValueKind::kLogical : value.kind == ValueKind::kInteger;
    if (!value.problem.empty() || value.fixed || !right) return card;
    std::string fixed = BuildCard(keyword, value.value, type, GetComment(card));
    if (fixed.size() > kCard) fixed = BuildCard(keyword, value.value, type, "");
    return fixed;
}

}  // namespace

void NormalizeCardLayout(std::string& text) {
    std::string out;
    out.reserve(text.size());
    ForEachLine(text, [&](Pos, std::string_view line) {
        const std::string_view bare = line.substr(0, line.find(kLineEnd));
        out += FixedMandatory(PlaceValueIndicator(bare));
        out += line.substr(bare.size());
        return true;
    });
    text = std::move(out);
}

namespace {

// The first character of `text` that a card cannot hold, quoted; empty when there is none.
std::string FirstUnwritable(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F) continue;
        std::size_t n = 1;  // a UTF-8 sequence is one character
        while (c >= 0x80 && i + n < text.size() &&
               (static_cast<unsigned char>(text[i + n]) & 0xC0) == 0x80)
            ++n;
        return c < 0x20 ? "a control character" : Quoted(text.substr(i, n));
    }
    return {};
}

// What the card's value says about the typed value when it is not what was typed.
std::string ValueNote(std::string_view typed, ValueType type, std::string_view written) {
    const std::string_view t = Trim(typed);
    switch (type) {
        case ValueType::kNone:
            if (!t.empty())
                return "the value " + Quoted(t) +
                       " is not written: Value Type is None (choose a type to write a value)";
            return {};
        case ValueType::kLogical: {
            const std::string upper = ToUpper(t);
            if (upper == "T" || upper == "F" || upper == "TRUE" || upper == "FALSE") return {};
            break;
        }
        case ValueType::kInteger: {
            long long number = 0;
            const std::string_view digits = t.starts_with('+') ? t.substr(1) : t;
            auto [end, error] =
                std::from_chars(digits.data(), digits.data() + digits.size(), number);
            if (error == std::errc() && end == digits.data() + digits.size() && !digits.empty() &&
                std::to_string(number) == written)
                return {};
            if (t == written) return {};
            break;
        }
        case ValueType::kFloating:
            if (IsNumeric(t) && Len(written) < 20) return {};
            if (IsNumeric(t) && ToUpper(t) == written) return {};
            break;
        default:
            return {};
    }
    return "the value " + Quoted(t) + " is written as " + std::string(written);
}

}  // namespace

CardReview ReviewNewCard(std::string_view before, std::string_view after, std::string_view card,
                         std::string_view keyword, std::string_view value, ValueType valueType,
                         std::string_view comment) {
    CardReview review;
    const std::pair<const char*, std::string_view> typed[] = {
        {"keyword", keyword}, {"value", value}, {"comment", comment}};
    for (const auto& [what, text] : typed)
        if (std::string bad = FirstUnwritable(text); !bad.empty()) {
            review.refused = std::string("the ") + what + " holds " + bad +
                             ", which a FITS header cannot hold (printable ASCII only)";
            return review;
        }
    if (std::string problem = CardProblem(card); !problem.empty()) {
        const std::string key = GetKeyword(card);
        review.refused = "the card " + (key.empty() ? "" : "(" + key + ") ") + problem;
        return review;
    }
    if (auto problem = FindHeaderProblem(after, HeaderCheck::kPartial);
        problem && !FindHeaderProblem(before, HeaderCheck::kPartial)) {
        review.refused = ProblemText(*problem);
        return review;
    }
    const std::string field = FormatKeyword(keyword);
    std::string plain = ToUpper(Trim(keyword));
    for (char& c : plain)
        if (c == ' ') c = '_';
    if (std::string kept(TrimRight(field)); kept != plain)
        review.notes.push_back("the keyword " + Quoted(Trim(keyword)) + " is written as " +
                               Quoted(kept) + " (8 characters of A-Z, 0-9, '-' and '_' at most)");
    const std::string key = GetKeyword(card);
    if (!IsCommentaryKeyword(key)) {
        const std::string written = GetValue(card);
        if (std::string note = ValueNote(value, valueType, written); !note.empty())
            review.notes.push_back(note);
    }
    if (card.size() > kCard)
        review.notes.push_back("the card is " + std::to_string(card.size()) +
                               " characters long: " + Quoted(card.substr(kCard)) +
                               " beyond column 80 is cut off when the header is written");
    return review;
}

}  // namespace fits
