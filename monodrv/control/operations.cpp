// The operations behind SPECT_Process.
#include "monodrv/api/spectrograph.h"

namespace monodrv {
namespace {

using OperationFn = bool (*)(Storage&);

// Op 5: parameter 144 rounded in place to the wavelength decimals; always succeeds.
bool RoundValue(Storage& s) {
    s.doubles[144] = RoundTo(s.Double(144), s.Int(86));
    return true;
}

bool NoAction(Storage&) {
    return true;
}

// Operations that need the controller; they fail until the port protocol is built.
bool NeedsController(Storage&) {
    return false;
}

struct OperationEntry {
    std::uint32_t number;
    OperationFn run;
};

constexpr OperationEntry kOperations[] = {
    {0, NeedsController},  {1, NeedsController},  {2, NeedsController},  {3, NeedsController},
    {4, NeedsController},  {5, RoundValue},       {8, NeedsController},  {9, NeedsController},
    {10, NeedsController}, {11, NeedsController}, {12, NeedsController}, {18, NeedsController},
    {24, NeedsController}, {25, NoAction},        {26, NeedsController}, {27, NeedsController},
};

}  // namespace

bool MonodrvSpectrograph::Process(std::uint32_t operation) {
    for (const OperationEntry& entry : kOperations) {
        if (entry.number != operation) continue;
        storage_.SetInt(173, entry.run(storage_) ? kNoError : kFailed);
        return true;
    }
    storage_.SetInt(173, kNoError);
    return false;
}

}  // namespace monodrv
