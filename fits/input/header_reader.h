// Taking the header of an existing FITS or text file into header text, and looking up a
// keyword's value in header text.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "fits/automation/result.h"
#include "fits/header/header_text.h"

namespace fits {

// True when the path is read as FITS: its lower-case form contains ".fit" anywhere.
bool IsFitsName(std::string_view path);

// The header of the file as header text, or why it cannot be used: the system's reason when
// it cannot be opened or read, or the line (card) that a FITS header cannot hold — one longer
// than 80 characters, or with bytes outside printable ASCII (tab, NUL, UTF-8, binary).
// FITS: the cards up to the block holding END, each right-trimmed with a line end, blank
// cards and END dropped; the data are not read; a header without END (cut short) is refused. Text:
// the whole file with blanks removed at both ends, its lines ended by CR LF, LF or CR, stored with
// CR LF, up to an END line (a warning in `warnings` names anything but blanks behind it); a line
// whose keyword holds anything but A-Z, 0-9, '-' and '_' is refused. A source over 16 MiB is
// refused whole. The cards are put in FITS card form (NormalizeCardLayout): "A = 1" becomes "A =
// 1".
Result<std::string> ReadFileHeader(const std::string& path,
                                   std::vector<std::string>* warnings = nullptr);

// The header of a file taken for other files' headers (added to them, or replacing theirs):
// ReadFileHeader's (a tile-compressed file's: its image's, see ImageHeaderOf), without what it
// says of its own file's making, each kind named in
// `warnings`: DATE and the converter's provenance HISTORY cards, and the cards of an axis
// whose values stand in a table of that file ("WAVE-TAB"), which a header does not bring.
Result<std::string> ReadHeaderTemplate(const std::string& path,
                                       std::vector<std::string>* warnings = nullptr);

// The HISTORY cards that record how the converter wrote a file (see AppendProvenanceCards):
// their texts begin with these.
inline constexpr std::string_view kWrittenByPrefix = "written by ";
inline constexpr std::string_view kConvertedFromPrefix = "converted from ";
inline constexpr std::string_view kOptionsPrefix = "options: ";
// A "converted from" text longer than a card's 72 characters runs on in further HISTORY cards,
// each cut at 72 characters or, not to split a \xHH escape, at 69 at the least.
inline constexpr std::size_t kRecordPiece = 72;
inline constexpr std::size_t kShortestRecordPiece = kRecordPiece - 3;

// Header text of cards as a FITS file holds them (80 characters each): each right-trimmed
// with a line end, blank cards and END dropped, in FITS card form (NormalizeCardLayout).
std::string CardsToHeaderText(std::string_view cards);

// The cards that say how the data are laid out and read: SIMPLE, BITPIX, NAXIS, NAXISn,
// EXTEND, the scaling BZERO, BSCALE, BLANK, and GROUPS, XTENSION, PCOUNT, GCOUNT of other
// kinds of HDU, and the table cards (TFIELDS, THEAP, TFORMn, TZEROn, ...). A header already
// holding SIMPLE has its own or must not have them: copied from another file, BZERO would
// shift every value a reader sees.
bool IsStructuralKeyword(std::string_view keyword);

// Appends `added` behind `text` (starting a new line when needed). When `text` already holds
// a SIMPLE card, the structural and table cards of `added`, cards whose keyword is not in FITS
// form (lower case), and cards whose keyword `text` or an earlier card of `added` already holds
// (COMMENT, HISTORY, CONTINUE, HIERARCH and blank keywords may repeat) are left out; their
// keywords are returned, each once. So are cards FITS readers would refuse (CardProblem),
// each returned as its keyword followed by the reason in parentheses.
std::vector<std::string> AppendHeaderText(std::string& text, std::string_view added);

// A header file read once (a pipe or FIFO gives its bytes only once): its name, for
// messages, and its cards as header text.
struct HeaderSource {
    std::string path;
    std::string text;
};

// Stores the store's text followed by the source's cards (see AppendHeaderText); the
// keywords left out.
Result<std::vector<std::string>> AppendHeaderSource(HeaderStore& store, const HeaderSource& source);

// Stores the store's text followed by the file's header (ReadHeaderTemplate, then
// AppendHeaderText); the
// keywords left out, or why the file cannot be used (the store is then unchanged). Warnings
// on the file's header go to `warnings`.
Result<std::vector<std::string>> AppendFileHeader(HeaderStore& store, const std::string& path,
                                                  std::vector<std::string>* warnings = nullptr);

// The warning for cards left out of `path`'s header; empty when none were.
std::string LeftOutWarning(const std::string& path, const std::vector<std::string>& keywords);

}  // namespace fits
