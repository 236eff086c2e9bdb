#include "monodrv/control/instance_state.h"

#include <cmath>
#include <limits>
#include <utility>

namespace monodrv {

std::int32_t Truncate(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
    if (value <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

std::int32_t Storage::Int(SPECT_PARAMETERS param) const {
    auto it = ints.find(param);
    return it == ints.end() ? 0 : it->second;
}

double Storage::Double(SPECT_PARAMETERS param) const {
    auto it = doubles.find(param);
    return it == doubles.end() ? 0.0 : it->second;
}

const Grating* Storage::GratingSet() const {
    const std::int32_t set = Int(SPECT_PARAM_GRATING_SET);
    return set >= 0 && set < kGratingSets ? gratings[set] : nullptr;
}

Grating* Storage::GratingSet() {
    return const_cast<Grating*>(std::as_const(*this).GratingSet());
}

double RoundTo(double x, int n) {
    for (int i = 0; i < n; ++i)
        x *= 10;
    x = x > 0 ? x + 0.5 : x - 0.5;
    double r = Truncate(x);
    for (int i = 0; i < n; ++i)
        r /= 10;
    return r;
}

}  // namespace monodrv
