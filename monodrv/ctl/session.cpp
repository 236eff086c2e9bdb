#include "monodrv/ctl/session.h"

#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "monodrv/ctl/limits.h"

namespace monodrv::ctl {

volatile std::sig_atomic_t g_interrupted = 0;

namespace {

constexpr auto kBusyPoll = std::chrono::milliseconds(50);

// The busy query's result in words.
const char* BusyWord(std::int32_t status) {
    switch (status) {
        case SPECT_BUSY_HELD:
            return "the host holds the port";
        case SPECT_BUSY_ERROR:
            return "error";
        case SPECT_BUSY_BUSY:
            return "busy";
        case SPECT_BUSY_NOT_VALID:
            return "status not valid";
        case SPECT_BUSY_READY:
            return "ready";
        default:
            return "unknown";
    }
}

// The slit locations and mirrors as a user names them.
constexpr const char* kSlitNames[] = {"front entrance", "side entrance", "front exit", "side exit"};

// Now in UTC, ISO 8601 with milliseconds.
std::string UtcNow() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(ms));
    return text;
}

// Sleeps `seconds`, returning early (false) when the run is interrupted.
bool Dwell(double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (g_interrupted) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return !g_interrupted;
}

// Runs `command` with /bin/sh, the scan's step in its environment: its exit status,
// -(kKilledBy + the signal) when a signal ended it, or -1 when it could not run.
constexpr int kKilledBy = 1000;
int RunAtStep(const std::string& command, double target, double at, int index) {
    char text[64];
    std::snprintf(text, sizeof text, "%.4f", at);  // as the scan's lines print it
    setenv("MONODRV_WAVELENGTH_NM", text, 1);
    std::snprintf(text, sizeof text, "%.4f", target);
    setenv("MONODRV_TARGET_NM", text, 1);
    setenv("MONODRV_STEP", std::to_string(index).c_str(), 1);
    std::fflush(stdout);
    const pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0)
        if (errno != EINTR) return -1;
    if (WIFSIGNALED(status)) return -kKilledBy - WTERMSIG(status);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

std::uint32_t Session::U(std::uint32_t param, std::int16_t index) {
    std::uint32_t v = 0;
    SPECT_GetULongParam(h_, param, &v, index);
    return v;
}

double Session::D(std::uint32_t param, std::int16_t index) {
    double v = 0;
    SPECT_GetDblParam(h_, param, &v, index);
    return v;
}

std::string Session::Nm(double nm) {
    char text[64];
    std::snprintf(
        text, sizeof text, "%.*f nm",
        static_cast<int>(std::clamp<std::uint32_t>(U(SPECT_PARAM_WAVELENGTH_DECIMALS), 0, 6)), nm);
    return text;
}

// Runs an operation; false, with the operation and the likely reason, when the driver
// reports it failed.
bool Session::Run(std::uint32_t operation, const char* what) {
    std::uint32_t error = 0;
    if (SPECT_Process(h_, operation) &&
        SPECT_GetULongParam(h_, SPECT_PARAM_ERROR_CODE, &error, 0) && error == 0)
        return true;
    if (operation == SPECT_OP_INITIALIZE)
        std::fprintf(stderr,
                     "monodrv-ctl: no answer from the controller on %s: check that it is "
                     "switched on and connected, the cable, the baud rate (--baud) and the "
                     "model (--model)\n",
                     port_.c_str());
    else
        std::fprintf(stderr, "monodrv-ctl: %s failed: %s\n", what, LikelyCause());
    return false;
}

// After a failed operation: a move still under way (its busy status), else what a controller
// that does not answer, refuses, or answers unreadably most likely means.
const char* Session::LikelyCause() {
    std::uint32_t status = 0;
    if (!waiting_.simulated && SPECT_Process(h_, SPECT_OP_READ_BUSY_STATUS) &&
        SPECT_GetULongParam(h_, SPECT_PARAM_BUSY_STATUS, &status, 0) &&
        static_cast<std::int32_t>(status) == SPECT_BUSY_BUSY)
        return "the controller is busy: a move is still under way (wait for it, or stop it)";
    if (waiting_.simulated) return "it needs the controller, which --simulate does without";
    return "the controller did not answer, refused the command or answered what the driver "
           "cannot read (check the cable, the baud rate and the model)";
}

