// Numbers written as text, read strictly: the whole text, in the C locale, nothing around it.
// The one reading of numbers for the driver, its command-line host and the emulator.
#pragma once

#include <charconv>
#include <cmath>
#include <optional>
#include <string_view>

namespace monodrv {

// The whole text as a finite number; a leading '+' allowed. None for anything else.
inline std::optional<double> WholeNumber(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    double v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

// The whole text as a whole number of type Int, in [low, high]. None for anything else.
template <class Int>
std::optional<Int> WholeInteger(std::string_view text, Int low, Int high) {
    Int v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || v < low ||
        v > high)
        return std::nullopt;
    return v;
}

}  // namespace monodrv
