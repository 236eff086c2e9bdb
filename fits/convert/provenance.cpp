#include "fits/convert/provenance.h"

#include <fitsio.h>

#include <ctime>
#include <filesystem>

#include "fits/header/card.h"
#include "fits/input/header_reader.h"

namespace fits {
std::string OptionsRecord(const ScienceOptions& options) {
    std::string record;
    const std::pair<bool, const char*> choices[] = {{options.metadata, "--metadata"},
                                                    {options.bzero, "--bzero"},
                                                    {options.regions, "--regions"}};
    for (const auto& [on, name] : choices)
        if (on) record += (record.empty() ? "" : " ") + std::string(name);
    return record;
}

void AppendProvenanceCards(std::vector<std::string>& cards, const ScienceOptions& options,
                           const std::string& source, const std::string& now_utc) {
    if (options.metadata) {
        cards.push_back(
            BuildCard("date", now_utc, ValueType::kString, "UTC time the FITS file was written"));
        if (!options.writer.empty())
            cards.push_back("HISTORY " + std::string(kWrittenByPrefix) + options.writer);
        const std::string said = std::string(kConvertedFromPrefix) +
                                 AsciiName(std::filesystem::path(source).filename().string());
        // A name too long for one card is said over several, nothing lost, none cutting a
        // \xHH apart.
        for (std::size_t at = 0, n = kRecordPiece; at < said.size(); at += n, n = kRecordPiece) {
            const std::size_t escape = said.rfind('\\', at + n - 1);
            if (at + n < said.size() && escape != std::string::npos && escape > at &&
                escape + 4 > at + n)
                n = escape - at;
            cards.push_back("HISTORY " + said.substr(at, n));
        }
    }
    if (const std::string record = OptionsRecord(options); !record.empty())
        cards.push_back("HISTORY " + std::string(kOptionsPrefix) + record);
}

WrittenHeader ReadWrittenHeader(const std::string& fits_path) {
    WrittenHeader written;
    fitsfile* file = nullptr;
    int status = 0;
    if (fits_open_diskfile(&file, fits_path.c_str(), READONLY, &status) != 0) return written;
    int hdus = 0, type = 0;
    fits_get_num_hdus(file, &hdus, &status);
    // A compressed file keeps the image's cards in its first extension.
    for (int hdu = 1; hdu <= hdus && status == 0; ++hdu) {
        fits_movabs_hdu(file, hdu, &type, &status);
        int keys = 0;
        fits_get_hdrspace(file, &keys, nullptr, &status);
        char card[FLEN_CARD];
        for (int k = 1; k <= keys && status == 0; ++k) {
            fits_read_record(file, k, card, &status);
            const std::string_view text = TrimRight(card);
            written.cards.emplace(text);
            if (!text.starts_with("HISTORY ") || !written.options.empty()) continue;
            const std::string_view said = TrimRight(text.substr(8));
            if (said.starts_with(kOptionsPrefix))
                written.options = said.substr(kOptionsPrefix.size());
        }
    }
    int ignored = 0;
    fits_close_file(file, &ignored);
    return written;
}

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    return text;
}

}  // namespace fits
