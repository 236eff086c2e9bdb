// A spectrograph instance: the generic parameter storage and answers (Spectrograph) and the
// driver for this controller family (MonodrvSpectrograph), the only class instantiated.
#pragma once

#include <cstdint>

#include "monodrv.h"
#include "monodrv/control/instance_state.h"

namespace monodrv {

class Spectrograph {
  public:
    Spectrograph();
    virtual ~Spectrograph();
    virtual bool IsAvail(std::uint32_t param, SpectAvailInfo* info) const;
    virtual bool GetEnumParam(std::uint32_t param, std::uint32_t index, std::uint32_t* value) const;
    virtual bool GetEnumString(std::uint32_t param, std::uint32_t value, char* buffer,
                               std::int16_t size) const;
    virtual bool SetULongParam(std::uint32_t param, std::uint32_t value, std::int16_t index);
    virtual bool GetULongParam(std::uint32_t param, std::uint32_t* value, std::int16_t index) const;
    virtual bool SetDblParam(std::uint32_t param, double value, std::int16_t index);
    virtual bool GetDblParam(std::uint32_t param, double* value, std::int16_t index) const;
    virtual bool SetStrParam(std::uint32_t param, const char* text, std::int16_t index);
    virtual bool GetStrParam(std::uint32_t param, char* buffer, std::int16_t size,
                             std::int16_t index) const;
    virtual bool Process(std::uint32_t operation);

    Storage& State() { return storage_; }

  protected:
    Storage storage_;
};

class MonodrvSpectrograph : public Spectrograph {
  public:
    explicit MonodrvSpectrograph(std::int16_t model);
    ~MonodrvSpectrograph() override;
    bool IsAvail(std::uint32_t param, SpectAvailInfo* info) const override;
    bool GetEnumParam(std::uint32_t param, std::uint32_t index,
                      std::uint32_t* value) const override;
    bool GetEnumString(std::uint32_t param, std::uint32_t value, char* buffer,
                       std::int16_t size) const override;
    bool SetULongParam(std::uint32_t param, std::uint32_t value, std::int16_t index) override;
    bool GetULongParam(std::uint32_t param, std::uint32_t* value,
                       std::int16_t index) const override;
    bool SetDblParam(std::uint32_t param, double value, std::int16_t index) override;
    bool GetDblParam(std::uint32_t param, double* value, std::int16_t index) const override;
    bool SetStrParam(std::uint32_t param, const char* text, std::int16_t index) override;
    bool GetStrParam(std::uint32_t param, char* buffer, std::int16_t size,
                     std::int16_t index) const override;
    bool Process(std::uint32_t operation) override;
};

// The enumeration-text routine shared by the object and the export's fallback.
bool EnumerationText(std::uint32_t param, std::uint32_t value, char* buffer, std::int16_t size);
// The version-number rule: "2.5.8.1" gives 2050801; false for a text without tokens.
bool VersionNumber(const char* text, std::uint32_t* result);

}  // namespace monodrv
