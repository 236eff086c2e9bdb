#include "monodrv/api/catalogue.h"

#include <cfloat>
#include <cstring>

namespace monodrv {
namespace {

using W = Width;
using S = IntSlot;
constexpr std::int32_t M = 0;  // model-dependent: set by ApplyModel

constexpr IntParam kIntParams[] = {
    {SPECT_PARAM_MODEL, kGet, W::kWord, S::kSpecial, 0},
    {SPECT_PARAM_REPORTED_11, kGet, W::kByte, S::kScalar, 1},
    {SPECT_PARAM_REPORTED_12, kGet, W::kWord, S::kScalar, 1},
    {SPECT_PARAM_REPORTED_41, kGet, W::kByte, S::kScalar, 0},
    {SPECT_PARAM_REPORTED_42, kGet, W::kByte, S::kScalar, 1},
    {SPECT_PARAM_SPEED_COUNT, kSetGet, W::kWord, S::kScalar, 3},
    {SPECT_PARAM_REPORTED_61, kGet, W::kByte, S::kScalar, 0},
    {SPECT_PARAM_SLIT_SPEED_COUNT, kSetGet, W::kWord, S::kScalar, 1},
    {SPECT_PARAM_REPORTED_76, kGet, W::kByte, S::kScalar, 0},
    {SPECT_PARAM_REPORTED_77, kGet, W::kByte, S::kScalar, 0},
    {SPECT_PARAM_REPORTED_78, kGet, W::kByte, S::kScalar, 0},
    {SPECT_PARAM_REPORTED_79, kGet, W::kByte, S::kScalar, M},
    {SPECT_PARAM_REPORTED_80, kGet, W::kWord, S::kScalar, 0},
    {SPECT_PARAM_FLAG_82, kSetGet, W::kByte, S::kScalar, 1},
    {SPECT_PARAM_FLAG_83, kSetGet, W::kByte, S::kScalar, 0},
    {SPECT_PARAM_REPORTED_84, kGet, W::kByte, S::kScalar, 1},
    {SPECT_PARAM_REPORTED_85, kGet, W::kByte, S::kScalar, 1},
    {SPECT_PARAM_WAVELENGTH_DECIMALS, kGet, W::kWord, S::kScalar, M},
    {SPECT_PARAM_GRATINGS_PER_SET, kGet, W::kWord, S::kScalar, M},
    {SPECT_PARAM_REFERENCE_GROOVES, kGet, W::kWord, S::kScalar, M},
    {SPECT_PARAM_REPORTED_118, kGet, W::kByte, S::kScalar, 1},
    {SPECT_PARAM_WAVELENGTH_STEP_LIMIT, kGet, W::kLong, S::kScalar, M},
    {SPECT_PARAM_REPORTED_124, kGet, W::kByte, S::kScalar, 1},
    {SPECT_PARAM_SLIT_STEP_LIMIT, kGet, W::kLong, S::kScalar, M},
    {SPECT_PARAM_REPORTED_129, kGet, W::kLong, S::kScalar, 2},
    {SPECT_PARAM_REPORTED_131, kGet, W::kWord, S::kScalar, 6},
    {SPECT_PARAM_REFRESHED, kSetGet, W::kByte, S::kScalar, 0},
    {SPECT_PARAM_GRATING_VALUE, kGet, W::kByte, S::kGratingValue, 0},
    {SPECT_PARAM_PORT_HANDLE, kSetGet, W::kLong, S::kScalar, 0},
    {SPECT_PARAM_SIMULATION_ALIAS, kSetGet, W::kByte, S::kScalar, 0, SPECT_PARAM_SIMULATION},
    {SPECT_PARAM_SIMULATION, kSetGet, W::kByte, S::kScalar, 0},
    {SPECT_PARAM_REPORTED_149, kGet, W::kWord, S::kScalar, 1},
    {SPECT_PARAM_NAMED_GRATING_SET, kGet, W::kWord, S::kScalar, 1},
    {SPECT_PARAM_CURRENT_GRATING, kGet, W::kWord, S::kSpecial, 0},
    {SPECT_PARAM_UNSET_155, kGet, W::kLong, S::kTruncatedDouble, 0},
    {SPECT_PARAM_SLIT_COUNT, kGet, W::kWord, S::kScalar, M},
    {SPECT_PARAM_SLIT_LOCATION, kGet, W::kWord, S::kSlitLocation, 0},
    {SPECT_PARAM_MIRROR_COUNT, kGet, W::kWord, S::kScalar, M},
    {SPECT_PARAM_MIRROR_LOCATION, kGet, W::kWord, S::kMirrorLocation, 0},
    {SPECT_PARAM_MIRROR_POSITION, kGet, W::kWord, S::kMirrorPosition, 0},
    {SPECT_PARAM_TARGET_MIRROR_LOCATION, kSetGet, W::kWord, S::kScalar, 0},
    {SPECT_PARAM_TARGET_MIRROR_POSITION, kSetGet, W::kWord, S::kScalar, 0},
    {SPECT_PARAM_ENUM_VALUE, kSetGet, W::kWord, S::kScalar, 0},
    {SPECT_PARAM_GRATING, kSetGet, W::kWord, S::kScalar, 0},
    {SPECT_PARAM_TARGET_SLIT_LOCATION, kSetGet, W::kWord, S::kScalar, 0},
    {SPECT_PARAM_BUSY_STATUS, kGet, W::kLong, S::kScalar, 0},
    {SPECT_PARAM_ERROR_CODE, kSetGet, W::kLong, S::kScalar, 0},
    {SPECT_PARAM_GRATING_SET, kSetGet, W::kWord, S::kScalar, 0},
    {SPECT_PARAM_UNSET_177, kGet, W::kLong, S::kScalar, 0},
    {SPECT_PARAM_CONSTANT_192, kGet, W::kLong, S::kConstant, 3},
    {SPECT_PARAM_CONSTANT_193, kGet, W::kLong, S::kConstant, 9},
    {SPECT_PARAM_CONSTANT_194, kGet, W::kLong, S::kConstant, 2},
    {SPECT_PARAM_CONSTANT_195, kGet, W::kLong, S::kConstant, 4},
    {SPECT_PARAM_CONSTANT_208, kGet, W::kLong, S::kConstant, 150000},
    {SPECT_PARAM_STORED_210, kSetGet, W::kWord, S::kScalar, 0},
};

using D = DblSlot;

const DblParam kDblParams[] = {
    {SPECT_PARAM_GROOVE_DENSITY, kSet, D::kGratingGrooves},
    {SPECT_PARAM_SPEEDS, kSetGet, D::kSpeed, 0},
    {SPECT_PARAM_SPEED_LOWER, kSetGet, D::kSpeed, 1},
    {SPECT_PARAM_SPEED_UPPER, kSetGet, D::kSpeed, 2},
    {SPECT_PARAM_STEPS_PER_NM, kSetGet, D::kGratingSteps},
    {SPECT_PARAM_SLIT_SPEEDS, kSetGet, D::kSlitSpeed, 0},
    {SPECT_PARAM_SLIT_SPEED_LOWER, kSetGet, D::kSlitSpeed, 1},
    {SPECT_PARAM_SLIT_SPEED_UPPER, kSetGet, D::kSlitSpeed, 2},
    {SPECT_PARAM_SLIT_STEPS_PER_MM, kSetGet, D::kScalar, 0, 0.0},
    {SPECT_PARAM_MODEL_CONSTANT_1, kGet, D::kScalar},
    {SPECT_PARAM_MODEL_CONSTANT_2, kGet, D::kScalar},
    {SPECT_PARAM_MODEL_CONSTANT_3, kGet, D::kScalar},
    {SPECT_PARAM_REPORTED_109, kGet, D::kScalar, 0, 1.0},
    {SPECT_PARAM_GROOVES, kGet, D::kScalar, 0, 1200.0},
    {SPECT_PARAM_DEFAULT_STEPS_PER_NM, kGet, D::kScalar},
    {SPECT_PARAM_REPORTED_115, kGet, D::kScalar, 0, 80000.0},
    {SPECT_PARAM_REPORTED_116, kGet, D::kScalar, 0, 80000.0},
    {SPECT_PARAM_REPORTED_117, kGet, D::kScalar, 0, 100.0},
    {SPECT_PARAM_DEFAULT_SLIT_STEPS_PER_MM, kGet, D::kScalar},
    {SPECT_PARAM_REPORTED_121, kGet, D::kScalar, 0, 10000.0},
    {SPECT_PARAM_REPORTED_122, kGet, D::kScalar, 0, 10000.0},
    {SPECT_PARAM_REPORTED_123, kGet, D::kScalar, 0, 0.0},
    {SPECT_PARAM_REPORTED_126, kGet, D::kScalar, 0, 10.0},
    {SPECT_PARAM_REPORTED_127, kGet, D::kScalar, 0, 3000.0},
    {SPECT_PARAM_ROUND_VALUE, kSetGet, D::kScalar, 0, 0.0},
    {SPECT_PARAM_GROOVE_DENSITY_READ, kGet, D::kGratingGrooves},
    {SPECT_PARAM_WAVELENGTH, kGet, D::kScalar, 0,
     -DBL_MAX},  // the most negative double: not yet read
    {SPECT_PARAM_SLIT_WIDTH, kGet, D::kSlitWidth},
    {SPECT_PARAM_UNSET_161, kGet, D::kScalar, 0, 0.0},
    {SPECT_PARAM_TARGET_WAVELENGTH, kSetGet, D::kScalar, 0, 0.0},
    {SPECT_PARAM_TARGET_SLIT_WIDTH, kSetGet, D::kScalar, 0, 0.0},
    {SPECT_PARAM_STORED_176, kSetGet, D::kScalar, 0, 0.0},
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
