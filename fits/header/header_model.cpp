#include "fits/header/header_model.h"

#include <cstdint>

#include "fits/automation/variant.h"
#include "fits/header/fits_format.h"
#include "fits/header/header_text.h"

namespace fits {
namespace {

constexpr auto kCard = static_cast<std::size_t>(kCardBytes);

std::string Quoted(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

// The value readers see in a card: the parsers below start at the value's first character,
// `at`, and return the index just after it, or kRefused with card.problem set.
constexpr std::size_t kRefused = std::string_view::npos;

// A string in quotes, '' standing for one quote inside it.
std::size_t ParseString(std::string_view text, std::size_t at, HeaderCard& card) {
    std::size_t i = at + 1;
    for (;; ++i) {
        if (i >= text.size()) {
            card.problem = "has a string value without its closing quote";
            return kRefused;
        }
        if (text[i] != '\'') {
            card.value += text[i];
        } else if (i + 1 < text.size() && text[i + 1] == '\'') {
            card.value += '\'';
            ++i;
        } else {
            break;
        }
    }
    card.kind = ValueKind::kString;
    return i + 1;
}

// A complex number "(real, imaginary)": two numbers of the grammar, capital exponents.
std::size_t ParseComplex(std::string_view text, std::size_t at, HeaderCard& card) {
    const std::size_t close = text.find(')', at);
    const std::string_view inside =
        close == std::string_view::npos ? "" : text.substr(at + 1, close - at - 1);
    const std::size_t comma = inside.find(',');
    auto number = [&](std::string_view part) {
        const NumberSpan span = ScanNumber(Trim(part));
        return ReadNumber(part) && span.exponent != 'e' && span.exponent != 'd';
    };
    if (comma == std::string_view::npos || !number(inside.substr(0, comma)) ||
        !number(inside.substr(comma + 1))) {
        card.problem = "has the value " + Quoted(TrimRight(text.substr(at))) +
                       ", which is not a complex number \"(real, imaginary)\"";
        return kRefused;
    }
    card.kind = ValueKind::kComplex;
    card.value = std::string(text.substr(at, close - at + 1));
    return close + 1;
}

// A number (`span` as ScanNumber tells), refused with a lower-case exponent letter or when
// a 64-bit float cannot hold it.
std::size_t ParseNumeric(std::string_view text, std::size_t at, NumberSpan span, HeaderCard& card) {
    card.kind = span.real ? ValueKind::kReal : ValueKind::kInteger;
    card.value = std::string(text.substr(at, span.length));
    if (span.exponent == 'e' || span.exponent == 'd') {
        std::string_view word = text.substr(at);
        word = word.substr(0, word.find_first_of(" /"));
        card.problem = "has the value " + std::string(word) +
                       ", whose exponent FITS writes with a capital E or D";
        return kRefused;
    }
    card.number = ReadNumber(card.value);
    if (!card.number) {
        // Digits and an exponent always read, but to a number a 64-bit float cannot hold:
        // CFITSIO refuses a value too large or too small (1E-400) for one.
        card.problem = "has the value " + card.value +
                       ", beyond the range of 64-bit floating point (FITS readers refuse it)";
        return kRefused;
    }
    return at + span.length;
}

// A value of any kind, told by its first character.
std::size_t ParseValueText(std::string_view text, std::size_t at, HeaderCard& card) {
    const char first = text[at];
    if (first == '\'') return ParseString(text, at, card);
    if (first == 'T' || first == 'F') {
        card.kind = ValueKind::kLogical;
        card.value = std::string(1, first);
        return at + 1;
    }
    if (first == '(') return ParseComplex(text, at, card);
    if (const NumberSpan span = ScanNumber(text.substr(at)); span.length > 0)
        return ParseNumeric(text, at, span, card);
    std::string_view word = text.substr(at);
    word = TrimRight(word.substr(0, word.find(" /")));
    card.problem = "has the value " + Quoted(word) +
                   ", which FITS cannot read: a value is a string in quotes, T or F, or a number "
                   "(digits, one point, an exponent with E or D)";
    return kRefused;
}

// Reads the value and comment of `text` (at most 80 columns) with "= " in columns 9-10.
void ParseValue(std::string_view text, HeaderCard& card) {
    if (text.size() < 10 || text.substr(8, 2) != "= ") return;
    const std::size_t at = text.find_first_not_of(' ', 10);
    if (at == std::string_view::npos || text[at] == '/') {
        card.kind = ValueKind::kEmpty;
        card.problem = "has \"= \" but no value (write a value, or leave out \"= \")";
        return;
    }
    const std::size_t end = ParseValueText(text, at, card);
    if (end == kRefused) return;
    card.fixed = (card.kind == ValueKind::kInteger || card.kind == ValueKind::kLogical) &&
                 end == kFixedValueEnd;
    const std::size_t next = text.find_first_not_of(' ', end);
    if (next == std::string_view::npos) return;
    if (text[next] == '/')
        card.comment = std::string(Trim(text.substr(next + 1)));
    else
        card.problem = "has " + Quoted(TrimRight(text.substr(next))) +
                       " after its value (a comment begins "
                       "with \"/\")";
}

}  // namespace

bool IsCommentaryKeyword(std::string_view keyword) {
    return keyword.empty() || keyword == "COMMENT" || keyword == "HISTORY";
}

HeaderCard ParseCard(std::string_view line, Pos line_number) {
    HeaderCard card;
    card.line = line_number;
    card.text = std::string(line);
    card.keyword = GetKeyword(line);
    const std::string_view columns = line.substr(0, std::min(line.size(), kCard));
    if (IsCommentaryKeyword(card.keyword)) {
        if (columns.size() > kKeywordColumns)
            card.comment = std::string(Trim(columns.substr(kKeywordColumns)));
    } else if (card.keyword == "HIERARCH" && columns.substr(8, 2) != "= ") {
        // "HIERARCH A B C = value": the value stands after the first "= ".
        if (const std::size_t equals = columns.find("= ", 9); equals != std::string_view::npos)
            ParseValue("HIERARCH= " + std::string(columns.substr(equals + 2)), card);
    } else {
        ParseValue(columns, card);
    }
    return card;
}

void HeaderModel::Add(std::string_view line, Pos line_number) {
    if (auto end = line.find(kLineEnd); end != std::string_view::npos) line = line.substr(0, end);
    if (!line.empty()) cards_.push_back(ParseCard(line, line_number));
}

HeaderModel HeaderModel::Parse(std::string_view text) {
    HeaderModel model;
    ForEachLine(text, [&](Pos n, std::string_view line) {
        model.Add(line, n);
        return true;
    });
    return model;
}

HeaderModel HeaderModel::FromLines(const std::vector<std::string>& lines) {
    HeaderModel model;
    for (std::size_t i = 0; i < lines.size(); ++i)
        model.Add(lines[i], static_cast<Pos>(i + 1));
    return model;
}

bool HeaderModel::Blank() const {
    for (const HeaderCard& card : cards_)
        if (card.text.find_first_not_of(' ') != std::string::npos) return false;
    return true;
}

const HeaderCard* HeaderModel::Find(std::string_view keyword) const {
    for (const HeaderCard& card : cards_)
        if (card.keyword == keyword) return &card;
    return nullptr;
}

std::optional<double> HeaderModel::Number(std::string_view keyword) const {
    const HeaderCard* card = Find(keyword);
    return card ? card->number : std::nullopt;
}

std::optional<std::int32_t> HeaderModel::Whole(std::string_view keyword) const {
    const std::optional<double> number = Number(keyword);
    return number ? RoundToInt32(*number) : std::nullopt;
}

bool HeaderModel::HasValue(std::string_view keyword) const {
    const HeaderCard* card = Find(keyword);
    return card && card->kind != ValueKind::kEmpty &&
           (!card->value.empty() || !card->problem.empty());
}

std::string HeaderModel::Block() const {
    std::string block;
    block.reserve((cards_.size() + 1) * kCard);
    for (const HeaderCard& card : cards_) {
        std::string padded = card.text;
        padded.resize(kCard, ' ');
        block += padded;
    }
    block += "END";
    const auto size = static_cast<std::int64_t>(block.size());
    block.resize(static_cast<std::size_t>(size + BlockPadding(size)), ' ');
    return block;
}

}  // namespace fits
