// monodrv-ctl: drives a spectrograph from the command line, as a host does: opens the port
// through the port library, creates an instance of the model, runs the start-up handshake
// and then the operations asked for. The whole command line is checked before the port is
// opened: a bad word means exit status 2 and not a byte sent.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "monodrv.h"
#include "monodrv/control/strict_numbers.h"
#include "project_version.h"
#include "telx32.h"

namespace {

constexpr int kExitFailed = 1, kExitUsage = 2;

const char kOperations[] =
    "Every run starts with the start-up handshake and reads the gratings, the position, the\n"
    "speeds and the slits present (a run of busy alone reads nothing more). Operations, run\n"
    "in order:\n"
    "  goto NM                move to a wavelength in nanometres\n"
    "  position               print the grating, the wavelength and the slit widths\n"
    "  grating N              select grating N (1-3)\n"
    "  slit LOCATION MM       move the slit at location 0-3 to a width in millimetres\n"
    "  mirror LOCATION POS    LOCATION 1 entrance / 2 exit, POS 1 front (axial) / 2 side\n"
    "  speeds                 print the wavelength-motor speed values\n"
    "  set-speeds MIN,MAX,RAMP\n"
    "  busy                   print the busy status\n"
    "  reinit                 re-initialise the mechanics\n"
    "goto, grating, slit, mirror and reinit return when the controller is no longer busy (the\n"
    "move has ended), or fail when it stays busy beyond the wait limit; --no-wait returns when\n"
    "the controller has taken the command. A value the instrument took other than the one\n"
    "asked (speeds, a wavelength beyond the model's range) is said on standard error.\n"
    "Exit status: 0 when every operation succeeded, 1 when one failed, 2 for bad usage.\n";

// Limits of what a user may ask for; the driver clamps further where the controller needs it.
constexpr double kMaxWavelength = 100000;  // nm
constexpr double kMaxSlitWidth = 100;      // mm
constexpr double kMaxSpeed = 4294967295.0;
constexpr int kGratings = 3;
constexpr int kMaxBaud = 4000000;

// How long a move may keep the controller busy, per model: the longest move is a wavelength
// drive across the whole range at the slowest speed the controller takes (100 steps/s) or a
// grating turret's turn, with room; a controller busy beyond it has stalled.
struct Model {
    const char* name;
    int16_t number;
    double wait_limit_s;
};
constexpr Model kModels[] = {{"270m", SPEX_270M, 120},
                             {"triax180", TRIAX_180, 60},
                             {"triax190", TRIAX_190, 60},
                             {"triax320", TRIAX_320, 90},
                             {"spex232", SPEX232_RETRO, 120}};
constexpr double kMaxWaitLimit = 3600;  // s
constexpr auto kBusyPoll = std::chrono::milliseconds(50);

// The whole text as a finite number (C locale, no blanks); none otherwise.
std::optional<double> ParseNumber(const std::string& text) {
    return monodrv::WholeNumber(text);
}

// The whole text as an integer in [low, high]; none otherwise.
std::optional<int> ParseInteger(const std::string& text, int low, int high) {
    return monodrv::WholeInteger(text, low, high);
}

// One operation of the command line with its checked arguments.
struct Step {
    std::string name;
    double value[3] = {};
};

class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Turns the operation words into steps; throws UsageError naming the first bad word.
std::vector<Step> ParseOperations(const std::vector<std::string>& words) {
    std::vector<Step> steps;
    std::size_t i = 0;
    auto next = [&](const std::string& op, const char* what) -> const std::string& {
        if (i >= words.size()) throw UsageError(op + " needs " + what);
        return words[i++];
    };
    auto number = [&](const std::string& op, const char* what, double low, double high) {
        const std::string& word = next(op, what);
        std::optional<double> v = ParseNumber(word);
        if (!v || *v < low || *v > high) throw UsageError(op + ": '" + word + "' is not " + what);
        return *v;
    };
    auto integer = [&](const std::string& op, const char* what, int low, int high) {
        const std::string& word = next(op, what);
        std::optional<int> v = ParseInteger(word, low, high);
        if (!v) throw UsageError(op + ": '" + word + "' is not " + what);
        return static_cast<double>(*v);
    };
    while (i < words.size()) {
        Step step{words[i++], {}};
        const std::string& op = step.name;
        if (op == "goto") {
            step.value[0] = number(op, "a wavelength in nm", -kMaxWavelength, kMaxWavelength);
        } else if (op == "grating") {
            step.value[0] = integer(op, "a grating number 1-3", 1, kGratings);
        } else if (op == "slit") {
            step.value[0] = integer(op, "a slit location 0-3", SLIT_LOC_FR_ENTR, SLIT_LOC_SD_EXIT);
            step.value[1] = number(op, "a width in mm (0-100)", 0, kMaxSlitWidth);
        } else if (op == "mirror") {
            step.value[0] = integer(op, "a mirror location 1-2", MIR_LOC_ENTRANCE, MIR_LOC_EXIT);
            step.value[1] = integer(op, "a mirror position 1-2", MIR_POS_FRONT, MIR_POS_SIDE);
        } else if (op == "set-speeds") {
            const std::string& word = next(op, "MIN,MAX,RAMP");
            std::size_t start = 0;
            for (int k = 0; k < 3; ++k) {
                const std::size_t comma = word.find(',', start);
                const bool last = k == 2;
                if (last != (comma == std::string::npos))
                    throw UsageError(op + ": '" + word + "' is not MIN,MAX,RAMP");
                std::optional<double> v = ParseNumber(word.substr(start, comma - start));
                if (!v || *v < 0 || *v > kMaxSpeed)
                    throw UsageError(op + ": '" + word + "' is not MIN,MAX,RAMP");
                step.value[k] = *v;
                start = comma + 1;
            }
            if (step.value[0] > step.value[1])
                throw UsageError(op + ": '" + word + "': the minimum speed is above the maximum");
        } else if (op != "position" && op != "speeds" && op != "busy" && op != "reinit") {
            throw UsageError("unknown operation '" + op + "'");
        }
        steps.push_back(step);
    }
    return steps;
}

// How the run treats moves: wait for their end (within the limit) or not; simulated.
struct Waiting {
    bool wait = true;
    double limit_s = 60;
    bool simulated = false;
};

class Session {
  public:
    Session(SPECT_HANDLE h, Waiting waiting) : h_(h), waiting_(waiting) {}
    // Runs an operation; false (with a message) when the driver reports error code 11.
    bool Run(uint32_t operation, const char* what) {
        uint32_t error = 0;
        if (!SPECT_Process(h_, operation) ||
            !SPECT_GetULongParam(h_, SPECT_PARAM_ERROR_CODE, &error, 0) || error != 0) {
            std::fprintf(stderr, "monodrv-ctl: %s failed (error code %u)\n", what, error);
            return false;
        }
        return true;
    }
    uint32_t U(uint32_t param, int16_t index = 0) {
        uint32_t v = 0;
        SPECT_GetULongParam(h_, param, &v, index);
        return v;
    }
    double D(uint32_t param, int16_t index = 0) {
        double v = 0;
        SPECT_GetDblParam(h_, param, &v, index);
        return v;
    }
    SPECT_HANDLE h_;
    Waiting waiting_;
};

// The busy query's result in words.
const char* BusyWord(int32_t status) {
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

// Waits until the controller no longer reports busy after `what`; false (with a message) when
// it reports an error or is still busy at the limit. Returns at once with --no-wait and when
// simulated (no controller).
bool WaitForEnd(Session& s, const char* what) {
    if (!s.waiting_.wait || s.waiting_.simulated) return true;
    const auto start = std::chrono::steady_clock::now();
    const auto limit = std::chrono::duration<double>(s.waiting_.limit_s);
    for (;;) {
        if (!s.Run(SPECT_OP_READ_BUSY_STATUS, "the busy query")) return false;
        const auto status = static_cast<int32_t>(s.U(SPECT_PARAM_BUSY_STATUS));
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
                         what, s.waiting_.limit_s);
            return false;
        }
        std::this_thread::sleep_for(kBusyPoll);
    }
}

