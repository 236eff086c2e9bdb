// Lossless tile compression of a written FITS file, as FITS readers expect it: the tiled-image
// convention of the FITS Standard (section 10), written by CFITSIO. Whole-number images are
// Rice-compressed; floating-point images are GZIP-compressed without quantization, so that
// every value reads back bit for bit. Tables (wavelength lookup, per-frame facts) are copied
// as they are.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "fits/automation/result.h"

namespace fits {

// Writes `plain` (a complete FITS file) to `target` tile-compressed, through a temporary file
// renamed over the target when complete (see SafeFile); a `stop` set before then keeps the
// old target. Returns the bytes written.
Result<std::int64_t> CompressFitsFile(const std::string& plain, const std::string& target,
                                      const std::atomic<bool>* stop = nullptr);

}  // namespace fits
