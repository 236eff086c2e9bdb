// Binding of the port-interface library.
#include "monodrv/api/library.h"

namespace monodrv {

void AttachPortLibrary(const char*) {}
void DetachPortLibrary() {}

}  // namespace monodrv