// After a finished wavelength move: says the position the instrument went to when it is not
// the target (a model that clamps moves to its range of steps).
bool CheckArrival(Session& s, double target) {
    if (!s.waiting_.wait || s.waiting_.simulated) return true;
    if (!s.Run(SPECT_OP_READ_POSITION, "reading the position")) return false;
    const double at = s.D(SPECT_PARAM_WAVELENGTH);
    // One controller step (or the last decimal the model gives) is no difference.
    double step = std::pow(10.0, -std::max<double>(s.U(SPECT_PARAM_WAVELENGTH_DECIMALS), 0));
    uint32_t grating = 0;
    if (SPECT_GetULongParam(s.h_, SPECT_PARAM_CURRENT_GRATING, &grating, 0) && grating > 0)
        if (const double per_nm = s.D(SPECT_PARAM_STEPS_PER_NM, static_cast<int16_t>(grating - 1));
            per_nm > 0)
            step = std::max(step, 1.0 / per_nm);
    if (std::fabs(at - target) > step * 1.01)
        std::fprintf(stderr,
                     "monodrv-ctl: warning: the instrument went to %.4f nm, not %.4f nm: the "
                     "target lies beyond the model's range of steps\n",
                     at, target);
    return true;
}

// After set-speeds: says the speeds the instrument took when they differ from those asked.
bool CheckSpeeds(Session& s, const double asked[3]) {
    if (!s.Run(SPECT_OP_READ_SPEEDS, "reading the speeds")) return false;
    const double took[3] = {s.D(SPECT_PARAM_SPEEDS, 0), s.D(SPECT_PARAM_SPEEDS, 1),
                            s.D(SPECT_PARAM_SPEEDS, 2)};
    if (took[0] != std::trunc(asked[0]) || took[1] != std::trunc(asked[1]) ||
        took[2] != std::trunc(asked[2]))
        std::fprintf(stderr,
                     "monodrv-ctl: warning: the instrument took the speeds %.0f,%.0f,%.0f "
                     "(asked %.0f,%.0f,%.0f)\n",
                     took[0], took[1], took[2], asked[0], asked[1], asked[2]);
    return true;
}

