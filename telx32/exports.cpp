// The 51 TELX_ exports over the port registry. Nothing thrown crosses this boundary; an
// unknown handle or a null pointer is a failure.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "telx32.h"
#include "telx32/ports.h"

#ifdef _WIN32
#define TELX_EXPORT extern "C"  // exported by name through telx32.def
#else
#define TELX_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace telx32 {
namespace {

constexpr std::int32_t kDefaultBaud = 19200;

struct Registry {
    std::mutex mutex;
    std::map<TELX_PORT, std::unique_ptr<Port>> ports;
    TELX_PORT next = 1;
};

Registry& Ports() {
    static Registry registry;
    return registry;
}

// The open port of a handle, or null. A port is used from one thread at a time; the lock
// only guards the registry itself.
Port* Find(TELX_PORT handle) {
    std::lock_guard<std::mutex> lock(Ports().mutex);
    auto it = Ports().ports.find(handle);
    return it == Ports().ports.end() ? nullptr : it->second.get();
}

// Runs an export's body; anything thrown (an allocation that fails, a lock that cannot be
// taken) becomes the failure result, so nothing crosses the C boundary.
template <class F>
auto Guard(F body) -> decltype(body()) {
    try {
        return body();
    } catch (...) {
        return {};
    }
}

// Runs `body` on the open port of `handle`; 0 for an unknown handle.
template <class F>
std::int32_t WithPort(TELX_PORT handle, F body) {
    return Guard([&]() -> std::int32_t {
        Port* p = Find(handle);
        return p ? body(*p) : 0;
    });
}

// Why the last open in this thread failed, for TELX_Diagnose_Interface(0, ...).
thread_local std::string g_open_failure;

TELX_PORT Open(const char* name, std::int32_t baud) {
    g_open_failure.clear();
    if (!name) {
        g_open_failure = "no port name";
        return 0;
    }
    std::string error;
    auto port = OpenPort(name, baud, error);
    if (!port) {
        g_open_failure = error;
        return 0;
    }
    std::lock_guard<std::mutex> lock(Ports().mutex);
    TELX_PORT handle = Ports().next++;
    Ports().ports[handle] = std::move(port);
    return handle;
}

void CopyText(const std::string& text, char* buffer, std::int32_t size) {
    if (!buffer || size <= 0) return;
    std::snprintf(buffer, static_cast<std::size_t>(size), "%s", text.c_str());
}

}  // namespace
}  // namespace telx32

using namespace telx32;

TELX_EXPORT TELX_PORT TELX_CALL TELX_Create_physical_port(const char* name) {
    return Guard([&] { return Open(name, kDefaultBaud); });
}

TELX_EXPORT TELX_PORT TELX_CALL TELX_Create_physical_port_ex(const char* name, int32_t baud) {
    return Guard([&] { return Open(name, baud); });
}

TELX_EXPORT int32_t TELX_CALL TELX_Initialize(TELX_PORT port) {
    return WithPort(port, [](Port&) { return 1; });
}

TELX_EXPORT int32_t TELX_CALL TELX_Destroy(TELX_PORT port) {
    return Guard([&]() -> std::int32_t {
        std::unique_ptr<Port> closing;  // closed outside the registry's lock
        std::lock_guard<std::mutex> lock(Ports().mutex);
        auto it = Ports().ports.find(port);
        if (it == Ports().ports.end()) return 0;
        closing = std::move(it->second);
        Ports().ports.erase(it);
        return 1;
    });
}

TELX_EXPORT int32_t TELX_CALL TELX_Disable(TELX_PORT port) {
    return WithPort(port, [](Port&) { return 1; });
}

TELX_EXPORT int32_t TELX_CALL TELX_Reset_Interface(TELX_PORT port) {
    return WithPort(port, [](Port& p) {
        p.FlushInput();
        return 1;
    });
}

TELX_EXPORT TELX_PORT TELX_CALL TELX_Get_Handle(const char* name) {
    return Guard([&]() -> TELX_PORT {
        if (!name) return 0;
        std::lock_guard<std::mutex> lock(Ports().mutex);
        for (const auto& [handle, port] : Ports().ports)
            if (port->name == name) return handle;
        return 0;
    });
}

TELX_EXPORT int32_t TELX_CALL TELX_Output_Multiple(TELX_PORT port, int32_t, const uint8_t* data,
                                                   int32_t length) {
    return WithPort(port, [&](Port& p) {
        if (!data || length <= 0) return 0;
        return p.Write(data, static_cast<std::size_t>(length)) ? 1 : 0;
    });
}

