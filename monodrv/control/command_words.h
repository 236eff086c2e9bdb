// The controller's wire, written once for the driver that speaks it, the emulator that
// answers it and the scripted test port: the command words (a word ending in ',' takes its
// numbers after it; the others stand alone; every command ends with a carriage return), the
// single command bytes sent without a terminator, and the reply bytes.
#pragma once

#include <cstdint>
#include <string_view>

namespace monodrv::command {

// Line ends: every command ends with CR; the start command alone with a zero byte. Replies on
// a character interface end with CR. A LF after a CR (a host that ends lines with CR LF) is
// no command.
inline constexpr std::uint8_t kEnd = '\r', kStartEnd = 0, kLineFeed = '\n';

// Single command bytes.
inline constexpr std::uint8_t kHello = ' ';            // start-up query: "*", "B" or "F"
inline constexpr std::uint8_t kAfterStar = 0xF7;       // after "*": answered "="
inline constexpr std::uint8_t kToIntelligent1 = 0xF8;  // with kToIntelligent2: leave terminal
inline constexpr std::uint8_t kToIntelligent2 = 0xDE;  //   mode for the intelligent (command) one
inline constexpr std::uint8_t kBusyQuery = 'E';        // "o", then "q" busy or "z" ready
inline constexpr std::uint8_t kSecondBusyQuery = 'l';  // "o", then "q" busy or other
inline constexpr std::uint8_t kReinitialize = 'A';     // completes later with an "o"
inline constexpr std::uint8_t kStop = 'L';             // stops the motors; some answer "o"
// The start command of the boot program, ended by kStartEnd.
inline constexpr std::string_view kStart = "O2000";

// Reply bytes.
inline constexpr std::uint8_t kAck = 'o';      // the command was taken
inline constexpr std::uint8_t kRefused = 'b';  // the command was not understood
inline constexpr std::uint8_t kBusy = 'q', kReady = 'z';
inline constexpr std::uint8_t kBootProgram = 'B';  // to kHello: the boot program runs
inline constexpr std::uint8_t kStarted = '*';      // to kHello, and to kStart: started
inline constexpr std::uint8_t kMainProgram = 'F';  // to kHello: the main program runs
inline constexpr std::uint8_t kEquals = '=';       // to kAfterStar
inline constexpr std::uint8_t kEscape = 0x1B;      // to kHello: terminal mode (hand-held unit)

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
