// Data type codes of the acquisition application and their FITS sample types.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fits/automation/automation.h"

namespace fits {

// "8", "16", "32", "-32" or "0". Code 0 asks a new Experiment for its floating-point flag.
std::string TypeToBitpix(std::int32_t code, AutomationFactory& factory);
// "byte", "short", "long", "float" or "unsupported data type"; code 0 as TypeToBitpix.
std::string TypeToName(std::int32_t code, AutomationFactory& factory);

// Whether the document's samples are unsigned 16-bit (its data type code kUInt16).
bool HoldsUnsigned16(DataDocument& document);
// The signed BITPIX the document's unsigned samples are stored as with BZERO (16 or 32), or
// 0 when its data type has no such form.
std::int32_t UnsignedOffsetBitpix(DataDocument& document);
// Whether the document's samples can be written only with BZERO (unsigned 32-bit): no
// FITS sample type without it keeps every value.
bool NeedsUnsignedOffset(DataDocument& document);
// The BZERO and BSCALE cards of unsigned data stored as signed samples of `bitpix` (16 or
// 32) bits, in that order.
std::vector<std::string> UnsignedOffsetCards(std::int32_t bitpix);

}  // namespace fits
