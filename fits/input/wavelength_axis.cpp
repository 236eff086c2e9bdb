#include "fits/input/wavelength_axis.h"

#include <cmath>
#include <optional>

#include "fits/automation/result.h"
#include "fits/automation/variant.h"
#include "fits/header/header_values.h"
#include "fits/input/cfitsio_handle.h"

namespace fits {
namespace {

// Nanometres per unit of CUNIT1; none for a unit that is no length.
std::optional<double> NmPer(const std::string& unit) {
    if (unit == "nm") return 1.0;                 // the converter's unit (it always writes CUNIT1)
    if (unit.empty() || unit == "m") return 1e9;  // a WAVE axis without a unit is in metres
    if (unit == "um") return 1e3;
    if (unit == "Angstrom" || unit == "angstrom") return 0.1;
    if (unit == "pm") return 1e-3;
    return std::nullopt;
}

// A number card's value, or `fallback` when the card is missing; none when it holds no
// finite number.
std::optional<double> Number(std::string_view header, const char* keyword,
                             std::optional<double> fallback) {
    const std::string text = GetHeaderValue(header, keyword);
    if (text.empty()) return fallback;
    auto v = ParseNumber(text);
    return v && std::isfinite(*v) ? v : std::nullopt;
}

// The column `column` of the binary table `table` (EXTVER `version`) as one row of numbers.
std::optional<std::vector<double>> TableColumn(const std::string& path, const std::string& table,
                                               const std::string& column, int version,
                                               std::string& why) {
    int status = 0;
    fitsfile* raw = nullptr;
    fits_open_diskfile(&raw, path.c_str(), READONLY, &status);
    FitsHandle file(raw);
    int number = 0, type = 0;
    long repeat = 0, width = 0;
    fits_movnam_hdu(raw, BINARY_TBL, const_cast<char*>(table.c_str()), version, &status);
    fits_get_colnum(raw, CASEINSEN, const_cast<char*>(column.c_str()), &number, &status);
    fits_get_coltype(raw, number, &type, &repeat, &width, &status);
    if (status == 0 && (repeat < 1 || repeat > (1L << 26))) status = BAD_TFORM;
    std::vector<double> values(status == 0 ? static_cast<std::size_t>(repeat) : 0);
    int any_null = 0;
    fits_read_col(raw, TDOUBLE, number, 1, 1, repeat, nullptr, values.data(), &any_null, &status);
    if (status != 0) {
        why = CfitsioReason(("table " + table + " column " + column).c_str(), status);
        return std::nullopt;
    }
    return values;
}

}  // namespace

std::vector<double> ReadWavelengthAxis(const std::string& path, std::string_view header,
                                       std::int64_t columns, std::string& note) {
    const std::string type = GetHeaderValue(header, "CTYPE1");
    if (type != "WAVE" && type != "WAVE-TAB") {
        if (type.rfind("WAVE", 0) == 0)
            note = ShownName(path) + ": axis 1 is " + type +
                   ", which the display cannot carry; the viewer shows pixels";
        return {};
    }
    auto fail = [&](const std::string& why) {
        note = ShownName(path) + ": the wavelength axis is not carried (" + why +
               "); the viewer shows pixels";
        return std::vector<double>{};
    };
    const auto scale = NmPer(GetHeaderValue(header, "CUNIT1"));
    if (!scale) return fail("CUNIT1 '" + GetHeaderValue(header, "CUNIT1") + "' is no length");
    // Pixel p (from 1) is at CRVAL1 + step (p - CRPIX1), step CD1_1, else CDELT1 x PC1_1.
    const auto reference = Number(header, "CRPIX1", 0.0), value = Number(header, "CRVAL1", 0.0);
    auto step = Number(header, "CD1_1", std::nullopt);
    if (!step) {
        const auto delta = Number(header, "CDELT1", 1.0), turn = Number(header, "PC1_1", 1.0);
        if (delta && turn) step = *delta * *turn;
    }
    if (!reference || !value || !step) return fail("CRPIX1, CRVAL1 or its step is no number");
    std::vector<double> nm(static_cast<std::size_t>(columns));
    auto at = [&](std::int64_t j) {
        return *value + *step * (static_cast<double>(j + 1) - *reference);
    };
    if (type == "WAVE") {
        for (std::int64_t j = 0; j < columns; ++j)
            nm[static_cast<std::size_t>(j)] = at(j) * *scale;
        return nm;
    }
    // WAVE-TAB: the coordinate at pixel p is the table's value at index CRVAL1 + step (p -
    // CRPIX1), from 1, between two entries linearly interpolated.
    const std::string table = GetHeaderValue(header, "PS1_0"),
                      column = GetHeaderValue(header, "PS1_1");
    const auto version = Number(header, "PV1_1", 1.0);
    if (table.empty() || column.empty() || !version || *version != std::floor(*version) ||
        std::abs(*version) > 1e6)
        return fail("PS1_0, PS1_1 and PV1_1 name no table");
    std::string why;
    auto values = TableColumn(path, table, column, static_cast<int>(*version), why);
    if (!values) return fail(why);
    const auto last = static_cast<double>(values->size());
    for (std::int64_t j = 0; j < columns; ++j) {
        const double index = at(j);
        if (!(index >= 1 && index <= last))
            return fail("column " + std::to_string(j + 1) + " lies outside its table");
        const auto below = static_cast<std::size_t>(std::floor(index));
        const double share = index - static_cast<double>(below);
        double v = (*values)[below - 1];
        if (share > 0) v += share * ((*values)[below] - v);
        nm[static_cast<std::size_t>(j)] = v * *scale;
    }
    return nm;
}

}  // namespace fits
