// One image of a data file: columns x rows elements of one type, indexed (column, row) from
// (0, 0). Storage is row-major: element (c, r) is number r * columns + c, column fastest.
#pragma once

#include <cstdint>
#include <span>
#include <variant>
#include <vector>

namespace fits {

enum class ElementType { kUInt8, kInt16, kInt32, kFloat32 };

// Bytes one element of the type occupies.
int ElementSize(ElementType type);

class Frame {
  public:
    Frame() = default;
    Frame(ElementType type, std::int64_t columns, std::int64_t rows) { Reset(type, columns, rows); }

    // Makes the frame columns x rows of the type, all zero; reuses the storage it has.
    void Reset(ElementType type, std::int64_t columns, std::int64_t rows) {
        Shape(type, columns, rows, true);
    }
    // As Reset, but the elements are left unspecified when the storage is reused: for a
    // reader about to overwrite every element (saves a pass over each frame).
    void Reshape(ElementType type, std::int64_t columns, std::int64_t rows) {
        Shape(type, columns, rows, false);
    }

    ElementType Type() const { return type_; }
    std::int64_t Columns() const { return columns_; }
    std::int64_t Rows() const { return rows_; }
    std::int64_t Count() const { return columns_ * rows_; }
    bool Empty() const { return Count() == 0; }

    // The elements as type T, which must be the frame's element type.
    template <class T>
    std::span<T> Elements() {
        auto& v = std::get<std::vector<T>>(data_);
        return {v.data(), static_cast<std::size_t>(Count())};
    }
    template <class T>
    std::span<const T> Elements() const {
        const auto& v = std::get<std::vector<T>>(data_);
        return {v.data(), static_cast<std::size_t>(Count())};
    }
    // The raw element bytes in host order.
    std::span<std::uint8_t> Bytes();
    std::span<const std::uint8_t> Bytes() const;

    // Element (column, row) as a double, and stored from a double (rounded and clamped to
    // the element type). For tests and tools; bulk code uses Elements().
    double At(std::int64_t column, std::int64_t row) const;
    void Set(std::int64_t column, std::int64_t row, double value);

  private:
    void Shape(ElementType type, std::int64_t columns, std::int64_t rows, bool zero);
    ElementType type_ = ElementType::kInt16;
    std::int64_t columns_ = 0;
    std::int64_t rows_ = 0;
    std::variant<std::vector<std::uint8_t>, std::vector<std::int16_t>, std::vector<std::int32_t>,
                 std::vector<float>>
        data_;
};

}  // namespace fits
