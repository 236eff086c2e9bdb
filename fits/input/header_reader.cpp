#include "fits/input/header_reader.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>

#include "fits/automation/c_file.h"
#include "fits/header/fits_format.h"
#include "fits/header/header_check.h"
#include "fits/input/image_header.h"

namespace fits {
namespace {

constexpr auto kBlock = static_cast<std::size_t>(kBlockBytes);
constexpr auto kCard = static_cast<std::size_t>(kCardBytes);
// A header source is read up to this size: a large file that is no header (a data file named
// .fit without END, a binary file picked by mistake) must not fill the memory. 16 MiB holds
// more than 200,000 cards.
constexpr std::size_t kMaxHeaderBytes = std::size_t{16} << 20;

// Appends the cards of one piece of a FITS header: each right-trimmed with a line end,
// pieces that are empty or exactly "END" dropped.
void AppendCards(std::string_view piece, std::string& out) {
    for (std::size_t at = 0; at < piece.size(); at += kCard) {
        std::string_view card = TrimRight(piece.substr(at, kCard));
        if (card.empty() || card == "END") continue;
        out += card;
        out += kLineEnd;
    }
}

bool HoldsEndCard(std::string_view block) {
    for (std::size_t at = 0; at < block.size(); at += kCard)
        if (GetKeyword(block.substr(at, kCard)) == "END") return true;
    return false;
}

// Why a card or text line cannot stand in a FITS header; empty when it can.
std::string LineProblem(std::string_view line) {
    for (unsigned char c : line) {
        if (c >= 0x20 && c < 0x7F) continue;
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02X", c);
        const char* what = c == '\t'   ? " (tab)"
                           : c == 0    ? " (NUL)"
                           : c >= 0x80 ? " (not ASCII)"
                                       : "";
        return std::string("holds the byte ") + hex + what +
               "; a FITS header holds printable ASCII only";
    }
    if (line.size() > kCard && !OnlyCommentBeyondCard(line))
        return "is " + std::to_string(line.size()) +
               " characters long; a card holds 80 (only a comment may run beyond, to be cut)";
    return {};
}

Status LineError(const std::string& path, std::size_t number, const std::string& problem) {
    return Status::Error(ShownName(path) + ": line " + std::to_string(number) + " " + problem);
}

std::string MegaBytes(std::size_t bytes) {
    return std::to_string(bytes >> 20) + " MiB";
}

// The cards up to END. A header without END (a file cut short, or no FITS file at all) is
// refused: its last cards may be missing, and a reader would not open the file.
Result<std::string> ReadFitsHeader(std::FILE* file, const std::string& path,
                                   std::string_view head) {
    std::string result;
    std::string block(kBlock, ' ');
    std::size_t card_number = 0, last_written = 0;  // the last card not all blanks
    for (std::size_t total = 0; total < kMaxHeaderBytes; total += kBlock) {
        // The bytes already read to tell the kind of file come first.
        const std::size_t first = total == 0 ? head.size() : 0;
        if (first > 0) std::memcpy(block.data(), head.data(), first);
        std::size_t got = first + std::fread(block.data() + first, 1, kBlock - first, file);
        if (got < kBlock && std::ferror(file))
            return Status::Error(ShownName(path) + ": cannot read: " + SystemReason());
        std::string_view piece(block.data(), got);
        const bool end = HoldsEndCard(piece);
        for (std::size_t at = 0; at < piece.size(); at += kCard) {
            ++card_number;
            std::string_view card = piece.substr(at, kCard);
            if (GetKeyword(card) == "END") break;
            std::string problem = LineProblem(card);
            if (!problem.empty() && card_number == 1)  // binary from the start: a data file
                return Status::Error(ShownName(path) +
                                     ": not a FITS file (its first 80 bytes are no header card; "
                                     "a FITS file begins with SIMPLE)");
            if (!problem.empty()) return LineError(path, card_number, problem);
            if (card.find_first_not_of(' ') != std::string_view::npos) last_written = card_number;
        }
        AppendCards(piece, result);
        if (end) return result;
        if (got < kBlock)
            return Status::Error(ShownName(path) + ": the header ends after " +
                                 std::to_string(last_written) +
                                 " cards without an END card (the file is cut short)");
    }
    return Status::Error(ShownName(path) + ": no END card in the first " +
                         MegaBytes(kMaxHeaderBytes) + "; a header file holds at most that");
}

// Why a text line's keyword cannot stand in a FITS header; empty when it can. The keyword is
// the line's start up to a blank or '=' within the 8-column keyword field.
std::string KeywordProblem(std::string_view line) {
    std::string_view field = line.substr(0, std::min<std::size_t>(line.size(), 8));
    std::string_view keyword = field.substr(0, field.find_first_of(" ="));
    for (char c : keyword) {
        if (IsKeywordChar(c)) continue;
        return "has the keyword \"" + std::string(keyword) +
               "\"; a keyword holds A-Z, 0-9, '-' and '_' only";
    }
    return {};
}

// Reads a text header: lines ended by CR LF, LF or CR come out ended by CR LF. The header
// ends at an END line; anything but blanks behind it is named in `warnings`.
Result<std::string> ReadTextHeader(std::FILE* file, const std::string& path,
                                   std::vector<std::string>* warnings, std::string_view head) {
    std::string content(head);
    char buffer[65536];
    for (std::size_t got; content.size() <= kMaxHeaderBytes &&
                          (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        content.append(buffer, got);
    if (std::ferror(file))
        return Status::Error(ShownName(path) + ": cannot read: " + SystemReason());
    if (content.size() > kMaxHeaderBytes)
        return Status::Error(ShownName(path) + ": is larger than " + MegaBytes(kMaxHeaderBytes) +
                             "; a header file holds at most that (more than 200,000 cards)");
    std::string_view text = Trim(content);
    std::string out;
    out.reserve(text.size() + text.size() / 40);
    std::size_t number = 1;
    for (std::size_t start = 0; start <= text.size();) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) end = text.size();
        // Blanks at a line's end are no part of a card (a card is filled with them anyway).
        std::string_view line = TrimRight(text.substr(start, end - start));
        if (GetKeyword(line) == "END") {
            const bool more = text.substr(end).find_first_not_of(" \r\n") != std::string::npos;
            if (more && warnings)
                warnings->push_back(ShownName(path) + ": line " + std::to_string(number) +
                                    " is END; the lines after it are not header and were left out");
            return out;
        }
        std::string problem = LineProblem(line);
        if (problem.empty()) problem = KeywordProblem(line);
        if (problem.empty()) problem = LongKeywordProblem(line);
        if (!problem.empty()) return LineError(path, number, problem);
        out += line;
        if (end == text.size()) break;
        out += kLineEnd;
        start = end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
        ++number;
    }
    return out;
}

// The text a HISTORY card of the converter's record of a file's writing begins with
// (kWrittenByPrefix, kConvertedFromPrefix or kOptionsPrefix); empty for any other card.
std::string_view RecordPrefix(std::string_view line) {
    if (GetKeyword(line) != "HISTORY" || line.size() <= 8) return {};
    const std::string_view said = TrimLeft(line.substr(8));
    for (std::string_view prefix : {kWrittenByPrefix, kConvertedFromPrefix, kOptionsPrefix})
        if (said.starts_with(prefix)) return prefix;
    return {};
}

// The axis numbers whose CTYPEn names a lookup-table axis ("WAVE-TAB"): its values stand in a
// table extension of the file the header came from, which a header alone does not bring.
std::set<std::string> TableAxes(std::string_view text) {
    std::set<std::string> axes;
    ForEachLine(text, [&](Pos, std::string_view line) {
        const std::string keyword = GetKeyword(line);
        if (keyword.size() > 5 && keyword.starts_with("CTYPE") &&
            ToUpper(GetValue(line)).ends_with("-TAB"))
            axes.insert(keyword.substr(5));
        return true;
    });
    return axes;
}

// Whether the keyword belongs to the world coordinates of one of `axes`: CTYPEn, CUNITn, CRPIXn,
// CRVALn, CDELTn, CNAMEn, PSn_m, PVn_m.
bool OfTableAxis(const std::string& keyword, const std::set<std::string>& axes) {
    for (std::string_view root : {"CTYPE", "CUNIT", "CRPIX", "CRVAL", "CDELT", "CNAME"})
        if (keyword.starts_with(root) && axes.count(keyword.substr(root.size()))) return true;
    if (!keyword.starts_with("PS") && !keyword.starts_with("PV")) return false;
    const std::size_t bar = keyword.find('_');
    return bar != std::string::npos && axes.count(keyword.substr(2, bar - 2));
}

// Whether the keyword is one the converter writes from a data file's own record (in the
// Standard header, or with --metadata): true of that data file only. Indexed ones (ROWSn,
// DETSECn, XBINn, YBINn) and every axis's world coordinates count.
bool IsDataFileFact(const std::string& keyword) {
    static constexpr std::string_view kFacts[] = {
        "EXPTIME",  "DATE-OBS", "DATE-END", "INSTRUME", "DETECTOR", "READRATE", "ADCRATE",
        "GAINSET",  "READMODE", "ACCUMS",   "NCOMBINE", "GATEWID",  "GATEDLY",  "EMGAIN",
        "CCD-TEMP", "SET-TEMP", "GROOVES",  "CENWAVE",  "DETSEC",   "XBINNING", "YBINNING"};
    if (std::find(std::begin(kFacts), std::end(kFacts), keyword) != std::end(kFacts)) return true;
    for (std::string_view root :
         {"ROWS", "DETSEC", "XBIN", "YBIN", "CTYPE", "CUNIT", "CRPIX", "CRVAL", "CDELT", "CNAME"})
        if (keyword.size() > root.size() && keyword.starts_with(root) &&
            std::all_of(keyword.begin() + static_cast<std::ptrdiff_t>(root.size()), keyword.end(),
                        IsDigit))
            return true;
    return (keyword.starts_with("PS") || keyword.starts_with("PV")) &&
           keyword.find('_') != std::string::npos;
}

// Leaves out what a header file says of its own file's making, which a file written with it
// would tell falsely, each kind named in `warnings`: when it was written (DATE) and the
// converter's provenance HISTORY cards (they also decide --update); for a file the converter
// wrote from a data file (it says "converted from"), every fact of that data file; for
// others, an axis whose values stand in a table the header does not bring (a reader would
// look for it in vain).
void LeaveOutAnotherFilesMaking(std::string& text, const std::string& path,
                                std::vector<std::string>* warnings) {
    bool converted = false;
    ForEachLine(text, [&](Pos, std::string_view line) {
        converted = RecordPrefix(line) == kConvertedFromPrefix;
        return !converted;
    });
    const std::set<std::string> axes = converted ? std::set<std::string>{} : TableAxes(text);
    std::string kept, making, facts;
    // A name too long for one "converted from" card runs on in the next HISTORY card; the
    // writer fills each card it continues to 69 characters at least (72, less an escape it
    // would cut), so a shorter one ends the record and what follows is the user's.
    bool runs_on = false;
    ForEachLine(text, [&](Pos, std::string_view line) {
        const std::string keyword = GetKeyword(line);
        const std::string_view record = RecordPrefix(line);
        const bool continued = runs_on && keyword == "HISTORY" && record.empty();
        const std::size_t width = TrimRight(line.substr(0, line.find(kLineEnd))).size();
        runs_on =
            (continued || record == kConvertedFromPrefix) && width >= 8 + kShortestRecordPiece;
        if (continued) {
            return true;
        } else if (keyword == "DATE" || !record.empty()) {
            const std::string said =
                record.empty() ? keyword
                               : "HISTORY " + std::string(Trim(record.substr(0, record.find(':'))));
            if (making.find(said) == std::string::npos) AppendListed(making, said);
        } else if (converted ? IsDataFileFact(keyword) : OfTableAxis(keyword, axes)) {
            AppendListed(facts, keyword);
        } else {
            kept += line;
        }
        return true;
    });
    if (making.empty() && facts.empty()) return;
    if (!text.ends_with(kLineEnd) && kept.ends_with(kLineEnd))
        kept.resize(kept.size() - kLineEnd.size());
    text = std::move(kept);
    if (!warnings) return;
    if (!making.empty())
        warnings->push_back(ShownName(path) + ": left out " + making +
                            ": what it says of that file's writing; each file written tells its "
                            "own");
    if (!facts.empty())
        warnings->push_back(
            ShownName(path) + ": left out " + facts +
            (converted ? ": facts of the data file it was converted from"
                       : ": an axis whose values stand in that file's table, which a header "
                         "does not bring"));
}

}  // namespace

bool IsFitsName(std::string_view path) {
    return ToLower(path).find(".fit") != std::string::npos;
}

Result<std::string> ReadFileHeader(const std::string& path, std::vector<std::string>* warnings) {
    UniqueFile file(std::fopen(path.c_str(), "rb"));
    if (!file) return Status::Error(ShownName(path) + ": cannot open: " + SystemReason());
    struct stat st {};
    if (fstat(fileno(file.get()), &st) == 0 && S_ISDIR(st.st_mode))
        return Status::Error(ShownName(path) + ": is a folder, not a header file");
    // The kind comes from the bytes where they tell it (a FITS header read through a pipe has
    // no name): a file beginning with a SIMPLE card is FITS, one with a line end in its first
    // card is text; otherwise the name says (".fit" anywhere: FITS).
    std::string head(kCard + 2, '\0');  // a text line of 80 characters ends in 81 and 82
    head.resize(std::fread(head.data(), 1, head.size(), file.get()));
    const bool line_end = head.find_first_of("\r\n") != std::string::npos;
    const bool fits = head.starts_with("SIMPLE  =") ? !line_end : !line_end && IsFitsName(path);
    auto text = fits ? ReadFitsHeader(file.get(), path, head)
                     : ReadTextHeader(file.get(), path, warnings, head);
    if (!text) return text;
    NormalizeCardLayout(*text);
    return text;
}

Result<std::string> ReadHeaderTemplate(const std::string& path,
                                       std::vector<std::string>* warnings) {
    auto text = ReadFileHeader(path, warnings);
    if (!text) return text;
    // A tile-compressed file's cards are its image's, after an empty primary HDU.
    text = ImageHeaderOf(path, std::move(*text));
    if (text) LeaveOutAnotherFilesMaking(*text, path, warnings);
    return text;
}

std::string CardsToHeaderText(std::string_view cards) {
    std::string text;
    AppendCards(cards, text);
    NormalizeCardLayout(text);
    return text;
}

Result<std::vector<std::string>> AppendHeaderSource(HeaderStore& store,
                                                    const HeaderSource& source) {
    std::string text = store.Text();
    std::vector<std::string> left_out = AppendHeaderText(text, source.text);
    SetHeaderText(store, text);
    return left_out;
}

bool IsStructuralKeyword(std::string_view keyword) {
    static constexpr std::string_view kWrittenByConverter[] = {
        "SIMPLE", "BITPIX", "NAXIS",    "EXTEND", "BZERO",  "BSCALE",
        "BLANK",  "GROUPS", "XTENSION", "PCOUNT", "GCOUNT",
    };
    for (std::string_view k : kWrittenByConverter)
        if (keyword == k) return true;
    if (IsTableKeyword(keyword)) return true;
    if (keyword.size() <= 5 || keyword.substr(0, 5) != "NAXIS") return false;
    return keyword.substr(5).find_first_not_of("0123456789") == std::string_view::npos;
}

namespace {

// Whether every character of the keyword is one a FITS keyword may hold (lower case is not).
bool InFitsForm(std::string_view keyword) {
    return std::all_of(keyword.begin(), keyword.end(), IsKeywordChar);
}

// Keywords a header holds any number of times.
bool MayRepeat(std::string_view keyword) {
    return keyword.empty() || keyword == "COMMENT" || keyword == "HISTORY" ||
           keyword == "CONTINUE" || keyword == "HIERARCH";
}

}  // namespace

std::vector<std::string> AppendHeaderText(std::string& text, std::string_view added) {
    std::vector<std::string> left_out;
    if (added.empty()) return left_out;
    bool holds_simple = false;
    std::set<std::string> held;
    ForEachLine(text, [&](Pos, std::string_view line) {
        std::string keyword = GetKeyword(line);
        if (keyword == "SIMPLE") holds_simple = true;
        if (!MayRepeat(keyword)) held.insert(keyword);
        return true;
    });
    // A text-file header may end without a line end; the cards must not join its last line.
    if (!text.empty() && !text.ends_with(kLineEnd)) text += kLineEnd;
    if (!holds_simple) {
        text += added;
        return left_out;
    }
    ForEachLine(added, [&](Pos, std::string_view line) {
        std::string keyword = GetKeyword(line);
        // A keyword in lower case (another writer's FITS file) is not a FITS keyword.
        const bool invalid = !InFitsForm(keyword);
        std::string_view bare = line.substr(0, line.find(kLineEnd));
        if (IsStructuralKeyword(keyword) || invalid || held.count(keyword)) {
            if (std::find(left_out.begin(), left_out.end(), keyword) == left_out.end())
                left_out.push_back(keyword);
        } else if (std::string problem = CardProblem(bare); !problem.empty()) {
            // A card FITS readers would refuse: left out, with the reason.
            left_out.push_back(keyword + " (" + problem + ")");
        } else {
            text += line;
            if (!MayRepeat(keyword)) held.insert(keyword);  // repeated in the file: kept once
        }
        return true;
    });
    return left_out;
}

Result<std::vector<std::string>> AppendFileHeader(HeaderStore& store, const std::string& path,
                                                  std::vector<std::string>* warnings) {
    auto added = ReadHeaderTemplate(path, warnings);
    if (!added) return added.status();
    return AppendHeaderSource(store, HeaderSource{path, std::move(*added)});
}

std::string LeftOutWarning(const std::string& path, const std::vector<std::string>& keywords) {
    if (keywords.empty()) return {};
    // Each group is said once, with the reason that left its cards out; a refused card
    // already carries its own reason.
    std::string written, lower, held, refused;
    for (const std::string& k : keywords) {
        if (k.find(" (") != std::string::npos)
            AppendListed(refused, k);
        else if (IsStructuralKeyword(k))
            AppendListed(written, k);
        else if (!InFitsForm(k))
            AppendListed(lower, k);
        else
            AppendListed(held, k);
    }
    std::string said;
    const std::pair<const std::string&, const char*> groups[] = {
        {written, " (cards the converter writes itself)"},
        {lower, " (keywords not in FITS form)"},
        {held, " (keywords the header already holds)"},
        {refused, ""}};
    for (const auto& [list, why] : groups)
        if (!list.empty()) said += (said.empty() ? "" : "; ") + list + why;
    return ShownName(path) + ": left out " + said;
}

}  // namespace fits
