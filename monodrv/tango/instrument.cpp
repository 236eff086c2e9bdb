#include "monodrv/tango/instrument.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>

#include "monodrv.h"
#include "monodrv/ctl/limits.h"
#include "telx32.h"

namespace monodrv::server {
namespace {

constexpr auto kBusyPoll = std::chrono::milliseconds(50);
// How often an idle instrument is asked something, so that a controller switched off or a
// cable pulled shows as FAULT before anyone asks for a move.
constexpr auto kHealthPeriod = std::chrono::seconds(2);
constexpr const char* kSlitNames[] = {"front entrance", "side entrance", "front exit", "side exit"};
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

SPECT_HANDLE H(void* handle) {
    return static_cast<SPECT_HANDLE>(handle);
}

std::string Nm(double nm) {
    char text[64];
    std::snprintf(text, sizeof text, "%.4f nm", nm);
    return text;
}

}  // namespace

const char* PhaseName(Phase phase) {
    switch (phase) {
        case Phase::Init:
            return "INIT";
        case Phase::On:
            return "ON";
        case Phase::Moving:
            return "MOVING";
        case Phase::Fault:
            return "FAULT";
    }
    return "UNKNOWN";
}

Instrument::Instrument(Settings settings, std::function<void(const Snapshot&)> changed)
    : settings_(std::move(settings)), changed_(std::move(changed)) {
    // What the model allows is known without a port: the driver's catalogue.
    SPECT_HANDLE probe = SPECT_CreateSpectrograph(settings_.model);
    std::uint32_t gratings = 0, limit = 0;
    double per_nm = 0;
    SPECT_GetULongParam(probe, SPECT_PARAM_GRATINGS_PER_SET, &gratings, 0);
    SPECT_GetULongParam(probe, SPECT_PARAM_WAVELENGTH_STEP_LIMIT, &limit, 0);
    SPECT_GetDblParam(probe, SPECT_PARAM_DEFAULT_STEPS_PER_NM, &per_nm, 0);
    SPECT_DestroySpectrograph(probe);
    gratings_ = static_cast<std::int32_t>(gratings);
    range_ = {per_nm > 0 ? -static_cast<double>(limit) / per_nm : limits::kWavelength.low,
              limits::kWavelength.high};
    snapshot_.slits.fill(kNaN);
    worker_ = std::thread([this] { Work(); });
}

Instrument::~Instrument() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ending_ = true;
    }
    stop_asked_ = false;
    wake_.notify_all();
    worker_.join();
    if (handle_) SPECT_DestroySpectrograph(H(handle_));
    if (port_) TELX_Destroy(port_);
}

Snapshot Instrument::Now() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return snapshot_;
}

void Instrument::Update(const std::function<void(Snapshot&)>& change) {
    Snapshot now;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        change(snapshot_);
        now = snapshot_;
    }
    if (changed_) changed_(now);
}

void Instrument::Fail(const std::string& status) {
    Update([&](Snapshot& s) {
        s.phase = Phase::Fault;
        s.status = status;
        s.busy = false;
    });
}

// A request is taken only when the instrument is idle (Stop at any time); it is refused with
// the reason otherwise.
void Instrument::Submit(const Request& request, const std::string& doing) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (request.kind != Request::StopNow) {
            if (snapshot_.phase == Phase::Moving || !requests_.empty())
                throw Refused(
                    "the spectrograph is moving: wait until it is ON again, or send "
                    "Stop");
            if (snapshot_.phase == Phase::Init)
                throw Refused("the spectrograph is starting: wait until it is ON");
            if (snapshot_.phase == Phase::Fault)
                throw Refused("the spectrograph is in FAULT (" + snapshot_.status +
                              "); run Init when the cause is mended");
            snapshot_.phase = Phase::Moving;  // taken: the next request sees it at once
            snapshot_.busy = true;
            snapshot_.status = doing;
        } else if (snapshot_.phase == Phase::Moving) {
            stop_asked_ = true;
            return;
        } else if (snapshot_.phase != Phase::On) {
            throw Refused("the spectrograph is not ON: nothing to stop");
        }
        requests_.push_back(request);
    }
    wake_.notify_all();
}

