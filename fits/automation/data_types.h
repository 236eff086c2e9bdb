// The acquisition application's data type codes (a document's or an experiment's data type
// parameter): for each code, the element that holds its samples in memory and the FITS
// sample type (BITPIX) it is written as. Code 0 of an experiment means "by its floating-point
// flag" and has no row.
#pragma once

#include <cstdint>
#include <optional>

#include "fits/automation/frame.h"

namespace fits {

namespace type_code {
inline constexpr std::int32_t kInt16 = 1;
inline constexpr std::int32_t kInt32 = 2;
inline constexpr std::int32_t kFloat32 = 3;
inline constexpr std::int32_t kUnsupported = 4;
inline constexpr std::int32_t kUInt8 = 5;
inline constexpr std::int32_t kUInt16 = 6;
// Our own code: the acquisition application gives unsigned 32-bit data code kUnsupported.
inline constexpr std::int32_t kUInt32 = 7;
}  // namespace type_code

struct DataTypeRow {
    std::int32_t code;
    std::optional<ElementType> element;  // none: the converter cannot read it
    bool is_unsigned;                    // the (16- or 32-bit) elements hold unsigned values
    std::int32_t bitpix;                 // 0: no FITS sample type keeps every value
    const char* name;                    // as the converter shows it
    // On request (--bzero) written as this signed BITPIX with BZERO 2^(offset_bitpix - 1),
    // each sample stored as value - BZERO; 0: never.
    std::int32_t offset_bitpix = 0;
};

// Unsigned 16-bit data need 32-bit FITS samples to keep every value (or BITPIX 16 with
// BZERO kUnsigned16Zero, which the writer applies on request); unsigned 32-bit data are
// written only as BITPIX 32 with BZERO 2^31.
inline constexpr std::int32_t kUnsigned16Zero = 32768;

// The BZERO of unsigned data stored as signed samples of `bitpix` (16 or 32) bits.
constexpr std::int64_t UnsignedZero(std::int32_t bitpix) {
    return std::int64_t{1} << (bitpix - 1);
}

inline constexpr DataTypeRow kDataTypes[] = {
    {type_code::kInt16, ElementType::kInt16, false, 16, "short"},
    {type_code::kInt32, ElementType::kInt32, false, 32, "long"},
    {type_code::kFloat32, ElementType::kFloat32, false, -32, "float"},
    {type_code::kUnsupported, std::nullopt, false, 0, "unsupported data type"},
    {type_code::kUInt8, ElementType::kUInt8, false, 8, "byte"},
    {type_code::kUInt16, ElementType::kInt16, true, 32, "long", 16},
    {type_code::kUInt32, ElementType::kInt32, true, 0, "unsigned long", 32},
};

// The row of `code`, or null when the code has none.
constexpr const DataTypeRow* FindDataType(std::int32_t code) {
    for (const DataTypeRow& row : kDataTypes)
        if (row.code == code) return &row;
    return nullptr;
}

// The code of data held in `element` (signed unless `is_unsigned`), or kUnsupported.
constexpr std::int32_t ElementToTypeCode(ElementType element, bool is_unsigned) {
    for (const DataTypeRow& row : kDataTypes)
        if (row.element == element && row.is_unsigned == is_unsigned) return row.code;
    return type_code::kUnsupported;
}

// The code of the first row written with this BITPIX, or 0 when none is.
constexpr std::int32_t BitpixToTypeCode(std::int32_t bitpix) {
    for (const DataTypeRow& row : kDataTypes)
        if (row.bitpix != 0 && row.bitpix == bitpix) return row.code;
    return 0;
}

// Whether a FITS sample type is one a row is written as (8, 16, 32 or -32): the sample types
// the converter writes and shows.
constexpr bool IsSupportedBitpix(std::int32_t bitpix) {
    return BitpixToTypeCode(bitpix) != 0;
}

}  // namespace fits
