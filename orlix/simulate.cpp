// The simulated camera's pictures.
#include <cmath>
#include <cstdint>

#include "orlix/application.h"

namespace orlix {
namespace {

// xorshift64*: a small generator whose sequence is the same on every platform.
class Noise {
  public:
    explicit Noise(std::uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
    // Uniform in [-1, 1).
    double Next() {
        state_ ^= state_ >> 12;
        state_ ^= state_ << 25;
        state_ ^= state_ >> 27;
        auto bits = (state_ * 0x2545F4914F6CDD1Dull) >> 11;
        return static_cast<double>(bits) / 4503599627370496.0 - 1.0;
    }

  private:
    std::uint64_t state_;
};

double Gaussian(double d, double sigma) {
    return std::exp(-0.5 * d * d / (sigma * sigma));
}

// Scale of the picture for the sample type: small for 8-bit samples, larger otherwise.
double Scale(fits::ElementType type) {
    return type == fits::ElementType::kUInt8 ? 0.06 : 1.0;
}

}  // namespace

void SynthesizeFrame(const ExperimentSettings& settings, std::int64_t index, fits::Frame& frame) {
    fits::ElementType type = fits::ElementType::kInt16;
    if (settings.type_code == 0)
        type = settings.floating ? fits::ElementType::kFloat32 : fits::ElementType::kInt32;
    else if (auto datatype = CodeToDatatype(settings.type_code))
        type = DatatypeElement(*datatype).value_or(fits::ElementType::kInt16);
    frame.Reset(type, settings.columns, settings.rows);
    Noise noise(static_cast<std::uint64_t>(index) + 7);
    const double w = settings.columns, h = settings.rows, scale = Scale(type);
    const double drift = 0.01 * static_cast<double>(index);
    for (std::int64_t r = 0; r < settings.rows; ++r) {
        for (std::int64_t c = 0; c < settings.columns; ++c) {
            const double x = static_cast<double>(c) / w, y = static_cast<double>(r) / h;
            double signal = 0;
            if (settings.rows == 1) {
                // A spectrum: emission lines of different strengths.
                signal = 3000 * Gaussian(x - 0.21 - drift, 0.004) +
                         1800 * Gaussian(x - 0.47, 0.006) + 900 * Gaussian(x - 0.78, 0.003);
            } else {
                signal = 3000 * Gaussian(std::hypot(x - 0.3 - drift, y - 0.35), 0.05) +
                         1500 * Gaussian(std::hypot(x - 0.7, y - 0.6), 0.08) +
                         800 * Gaussian(std::hypot(x - 0.45, y - 0.8), 0.03);
            }
            frame.Set(c, r, scale * (600 + signal + 12 * noise.Next()));
        }
    }
}

}  // namespace orlix
