// Registration of the type library with the system, and library attach and detach.
#include <windows.h>
// windows.h first: the OLE headers need its types.
#include <oleauto.h>

#include <string>

#include "monodrv/api/library.h"
#include "monodrv/registration/component.h"

namespace {

// The library file's full path (at most MAX_PATH characters).
std::string ModulePath() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(static_cast<HMODULE>(monodrv::ModuleHandle()), path, MAX_PATH);
    return path;
}

std::wstring Wide(const std::string& text) {
    std::wstring out(text.size() + 1, L'\0');
    int n =
        MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, out.data(), static_cast<int>(out.size()));
    out.resize(n > 0 ? static_cast<std::size_t>(n - 1) : 0);
    return out;
}

// Loads the type library from the library file, or else from the file with the extension
// ".tlb" (replacing everything from the last "." of the path); `path` is the one that worked.
HRESULT LoadOwnTypeLib(ITypeLib** library, std::string& path) {
    path = ModulePath();
    HRESULT hr = LoadTypeLib(Wide(path).c_str(), library);
    if (SUCCEEDED(hr)) return hr;
    auto dot = path.rfind('.');
    path = (dot == std::string::npos ? path : path.substr(0, dot)) + ".tlb";
    return LoadTypeLib(Wide(path).c_str(), library);
}

}  // namespace

STDAPI DllRegisterServer(void) {
    ITypeLib* library = nullptr;
    std::string path;
    HRESULT hr = LoadOwnTypeLib(&library, path);
    if (FAILED(hr)) return hr;
    std::string folder = path.substr(0, path.find_last_of("\\/") + 1);
    BSTR full = SysAllocString(Wide(path).c_str());
    BSTR help = SysAllocString(Wide(folder).c_str());
    hr = RegisterTypeLib(library, full, help);
    SysFreeString(full);
    SysFreeString(help);
    library->Release();
    return hr;
}

STDAPI DllUnregisterServer(void) {
    ITypeLib* library = nullptr;
    std::string path;
    if (FAILED(LoadOwnTypeLib(&library, path))) return S_OK;
    TLIBATTR* attributes = nullptr;
    if (SUCCEEDED(library->GetLibAttr(&attributes))) {
        // Bound by name at run time, as older systems may lack it.
        using UnRegisterFn = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);
        if (HMODULE oleaut = LoadLibraryA("oleaut32.dll")) {
            auto unregister = reinterpret_cast<UnRegisterFn>(
                reinterpret_cast<void*>(GetProcAddress(oleaut, "UnRegisterTypeLib")));
            if (unregister)
                unregister(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum,
                           attributes->lcid, attributes->syskind);
            FreeLibrary(oleaut);
        }
        library->ReleaseTLibAttr(attributes);
    }
    library->Release();
    return S_OK;
}

// Library attach: per-thread notifications off, the module handle kept for the resources,
// the port library bound. Detach frees the port library.
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        monodrv::SetModuleHandle(instance);
        monodrv::AttachPortLibrary("Corvane");
    } else if (reason == DLL_PROCESS_DETACH) {
        monodrv::DetachPortLibrary();
    }
    return TRUE;
}
