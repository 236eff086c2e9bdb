#include "monodrv/api/spectrograph.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>

#include "monodrv/api/catalogue.h"
#include "monodrv/api/string_table.h"
#include "monodrv/control/operations.h"

namespace monodrv {
namespace {

bool InRange(std::int64_t index, std::int64_t count) {
    return index >= 0 && index < count;
}

// Fills the record's count, kind and values.
void Avail(SpectAvailInfo* info, std::int32_t count, std::int32_t kind, double v1, double v2) {
    info->count = count;
    info->kind = kind;
    info->value1 = v1;
    info->value2 = v2;
}

// Loads a string resource into the caller's buffer; success when a character was copied.
bool LoadInto(std::uint32_t id, char* buffer, std::int16_t size) {
    return LoadResourceString(id, buffer, size) > 0;
}

// Copies a stored 50-character text from `offset` on; an offset beyond the text copies the
// empty text (nothing outside the text is read).
bool CopyStored(const char (&text)[kNameLength], std::int16_t offset, char* buffer,
                std::int16_t size) {
    if (offset < 0) return false;
    char bounded[kNameLength + 1] = {};
    std::memcpy(bounded, text, kNameLength);
    BoundedCopy(buffer, offset < kNameLength ? bounded + offset : "", size);
    return true;
}

}  // namespace

bool VersionNumber(const char* text, std::uint32_t* result) {
    if (!text || !result) return false;
    std::uint32_t value = 0;
    bool any = false;
    const char* p = text;
    while (*p) {
        while (*p == '.' || *p == ',')
            ++p;  // runs of separators make no empty tokens
        if (!*p) break;
        const char* end = p;
        while (*end && *end != '.' && *end != ',')
            ++end;
        const char* q = p;
        while (q < end && *q == ' ')
            ++q;
        std::uint32_t token = 0;
        for (; q < end && *q >= '0' && *q <= '9'; ++q)
            token = token * 10 + static_cast<std::uint32_t>(*q - '0');
        value = value * 100 + token;
        any = true;
        p = end;
    }
    if (!any) return false;
    *result = value;
    return true;
}

bool EnumerationText(std::uint32_t param, std::uint32_t value, char* buffer, std::int16_t size) {
    if (!buffer || size <= 0) return false;
    if (param == SPECT_PARAM_GROOVES) {
        char work[16];
        std::snprintf(work, sizeof work, "%d", static_cast<std::int32_t>(value));
        BoundedCopy(buffer, work, size);
        return true;
    }
    struct Row {
        std::uint32_t param, value, id;  // parameter, enumeration value, string id
    };
    static constexpr Row kRows[] = {
        {SPECT_PARAM_SPECTROMETER, SPEX_270M, 103},
        {SPECT_PARAM_SPECTROMETER, TRIAX_180, 137},
        {SPECT_PARAM_SPECTROMETER, TRIAX_190, 138},
        {SPECT_PARAM_SPECTROMETER, TRIAX_320, 139},
        {SPECT_PARAM_SPECTROMETER, SPEX232_RETRO, 104},
        {SPECT_PARAM_MANUFACTURER, MNFCTR_ID_SPEX, 100},
        {SPECT_PARAM_MANUFACTURER, MNFCTR_ID_ISA, 101},
        {SPECT_PARAM_MANUFACTURER, MNFCTR_ID_JY, 102},
        {SPECT_PARAM_SLIT_LOCATION, SLIT_LOC_FR_ENTR, 116},
        {SPECT_PARAM_SLIT_LOCATION, SLIT_LOC_SD_ENTR, 117},
        {SPECT_PARAM_SLIT_LOCATION, SLIT_LOC_FR_EXIT, 118},
        {SPECT_PARAM_SLIT_LOCATION, SLIT_LOC_SD_EXIT, 119},
        {SPECT_PARAM_MIRROR_LOCATION, MIR_LOC_ENTRANCE, 112},
        {SPECT_PARAM_MIRROR_LOCATION, MIR_LOC_EXIT, 113},
        {SPECT_PARAM_MIRROR_POSITION, MIR_POS_FRONT, 114},
        {SPECT_PARAM_MIRROR_POSITION, MIR_POS_SIDE, 115},
    };
    for (const Row& row : kRows)
        if (row.param == param && row.value == value) return LoadInto(row.id, buffer, size);
    return false;
}

// ---- Spectrograph: the catalogue's answers -------------------------------------------

Spectrograph::Spectrograph() {
    ApplyDefaults(storage_);
}
Spectrograph::~Spectrograph() = default;

bool Spectrograph::IsAvail(std::uint32_t param, SpectAvailInfo* info) const {
    if (!info) return false;
    switch (param) {
        case SPECT_PARAM_AVAIL_26:
            Avail(info, 1, SPECT_KIND_SPECIAL, storage_.avail26, storage_.avail26);
            return true;
        case SPECT_PARAM_SPEED_COUNT:
            Avail(info, 1, SPECT_KIND_INTEGER, storage_.Int(SPECT_PARAM_SPEED_COUNT),
                  storage_.Int(SPECT_PARAM_SPEED_COUNT));
            return true;
        case SPECT_PARAM_SLIT_SPEED_COUNT:
            Avail(info, 1, SPECT_KIND_INTEGER, storage_.Int(SPECT_PARAM_SLIT_SPEED_COUNT),
                  storage_.Int(SPECT_PARAM_SLIT_SPEED_COUNT));
            return true;
        case SPECT_PARAM_ENUM_VALUE:
            Avail(info, storage_.avail167_count, SPECT_KIND_ENUMERATED, storage_.avail167_value,
                  storage_.Int(SPECT_PARAM_ENUM_VALUE));
            return true;
        default:
            return false;
    }
}

bool Spectrograph::GetEnumParam(std::uint32_t, std::uint32_t, std::uint32_t*) const {
    return false;
}

bool Spectrograph::GetEnumString(std::uint32_t, std::uint32_t, char*, std::int16_t) const {
    return false;
}

bool Spectrograph::SetULongParam(std::uint32_t param, std::uint32_t value, std::int16_t) {
    const IntParam* p = FindIntParam(param);
    if (!p || !(p->access & kSet) || p->slot != IntSlot::kScalar) return false;
    storage_.ints[p->alias ? p->alias : p->number] = StoreWidth(value, p->width);
    return true;
}

bool Spectrograph::GetULongParam(std::uint32_t param, std::uint32_t* value,
                                 std::int16_t index) const {
    const IntParam* p = FindIntParam(param);
    if (!p || !value || !(p->access & kGet)) return false;
    std::int32_t result = 0;
    switch (p->slot) {
        case IntSlot::kScalar:
            result = storage_.Int(static_cast<SPECT_PARAMETERS>(p->alias ? p->alias : p->number));
            break;
        case IntSlot::kConstant:
            result = p->default_value;
            break;
        case IntSlot::kSpecial:
            return false;
        case IntSlot::kGratingValue: {
            const Grating* set = storage_.GratingSet();
            if (!set || !InRange(index, kGratingsPerSet)) return false;
            result = set[index].value;
            break;
        }
        case IntSlot::kSlitLocation:
            if (!InRange(index,
                         std::min<std::int32_t>(storage_.Int(SPECT_PARAM_SLIT_COUNT), kSlits)))
                return false;
            result = storage_.slits[index].location;
            break;
        case IntSlot::kMirrorLocation:
        case IntSlot::kMirrorPosition: {
            if (!InRange(index,
                         std::min<std::int32_t>(storage_.Int(SPECT_PARAM_MIRROR_COUNT), kMirrors)))
                return false;
            const Mirror& m = storage_.mirrors[index];
            result = p->slot == IntSlot::kMirrorLocation ? m.location : m.position;
            break;
        }
        case IntSlot::kTruncatedDouble:
            result = Truncate(storage_.Double(static_cast<SPECT_PARAMETERS>(p->number)));
            break;
    }
    *value = static_cast<std::uint32_t>(result);  // one-byte and 16-bit storage sign-extends
    return true;
}

namespace {

// The storage of an indexed double parameter (any slot but kScalar), or null when the index (or
// the grating set) addresses nothing. `S` is Storage or const Storage.
template <class S>
auto IndexedDoubleSlot(S& s, const DblParam& p, std::int16_t index) -> decltype(&s.speeds[0][0]) {
    switch (p.slot) {
        case DblSlot::kScalar:
            return nullptr;
        case DblSlot::kGratingGrooves:
        case DblSlot::kGratingSteps: {
            auto* set = s.GratingSet();
            if (!set || !InRange(index, kGratingsPerSet)) return nullptr;
            return p.slot == DblSlot::kGratingGrooves ? &set[index].grooves
                                                      : &set[index].steps_per_nm;
        }
        case DblSlot::kSpeed:
            return InRange(index, 3) ? &s.speeds[p.row][index] : nullptr;
        case DblSlot::kSlitSpeed:
            return InRange(index, 3) ? &s.slit_speeds[p.row][index] : nullptr;
        case DblSlot::kSlitWidth:
            return InRange(index, std::min<std::int32_t>(s.Int(SPECT_PARAM_SLIT_COUNT), kSlits))
                       ? &s.slits[index].width
                       : nullptr;
    }
    return nullptr;
}

}  // namespace

bool Spectrograph::SetDblParam(std::uint32_t param, double value, std::int16_t index) {
    const DblParam* p = FindDblParam(param);
    if (!p || !(p->access & kSet)) return false;
    double* slot = p->slot == DblSlot::kScalar ? &storage_.doubles[p->number]
                                               : IndexedDoubleSlot(storage_, *p, index);
    if (!slot) return false;
    *slot = value;
    return true;
}

bool Spectrograph::GetDblParam(std::uint32_t param, double* value, std::int16_t index) const {
    const DblParam* p = FindDblParam(param);
    if (!p || !value || !(p->access & kGet)) return false;
    if (p->slot == DblSlot::kScalar) {
        *value = storage_.Double(static_cast<SPECT_PARAMETERS>(p->number));
        return true;
    }
    const double* slot = IndexedDoubleSlot(storage_, *p, index);
    if (!slot) return false;
    *value = *slot;
    return true;
}

bool Spectrograph::SetStrParam(std::uint32_t param, const char* text, std::int16_t) {
    if (!text) return false;
    return param == 0;
}

bool Spectrograph::GetStrParam(std::uint32_t param, char* buffer, std::int16_t size,
                               std::int16_t index) const {
    if (!buffer || size <= 0) return false;
    const bool triple = InRange(index, 3);
    switch (param) {
        case SPECT_PARAM_GRATING_LABEL: {
            char work[24];
            std::snprintf(work, sizeof work, "Grating %d", index + 1);
            BoundedCopy(buffer, work, size);  // at most `size` characters
            return true;
        }
        case SPECT_PARAM_SLIT_WIDTH_UNIT:
            return LoadInto(122, buffer, size);
        case SPECT_PARAM_PORT_NAME:
            return CopyStored(storage_.port_name, index, buffer, size);
        case SPECT_PARAM_TEXT_156:
            return CopyStored(storage_.text156, index, buffer, size);
        case SPECT_PARAM_TEXT_157:
            return CopyStored(storage_.text157, index, buffer, size);
        case SPECT_PARAM_GRATING_NAME: {
            const Grating* set = storage_.GratingSet();
            if (!set || !InRange(index, kGratingsPerSet)) return false;
            return CopyStored(set[index].name, 0, buffer, size);
        }
        case SPECT_PARAM_SPEED_UNITS:
            return triple && LoadInto(123u + static_cast<std::uint32_t>(index), buffer, size);
        case SPECT_PARAM_SPEED_NAMES:
            return triple && LoadInto(126u + static_cast<std::uint32_t>(index), buffer, size);
        case SPECT_PARAM_SLIT_SPEED_UNIT:
            return triple && LoadInto(129u + static_cast<std::uint32_t>(index), buffer, size);
        case SPECT_PARAM_SLIT_SPEED_NAME:
            return triple && LoadInto(132u + static_cast<std::uint32_t>(index), buffer, size);
        case SPECT_PARAM_STEPS_PER_NM_UNIT:
            return LoadInto(136, buffer, size);
        case SPECT_PARAM_STEPS_PER_MM_UNIT:
            return LoadInto(135, buffer, size);
        default:
            return false;
    }
}

bool Spectrograph::Process(std::uint32_t operation) {
    return operation == SPECT_OP_MOVE_TO_WAVELENGTH;
}

// ---- MonodrvSpectrograph -----------------------------------------------------------------

MonodrvSpectrograph::MonodrvSpectrograph(std::int16_t model) {
    storage_.model = model;
    ApplyModel(storage_, model);
}

MonodrvSpectrograph::~MonodrvSpectrograph() = default;

bool MonodrvSpectrograph::IsAvail(std::uint32_t param, SpectAvailInfo* info) const {
    if (!info) return false;
    switch (param) {
        case SPECT_PARAM_STEPS_PER_NM:
            Avail(info, 1, SPECT_KIND_REAL, storage_.Double(SPECT_PARAM_DEFAULT_STEPS_PER_NM),
                  storage_.Double(SPECT_PARAM_DEFAULT_STEPS_PER_NM));
            return true;
        case SPECT_PARAM_SLIT_STEPS_PER_MM:
            Avail(info, 1, SPECT_KIND_REAL, storage_.Double(SPECT_PARAM_DEFAULT_SLIT_STEPS_PER_MM),
                  storage_.Double(SPECT_PARAM_DEFAULT_SLIT_STEPS_PER_MM));
            return true;
        case SPECT_PARAM_AVAIL_207:
            Avail(info, 1, SPECT_KIND_INTEGER, 0, 0);
            return true;
        default:
            return Spectrograph::IsAvail(param, info);
    }
}

bool MonodrvSpectrograph::GetEnumParam(std::uint32_t param, std::uint32_t, std::uint32_t*) const {
    return param == 0;  // parameter 0 names nothing: success, nothing written
}

bool MonodrvSpectrograph::GetEnumString(std::uint32_t param, std::uint32_t value, char* buffer,
                                        std::int16_t size) const {
    return EnumerationText(param, value, buffer, size);
}

bool MonodrvSpectrograph::SetULongParam(std::uint32_t param, std::uint32_t value,
                                        std::int16_t index) {
    return Spectrograph::SetULongParam(param, value, index);
}

bool MonodrvSpectrograph::GetULongParam(std::uint32_t param, std::uint32_t* value,
                                        std::int16_t index) const {
    if (!value) return false;
    if (param == SPECT_PARAM_MODEL) {
        *value = static_cast<std::uint32_t>(static_cast<std::int32_t>(storage_.model));
        return true;
    }
    if (param == SPECT_PARAM_CURRENT_GRATING) {
        if (!storage_.grating_known) return false;
        *value = static_cast<std::uint32_t>(static_cast<std::int32_t>(storage_.current_grating));
        return true;
    }
    return Spectrograph::GetULongParam(param, value, index);
}

bool MonodrvSpectrograph::SetDblParam(std::uint32_t param, double value, std::int16_t index) {
    return Spectrograph::SetDblParam(param, value, index);
}

bool MonodrvSpectrograph::GetDblParam(std::uint32_t param, double* value,
                                      std::int16_t index) const {
    return Spectrograph::GetDblParam(param, value, index);
}

bool MonodrvSpectrograph::SetStrParam(std::uint32_t param, const char* text, std::int16_t index) {
    if (!text) return false;
    return Spectrograph::SetStrParam(param, text, index);
}

bool MonodrvSpectrograph::Process(std::uint32_t operation) {
    const std::optional<bool> outcome = RunOperation(storage_, operation);
    storage_.SetInt(SPECT_PARAM_ERROR_CODE,
                    outcome.value_or(true) ? SPECT_ERR_NONE : SPECT_ERR_FAILED);
    return outcome.has_value();
}

bool MonodrvSpectrograph::GetStrParam(std::uint32_t param, char* buffer, std::int16_t size,
                                      std::int16_t index) const {
    return Spectrograph::GetStrParam(param, buffer, size, index);
}

}  // namespace monodrv
