// Reading values from header text: a keyword's value, and the numbers that give the data's
// shape and sample type.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fits/header/header_model.h"

namespace fits {

// The value of the first line whose keyword equals `keyword` exactly (with case), or "".
std::string GetHeaderValue(std::string_view text, std::string_view keyword);

struct HeaderValues {
    std::optional<std::int32_t> naxis1, naxis2, naxis3, bitpix;
};

// Which values GetHeaderValues reads.
enum HeaderValueMask : unsigned {
    kNaxis1 = 1,
    kNaxis2 = 2,
    kNaxis3 = 4,
    kBitpix = 8,
};

// Reads NAXIS1, BITPIX, NAXIS2, NAXIS3 in this order, only those asked for. A missing or
// empty NAXIS2 / NAXIS3 counts as 1. A value that is no number (rounded to a whole one that
// fits 32 bits) stops the reading: it and every later one stay unset.
HeaderValues GetHeaderValues(const HeaderModel& header, unsigned which);
HeaderValues GetHeaderValues(std::string_view headerText, unsigned which);

}  // namespace fits
