#include "fits/automation/variant.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace fits {
namespace {

template <class T>
std::string ShortestText(T value) {
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return ec == std::errc() ? std::string(buffer, end) : std::string();
}

}  // namespace

std::optional<double> ParseNumber(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    double value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<std::int64_t> ParseCount(std::string_view text) {
    std::int64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < 0)
        return std::nullopt;
    return value;
}

std::optional<std::int32_t> RoundToInt32(double value) {
    if (!std::isfinite(value)) return std::nullopt;
    double rounded = std::nearbyint(value);  // default rounding mode: halves to even
    if (rounded < std::numeric_limits<std::int32_t>::min() ||
        rounded > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return static_cast<std::int32_t>(rounded);
}

std::string Variant::ToText() const {
    struct Visitor {
        std::string operator()(std::monostate) const { return {}; }
        std::string operator()(bool v) const { return v ? "True" : "False"; }
        std::string operator()(std::int32_t v) const { return std::to_string(v); }
        std::string operator()(float v) const { return ShortestText(v); }
        std::string operator()(double v) const { return ShortestText(v); }
        std::string operator()(const std::string& v) const { return v; }
    };
    return std::visit(Visitor{}, value_);
}

std::optional<std::int32_t> Variant::ToInt32() const {
    struct Visitor {
        std::optional<std::int32_t> operator()(std::monostate) const { return std::nullopt; }
        std::optional<std::int32_t> operator()(bool v) const { return v ? -1 : 0; }
        std::optional<std::int32_t> operator()(std::int32_t v) const { return v; }
        std::optional<std::int32_t> operator()(float v) const { return RoundToInt32(v); }
        std::optional<std::int32_t> operator()(double v) const { return RoundToInt32(v); }
        std::optional<std::int32_t> operator()(const std::string& v) const {
            auto number = ParseNumber(v);
            return number ? RoundToInt32(*number) : std::nullopt;
        }
    };
    return std::visit(Visitor{}, value_);
}

bool Variant::ToBool() const {
    if (auto* b = std::get_if<bool>(&value_)) return *b;
    if (auto* s = std::get_if<std::string>(&value_)) {
        if (*s == "True" || *s == "true" || *s == "TRUE") return true;
        auto number = ParseNumber(*s);
        return number && *number != 0;
    }
    auto number = ToInt32();
    if (auto* d = std::get_if<double>(&value_)) return *d != 0;
    if (auto* f = std::get_if<float>(&value_)) return *f != 0;
    return number && *number != 0;
}

}  // namespace fits