// Waits until the controller no longer reports busy after `what`; false (with a message) when
// it reports an error, is still busy at the limit, or the run is interrupted. Returns at once
// with --no-wait and when simulated (no controller).
bool Session::WaitForEnd(const char* what, double limit_s) {
    if (!waiting_.wait || waiting_.simulated) return true;
    const auto start = std::chrono::steady_clock::now();
    const auto limit = std::chrono::duration<double>(limit_s);
    for (;;) {
        if (g_interrupted) return false;
        if (!Run(SPECT_OP_READ_BUSY_STATUS, "the busy query")) return false;
        const auto status = static_cast<std::int32_t>(U(SPECT_PARAM_BUSY_STATUS));
        if (status == SPECT_BUSY_READY) return true;
        if (status == SPECT_BUSY_ERROR || status == SPECT_BUSY_HELD) {
            std::fprintf(stderr, "monodrv-ctl: %s: the controller reports %s\n", what,
                         BusyWord(status));
            return false;
        }
        if (std::chrono::steady_clock::now() - start > limit) {
            std::fprintf(stderr,
                         "monodrv-ctl: %s did not end within %g s: the controller still "
                         "reports busy\n",
                         what, limit_s);
            return false;
        }
        std::this_thread::sleep_for(kBusyPoll);
    }
}

// Gives the gratings their groove densities (after the refresh named them all 1200), and the
// steps per nanometre that go with them.
bool Session::ApplyGrooves(const std::vector<double>& grooves) {
    const double reference = U(SPECT_PARAM_REFERENCE_GROOVES);
    for (std::size_t i = 0; i < grooves.size(); ++i) {
        const auto index = static_cast<std::int16_t>(i);
        const double steps = D(SPECT_PARAM_DEFAULT_STEPS_PER_NM) * grooves[i] / reference;
        if (!SPECT_SetDblParam(h_, SPECT_PARAM_GROOVE_DENSITY, grooves[i], index) ||
            !SPECT_SetDblParam(h_, SPECT_PARAM_STEPS_PER_NM, steps, index)) {
            std::fprintf(stderr, "monodrv-ctl: the driver did not take grating %zu's grooves\n",
                         i + 1);
            return false;
        }
    }
    return true;
}

// A move another run left going is waited for (within the limit) before anything is read.
bool Session::WaitForRest() {
    if (waiting_.simulated || !Run(SPECT_OP_READ_BUSY_STATUS, "the busy query")) return true;
    if (static_cast<std::int32_t>(U(SPECT_PARAM_BUSY_STATUS)) != SPECT_BUSY_BUSY) return true;
    std::fprintf(stderr, "monodrv-ctl: the motor is moving (a move under way): waiting for it\n");
    const Waiting asked = waiting_;
    waiting_.wait = true;
    const bool rest = WaitForEnd("the move under way", waiting_.limit_s);
    waiting_ = asked;
    return rest;
}

bool Session::Start(bool quick, const std::vector<double>& grooves) {
    if (!Run(SPECT_OP_INITIALIZE, "the start-up handshake")) return false;
    if (quick) return true;
    return WaitForRest() && Run(SPECT_OP_REFRESH_ALL, "reading the gratings and position") &&
           ApplyGrooves(grooves) && Run(SPECT_OP_FIND_SLITS, "finding the slits");
}

bool Session::ReadBack(double& at) {
    if (!Run(SPECT_OP_READ_POSITION, "reading the position")) return false;
    at = D(SPECT_PARAM_WAVELENGTH);
    return true;
}

// After a finished wavelength move: reads where the instrument went and says it when that is
// not the target (a model that clamps moves to its range of steps).
bool Session::CheckArrival(double target, double& at, bool warn) {
    if (!ReadBack(at)) return false;
    if (!warn) return true;
    // One controller step (or the last decimal the model gives) is no difference.
    double step = std::pow(10.0, -std::max<double>(U(SPECT_PARAM_WAVELENGTH_DECIMALS), 0));
    std::uint32_t grating = 0;
    if (SPECT_GetULongParam(h_, SPECT_PARAM_CURRENT_GRATING, &grating, 0) && grating > 0)
        if (const double per_nm =
                D(SPECT_PARAM_STEPS_PER_NM, static_cast<std::int16_t>(grating - 1));
            per_nm > 0)
            step = std::max(step, 1.0 / per_nm);
    if (std::fabs(at - target) > step * 1.01)
        std::fprintf(stderr,
                     "monodrv-ctl: warning: the instrument went to %.4f nm, not %.4f nm: the "
                     "target lies beyond the model's range of steps\n",
                     at, target);
    return true;
}

