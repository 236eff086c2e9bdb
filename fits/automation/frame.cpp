#include "fits/automation/frame.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace fits {
namespace {

template <class T>
void Resize(std::variant<std::vector<std::uint8_t>, std::vector<std::int16_t>,
                         std::vector<std::int32_t>, std::vector<float>>& data,
            std::size_t count, bool zero) {
    if (!std::holds_alternative<std::vector<T>>(data)) data = std::vector<T>();
    auto& v = std::get<std::vector<T>>(data);
    if (zero)
        v.assign(count, T{});
    else
        v.resize(count);
}

template <class T>
T Clamped(double value) {
    if constexpr (std::is_floating_point_v<T>) {
        return static_cast<T>(value);
    } else {
        if (std::isnan(value)) return T{};
        double r = std::nearbyint(value);
        r = std::clamp(r, static_cast<double>(std::numeric_limits<T>::min()),
                       static_cast<double>(std::numeric_limits<T>::max()));
        return static_cast<T>(r);
    }
}

}  // namespace

int ElementSize(ElementType type) {
    switch (type) {
        case ElementType::kUInt8:
            return 1;
        case ElementType::kInt16:
            return 2;
        case ElementType::kInt32:
            return 4;
        case ElementType::kFloat32:
            return 4;
    }
    return 0;
}

void Frame::Shape(ElementType type, std::int64_t columns, std::int64_t rows, bool zero) {
    type_ = type;
    columns_ = std::max<std::int64_t>(columns, 0);
    rows_ = std::max<std::int64_t>(rows, 0);
    auto count = static_cast<std::size_t>(columns_ * rows_);
    switch (type) {
        case ElementType::kUInt8:
            Resize<std::uint8_t>(data_, count, zero);
            break;
        case ElementType::kInt16:
            Resize<std::int16_t>(data_, count, zero);
            break;
        case ElementType::kInt32:
            Resize<std::int32_t>(data_, count, zero);
            break;
        case ElementType::kFloat32:
            Resize<float>(data_, count, zero);
            break;
    }
}

std::span<std::uint8_t> Frame::Bytes() {
    return std::visit(
        [this](auto& v) {
            return std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(v.data()),
                                           static_cast<std::size_t>(Count()) * sizeof(v[0]));
        },
        data_);
}

std::span<const std::uint8_t> Frame::Bytes() const {
    return std::visit(
        [this](const auto& v) {
            return std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(v.data()),
                                                 static_cast<std::size_t>(Count()) * sizeof(v[0]));
        },
        data_);
}

double Frame::At(std::int64_t column, std::int64_t row) const {
    auto i = static_cast<std::size_t>(row * columns_ + column);
    return std::visit([i](const auto& v) { return static_cast<double>(v.at(i)); }, data_);
}

void Frame::Set(std::int64_t column, std::int64_t row, double value) {
    auto i = static_cast<std::size_t>(row * columns_ + column);
    std::visit(
        [i, value](auto& v) {
            using T = typename std::decay_t<decltype(v)>::value_type;
            v.at(i) = Clamped<T>(value);
        },
        data_);
}

}  // namespace fits
