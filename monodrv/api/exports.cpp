// The thirteen SPECT_ exports: argument checks, routing to the object, the fallback answers
// for a null handle or a declined parameter. Nothing thrown crosses this boundary.
#include <cstring>
#include <new>

#include "monodrv.h"
#include "monodrv/api/library.h"
#include "monodrv/api/spectrograph.h"
#include "monodrv/api/string_table.h"

#ifdef _WIN32
#define MONODRV_EXPORT extern "C"  // exported by name through monodrv.def
#else
#define MONODRV_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace monodrv {
namespace {

Spectrograph* Object(SPECT_HANDLE handle) {
    return static_cast<Spectrograph*>(handle);
}

unsigned char Byte(bool ok) {
    return ok ? 1 : 0;
}

// Runs an export body; anything thrown becomes a failure.
template <class F>
unsigned char Guard(F body) {
    try {
        return Byte(body());
    } catch (...) {
        return 0;
    }
}

bool FallbackAvail(std::uint32_t param, SpectAvailInfo* info) {
    struct Row {
        std::uint32_t param;
        std::int32_t count, kind;
        double value1;
    };
    static constexpr Row kRows[] = {
        {SPECT_PARAM_SPECTROMETER, NUM_SPECTROGRAPHS, SPECT_KIND_ENUMERATED, 0},
        {SPECT_PARAM_GROOVES, 9, SPECT_KIND_ENUMERATED, 1.0},
        {SPECT_PARAM_SLIT_LOCATION, NUM_SLIT_LOCATION, SPECT_KIND_ENUMERATED, 0},
        {SPECT_PARAM_MIRROR_LOCATION, 2, SPECT_KIND_ENUMERATED, 0},
        {SPECT_PARAM_MIRROR_POSITION, 2, SPECT_KIND_ENUMERATED, 0}};
    for (const Row& row : kRows) {
        if (row.param != param) continue;
        info->count = row.count;
        info->kind = row.kind;
        info->value1 = row.value1;
        return true;
    }
    return false;
}

bool FallbackEnum(std::uint32_t param, std::uint32_t index, std::uint32_t* value) {
    static constexpr std::uint32_t kModels[] = {SPEX_270M, TRIAX_180, TRIAX_190, TRIAX_320,
                                                SPEX232_RETRO};
    static constexpr std::uint32_t kGrooves[] = {50, 100, 150, 300, 600, 1200, 1800, 2400, 3600};
    static constexpr std::uint32_t kSlits[] = {SLIT_LOC_FR_ENTR, SLIT_LOC_SD_ENTR, SLIT_LOC_FR_EXIT,
                                               SLIT_LOC_SD_EXIT};
    static constexpr std::uint32_t kMirrorLocations[] = {MIR_LOC_ENTRANCE, MIR_LOC_EXIT};
    static constexpr std::uint32_t kMirrorPositions[] = {MIR_POS_FRONT, MIR_POS_SIDE};
    auto pick = [&](const auto& list) {
        if (index >= std::size(list)) return false;
        *value = list[index];
        return true;
    };
    switch (param) {
        case SPECT_PARAM_SPECTROMETER:
            return pick(kModels);
        case SPECT_PARAM_GROOVES:
            return pick(kGrooves);
        case SPECT_PARAM_SLIT_LOCATION:
            return pick(kSlits);
        case SPECT_PARAM_MIRROR_LOCATION:
            return pick(kMirrorLocations);
        case SPECT_PARAM_MIRROR_POSITION:
            return pick(kMirrorPositions);
        default:
            return false;
    }
}

bool FallbackULong(std::uint32_t param, std::uint32_t* value, std::int16_t index) {
    switch (param) {
        case SPECT_PARAM_MANUFACTURER:
            *value = (index == TRIAX_180 || index == TRIAX_190 || index == TRIAX_320)
                         ? MNFCTR_ID_ISA
                         : MNFCTR_ID_SPEX;
            return true;
        case SPECT_PARAM_CONSTANT_187:
            *value = 2;
            return true;
        case SPECT_PARAM_DRIVER_VERSION:
        case SPECT_PARAM_DRIVER_VERSION_2: {
            char work[20];
            if (LoadResourceString(param == SPECT_PARAM_DRIVER_VERSION ? 48 : 49, work,
                                   sizeof work) == 0)
                return false;
            return VersionNumber(work, value);
        }
        default:
            return false;
    }
}

}  // namespace
}  // namespace monodrv

using namespace monodrv;

