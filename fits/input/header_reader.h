// Taking the header of an existing FITS or text file into header text, and looking up a
// keyword's value in header text.
#pragma once

#include <string>
#include <string_view>

#include "fits/header/header_text.h"

namespace fits {

// True when the path is read as FITS: its lower-case form contains ".fit" anywhere.
bool IsFitsName(std::string_view path);

// The header of the file as header text; the empty text when there is no such file (or it
// cannot be read). FITS: the cards up to the block holding END, each right-trimmed with a
// line end, blank cards and END dropped; the data are not read. Text: the whole file with
// blanks removed at both ends.
std::string ReadFileHeader(const std::string& path);

// Stores the store's text followed by the file's header.
void AppendFileHeader(HeaderStore& store, const std::string& path);

// The value of the first line whose keyword equals `keyword` exactly (with case), or "".
std::string GetHeaderValue(std::string_view text, std::string_view keyword);

}  // namespace fits
