// Where an SPE 2.x header keeps what this application reads and writes: byte offsets from the
// file's start, every number little-endian. One home for the layout, which the file reader and
// writer (spe_file.cpp) and the metadata reader (spe_metadata.cpp) share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace orlix::spe_layout {

inline constexpr std::size_t kChipWidth = 6, kExposure = 10, kChipHeight = 18, kDate = 20;
inline constexpr std::size_t kOldScanCount16 = 34, kSetPoint = 36, kXdim = 42;
inline constexpr std::size_t kSpectrographUsed = 70, kCenter = 72, kDatatype = 108;
inline constexpr std::size_t kLocalTime = 172, kUtcTime = 179, kComments = 200, kGrooves = 650;
// u16 readout settings: ADC rate and analog gain codes, readout mode; display operations
// (bit 0 rotate, bit 1 reverse, bit 2 flip); i32 accumulations at 668.
inline constexpr std::size_t kAdcRate = 190, kGain = 198, kGeometric = 600, kReadoutMode = 1480;
inline constexpr std::size_t kAccumulations = 668;
inline constexpr std::size_t kYdim = 656, kUnscrambled = 658, kOldScanCount32 = 664;
inline constexpr std::size_t kFooterOffset = 678, kSoftwareVersion = 688, kNumFrames = 1446;
inline constexpr std::size_t kRegionCount = 1510, kRegions = 1512, kVersion = 1992;
inline constexpr std::size_t kIdentity = 2996, kLastValue = 4098;
inline constexpr std::uint32_t kIdentityWord = 0x01234567;
inline constexpr std::int16_t kLastValueWord = 0x5555;
inline constexpr std::size_t kCommentCount = 5, kCommentLength = 80;

// The x-calibration block: its start and the offsets within it.
inline constexpr std::size_t kXCal = 3000, kCalValid = 98, kCalPolyUnit = 100, kCalOrder = 101;
inline constexpr std::size_t kCalCoefficients = 263, kCalLaser = 311, kMaxCoefficients = 6;
// Calibration unit codes.
inline constexpr std::uint8_t kUnitNone = 0, kUnitNm = 4, kUnitWavenumber = 5, kUnitRamanShift = 6;

template <class T>
T Get(const std::uint8_t* header, std::size_t offset) {
    T value;
    std::memcpy(&value, header + offset, sizeof value);
    return value;
}

template <class T>
void Put(std::uint8_t* header, std::size_t offset, T value) {
    std::memcpy(header + offset, &value, sizeof value);
}

}  // namespace orlix::spe_layout
