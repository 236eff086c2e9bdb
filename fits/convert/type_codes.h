// Data type codes of the acquisition application and their FITS sample types.
#pragma once

#include <cstdint>
#include <string>

#include "fits/automation/automation.h"

namespace fits {

// "8", "16", "32", "-32" or "0". Code 0 asks a new Experiment for its floating-point flag.
std::string TypeToBitpix(std::int32_t code, AutomationFactory& factory);
// "byte", "short", "long", "float" or "unsupported data type"; code 0 as TypeToBitpix.
std::string TypeToName(std::int32_t code, AutomationFactory& factory);

}  // namespace fits
