#include "monodrv/tango/spectrograph_device.h"

#include <cmath>
#include <optional>

#include "monodrv/control/strict_numbers.h"
#include "monodrv/ctl/limits.h"

namespace monodrv::server {
namespace {

// The slit attributes by slit location (SLITLOCATIONS), the mirrors by location - 1.
constexpr const char* kSlitAttributes[] = {"FrontEntranceSlit", "SideEntranceSlit", "FrontExitSlit",
                                           "SideExitSlit"};
constexpr const char* kMirrorAttributes[] = {"EntranceMirror", "ExitMirror"};
char kFront[] = "front", kSide[] = "side", kUnknown[] = "unknown";

Tango::DevState StateOf(Phase phase) {
    switch (phase) {
        case Phase::Init:
            return Tango::INIT;
        case Phase::On:
            return Tango::ON;
        case Phase::Moving:
            return Tango::MOVING;
        case Phase::Fault:
            break;
    }
    return Tango::FAULT;
}

int IndexOf(const std::string& name, const char* const* names, int count) {
    for (int i = 0; i < count; ++i)
        if (name == names[i]) return i;
    return -1;
}

[[noreturn]] void Refuse(const std::string& why, const char* where) {
    Tango::Except::throw_exception("Spectrograph_Refused", why, where);
}

// Every attribute reads and writes through the device, by name.
template <class Kind>
class Routed : public Kind {
  public:
    using Kind::Kind;
    void read(Tango::DeviceImpl* device, Tango::Attribute& out) override {
        static_cast<Spectrograph*>(device)->Read(this->get_name(), out);
    }
    void write(Tango::DeviceImpl* device, Tango::WAttribute& in) override {
        static_cast<Spectrograph*>(device)->Write(this->get_name(), in);
    }
    bool is_allowed(Tango::DeviceImpl*, Tango::AttReqType) override { return true; }

  protected:
    void Describe(const char* unit, const char* description) {
        Tango::UserDefaultAttrProp properties;
        if (*unit) properties.set_unit(unit);
        properties.set_description(description);
        this->set_default_properties(properties);
    }
};

class ScalarAttribute : public Routed<Tango::Attr> {
  public:
    ScalarAttribute(const char* attribute, long data_type, Tango::AttrWriteType write,
                    const char* unit, const char* description)
        : Routed<Tango::Attr>(attribute, data_type, write) {
        Describe(unit, description);
    }
};

class SpeedsAttribute : public Routed<Tango::SpectrumAttr> {
  public:
    SpeedsAttribute()
        : Routed<Tango::SpectrumAttr>("Speeds", Tango::DEV_LONG, Tango::READ_WRITE, 3) {
        Describe("", "the wavelength motor's minimum and maximum frequency and ramp time");
    }
};

class VoidCommand : public Tango::Command {
  public:
    VoidCommand(const char* command, void (Spectrograph::*run)())
        : Tango::Command(command, Tango::DEV_VOID, Tango::DEV_VOID), run_(run) {}
    CORBA::Any* execute(Tango::DeviceImpl* device, const CORBA::Any&) override {
        (static_cast<Spectrograph*>(device)->*run_)();
        return insert();
    }
    bool is_allowed(Tango::DeviceImpl*, const CORBA::Any&) override { return true; }

