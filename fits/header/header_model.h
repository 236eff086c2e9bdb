// A header parsed once into typed cards, with the one number grammar of card.h. The writer
// derives everything it needs from this model: the check against the FITS rules, the data
// layout, the scaling and unsigned-offset reading, and the header block. The header text
// stays the window's store; the model is rebuilt from it, never edited in its place.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fits/header/card.h"

namespace fits {

// What a card's value is, as FITS readers take it.
enum class ValueKind {
    kNone,   // no value: commentary text, no "= " in columns 9-10, or unreadable (`problem`)
    kEmpty,  // "= " and nothing but blanks or a comment after it
    kString,
    kLogical,
    kInteger,
    kReal,
    kComplex,  // "(real, imaginary)"
};

// One card of a header.
struct HeaderCard {
    Pos line = 0;         // 1-based line of the header text
    std::string text;     // the line without its line end; it may run past column 80
    std::string keyword;  // columns 1-8, blanks removed
    ValueKind kind = ValueKind::kNone;
    // A string's contents ('' read as one quote), T or F, a number or complex pair as written.
    std::string value;
    std::optional<double> number;  // the value of an integer or real
    bool fixed = false;            // an integer or logical ending in column 30
    // The text after the value's "/" (commentary cards: their text from column 9), blanks
    // around it removed.
    std::string comment;
    // Why the value cannot be read as FITS readers read it; empty when it can.
    std::string problem;
};

// Whether a keyword's card holds free text from column 9 on (COMMENT, HISTORY, blank).
bool IsCommentaryKeyword(std::string_view keyword);

// The card of header line `line` (no line end); its value is read from columns 1-80 only.
HeaderCard ParseCard(std::string_view line, Pos line_number = 0);

class HeaderModel {
  public:
    // Every non-empty line of the text, in order (the writer leaves empty lines out).
    static HeaderModel Parse(std::string_view text);
    // The lines given, numbered from 1 (the header JoinCards makes of them).
    static HeaderModel FromLines(const std::vector<std::string>& lines);

    const std::vector<HeaderCard>& Cards() const { return cards_; }
    // True when no card holds anything but blanks.
    bool Blank() const;
    // The first card with exactly this keyword, or null.
    const HeaderCard* Find(std::string_view keyword) const;
    // The value of the first card with this keyword when it is an integer or real.
    std::optional<double> Number(std::string_view keyword) const;
    // That value as a whole 32-bit number (rounded to nearest), when it is one.
    std::optional<std::int32_t> Whole(std::string_view keyword) const;
    // Whether the first card with this keyword holds a value, readable or not ("= " with
    // nothing after it is none).
    bool HasValue(std::string_view keyword) const;
    // The header block: each card cut or padded to 80 columns, END, then blanks to a whole
    // number of 2880-byte blocks.
    std::string Block() const;

  private:
    void Add(std::string_view line, Pos line_number);
    std::vector<HeaderCard> cards_;
};

}  // namespace fits
