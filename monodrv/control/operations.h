// The operations behind SPECT_Process, run on an instance's storage.
#pragma once

#include <cstdint>
#include <optional>

#include "monodrv/control/instance_state.h"

namespace monodrv {

// Runs operation `operation` (a SPECT_OPERATIONS value) on `storage`: its outcome, or no value
// for a number that names no operation. Nothing is sent for an unknown number.
std::optional<bool> RunOperation(Storage& storage, std::uint32_t operation);

}  // namespace monodrv
