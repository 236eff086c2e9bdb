// The driver through its real ABI: libmonodrv.so loaded with dlopen, exports called as a host
// calls them.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cfloat>
#include <cstring>
#include <string>

#include "monodrv.h"

// The enumerations the type library publishes name the header's values (a compile-time check
// on Linux of the table otherwise read back only under Wine; the Python tests compare the
// whole lists).
#define MONODRV_ENUM(name)
#define MONODRV_CONST(name, value, help) static_assert((name) == (value), #name);
#include "../../../monodrv/registration/enumerations.inc"
#undef MONODRV_ENUM
#undef MONODRV_CONST

namespace {

// The thirteen exports, looked up by name in the loaded library.
struct Driver {
    void* lib = nullptr;
    decltype(&SPECT_CreateSpectrograph) Create;
    decltype(&SPECT_DestroySpectrograph) Destroy;
    decltype(&SPECT_IsAvail) IsAvail;
    decltype(&SPECT_SetULongParam) SetULong;
    decltype(&SPECT_GetULongParam) GetULong;
    decltype(&SPECT_SetDblParam) SetDbl;
    decltype(&SPECT_GetDblParam) GetDbl;
    decltype(&SPECT_SetStrParam) SetStr;
    decltype(&SPECT_GetStrParam) GetStr;
    decltype(&SPECT_GetEnumParam) GetEnum;
    decltype(&SPECT_GetEnumString) GetEnumString;
    decltype(&SPECT_Process) Process;
    decltype(&SPECT_GetResource) GetResource;

