// Cards for what a data file records beyond its frames (added after the Standard header when
// asked): the wavelength axis as World Coordinate System keywords on axis 1, DATE-OBS,
// detector and spectrograph facts, the file's comments; and the unsigned 16-bit form.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "fits/automation/metadata.h"

namespace fits {

// The opt-in choices beyond the Standard header; all off by default.
struct ScienceOptions {
    bool metadata = false;  // wavelength axis, observation time, detector facts, comments
    bool bzero = false;     // unsigned 16-bit data as BITPIX 16 with BZERO 32768
    bool regions = false;   // regions of different widths as image extensions
    bool compress = false;  // the window's Convert: lossless tile compression of each file
    // The program and its version, named in a HISTORY card with `metadata` ("fits-convert
    // 1.4.0"); empty: not named.
    std::string writer = {};
};

// Name and column of the binary-table extension holding a WAVE-TAB lookup table.
inline constexpr std::string_view kWaveTableName = "WCS-TAB";
inline constexpr std::string_view kWaveTableColumn = "WAVELENGTH";

// The header text as lines without line ends, and back (CR LF after each line).
std::vector<std::string> SplitCards(std::string_view text);
std::string JoinCards(const std::vector<std::string>& cards);

// A number as a card value of at most 20 characters: the shortest text that reads back as
// the same double where it fits, otherwise as many significant digits as fit (at least 14).
std::string CardNumber(double value);

// Axis-1 cards of a calibrated region: a linear one as WAVE with CRPIX1, CRVAL1, CDELT1; any
// other as WAVE-TAB naming the table extension of version `table_version`. Nothing when the
// region has no calibration. Returns whether a table extension is needed.
bool AppendAxisCards(std::vector<std::string>& cards, const RegionMetadata& region,
                     int table_version);
// DETSEC (where the region lies on the sensor: '[x1:x2,y1:y2]', 1-based sensor pixels; left
// out when `section` is false), XBINNING and YBINNING of a region, where recorded.
void AppendBinningCards(std::vector<std::string>& cards, const RegionMetadata& region,
                        bool section = true);
// For regions stacked into one image: for each region k, ROWSk (the image rows that hold it)
// and, where recorded, DETSECk, XBINk and YBINk. Nothing for a single region.
void AppendRegionRows(std::vector<std::string>& cards, const std::vector<RegionMetadata>& regions);
// DATE-OBS, CCD-TEMP, SET-TEMP, GROOVES, CENWAVE and COMMENT cards, where recorded.
void AppendFactCards(std::vector<std::string>& cards, const DocumentMetadata& metadata);

// Turns the BITPIX card of unsigned data into `bitpix` (16 or 32, signed) and adds
// BZERO = 2^(bitpix - 1) and BSCALE = 1 after the last NAXISn card. False (nothing changed)
// without a BITPIX card or with `bitpix` 0 (a data type without such a form).
bool UseUnsignedOffset(std::vector<std::string>& cards, std::int32_t bitpix);
// Position after the last of SIMPLE/XTENSION, BITPIX, NAXIS and NAXISn at the header's start.
std::size_t AfterArrayCards(const std::vector<std::string>& cards);

}  // namespace fits
