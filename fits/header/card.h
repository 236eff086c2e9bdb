// Header cards: the 80-column FITS card built from keyword, value, value type and comment,
// taken apart again, and the small text helpers the whole converter shares.
//
// Positions count characters from 1; 0 means "none". A blank is the space character and a
// line end is the two characters CR LF. Every function here is pure or changes only the text
// it is given, and none reports an error: unusable input is formatted by fixed rules.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace fits {

// A 1-based character position or line number; 0 means none. 64-bit so that headers far
// beyond the old 32,767-character limit work.
using Pos = std::int64_t;

// The type chosen for a card's value: the index of the item in the value-type list.
enum class ValueType : int {
    kNone = 0,
    kLogical = 1,
    kString = 2,
    kInteger = 3,
    kFloating = 4,
};

inline constexpr std::string_view kLineEnd = "\r\n";

// A card's columns (its width, 80, is kCardBytes): the keyword in columns 1-8, "= " in 9-10,
// and a fixed-format number or logical ending in column 30.
inline constexpr std::size_t kKeywordColumns = 8;
inline constexpr std::size_t kFixedValueEnd = 30;

// Building a card.
std::string FormatKeyword(std::string_view keyword);
std::string FormatValue(std::string_view value, ValueType valueType, std::string_view keywordField);
std::string FormatLogical(std::string_view value);
std::string FormatString(std::string_view value, bool quoted);
std::string FormatNumber(std::string_view value, bool floating);
std::string FormatComment(std::string_view comment);
std::string BuildCard(std::string_view keyword, std::string_view value, ValueType valueType,
                      std::string_view comment);

// Taking a card apart; the line may still end in a line end.
std::string GetKeyword(std::string_view line);
std::string GetValue(std::string_view line);
std::string GetComment(std::string_view line);
// Opening and closing quote of a string value (0 for each not found).
std::pair<Pos, Pos> FindQuotes(std::string_view text);
// Position of the blank of the comment separator " /" behind the value, or 0.
Pos FindComment(std::string_view text);

// Text helpers.
// The length of the text in characters, as a position.
inline Pos Len(std::string_view text) {
    return static_cast<Pos>(text.size());
}
void FitWidth(std::string& text, Pos width);
std::string CharAt(std::string_view text, Pos position);
void InsertChar(std::string& text, Pos position, std::string_view ch);
void DeleteChar(std::string& text, Pos position);
void ReplaceChar(std::string& text, Pos position, std::string_view ch);
bool IsUpperLetter(std::string_view ch);
std::string ChangeExtension(std::string_view fileName, std::string_view extension);

// Blanks (spaces only) removed at both ends, at the left or at the right.
std::string_view Trim(std::string_view text);
std::string_view TrimLeft(std::string_view text);
std::string_view TrimRight(std::string_view text);
// ASCII upper / lower case; other bytes are kept.
std::string ToUpper(std::string_view text);
std::string ToLower(std::string_view text);

// The one number grammar of header values, used by the card builder, the header check and
// every reader of a header's numbers: an optional sign, digits with at most one decimal
// point (at least one digit in all), then optionally an exponent letter E or D (FITS allows
// both; "e" and "d" are read too, and `exponent` tells which was written) with an optionally
// signed integer. Independent of the locale.
struct NumberSpan {
    std::size_t length = 0;  // characters of the number at the start of the text; 0: none
    bool real = false;       // a point or an exponent was seen
    char exponent = 0;       // the exponent letter as written, 0 when there is none
};
NumberSpan ScanNumber(std::string_view text);

// The value of a header number: the text, blanks around it aside, is one number of the
// grammar above and finite. "3.2768D4" gives 32768, as FITS readers take it.
std::optional<double> ReadNumber(std::string_view text);

// True when the text, without surrounding blanks, is a number of that grammar.
bool IsNumeric(std::string_view text);

// A digit "0"-"9"; a character a keyword may hold (A-Z, 0-9, "-", "_").
bool IsDigit(char c);
bool IsKeywordChar(char c);

}  // namespace fits
