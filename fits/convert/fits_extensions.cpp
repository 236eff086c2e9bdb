#include "fits/convert/fits_extensions.h"

#include <cstring>
#include <set>

#include "fits/automation/data_types.h"
#include "fits/convert/provenance.h"
#include "fits/convert/type_codes.h"
#include "fits/header/fits_format.h"
#include "fits/header/header_text.h"
#include "fits/header/header_values.h"

namespace fits {
namespace {

std::string Keyword(const std::string& card) {
    return std::string(
        TrimRight(std::string_view(card).substr(0, std::min<std::size_t>(8, card.size()))));
}

// The primary header of a file whose data are all in extensions: NAXIS = 0, no NAXISn,
// BZERO or BSCALE, and EXTEND = T.
std::vector<std::string> DatalessPrimary(std::vector<std::string> cards) {
    std::vector<std::string> out;
    for (std::string& card : cards) {
        const std::string k = Keyword(card);
        if (k == "NAXIS") {
            out.push_back(
                BuildCard("naxis", "0", ValueType::kInteger, "the data are in the extensions"));
            out.push_back(BuildCard("extend", "t", ValueType::kLogical, "extensions follow"));
        } else if ((k.size() > 5 && k.compare(0, 5, "NAXIS") == 0) || k == "BZERO" ||
                   k == "BSCALE") {
            continue;
        } else {
            out.push_back(std::move(card));
        }
    }
    return out;
}

void InsertExtend(std::vector<std::string>& cards) {
    for (const std::string& card : cards)
        if (Keyword(card) == "EXTEND") return;
    cards.insert(cards.begin() + static_cast<std::ptrdiff_t>(AfterArrayCards(cards)),
                 BuildCard("extend", "t", ValueType::kLogical, "extensions follow"));
}

// Writes each region as an image extension, then the lookup tables their axes name.
Status WriteRegions(FitsSink& sink, DataDocument& document, const DocumentMetadata& metadata,
                    std::int32_t bitpix, bool unsigned_offset, std::int64_t frames,
                    bool with_axes) {
    std::vector<std::string> tables;
    Frame frame;
    for (std::size_t k = 0; k < metadata.regions.size(); ++k) {
        const RegionMetadata& region = metadata.regions[k];
        const int index = static_cast<int>(k + 1);
        std::vector<std::string> cards =
            RegionExtensionCards(bitpix, unsigned_offset, region, frames, index);
        if (with_axes && AppendAxisCards(cards, region, index))
            tables.push_back(WaveTableHdu(region.wavelengths, index));
        AppendBinningCards(cards, region);  // where it lies on the sensor: also without axes
        sink.Append(BuildHeaderBlock(JoinCards(cards)));
        FrameEncoder encoder(bitpix, region.width, region.height);
        encoder.SetUnsignedOffset(unsigned_offset);
        for (std::int64_t f = 1; f <= frames; ++f) {
            if (Status s = document.GetRegionFrame(f, index, frame); !s) return s;
            encoder.EncodeRows(frame, 0, region.height,
                               sink.Reserve(static_cast<std::size_t>(encoder.FrameBytes())));
        }
        sink.PadBlock();
    }
    for (const std::string& table : tables)
        sink.Append(table);
    return Status::Ok();
}

}  // namespace

std::string WaveTableHdu(const std::vector<double>& nm, int version) {
    const std::string n = std::to_string(nm.size());
    std::vector<std::string> cards = {
        BuildCard("xtension", "BINTABLE", ValueType::kString, "lookup table of a WAVE-TAB axis"),
        BuildCard("bitpix", "8", ValueType::kInteger, ""),
        BuildCard("naxis", "2", ValueType::kInteger, ""),
        BuildCard("naxis1", std::to_string(8 * nm.size()), ValueType::kInteger, "bytes per row"),
        BuildCard("naxis2", "1", ValueType::kInteger, "rows"),
        BuildCard("pcount", "0", ValueType::kInteger, ""),
        BuildCard("gcount", "1", ValueType::kInteger, ""),
        BuildCard("tfields", "1", ValueType::kInteger, ""),
        BuildCard("ttype1", std::string(kWaveTableColumn), ValueType::kString,
                  "wavelength of each column"),
        BuildCard("tform1", n + "D", ValueType::kString, ""),
        BuildCard("tunit1", "nm", ValueType::kString, ""),
        BuildCard("tdim1", "(1," + n + ")", ValueType::kString,
                  "one coordinate, one value per column"),
        BuildCard("extname", std::string(kWaveTableName), ValueType::kString, ""),
        BuildCard("extver", std::to_string(version), ValueType::kInteger, ""),
    };
    std::string hdu = BuildHeaderBlock(JoinCards(cards));
    const std::size_t start = hdu.size();
    hdu.resize(start + 8 * nm.size());
    for (std::size_t i = 0; i < nm.size(); ++i)
        StoreBig<double>(reinterpret_cast<std::uint8_t*>(hdu.data() + start + 8 * i), nm[i]);
    hdu.resize(
        hdu.size() + static_cast<std::size_t>(BlockPadding(static_cast<std::int64_t>(hdu.size()))),
        '\0');
    return hdu;
}

namespace {

// A text as a data file gives it, kept when a card can hold it (printable ASCII, at most
// `most` characters); else empty.
std::string CardText(const std::string& text, std::size_t most) {
    if (text.size() > most) return {};
    for (char c : text)
        if (c < 0x20 || c > 0x7E) return {};
    return text;
}

// The FITS name (FITS Standard 4.0, section 4.3) of a unit a data file names in words or
// symbols; empty for one FITS does not know.
std::string FitsUnit(const std::string& unit) {
    static const std::pair<std::string_view, std::string_view> kUnits[] = {
        {"s", "s"},
        {"ms", "ms"},
        {"us", "us"},
        {"ns", "ns"},
        {"ps", "ps"},
        {"second", "s"},
        {"seconds", "s"},
        {"millisecond", "ms"},
        {"milliseconds", "ms"},
        {"microsecond", "us"},
        {"microseconds", "us"},
        {"nanosecond", "ns"},
        {"nanoseconds", "ns"},
        {"picosecond", "ps"},
        {"picoseconds", "ps"},
    };
    std::string lower = unit;
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    for (const auto& [name, fits] : kUnits)
        if (lower == name) return std::string(fits);
    return {};
}

}  // namespace

std::string FrameTableHdu(const FrameTable& table) {
    const std::size_t width = 8 * table.columns.size();
    std::vector<std::string> cards = {
        BuildCard("xtension", "BINTABLE", ValueType::kString, "facts recorded for each frame"),
        BuildCard("bitpix", "8", ValueType::kInteger, ""),
        BuildCard("naxis", "2", ValueType::kInteger, ""),
        BuildCard("naxis1", std::to_string(width), ValueType::kInteger, "bytes per row"),
        BuildCard("naxis2", std::to_string(table.rows), ValueType::kInteger, "one row per frame"),
        BuildCard("pcount", "0", ValueType::kInteger, ""),
        BuildCard("gcount", "1", ValueType::kInteger, ""),
        BuildCard("tfields", std::to_string(table.columns.size()), ValueType::kInteger, ""),
    };
    for (std::size_t i = 0; i < table.columns.size(); ++i) {
        const FrameColumn& column = table.columns[i];
        const std::string n = std::to_string(i + 1);
        cards.push_back(BuildCard("ttype" + n, column.name, ValueType::kString, column.comment));
        cards.push_back(BuildCard("tform" + n, column.integer ? "1K" : "1D", ValueType::kString,
                                  column.integer ? "64-bit integer" : "64-bit floating point"));
        if (std::string unit = FitsUnit(column.unit); !unit.empty())
            cards.push_back(BuildCard("tunit" + n, unit, ValueType::kString, ""));
        else if (std::string named = CardText(column.unit, 20); !named.empty())
            cards.push_back(BuildCard(
                "comment", "column " + n + " is in " + named + " (a unit FITS does not name)",
                ValueType::kNone, ""));
    }
    cards.push_back(BuildCard("extname", "FRAMES", ValueType::kString, ""));
    if (!table.time_reference.empty())
        cards.push_back(BuildCard("dateref", table.time_reference, ValueType::kString,
                                  "time columns count seconds from this time"));
    if (table.resolution)
        cards.push_back(BuildCard("tickrate", std::to_string(*table.resolution),
                                  ValueType::kInteger, "time stamp ticks per second"));
    if (std::string zero = CardText(table.absolute_time, 40); !zero.empty())
        cards.push_back(
            BuildCard("tickzero", zero, ValueType::kString, "the ticks count from this time"));
    std::string hdu = BuildHeaderBlock(JoinCards(cards));
    const std::size_t start = hdu.size();
    hdu.resize(start + width * static_cast<std::size_t>(table.rows));
    auto* out = reinterpret_cast<std::uint8_t*>(hdu.data() + start);
    for (std::int64_t r = 0; r < table.rows; ++r)
        for (const FrameColumn& column : table.columns) {
            const auto row = static_cast<std::size_t>(r);
            if (column.integer)
                StoreBig<std::int64_t>(out, column.wholes[row]);
            else
                StoreBig<double>(out, column.reals[row]);
            out += 8;
        }
    hdu.resize(
        hdu.size() + static_cast<std::size_t>(BlockPadding(static_cast<std::int64_t>(hdu.size()))),
        '\0');
    return hdu;
}

std::vector<std::string> RegionExtensionCards(std::int32_t bitpix, bool unsigned_offset,
                                              const RegionMetadata& region, std::int64_t frames,
                                              int index) {
    std::vector<std::string> cards = {
        BuildCard("xtension", "IMAGE", ValueType::kString, "region of interest"),
        BuildCard("bitpix", std::to_string(bitpix), ValueType::kInteger, ""),
        BuildCard("naxis", "3", ValueType::kInteger, "x, y, z"),
        BuildCard("naxis1", std::to_string(region.width), ValueType::kInteger, "number of columns"),
        BuildCard("naxis2", std::to_string(region.height), ValueType::kInteger, "number of rows"),
        BuildCard("naxis3", std::to_string(frames), ValueType::kInteger, "number of frames"),
        BuildCard("pcount", "0", ValueType::kInteger, ""),
        BuildCard("gcount", "1", ValueType::kInteger, ""),
    };
    if (unsigned_offset)
        for (std::string& card : UnsignedOffsetCards(bitpix))
            cards.push_back(std::move(card));
    cards.push_back(BuildCard("extname", "REGION" + std::to_string(index), ValueType::kString, ""));
    return cards;
}

std::string RegionsDifferMessage(const std::string& path, const DocumentMetadata& metadata) {
    std::string widths;
    for (const RegionMetadata& region : metadata.regions)
        AppendListed(widths, std::to_string(region.width));
    return path + ": regions of interest of different widths (" + widths +
           " columns); convert with --regions to write each region as its own image extension";
}

namespace {

// The header WriteWithOptions puts together: the header's cards, the keywords they hold
// before the data file's cards are added, those cards, and the extensions after the primary
// HDU.
struct HeaderAssembly {
    std::vector<std::string> cards;
    std::set<std::string> present;
    std::vector<std::string> added;
    ExtensionWriter extensions;
};

// Regions of different widths: the primary HDU holds no data and each region is an image
// extension of the header's BITPIX and frame count (`array`, the header before that change),
// with its axes when `axes`.
Status SplitIntoRegions(HeaderAssembly& header, const HeaderModel& array, DataDocument& document,
                        const DocumentMetadata& metadata, bool unsigned_offset, bool axes,
                        const std::string& path) {
    HeaderValues v = GetHeaderValues(array, kBitpix | kNaxis3);
    if (!v.bitpix || !v.naxis3 || *v.naxis3 <= 0)
        return Status::Error(path + ": the header gives no BITPIX or frame count for the regions");
    if (!IsSupportedBitpix(*v.bitpix)) return Status::Error(path + ": data type not supported");
    header.cards = DatalessPrimary(std::move(header.cards));
    const std::int32_t bitpix = *v.bitpix;
    const std::int64_t frames = *v.naxis3;
    header.extensions = [&document, &metadata, bitpix, unsigned_offset, frames,
                         axes](FitsSink& sink) {
        return WriteRegions(sink, document, metadata, bitpix, unsigned_offset, frames, axes);
    };
    return Status::Ok();
}

// " stands" after one keyword of a listed "A, B" text, " stand" after several.
const char* Stand(const std::string& listed) {
    return listed.find(", ") == std::string::npos ? " stands" : " stand";
}

// The data file's wavelength axis and binning, from the first region when every region has
// the same calibration. The axis is added whole or not at all: mixed with the header's own
// CRPIX1 or CTYPE1 it would give wrong wavelengths. A WAVE-TAB axis brings its lookup table
// as the extension (and EXTEND).
void AddAxisCards(HeaderAssembly& header, const DocumentMetadata& metadata, const std::string& path,
                  Reporter& reporter) {
    const RegionMetadata& region = metadata.regions.front();
    bool same = true;
    for (const RegionMetadata& other : metadata.regions)
        same = same && other.wavelengths == region.wavelengths;
    if (!same) {
        reporter.Warning(path +
                         ": the regions of interest have different calibrations; "
                         "no wavelength axis (convert with --regions)");
    } else {
        std::vector<std::string> axis;
        const bool table = AppendAxisCards(axis, region, 1);
        std::string clash;
        for (const std::string& card : axis)
            if (header.present.count(Keyword(card))) AppendListed(clash, Keyword(card));
        if (!clash.empty()) {
            reporter.Warning(ShownName(path) + ": the header's " + clash + Stand(clash) +
                             "; the data file's wavelength axis is not written");
        } else {
            header.added = std::move(axis);
            if (table) {
                InsertExtend(header.cards);
                std::string hdu = WaveTableHdu(region.wavelengths, 1);
                header.extensions = [hdu](FitsSink& sink) {
                    sink.Append(hdu);
                    return Status::Ok();
                };
            }
        }
    }
    // One region: where it lies; several share one image (AppendRegionRows says where each
    // lies), so only a binning they all have is the image's.
    bool same_binning = true;
    for (const RegionMetadata& other : metadata.regions)
        same_binning =
            same_binning && other.xbinning == region.xbinning && other.ybinning == region.ybinning;
    if (same_binning) AppendBinningCards(header.added, region, metadata.regions.size() == 1);
}

// The document's per-frame facts as a table extension after every other extension (EXTEND
// added unless the regions are split, whose primary header has it); its notes are warnings.
void AddFrameTable(HeaderAssembly& header, DataDocument& document, bool split,
                   const std::string& path, Reporter& reporter) {
    std::vector<std::string> notes;
    std::optional<FrameTable> table = document.GetFrameTable(notes);
    for (const std::string& note : notes)
        reporter.Warning(path + ": " + note);
    if (!table || table->columns.empty()) return;
    if (!split) InsertExtend(header.cards);
    header.extensions = [before = std::move(header.extensions),
                         hdu = FrameTableHdu(*table)](FitsSink& sink) {
        if (before)
            if (Status s = before(sink); !s) return s;
        sink.Append(hdu);
        return Status::Ok();
    };
}

// Appends the data file's cards to the header's, but for those whose keyword the header
// already has (COMMENT cards always go in): the header's stand, with a warning naming them.
void MergeAddedCards(HeaderAssembly& header, const std::string& path, Reporter& reporter) {
    std::string kept;
    for (std::string& card : header.added) {
        const std::string keyword = Keyword(card);
        if (keyword == "COMMENT" || keyword == "HISTORY" || !header.present.count(keyword))
            header.cards.push_back(std::move(card));
        else
            AppendListed(kept, keyword);
    }
    if (!kept.empty())
        reporter.Warning(ShownName(path) + ": the header's " + kept + Stand(kept) +
                         " instead of the data file's");
}

}  // namespace

Result<DocumentFacts> ReadDocumentFacts(DataDocument& document, const std::string& path,
                                        bool regions, const std::string& refusal_note) {
    DocumentFacts facts{document.GetMetadata()};
    // With --regions every region is its own image, also when their widths agree.
    if (regions)
        facts.split = facts.metadata.regions.size() > 1;
    else if (facts.metadata.RegionsDiffer())
        return Status::Error(RegionsDifferMessage(path, facts.metadata) + refusal_note);
    return facts;
}

Result<WriteOutcome> WriteWithOptions(HeaderContext& context, Reporter& reporter,
                                      DataDocument& document, const std::string& path,
                                      const ScienceOptions& options, const ByteProgress& progress) {
    auto facts = ReadDocumentFacts(document, path, options.regions);
    if (!facts) return facts.status();
    return WriteWithOptions(context, reporter, document, *facts, path, options, progress);
}

Result<WriteOutcome> WriteWithOptions(HeaderContext& context, Reporter& reporter,
                                      DataDocument& document, const DocumentFacts& facts,
                                      const std::string& path, const ScienceOptions& options,
                                      const ByteProgress& progress) {
    const DocumentMetadata& metadata = facts.metadata;
    const bool split = facts.split;
    HeaderAssembly header;
    header.cards = SplitCards(context.store.Text());
    if (options.bzero) UseUnsignedOffset(header.cards, UnsignedOffsetBitpix(document));
    const HeaderModel array = HeaderModel::FromLines(header.cards);
    const bool unsigned_offset = IsUnsignedOffset(array, document);
    if (options.metadata)
        for (const std::string& note : metadata.notes)
            reporter.Warning(path + ": " + note);
    if (split)
        if (Status s = SplitIntoRegions(header, array, document, metadata, unsigned_offset,
                                        options.metadata, path);
            !s)
            return s;
    // Cards the header already has (its own or the additional file's) are not repeated.
    for (const std::string& card : header.cards)
        header.present.insert(Keyword(card));
    if (!split && options.metadata && !metadata.regions.empty())
        AddAxisCards(header, metadata, path, reporter);
    // Regions stacked in one image: which rows hold which, and where each came from (also
    // without --metadata: the rows are otherwise indistinguishable).
    if (!split) AppendRegionRows(header.added, metadata.regions);
    if (options.metadata) {
        AppendFactCards(header.added, metadata);
        AddFrameTable(header, document, split, path, reporter);
    }
    AppendProvenanceCards(header.added, options, document.GetParam(doc_param::kPath).ToText(),
                          UtcNow());
    MergeAddedCards(header, path, reporter);
    // The window shows the header as written; the writer works from the cards parsed once.
    SetHeaderText(context.store, JoinCards(header.cards));
    return WriteFitsFile(HeaderModel::FromLines(header.cards), document, path, reporter, progress,
                         header.extensions);
}

}  // namespace fits
