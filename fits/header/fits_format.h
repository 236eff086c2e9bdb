// The FITS file's fixed units: 80-character cards in 2880-byte blocks, and values stored
// big-endian (most significant byte first) whatever the host's byte order.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace fits {

// A header is a sequence of 80-character cards; header and data each fill whole blocks of
// 2880 bytes (36 cards), padded with blanks (header) or zero bytes (data).
inline constexpr std::int64_t kCardBytes = 80;
inline constexpr std::int64_t kBlockBytes = 2880;

// Bytes to add behind `size` bytes to reach a whole number of blocks (0 when it already is).
constexpr std::int64_t BlockPadding(std::int64_t size) {
    return (kBlockBytes - size % kBlockBytes) % kBlockBytes;
}

// The value with its bytes in reverse order; T is an integer or floating type of 1, 2, 4 or 8
// bytes.
template <class T>
T ByteSwap(T value) {
    static_assert(std::is_arithmetic_v<T>);
    if constexpr (sizeof(T) == 1) {
        return value;
    } else {
        using U =
            std::conditional_t<sizeof(T) == 2, std::uint16_t,
                               std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>>;
        static_assert(sizeof(T) == sizeof(U));
        U bits;
        std::memcpy(&bits, &value, sizeof bits);
        if constexpr (sizeof(U) == 2)
            bits = __builtin_bswap16(bits);
        else if constexpr (sizeof(U) == 4)
            bits = __builtin_bswap32(bits);
        else
            bits = __builtin_bswap64(bits);
        std::memcpy(&value, &bits, sizeof bits);
        return value;
    }
}

// The value converted between host order and big-endian order (the same step both ways).
template <class T>
T HostBig(T value) {
    if constexpr (std::endian::native == std::endian::big)
        return value;
    else
        return ByteSwap(value);
}

// Stores `value` at `out` (sizeof(T) bytes, no alignment needed) big-endian.
template <class T>
void StoreBig(std::uint8_t* out, T value) {
    value = HostBig(value);
    std::memcpy(out, &value, sizeof value);
}

// The big-endian value of sizeof(T) bytes at `p` (no alignment needed).
template <class T>
T LoadBig(const std::uint8_t* p) {
    T value;
    std::memcpy(&value, p, sizeof value);
    return HostBig(value);
}

}  // namespace fits