bool PrintPosition(Session& s) {
    if (!s.Run(8, "reading the position")) return false;
    uint32_t grating = 0;
    if (SPECT_GetULongParam(s.h_, SPECT_PARAM_CURRENT_GRATING, &grating, 0))
        std::printf("grating %u\n", grating);
    if (s.waiting_.simulated)  // no instrument reported it
        std::printf("wavelength simulated (not modelled)\n");
    else
        std::printf("wavelength %.4f nm\n", s.D(SPECT_PARAM_WAVELENGTH));
    const uint32_t slits = s.U(SPECT_PARAM_SLIT_COUNT);
    for (uint32_t i = 0; i < slits; ++i) {
        char name[64] = "";
        const uint32_t location = s.U(SPECT_PARAM_SLIT_LOCATION, static_cast<int16_t>(i));
        SPECT_GetEnumString(s.h_, SPECT_PARAM_SLIT_LOCATION, location, name, sizeof name);
        std::printf("slit %u (%s) %.2f mm\n", location, name, s.D(160, static_cast<int16_t>(i)));
    }
    return true;
}

// True when the instrument found a slit at `location`; else says which it has.
bool HasSlit(Session& s, uint32_t location) {
    std::string fitted;
    const uint32_t slits = s.U(SPECT_PARAM_SLIT_COUNT);
    for (uint32_t i = 0; i < slits; ++i) {
        const uint32_t at = s.U(SPECT_PARAM_SLIT_LOCATION, static_cast<int16_t>(i));
        if (at == location) return true;
        fitted += (fitted.empty() ? "" : ", ") + std::to_string(at);
    }
    std::fprintf(stderr, "monodrv-ctl: this instrument has no slit %u (slits: %s)\n", location,
                 fitted.empty() ? "none" : fitted.c_str());
    return false;
}

