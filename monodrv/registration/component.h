// The component entry points. The library offers no creatable classes: class objects are
// never available, and it may always be unloaded. On Windows the registration entry points
// also register and unregister the type library that publishes the five enumerations; there
// the system headers declare all four.
#pragma once

#include <cstdint>

inline constexpr std::uint32_t kClassNotAvailable = 0x80040111u;  // CLASS_E_CLASSNOTAVAILABLE
inline constexpr std::uint32_t kNullPointer = 0x80004003u;        // E_POINTER

#ifdef _WIN32
#include <windows.h>
// windows.h first: objbase.h needs its types.
#include <objbase.h>
#define MONODRV_COM_CALL STDAPICALLTYPE
using MonodrvResult = HRESULT;
using ClassIdRef = REFCLSID;
using InterfaceIdRef = REFIID;
#else
#define MONODRV_COM_CALL
using MonodrvResult = std::int32_t;
using ClassIdRef = const void*;
using InterfaceIdRef = const void*;
extern "C" {
MonodrvResult DllGetClassObject(ClassIdRef clsid, InterfaceIdRef iid, void** object);
MonodrvResult DllCanUnloadNow(void);
}
#endif
