// Showing a FITS file in the acquisition application: the application creates an SPE
// document of the same size and data type beside the FITS file and receives the data frame
// by frame.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "fits/automation/automation.h"

namespace fits {

// Data type code for a BITPIX: 8 -> 5, 16 -> 1, 32 -> 2, -32 -> 3, anything else 0.
std::int32_t BitpixToType(std::int32_t bitpix);

// One frame of big-endian FITS samples as a frame of the document's size (its parameters 6
// and 7); empty when the document reports no size or the buffer is too short.
Frame BytesToFrame(DataDocument& document, std::span<const std::uint8_t> buffer,
                   std::int32_t bitpix);

// Creates the SPE document for the FITS file at `path` (its name with the extension "spe")
// and stores every frame in it. Silently does nothing when the header has no usable size or
// BITPIX; fails with a readable message for what cannot be shown.
Status DisplayFitsFile(AutomationFactory& factory, const std::string& path);

}  // namespace fits
