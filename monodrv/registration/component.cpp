#include "monodrv/registration/component.h"

#ifdef _WIN32
#define COMPONENT_EXPORT extern "C"  // exported by name through monodrv.def
#else
#define COMPONENT_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {
// Nothing in the library takes a lock on the module; the count stays 0.
long g_locks = 0;
}  // namespace

COMPONENT_EXPORT MonodrvResult MONODRV_COM_CALL DllGetClassObject(ClassIdRef, InterfaceIdRef,
                                                                  void** object) {
    if (!object) return static_cast<MonodrvResult>(kNullPointer);
    *object = nullptr;
    return static_cast<MonodrvResult>(kClassNotAvailable);  // the class table is empty
}

COMPONENT_EXPORT MonodrvResult MONODRV_COM_CALL DllCanUnloadNow(void) {
    return g_locks == 0 ? 0 : 1;
}
