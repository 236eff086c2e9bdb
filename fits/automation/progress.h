// Progress of long work, for a window that shows it and offers Cancel.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>

namespace fits {

// Called with (bytes done, bytes in all) every few MiB of the work; returning false stops the
// work, which then keeps nothing half-written and fails with a message saying "cancelled".
using ByteProgress = std::function<bool(std::int64_t, std::int64_t)>;

// Runs `work` on a thread of its own and calls `meanwhile` every `every` until it is done:
// a wait that cannot be cut into pieces, while progress is still told (or a window paints).
inline void RunBeside(const std::function<void()>& work, const std::function<void()>& meanwhile,
                      std::chrono::milliseconds every) {
    std::atomic<bool> done{false};
    std::thread aside([&] {
        work();
        done = true;
    });
    while (!done) {
        meanwhile();
        std::this_thread::sleep_for(every);
    }
    aside.join();
}

}  // namespace fits
