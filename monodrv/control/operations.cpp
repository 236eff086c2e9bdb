// The operations behind SPECT_Process: each computes its numbers from the parameters, sends
// its commands through the protocol and stores its results.
#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <limits>

#include "monodrv/control/operations.h"

#include "monodrv/control/command_words.h"
#include "monodrv/control/protocol.h"

namespace monodrv {
namespace {

// Default speed values and limits of the wavelength and slit motors.
constexpr double kSpeedMax = 80000, kRampMax = 65535, kSpeedMin = 100, kSlitSpeedDefault = 10000;
// Groove density given to every grating of the set named by a refresh.
constexpr double kNamedGrooves = 1200.0;
constexpr int kSlitWidthDecimals = 2;

// A step count toward zero when `value` is finite and within 32 bits; none otherwise, so that
// bad data never becomes a saturated or zero motor target.
std::optional<std::int32_t> Steps(double value) {
    if (!std::isfinite(value) || value >= 2147483648.0 || value <= -2147483649.0)
        return std::nullopt;
    return Truncate(value);
}

// A scale factor that can address the motor: finite and above 0.
bool Usable(double factor) {
    return std::isfinite(factor) && factor > 0;
}

// Whether a commanded value stands for `target`: `back` is the command converted back to the
// target's unit and `unit` one step of the command in that unit (the controller's resolution).
// A target that shows as 0 with `decimals` decimals is always represented; any other target
// must not become a zero command, and the command must land within one step of it. A factor
// so small that a real target scales to nothing thus fails instead of moving to 0.
bool Represents(double target, double command, double back, double unit, int decimals) {
    if (RoundTo(target, decimals) == 0) return true;
    return command != 0 && std::isfinite(back) && std::isfinite(unit) &&
           std::fabs(back - target) <= unit;
}

// A slit location the controller's slit commands address.
bool SlitLocationValid(std::int32_t location) {
    return location >= SLIT_LOC_FR_ENTR && location < NUM_SLIT_LOCATION;
}

template <class... Args>
std::string Format(const char* format, Args... args) {
    char text[64];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}

// A command word followed by its numbers, formatted.
template <class... Args>
std::string Format(std::string_view word, const char* format, Args... args) {
    return std::string(word) + Format(format, args...);
}

// What an operation works with: the instance's storage and, when the port library is bound
// and a port handle is set, the protocol on that port.
class Operations {
  public:
    explicit Operations(Storage& s)
        : s_(s), link_(MakePortLink(static_cast<std::uint32_t>(s.Int(SPECT_PARAM_PORT_HANDLE)))) {
        if (link_) protocol_.emplace(*link_, ActiveClock(), &s.link);
    }

    bool Simulated() const { return s_.Int(SPECT_PARAM_SIMULATION) == 1; }
    bool HasPort() const { return protocol_.has_value(); }
    Protocol& P() { return *protocol_; }
    void Release() {
        if (protocol_) link_->SetUserData(kStateReleased);
    }
    int D() const { return s_.Int(SPECT_PARAM_WAVELENGTH_DECIMALS); }
    // Whether `g` numbers one of the model's gratings (0-based, fewer than
    // SPECT_PARAM_GRATINGS_PER_SET, within the table).
    bool GratingValid(std::int32_t g) const {
        return g >= 0 &&
               g < std::min<std::int32_t>(s_.Int(SPECT_PARAM_GRATINGS_PER_SET), kGratingsPerSet);
    }
    // The current grating (SPECT_PARAM_GRATING of SPECT_PARAM_GRATING_SET), or null when the
    // set or the number addresses none of the model's gratings.
    const Grating* Current() {
        Grating* set = s_.GratingSet();
        const std::int32_t g = s_.Int(SPECT_PARAM_GRATING);
        return set && GratingValid(g) ? &set[g] : nullptr;
    }
    // G / R of the current grating; none when either is unknown, 0 or not finite.
    std::optional<double> Scale() {
        const Grating* g = Current();
        const double r = s_.Int(SPECT_PARAM_REFERENCE_GROOVES);
        if (!g || !Usable(g->grooves) || !Usable(r)) return std::nullopt;
        return g->grooves / r;
    }
    // Steps per nanometre of the current grating; none when unknown, 0 or not finite.
    std::optional<double> StepsPerNm() {
        const Grating* g = Current();
        if (!g || !Usable(g->steps_per_nm)) return std::nullopt;
        return g->steps_per_nm;
    }

