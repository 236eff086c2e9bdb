// The few system services the driver needs, one file per platform behind this header:
// loading a library by name, the millisecond tick counter and sleep, the message box.
#pragma once

#include <cstdint>

namespace monodrv::platform {

void* LoadLibraryByName(const char* name);
void* FindFunction(void* module, const char* name);
void FreeLibraryModule(void* module);
std::uint32_t TickCount();
void SleepMs(std::uint32_t milliseconds);
// The system's way to show the driver's one message (an error box, or standard error).
void ShowErrorMessage(const char* text, const char* caption);

}  // namespace monodrv::platform
