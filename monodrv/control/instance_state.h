// What an instance stores: the scalars of the parameter catalogue and the driver's tables.
// The catalogue (api/) fills and answers it; the operations (control/) read and change it.
#pragma once

#include <cstdint>
#include <map>

#include "monodrv.h"
#include "monodrv/control/port_link.h"

namespace monodrv {

inline constexpr int kGratingSets = 9;
inline constexpr int kGratingsPerSet = 3;
inline constexpr int kSlits = 4;
inline constexpr int kMirrors = 2;
inline constexpr int kNameLength = 50;

struct Grating {
    double grooves = 0;     // grooves per millimetre (parameters 33, 151)
    std::int8_t value = 0;  // the one-byte value of parameter 145
    char name[kNameLength] = {};
    double steps_per_nm = 0;  // parameter 48
};

struct Slit {
    std::int16_t location = -1;  // a SLITLOCATIONS value, -1 = none
    double width = 0;            // millimetres
};

struct Mirror {
    std::int16_t location = 0;  // MIRRORLOCATIONS
    std::int16_t position = 0;  // MIRRORPOSITIONS
};

// Everything an instance stores. Scalars live in maps keyed by parameter number, already cut
// to their storage width; tables and texts have their own members.
struct Storage {
    std::int16_t model = 0;
    std::map<std::uint32_t, std::int32_t> ints;
    std::map<std::uint32_t, double> doubles;
    bool wavelength_command = false;  // controller takes wavelength values ("Z61", "Z62")
    bool grating_command = false;     // gratings by "Z451"/"Z452", values scaled by grooves
    std::int8_t grating_known = 0;
    std::int16_t current_grating = 1;  // 1-based
    int slit_width_decimals = 2;
    Grating gratings[kGratingSets][kGratingsPerSet];
    double speeds[3][3] = {};       // parameters 44, 45, 46 by index
    double slit_speeds[3][3] = {};  // parameters 63, 64, 65 by index
    Slit slits[kSlits];
    Mirror mirrors[kMirrors];
    char port_name[kNameLength] = "COM2";
    char text156[kNameLength] = {};
    char text157[kNameLength] = {};
    std::int8_t avail26 = 0;
    std::int16_t avail167_count = 0;
    std::int8_t avail167_value = 0;
    LinkMemory link;  // what the protocol remembers of the controller between operations

    std::int32_t Int(SPECT_PARAMETERS param) const;
    double Double(SPECT_PARAMETERS param) const;
    void SetInt(SPECT_PARAMETERS param, std::int32_t value) { ints[param] = value; }
    void SetDouble(SPECT_PARAMETERS param, double value) { doubles[param] = value; }
    // The current grating set (SPECT_PARAM_GRATING_SET) when it addresses the table, else null.
    Grating* GratingSet();
    const Grating* GratingSet() const;
};

// Rounds to n decimals, halves away from zero (n <= 0: no scaling).
double RoundTo(double x, int n);
// A double converted toward zero to a 32-bit integer, saturating instead of overflowing (NaN
// gives 0).
std::int32_t Truncate(double value);

}  // namespace monodrv