    bool MoveToWavelength();
    bool MoveSlit();
    bool SetMirror();
    bool Reinitialize();
    bool Initialize() { return Simulated() || (HasPort() && P().Initialize()); }
    bool ReadPosition();
    bool RefreshAll();
    bool FindSlits();
    bool ReadBusyStatus();
    bool SelectGrating();
    bool SendL();
    bool SetSpeeds();
    bool ReadSpeeds();
    bool ReadSlitSpeed();

  private:
    // A move command's outcome; when the controller took it, the protocol is told (the busy
    // queries soon after it may go unanswered).
    bool Taken(bool taken) {
        if (taken) P().MoveTaken();
        return taken;
    }
    bool ReadGrating();
    bool ReadWavelength(double& wavelength);
    bool ReadSlit(int location, double& width);
    // WaitNotBusy, then a query whose reply is exactly `count` integers.
    bool QueryIntegers(const std::string& command, std::size_t count,
                       std::vector<std::int32_t>& out, bool wait = true);

    Storage& s_;
    std::unique_ptr<PortLink> link_;
    std::optional<Protocol> protocol_;
};

bool Operations::QueryIntegers(const std::string& command, std::size_t count,
                               std::vector<std::int32_t>& out, bool wait) {
    if (!HasPort() || (wait && !P().WaitNotBusy())) return false;
    std::string line;
    if (!P().Query(command, line)) return false;
    auto values = ParseIntegers(line, count);
    if (!values) return false;
    out = *values;
    return true;
}

// Every number is checked before anything is sent: an unknown grating, a target that is not
// finite, a step count beyond 32 bits or a command that does not stand for the target fails
// the move without a byte on the wire.
bool Operations::MoveToWavelength() {
    if (Simulated()) return true;
    const double target = s_.Double(SPECT_PARAM_TARGET_WAVELENGTH);
    if (!std::isfinite(target) || !HasPort()) return false;
    if (s_.wavelength_command) {
        double v = target;
        double scale = 1.0;
        if (s_.grating_command) {
            const std::optional<double> usable = Scale();
            if (!usable) return false;
            scale = *usable;
            v = scale * v;
        }
        if (!Steps(v * std::pow(10.0, std::max(D(), 0)))) return false;  // fits the rounding
        if (s_.grating_command) v = RoundTo(v, D());
        const double unit = std::pow(10.0, -std::max(D(), 0)) / scale;
        if (!Represents(target, v, v / scale, unit, D())) return false;
        return P().WaitNotBusy() &&
               Taken(P().Exchange(Format(command::kMoveToValue, "%7.*f", D(), v)));
    }
    const std::optional<double> steps_per_nm = StepsPerNm();
    if (!steps_per_nm) return false;
    const std::optional<std::int32_t> target_steps = Steps(*steps_per_nm * target);
    if (!target_steps ||
        !Represents(target, *target_steps, *target_steps / *steps_per_nm, 1.0 / *steps_per_nm, D()))
        return false;
    if (!P().WaitNotBusy()) return false;
    std::string line;
    if (!P().Query(std::string(command::kReadSteps), line)) return false;
    auto position = ParseIntegers(line, 1);
    if (!position) return false;
    std::int64_t t = *target_steps;
    const std::int64_t lowest =
        -static_cast<std::int64_t>(s_.Int(SPECT_PARAM_WAVELENGTH_STEP_LIMIT));
    if (t < lowest) t = lowest;
    const std::int64_t move = t - (*position)[0];
    if (move < std::numeric_limits<std::int32_t>::min() ||
        move > std::numeric_limits<std::int32_t>::max())
        return false;
    return Taken(
        P().Exchange(Format(command::kMoveSteps, "%" PRId32, static_cast<std::int32_t>(move))));
}

// An unknown (0) slit steps-per-millimetre, a width no step count stands for or a location
// outside the four slit locations fails the move without a byte sent.
bool Operations::MoveSlit() {
    const double steps_per_mm = s_.Double(SPECT_PARAM_SLIT_STEPS_PER_MM);
    const double width = s_.Double(SPECT_PARAM_TARGET_SLIT_WIDTH);
    const std::optional<std::int32_t> target_steps = Steps(steps_per_mm * width);
    const std::int32_t location = s_.Int(SPECT_PARAM_TARGET_SLIT_LOCATION);
    if (!Usable(steps_per_mm) || !target_steps ||
        !Represents(width, *target_steps, *target_steps / steps_per_mm, 1.0 / steps_per_mm,
                    kSlitWidthDecimals) ||
        !SlitLocationValid(location) || !HasPort() || !P().WaitNotBusy())
        return false;
    std::string line;
    if (!P().Query(Format(command::kReadSlit, "%d", location), line)) return false;
    auto position = ParseIntegers(line, 1);
    if (!position) return false;
    std::int64_t t = *target_steps;
    const std::int64_t lowest = -static_cast<std::int64_t>(s_.Int(SPECT_PARAM_SLIT_STEP_LIMIT));
    if (t < lowest) t = lowest;
    const std::int64_t move = t - (*position)[0];
    if (move < std::numeric_limits<std::int32_t>::min() ||
        move > std::numeric_limits<std::int32_t>::max())
        return false;
    return Taken(P().Exchange(
        Format(command::kMoveSlit, "%d,%" PRId32, location, static_cast<std::int32_t>(move))));
}

bool Operations::SetMirror() {
    const std::int32_t location = s_.Int(SPECT_PARAM_TARGET_MIRROR_LOCATION),
                       position = s_.Int(SPECT_PARAM_TARGET_MIRROR_POSITION);
    struct Row {
        std::int32_t location, position;
        std::string_view word;
    };
    static constexpr Row kCommands[] = {
        {MIR_LOC_ENTRANCE, MIR_POS_SIDE, command::kEntranceMirrorSide},
        {MIR_LOC_ENTRANCE, MIR_POS_FRONT, command::kEntranceMirrorFront},
        {MIR_LOC_EXIT, MIR_POS_SIDE, command::kExitMirrorSide},
        {MIR_LOC_EXIT, MIR_POS_FRONT, command::kExitMirrorFront}};
    std::string_view word;
    for (const Row& row : kCommands)
        if (row.location == location && row.position == position) word = row.word;
    if (word.empty() || !HasPort() || !P().WaitNotBusy()) return false;
    return Taken(P().Exchange(std::string(word)));
}

bool Operations::Reinitialize() {
    if (Simulated()) return true;
    if (!HasPort() || !P().WaitNotBusy() || !P().SendByte(command::kReinitialize)) return false;
    const bool ok = (link_->SetUserData(kStateCompletionPending) & 0xFF) != 0;
    s_.current_grating = 1;
    for (int i = 0; i < std::min<std::int32_t>(s_.Int(SPECT_PARAM_SLIT_COUNT), kSlits); ++i)
        s_.slits[i].width = 0;
    for (Mirror& m : s_.mirrors)
        m.position = MIR_POS_FRONT;
    s_.grating_known = 1;
    return ok;
}

// Controllers without the grating commands cannot report the grating: the known one stays.
// A reported number must fit the 16-bit grating parameters with its 1-based form.
bool Operations::ReadGrating() {
    if (Simulated()) {
        s_.current_grating = 1;
        return true;
    }
    if (!s_.grating_known || !s_.grating_command) return true;
    std::vector<std::int32_t> n;
    bool ok = QueryIntegers(std::string(command::kReadGrating), 1, n);
    ok = ok && n[0] >= 0 && n[0] < std::numeric_limits<std::int16_t>::max();
    if (ok) {
        s_.SetInt(SPECT_PARAM_GRATING, n[0]);
        s_.current_grating = static_cast<std::int16_t>(n[0] + 1);
    }
    Release();
    return ok;
}

// The scale factor is checked before anything is sent.
bool Operations::ReadWavelength(double& wavelength) {
    if (Simulated()) {
        wavelength = 0.0;
        return true;
    }
    if (!HasPort()) return false;
    std::string line;
    if (s_.wavelength_command) {
        const std::optional<double> scale = s_.grating_command ? Scale() : 1.0;
        if (!scale || !P().WaitNotBusy() || !P().Query(std::string(command::kReadValue), line))
            return false;
        const std::optional<double> v = ParseReal(line);
        if (!v) return false;
        wavelength = s_.grating_command ? RoundTo(*v / *scale, D()) : *v;
        return true;
    }
    const std::optional<double> steps_per_nm = StepsPerNm();
    if (!steps_per_nm || !P().WaitNotBusy() || !P().Query(std::string(command::kReadSteps), line))
        return false;
    const auto steps = ParseIntegers(line, 1);
    if (!steps) return false;
    wavelength = (*steps)[0] / *steps_per_nm;
    return true;
}

bool Operations::ReadSlit(int location, double& width) {
    if (Simulated()) {
        width = 10 / s_.Double(SPECT_PARAM_SLIT_STEPS_PER_MM);
        return true;
    }
    if (!SlitLocationValid(location) || !HasPort() ||
        !Usable(s_.Double(SPECT_PARAM_SLIT_STEPS_PER_MM)))
        return false;
    std::vector<std::int32_t> n;
    const bool ok = QueryIntegers(Format(command::kReadSlit, "%d", location), 1, n, false);
    if (ok)
        width =
            RoundTo(n[0] / s_.Double(SPECT_PARAM_SLIT_STEPS_PER_MM) + 0.005, kSlitWidthDecimals);
    Release();
    return ok;
}

bool Operations::ReadPosition() {
    double wavelength = 0;
    if (!ReadGrating() || !ReadWavelength(wavelength)) return false;
    s_.SetDouble(SPECT_PARAM_WAVELENGTH, RoundTo(wavelength, D()));
    for (int i = 0; i < std::min<std::int32_t>(s_.Int(SPECT_PARAM_SLIT_COUNT), kSlits); ++i) {
        double width = s_.slits[i].width;
        if (ReadSlit(s_.slits[i].location, width)) s_.slits[i].width = width;
    }
    return true;
}

bool Operations::RefreshAll() {
    s_.SetInt(SPECT_PARAM_REFRESHED, 0);
    const std::int32_t set = s_.Int(SPECT_PARAM_NAMED_GRATING_SET) - 1;
    bool ok = set >= 0 && set < kGratingSets;
    if (ok) {
        for (int i = 0;
             i < std::min<std::int32_t>(s_.Int(SPECT_PARAM_GRATINGS_PER_SET), kGratingsPerSet);
             ++i) {
            Grating& g = s_.gratings[set][i];
            g.grooves = kNamedGrooves;
            std::snprintf(g.name, sizeof g.name, "Grating %d", i + 1);
            g.steps_per_nm = s_.Double(SPECT_PARAM_DEFAULT_STEPS_PER_NM);
        }
    }
    double wavelength = 0;
    ok = ok && ReadGrating() && ReadWavelength(wavelength);
    if (ok) s_.SetDouble(SPECT_PARAM_WAVELENGTH, RoundTo(wavelength, D()));
    ok = ok && ReadSpeeds() && ReadSlitSpeed();
    s_.SetInt(SPECT_PARAM_REFRESHED, ok ? 1 : 0);
    return ok;
}

bool Operations::FindSlits() {
    s_.mirrors[0] = {MIR_LOC_ENTRANCE, MIR_POS_FRONT};
    s_.mirrors[1] = {MIR_LOC_EXIT, MIR_POS_FRONT};
    for (Slit& slit : s_.slits)
        slit = Slit{};
    s_.SetDouble(SPECT_PARAM_SLIT_STEPS_PER_MM, s_.Double(SPECT_PARAM_DEFAULT_SLIT_STEPS_PER_MM));
    s_.SetInt(SPECT_PARAM_SLIT_COUNT, 0);
    for (int location = SLIT_LOC_FR_ENTR; location < NUM_SLIT_LOCATION; ++location) {
        double width = 0;
        if (!ReadSlit(location, width)) continue;
        const std::int32_t n = s_.Int(SPECT_PARAM_SLIT_COUNT);
        s_.slits[n] = Slit{static_cast<std::int16_t>(location), width};
        s_.SetInt(SPECT_PARAM_SLIT_COUNT, n + 1);
    }
    return true;
}

bool Operations::ReadBusyStatus() {
    if (!HasPort()) return false;
    s_.SetInt(SPECT_PARAM_BUSY_STATUS, P().QueryBusy());
    return true;
}

// A grating number outside the model's gratings is refused before anything is sent; for
// "b0"/"a0" the busy query runs first and only numbers 0 and 1 have a command.
bool Operations::SelectGrating() {
    if (Simulated()) return true;
    const std::int32_t g = s_.Int(SPECT_PARAM_GRATING);
    if (s_.grating_command && !GratingValid(g)) return false;
    if (!HasPort() || !P().WaitNotBusy()) return false;
    if (s_.grating_command) return Taken(P().Exchange(Format(command::kSelectGrating, "%d", g)));
    if (g != 0 && g != 1) return false;
    if (!Taken(
            P().Exchange(std::string(g == 0 ? command::kFirstGrating : command::kSecondGrating))))
        return false;
    s_.grating_known = 0;
    return true;
}

bool Operations::SendL() {
    if (Simulated()) return true;
    if (!HasPort() || !P().Stop()) return false;
    return (link_->SetUserData(kStateReleased) & 0xFF) != 0;
}

// Truncated, taken as unsigned 32-bit, clamped to [100, upper] (negative counts as above).
std::uint32_t ClampSpeed(double value, double upper_bound) {
    const auto upper = static_cast<std::uint32_t>(upper_bound);
    auto v = static_cast<std::uint32_t>(Truncate(value));
    return v > upper ? upper : v < kSpeedMin ? static_cast<std::uint32_t>(kSpeedMin) : v;
}

bool Operations::SetSpeeds() {
    bool ok = false;
    if (s_.Int(SPECT_PARAM_SPEED_COUNT) > 0 && s_.Int(SPECT_PARAM_SIMULATION) == 0 && HasPort()) {
        ok = P().Exchange(Format(command::kSetSpeeds, "%" PRIu32 ",%" PRIu32 ",%" PRIu32,
                                 ClampSpeed(s_.speeds[0][0], kSpeedMax),
                                 ClampSpeed(s_.speeds[0][1], kSpeedMax),
                                 ClampSpeed(s_.speeds[0][2], kRampMax)));
    }
    Release();
    return ok;
}

bool Operations::ReadSpeeds() {
    if (s_.Int(SPECT_PARAM_SPEED_COUNT) <= 0) return false;
    if (Simulated()) {
        s_.speeds[0][0] = kSpeedMax, s_.speeds[0][1] = kSpeedMax, s_.speeds[0][2] = kRampMax;
        return true;
    }
    if (!HasPort()) return false;
    std::string line;
    bool ok = false;
    if (P().Query(std::string(command::kReadSpeeds), line)) {
        auto v = ParseIntegers(line, 3);
        ok = v.has_value();
        if (ok)
            s_.speeds[0][0] = (*v)[0], s_.speeds[0][1] = (*v)[1], s_.speeds[0][2] = (*v)[2];
        else
            s_.speeds[0][0] = kSpeedMax, s_.speeds[0][1] = kSpeedMax, s_.speeds[0][2] = kRampMax;
    }
    Release();
    return ok;
}

bool Operations::ReadSlitSpeed() {
    if (s_.Int(SPECT_PARAM_SPEED_COUNT) <= 0) return false;
    if (Simulated()) {
        s_.slit_speeds[0][0] = kSlitSpeedDefault;
        return true;
    }
    if (!HasPort()) return false;
    const std::int32_t location = s_.Int(SPECT_PARAM_TARGET_SLIT_LOCATION);
    std::string line;
    bool ok = false;
    if (SlitLocationValid(location) &&
        P().Query(Format(command::kReadSlitSpeed, "%d", location), line)) {
        auto v = ParseIntegers(line, 1);
        ok = v.has_value();
        s_.slit_speeds[0][0] = ok ? (*v)[0] : kSlitSpeedDefault;
    }
    Release();
    return ok;
}

using OperationFn = bool (Operations::*)();

bool RoundValueOp(Storage& s) {
    s.SetDouble(SPECT_PARAM_ROUND_VALUE,
                RoundTo(s.Double(SPECT_PARAM_ROUND_VALUE), s.Int(SPECT_PARAM_WAVELENGTH_DECIMALS)));
    return true;
}

struct OperationEntry {
    SPECT_OPERATIONS number;
    OperationFn run;  // null: handled without the port (rounding, no action)
};

constexpr OperationEntry kOperations[] = {
    {SPECT_OP_MOVE_TO_WAVELENGTH, &Operations::MoveToWavelength},
    {SPECT_OP_MOVE_SLIT, &Operations::MoveSlit},
    {SPECT_OP_SET_MIRROR, &Operations::SetMirror},
    {SPECT_OP_REINITIALIZE, &Operations::Reinitialize},
    {SPECT_OP_INITIALIZE, &Operations::Initialize},
    {SPECT_OP_ROUND_VALUE, nullptr},
    {SPECT_OP_READ_POSITION, &Operations::ReadPosition},
    {SPECT_OP_REFRESH_ALL, &Operations::RefreshAll},
    {SPECT_OP_FIND_SLITS, &Operations::FindSlits},
    {SPECT_OP_READ_BUSY_STATUS, &Operations::ReadBusyStatus},
    {SPECT_OP_SELECT_GRATING, &Operations::SelectGrating},
    {SPECT_OP_SEND_L, &Operations::SendL},
    {SPECT_OP_SET_SPEEDS, &Operations::SetSpeeds},
    {SPECT_OP_NO_ACTION, nullptr},
    {SPECT_OP_READ_SPEEDS, &Operations::ReadSpeeds},
    {SPECT_OP_READ_SLIT_SPEED, &Operations::ReadSlitSpeed},
};

}  // namespace

std::optional<bool> RunOperation(Storage& storage, std::uint32_t operation) {
    for (const OperationEntry& entry : kOperations) {
        if (static_cast<std::uint32_t>(entry.number) != operation) continue;
        if (entry.number == SPECT_OP_ROUND_VALUE) return RoundValueOp(storage);
        if (!entry.run) return true;
        Operations ops(storage);
        return (ops.*entry.run)();
    }
    return std::nullopt;
}

}  // namespace monodrv
