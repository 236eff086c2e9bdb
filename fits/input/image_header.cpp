#include "fits/input/image_header.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <utility>
#include <vector>

#include "fits/header/card.h"
#include "fits/header/fits_format.h"
#include "fits/header/header_values.h"
#include "fits/input/cfitsio_handle.h"
#include "fits/input/header_reader.h"

namespace fits {
namespace {

// The rank of a card of the image's header among the cards that open it (BITPIX, NAXIS,
// NAXISn, EXTEND), and -1 for the others.
int OpeningRank(std::string_view keyword) {
    if (keyword == "BITPIX") return 0;
    if (keyword == "NAXIS") return 1;
    if (keyword == "EXTEND") return std::numeric_limits<int>::max();
    if (keyword.starts_with("NAXIS")) return 1 + std::atoi(std::string(keyword.substr(5)).c_str());
    return -1;
}

// The keyword a card of a tile-compressed image's table has in the image's header: the
// image's own cards keep theirs, the saved ZBITPIX, ZNAXISn, ... take back their names, and
// the cards of the table and of the compression give "" (left out).
std::string ImageKeyword(const std::string& keyword, std::string_view value) {
    static constexpr std::pair<std::string_view, std::string_view> kRestored[] = {
        {"ZBITPIX", "BITPIX"},   {"ZNAXIS", "NAXIS"},      {"ZEXTEND", "EXTEND"},
        {"ZBLOCKED", "BLOCKED"}, {"ZHECKSUM", "CHECKSUM"}, {"ZDATASUM", "DATASUM"}};
    static constexpr std::string_view kLeftOut[] = {
        "ZIMAGE",   "ZSIMPLE",  "ZTENSION", "ZPCOUNT", "ZGCOUNT",  "ZCMPTYPE", "ZMASKCMP",
        "ZQUANTIZ", "ZDITHER0", "ZBLANK",   "SIMPLE",  "XTENSION", "BITPIX",   "NAXIS",
        "PCOUNT",   "GCOUNT",   "TFIELDS",  "THEAP",   "CHECKSUM", "DATASUM"};
    // Indexed keywords: the prefix followed by a number.
    static constexpr std::string_view kLeftOutIndexed[] = {"ZTILE", "ZNAME", "ZVAL",  "NAXIS",
                                                           "TTYPE", "TFORM", "TUNIT", "TSCAL",
                                                           "TZERO", "TNULL", "TDIM",  "TDISP"};
    for (auto [saved, own] : kRestored)
        if (keyword == saved) return std::string(own);
    if (keyword.starts_with("ZNAXIS")) return keyword.substr(1);
    if (std::find(std::begin(kLeftOut), std::end(kLeftOut), keyword) != std::end(kLeftOut))
        return {};
    for (std::string_view prefix : kLeftOutIndexed)
        if (keyword.size() > prefix.size() && keyword.starts_with(prefix) &&
            std::all_of(keyword.begin() + static_cast<std::ptrdiff_t>(prefix.size()), keyword.end(),
                        IsDigit))
            return {};
    if (keyword == "EXTNAME" && value == "COMPRESSED_IMAGE") return {};  // the table's name
    return keyword;
}

// The header of the image held by a tile-compressed image's table (its cards, 80 characters
// each), as FITS readers show it: SIMPLE, the image's BITPIX and axes, EXTEND when it had
// one, then its other cards in their order.
std::string UncompressedHeader(std::string_view table) {
    std::vector<std::pair<int, std::string>> opening;
    std::string rest;
    for (std::size_t at = 0; at + kCardBytes <= table.size(); at += kCardBytes) {
        const std::string_view card = table.substr(at, kCardBytes);
        if (GetKeyword(card) == "END") break;
        const std::string keyword = ImageKeyword(GetKeyword(card), GetValue(card));
        if (keyword.empty()) continue;
        std::string renamed =
            keyword + std::string(std::max<std::size_t>(8, keyword.size()) - keyword.size(), ' ');
        renamed += card.substr(std::min<std::size_t>(8, card.size()));
        renamed.resize(kCardBytes, ' ');
        if (const int rank = OpeningRank(keyword); rank >= 0)
            opening.emplace_back(rank, std::move(renamed));
        else
            rest += renamed;
    }
    std::stable_sort(opening.begin(), opening.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::string cards = "SIMPLE  =                    T";
    cards.resize(kCardBytes, ' ');
    for (const auto& card : opening)
        cards += card.second;
    return CardsToHeaderText(cards + rest);
}

}  // namespace

bool AtCompressedImage(fitsfile* file) {
    int status = 0, type = 0;
    fits_movabs_hdu(file, 2, &type, &status);
    return status == 0 && fits_is_compressed_image(file, &status) == 1;
}

namespace {

// The cards of the open file's current HDU, 80 characters each (END and what follows it
// included or not, as CFITSIO gives them); `what` names the HDU in the failure.
Result<std::string> HduCards(fitsfile* file, const std::string& path, const char* what) {
    int status = 0, count = 0;
    char* cards = nullptr;
    fits_hdr2str(file, 0, nullptr, 0, &cards, &count, &status);
    if (status != 0)
        return Status::Error(CfitsioReason(
            (ShownName(path) + ": cannot read the " + what + "'s header").c_str(), status));
    std::string all(cards, static_cast<std::size_t>(count) * kCardBytes);
    fits_free_memory(cards, &status);
    return all;
}

}  // namespace

Result<std::string> CompressedImageHeader(fitsfile* file, const std::string& path) {
    auto cards = HduCards(file, path, "compressed image");
    if (!cards) return cards;
    return UncompressedHeader(*cards);
}

bool AtImageExtension(fitsfile* file) {
    int status = 0, type = 0, naxis = 0;
    fits_movabs_hdu(file, 2, &type, &status);
    fits_get_img_dim(file, &naxis, &status);
    return status == 0 && type == IMAGE_HDU && fits_is_compressed_image(file, &status) == 0 &&
           naxis > 0;
}

Result<std::string> ExtensionImageHeader(fitsfile* file, const std::string& path) {
    auto cards = HduCards(file, path, "image extension");
    if (!cards) return cards;
    std::string image = "SIMPLE  =                    T";
    image.resize(kCardBytes, ' ');
    for (std::size_t at = 0; at + kCardBytes <= cards->size(); at += kCardBytes) {
        const std::string_view card = std::string_view(*cards).substr(at, kCardBytes);
        const std::string keyword = GetKeyword(card);
        if (keyword == "END") break;
        if (keyword != "XTENSION" && keyword != "PCOUNT" && keyword != "GCOUNT") image += card;
    }
    return CardsToHeaderText(image);
}

Result<std::string> ImageHeaderOf(const std::string& path, std::string text, bool extensions) {
    if (GetHeaderValue(text, "NAXIS") != "0") return text;
    int status = 0;
    fitsfile* raw = nullptr;
    fits_open_diskfile(&raw, path.c_str(), READONLY, &status);
    FitsHandle file(raw);
    if (status != 0) return text;
    if (AtCompressedImage(raw)) return CompressedImageHeader(raw, path);
    if (extensions && AtImageExtension(raw)) return ExtensionImageHeader(raw, path);
    return text;
}

}  // namespace fits
