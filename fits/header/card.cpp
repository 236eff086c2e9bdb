#include "fits/header/card.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>

namespace fits {
namespace {

constexpr auto kKeywordWidth = static_cast<Pos>(kKeywordColumns);
constexpr auto kLastValueColumn = static_cast<Pos>(kFixedValueEnd);
// Numbers and logicals end in column 30: 30 - 8 - len("= ") = 20 characters of field.
constexpr Pos kNumberWidth = kLastValueColumn - kKeywordWidth - 2;

// 1-based position of the first occurrence of `what` at or after `from`, or 0.
Pos FindFrom(std::string_view text, std::string_view what, Pos from) {
    if (from < 1 || from > Len(text)) return 0;
    auto found = text.find(what, static_cast<std::size_t>(from - 1));
    return found == std::string_view::npos ? 0 : static_cast<Pos>(found) + 1;
}

// The text up to its first line end (the whole text when it holds none).
std::string_view BeforeLineEnd(std::string_view text) {
    auto end = text.find(kLineEnd);
    return end == std::string_view::npos ? text : text.substr(0, end);
}

// Whether the number that the text begins with (leading blanks skipped) is not zero; a text
// that begins with no number counts as zero.
bool LeadingNumberIsNonZero(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    bool seen_point = false;
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (c == '.' && !seen_point) {
            seen_point = true;
        } else if (IsDigit(c)) {
            if (c != '0') return true;
        } else {
            break;
        }
    }
    return false;
}

}  // namespace

std::string_view TrimLeft(std::string_view text) {
    auto first = text.find_first_not_of(' ');
    return first == std::string_view::npos ? std::string_view{} : text.substr(first);
}

std::string_view TrimRight(std::string_view text) {
    auto last = text.find_last_not_of(' ');
    return last == std::string_view::npos ? std::string_view{} : text.substr(0, last + 1);
}

std::string_view Trim(std::string_view text) {
    return TrimRight(TrimLeft(text));
}