// Without waiting for the move: says where a model that clamps moves to its range of steps
// goes instead of a target below it, as the read-back would.
void Session::SayClamp(double target) {
    if (!waiting_.clamps) return;
    const double per_nm =
        D(SPECT_PARAM_STEPS_PER_NM, static_cast<std::int16_t>(U(SPECT_PARAM_GRATING)));
    const double lowest = -static_cast<double>(U(SPECT_PARAM_WAVELENGTH_STEP_LIMIT)) / per_nm;
    if (per_nm > 0 && target < lowest)
        std::fprintf(stderr,
                     "monodrv-ctl: warning: the instrument goes to %.4f nm, not %.4f nm: the "
                     "target lies beyond the model's range of steps\n",
                     lowest, target);
}

// A wavelength move: the command, the wait for its end and the position read back, said on
// standard output when `say`.
bool Session::Goto(double target, bool say) {
    SPECT_SetDblParam(h_, SPECT_PARAM_TARGET_WAVELENGTH, target, 0);
    if (!Run(SPECT_OP_MOVE_TO_WAVELENGTH, "the move to the wavelength")) return false;
    if (waiting_.simulated) {
        if (say) std::printf("goto %s simulated: no instrument moved\n", Nm(target).c_str());
        return true;
    }
    if (!waiting_.wait) {
        SayClamp(target);
        if (say) std::printf("moving to %s (not waited for)\n", Nm(target).c_str());
        return true;
    }
    double at = 0;
    if (!WaitForEnd("the move to the wavelength", waiting_.limit_s) ||
        !CheckArrival(target, at, say))
        return false;
    if (say) std::printf("moved to %s\n", Nm(at).c_str());
    return true;
}

// After set-speeds: says the speeds the instrument took when they differ from those asked.
bool Session::CheckSpeeds(const double asked[3]) {
    if (!Run(SPECT_OP_READ_SPEEDS, "reading the speeds")) return false;
    const double took[3] = {D(SPECT_PARAM_SPEEDS, 0), D(SPECT_PARAM_SPEEDS, 1),
                            D(SPECT_PARAM_SPEEDS, 2)};
    if (took[0] != std::trunc(asked[0]) || took[1] != std::trunc(asked[1]) ||
        took[2] != std::trunc(asked[2]))
        std::fprintf(stderr,
                     "monodrv-ctl: warning: the instrument took the speeds %.0f,%.0f,%.0f "
                     "(asked %.0f,%.0f,%.0f)\n",
                     took[0], took[1], took[2], asked[0], asked[1], asked[2]);
    std::printf("speeds set to %.0f,%.0f,%.0f\n", took[0], took[1], took[2]);
    return true;
}

bool Session::PrintPosition() {
    if (!Run(SPECT_OP_READ_POSITION, "reading the position")) return false;
    std::uint32_t grating = 0;
    if (SPECT_GetULongParam(h_, SPECT_PARAM_CURRENT_GRATING, &grating, 0))
        std::printf("grating %u\n", grating);
    if (waiting_.simulated)  // no instrument reported it
        std::printf("wavelength simulated (not modelled)\n");
    else
        std::printf("wavelength %.4f nm\n", D(SPECT_PARAM_WAVELENGTH));
    const std::uint32_t slits = U(SPECT_PARAM_SLIT_COUNT);
    for (std::uint32_t i = 0; i < slits; ++i) {
        char name[64] = "";
        const std::uint32_t location = U(SPECT_PARAM_SLIT_LOCATION, static_cast<std::int16_t>(i));
        SPECT_GetEnumString(h_, SPECT_PARAM_SLIT_LOCATION, location, name, sizeof name);
        std::printf("slit %u (%s) %.2f mm\n", location, name,
                    D(SPECT_PARAM_SLIT_WIDTH, static_cast<std::int16_t>(i)));
    }
    return true;
}

