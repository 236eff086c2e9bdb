#include <dlfcn.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "monodrv/control/platform.h"

namespace monodrv::platform {

// The driver's own folder first (where libtelx32.so is installed beside it; looked up by
// address, since a dlopen wrapper such as a sanitizer's would hide the caller's run path),
// then the ordinary search.
void* LoadLibraryByName(const char* name) {
    Dl_info self{};
    if (dladdr(reinterpret_cast<void*>(&LoadLibraryByName), &self) && self.dli_fname) {
        std::string path = self.dli_fname;
        auto slash = path.rfind('/');
        if (slash != std::string::npos) {
            path = path.substr(0, slash + 1) + name;
            if (void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) return module;
        }
    }
    return dlopen(name, RTLD_NOW | RTLD_LOCAL);
}
void* FindFunction(void* module, const char* name) {
    return dlsym(module, name);
}
void FreeLibraryModule(void* module) {
    dlclose(module);
}

std::uint32_t TickCount() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint32_t>(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

void SleepMs(std::uint32_t milliseconds) {
    usleep(milliseconds * 1000);
}

void ShowErrorMessage(const char* text, const char* caption) {
    std::fprintf(stderr, "%s: %s\n", caption, text);
}

}  // namespace monodrv::platform
