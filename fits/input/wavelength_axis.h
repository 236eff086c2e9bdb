// The wavelength axis of a FITS image, read back: what the display hands the acquisition
// application as the document's calibration, so that its viewer plots against wavelength.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fits {

// The wavelength in nm of each of the `columns` columns of the FITS file at `path`, whose
// header text is `header`, from its axis 1: a linear WAVE axis (CRPIX1, CRVAL1, CDELT1 or
// CD1_1, CUNIT1), or a WAVE-TAB axis whose values stand in a binary-table column of the file
// (PS1_0, PS1_1, PV1_1), as the converter writes them. Empty when axis 1 is no wavelength axis;
// then `note` says why, when the header has one that cannot be used.
std::vector<double> ReadWavelengthAxis(const std::string& path, std::string_view header,
                                       std::int64_t columns, std::string& note);

}  // namespace fits
