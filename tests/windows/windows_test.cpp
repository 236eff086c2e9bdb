// The Windows build of the driver under Wine: its exports as a host calls them, the
// registration round trip of the type library, the component entry points, and a host that
// opens ports through telx32.dll. Run from the folder that holds monodrv.dll and telx32.dll;
// with --expect-message it checks that a port library with missing functions is reported.
#include <windows.h>
// windows.h first: the OLE headers need its types.
#include <oleauto.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "monodrv.h"
#include "monodrv/registration/enumerations.h"
#include "telx32.h"

namespace {

int g_failures = 0;

#define CHECK(condition)                                               \
    do {                                                               \
        if (!(condition)) {                                            \
            std::printf("FAILED line %d: %s\n", __LINE__, #condition); \
            ++g_failures;                                              \
        }                                                              \
    } while (0)

// {6E2B9A31-5C47-4D8E-9F1A-2B7C3D4E5F60}
const GUID kLibId = {0x6E2B9A31, 0x5C47, 0x4D8E, {0x9F, 0x1A, 0x2B, 0x7C, 0x3D, 0x4E, 0x5F, 0x60}};

struct Driver {
    HMODULE dll = nullptr;
    template <class F>
    F Get(const char* name) {
        F f = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
        if (!f) {
            std::printf("FAILED: %s not exported\n", name);
            ++g_failures;
        }
        return f;
    }
};

void TestExports(Driver& d) {
    auto create = d.Get<decltype(&SPECT_CreateSpectrograph)>("SPECT_CreateSpectrograph");
    auto destroy = d.Get<decltype(&SPECT_DestroySpectrograph)>("SPECT_DestroySpectrograph");
    auto avail = d.Get<decltype(&SPECT_IsAvail)>("SPECT_IsAvail");
    auto get_u = d.Get<decltype(&SPECT_GetULongParam)>("SPECT_GetULongParam");
    auto set_u = d.Get<decltype(&SPECT_SetULongParam)>("SPECT_SetULongParam");
    auto get_d = d.Get<decltype(&SPECT_GetDblParam)>("SPECT_GetDblParam");
    auto get_s = d.Get<decltype(&SPECT_GetStrParam)>("SPECT_GetStrParam");
    auto enum_s = d.Get<decltype(&SPECT_GetEnumString)>("SPECT_GetEnumString");
    auto enum_p = d.Get<decltype(&SPECT_GetEnumParam)>("SPECT_GetEnumParam");
    auto process = d.Get<decltype(&SPECT_Process)>("SPECT_Process");
    auto resource = d.Get<decltype(&SPECT_GetResource)>("SPECT_GetResource");
    if (g_failures) return;
    SPECT_HANDLE h = create(TRIAX_320);
    CHECK(h != nullptr);
    SpectAvailInfo info;
    CHECK(avail(nullptr, SPECT_PARAM_SPECTROMETER, &info) && info.count == 5 && info.kind == 9);
    CHECK(!avail(nullptr, SPECT_PARAM_MODEL, &info) && info.count == 0);
    uint32_t u = 0;
    CHECK(get_u(nullptr, SPECT_PARAM_DRIVER_VERSION, &u, 0) && u == 2050801);
    CHECK(get_u(h, SPECT_PARAM_WAVELENGTH_DECIMALS, &u, 0) && u == 3);
    CHECK(set_u(h, SPECT_PARAM_SPEED_COUNT, 70000, 0) && get_u(h, SPECT_PARAM_SPEED_COUNT, &u, 0) &&
          u == 4464);
    CHECK(set_u(h, SPECT_PARAM_SIMULATION, 255, 0) && get_u(h, SPECT_PARAM_SIMULATION, &u, 0) &&
          u == 0xFFFFFFFFu);
    CHECK(enum_p(h, SPECT_PARAM_GROOVES, 8, &u) && u == 3600);
    double x = 0;
    CHECK(get_d(h, SPECT_PARAM_SPEEDS, &x, 1) && x == 4000);
    char text[32] = {};
    const struct {
        uint32_t id;
        const char* text;
    } strings[] = {
        {136, "Steps/nm"}, {48, "2.5.8.1"}, {119, "Side (Lateral) Exit"}, {130, nullptr}};
    for (const auto& s : strings) {
        unsigned char ok = resource(s.id, text, sizeof text);
        CHECK(ok == (s.text ? 1 : 0));
        if (s.text) CHECK(std::strcmp(text, s.text) == 0);
    }
    CHECK(enum_s(h, SPECT_PARAM_SPECTROMETER, 3, text, 20) && std::strcmp(text, "TRIAX 320") == 0);
    CHECK(get_s(h, SPECT_PARAM_SPEED_NAMES, text, 20, 2) && std::strcmp(text, "Ramp Time") == 0);
    CHECK(!get_s(h, SPECT_PARAM_SLIT_SPEED_UNIT, text, 20, 1));
    CHECK(process(h, SPECT_OP_NO_ACTION) == 1 && !process(h, 7));
    CHECK(destroy(h) == 1 && destroy(nullptr) == 0);
}

void TestComponent(Driver& d) {
    using GetClassObjectFn = HRESULT(__stdcall*)(REFCLSID, REFIID, void**);
    using NoArgFn = HRESULT(__stdcall*)();
    auto get_class = d.Get<GetClassObjectFn>("DllGetClassObject");
    auto can_unload = d.Get<NoArgFn>("DllCanUnloadNow");
    auto reg = d.Get<NoArgFn>("DllRegisterServer");
    auto unreg = d.Get<NoArgFn>("DllUnregisterServer");
    if (g_failures) return;
    const GUID any = {0x12345678, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};
    void* object = reinterpret_cast<void*>(1);
    CHECK(get_class(any, IID_IClassFactory, &object) == static_cast<HRESULT>(0x80040111) &&
          object == nullptr);
    CHECK(get_class(any, IID_IUnknown, nullptr) == static_cast<HRESULT>(0x80004003));
    CHECK(can_unload() == S_OK);

    CHECK(reg() == S_OK);
    ITypeLib* library = nullptr;
    CHECK(SUCCEEDED(LoadRegTypeLib(kLibId, 1, 0, 0x409, &library)));
    if (!library) return;
    BSTR name = nullptr, help = nullptr;
    library->GetDocumentation(-1, &name, &help, nullptr, nullptr);
    CHECK(name && std::wcscmp(name, L"MONODRVLib") == 0);
    CHECK(help && std::wcscmp(help, L"Monodrv 1.0 Type Library") == 0);
    SysFreeString(name);
    SysFreeString(help);
    TLIBATTR* attributes = nullptr;
    library->GetLibAttr(&attributes);
    CHECK(attributes->wMajorVerNum == 1 && attributes->wMinorVerNum == 0 &&
          attributes->lcid == 0x409);
    CHECK(IsEqualGUID(attributes->guid, kLibId));
    library->ReleaseTLibAttr(attributes);
    const std::vector<monodrv::Enumeration> expected = monodrv::Enumerations();
    CHECK(library->GetTypeInfoCount() == expected.size());
    for (UINT t = 0; t < expected.size() && t < library->GetTypeInfoCount(); ++t) {
        ITypeInfo* info = nullptr;
        library->GetTypeInfo(t, &info);
        BSTR type_name = nullptr;
        info->GetDocumentation(MEMBERID_NIL, &type_name, nullptr, nullptr, nullptr);
        CHECK(type_name && std::wcscmp(type_name, expected[t].name) == 0);
        SysFreeString(type_name);
        TYPEATTR* type = nullptr;
        info->GetTypeAttr(&type);
        CHECK(type->typekind == TKIND_ENUM && type->cVars == expected[t].constants.size());
        for (UINT v = 0; v < type->cVars && v < expected[t].constants.size(); ++v) {
            VARDESC* var = nullptr;
            info->GetVarDesc(v, &var);
            CHECK(var->varkind == VAR_CONST &&
                  V_I4(var->lpvarValue) == expected[t].constants[v].value);
            BSTR var_name = nullptr, var_help = nullptr;
            info->GetDocumentation(var->memid, &var_name, &var_help, nullptr, nullptr);
            CHECK(var_name && std::wcscmp(var_name, expected[t].constants[v].name) == 0);
            CHECK(var_help && std::wcscmp(var_help, expected[t].constants[v].help) == 0);
            SysFreeString(var_name);
            SysFreeString(var_help);
            info->ReleaseVarDesc(var);
        }
        info->ReleaseTypeAttr(type);
        info->Release();
    }
    library->Release();
    CHECK(unreg() == S_OK);
    library = nullptr;
    CHECK(FAILED(LoadRegTypeLib(kLibId, 1, 0, 0x409, &library)));
}

// A host that opens its port through telx32.dll: a missing port fails cleanly, and the
// driver's busy query runs through the bound port library (it answers ready when nothing
// replies, as a controller-less port does).
void TestHost(Driver& d) {
    HMODULE telx = LoadLibraryA("telx32.dll");
    CHECK(telx != nullptr);
    if (!telx) return;
    auto open = reinterpret_cast<decltype(&TELX_Create_physical_port)>(
        reinterpret_cast<void*>(GetProcAddress(telx, "TELX_Create_physical_port")));
    CHECK(open && open("COM250") == 0);
    auto create = d.Get<decltype(&SPECT_CreateSpectrograph)>("SPECT_CreateSpectrograph");
    auto process = d.Get<decltype(&SPECT_Process)>("SPECT_Process");
    auto get_u = d.Get<decltype(&SPECT_GetULongParam)>("SPECT_GetULongParam");
    SPECT_HANDLE h = create(SPEX_270M);
    uint32_t error = 0, busy = 0;
    CHECK(process(h, SPECT_OP_READ_BUSY_STATUS) == 1 &&
          get_u(h, SPECT_PARAM_ERROR_CODE, &error, 0) && error == 0);
    CHECK(get_u(h, SPECT_PARAM_BUSY_STATUS, &busy, 0) && busy == 1);
    CHECK(process(h, SPECT_OP_MOVE_TO_WAVELENGTH) == 1 &&
          get_u(h, SPECT_PARAM_ERROR_CODE, &error, 0) && error == 11);
    FreeLibrary(telx);
}

std::string g_message;

BOOL CALLBACK CollectText(HWND child, LPARAM) {
    char text[256] = {};
    GetWindowTextA(child, text, sizeof text);
    g_message += text;
    return TRUE;
}

LRESULT CALLBACK CbtHook(int code, WPARAM wparam, LPARAM lparam) {
    if (code == HCBT_CREATEWND) {
        // The box and its text control are created with their texts as window names.
        const CREATESTRUCTA* create = reinterpret_cast<CBT_CREATEWNDA*>(lparam)->lpcs;
        if (create->lpszName && HIWORD(reinterpret_cast<ULONG_PTR>(create->lpszName)) != 0)
            g_message += std::string("[") + create->lpszName + "]";
    }
    if (code == HCBT_ACTIVATE) {
        char text[256] = {};
        HWND window = reinterpret_cast<HWND>(wparam);
        GetWindowTextA(window, text, sizeof text);
        g_message += std::string("[") + text + "]";
        EnumChildWindows(window, CollectText, 0);
        PostMessageA(window, WM_CLOSE, 0, 0);
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--expect-message") == 0) {
        HHOOK hook = SetWindowsHookExA(WH_CBT, CbtHook, nullptr, GetCurrentThreadId());
        HMODULE dll = LoadLibraryA("monodrv.dll");
        UnhookWindowsHookEx(hook);
        CHECK(dll != nullptr);
        std::printf("message seen by the host: %s\n", g_message.c_str());
        CHECK(g_message.find("Corvane") != std::string::npos);
        CHECK(g_message.find("TELX DLL Was Not Loaded") != std::string::npos);
    } else {
        CoInitialize(nullptr);
        Driver driver{LoadLibraryA("monodrv.dll")};
        CHECK(driver.dll != nullptr);
        if (driver.dll) {
            TestExports(driver);
            TestComponent(driver);
            TestHost(driver);
        }
        CoUninitialize();
    }
    std::printf("%s: %d failure(s)\n", argv[0], g_failures);
    return g_failures == 0 ? 0 : 1;
}
