// Where a FITS file came from, written into it so that a later run can tell whether to
// convert it again: the options it was written with, and (with --metadata) when it was
// written, by which program and from which file.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "fits/convert/metadata_cards.h"

namespace fits {

// The opt-in choices that change what is written, as a HISTORY card records them
// ("--metadata --bzero --regions", in this order); empty when none is on.
std::string OptionsRecord(const ScienceOptions& options);

// The cards that record the file's making: with --metadata, DATE (`now_utc`, ISO 8601) and
// HISTORY cards naming the program (options.writer, when given) and the source file's name;
// with any opt-in choice, the HISTORY card of OptionsRecord. Nothing without one.
void AppendProvenanceCards(std::vector<std::string>& cards, const ScienceOptions& options,
                           const std::string& source, const std::string& now_utc);

// What a FITS file says of its making: the options it records it was written with
// (OptionsRecord's text; empty when it records none, or cannot be read as FITS) and every
// card of every HDU, without trailing blanks.
struct WrittenHeader {
    std::string options;
    std::set<std::string, std::less<>> cards;
};
WrittenHeader ReadWrittenHeader(const std::string& fits_path);

// The current time in UTC as ISO 8601 to the second ("2026-01-02T03:04:05").
std::string UtcNow();

}  // namespace fits
