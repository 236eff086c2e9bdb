#include "monodrv/api/catalogue.h"

#include <cfloat>
#include <cstring>

namespace monodrv {
namespace {

using W = Width;
using S = IntSlot;
constexpr std::int32_t M = 0;  // model-dependent: set by ApplyModel

constexpr IntParam kIntParams[] = {
    {2, kGet, W::kWord, S::kSpecial, 0},           {11, kGet, W::kByte, S::kScalar, 1},
    {12, kGet, W::kWord, S::kScalar, 1},           {41, kGet, W::kByte, S::kScalar, 0},
    {42, kGet, W::kByte, S::kScalar, 1},           {43, kSetGet, W::kWord, S::kScalar, 3},
    {61, kGet, W::kByte, S::kScalar, 0},           {62, kSetGet, W::kWord, S::kScalar, 1},
    {76, kGet, W::kByte, S::kScalar, 0},           {77, kGet, W::kByte, S::kScalar, 0},
    {78, kGet, W::kByte, S::kScalar, 0},           {79, kGet, W::kByte, S::kScalar, M},
    {80, kGet, W::kWord, S::kScalar, 0},           {82, kSetGet, W::kByte, S::kScalar, 1},
    {83, kSetGet, W::kByte, S::kScalar, 0},        {84, kGet, W::kByte, S::kScalar, 1},
    {85, kGet, W::kByte, S::kScalar, 1},           {86, kGet, W::kWord, S::kScalar, M},
    {105, kGet, W::kWord, S::kScalar, M},          {111, kGet, W::kWord, S::kScalar, M},
    {118, kGet, W::kByte, S::kScalar, 1},          {119, kGet, W::kLong, S::kScalar, M},
    {124, kGet, W::kByte, S::kScalar, 1},          {125, kGet, W::kLong, S::kScalar, M},
    {129, kGet, W::kLong, S::kScalar, 2},          {131, kGet, W::kWord, S::kScalar, 6},
    {132, kSetGet, W::kByte, S::kScalar, 0},       {145, kGet, W::kByte, S::kGratingValue, 0},
    {146, kSetGet, W::kLong, S::kScalar, 0},       {147, kSetGet, W::kByte, S::kScalar, 0, 148},
    {148, kSetGet, W::kByte, S::kScalar, 0},       {149, kGet, W::kWord, S::kScalar, 1},
    {150, kGet, W::kWord, S::kScalar, 1},          {152, kGet, W::kWord, S::kSpecial, 0},
    {155, kGet, W::kLong, S::kTruncatedDouble, 0}, {158, kGet, W::kWord, S::kScalar, M},
    {159, kGet, W::kWord, S::kSlitLocation, 0},    {162, kGet, W::kWord, S::kScalar, M},
    {163, kGet, W::kWord, S::kMirrorLocation, 0},  {164, kGet, W::kWord, S::kMirrorPosition, 0},
    {165, kSetGet, W::kWord, S::kScalar, 0},       {166, kSetGet, W::kWord, S::kScalar, 0},
    {167, kSetGet, W::kWord, S::kScalar, 0},       {169, kSetGet, W::kWord, S::kScalar, 0},
    {170, kSetGet, W::kWord, S::kScalar, 0},       {172, kGet, W::kLong, S::kScalar, 0},
    {173, kSetGet, W::kLong, S::kScalar, 0},       {174, kSetGet, W::kWord, S::kScalar, 0},
    {177, kGet, W::kLong, S::kScalar, 0},          {192, kGet, W::kLong, S::kConstant, 3},
    {193, kGet, W::kLong, S::kConstant, 9},        {194, kGet, W::kLong, S::kConstant, 2},
    {195, kGet, W::kLong, S::kConstant, 4},        {208, kGet, W::kLong, S::kConstant, 150000},
    {210, kSetGet, W::kWord, S::kScalar, 0},
};

using D = DblSlot;

const DblParam kDblParams[] = {
    {33, kSet, D::kGratingGrooves},
    {44, kSetGet, D::kSpeed, 0},
    {45, kSetGet, D::kSpeed, 1},
    {46, kSetGet, D::kSpeed, 2},
    {48, kSetGet, D::kGratingSteps},
    {63, kSetGet, D::kSlitSpeed, 0},
    {64, kSetGet, D::kSlitSpeed, 1},
    {65, kSetGet, D::kSlitSpeed, 2},
    {66, kSetGet, D::kScalar, 0, 0.0},
    {106, kGet, D::kScalar},
    {107, kGet, D::kScalar},
    {108, kGet, D::kScalar},
    {109, kGet, D::kScalar, 0, 1.0},
    {112, kGet, D::kScalar, 0, 1200.0},
    {114, kGet, D::kScalar},
    {115, kGet, D::kScalar, 0, 80000.0},
    {116, kGet, D::kScalar, 0, 80000.0},
    {117, kGet, D::kScalar, 0, 100.0},
    {120, kGet, D::kScalar},
    {121, kGet, D::kScalar, 0, 10000.0},
    {122, kGet, D::kScalar, 0, 10000.0},
    {123, kGet, D::kScalar, 0, 0.0},
    {126, kGet, D::kScalar, 0, 10.0},
    {127, kGet, D::kScalar, 0, 3000.0},
    {144, kSetGet, D::kScalar, 0, 0.0},
    {151, kGet, D::kGratingGrooves},
    {154, kGet, D::kScalar, 0, -DBL_MAX},  // the most negative double: not yet read
    {160, kGet, D::kSlitWidth},
    {161, kGet, D::kScalar, 0, 0.0},
    {168, kSetGet, D::kScalar, 0, 0.0},
    {171, kSetGet, D::kScalar, 0, 0.0},
    {176, kSetGet, D::kScalar, 0, 0.0},
};

// What differs from model to model; the members with a value are every model's.
struct ModelValues {
    std::int16_t gratings_per_set;
    double c106, c107, c108;
    std::int16_t decimals;
    std::int16_t reference_grooves = 1200;
    double steps_per_nm;
    std::int32_t wavelength_limit;
    double slit_steps_per_mm = 157.48;
    std::int32_t slit_limit = 8;
    int slit_decimals = 2;
    std::int8_t p79 = 0;
    std::int16_t slits = 4, mirrors = 2;
    double speeds[3];
    bool wavelength_command, grating_command;
    std::int8_t grating_known;
};

// 270M, Spex232 and any unknown model.
constexpr ModelValues kStepModel = {
    .gratings_per_set = 2,
    .c106 = 267.84,
    .c107 = 18.0,
    .c108 = 11.0,
    .decimals = 4,
    .steps_per_nm = 32.0,
    .wavelength_limit = 320,
    .speeds = {2560, 2560, 1000},
    .wavelength_command = false,
    .grating_command = false,
    .grating_known = 0,
};

// TRIAX 180 and 190.
constexpr ModelValues kTriax180 = {
    .gratings_per_set = 3,
    .c106 = 190.0,
    .c107 = 30.0,
    .c108 = -10.0,
    .decimals = 3,
    .steps_per_nm = 16.7,
    .wavelength_limit = 400,
    .speeds = {1000, 4000, 250},
    .wavelength_command = true,
    .grating_command = true,
    .grating_known = 1,
};

// TRIAX 320: a TRIAX 180 but for parameters 106-108 (its optics).
constexpr ModelValues kTriax320 = [] {
    ModelValues m = kTriax180;
    m.c106 = 320.0;
    m.c107 = 21.26;
    m.c108 = 12.5;
    return m;
}();

}  // namespace

const IntParam* FindIntParam(std::uint32_t number) {
    for (const auto& p : kIntParams)
        if (p.number == number) return &p;
    return nullptr;
}

const DblParam* FindDblParam(std::uint32_t number) {
    for (const auto& p : kDblParams)
        if (p.number == number) return &p;
    return nullptr;
}

std::int32_t StoreWidth(std::uint32_t value, Width width) {
    switch (width) {
        case Width::kByte:
            return static_cast<std::int8_t>(value & 0xFFu);
        case Width::kWord:
            return static_cast<std::int16_t>(value & 0xFFFFu);
        case Width::kLong:
            return static_cast<std::int32_t>(value);
    }
    return 0;
}

void ApplyDefaults(Storage& storage) {
    for (const auto& p : kIntParams)
        if (p.slot == IntSlot::kScalar && p.alias == 0) storage.ints[p.number] = p.default_value;
    storage.doubles[SPECT_PARAM_UNSET_155] = 0.0;
    for (const auto& p : kDblParams)
        if (p.slot == DblSlot::kScalar) storage.doubles[p.number] = p.default_value.value_or(0.0);
    const double lower[3] = {100, 100, 100}, upper[3] = {80000, 80000, 65535};
    const double slit[3] = {10000, 0, 0}, slit_lower[3] = {10, 0, 0}, slit_upper[3] = {10000, 0, 0};
    std::memcpy(storage.speeds[1], lower, sizeof lower);
    std::memcpy(storage.speeds[2], upper, sizeof upper);
    std::memcpy(storage.slit_speeds[0], slit, sizeof slit);
    std::memcpy(storage.slit_speeds[1], slit_lower, sizeof slit_lower);
    std::memcpy(storage.slit_speeds[2], slit_upper, sizeof slit_upper);
    std::strncpy(storage.port_name, "COM2", kNameLength);
}

void ApplyModel(Storage& storage, std::int16_t model) {
    const ModelValues& m = model == TRIAX_180 || model == TRIAX_190 ? kTriax180
                           : model == TRIAX_320                     ? kTriax320
                                                                    : kStepModel;
    storage.ints[SPECT_PARAM_GRATINGS_PER_SET] = m.gratings_per_set;
    storage.doubles[SPECT_PARAM_MODEL_CONSTANT_1] = m.c106;
    storage.doubles[SPECT_PARAM_MODEL_CONSTANT_2] = m.c107;
    storage.doubles[SPECT_PARAM_MODEL_CONSTANT_3] = m.c108;
    storage.ints[SPECT_PARAM_WAVELENGTH_DECIMALS] = m.decimals;
    storage.ints[SPECT_PARAM_REFERENCE_GROOVES] = m.reference_grooves;
    storage.doubles[SPECT_PARAM_DEFAULT_STEPS_PER_NM] = m.steps_per_nm;
    storage.ints[SPECT_PARAM_WAVELENGTH_STEP_LIMIT] = m.wavelength_limit;
    storage.doubles[SPECT_PARAM_DEFAULT_SLIT_STEPS_PER_MM] = m.slit_steps_per_mm;
    storage.ints[SPECT_PARAM_SLIT_STEP_LIMIT] = m.slit_limit;
    storage.slit_width_decimals = m.slit_decimals;
    storage.ints[SPECT_PARAM_REPORTED_79] = m.p79;
    storage.ints[SPECT_PARAM_SLIT_COUNT] = m.slits;
    storage.ints[SPECT_PARAM_MIRROR_COUNT] = m.mirrors;
    std::memcpy(storage.speeds[0], m.speeds, sizeof m.speeds);
    storage.wavelength_command = m.wavelength_command;
    storage.grating_command = m.grating_command;
    storage.grating_known = m.grating_known;
}

}  // namespace monodrv