std::string ToUpper(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

std::string ToLower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsKeywordChar(char c) {
    return IsDigit(c) || (c >= 'A' && c <= 'Z') || c == '-' || c == '_';
}

NumberSpan ScanNumber(std::string_view s) {
    NumberSpan span;
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t digits = 0;
    while (i < s.size() && IsDigit(s[i]))
        ++i, ++digits;
    if (i < s.size() && s[i] == '.') {
        span.real = true;
        ++i;
        while (i < s.size() && IsDigit(s[i]))
            ++i, ++digits;
    }
    if (digits == 0) return {};
    if (i < s.size() && std::string_view("EeDd").find(s[i]) != std::string_view::npos) {
        std::size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
        std::size_t exponent_digits = 0;
        while (j < s.size() && IsDigit(s[j]))
            ++j, ++exponent_digits;
        if (exponent_digits == 0) return {};
        span.real = true;
        span.exponent = s[i];
        i = j;
    }
    span.length = i;
    return span;
}

std::optional<double> ReadNumber(std::string_view text) {
    text = Trim(text);
    const NumberSpan span = ScanNumber(text);
    if (span.length == 0 || span.length != text.size()) return std::nullopt;
    std::string number(text.starts_with('+') ? text.substr(1) : text);
    for (char& c : number)
        if (c == 'D' || c == 'd') c = 'E';
    double value = 0;
    auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error != std::errc() || end != number.data() + number.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

bool IsNumeric(std::string_view text) {
    text = Trim(text);
    const NumberSpan span = ScanNumber(text);
    return span.length > 0 && span.length == text.size();
}

void FitWidth(std::string& text, Pos width) {
    text.resize(static_cast<std::size_t>(std::max<Pos>(width, 0)), ' ');
}

std::string CharAt(std::string_view text, Pos position) {
    if (position < 1 || position > Len(text)) return {};
    return std::string(1, text[static_cast<std::size_t>(position - 1)]);
}

void InsertChar(std::string& text, Pos position, std::string_view ch) {
    if (position < 1 || position > Len(text) || ch.size() != 1) return;
    text.insert(static_cast<std::size_t>(position - 1), 1, ch[0]);
}

void DeleteChar(std::string& text, Pos position) {
    if (position < 1 || position > Len(text)) return;
    text.erase(static_cast<std::size_t>(position - 1), 1);
}

void ReplaceChar(std::string& text, Pos position, std::string_view ch) {
    if (position < 1 || position > Len(text) || ch.size() != 1) return;
    text[static_cast<std::size_t>(position - 1)] = ch[0];
}

bool IsUpperLetter(std::string_view ch) {
    return !ch.empty() && ch[0] >= 'A' && ch[0] <= 'Z';
}

std::string ChangeExtension(std::string_view fileName, std::string_view extension) {
    // Only the last path component's extension counts; a leading dot names a hidden file.
    auto slash = fileName.rfind('/');
    const std::size_t name_start = slash == std::string_view::npos ? 0 : slash + 1;
    auto dot = fileName.rfind('.');
    if (dot != std::string_view::npos && dot <= name_start) dot = std::string_view::npos;
    std::string out(dot == std::string_view::npos ? fileName : fileName.substr(0, dot));
    out += '.';
    out += extension;
    return out;
}

std::string FormatKeyword(std::string_view keyword) {
    std::string k(Trim(keyword));
    FitWidth(k, kKeywordWidth);
    k = ToUpper(k);
    Pos i = 1, n = kKeywordWidth, m = 1;
    while (i <= n) {
        char c = k[static_cast<std::size_t>(i - 1)];
        if (c == ' ') {
            ReplaceChar(k, i, "_");
            ++i;
        } else if (IsKeywordChar(c)) {
            ++i;
            m = i;
        } else {
            DeleteChar(k, i);
            k += ' ';
            --n;
        }
    }
    for (Pos p = m; p <= n; ++p)
        ReplaceChar(k, p, " ");
    return k;
}

std::string FormatValue(std::string_view value, ValueType valueType,
                        std::string_view keywordField) {
    std::string_view kw = Trim(keywordField);
    if (kw == "HISTORY" || kw == "COMMENT" || kw.empty()) return FormatString(value, false);
    switch (valueType) {
        case ValueType::kLogical:
            return FormatLogical(value);
        case ValueType::kString:
            return FormatString(value, true);
        case ValueType::kInteger:
            return FormatNumber(value, false);
        case ValueType::kFloating:
            return FormatNumber(value, true);
        default:
            return {};
    }
}

std::string FormatLogical(std::string_view value) {
    std::string out = "= " + std::string(static_cast<std::size_t>(kNumberWidth - 1), ' ');
    bool truth = ToUpper(value).find('T') != std::string::npos || LeadingNumberIsNonZero(value);
    out += truth ? 'T' : 'F';
    return out;
}

std::string FormatString(std::string_view value, bool quoted) {
    std::string text(TrimRight(value));
    if (!quoted) return text;
    text = "= '" + text;
    for (Pos p = FindFrom(text, "'", 4); p != 0; p = FindFrom(text, "'", p + 2))
        InsertChar(text, p, "'");
    if (Len(text) < 11) FitWidth(text, 11);
    text += '\'';
    return text;
}

namespace {

// A floating value too long for its 20 columns, written with as many significant digits as
// fit (15 at most, exponent kept): cutting its text could leave "3.3333333333333335E-",
// which no FITS reader takes.
std::string FitFloating(const std::string& text) {
    const std::optional<double> read = ReadNumber(text);
    if (!read) return text.substr(0, kNumberWidth);
    const double number = *read;
    for (int digits = 15; digits >= 1; --digits) {
        char buffer[48];
        auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, number,
                                       std::chars_format::scientific, digits - 1);
        if (ec != std::errc()) break;
        std::string out(buffer, end);
        for (char& c : out)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (out.find('.') == std::string::npos) out.insert(out.find('E'), 1, '.');
        if (Len(out) <= kNumberWidth) return out;
    }
    return text.substr(0, kNumberWidth);
}

}  // namespace

std::string FormatNumber(std::string_view value, bool floating) {
    std::string text;
    if (IsNumeric(value)) {
        if (floating) {
            text = ToUpper(Trim(value));
            if (text.find('.') == std::string::npos) {
                auto e = text.find_first_of("ED");
                if (e != std::string::npos)
                    text.insert(e, 1, '.');
                else
                    text += '.';
            }
        } else {
            std::string_view whole = Trim(value);
            whole = whole.substr(0, whole.find_first_of(".EeDd"));
            // ".5" or "-.5" leave no digit at all: write 0, not an empty (invalid) value.
            if (whole.find_first_of("0123456789") == std::string_view::npos) whole = "0";
            text = std::string(whole);
        }
    } else {
        text = floating ? "0." : "0";
    }
    if (Len(text) > kNumberWidth)
        text = floating ? FitFloating(text) : text.substr(0, kNumberWidth);
    return "= " + std::string(static_cast<std::size_t>(kNumberWidth - Len(text)), ' ') + text;
}

std::string FormatComment(std::string_view comment) {
    if (Trim(comment).empty()) return {};
    return " / " + std::string(comment);
}

std::string BuildCard(std::string_view keyword, std::string_view value, ValueType valueType,
                      std::string_view comment) {
    std::string field = FormatKeyword(keyword);
    return field + FormatValue(value, valueType, field) + FormatComment(comment);
}

std::pair<Pos, Pos> FindQuotes(std::string_view text) {
    Pos open = FindFrom(text, "'", 1);
    if (open == 0) return {0, 0};
    Pos i = open + 1;
    while (i <= Len(text)) {
        if (text[static_cast<std::size_t>(i - 1)] != '\'') {
            ++i;
        } else if (i + 1 <= Len(text) && text[static_cast<std::size_t>(i)] == '\'') {
            i += 2;  // an escaped (doubled) quote
        } else {
            return {open, i};
        }
    }
    return {open, 0};
}

Pos FindComment(std::string_view text) {
    Pos close = FindQuotes(text).second;
    return FindFrom(text, " /", close != 0 ? close + 1 : 1);
}

// A line end cuts the line short before any of the parsing below: a line handed over with
// its CR LF parses as the bare line.
std::string GetKeyword(std::string_view line) {
    std::string_view bare = BeforeLineEnd(line);
    return std::string(Trim(bare.substr(0, std::min<std::size_t>(bare.size(), 8))));
}

std::string GetValue(std::string_view line) {
    std::string_view bare = BeforeLineEnd(line);
    if (bare.size() <= 8) return {};
    std::string text(TrimRight(bare.substr(8)));
    if (text.empty()) return {};
    if (text.starts_with("= ")) text.erase(0, 2);
    if (Pos c = FindComment(text); c != 0) text.resize(static_cast<std::size_t>(c - 1));
    auto [open, close] = FindQuotes(text);
    if (open != 0 && close != 0)
        text =
            text.substr(static_cast<std::size_t>(open), static_cast<std::size_t>(close - open - 1));
    for (Pos p = FindFrom(text, "'", 1); p != 0; p = FindFrom(text, "'", p + 1))
        DeleteChar(text, p);
    return std::string(Trim(text));
}

std::string GetComment(std::string_view line) {
    std::string_view bare = BeforeLineEnd(line);
    Pos c = FindComment(bare);
    if (c == 0) return {};
    return std::string(Trim(bare.substr(static_cast<std::size_t>(c + 1))));
}

}  // namespace fits
