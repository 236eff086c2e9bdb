// The controller's command words, written once for the driver that sends them and the
// emulator that answers them. A word ending in ',' takes its numbers after it; the others
// stand alone. Every command ends with a carriage return.
#pragma once

#include <string_view>

namespace monodrv::command {

// Controllers addressed by value (the TRIAX family).
inline constexpr std::string_view kMoveToValue = "Z61,0,";  // the value, in the model's unit
inline constexpr std::string_view kReadValue = "Z62,0";
inline constexpr std::string_view kSelectGrating = "Z451,0,0,0,";  // the grating, from 0
inline constexpr std::string_view kReadGrating = "Z452,0,0,0";
// Controllers addressed by motor steps (270M, Spex232).
inline constexpr std::string_view kReadSteps = "H0";
inline constexpr std::string_view kMoveSteps = "F0,";  // steps to move, signed
inline constexpr std::string_view kFirstGrating = "b0", kSecondGrating = "a0";
// Both families.
inline constexpr std::string_view kReadSpeeds = "C0";
inline constexpr std::string_view kSetSpeeds = "B0,";  // minimum, maximum, ramp
inline constexpr std::string_view kEntranceMirrorSide = "c0", kEntranceMirrorFront = "d0";
inline constexpr std::string_view kExitMirrorSide = "e0", kExitMirrorFront = "f0";
inline constexpr std::string_view kReadSlit = "j0,";       // the slit location, 0-3
inline constexpr std::string_view kMoveSlit = "k0,";       // the slit location, steps
inline constexpr std::string_view kReadSlitSpeed = "h0,";  // the slit location

}  // namespace monodrv::command