TELX_EXPORT int32_t TELX_CALL TELX_Input_Multiple(TELX_PORT port, int32_t, uint8_t* buffer,
                                                  int32_t maximum) {
    return WithPort(port, [&](Port& p) {
        if (!buffer || maximum <= 0) return 0;
        if (p.Kind() == TELX_KIND_BLOCK) return p.ReadBlock(buffer, maximum);
        std::int32_t n = 0;
        for (int b; n < maximum && (b = p.ReadByte()) >= 0;)
            buffer[n++] = static_cast<uint8_t>(b);
        return n;
    });
}

TELX_EXPORT int32_t TELX_CALL TELX_Output(TELX_PORT port, int32_t, int32_t value) {
    const auto byte = static_cast<uint8_t>(value);
    return TELX_Output_Multiple(port, 0, &byte, 1);
}

TELX_EXPORT int32_t TELX_CALL TELX_Input(TELX_PORT port, int32_t) {
    return WithPort(port, [](Port& p) {
        const int b = p.ReadByte();
        return b < 0 ? 0 : b;
    });
}

TELX_EXPORT int32_t TELX_CALL TELX_Output_Byte(TELX_PORT port, int32_t value) {
    return TELX_Output(port, 0, value);
}
TELX_EXPORT int32_t TELX_CALL TELX_Input_Byte(TELX_PORT port) {
    return TELX_Input(port, 0);
}
TELX_EXPORT int32_t TELX_CALL TELX_Special_Output(TELX_PORT port, int32_t channel, int32_t value) {
    return TELX_Output(port, channel, value);
}

TELX_EXPORT int32_t TELX_CALL TELX_Flush_Buffer(TELX_PORT port, int32_t code) {
    return WithPort(port, [&](Port& p) {
        if (code == TELX_FLUSH_INPUT) p.FlushInput();
        return 1;
    });
}

