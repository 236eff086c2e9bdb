// Loads a libmonodrv.so given by path, as a host does, and reports what an instance does
// without a usable port library: a move fails with error 11, parameters still work.
#include <dlfcn.h>

#include <cstdio>

#include "monodrv.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    void* lib = dlopen(argv[1], RTLD_NOW);
    if (!lib) {
        std::printf("cannot load: %s\n", dlerror());
        return 1;
    }
    auto create = reinterpret_cast<decltype(&SPECT_CreateSpectrograph)>(
        dlsym(lib, "SPECT_CreateSpectrograph"));
    auto process = reinterpret_cast<decltype(&SPECT_Process)>(dlsym(lib, "SPECT_Process"));
    auto get = reinterpret_cast<decltype(&SPECT_GetULongParam)>(dlsym(lib, "SPECT_GetULongParam"));
    auto destroy = reinterpret_cast<decltype(&SPECT_DestroySpectrograph)>(
        dlsym(lib, "SPECT_DestroySpectrograph"));
    SPECT_HANDLE h = create(TRIAX_320);
    uint32_t error = 0, speeds = 0;
    process(h, SPECT_OP_MOVE_TO_WAVELENGTH);
    get(h, SPECT_PARAM_ERROR_CODE, &error, 0);
    get(h, SPECT_PARAM_SPEED_COUNT, &speeds, 0);
    std::printf("process 0: error %u; parameter 43 = %u\n", error, speeds);
    destroy(h);
    dlclose(lib);
    return 0;
}
