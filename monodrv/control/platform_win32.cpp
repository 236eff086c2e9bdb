#include <windows.h>

#include "monodrv/control/platform.h"

namespace monodrv::platform {

void* LoadLibraryByName(const char* name) {
    return reinterpret_cast<void*>(LoadLibraryA(name));
}

void* FindFunction(void* module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void FreeLibraryModule(void* module) {
    FreeLibrary(static_cast<HMODULE>(module));
}

std::uint32_t TickCount() {
    return GetTickCount();
}
void SleepMs(std::uint32_t milliseconds) {
    Sleep(milliseconds);
}

void ShowErrorMessage(const char* text, const char* caption) {
    MessageBoxA(nullptr, text, caption, MB_OK | MB_ICONERROR);
}

}  // namespace monodrv::platform
