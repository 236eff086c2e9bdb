// Progress of long work, for a window that shows it and offers Cancel.
#pragma once

#include <cstdint>
#include <functional>

namespace fits {

// Called with (bytes done, bytes in all) every few MiB of the work; returning false stops the
// work, which then keeps nothing half-written and fails with a message saying "cancelled".
using ByteProgress = std::function<bool(std::int64_t, std::int64_t)>;

}  // namespace fits