    Driver() {
        lib = dlopen(MONODRV_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (!lib) throw std::runtime_error(dlerror());
        Bind(Create, "SPECT_CreateSpectrograph");
        Bind(Destroy, "SPECT_DestroySpectrograph");
        Bind(IsAvail, "SPECT_IsAvail");
        Bind(SetULong, "SPECT_SetULongParam");
        Bind(GetULong, "SPECT_GetULongParam");
        Bind(SetDbl, "SPECT_SetDblParam");
        Bind(GetDbl, "SPECT_GetDblParam");
        Bind(SetStr, "SPECT_SetStrParam");
        Bind(GetStr, "SPECT_GetStrParam");
        Bind(GetEnum, "SPECT_GetEnumParam");
        Bind(GetEnumString, "SPECT_GetEnumString");
        Bind(Process, "SPECT_Process");
        Bind(GetResource, "SPECT_GetResource");
    }
    ~Driver() { dlclose(lib); }
    template <class F>
    void Bind(F& f, const char* name) {
        f = reinterpret_cast<F>(dlsym(lib, name));
        if (!f) throw std::runtime_error(name);
    }
};

Driver& Lib() {
    static Driver driver;
    return driver;
}

// An instance freed at the end of the test.
struct Instance {
    SPECT_HANDLE h;
    explicit Instance(int16_t model) : h(Lib().Create(model)) {}
    ~Instance() { Lib().Destroy(h); }
};

std::string Bytes(const SpectAvailInfo& info) {
    return std::string(reinterpret_cast<const char*>(&info), sizeof info);
}

TEST(Exports, CreateDestroyAndNullHandles) {
    EXPECT_EQ(Lib().Destroy(nullptr), 0);
    SPECT_HANDLE h = Lib().Create(TRIAX_320);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(Lib().Destroy(h), 1);
    EXPECT_EQ(Lib().Process(nullptr, SPECT_OP_NO_ACTION), 0);
    uint32_t u = 0;
    EXPECT_EQ(Lib().GetULong(nullptr, SPECT_PARAM_MODEL, &u, 0), 0);
    EXPECT_EQ(Lib().GetULong(nullptr, SPECT_PARAM_MODEL, nullptr, 0), 0);
}

TEST(Exports, FallbackAnswersWithNullAndLiveHandles) {
    Instance live(SPEX_270M);
    for (SPECT_HANDLE h : {static_cast<SPECT_HANDLE>(nullptr), live.h}) {
        uint32_t u = 99;
        const struct {
            uint32_t param;
            int16_t index;
            unsigned char ok;
            uint32_t value;
        } ulongs[] = {{SPECT_PARAM_MANUFACTURER, 0, 1, 0},
                      {SPECT_PARAM_MANUFACTURER, 1, 1, 1},
                      {SPECT_PARAM_MANUFACTURER, 2, 1, 1},
                      {SPECT_PARAM_MANUFACTURER, 3, 1, 1},
                      {SPECT_PARAM_MANUFACTURER, 4, 1, 0},
                      {SPECT_PARAM_MANUFACTURER, 9, 1, 0},
                      {SPECT_PARAM_CONSTANT_187, 0, 1, 2},
                      {SPECT_PARAM_DRIVER_VERSION, 0, 1, 2050801},
                      {SPECT_PARAM_DRIVER_VERSION_2, 0, 1, 2050801}};
        for (const auto& c : ulongs) {
            EXPECT_EQ(Lib().GetULong(h, c.param, &u, c.index), c.ok) << c.param;
            EXPECT_EQ(u, c.value) << c.param << "/" << c.index;
        }
        u = 99;
        EXPECT_EQ(Lib().GetULong(h, 9999, &u, 0), 0);
        EXPECT_EQ(u, 99u);  // outputs untouched
        EXPECT_EQ(Lib().SetDbl(h, 0, 1.5, 0), 1);
        EXPECT_EQ(Lib().SetDbl(h, SPECT_PARAM_SPECTROMETER, 1.5, 0), 0);
        EXPECT_EQ(Lib().SetULong(h, 0, 1, 0), 1);
        EXPECT_EQ(Lib().SetStr(h, 0, "x", 0), 1);
        EXPECT_EQ(Lib().SetStr(h, SPECT_PARAM_PORT_NAME, "x", 0), 0);
        double d = 0;
        EXPECT_EQ(Lib().GetDbl(h, 0, &d, 0), 1);
        char text[20];
        EXPECT_EQ(Lib().GetStr(h, SPECT_PARAM_DRIVER_VERSION, text, 20, 0), 1);
        EXPECT_STREQ(text, "2.5.8.1");
    }
}

TEST(Exports, AvailabilityRecordsByteForByte) {
    Instance live(TRIAX_320);
    const struct {
        SPECT_HANDLE h;
        uint32_t param;
        unsigned char ok;
        int32_t count, kind;
        double v1, v2;
    } cases[] = {
        {nullptr, 1, 1, 5, 9, 0, 0},           {nullptr, 112, 1, 9, 9, 1.0, 0},
        {nullptr, 159, 1, 4, 9, 0, 0},         {nullptr, 163, 1, 2, 9, 0, 0},
        {nullptr, 164, 1, 2, 9, 0, 0},         {nullptr, 2, 0, 0, 0, 0, 0},
        {live.h, 43, 1, 1, 1, 3, 3},           {live.h, 48, 1, 1, 4, 16.7, 16.7},
        {live.h, 66, 1, 1, 4, 157.48, 157.48}, {live.h, 62, 1, 1, 1, 1, 1},
        {live.h, 207, 1, 1, 1, 0, 0},          {live.h, 26, 1, 1, 11, 0, 0},
        {live.h, 167, 1, 0, 9, 0, 0},          {live.h, 1, 1, 5, 9, 0, 0},
        {live.h, 44, 0, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SpectAvailInfo info;
        std::memset(&info, 0xAB, sizeof info);
        EXPECT_EQ(Lib().IsAvail(c.h, c.param, &info), c.ok) << c.param;
        SpectAvailInfo expected{};
        expected.count = c.count;
        expected.kind = c.kind;
        expected.value1 = c.v1;
        expected.value2 = c.v2;
        EXPECT_EQ(Bytes(info), Bytes(expected)) << c.param;
    }
    EXPECT_EQ(Lib().IsAvail(live.h, SPECT_PARAM_SPECTROMETER, nullptr), 0);
}

TEST(Exports, EnumerationListsAndTexts) {
    Instance live(TRIAX_180);
    uint32_t v = 0;
    const struct {
        uint32_t param, index;
        unsigned char ok;
        uint32_t value;
    } lists[] = {{SPECT_PARAM_GROOVES, 8, 1, 3600},      {SPECT_PARAM_GROOVES, 9, 0, 3600},
                 {SPECT_PARAM_MIRROR_LOCATION, 0, 1, 1}, {SPECT_PARAM_SPECTROMETER, 4, 1, 4},
                 {SPECT_PARAM_SLIT_LOCATION, 3, 1, 3},   {SPECT_PARAM_MIRROR_POSITION, 1, 1, 2},
                 {SPECT_PARAM_MANUFACTURER, 0, 0, 2},    {SPECT_PARAM_SPECTROMETER, 5, 0, 2}};
    for (const auto& c : lists) {
        EXPECT_EQ(Lib().GetEnum(live.h, c.param, c.index, &v), c.ok) << c.param;
        if (c.ok) {
            EXPECT_EQ(v, c.value);
        }
    }
    const struct {
        uint32_t param, value;
        const char* text;  // null: fails
    } texts[] = {
        {SPECT_PARAM_SPECTROMETER, 3, "TRIAX 320"},
        {SPECT_PARAM_SPECTROMETER, 0, "270M"},
        {SPECT_PARAM_SPECTROMETER, 4, "Spex232 Retrofit"},
        {SPECT_PARAM_GROOVES, 1200, "1200"},
        {SPECT_PARAM_MIRROR_LOCATION, 0, nullptr},
        {SPECT_PARAM_MIRROR_LOCATION, 2, "Exit"},
        {SPECT_PARAM_MIRROR_POSITION, 1, "Front (Axial)"},
        {SPECT_PARAM_MANUFACTURER, 2, "JY"},
        {SPECT_PARAM_SLIT_LOCATION, 3, "Side (Lateral) Exit"},
        {SPECT_PARAM_MODEL, 0, nullptr},
        {SPECT_PARAM_SPECTROMETER, 5, nullptr},
    };
    for (const auto& c : texts) {
        char buffer[30] = {};
        for (SPECT_HANDLE h : {static_cast<SPECT_HANDLE>(nullptr), live.h}) {
            unsigned char ok = Lib().GetEnumString(h, c.param, c.value, buffer, 30);
            EXPECT_EQ(ok, c.text ? 1 : 0) << c.param << "/" << c.value;
            if (c.text) {
                EXPECT_STREQ(buffer, c.text);
            }
        }
    }
    // Parameter 112 is a bounded copy: a text filling the buffer is not terminated.
    char small[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(Lib().GetEnumString(live.h, SPECT_PARAM_GROOVES, 1200, small, 4), 1);
    EXPECT_EQ(std::string(small, 4), "1200");
    EXPECT_EQ(Lib().GetEnumString(live.h, SPECT_PARAM_GROOVES, 1200, small, 0), 0);
}

TEST(Exports, PerModelDefaults) {
    const struct {
        int16_t model;
        uint32_t decimals, limit, gratings;
        double c106, speeds[3], steps;
        bool grating_known;
    } cases[] = {
        {SPEX_270M, 4, 320, 2, 267.84, {2560, 2560, 1000}, 32.0, false},
        {TRIAX_180, 3, 400, 3, 190.0, {1000, 4000, 250}, 16.7, true},
        {TRIAX_190, 3, 400, 3, 190.0, {1000, 4000, 250}, 16.7, true},
        {TRIAX_320, 3, 400, 3, 320.0, {1000, 4000, 250}, 16.7, true},
        {SPEX232_RETRO, 4, 320, 2, 267.84, {2560, 2560, 1000}, 32.0, false},
        {7, 4, 320, 2, 267.84, {2560, 2560, 1000}, 32.0, false},
    };
    for (const auto& c : cases) {
        Instance i(c.model);
        uint32_t u = 0;
        double d = 0;
        ASSERT_EQ(Lib().GetULong(i.h, SPECT_PARAM_MODEL, &u, 0), 1);
        EXPECT_EQ(u, static_cast<uint32_t>(c.model));
        Lib().GetULong(i.h, SPECT_PARAM_WAVELENGTH_DECIMALS, &u, 0);
        EXPECT_EQ(u, c.decimals);
        Lib().GetULong(i.h, SPECT_PARAM_WAVELENGTH_STEP_LIMIT, &u, 0);
        EXPECT_EQ(u, c.limit);
        Lib().GetULong(i.h, SPECT_PARAM_GRATINGS_PER_SET, &u, 0);
        EXPECT_EQ(u, c.gratings);
        Lib().GetDbl(i.h, SPECT_PARAM_MODEL_CONSTANT_1, &d, 0);
        EXPECT_EQ(d, c.c106);
        Lib().GetDbl(i.h, SPECT_PARAM_DEFAULT_STEPS_PER_NM, &d, 0);
        EXPECT_EQ(d, c.steps);
        for (int16_t k = 0; k < 3; ++k) {
            ASSERT_EQ(Lib().GetDbl(i.h, SPECT_PARAM_SPEEDS, &d, k), 1);
            EXPECT_EQ(d, c.speeds[k]);
        }
        EXPECT_EQ(Lib().GetDbl(i.h, SPECT_PARAM_SPEEDS, &d, 3), 0);
        EXPECT_EQ(Lib().GetULong(i.h, SPECT_PARAM_CURRENT_GRATING, &u, 0), c.grating_known ? 1 : 0);
        Lib().GetDbl(i.h, SPECT_PARAM_WAVELENGTH, &d, 0);
        EXPECT_EQ(d, -DBL_MAX);
        Lib().GetULong(i.h, SPECT_PARAM_SLIT_COUNT, &u, 0);
        EXPECT_EQ(u, 4u);
    }
}

TEST(Exports, StorageWidthsAndSignExtension) {
    Instance i(TRIAX_320);
    uint32_t u = 0;
    const struct {
        uint32_t param, set, read;
    } cases[] = {
        {SPECT_PARAM_SPEED_COUNT, 70000, 4464},
        {SPECT_PARAM_SIMULATION, 255, 0xFFFFFFFFu},
        {SPECT_PARAM_SIMULATION_ALIAS, 1, 1},
        {SPECT_PARAM_FLAG_82, 0, 0},
        {SPECT_PARAM_GRATING_SET, 0x18000, 0xFFFF8000u},
        {SPECT_PARAM_PORT_HANDLE, 0xDEADBEEF, 0xDEADBEEF},
        {SPECT_PARAM_ERROR_CODE, 11, 11},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(Lib().SetULong(i.h, c.param, c.set, 0), 1) << c.param;
        ASSERT_EQ(Lib().GetULong(i.h, c.param, &u, 0), 1);
        EXPECT_EQ(u, c.read) << c.param;
    }
    Lib().GetULong(i.h, SPECT_PARAM_SIMULATION, &u, 0);
    EXPECT_EQ(u, 1u);  // 147 and 148 share the flag
    Lib().GetULong(i.h, SPECT_PARAM_FLAG_83, &u, 0);
    EXPECT_EQ(u, 0u);
    EXPECT_EQ(Lib().SetULong(i.h, SPECT_PARAM_WAVELENGTH_DECIMALS, 5, 0), 0);  // read-only
    EXPECT_EQ(Lib().SetULong(i.h, SPECT_PARAM_CONSTANT_192, 5, 0), 0);
    Lib().GetULong(i.h, SPECT_PARAM_CONSTANT_208, &u, 0);
    EXPECT_EQ(u, 150000u);
}

TEST(Exports, IndexedTablesAndGratingSets) {
    Instance i(TRIAX_320);
    uint32_t u = 0;
    double d = 0;
    EXPECT_EQ(Lib().GetULong(i.h, SPECT_PARAM_GRATING_VALUE, &u, 2), 1);
    EXPECT_EQ(Lib().GetULong(i.h, SPECT_PARAM_GRATING_VALUE, &u, 3), 0);
    EXPECT_EQ(Lib().SetDbl(i.h, SPECT_PARAM_GROOVE_DENSITY, 600.0, 1), 1);
    EXPECT_EQ(Lib().GetDbl(i.h, SPECT_PARAM_GROOVE_DENSITY_READ, &d, 1), 1);
    EXPECT_EQ(d, 600.0);
    EXPECT_EQ(Lib().GetDbl(i.h, SPECT_PARAM_GROOVE_DENSITY, &d, 1), 0);  // 33 is set-only
    Lib().SetULong(i.h, SPECT_PARAM_GRATING_SET, 9,
                   0);  // a set beyond the table: grating calls fail
    EXPECT_EQ(Lib().GetDbl(i.h, SPECT_PARAM_GROOVE_DENSITY_READ, &d, 1), 0);
    EXPECT_EQ(Lib().SetDbl(i.h, SPECT_PARAM_STEPS_PER_NM, 1.0, 0), 0);
    EXPECT_EQ(Lib().GetULong(i.h, SPECT_PARAM_GRATING_VALUE, &u, 0), 0);
    Lib().SetULong(i.h, SPECT_PARAM_GRATING_SET, 0xFFFF, 0);
    EXPECT_EQ(Lib().GetDbl(i.h, SPECT_PARAM_GROOVE_DENSITY_READ, &d, 0), 0);
    Lib().SetULong(i.h, SPECT_PARAM_GRATING_SET, 8, 0);
    EXPECT_EQ(Lib().GetDbl(i.h, SPECT_PARAM_GROOVE_DENSITY_READ, &d, 0), 1);
    EXPECT_EQ(Lib().GetULong(i.h, SPECT_PARAM_SLIT_LOCATION, &u, 3), 1);
    EXPECT_EQ(static_cast<int32_t>(u), -1);
    EXPECT_EQ(Lib().GetULong(i.h, SPECT_PARAM_SLIT_LOCATION, &u, 4), 0);
    EXPECT_EQ(Lib().GetULong(i.h, SPECT_PARAM_MIRROR_LOCATION, &u, 1), 1);
    EXPECT_EQ(Lib().GetULong(i.h, SPECT_PARAM_MIRROR_POSITION, &u, 2), 0);
    EXPECT_EQ(Lib().GetDbl(i.h, SPECT_PARAM_SLIT_WIDTH, &d, -1), 0);
    EXPECT_EQ(Lib().GetDbl(i.h, SPECT_PARAM_SLIT_SPEEDS, &d, 0), 1);
    EXPECT_EQ(d, 10000.0);
    EXPECT_EQ(Lib().GetDbl(i.h, SPECT_PARAM_SPEED_UPPER, &d, 2), 1);
    EXPECT_EQ(d, 65535.0);
}

TEST(Exports, TextOutputsRespectSizes) {
    Instance i(TRIAX_320);
    char buffer[64];
    const struct {
        uint32_t param;
        int16_t index;
        const char* text;  // null: fails
    } cases[] = {
        {113, 0, "Grating 1"}, {113, 2, "Grating 3"}, {128, 0, "mm"},       {130, 0, "COM2"},
        {130, 2, "M2"},        {130, 60, ""},         {130, -1, nullptr},   {156, 0, ""},
        {157, 49, ""},         {153, 0, ""},          {153, 3, nullptr},    {198, 2, "ms"},
        {199, 2, "Ramp Time"}, {200, 0, "Steps/sec"}, {200, 1, nullptr},    {201, 0, "Freq."},
        {201, 2, nullptr},     {204, 0, "Steps/nm"},  {205, 0, "Steps/mm"}, {206, 0, nullptr},
    };
    for (const auto& c : cases) {
        std::memset(buffer, 'x', sizeof buffer);
        EXPECT_EQ(Lib().GetStr(i.h, c.param, buffer, 64, c.index), c.text ? 1 : 0) << c.param;
        if (c.text) {
            EXPECT_STREQ(buffer, c.text) << c.param;
        }
    }
    // Small buffers: nothing is written past `size`.
    char small[6];
    std::memset(small, 'x', sizeof small);
    EXPECT_EQ(Lib().GetStr(i.h, SPECT_PARAM_GRATING_LABEL, small, 4, 0), 1);
    EXPECT_EQ(std::string(small, 6), "Gratxx");
    std::memset(small, 'x', sizeof small);
    EXPECT_EQ(Lib().GetStr(i.h, SPECT_PARAM_PORT_NAME, small, 4, 0), 1);
    EXPECT_EQ(std::string(small, 6), "COM2xx");  // fills the buffer: not terminated
    std::memset(small, 'x', sizeof small);
    EXPECT_EQ(Lib().GetStr(i.h, SPECT_PARAM_SPEED_NAMES, small, 4, 0), 1);
    EXPECT_EQ(std::string(small, 6), std::string("Min\0xx", 6));
    EXPECT_EQ(Lib().GetStr(i.h, SPECT_PARAM_GRATING_LABEL, small, 0, 0), 0);
    EXPECT_EQ(Lib().GetStr(i.h, SPECT_PARAM_GRATING_LABEL, small, -5, 0), 0);
    EXPECT_EQ(Lib().GetStr(i.h, SPECT_PARAM_GRATING_LABEL, nullptr, 10, 0), 0);
    EXPECT_EQ(Lib().SetStr(i.h, SPECT_PARAM_PORT_NAME, nullptr, 0), 0);
}

TEST(Exports, StringResources) {
    char buffer[20];
    const std::pair<uint32_t, const char*> cases[] = {
        {136, "Steps/nm"}, {48, "2.5.8.1"}, {139, "TRIAX 320"}, {119, "Side (Lateral) Exit"},
        {130, nullptr},    {131, nullptr},  {133, nullptr},     {134, nullptr},
        {0, nullptr}};
    for (const auto& [id, text] : cases) {
        EXPECT_EQ(Lib().GetResource(id, buffer, 20), text ? 1 : 0) << id;
        if (text) {
            EXPECT_STREQ(buffer, text);
        }
    }
    char tiny[5];
    EXPECT_EQ(Lib().GetResource(119, tiny, 5), 1);
    EXPECT_STREQ(tiny, "Side");
    EXPECT_EQ(Lib().GetResource(119, tiny, 1), 0);
    EXPECT_EQ(Lib().GetResource(119, nullptr, 5), 0);
}

TEST(Exports, ProcessOperationTable) {
    Instance i(TRIAX_320);
    uint32_t u = 0;
    EXPECT_EQ(Lib().Process(i.h, 6), 0);  // unknown operation
    Lib().GetULong(i.h, SPECT_PARAM_ERROR_CODE, &u, 0);
    EXPECT_EQ(u, 0u);
    EXPECT_EQ(Lib().Process(i.h, SPECT_OP_NO_ACTION), 1);
    Lib().GetULong(i.h, SPECT_PARAM_ERROR_CODE, &u, 0);
    EXPECT_EQ(u, 0u);
    const std::pair<double, double> rounding[] = {
        {500.12345, 500.123}, {500.1235, 500.124}, {-1.0006, -1.001}, {0.0, 0.0}};
    for (const auto& [in, out] : rounding) {
        Lib().SetDbl(i.h, SPECT_PARAM_ROUND_VALUE, in, 0);
        EXPECT_EQ(Lib().Process(i.h, SPECT_OP_ROUND_VALUE), 1);
        double d = 0;
        Lib().GetDbl(i.h, SPECT_PARAM_ROUND_VALUE, &d, 0);
        EXPECT_DOUBLE_EQ(d, out) << in;
    }
}

}  // namespace

namespace {

// The component entry points on Linux: no class objects, always unloadable.
TEST(Exports, ComponentEntryPoints) {
    using GetClassObjectFn = int32_t (*)(const void*, const void*, void**);
    using CanUnloadFn = int32_t (*)();
    auto get_class = reinterpret_cast<GetClassObjectFn>(dlsym(Lib().lib, "DllGetClassObject"));
    auto can_unload = reinterpret_cast<CanUnloadFn>(dlsym(Lib().lib, "DllCanUnloadNow"));
    ASSERT_NE(get_class, nullptr);
    ASSERT_NE(can_unload, nullptr);
    EXPECT_EQ(dlsym(Lib().lib, "DllRegisterServer"), nullptr);
    const unsigned char any_class[16] = {1, 2, 3};
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(static_cast<uint32_t>(get_class(any_class, any_class, &object)), 0x80040111u);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(static_cast<uint32_t>(get_class(any_class, any_class, nullptr)), 0x80004003u);
    EXPECT_EQ(can_unload(), 0);
}

}  // namespace