// True when the instrument found a slit at `location`; else says which it has.
bool Session::HasSlit(std::uint32_t location) {
    std::string fitted;
    const std::uint32_t slits = U(SPECT_PARAM_SLIT_COUNT);
    for (std::uint32_t i = 0; i < slits; ++i) {
        const std::uint32_t at = U(SPECT_PARAM_SLIT_LOCATION, static_cast<std::int16_t>(i));
        if (at == location) return true;
        fitted += (fitted.empty() ? "" : ", ") + std::to_string(at);
    }
    std::fprintf(stderr, "monodrv-ctl: this instrument has no slit %u (slits: %s)\n", location,
                 fitted.empty() ? "none" : fitted.c_str());
    return false;
}

bool Session::Slit(const Step& step) {
    const auto location = static_cast<std::uint32_t>(step.value[0]);
    if (!HasSlit(location)) return false;
    SPECT_SetULongParam(h_, SPECT_PARAM_TARGET_SLIT_LOCATION, location, 0);
    SPECT_SetDblParam(h_, SPECT_PARAM_TARGET_SLIT_WIDTH, step.value[1], 0);
    if (!Run(SPECT_OP_MOVE_SLIT, "the slit move") || !WaitForEnd("the slit move", waiting_.limit_s))
        return false;
    double width = step.value[1];
    if (waiting_.wait && !waiting_.simulated) {
        if (!Run(SPECT_OP_READ_POSITION, "reading the slit widths")) return false;
        for (std::uint32_t i = 0; i < U(SPECT_PARAM_SLIT_COUNT); ++i)
            if (U(SPECT_PARAM_SLIT_LOCATION, static_cast<std::int16_t>(i)) == location)
                width = D(SPECT_PARAM_SLIT_WIDTH, static_cast<std::int16_t>(i));
    }
    std::printf("%s slit %.2f mm\n", kSlitNames[location], width);
    return true;
}

// The stop byte, the wait for the motor and where it stopped.
bool Session::Stop() {
    if (!Run(SPECT_OP_SEND_L, "the stop")) return false;
    double at = 0;
    if (waiting_.simulated) {
        std::printf("stopped\n");
        return true;
    }
    if (!WaitForEnd("the stop", waiting_.limit_s) ||
        !Run(SPECT_OP_REFRESH_ALL, "reading the position") || !ReadBack(at))
        return false;
    std::printf("stopped at %s\n", Nm(at).c_str());
    return true;
}

void Session::StopAfterInterrupt() {
    const std::sig_atomic_t signal = g_interrupted;
    g_interrupted = 0;  // the waits below run to their end
    std::fprintf(stderr, "monodrv-ctl: interrupted: stopping the motor\n");
    Stop();
    g_interrupted = signal;
}

// One wavelength of a scan, approached from below so that gear backlash acts the same way at
// every step; `at` is where the instrument stands before and after.
bool Session::ScanStep(double target, int index, const ScanActions& actions, double& at) {
    if (at >= target && !Goto(target - limits::kApproachNm, false)) return false;
    if (!Goto(target, false)) return false;
    if (waiting_.simulated) {
        at = target;  // no instrument reported a position
        std::printf("%.4f\tsimulated\t%s\n", target, UtcNow().c_str());
    } else {
        if (!CheckArrival(target, at, true)) return false;
        std::printf("%.4f\t%.4f\t%s\n", target, at, UtcNow().c_str());
    }
    std::fflush(stdout);
    if (actions.dwell_s > 0 && !Dwell(actions.dwell_s)) return false;
    if (actions.exec.empty()) return true;
    const int status = RunAtStep(actions.exec, target, at, index);
    if (status == 0) return true;
    if (g_interrupted) return false;  // the user's Ctrl-C reached the command too
    if (status > 0)
        std::fprintf(stderr,
                     "monodrv-ctl: scan: the command at %.4f nm (step %d) exited with "
                     "status %d\n",
                     target, index, status);
    else if (status <= -kKilledBy)
        std::fprintf(stderr,
                     "monodrv-ctl: scan: the command at %.4f nm (step %d) was killed by "
                     "signal %d\n",
                     target, index, -status - kKilledBy);
    else
        std::fprintf(stderr,
                     "monodrv-ctl: scan: the command at %.4f nm (step %d) could not be "
                     "run\n",
                     target, index);
    return false;
}

