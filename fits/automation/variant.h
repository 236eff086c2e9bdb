// The value of an object parameter, with the platform's value-to-text conversion.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace fits {

class Variant {
  public:
    using Value = std::variant<std::monostate, bool, std::int32_t, float, double, std::string>;

    Variant() = default;
    Variant(bool v) : value_(v) {}                      // NOLINT: implicit by design
    Variant(std::int32_t v) : value_(v) {}              // NOLINT
    Variant(float v) : value_(v) {}                     // NOLINT
    Variant(double v) : value_(v) {}                    // NOLINT
    Variant(std::string v) : value_(std::move(v)) {}    // NOLINT
    Variant(const char* v) : value_(std::string(v)) {}  // NOLINT

    bool IsEmpty() const { return std::holds_alternative<std::monostate>(value_); }
    const Value& value() const { return value_; }

    // Integers in decimal; a float or double in the shortest form that reads back as the same
    // value ("0.1", "5"); booleans as "True" / "False"; empty as "". Independent of locale.
    std::string ToText() const;
    // The value as a 32-bit whole number: fractions round to the nearest, halves to even;
    // text is read as a number. None when it is not a number or does not fit.
    std::optional<std::int32_t> ToInt32() const;
    // Non-zero numbers and the texts "True"/"true"/non-zero numbers are true.
    bool ToBool() const;

  private:
    Value value_;
};

// Reads a whole text (blanks around it allowed) as a number, independent of locale.
std::optional<double> ParseNumber(std::string_view text);
// Reads a whole text (nothing around it) as a whole number of 0 or more.
std::optional<std::int64_t> ParseCount(std::string_view text);
// Rounds to the nearest 32-bit whole number, halves to even; none when out of range or NaN.
std::optional<std::int32_t> RoundToInt32(double value);

}  // namespace fits
