// Library attach and detach: what the driver sets up when a process loads it and tears down
// when the process lets it go.
#pragma once

namespace monodrv {

// Library attach: binds the port library, showing its error message under `caption` when the
// library is found but incomplete. Instances work either way; without a complete binding
// every operation that talks to the controller fails (error code SPECT_ERR_FAILED).
void AttachPortLibrary(const char* caption);
// Library detach: frees the port library if it was loaded; nothing calls into it afterwards.
void DetachPortLibrary();

// The library's own module handle, kept at attach for its resources (null on Linux).
void* ModuleHandle();
void SetModuleHandle(void* module);

}  // namespace monodrv
