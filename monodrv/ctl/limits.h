// What a user may ask of a spectrograph, written once for every host we ship: monodrv-ctl
// checks its words against it and the Python module (monodrv.py, LIMITS) mirrors it; a test
// holds the two equal. The number of gratings is the driver's own (parameter 105 of the
// model's instance), so it is not repeated here. The driver clamps further where the
// controller needs it.
#pragma once

#include <cstdint>

#include "monodrv.h"

namespace monodrv::limits {

struct Range {
    double low, high;  // inclusive
};

inline constexpr Range kWavelength = {-100000, 100000};  // nm
inline constexpr Range kSlitWidth = {0, 100};            // mm
inline constexpr Range kSpeed = {0, 4294967295.0};       // controller units; min <= max
inline constexpr Range kGrooves = {1, 10000};            // grooves per mm
inline constexpr Range kWaitLimit = {0, 3600};           // s, above the low end
inline constexpr Range kDwell = {0, 86400};              // s, at each step of a scan
inline constexpr double kMaxScanSteps = 1000000;

// A re-initialisation of a real instrument takes 60 to 200 s.
inline constexpr double kReinitLimit = 300;  // s

// How long a move may keep the controller busy, per model: the longest move is a wavelength
// drive across the whole range at the slowest speed the controller takes (100 steps/s) or a
// grating turret's turn, with room; a controller busy beyond it has stalled.
struct Model {
    const char* name;  // as the command line and the Python module name it
    std::int16_t number;
    const char* title;  // as a user reads it
    double wait_limit_s;
};
inline constexpr Model kModels[] = {{"270m", SPEX_270M, "Spex 270M", 120},
                                    {"triax180", TRIAX_180, "TRIAX 180", 60},
                                    {"triax190", TRIAX_190, "TRIAX 190", 60},
                                    {"triax320", TRIAX_320, "TRIAX 320", 90},
                                    {"spex232", SPEX232_RETRO, "Spex232", 120}};

// Backlash: a scan approaches every wavelength from below, from at least this far below it.
inline constexpr double kApproachNm = 1.0;

}  // namespace monodrv::limits
