// A spectrograph instance: the generic parameter storage and answers (Spectrograph) and the
// driver for this controller family (MonodrvSpectrograph), the only class instantiated.
#pragma once

#include <cstdint>
#include <map>

#include "monodrv.h"

namespace monodrv {

inline constexpr int kGratingSets = 9;
inline constexpr int kGratingsPerSet = 3;
inline constexpr int kSlits = 4;
inline constexpr int kMirrors = 2;
inline constexpr int kNameLength = 50;

// Error codes of parameter 173.
inline constexpr std::int32_t kNoError = 0;
inline constexpr std::int32_t kFailed = 11;

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

    std::int32_t Int(std::uint32_t param) const;
    double Double(std::uint32_t param) const;
    void SetInt(std::uint32_t param, std::int32_t value) { ints[param] = value; }
    // The current grating set (parameter 174) when it addresses the table, else null.
    Grating* GratingSet();
};

class Spectrograph {
  public:
    Spectrograph();
    virtual ~Spectrograph();
    virtual bool IsAvail(std::uint32_t param, SpectAvailInfo* info);
    virtual bool GetEnumParam(std::uint32_t param, std::uint32_t index, std::uint32_t* value);
    virtual bool GetEnumString(std::uint32_t param, std::uint32_t value, char* buffer,
                               std::int16_t size);
    virtual bool SetULongParam(std::uint32_t param, std::uint32_t value, std::int16_t index);
    virtual bool GetULongParam(std::uint32_t param, std::uint32_t* value, std::int16_t index);
    virtual bool SetDblParam(std::uint32_t param, double value, std::int16_t index);
    virtual bool GetDblParam(std::uint32_t param, double* value, std::int16_t index);
    virtual bool SetStrParam(std::uint32_t param, const char* text, std::int16_t index);
    virtual bool GetStrParam(std::uint32_t param, char* buffer, std::int16_t size,
                             std::int16_t index);
    virtual bool Process(std::uint32_t operation);

    Storage& State() { return storage_; }

  protected:
    Storage storage_;
};

class MonodrvSpectrograph : public Spectrograph {
  public:
    explicit MonodrvSpectrograph(std::int16_t model);
    ~MonodrvSpectrograph() override;
    bool IsAvail(std::uint32_t param, SpectAvailInfo* info) override;
    bool GetEnumParam(std::uint32_t param, std::uint32_t index, std::uint32_t* value) override;
    bool GetEnumString(std::uint32_t param, std::uint32_t value, char* buffer,
                       std::int16_t size) override;
    bool SetULongParam(std::uint32_t param, std::uint32_t value, std::int16_t index) override;
    bool GetULongParam(std::uint32_t param, std::uint32_t* value, std::int16_t index) override;
    bool SetDblParam(std::uint32_t param, double value, std::int16_t index) override;
    bool GetDblParam(std::uint32_t param, double* value, std::int16_t index) override;
    bool SetStrParam(std::uint32_t param, const char* text, std::int16_t index) override;
    bool GetStrParam(std::uint32_t param, char* buffer, std::int16_t size,
                     std::int16_t index) override;
    bool Process(std::uint32_t operation) override;
};

// The enumeration-text routine shared by the object and the export's fallback.
bool EnumerationText(std::uint32_t param, std::uint32_t value, char* buffer, std::int16_t size);
// The version-number rule: "2.5.8.1" gives 2050801; false for a text without tokens.
bool VersionNumber(const char* text, std::uint32_t* result);
// Rounds to n decimals, halves away from zero (n <= 0: no scaling).
double RoundTo(double x, int n);

}  // namespace monodrv
