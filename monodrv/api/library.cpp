#include "monodrv/api/library.h"

#include "monodrv/control/port_link.h"

namespace monodrv {
namespace {

void* g_module = nullptr;

#ifndef _WIN32
// Library attach and detach on Linux: the shared library's constructor and destructor. (The
// Windows build does the same in DllMain.)
struct LibraryLifetime {
    LibraryLifetime() { AttachPortLibrary("Corvane"); }
    ~LibraryLifetime() { DetachPortLibrary(); }
};

const LibraryLifetime kLifetime;
#endif

}  // namespace

void AttachPortLibrary(const char* caption) {
    BindPortLibrary(caption);
}
void DetachPortLibrary() {
    UnbindPortLibrary();
}

void* ModuleHandle() {
    return g_module;
}
void SetModuleHandle(void* module) {
    g_module = module;
}

}  // namespace monodrv
