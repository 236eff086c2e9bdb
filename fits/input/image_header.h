// The header of a file's image as FITS readers show it, also where the image is stored
// tile-compressed in a table after an empty primary HDU.
#pragma once

#include <fitsio.h>

#include <string>

#include "fits/automation/result.h"

namespace fits {

// Whether HDU 2 of the open file is a tile-compressed image (the file's primary HDU then
// holds no data); the file is left at HDU 2 when it is.
bool AtCompressedImage(fitsfile* file);

// The header of the tile-compressed image at the open file's current HDU, as CFITSIO presents
// it uncompressed: SIMPLE, the image's BITPIX and axes, EXTEND when it had one, then its other
// cards in their order, without the cards of its compressed storage (ZIMAGE, ZBITPIX, TFORM1,
// ...).
Result<std::string> CompressedImageHeader(fitsfile* file, const std::string& path);

// Whether HDU 2 of the open file is an image extension with data (not compressed); the file
// is left at HDU 2 when it is.
bool AtImageExtension(fitsfile* file);

// The header of the image extension at the open file's current HDU as an image's header
// reads: SIMPLE first, then its cards without XTENSION, PCOUNT and GCOUNT.
Result<std::string> ExtensionImageHeader(fitsfile* file, const std::string& path);

// `text`, the primary header of the file at `path` (ReadFileHeader's), or, when that header
// holds no data (NAXIS 0) and a tile-compressed image follows it, that image's header; with
// `extensions`, also an image extension's that follows it.
Result<std::string> ImageHeaderOf(const std::string& path, std::string text,
                                  bool extensions = false);

}  // namespace fits
