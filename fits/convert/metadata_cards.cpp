#include "fits/convert/metadata_cards.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "fits/convert/type_codes.h"
#include "fits/header/header_text.h"

namespace fits {
namespace {

constexpr std::size_t kValueWidth = 20;   // columns 11 to 30 of a fixed-format card
constexpr std::size_t kCommentText = 72;  // columns 9 to 80 of a COMMENT card

std::string Keyword(std::string_view card) {
    return std::string(TrimRight(card.substr(0, std::min<std::size_t>(8, card.size()))));
}

void Add(std::vector<std::string>& cards, std::string_view keyword, const std::string& value,
         ValueType type, std::string_view comment) {
    cards.push_back(BuildCard(keyword, value, type, comment));
}

void AddNumber(std::vector<std::string>& cards, std::string_view keyword, double value,
               std::string_view comment) {
    Add(cards, keyword, CardNumber(value), ValueType::kFloating, comment);
}

// A comment line in pieces of at most a COMMENT card's 72 text columns, each cut after its
// last blank where it has one, so no word is torn apart ("488nm" never becomes "4" / "88nm");
// joined, the pieces are the line.
std::vector<std::string> CommentPieces(std::string_view line) {
    std::vector<std::string> pieces;
    while (line.size() > kCommentText) {
        std::size_t cut = line.rfind(' ', kCommentText - 1);
        cut = cut == std::string_view::npos || cut == 0 ? kCommentText : cut + 1;
        pieces.emplace_back(line.substr(0, cut));
        line.remove_prefix(cut);
    }
    if (!line.empty()) pieces.emplace_back(line);
    return pieces;
}

}  // namespace

std::vector<std::string> SplitCards(std::string_view text) {
    std::vector<std::string> cards;
    ForEachLine(text, [&](Pos, std::string_view line) {
        auto end = line.find(kLineEnd);
        if (end != std::string_view::npos) line = line.substr(0, end);
        if (!line.empty()) cards.emplace_back(line);
        return true;
    });
    return cards;
}

std::string JoinCards(const std::vector<std::string>& cards) {
    std::string text;
    for (const std::string& card : cards) {
        text += card;
        text += kLineEnd;
    }
    return text;
}

std::string CardNumber(double value) {
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    std::string text = ec == std::errc() ? std::string(buffer, end) : "0";
    for (int digits = 16; text.size() > kValueWidth && digits > 1; --digits) {
        std::snprintf(buffer, sizeof buffer, "%.*E", digits - 1, value);
        text = buffer;
    }
    return text;
}

bool AppendAxisCards(std::vector<std::string>& cards, const RegionMetadata& region,
                     int table_version) {
    if (region.wavelengths.empty()) return false;
    const bool linear = region.linear_start && region.linear_step && *region.linear_step != 0;
    Add(cards, "ctype1", linear ? "WAVE" : "WAVE-TAB", ValueType::kString,
        "wavelength of the column");
    Add(cards, "cunit1", "nm", ValueType::kString, "");
    if (linear) {
        AddNumber(cards, "crpix1", 1, "reference pixel: the first column");
        AddNumber(cards, "crval1", *region.linear_start, "wavelength at the reference pixel");
        AddNumber(cards, "cdelt1", *region.linear_step, "wavelength step per column");
        return false;
    }
    // Pixel p (1-based) gives the index p into the table: CRVAL1 + CDELT1 (p - CRPIX1) = p.
    AddNumber(cards, "crpix1", 1, "");
    AddNumber(cards, "crval1", 1, "");
    AddNumber(cards, "cdelt1", 1, "");
    Add(cards, "ps1_0", std::string(kWaveTableName), ValueType::kString,
        "extension of the lookup table");
    Add(cards, "ps1_1", std::string(kWaveTableColumn), ValueType::kString,
        "column of the lookup table");
    Add(cards, "pv1_1", std::to_string(table_version), ValueType::kInteger, "EXTVER of the table");
    return true;
}

namespace {

std::string SectionText(const RegionMetadata::Section& s) {
    return "[" + std::to_string(s.x1) + ":" + std::to_string(s.x2) + "," + std::to_string(s.y1) +
           ":" + std::to_string(s.y2) + "]";
}

}  // namespace

void AppendRegionRows(std::vector<std::string>& cards, const std::vector<RegionMetadata>& regions) {
    if (regions.size() < 2) return;
    std::int64_t row = 1;
    for (std::size_t k = 0; k < regions.size(); ++k) {
        const RegionMetadata& region = regions[k];
        const std::string n = std::to_string(k + 1);
        const std::string rows =
            std::to_string(row) + ":" + std::to_string(row + region.height - 1);
        Add(cards, "rows" + n, rows, ValueType::kString, "image rows of region " + n);
        row += region.height;
        if (region.sensor)
            Add(cards, "detsec" + n, SectionText(*region.sensor), ValueType::kString,
                "sensor pixels of region " + n);
        if (region.xbinning)
            Add(cards, "xbin" + n, std::to_string(*region.xbinning), ValueType::kInteger,
                "sensor pixels per column of region " + n);
        if (region.ybinning)
            Add(cards, "ybin" + n, std::to_string(*region.ybinning), ValueType::kInteger,
                "sensor pixels per row of region " + n);
    }
}

void AppendBinningCards(std::vector<std::string>& cards, const RegionMetadata& region,
                        bool section) {
    if (section && region.sensor)
        Add(cards, "detsec", SectionText(*region.sensor), ValueType::kString,
            "sensor pixels of the region, 1-based");
    if (region.xbinning)
        Add(cards, "xbinning", std::to_string(*region.xbinning), ValueType::kInteger,
            "detector pixels per column");
    if (region.ybinning)
        Add(cards, "ybinning", std::to_string(*region.ybinning), ValueType::kInteger,
            "detector pixels per row");
}

void AppendFactCards(std::vector<std::string>& cards, const DocumentMetadata& metadata) {
    if (metadata.time)
        Add(cards, "date-obs", metadata.time->iso, ValueType::kString, metadata.time->comment);
    if (metadata.end_time)
        Add(cards, "date-end", metadata.end_time->iso, ValueType::kString,
            metadata.end_time->comment);
    if (!metadata.camera_model.empty())
        Add(cards, "instrume", metadata.camera_model, ValueType::kString, "camera model");
    if (!metadata.camera_serial.empty())
        Add(cards, "detector", metadata.camera_serial, ValueType::kString, "camera serial number");
    if (metadata.readout_mhz)
        AddNumber(cards, "readrate", *metadata.readout_mhz, "ADC readout rate, MHz");
    const std::pair<const std::optional<std::int32_t>*, std::pair<const char*, const char*>>
        codes[] = {
            {&metadata.adc_rate_code, {"adcrate", "ADC rate setting, as the data file codes it"}},
            {&metadata.gain_code, {"gainset", "analog gain setting, as the data file codes it"}},
            {&metadata.readout_mode, {"readmode", "readout mode, as the data file codes it"}},
            {&metadata.accumulations, {"accums", "exposures summed into each frame"}},
        };
    for (const auto& [value, card] : codes)
        if (*value)
            Add(cards, card.first, std::to_string(**value), ValueType::kInteger, card.second);
    // An integer card leaves its comment 47 characters: the longest method's still fits.
    if (metadata.frames_combined)
        Add(cards, "ncombine", std::to_string(*metadata.frames_combined), ValueType::kInteger,
            "frames combined per stored frame" +
                (metadata.combine_method.empty() ? "" : " (" + metadata.combine_method + ")"));
    if (metadata.gate_width_ns)
        AddNumber(cards, "gatewid", *metadata.gate_width_ns, "gate width in effect, ns");
    if (metadata.gate_delay_ns)
        AddNumber(cards, "gatedly", *metadata.gate_delay_ns, "gate delay in effect, ns");
    if (metadata.em_gain)
        AddNumber(cards, "emgain", *metadata.em_gain, "electron-multiplying gain setting");
    if (metadata.sensor_temperature)
        AddNumber(cards, "ccd-temp", *metadata.sensor_temperature,
                  "detector temperature reading, deg C");
    if (metadata.temperature_setpoint)
        AddNumber(cards, "set-temp", *metadata.temperature_setpoint,
                  "detector temperature set point, deg C");
    if (metadata.grating_grooves)
        AddNumber(cards, "grooves", *metadata.grating_grooves, "grating grooves per mm");
    if (metadata.center_wavelength)
        AddNumber(cards, "cenwave", *metadata.center_wavelength,
                  "spectrograph centre wavelength, nm");
    for (const std::string& line : metadata.comments)
        for (const std::string& piece : CommentPieces(line))
            cards.push_back("COMMENT " + piece);
}

std::size_t AfterArrayCards(const std::vector<std::string>& cards) {
    std::size_t at = 0;
    while (at < cards.size()) {
        std::string k = Keyword(cards[at]);
        const bool naxis_n = k.size() > 5 && k.compare(0, 5, "NAXIS") == 0;
        if (k != "SIMPLE" && k != "XTENSION" && k != "BITPIX" && k != "NAXIS" && !naxis_n) break;
        ++at;
    }
    return at;
}

bool UseUnsignedOffset(std::vector<std::string>& cards, std::int32_t bitpix) {
    if (bitpix == 0) return false;
    for (std::string& card : cards) {
        if (Keyword(card) != "BITPIX") continue;
        const std::string bits = std::to_string(bitpix);
        card =
            BuildCard("bitpix", bits, ValueType::kInteger, "unsigned " + bits + "-bit with BZERO");
        const auto at = static_cast<std::ptrdiff_t>(AfterArrayCards(cards));
        const std::vector<std::string> offset = UnsignedOffsetCards(bitpix);
        cards.insert(cards.begin() + at, offset.begin(), offset.end());
        return true;
    }
    return false;
}

}  // namespace fits
