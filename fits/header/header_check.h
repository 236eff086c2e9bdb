// The check of a header about to be written: what FITS readers require of every card and of
// a primary header's order, so that no file we report as written is one they refuse.
//
// The rules are those of the FITS Standard 4.0 (sections 3.3, 4.1-4.4) that readers enforce:
// printable ASCII only; a keyword of A-Z, 0-9, '-' and '_', left-justified in columns 1-8;
// a value after "= " that is a closed string, T or F, a finite number (exponent 'E' or 'D')
// or a complex pair, followed by nothing but blanks or a comment; SIMPLE = T first, then
// BITPIX, NAXIS and NAXIS1 ... NAXISn in this order with their values in fixed format (the
// last character in column 30); no keyword twice but the commentary ones; reserved keywords
// with values of their type; nothing that belongs to extensions; END only as the writer adds
// it at the end.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fits/header/card.h"
#include "fits/header/header_model.h"

namespace fits {

// Why the header cannot be written as it stands: the line (1-based, in the header text; 0 for
// the header as a whole) and the reason in words.
struct HeaderProblem {
    Pos line = 0;
    std::string keyword;
    std::string reason;
};

enum class HeaderCheck {
    // A primary header about to be written: everything FITS requires must be there.
    kComplete,
    // A header being built or kept as text: what is there must be right, but mandatory cards
    // may still be missing at the end, and a header without SIMPLE is a set of cards to add
    // to another header (never an extension's: every header written here is a primary one).
    kPartial,
};

// Why this card (one line, without line end) cannot stand in a FITS header; empty when it
// can. Lines longer than 80 characters are judged on their first 80.
std::string CardProblem(std::string_view card);

// Why the line's keyword runs on past column 8 before its "=" ("TEMPERATURE = -60.5", which
// readers would take as the keyword TEMPERAT followed by text, its value lost); empty when it
// does not. Keywords longer than 8 characters are refused, not cut or turned into HIERARCH.
std::string LongKeywordProblem(std::string_view line);

// The first problem of the header, or none.
std::optional<HeaderProblem> FindHeaderProblem(const HeaderModel& header, HeaderCheck check);
std::optional<HeaderProblem> FindHeaderProblem(std::string_view text, HeaderCheck check);

// The problem as one line naming where it is: "NAME: header line N (KEYWORD): reason".
std::string DescribeProblem(const std::string& name, const HeaderProblem& problem);

// Keywords of table headers (TFIELDS, THEAP, TFORMn, TTYPEn, TZEROn, ...).
bool IsTableKeyword(std::string_view keyword);

// Whether a line longer than a card holds beyond column 80 only comment (or the text of a
// commentary card), which the writer cuts with a warning.
bool OnlyCommentBeyondCard(std::string_view line);

// Lines longer than a card whose part beyond column 80 lies in the comment: the writer cuts
// them there. Each entry names the line and the text cut off.
std::vector<std::string> CutComments(const HeaderModel& header);
std::vector<std::string> CutComments(std::string_view text);

// Puts the cards of a header file in FITS card form where the intent is plain, changing no
// keyword, value or comment: "KEYWORD = value" written with other spacing gets its "= " in
// columns 9-10, and the mandatory cards (SIMPLE, BITPIX, NAXIS, NAXISn) with right values
// get them in the fixed format readers require (ending in column 30).
void NormalizeCardLayout(std::string& text);

// What Add Line says about the card it is asked to add, built from what the user typed
// (keyword, value and comment as UTF-8).
struct CardReview {
    // Why the card is not added: text a card cannot hold, a value FITS readers would not
    // take, or a place that breaks the mandatory order. Empty when it is added.
    std::string refused;
    // What the card does not keep of what was typed: a comment cut at column 80, a value
    // dropped or changed, a keyword shortened.
    std::vector<std::string> notes;
};

// Reviews inserting `card` (BuildCard of the typed parts) into `before`, giving `after`.
CardReview ReviewNewCard(std::string_view before, std::string_view after, std::string_view card,
                         std::string_view keyword, std::string_view value, ValueType valueType,
                         std::string_view comment);

}  // namespace fits