void Instrument::MoveTo(double nm) {
    if (!std::isfinite(nm) || nm < range_[0] || nm > range_[1])
        throw Refused(Nm(nm) + " is outside the " + settings_.title + "'s range (" + Nm(range_[0]) +
                      " to " + Nm(range_[1]) + ")");
    Submit({Request::Move, nm, {}}, "moving to " + Nm(nm));
}

void Instrument::SelectGrating(std::int32_t number) {
    if (number < 1 || number > gratings_)
        throw Refused("the " + settings_.title + " has gratings 1-" + std::to_string(gratings_));
    Submit({Request::Grating, 0, {number, 0, 0}}, "selecting grating " + std::to_string(number));
}

void Instrument::MoveSlit(int location, double mm) {
    if (!std::isfinite(mm) || mm < limits::kSlitWidth.low || mm > limits::kSlitWidth.high)
        throw Refused("a slit width is 0-100 mm");
    if (std::isnan(Now().slits[static_cast<std::size_t>(location)]))
        throw Refused(std::string("this instrument has no ") + kSlitNames[location] + " slit");
    char width[32];
    std::snprintf(width, sizeof width, "%.2f mm", mm);
    Submit({Request::Slit, mm, {location, 0, 0}},
           std::string("moving the ") + kSlitNames[location] + " slit to " + width);
}

void Instrument::SetMirror(int location, int position) {
    if (position != MIR_POS_FRONT && position != MIR_POS_SIDE)
        throw Refused("a mirror position is front or side");
    Submit({Request::Mirror, 0, {location, position, 0}},
           std::string("switching the ") + (location == MIR_LOC_ENTRANCE ? "entrance" : "exit") +
               " mirror to the " + (position == MIR_POS_FRONT ? "front" : "side"));
}

void Instrument::SetSpeeds(const std::array<std::int32_t, 3>& speeds) {
    if (speeds[0] < 0 || speeds[1] < 0 || speeds[2] < 0 || speeds[0] > speeds[1])
        throw Refused(
            "speeds are MIN, MAX, RAMP, none negative, the minimum not above the "
            "maximum");
    Submit({Request::Speeds, 0, speeds}, "setting the speeds");
}

void Instrument::Reinitialize() {
    Submit({Request::Reinit, 0, {}}, "re-initialising the mechanics (up to 300 s)");
}

void Instrument::Stop() {
    Submit({Request::StopNow, 0, {}}, "stopping");
}

bool Instrument::Process(std::uint32_t operation, const char* what) {
    std::uint32_t error = 0;
    if (SPECT_Process(H(handle_), operation) &&
        SPECT_GetULongParam(H(handle_), SPECT_PARAM_ERROR_CODE, &error, 0) && error == 0)
        return true;
    if (operation == SPECT_OP_INITIALIZE)
        Fail("no answer from the controller on " + settings_.port + " at " +
             std::to_string(settings_.baud) +
             " baud: check that it is switched on and connected, the cable, the baud rate "
             "(property Baud) and the model (property Model)");
    else
        Fail(std::string(what) + " failed: the controller did not answer or refused the command");
    return false;
}

