// The operations behind SPECT_Process: each computes its numbers from the parameters, sends
// its commands through the protocol and stores its results.
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <limits>

#include "monodrv/api/spectrograph.h"
#include "monodrv/control/protocol.h"

namespace monodrv {
namespace {

// A double converted toward zero to a 32-bit integer (saturating outside the range).
std::int32_t Truncate(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
    if (value <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

template <class... Args>
std::string Format(const char* format, Args... args) {
    char text[64];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}

// What an operation works with: the instance's storage and, when the port library is bound
// and a port handle is set, the protocol on that port.
class Operations {
  public:
    explicit Operations(Storage& s)
        : s_(s), link_(MakePortLink(static_cast<std::uint32_t>(s.Int(146)))) {
        if (link_) protocol_.emplace(*link_, ActiveClock());
    }

    bool Simulated() const { return s_.Int(148) == 1; }
    bool HasPort() const { return protocol_.has_value(); }
    Protocol& P() { return *protocol_; }
    void Release() {
        if (protocol_) link_->SetUserData(kStateReleased);
    }
    int D() const { return s_.Int(86); }
    Grating* Current() {
        Grating* set = s_.GratingSet();
        const std::int32_t g = s_.Int(169);
        return set && g >= 0 && g < kGratingsPerSet ? &set[g] : nullptr;
    }
    double Scale() {  // G / R
        Grating* g = Current();
        const double r = s_.Int(111);
        return g && r != 0 ? g->grooves / r : 0;
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

bool Operations::MoveToWavelength() {
    if (Simulated()) return true;
    if (!HasPort() || !P().WaitNotBusy()) return false;
    const double target = s_.Double(168);
    if (s_.wavelength_command) {
        double v = target;
        if (s_.grating_command) v = RoundTo(Scale() * v, D());
        return P().Exchange(Format("Z61,0,%7.*f", D(), v));
    }
    std::string line;
    if (!P().Query("H0", line)) return false;
    auto position = ParseIntegers(line, 1);
    if (!position) return false;
    Grating* g = Current();
    std::int64_t t = Truncate((g ? g->steps_per_nm : 0) * target);
    if (t < -static_cast<std::int64_t>(s_.Int(119))) t = -static_cast<std::int64_t>(s_.Int(119));
    const std::int64_t move = t - (*position)[0];
    if (move < std::numeric_limits<std::int32_t>::min() ||
        move > std::numeric_limits<std::int32_t>::max())
        return false;
    return P().Exchange(Format("F0,%" PRId32, static_cast<std::int32_t>(move)));
}

bool Operations::MoveSlit() {
    if (!HasPort() || !P().WaitNotBusy()) return false;
    const std::int32_t location = s_.Int(170);
    std::string line;
    if (!P().Query(Format("j0,%d", location), line)) return false;
    auto position = ParseIntegers(line, 1);
    if (!position) return false;
    std::int64_t t = Truncate(s_.Double(66) * s_.Double(171));
    if (t < -static_cast<std::int64_t>(s_.Int(125))) t = -static_cast<std::int64_t>(s_.Int(125));
    const std::int64_t move = t - (*position)[0];
    if (move < std::numeric_limits<std::int32_t>::min() ||
        move > std::numeric_limits<std::int32_t>::max())
        return false;
    return P().Exchange(Format("k0,%d,%" PRId32, location, static_cast<std::int32_t>(move)));
}

bool Operations::SetMirror() {
    const std::int32_t location = s_.Int(165), position = s_.Int(166);
    const char* command = location == 1 && position == 2   ? "c0"
                          : location == 1 && position == 1 ? "d0"
                          : location == 2 && position == 2 ? "e0"
                          : location == 2 && position == 1 ? "f0"
                                                           : nullptr;
    if (!command || !HasPort() || !P().WaitNotBusy()) return false;
    return P().Exchange(command);
}

bool Operations::Reinitialize() {
    if (Simulated()) return true;
    if (!HasPort() || !P().WaitNotBusy() || !P().SendByte('A')) return false;
    const bool ok = (link_->SetUserData(kStateCompletionPending) & 0xFF) != 0;
    s_.current_grating = 1;
    for (int i = 0; i < std::min<std::int32_t>(s_.Int(158), kSlits); ++i)
        s_.slits[i].width = 0;
    for (Mirror& m : s_.mirrors)
        m.position = MIR_POS_FRONT;
    s_.grating_known = 1;
    return ok;
}

bool Operations::ReadGrating() {
    if (Simulated()) {
        s_.current_grating = 1;
        return true;
    }
    if (!s_.grating_known) return true;
    std::vector<std::int32_t> n;
    const bool ok = QueryIntegers("Z452,0,0,0", 1, n);
    if (ok) {
        s_.SetInt(169, static_cast<std::int16_t>(n[0]));
        s_.current_grating = static_cast<std::int16_t>(n[0] + 1);
    }
    Release();
    return ok;
}

bool Operations::ReadWavelength(double& wavelength) {
    if (Simulated()) {
        wavelength = 0.0;
        return true;
    }
    if (!HasPort() || !P().WaitNotBusy()) return false;
    std::string line;
    if (s_.wavelength_command) {
        if (!P().Query("Z62,0", line)) return false;
        auto v = ParseReal(line);
        if (!v) return false;
        if (s_.grating_command) {
            const double scale = Scale();
            if (scale == 0) return false;
            wavelength = RoundTo(*v / scale, D());
        } else {
            wavelength = *v;
        }
        return true;
    }
    if (!P().Query("H0", line)) return false;
    auto steps = ParseIntegers(line, 1);
    Grating* g = Current();
    if (!steps || !g || g->steps_per_nm == 0) return false;
    wavelength = (*steps)[0] / g->steps_per_nm;
    return true;
}

bool Operations::ReadSlit(int location, double& width) {
    if (Simulated()) {
        width = 10 / s_.Double(66);
        return true;
    }
    if (location < 0 || location > 3 || !HasPort()) return false;
    static const char* const kReads[] = {"j0,0", "j0,1", "j0,2", "j0,3"};
    std::vector<std::int32_t> n;
    const bool ok = QueryIntegers(kReads[location], 1, n, false) && s_.Double(66) != 0;
    if (ok) width = RoundTo(n[0] / s_.Double(66) + 0.005, 2);
    Release();
    return ok;
}

bool Operations::ReadPosition() {
    double wavelength = 0;
    if (!ReadGrating() || !ReadWavelength(wavelength)) return false;
    s_.doubles[154] = RoundTo(wavelength, D());
    for (int i = 0; i < std::min<std::int32_t>(s_.Int(158), kSlits); ++i) {
        double width = s_.slits[i].width;
        if (ReadSlit(s_.slits[i].location, width)) s_.slits[i].width = width;
    }
    return true;
}

bool Operations::RefreshAll() {
    s_.SetInt(132, 0);
    const std::int32_t set = s_.Int(150) - 1;
    bool ok = set >= 0 && set < kGratingSets;
    if (ok) {
        for (int i = 0; i < std::min<std::int32_t>(s_.Int(105), kGratingsPerSet); ++i) {
            Grating& g = s_.gratings[set][i];
            g.grooves = 1200.0;
            std::snprintf(g.name, sizeof g.name, "Grating %d", i + 1);
            g.steps_per_nm = s_.Double(114);
        }
    }
    double wavelength = 0;
    ok = ok && ReadGrating() && ReadWavelength(wavelength);
    if (ok) s_.doubles[154] = RoundTo(wavelength, D());
    ok = ok && ReadSpeeds() && ReadSlitSpeed();
    s_.SetInt(132, ok ? 1 : 0);
    return ok;
}

bool Operations::FindSlits() {
    s_.mirrors[0] = {MIR_LOC_ENTRANCE, MIR_POS_FRONT};
    s_.mirrors[1] = {MIR_LOC_EXIT, MIR_POS_FRONT};
    for (Slit& slit : s_.slits)
        slit = Slit{};
    s_.doubles[66] = s_.Double(120);
    s_.SetInt(158, 0);
    for (int location = 0; location < 4; ++location) {
        double width = 0;
        if (!ReadSlit(location, width)) continue;
        const std::int32_t n = s_.Int(158);
        s_.slits[n] = Slit{static_cast<std::int16_t>(location), width};
        s_.SetInt(158, n + 1);
    }
    return true;
}

bool Operations::ReadBusyStatus() {
    if (!HasPort()) return false;
    s_.SetInt(172, P().QueryBusy());
    return true;
}

bool Operations::SelectGrating() {
    if (Simulated()) return true;
    if (!HasPort() || !P().WaitNotBusy()) return false;
    const std::int32_t g = s_.Int(169);
    if (s_.grating_command) return P().Exchange(Format("Z451,0,0,0,%d", g));
    if (g != 0 && g != 1) return false;
    if (!P().Exchange(g == 0 ? "b0" : "a0")) return false;
    s_.grating_known = 0;
    return true;
}

bool Operations::SendL() {
    if (Simulated()) return true;
    if (!HasPort() || !P().SendByte('L')) return false;
    return (link_->SetUserData(kStateReleased) & 0xFF) != 0;
}

// Truncated, taken as unsigned 32-bit, clamped to [100, upper] (negative counts as above).
std::uint32_t ClampSpeed(double value, std::uint32_t upper) {
    auto v = static_cast<std::uint32_t>(Truncate(value));
    return v > upper ? upper : v < 100 ? 100 : v;
}

bool Operations::SetSpeeds() {
    bool ok = false;
    if (s_.Int(43) > 0 && s_.Int(148) == 0 && HasPort()) {
        ok = P().Exchange(
            Format("B0,%" PRIu32 ",%" PRIu32 ",%" PRIu32, ClampSpeed(s_.speeds[0][0], 80000),
                   ClampSpeed(s_.speeds[0][1], 80000), ClampSpeed(s_.speeds[0][2], 65535)));
    }
    Release();
    return ok;
}

bool Operations::ReadSpeeds() {
    if (s_.Int(43) <= 0) return false;
    if (Simulated()) {
        s_.speeds[0][0] = 80000, s_.speeds[0][1] = 80000, s_.speeds[0][2] = 65535;
        return true;
    }
    if (!HasPort()) return false;
    std::string line;
    bool ok = false;
    if (P().Query("C0", line)) {
        auto v = ParseIntegers(line, 3);
        ok = v.has_value();
        if (ok)
            s_.speeds[0][0] = (*v)[0], s_.speeds[0][1] = (*v)[1], s_.speeds[0][2] = (*v)[2];
        else
            s_.speeds[0][0] = 80000, s_.speeds[0][1] = 80000, s_.speeds[0][2] = 65535;
    }
    Release();
    return ok;
}

bool Operations::ReadSlitSpeed() {
    if (s_.Int(43) <= 0) return false;
    if (Simulated()) {
        s_.slit_speeds[0][0] = 10000;
        return true;
    }
    if (!HasPort()) return false;
    std::string line;
    bool ok = false;
    if (P().Query(Format("h0,%d", s_.Int(170)), line)) {
        auto v = ParseIntegers(line, 1);
        ok = v.has_value();
        s_.slit_speeds[0][0] = ok ? (*v)[0] : 10000;
    }
    Release();
    return ok;
}

using OperationFn = bool (Operations::*)();

bool RoundValueOp(Storage& s) {
    s.doubles[144] = RoundTo(s.Double(144), s.Int(86));
    return true;
}

struct OperationEntry {
    std::uint32_t number;
    OperationFn run;  // null: handled without the port (5, 25)
};

constexpr OperationEntry kOperations[] = {
    {0, &Operations::MoveToWavelength}, {1, &Operations::MoveSlit},
    {2, &Operations::SetMirror},        {3, &Operations::Reinitialize},
    {4, &Operations::Initialize},       {5, nullptr},
    {8, &Operations::ReadPosition},     {9, &Operations::RefreshAll},
    {10, &Operations::FindSlits},       {11, &Operations::ReadBusyStatus},
    {12, &Operations::SelectGrating},   {18, &Operations::SendL},
    {24, &Operations::SetSpeeds},       {25, nullptr},
    {26, &Operations::ReadSpeeds},      {27, &Operations::ReadSlitSpeed},
};

}  // namespace

bool MonodrvSpectrograph::Process(std::uint32_t operation) {
    for (const OperationEntry& entry : kOperations) {
        if (entry.number != operation) continue;
        bool ok = true;
        if (operation == 5) {
            ok = RoundValueOp(storage_);
        } else if (entry.run) {
            Operations ops(storage_);
            ok = (ops.*entry.run)();
        }
        storage_.SetInt(173, ok ? kNoError : kFailed);
        return true;
    }
    storage_.SetInt(173, kNoError);
    return false;
}

}  // namespace monodrv
