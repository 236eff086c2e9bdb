// The Standard header: primary-data cards and acquisition cards built from a data document
// or, without one, from the acquisition application's current experiment settings.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "fits/automation/automation.h"
#include "fits/header/header_text.h"
#include "fits/input/header_reader.h"

namespace fits {

// Today's date in the FITS form YYYY-MM-DD (local time).
std::string TodayIsoDate();

// What the header builders work on: the header store, the acquisition application, and the
// date source (a seam for tests).
struct HeaderContext {
    HeaderStore& store;
    AutomationFactory& factory;
    std::function<std::string()> today = TodayIsoDate;
};

// Appends SIMPLE, BITPIX, NAXIS, NAXIS1, NAXIS2, NAXIS3; document may be null.
void AddPrimaryData(HeaderContext& context, DataDocument* document);
// Appends DATE-OBS and DATE (only without a document) and EXPTIME; document may be null.
void AddOrlixData(HeaderContext& context, DataDocument* document);
// Replaces the header with the primary and acquisition cards and appends the header of the
// file named by `addFile` (nothing when it is empty) as AppendFileHeader does, its warnings
// going to `warnings`. Returns the keywords left out, or why `addFile` cannot be used (a
// missing or unreadable file, or one a FITS header cannot hold).
// The same with a header file already read (`added.path` empty: none); returns the keywords
// left out.
std::vector<std::string> BuildStandardHeader(HeaderContext& context, DataDocument* document,
                                             const HeaderSource& added);
Result<std::vector<std::string>> BuildStandardHeader(HeaderContext& context, DataDocument* document,
                                                     const std::string& addFile,
                                                     std::vector<std::string>* warnings = nullptr);

}  // namespace fits