// Opens the port, greets the controller and reads what the instrument has; FAULT with the
// reason when any of it fails.
bool Instrument::Start() {
    port_ = TELX_Create_physical_port_ex(settings_.port.c_str(), settings_.baud);
    if (!port_) {
        char reason[512] = "";
        if (!TELX_Diagnose_Interface(0, reason, sizeof reason))
            std::snprintf(reason, sizeof reason, "%s cannot be opened", settings_.port.c_str());
        Fail(reason);
        return false;
    }
    handle_ = SPECT_CreateSpectrograph(settings_.model);
    if (!handle_) {
        Fail("the driver could not create an instance");
        return false;
    }
    SPECT_SetULongParam(H(handle_), SPECT_PARAM_PORT_HANDLE, port_, 0);
    if (!Process(SPECT_OP_INITIALIZE, "the start-up handshake") ||
        !Process(SPECT_OP_REFRESH_ALL, "reading the gratings and position"))
        return false;
    std::uint32_t reference = 0;
    double per_nm = 0;
    SPECT_GetULongParam(H(handle_), SPECT_PARAM_REFERENCE_GROOVES, &reference, 0);
    SPECT_GetDblParam(H(handle_), SPECT_PARAM_DEFAULT_STEPS_PER_NM, &per_nm, 0);
    for (std::size_t i = 0; i < settings_.grooves.size(); ++i) {
        const auto index = static_cast<std::int16_t>(i);
        SPECT_SetDblParam(H(handle_), SPECT_PARAM_GROOVE_DENSITY, settings_.grooves[i], index);
        SPECT_SetDblParam(H(handle_), SPECT_PARAM_STEPS_PER_NM,
                          per_nm * settings_.grooves[i] / reference, index);
    }
    if (!Process(SPECT_OP_FIND_SLITS, "finding the slits") || !ReadBack()) return false;
    Update([](Snapshot& s) {
        s.mirrors = {MIR_POS_FRONT, MIR_POS_FRONT};
        s.phase = Phase::On;
        s.status = "ready";
    });
    return true;
}

// Reads the grating, wavelength, slit widths and speeds into the snapshot.
bool Instrument::ReadBack() {
    if (!Process(SPECT_OP_READ_POSITION, "reading the position") ||
        !Process(SPECT_OP_READ_SPEEDS, "reading the speeds"))
        return false;
    Snapshot read = Now();
    SPECT_GetDblParam(H(handle_), SPECT_PARAM_WAVELENGTH, &read.wavelength, 0);
    // Models that cannot report the grating keep the one selected last (0-based).
    std::uint32_t grating = 0;
    if (!SPECT_GetULongParam(H(handle_), SPECT_PARAM_CURRENT_GRATING, &grating, 0)) {
        SPECT_GetULongParam(H(handle_), SPECT_PARAM_GRATING, &grating, 0);
        ++grating;
    }
    read.grating = static_cast<std::int32_t>(grating);
    read.slits.fill(kNaN);
    std::uint32_t count = 0;
    SPECT_GetULongParam(H(handle_), SPECT_PARAM_SLIT_COUNT, &count, 0);
    for (std::uint32_t i = 0; i < count && i < 4; ++i) {
        std::uint32_t location = 0;
        double width = 0;
        SPECT_GetULongParam(H(handle_), SPECT_PARAM_SLIT_LOCATION, &location,
                            static_cast<std::int16_t>(i));
        SPECT_GetDblParam(H(handle_), SPECT_PARAM_SLIT_WIDTH, &width, static_cast<std::int16_t>(i));
        if (location < 4) read.slits[location] = width;
    }
    for (std::int16_t k = 0; k < 3; ++k) {
        double speed = 0;
        SPECT_GetDblParam(H(handle_), SPECT_PARAM_SPEEDS, &speed, k);
        read.speeds[static_cast<std::size_t>(k)] = static_cast<std::int32_t>(speed);
    }
    Update([&](Snapshot& s) {
        s.wavelength = read.wavelength;
        s.grating = read.grating;
        s.slits = read.slits;
        s.speeds = read.speeds;
        ++s.moves;
    });
    return true;
}

// Polls the busy query until the controller is ready; a Stop asked meanwhile is sent here,
// by the thread that owns the driver.
bool Instrument::WaitForEnd(const char* what, double limit_s) {
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (ending_) return false;  // the server ends: the controller finishes the move
        }
        if (stop_asked_.exchange(false) && !Process(SPECT_OP_SEND_L, "the stop")) return false;
        if (!Process(SPECT_OP_READ_BUSY_STATUS, "the busy query")) return false;
        std::uint32_t status = 0;
        SPECT_GetULongParam(H(handle_), SPECT_PARAM_BUSY_STATUS, &status, 0);
        const auto busy = static_cast<std::int32_t>(status);
        if (busy == SPECT_BUSY_READY) return true;
        if (busy == SPECT_BUSY_ERROR || busy == SPECT_BUSY_HELD) {
            Fail(std::string(what) + ": the controller reports an error");
            return false;
        }
        if (std::chrono::steady_clock::now() - start > std::chrono::duration<double>(limit_s)) {
            Fail(std::string(what) + " did not end within " + std::to_string(limit_s) +
                 " s: the controller still reports busy");
            return false;
        }
        std::this_thread::sleep_for(kBusyPoll);
    }
}