bool Session::Scan(const Step& step, const ScanActions& actions) {
    const double from = step.value[0], to = step.value[1], by = step.value[2];
    const double direction = to >= from ? 1 : -1;
    const auto steps = static_cast<int>(std::floor(std::fabs(to - from) / by + 1e-9)) + 1;
    double at = 0;
    if (!waiting_.simulated && !ReadBack(at)) return false;
    const double resolution =
        std::pow(10.0, -std::max<double>(U(SPECT_PARAM_WAVELENGTH_DECIMALS), 0));
    if (by < resolution)
        std::fprintf(stderr,
                     "monodrv-ctl: warning: the step %g nm is finer than the model's resolution "
                     "(%g nm): positions will repeat\n",
                     by, resolution);
    std::printf("# target_nm\tposition_nm\ttime_utc\n");
    for (int i = 0; i < steps; ++i)
        if (g_interrupted || !ScanStep(from + direction * by * i, i + 1, actions, at)) return false;
    return true;
}

bool Session::Do(const Step& step, const ScanActions& scan) {
    const std::string& op = step.name;
    const auto u = [](double v) {
        return static_cast<std::uint32_t>(static_cast<std::int32_t>(v));
    };
    if (op == "goto") return Goto(step.value[0], true);
    if (op == "position") return PrintPosition();
    if (op == "slit") return Slit(step);
    if (op == "stop") return Stop();
    if (op == "scan") return Scan(step, scan);
    if (op == "grating") {
        SPECT_SetULongParam(h_, SPECT_PARAM_GRATING, u(step.value[0] - 1), 0);
        if (!Run(SPECT_OP_SELECT_GRATING, "the grating selection") ||
            !WaitForEnd("the grating selection", waiting_.limit_s))
            return false;
        std::printf("grating %u selected\n", u(step.value[0]));
        return true;
    }
    if (op == "mirror") {
        SPECT_SetULongParam(h_, SPECT_PARAM_TARGET_MIRROR_LOCATION, u(step.value[0]), 0);
        SPECT_SetULongParam(h_, SPECT_PARAM_TARGET_MIRROR_POSITION, u(step.value[1]), 0);
        if (!Run(SPECT_OP_SET_MIRROR, "the mirror switch") ||
            !WaitForEnd("the mirror switch", waiting_.limit_s))
            return false;
        std::printf("%s mirror to the %s\n",
                    u(step.value[0]) == MIR_LOC_ENTRANCE ? "entrance" : "exit",
                    u(step.value[1]) == MIR_POS_FRONT ? "front" : "side");
        return true;
    }
    if (op == "speeds") {
        if (!Run(SPECT_OP_READ_SPEEDS, "reading the speeds")) return false;
        std::printf("speeds %.0f,%.0f,%.0f\n", D(SPECT_PARAM_SPEEDS, 0), D(SPECT_PARAM_SPEEDS, 1),
                    D(SPECT_PARAM_SPEEDS, 2));
        return true;
    }
    if (op == "set-speeds") {
        for (std::int16_t k = 0; k < 3; ++k)
            SPECT_SetDblParam(h_, SPECT_PARAM_SPEEDS, step.value[k], k);
        return Run(SPECT_OP_SET_SPEEDS, "setting the speeds") && CheckSpeeds(step.value);
    }
    if (op == "busy") {
        if (!Run(SPECT_OP_READ_BUSY_STATUS, "the busy query")) return false;
        const auto status = static_cast<std::int32_t>(U(SPECT_PARAM_BUSY_STATUS));
        std::printf("busy status %d (%s)\n", status, BusyWord(status));
        return true;
    }
    // reinit: a real re-initialisation takes minutes; its limit is its own.
    if (!Run(SPECT_OP_REINITIALIZE, "the re-initialisation") ||
        !WaitForEnd("the re-initialisation", std::max(limits::kReinitLimit, waiting_.limit_s)))
        return false;
    std::printf(waiting_.wait ? "re-initialised\n" : "re-initialising (not waited for)\n");
    return true;
}

}  // namespace monodrv::ctl
