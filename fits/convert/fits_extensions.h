// A FITS file with more than the primary array: the wavelength lookup table of a WAVE-TAB
// axis as a binary-table extension, and regions of interest of different widths as image
// extensions after a primary header without data.
#pragma once

#include <string>
#include <vector>

#include "fits/convert/fits_writer.h"
#include "fits/convert/metadata_cards.h"
#include "fits/convert/standard_header.h"

namespace fits {

// The binary-table HDU (header and data, whole blocks) of a one-dimensional WAVE-TAB
// coordinate array: one row, one column of nm values, EXTNAME kWaveTableName and EXTVER
// `version`.
std::string WaveTableHdu(const std::vector<double>& nm, int version);

// The binary-table HDU "FRAMES": one row per frame, one column per per-frame fact (64-bit
// floats, or 64-bit integers for frame numbers), time columns in seconds since DATEREF, with
// the stamps' tick rate (TICKRATE) and the time they count from (TICKZERO) in its header.
std::string FrameTableHdu(const FrameTable& table);

// The header cards of image extension `index` (from 1, EXTNAME "REGIONn") of a region.
std::vector<std::string> RegionExtensionCards(std::int32_t bitpix, bool unsigned_offset,
                                              const RegionMetadata& region, std::int64_t frames,
                                              int index);

// The message for a file whose regions differ in width when they cannot be written.
std::string RegionsDifferMessage(const std::string& path, const DocumentMetadata& metadata);

// What a conversion learns of a document once per file: its metadata, and whether its
// regions become image extensions.
struct DocumentFacts {
    DocumentMetadata metadata;
    bool split = false;  // each region is its own image extension
};

// Reads the document's metadata. With `regions` (--regions, a Standard header) several
// regions are split into image extensions; without it, regions of different widths are
// refused (RegionsDifferMessage naming `path`, then `refusal_note`).
Result<DocumentFacts> ReadDocumentFacts(DataDocument& document, const std::string& path,
                                        bool regions, const std::string& refusal_note = {});

// Writes the FITS file for a document whose Standard header is in the context's store,
// adding what `options` ask (the cards go into the stored header text too). Notes about
// what could not be kept are warnings naming the file. `facts` are the document's, read
// with `options.regions`; without them they are read here.
Result<WriteOutcome> WriteWithOptions(HeaderContext& context, Reporter& reporter,
                                      DataDocument& document, const DocumentFacts& facts,
                                      const std::string& path, const ScienceOptions& options,
                                      const ByteProgress& progress = {});
Result<WriteOutcome> WriteWithOptions(HeaderContext& context, Reporter& reporter,
                                      DataDocument& document, const std::string& path,
                                      const ScienceOptions& options,
                                      const ByteProgress& progress = {});

}  // namespace fits