// One request: the inputs, the operation, the wait for the motor and the read-back. The
// driver's inputs are put back when the operation fails, so that the instance is as it was.
void Instrument::Run(const Request& r) {
    SPECT_HANDLE h = H(handle_);
    const char* what = "the move to the wavelength";
    std::uint32_t operation = SPECT_OP_MOVE_TO_WAVELENGTH;
    double limit = settings_.wait_limit_s;
    std::uint32_t grating_before = 0;
    SPECT_GetULongParam(h, SPECT_PARAM_GRATING, &grating_before, 0);
    switch (r.kind) {
        case Request::Move:
            SPECT_SetDblParam(h, SPECT_PARAM_TARGET_WAVELENGTH, r.value, 0);
            break;
        case Request::Grating:
            SPECT_SetULongParam(h, SPECT_PARAM_GRATING, static_cast<std::uint32_t>(r.n[0] - 1), 0);
            what = "the grating selection", operation = SPECT_OP_SELECT_GRATING;
            break;
        case Request::Slit:
            SPECT_SetULongParam(h, SPECT_PARAM_TARGET_SLIT_LOCATION,
                                static_cast<std::uint32_t>(r.n[0]), 0);
            SPECT_SetDblParam(h, SPECT_PARAM_TARGET_SLIT_WIDTH, r.value, 0);
            what = "the slit move", operation = SPECT_OP_MOVE_SLIT;
            break;
        case Request::Mirror:
            SPECT_SetULongParam(h, SPECT_PARAM_TARGET_MIRROR_LOCATION,
                                static_cast<std::uint32_t>(r.n[0]), 0);
            SPECT_SetULongParam(h, SPECT_PARAM_TARGET_MIRROR_POSITION,
                                static_cast<std::uint32_t>(r.n[1]), 0);
            what = "the mirror switch", operation = SPECT_OP_SET_MIRROR;
            break;
        case Request::Speeds:
            for (std::int16_t k = 0; k < 3; ++k)
                SPECT_SetDblParam(h, SPECT_PARAM_SPEEDS, r.n[static_cast<std::size_t>(k)], k);
            what = "setting the speeds", operation = SPECT_OP_SET_SPEEDS;
            break;
        case Request::Reinit:
            what = "the re-initialisation", operation = SPECT_OP_REINITIALIZE;
            limit = std::max(limit, limits::kReinitLimit);
            break;
        case Request::StopNow:
            what = "the stop", operation = SPECT_OP_SEND_L;
            break;
    }
    if (!Process(operation, what)) {
        SPECT_SetULongParam(h, SPECT_PARAM_GRATING, grating_before, 0);
        return;
    }
    if (!WaitForEnd(what, limit) || !ReadBack()) return;
    Update([&](Snapshot& s) {
        if (r.kind == Request::Mirror) s.mirrors[static_cast<std::size_t>(r.n[0] - 1)] = r.n[1];
        s.phase = Phase::On;
        s.busy = false;
        s.status = "ready";
    });
}

// An idle instrument is asked for its speeds now and then: a controller that stopped
// answering shows as FAULT.
void Instrument::HealthCheck() {
    if (Now().phase != Phase::On) return;
    if (!Process(SPECT_OP_READ_SPEEDS, "reading the speeds")) return;
}

void Instrument::Work() {
    if (!Start()) return;
    std::unique_lock<std::mutex> lock(mutex_);
    while (!ending_) {
        if (requests_.empty()) {
            if (!wake_.wait_for(lock, kHealthPeriod,
                                [this] { return ending_ || !requests_.empty(); })) {
                lock.unlock();
                HealthCheck();
                lock.lock();
            }
            continue;
        }
        const Request request = requests_.front();
        lock.unlock();
        Update([](Snapshot&) {});  // says the request taken (MOVING, and what it does)
        Run(request);
        lock.lock();
        requests_.pop_front();
    }
}

}  // namespace monodrv::server