int RunSteps(Session& s, const std::vector<Step>& steps) {
    // The busy query alone reads nothing else: reading the position waits for a move the
    // query is to report.
    const bool busy_only =
        !steps.empty() && std::all_of(steps.begin(), steps.end(),
                                      [](const Step& step) { return step.name == "busy"; });
    bool ok = s.Run(SPECT_OP_INITIALIZE, "the start-up handshake") &&
              (busy_only || (s.Run(SPECT_OP_REFRESH_ALL, "reading the gratings and position") &&
                             s.Run(SPECT_OP_FIND_SLITS, "finding the slits")));
    for (std::size_t i = 0; ok && i < steps.size(); ++i) {
        const Step& step = steps[i];
        const std::string& op = step.name;
        const auto u = [](double v) { return static_cast<uint32_t>(static_cast<int32_t>(v)); };
        if (op == "goto") {
            SPECT_SetDblParam(s.h_, SPECT_PARAM_TARGET_WAVELENGTH, step.value[0], 0);
            ok = s.Run(SPECT_OP_MOVE_TO_WAVELENGTH, "the move to the wavelength") &&
                 WaitForEnd(s, "the move to the wavelength") && CheckArrival(s, step.value[0]);
        } else if (op == "position") {
            ok = PrintPosition(s);
        } else if (op == "grating") {
            SPECT_SetULongParam(s.h_, SPECT_PARAM_GRATING, u(step.value[0] - 1), 0);
            ok = s.Run(SPECT_OP_SELECT_GRATING, "the grating selection") &&
                 WaitForEnd(s, "the grating selection");
        } else if (op == "slit") {
            if (!HasSlit(s, u(step.value[0]))) {
                ok = false;
                break;
            }
            SPECT_SetULongParam(s.h_, SPECT_PARAM_TARGET_SLIT_LOCATION, u(step.value[0]), 0);
            SPECT_SetDblParam(s.h_, SPECT_PARAM_TARGET_SLIT_WIDTH, step.value[1], 0);
            ok = s.Run(SPECT_OP_MOVE_SLIT, "the slit move") && WaitForEnd(s, "the slit move");
        } else if (op == "mirror") {
            SPECT_SetULongParam(s.h_, SPECT_PARAM_TARGET_MIRROR_LOCATION, u(step.value[0]), 0);
            SPECT_SetULongParam(s.h_, SPECT_PARAM_TARGET_MIRROR_POSITION, u(step.value[1]), 0);
            ok = s.Run(SPECT_OP_SET_MIRROR, "the mirror switch") &&
                 WaitForEnd(s, "the mirror switch");
        } else if (op == "speeds") {
            ok = s.Run(SPECT_OP_READ_SPEEDS, "reading the speeds");
            if (ok)
                std::printf("speeds %.0f,%.0f,%.0f\n", s.D(SPECT_PARAM_SPEEDS, 0),
                            s.D(SPECT_PARAM_SPEEDS, 1), s.D(SPECT_PARAM_SPEEDS, 2));
        } else if (op == "set-speeds") {
            for (int16_t k = 0; k < 3; ++k)
                SPECT_SetDblParam(s.h_, SPECT_PARAM_SPEEDS, step.value[k], k);
            ok = s.Run(SPECT_OP_SET_SPEEDS, "setting the speeds") && CheckSpeeds(s, step.value);
        } else if (op == "busy") {
            ok = s.Run(SPECT_OP_READ_BUSY_STATUS, "the busy query");
            if (ok) {
                const auto status = static_cast<int32_t>(s.U(SPECT_PARAM_BUSY_STATUS));
                std::printf("busy status %d (%s)\n", status, BusyWord(status));
            }
        } else if (op == "reinit") {
            ok = s.Run(SPECT_OP_REINITIALIZE, "the re-initialisation") &&
                 WaitForEnd(s, "the re-initialisation");
        }
    }
    return ok ? 0 : kExitFailed;
}

// What the command line says, as typed.
struct Options {
    std::string port_name, model_name, baud_text = "19200", wait_text;
    bool simulate = false, no_wait = false;
    std::vector<std::string> words;
};

// What the command line says, checked: the baud rate, the wait limit and the operations.
struct Checked {
    int baud = 19200;
    std::optional<double> wait_limit;
    std::vector<Step> steps;
};

