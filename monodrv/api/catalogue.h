// The parameter catalogue as data: number, direction, storage width and place, default, and
// the per-model constants set at creation.
#pragma once

#include <cstdint>
#include <optional>

#include "monodrv/api/spectrograph.h"

namespace monodrv {

enum Access : std::uint8_t { kGet = 1, kSet = 2, kSetGet = 3 };
enum class Width : std::uint8_t { kByte, kWord, kLong };

// Where an integer parameter lives.
enum class IntSlot : std::uint8_t {
    kScalar,           // Storage::ints[number] (or [alias])
    kConstant,         // the default, never stored
    kSpecial,          // answered by MonodrvSpectrograph (2, 152)
    kGratingValue,     // 145: one-byte value of grating `index` of the current set
    kSlitLocation,     // 159
    kMirrorLocation,   // 163
    kMirrorPosition,   // 164
    kTruncatedDouble,  // 155: a double returned truncated
};

struct IntParam {
    std::uint32_t number;
    Access access;
    Width width;
    IntSlot slot;
    std::int32_t default_value;
    std::uint32_t alias = 0;  // another number sharing the storage
};

enum class DblSlot : std::uint8_t {
    kScalar,          // Storage::doubles[number]
    kGratingGrooves,  // 33, 151
    kGratingSteps,    // 48
    kSpeed,           // 44-46: Storage::speeds[row][index]
    kSlitSpeed,       // 63-65: Storage::slit_speeds[row][index]
    kSlitWidth,       // 160
};

struct DblParam {
    std::uint32_t number;
    Access access;
    DblSlot slot;
    int row = 0;
    std::optional<double> default_value = std::nullopt;
};

const IntParam* FindIntParam(std::uint32_t number);
const DblParam* FindDblParam(std::uint32_t number);

// General defaults, then the model's constants (which overwrite some of them).
void ApplyDefaults(Storage& storage);
void ApplyModel(Storage& storage, std::int16_t model);

// Cuts a value to the storage width, keeping the low bits, as a signed number.
std::int32_t StoreWidth(std::uint32_t value, Width width);

}  // namespace monodrv
