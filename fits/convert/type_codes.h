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
// The BZERO and BSCALE cards of unsigned 16-bit data stored as BITPIX 16, in that order.
std::vector<std::string> UnsignedOffsetCards();

}  // namespace fits
