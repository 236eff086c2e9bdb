// Library attach and detach: what the driver sets up when a process loads it and tears down
// when the process lets it go.
#pragma once

namespace monodrv {

// Called from the attach hook with the caption of the port library's error message; binds
// the port library. Replaced by the port binding; until then nothing is bound.
void AttachPortLibrary(const char* caption);
void DetachPortLibrary();

// The library's own module handle, kept at attach for its resources (null on Linux).
void* ModuleHandle();
void SetModuleHandle(void* module);

}  // namespace monodrv
