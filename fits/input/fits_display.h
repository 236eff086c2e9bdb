// Showing a FITS file in the acquisition application: the application creates a new SPE
// document of the same size and data type beside the FITS file and receives the data frame
// by frame.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "fits/automation/automation.h"
#include "fits/automation/progress.h"

namespace fits {

// One frame of big-endian FITS samples as a frame of the document's size (its parameters 6
// and 7); empty when the document reports no size or the buffer is too short.
Frame BytesToFrame(DataDocument& document, std::span<const std::uint8_t> buffer,
                   std::int32_t bitpix);

// A name for the display document of the FITS file at `path` that names no existing file:
// NAME.spe beside it, else NAME-2.spe, NAME-3.spe, ...; empty when none is free.
std::string FreeDisplayName(const std::string& fitsPath);

// The header of the image Display shows, as FITS readers show it: the file's header
// (ReadFileHeader), or for a tile-compressed image after an empty primary HDU the image's
// header as CFITSIO presents it uncompressed: SIMPLE, the image's BITPIX and axes and its
// other cards, without the cards of its compressed storage (ZIMAGE, ZBITPIX, TFORM1, ...).
Result<std::string> ReadDisplayedHeader(const std::string& path,
                                        std::vector<std::string>* warnings = nullptr);

// Creates an SPE document for the FITS file at `path` under FreeDisplayName (never over an
// existing file; the name used goes to `shownAs` when given) and stores every frame in it.
// The document holds the file's physical values (BZERO and BSCALE applied, as FITS readers
// show them): unsigned 16-bit where the values are, else the narrowest type that holds them,
// 32-bit floats beyond 32-bit integers (said once in `notes`). A tile-compressed image after
// an empty primary HDU is read through CFITSIO like any other.
// The file's wavelength axis becomes the document's calibration; what keeps it from that
// goes to `notes`. `reusable` (when given) becomes false when the document's file lacks what
// the application shows of it, so that a later display must not show that file instead. Fails with
// a readable message for what cannot be shown, before anything is created when the header or the
// file's length says so; a failure later, or a stop asked by `progress` (told of the data's bytes
// as they are read), removes the document's file.
Status DisplayFitsFile(AutomationFactory& factory, const std::string& path,
                       std::string* shownAs = nullptr, const ByteProgress& progress = {},
                       std::vector<std::string>* notes = nullptr, bool* reusable = nullptr);

}  // namespace fits