TELX_EXPORT int32_t TELX_CALL TELX_Wait_for_response(TELX_PORT port, int32_t milliseconds) {
    return WithPort(port, [&](Port& p) {
        for (int32_t waited = 0; waited <= milliseconds; waited += 5) {
            if (p.RxWaiting() > 0 || (p.Status() & TELX_STATUS_REPLY_WAITING)) return 1;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return 0;
    });
}

TELX_EXPORT int32_t TELX_CALL TELX_Set_timeout(TELX_PORT port, int32_t) {
    return WithPort(port, [](Port&) { return 1; });
}

TELX_EXPORT int32_t TELX_CALL TELX_GetUIParam(TELX_PORT port, int32_t code, int32_t* value) {
    return WithPort(port, [&](Port& p) {
        if (!value) return 0;
        switch (code) {
            case TELX_UI_STATUS:
                *value = p.Status();
                return 1;
            case TELX_UI_RX_WAITING:
                *value = p.RxWaiting();
                return 1;
            case TELX_UI_TX_PENDING:
                *value = p.TxPending();
                return 1;
            case TELX_UI_KIND:
                *value = p.Kind();
                return 1;
            case TELX_UI_STATUS_VALID:
                *value = p.StatusValid() ? 1 : 0;
                return 1;
            case TELX_UI_BAUD:
                *value = p.Baud();
                return 1;
            default:
                return 0;
        }
    });
}

TELX_EXPORT int32_t TELX_CALL TELX_SetUIParam(TELX_PORT port, int32_t code, int32_t value) {
    return WithPort(port,
                    [&](Port& p) { return code == TELX_UI_BAUD && p.SetBaud(value) ? 1 : 0; });
}

TELX_EXPORT int32_t TELX_CALL TELX_SetUserData(TELX_PORT port, uint32_t value) {
    return WithPort(port, [&](Port& p) {
        p.user_data = value;
        return 1;
    });
}

TELX_EXPORT uint32_t TELX_CALL TELX_GetUserData(TELX_PORT port) {
    return static_cast<uint32_t>(
        WithPort(port, [](Port& p) { return static_cast<std::int32_t>(p.user_data); }));
}

TELX_EXPORT int32_t TELX_CALL TELX_SetLongParam(TELX_PORT port, int32_t code, int32_t value) {
    return TELX_SetUIParam(port, code, value);
}
TELX_EXPORT int32_t TELX_CALL TELX_GetLongParam(TELX_PORT port, int32_t code, int32_t* value) {
    return TELX_GetUIParam(port, code, value);
}
TELX_EXPORT int32_t TELX_CALL TELX_SetDoubleParam(TELX_PORT, int32_t, double) {
    return 0;
}
TELX_EXPORT int32_t TELX_CALL TELX_GetDoubleParam(TELX_PORT, int32_t, double*) {
    return 0;
}
TELX_EXPORT int32_t TELX_CALL TELX_IsAvail(TELX_PORT port, int32_t code) {
    int32_t value = 0;
    return TELX_GetUIParam(port, code, &value);
}
TELX_EXPORT int32_t TELX_CALL TELX_GetEnumParam(TELX_PORT, int32_t, int32_t, int32_t*) {
    return 0;
}

TELX_EXPORT int32_t TELX_CALL TELX_Set_device_name(TELX_PORT port, const char* name) {
    return WithPort(port, [&](Port& p) {
        if (!name) return 0;
        p.name = name;
        return 1;
    });
}
TELX_EXPORT int32_t TELX_CALL TELX_Get_device_name(TELX_PORT port, char* buffer, int32_t size) {
    return WithPort(port, [&](Port& p) {
        if (!buffer || size <= 0) return 0;
        CopyText(p.name, buffer, size);
        return 1;
    });
}
TELX_EXPORT int32_t TELX_CALL TELX_Get_classname(TELX_PORT port, char* buffer, int32_t size) {
    return WithPort(port, [&](Port& p) {
        if (!buffer || size <= 0) return 0;
        CopyText(p.Kind() == TELX_KIND_BLOCK ? "block link" : "serial port", buffer, size);
        return 1;
    });
}
TELX_EXPORT int32_t TELX_CALL TELX_Set_device_secondaddress(TELX_PORT, int32_t) {
    return 0;
}
TELX_EXPORT int32_t TELX_CALL TELX_Get_device_secondaddress(TELX_PORT) {
    return 0;
}
TELX_EXPORT int32_t TELX_CALL TELX_Set_UseWinDefaults(TELX_PORT, int32_t) {
    return 0;
}
TELX_EXPORT int32_t TELX_CALL TELX_Get_UseWinDefaults(TELX_PORT) {
    return 0;
}
TELX_EXPORT int32_t TELX_CALL TELX_Get_DLLVersionString(char* buffer, int32_t size) {
    if (!buffer || size <= 0) return 0;
    CopyText("1.0.0", buffer, size);
    return 1;
}
TELX_EXPORT int32_t TELX_CALL TELX_Get_DLLVersion(void) {
    return 0x00010000;
}

// Handle 0: why the last open in the calling thread failed ("/dev/ttyUSB0 is in use by
// monodrv-ctl (PID 4711)"); an open port: its kind, name and baud rate.
TELX_EXPORT int32_t TELX_CALL TELX_Diagnose_Interface(TELX_PORT port, char* buffer, int32_t size) {
    return Guard([&]() -> std::int32_t {
        if (!buffer || size <= 0) return 0;
        if (port == 0) {
            if (g_open_failure.empty()) return 0;
            CopyText(g_open_failure, buffer, size);
            return 1;
        }
        return WithPort(port, [&](Port& p) {
            CopyText((p.Kind() == TELX_KIND_BLOCK ? "block link " : "serial port ") + p.name +
                         (p.Baud() > 0 ? ", " + std::to_string(p.Baud()) + " baud" : ""),
                     buffer, size);
            return 1;
        });
    });
}

TELX_EXPORT int32_t TELX_CALL TELX_Enable_DMA_Communication(TELX_PORT, int32_t) {
    return 0;
}
TELX_EXPORT int32_t TELX_CALL TELX_Find_IOaddress(TELX_PORT) {
    return 0;
}
TELX_EXPORT int32_t TELX_CALL TELX_Disable_Taxi(TELX_PORT) {
    return 0;
}
TELX_EXPORT int32_t TELX_CALL TELX_Check_taxi_link(TELX_PORT) {
    return 0;
}
TELX_EXPORT int32_t TELX_CALL TELX_Get_Ptrs(TELX_PORT, void**, void**) {
    return 0;
}
TELX_EXPORT int32_t TELX_CALL TELX_Get_Outptr(TELX_PORT, void**) {
    return 0;
}
TELX_EXPORT int32_t TELX_CALL TELX_Mail_Read(TELX_PORT, uint8_t*, int32_t) {
    return 0;
}
TELX_EXPORT int32_t TELX_CALL TELX_DownLoad_PhyAdd(TELX_PORT, int32_t) {
    return 0;
}
TELX_EXPORT int32_t TELX_CALL TELX_UpLoad_PhyAdd(TELX_PORT, int32_t*) {
    return 0;
}
TELX_EXPORT int32_t TELX_CALL TELX_SetorClr_WP(TELX_PORT, int32_t) {
    return 0;
}
TELX_EXPORT int32_t TELX_CALL TELX_InitializeInterrupt(TELX_PORT) {
    return 0;
}
TELX_EXPORT int32_t TELX_CALL TELX_RestoreInterrupt(TELX_PORT) {
    return 0;
}
TELX_EXPORT int32_t TELX_CALL TELX_Write_NvRamInfo(TELX_PORT, const uint8_t*, int32_t) {
    return 0;
}
TELX_EXPORT int32_t TELX_CALL TELX_Read_NvRamInfo(TELX_PORT, uint8_t*, int32_t) {
    return 0;
}
