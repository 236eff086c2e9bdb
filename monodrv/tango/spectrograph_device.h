// The Tango device class "Spectrograph": one instrument per device, hosted through the
// driver by an Instrument. Attribute reads answer from the instrument's snapshot at once
// (also during a move); writes start a move beside the caller and are refused, with the
// reason, while one runs. State and Wavelength change events are pushed by the server.
#pragma once

#include <tango.h>

#include <atomic>
#include <memory>
#include <string>

#include "monodrv/tango/instrument.h"

namespace monodrv::server {

class Spectrograph : public Tango::Device_5Impl {
  public:
    Spectrograph(Tango::DeviceClass* owner, const char* device);
    ~Spectrograph() override;
    void init_device() override;
    void delete_device() override;
    Tango::DevState dev_state() override;
    Tango::ConstDevString dev_status() override;
    void read_attr_hardware(std::vector<long>& attributes) override;

    // The attributes and commands, called by their classes under the device's monitor.
    void Read(const std::string& attribute, Tango::Attribute& out);
    void Write(const std::string& attribute, Tango::WAttribute& in);
    void Stop();
    void Reinitialize();

  private:
    Settings ReadProperties();
    void Changed(const Snapshot& now);
    void ShowLimits();
    // Passes a command to the instrument; its refusal, or a device without one, becomes the
    // client's exception with the reason.
    void Request(const char* origin, void (Instrument::*request)());

    std::unique_ptr<Instrument> instrument_;
    std::atomic<bool> ending_{false};
    Snapshot shown_;  // what the current read answers from; read handlers point into it
    std::string status_;
    Tango::DevDouble wavelength_ = 0;
    Tango::DevLong grating_ = 0;
    Tango::DevDouble slits_[4] = {};
    Tango::DevString mirrors_[2] = {};
    Tango::DevLong speeds_[3] = {};
    Tango::DevBoolean busy_ = false;
    Tango::DevDouble pushed_wavelength_ = 0;
    std::uint64_t pushed_moves_ = 0;
};

class SpectrographClass : public Tango::DeviceClass {
  public:
    static SpectrographClass* Init(const char* name);

  protected:
    explicit SpectrographClass(std::string& class_name);
    void command_factory() override;
    void attribute_factory(std::vector<Tango::Attr*>& attributes) override;
    void device_factory(const Tango::DevVarStringArray* devices) override;

  private:
    static SpectrographClass* instance_;
};

}  // namespace monodrv::server