MONODRV_EXPORT SPECT_HANDLE MONODRV_CALL SPECT_CreateSpectrograph(int16_t model) {
    try {
        return new (std::nothrow) MonodrvSpectrograph(model);
    } catch (...) {
        return nullptr;
    }
}

MONODRV_EXPORT unsigned char MONODRV_CALL SPECT_DestroySpectrograph(SPECT_HANDLE handle) {
    if (!handle) return 0;
    delete Object(handle);
    return 1;
}

MONODRV_EXPORT unsigned char MONODRV_CALL SPECT_IsAvail(SPECT_HANDLE handle, uint32_t param,
                                                        SpectAvailInfo* info) {
    if (!info) return 0;
    return Guard([&] {
        std::memset(info, 0, sizeof *info);
        if (handle && Object(handle)->IsAvail(param, info)) return true;
        std::memset(info, 0, sizeof *info);
        return FallbackAvail(param, info);
    });
}

MONODRV_EXPORT unsigned char MONODRV_CALL SPECT_SetULongParam(SPECT_HANDLE handle, uint32_t param,
                                                              uint32_t value, int16_t index) {
    return Guard([&] {
        return (handle && Object(handle)->SetULongParam(param, value, index)) || param == 0;
    });
}

MONODRV_EXPORT unsigned char MONODRV_CALL SPECT_GetULongParam(SPECT_HANDLE handle, uint32_t param,
                                                              uint32_t* value, int16_t index) {
    if (!value) return 0;
    return Guard([&] {
        return (handle && Object(handle)->GetULongParam(param, value, index)) ||
               FallbackULong(param, value, index);
    });
}

MONODRV_EXPORT unsigned char MONODRV_CALL SPECT_SetDblParam(SPECT_HANDLE handle, uint32_t param,
                                                            double value, int16_t index) {
    return Guard(
        [&] { return (handle && Object(handle)->SetDblParam(param, value, index)) || param == 0; });
}

MONODRV_EXPORT unsigned char MONODRV_CALL SPECT_GetDblParam(SPECT_HANDLE handle, uint32_t param,
                                                            double* value, int16_t index) {
    if (!value) return 0;
    return Guard(
        [&] { return (handle && Object(handle)->GetDblParam(param, value, index)) || param == 0; });
}

MONODRV_EXPORT unsigned char MONODRV_CALL SPECT_SetStrParam(SPECT_HANDLE handle, uint32_t param,
                                                            const char* text, int16_t index) {
    return Guard(
        [&] { return (handle && Object(handle)->SetStrParam(param, text, index)) || param == 0; });
}

MONODRV_EXPORT unsigned char MONODRV_CALL SPECT_GetStrParam(SPECT_HANDLE handle, uint32_t param,
                                                            char* buffer, int16_t size,
                                                            int16_t index) {
    if (!buffer || size <= 0) return 0;
    return Guard([&] {
        if (handle && Object(handle)->GetStrParam(param, buffer, size, index)) return true;
        if (param == SPECT_PARAM_DRIVER_VERSION || param == SPECT_PARAM_DRIVER_VERSION_2)
            return LoadResourceString(param == SPECT_PARAM_DRIVER_VERSION ? 48 : 49, buffer, size) >
                   0;
        return false;
    });
}

MONODRV_EXPORT unsigned char MONODRV_CALL SPECT_GetEnumParam(SPECT_HANDLE handle, uint32_t param,
                                                             uint32_t index, uint32_t* value) {
    if (!value) return 0;
    return Guard([&] {
        return (handle && Object(handle)->GetEnumParam(param, index, value)) ||
               FallbackEnum(param, index, value);
    });
}

MONODRV_EXPORT unsigned char MONODRV_CALL SPECT_GetEnumString(SPECT_HANDLE handle, uint32_t param,
                                                              uint32_t value, char* buffer,
                                                              int16_t size) {
    if (!buffer || size <= 0) return 0;
    return Guard([&] {
        return (handle && Object(handle)->GetEnumString(param, value, buffer, size)) ||
               EnumerationText(param, value, buffer, size);
    });
}

MONODRV_EXPORT unsigned char MONODRV_CALL SPECT_Process(SPECT_HANDLE handle, uint32_t operation) {
    if (!handle) return 0;
    return Guard([&] { return Object(handle)->Process(operation); });
}

MONODRV_EXPORT unsigned char MONODRV_CALL SPECT_GetResource(uint32_t id, char* buffer,
                                                            int32_t size) {
    if (!buffer || size <= 0) return 0;
    return Guard(
        [&] { return LoadResourceString(id, buffer, size > 0x7FFFFFFF ? 0x7FFFFFFF : size) > 0; });
}