void DeclareOptions(CLI::App& app, Options& o) {
    app.footer(kOperations);
    app.add_option("--port", o.port_name,
                   "a serial device (/dev/ttyUSB0), a pseudo-terminal, or block:SOCKET");
    std::vector<std::string> model_names;
    for (const Model& m : kModels)
        model_names.push_back(m.name);
    app.add_option("--model", o.model_name, "the spectrograph model")
        ->required()
        ->check(CLI::IsMember(model_names));
    app.add_option("--baud", o.baud_text, "the serial line's speed (decimal, default 19200)");
    app.add_flag("--simulate", o.simulate,
                 "answer from built-in values, without a port (the wavelength is not "
                 "modelled, grating changes nothing; slit, mirror and set-speeds fail)");
    app.add_flag("--no-wait", o.no_wait,
                 "return from a move when the controller has taken the command, not when it "
                 "has ended");
    app.add_option("--wait-limit", o.wait_text,
                   "seconds a move may keep the controller busy (default: the model's longest "
                   "move)");
    app.set_version_flag("--version", std::string("monodrv-ctl ") + PROJECT_VERSION_TEXT);
    app.add_option("operations", o.words, "OPERATION [ARGUMENTS]...");
}

// Throws UsageError for what CLI11 does not check itself.
Checked CheckOptions(const Options& o) {
    Checked c;
    if (o.port_name.empty() && !o.simulate) throw UsageError("--port is required");
    const std::optional<int> baud = ParseInteger(o.baud_text, 1, kMaxBaud);
    if (!baud) throw UsageError("--baud: '" + o.baud_text + "' is not a baud rate");
    c.baud = *baud;
    if (!o.wait_text.empty()) {
        const std::optional<double> limit = ParseNumber(o.wait_text);
        if (!limit || *limit <= 0 || *limit > kMaxWaitLimit)
            throw UsageError("--wait-limit: '" + o.wait_text +
                             "' is not a number of seconds "
                             "(above 0, at most 3600)");
        c.wait_limit = *limit;
    }
    c.steps = ParseOperations(o.words);
    return c;
}

// Opens the port and an instance of the driver, runs the operations and lets both go;
// returns the exit status.
int Drive(const Options& o, const Checked& c) {
    int16_t model = 0;
    Waiting waiting{!o.no_wait, 60, o.simulate};
    for (const Model& m : kModels)
        if (o.model_name == m.name) {
            model = m.number;
            waiting.limit_s = c.wait_limit.value_or(m.wait_limit_s);
        }
    TELX_PORT port = 0;
    if (!o.port_name.empty()) {
        port = TELX_Create_physical_port_ex(o.port_name.c_str(), c.baud);
        if (!port) {
            std::fprintf(stderr, "monodrv-ctl: cannot open the port %s\n", o.port_name.c_str());
            return kExitFailed;
        }
    }
    SPECT_HANDLE h = SPECT_CreateSpectrograph(model);
    if (!h) {
        std::fprintf(stderr, "monodrv-ctl: the driver could not create an instance\n");
        if (port) TELX_Destroy(port);
        return kExitFailed;
    }
    SPECT_SetULongParam(h, SPECT_PARAM_PORT_HANDLE, port, 0);
    SPECT_SetULongParam(h, SPECT_PARAM_SIMULATION, o.simulate ? 1 : 0, 0);
    Session session(h, waiting);
    const int status = RunSteps(session, c.steps);
    SPECT_DestroySpectrograph(h);
    if (port) TELX_Destroy(port);
    return status;
}
}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Drives a Spex 270M, TRIAX 180/190/320 or Spex232 spectrograph.", "monodrv-ctl"};
    Options options;
    DeclareOptions(app, options);
    Checked checked;
    try {
        app.parse(argc, argv);
        checked = CheckOptions(options);
    } catch (const CLI::Success& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "monodrv-ctl: %s\nRun with --help for more information.\n", e.what());
        return kExitUsage;
    } catch (const UsageError& e) {
        std::fprintf(stderr, "monodrv-ctl: %s\nRun with --help for more information.\n", e.what());
        return kExitUsage;
    }
    return Drive(options, checked);
}