  private:
    void (Spectrograph::*run_)();
};

// "1200,600,300" (or one value per line of the property) as groove densities.
std::optional<std::vector<double>> ParseGrooves(const std::vector<std::string>& lines) {
    std::vector<double> grooves;
    for (const std::string& line : lines) {
        std::size_t start = 0;
        for (;;) {
            const std::size_t comma = line.find(',', start);
            std::string word = line.substr(start, comma - start);
            word.erase(0, word.find_first_not_of(' '));
            word.erase(word.find_last_not_of(' ') + 1);
            const std::optional<double> v = WholeNumber(word);
            if (!v || *v < limits::kGrooves.low || *v > limits::kGrooves.high) return std::nullopt;
            grooves.push_back(*v);
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
    }
    return grooves;
}

}  // namespace

Spectrograph::Spectrograph(Tango::DeviceClass* owner, const char* device)
    : Tango::Device_5Impl(owner, device) {
    init_device();
}

Spectrograph::~Spectrograph() {
    delete_device();
}

// The properties, checked; a bad one leaves the device in FAULT saying which and why.
Settings Spectrograph::ReadProperties() {
    Tango::DbData data;
    for (const char* name : {"Model", "Port", "Baud", "Grooves", "WaitLimit"})
        data.push_back(Tango::DbDatum(name));
    if (Tango::Util::_UseDb) get_db_device()->get_property(data);
    Settings settings;
    std::string model;
    if (data[0].is_empty() || !(data[0] >> model)) throw Refused("property Model is not set");
    const limits::Model* found = nullptr;
    for (const limits::Model& m : limits::kModels)
        if (model == m.name) found = &m;
    if (!found)
        throw Refused("property Model: '" + model +
                      "' is not 270m, spex232, triax180, triax190 or triax320");
    settings.model = found->number;
    settings.title = found->title;
    settings.wait_limit_s = found->wait_limit_s;
    if (data[1].is_empty() || !(data[1] >> settings.port) || settings.port.empty())
        throw Refused("property Port is not set");
    if (!data[2].is_empty()) {
        std::string baud;
        data[2] >> baud;
        const std::optional<int> value = WholeInteger(baud, 1, 4000000);
        if (!value) throw Refused("property Baud: '" + baud + "' is not a baud rate");
        settings.baud = *value;
    }
    if (!data[3].is_empty()) {
        std::vector<std::string> lines;
        data[3] >> lines;
        const auto grooves = ParseGrooves(lines);
        if (!grooves) throw Refused("property Grooves is not a list of groove densities per mm");
        settings.grooves = *grooves;
    }
    if (!data[4].is_empty()) {
        std::string limit;
        data[4] >> limit;
        const std::optional<double> value = WholeNumber(limit);
        if (!value || *value <= limits::kWaitLimit.low || *value > limits::kWaitLimit.high)
            throw Refused("property WaitLimit: '" + limit + "' is not a number of seconds");
        settings.wait_limit_s = *value;
    }
    return settings;
}

void Spectrograph::init_device() {
    ending_ = false;
    set_change_event("State", true, false);
    set_change_event("Wavelength", true, false);
    try {
        Settings settings = ReadProperties();
        instrument_ = std::make_unique<Instrument>(std::move(settings),
                                                   [this](const Snapshot& now) { Changed(now); });
        ShowLimits();
        set_state(Tango::INIT);
        set_status(instrument_->Now().status);
    } catch (const Refused& e) {
        set_state(Tango::FAULT);
        set_status(e.what());
    }
}

void Spectrograph::delete_device() {
    ending_ = true;
    instrument_.reset();
}

// The writable ranges the model allows, as the attributes' limits (clients see them).
void Spectrograph::ShowLimits() {
    Tango::MultiAttribute* attributes = get_device_attr();
    const auto range = instrument_->WavelengthRange();
    attributes->get_w_attr_by_name("Wavelength").set_min_value(range[0]);
    attributes->get_w_attr_by_name("Wavelength").set_max_value(range[1]);
    attributes->get_w_attr_by_name("Grating").set_min_value(Tango::DevLong{1});
    attributes->get_w_attr_by_name("Grating").set_max_value(
        Tango::DevLong{instrument_->Gratings()});
    for (const char* slit : kSlitAttributes) {
        attributes->get_w_attr_by_name(slit).set_min_value(limits::kSlitWidth.low);
        attributes->get_w_attr_by_name(slit).set_max_value(limits::kSlitWidth.high);
    }
}

// From the worker thread: the new state and status, and the change events.
void Spectrograph::Changed(const Snapshot& now) {
    if (ending_) return;
    omni_thread::ensure_self known_to_the_orb;
    try {
        Tango::AutoTangoMonitor sync(this);
        if (ending_) return;
        set_state(StateOf(now.phase));
        set_status(now.status);
        push_change_event("State");
        if (now.moves != pushed_moves_ || now.wavelength != pushed_wavelength_) {
            pushed_moves_ = now.moves;
            pushed_wavelength_ = now.wavelength;
            push_change_event("Wavelength", &pushed_wavelength_);
        }
    } catch (const Tango::DevFailed&) {
        // the monitor timed out (the device is being deleted): the next change says it
    }
}

Tango::DevState Spectrograph::dev_state() {
    if (instrument_) set_state(StateOf(instrument_->Now().phase));
    return get_state();
}

Tango::ConstDevString Spectrograph::dev_status() {
    if (instrument_) set_status(instrument_->Now().status);
    status_ = get_status();
    return status_.c_str();
}

void Spectrograph::read_attr_hardware(std::vector<long>&) {
    if (instrument_) shown_ = instrument_->Now();
}

void Spectrograph::Read(const std::string& attribute, Tango::Attribute& out) {
    if (!instrument_) Refuse(get_status(), "Spectrograph::Read");
    const Snapshot& s = shown_;
    const bool known = s.moves > 0;  // read back at least once
    if (attribute == "Wavelength" && known) {
        wavelength_ = s.wavelength;
        out.set_value(&wavelength_);
    } else if (attribute == "Grating" && known) {
        grating_ = s.grating;
        out.set_value(&grating_);
    } else if (const int slit = IndexOf(attribute, kSlitAttributes, 4);
               slit >= 0 && known && !std::isnan(s.slits[static_cast<std::size_t>(slit)])) {
        slits_[slit] = s.slits[static_cast<std::size_t>(slit)];
        out.set_value(&slits_[slit]);
    } else if (const int mirror = IndexOf(attribute, kMirrorAttributes, 2); mirror >= 0 && known) {
        const std::int32_t position = s.mirrors[static_cast<std::size_t>(mirror)];
        mirrors_[mirror] = position == MIR_POS_FRONT  ? kFront
                           : position == MIR_POS_SIDE ? kSide
                                                      : kUnknown;
        out.set_value(&mirrors_[mirror]);
    } else if (attribute == "Speeds" && known) {
        for (std::size_t k = 0; k < 3; ++k)
            speeds_[k] = s.speeds[k];
        out.set_value(speeds_, 3);
    } else if (attribute == "Busy") {
        busy_ = s.busy;
        out.set_value(&busy_);
    } else {
        out.set_quality(Tango::ATTR_INVALID);  // not read yet, or no slit there
    }
}

void Spectrograph::Write(const std::string& attribute, Tango::WAttribute& in) {
    if (!instrument_) Refuse(get_status(), "Spectrograph::Write");
    try {
        if (attribute == "Wavelength") {
            Tango::DevDouble nm = 0;
            in.get_write_value(nm);
            instrument_->MoveTo(nm);
        } else if (attribute == "Grating") {
            Tango::DevLong number = 0;
            in.get_write_value(number);
            instrument_->SelectGrating(number);
        } else if (const int slit = IndexOf(attribute, kSlitAttributes, 4); slit >= 0) {
            Tango::DevDouble mm = 0;
            in.get_write_value(mm);
            instrument_->MoveSlit(slit, mm);
        } else if (const int mirror = IndexOf(attribute, kMirrorAttributes, 2); mirror >= 0) {
            Tango::DevString position = nullptr;
            in.get_write_value(position);
            const std::string word = position ? position : "";
            if (word != kFront && word != kSide)
                throw Refused("a mirror position is front or side");
            instrument_->SetMirror(mirror + 1, word == kFront ? MIR_POS_FRONT : MIR_POS_SIDE);
        } else if (attribute == "Speeds") {
            const Tango::DevLong* values = nullptr;
            in.get_write_value(values);
            if (in.get_write_value_length() != 3 || !values)
                throw Refused("Speeds takes three values: MIN, MAX, RAMP");
            instrument_->SetSpeeds({values[0], values[1], values[2]});
        }
    } catch (const Refused& e) {
        Refuse(e.what(), "Spectrograph::Write");
    }
}

void Spectrograph::Stop() {
    Request("Spectrograph::Stop", &Instrument::Stop);
}

void Spectrograph::Reinitialize() {
    Request("Spectrograph::Reinitialize", &Instrument::Reinitialize);
}

void Spectrograph::Request(const char* origin, void (Instrument::*request)()) {
    if (!instrument_) Refuse(get_status(), origin);
    try {
        (instrument_.get()->*request)();
    } catch (const Refused& e) {
        Refuse(e.what(), origin);
    }
}

SpectrographClass* SpectrographClass::instance_ = nullptr;

SpectrographClass::SpectrographClass(std::string& class_name) : Tango::DeviceClass(class_name) {}

SpectrographClass* SpectrographClass::Init(const char* name) {
    if (!instance_) {
        std::string class_name = name;
        instance_ = new SpectrographClass(class_name);
    }
    return instance_;
}

void SpectrographClass::command_factory() {
    command_list.push_back(new VoidCommand("Stop", &Spectrograph::Stop));
    command_list.push_back(new VoidCommand("Reinitialize", &Spectrograph::Reinitialize));
}

void SpectrographClass::attribute_factory(std::vector<Tango::Attr*>& attributes) {
    attributes.push_back(new ScalarAttribute("Wavelength", Tango::DEV_DOUBLE, Tango::READ_WRITE,
                                             "nm",
                                             "the grating drive's wavelength; a write moves"));
    attributes.push_back(new ScalarAttribute("Grating", Tango::DEV_LONG, Tango::READ_WRITE, "",
                                             "the grating in use, from 1; a write selects"));
    for (const char* slit : kSlitAttributes)
        attributes.push_back(new ScalarAttribute(slit, Tango::DEV_DOUBLE, Tango::READ_WRITE, "mm",
                                                 "the slit's width (invalid: no slit there)"));
    for (const char* mirror : kMirrorAttributes)
        attributes.push_back(new ScalarAttribute(mirror, Tango::DEV_STRING, Tango::READ_WRITE, "",
                                                 "front (axial) or side (lateral)"));
    attributes.push_back(new SpeedsAttribute());
    attributes.push_back(
        new ScalarAttribute("Busy", Tango::DEV_BOOLEAN, Tango::READ, "", "true while a move runs"));
}

void SpectrographClass::device_factory(const Tango::DevVarStringArray* devices) {
    for (CORBA::ULong i = 0; i < devices->length(); ++i) {
        auto* device = new Spectrograph(this, (*devices)[i]);
        device_list.push_back(device);
        if (Tango::Util::_UseDb && !Tango::Util::_FileDb)
            export_device(device);
        else
            export_device(device, device->get_name().c_str());
    }
}

}  // namespace monodrv::server
