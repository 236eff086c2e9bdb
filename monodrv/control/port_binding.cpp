// Binding of the port-interface library, loaded at library attach by file name. On Linux the
// driver looks in its own folder first, so a port library beside libmonodrv.so is found; its
// runtime name is libtelx32.so.1 (the unversioned name belongs to development files and to
// hosts' own copies, tried next). On Windows the system's search order finds a telx32.dll
// beside the host or the driver.
#include <iterator>

#include "monodrv/control/platform.h"
#include "monodrv/control/port_link.h"
#include "telx32.h"

namespace monodrv {
namespace {

#ifdef _WIN32
constexpr const char* kLibraryNames[] = {"telx32.dll"};
#else
constexpr const char* kLibraryNames[] = {"libtelx32.so.1", "libtelx32.so"};
#endif

// Lookup order of the 51 names; the indexes below name the seven the driver calls.
constexpr const char* kNames[] = {
    "TELX_Create_physical_port",
    "TELX_Get_classname",
    "TELX_Enable_DMA_Communication",
    "TELX_Reset_Interface",
    "TELX_Special_Output",
    "TELX_Output_Multiple",
    "TELX_Initialize",
    "TELX_Destroy",
    "TELX_Find_IOaddress",
    "TELX_Set_device_secondaddress",
    "TELX_Get_device_secondaddress",
    "TELX_Input",
    "TELX_Output",
    "TELX_Disable",
    "TELX_Disable_Taxi",
    "TELX_Wait_for_response",
    "TELX_Set_UseWinDefaults",
    "TELX_Get_UseWinDefaults",
    "TELX_Flush_Buffer",
    "TELX_Input_Multiple",
    "TELX_Set_timeout",
    "TELX_Set_device_name",
    "TELX_Get_device_name",
    "TELX_Check_taxi_link",
    "TELX_SetUserData",
    "TELX_GetUserData",
    "TELX_GetUIParam",
    "TELX_SetUIParam",
    "TELX_Get_Ptrs",
    "TELX_Get_Outptr",
    "TELX_Mail_Read",
    "TELX_DownLoad_PhyAdd",
    "TELX_UpLoad_PhyAdd",
    "TELX_SetDoubleParam",
    "TELX_GetDoubleParam",
    "TELX_SetLongParam",
    "TELX_GetLongParam",
    "TELX_IsAvail",
    "TELX_GetEnumParam",
    "TELX_SetorClr_WP",
    "TELX_InitializeInterrupt",
    "TELX_RestoreInterrupt",
    "TELX_Get_DLLVersionString",
    "TELX_Get_DLLVersion",
    "TELX_Diagnose_Interface",
    "TELX_Write_NvRamInfo",
    "TELX_Read_NvRamInfo",
    "TELX_Output_Byte",
    "TELX_Input_Byte",
    "TELX_Get_Handle",
    "TELX_Create_physical_port_ex",
};
constexpr int kCount = static_cast<int>(std::size(kNames));
static_assert(kCount == 51);
enum Called {
    kOutputMultiple = 5,
    kInput = 11,
    kFlushBuffer = 18,
    kInputMultiple = 19,
    kSetUserData = 24,
    kGetUserData = 25,
    kGetUIParam = 26,
};

using OutputMultipleFn = decltype(&TELX_Output_Multiple);
using FlushFn = decltype(&TELX_Flush_Buffer);
using GetUIParamFn = decltype(&TELX_GetUIParam);
using InputFn = decltype(&TELX_Input);
using InputMultipleFn = decltype(&TELX_Input_Multiple);
using GetUserDataFn = decltype(&TELX_GetUserData);
using SetUserDataFn = decltype(&TELX_SetUserData);

struct Binding {
    void* module = nullptr;
    void* functions[kCount] = {};
    bool complete = false;
};

Binding& Bound() {
    static Binding binding;
    return binding;
}

template <class F>
F Fn(int index) {
    return reinterpret_cast<F>(Bound().functions[index]);
}

class TelxPortLink : public PortLink {
  public:
    explicit TelxPortLink(std::uint32_t port) : port_(port) {}
    std::int32_t OutputMultiple(const std::uint8_t* data, std::int32_t length) override {
        return Fn<OutputMultipleFn>(kOutputMultiple)(port_, 0, data, length);
    }
    void FlushBuffer(std::int32_t code) override { Fn<FlushFn>(kFlushBuffer)(port_, code); }
    std::int32_t GetUIParam(std::int32_t code) override {
        std::int32_t value = 0;
        Fn<GetUIParamFn>(kGetUIParam)(port_, code, &value);
        return value;
    }
    std::int32_t Input() override { return Fn<InputFn>(kInput)(port_, 0); }
    std::int32_t InputMultiple(std::uint8_t* buffer, std::int32_t maximum) override {
        return Fn<InputMultipleFn>(kInputMultiple)(port_, 0, buffer, maximum);
    }
    std::uint32_t GetUserData() override { return Fn<GetUserDataFn>(kGetUserData)(port_); }
    std::int32_t SetUserData(std::uint32_t value) override {
        return Fn<SetUserDataFn>(kSetUserData)(port_, value);
    }

  private:
    std::uint32_t port_;
};

class SystemTicks : public Clock {
  public:
    std::uint32_t Ticks() override { return platform::TickCount(); }
    void Sleep(std::uint32_t milliseconds) override { platform::SleepMs(milliseconds); }
};

Clock* g_clock = nullptr;
PortLinkFactory g_factory = nullptr;

MessageHook g_message = platform::ShowErrorMessage;

}  // namespace

Clock& SystemClock() {
    static SystemTicks clock;
    return clock;
}
Clock& ActiveClock() {
    return g_clock ? *g_clock : SystemClock();
}
void SetClock(Clock* clock) {
    g_clock = clock;
}

std::unique_ptr<PortLink> MakePortLink(std::uint32_t port) {
    if (g_factory) return g_factory(port);
    if (!Bound().complete) return nullptr;
    return std::make_unique<TelxPortLink>(port);
}
void SetPortLinkFactory(PortLinkFactory factory) {
    g_factory = factory;
}

void SetMessageHook(MessageHook hook) {
    g_message = hook ? hook : platform::ShowErrorMessage;
}
void ShowMessage(const char* text, const char* caption) {
    g_message(text, caption);
}

bool BindPortLibrary(const char* caption) {
    Binding& b = Bound();
    for (const char* name : kLibraryNames)
        if (!b.module) b.module = platform::LoadLibraryByName(name);
    if (!b.module) return false;
    bool all = true;
    for (int i = 0; i < kCount; ++i) {
        b.functions[i] = platform::FindFunction(b.module, kNames[i]);
        all = all && b.functions[i] != nullptr;
    }
    b.complete = all;
    if (!all) ShowMessage("TELX DLL Was Not Loaded", caption);
    return all;
}

void UnbindPortLibrary() {
    Binding& b = Bound();
    if (b.module) platform::FreeLibraryModule(b.module);
    b.module = nullptr;
    b.complete = false;  // nothing may call into a freed library
}

bool PortLibraryBound() {
    return Bound().complete;
}

}  // namespace monodrv
