// monodrv-ctl: drives a spectrograph from the command line, as a host does: opens the port
// through the port library, creates an instance of the model, runs the start-up handshake
// and then the operations asked for. The whole command line is checked before the port is
// opened: a bad word means exit status 2 and not a byte sent.
#include <CLI/CLI.hpp>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "monodrv.h"
#include "project_version.h"
#include "telx32.h"

namespace {

constexpr int kExitFailed = 1, kExitUsage = 2;

const char kOperations[] =
    "Every run starts with the start-up handshake and reads the gratings, the position, the\n"
    "speeds and the slits present. Operations, run in order:\n"
    "  goto NM                move to a wavelength in nanometres\n"
    "  position               print the grating, the wavelength and the slit widths\n"
    "  grating N              select grating N (1-3)\n"
    "  slit LOCATION MM       move the slit at location 0-3 to a width in millimetres\n"
    "  mirror LOCATION POS    LOCATION 1 entrance / 2 exit, POS 1 front (axial) / 2 side\n"
    "  speeds                 print the wavelength-motor speed values\n"
    "  set-speeds MIN,MAX,RAMP\n"
    "  busy                   print the busy status\n"
    "  reinit                 re-initialise the mechanics\n"
    "Exit status: 0 when every operation succeeded, 1 when one failed, 2 for bad usage.\n";

// Limits of what a user may ask for; the driver clamps further where the controller needs it.
constexpr double kMaxWavelength = 100000;  // nm
constexpr double kMaxSlitWidth = 100;      // mm
constexpr double kMaxSpeed = 4294967295.0;
constexpr int kGratings = 3;
constexpr int kMaxBaud = 4000000;

struct Model {
    const char* name;
    int16_t number;
};
constexpr Model kModels[] = {{"270m", SPEX_270M},
                             {"triax180", TRIAX_180},
                             {"triax190", TRIAX_190},
                             {"triax320", TRIAX_320},
                             {"spex232", SPEX232_RETRO}};

// The whole text as a finite number (C locale, no blanks); none otherwise.
std::optional<double> ParseNumber(const std::string& text) {
    double v = 0;
    const char* begin = text.data() + (!text.empty() && text[0] == '+' ? 1 : 0);
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(begin, end, v);
    if (ec != std::errc() || p != end || begin == end || !std::isfinite(v)) return std::nullopt;
    return v;
}

// The whole text as an integer in [low, high]; none otherwise.
std::optional<int> ParseInteger(const std::string& text, int low, int high) {
    int v = 0;
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, v);
    if (ec != std::errc() || p != end || text.empty() || v < low || v > high) return std::nullopt;
    return v;
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
        } else if (op != "position" && op != "speeds" && op != "busy" && op != "reinit") {
            throw UsageError("unknown operation '" + op + "'");
        }
        steps.push_back(step);
    }
    return steps;
}

class Session {
  public:
    explicit Session(SPECT_HANDLE h) : h_(h) {}
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

bool PrintPosition(Session& s) {
    if (!s.Run(8, "reading the position")) return false;
    uint32_t grating = 0;
    if (SPECT_GetULongParam(s.h_, SPECT_PARAM_CURRENT_GRATING, &grating, 0))
        std::printf("grating %u\n", grating);
    std::printf("wavelength %.4f nm\n", s.D(154));
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
    bool ok = s.Run(SPECT_OP_INITIALIZE, "the start-up handshake") &&
              s.Run(SPECT_OP_REFRESH_ALL, "reading the gratings and position") &&
              s.Run(SPECT_OP_FIND_SLITS, "finding the slits");
    for (std::size_t i = 0; ok && i < steps.size(); ++i) {
        const Step& step = steps[i];
        const std::string& op = step.name;
        const auto u = [](double v) { return static_cast<uint32_t>(static_cast<int32_t>(v)); };
        if (op == "goto") {
            SPECT_SetDblParam(s.h_, SPECT_PARAM_TARGET_WAVELENGTH, step.value[0], 0);
            ok = s.Run(SPECT_OP_MOVE_TO_WAVELENGTH, "the move to the wavelength");
        } else if (op == "position") {
            ok = PrintPosition(s);
        } else if (op == "grating") {
            SPECT_SetULongParam(s.h_, SPECT_PARAM_GRATING, u(step.value[0] - 1), 0);
            ok = s.Run(SPECT_OP_SELECT_GRATING, "the grating selection");
        } else if (op == "slit") {
            if (!HasSlit(s, u(step.value[0]))) {
                ok = false;
                break;
            }
            SPECT_SetULongParam(s.h_, SPECT_PARAM_TARGET_SLIT_LOCATION, u(step.value[0]), 0);
            SPECT_SetDblParam(s.h_, SPECT_PARAM_TARGET_SLIT_WIDTH, step.value[1], 0);
            ok = s.Run(SPECT_OP_MOVE_SLIT, "the slit move");
        } else if (op == "mirror") {
            SPECT_SetULongParam(s.h_, SPECT_PARAM_TARGET_MIRROR_LOCATION, u(step.value[0]), 0);
            SPECT_SetULongParam(s.h_, SPECT_PARAM_TARGET_MIRROR_POSITION, u(step.value[1]), 0);
            ok = s.Run(SPECT_OP_SET_MIRROR, "the mirror switch");
        } else if (op == "speeds") {
            ok = s.Run(SPECT_OP_READ_SPEEDS, "reading the speeds");
            if (ok)
                std::printf("speeds %.0f,%.0f,%.0f\n", s.D(SPECT_PARAM_SPEEDS, 0),
                            s.D(SPECT_PARAM_SPEEDS, 1), s.D(SPECT_PARAM_SPEEDS, 2));
        } else if (op == "set-speeds") {
            for (int16_t k = 0; k < 3; ++k)
                SPECT_SetDblParam(s.h_, SPECT_PARAM_SPEEDS, step.value[k], k);
            ok = s.Run(SPECT_OP_SET_SPEEDS, "setting the speeds");
        } else if (op == "busy") {
            ok = s.Run(SPECT_OP_READ_BUSY_STATUS, "the busy query");
            if (ok) {
                const auto status = static_cast<int32_t>(s.U(SPECT_PARAM_BUSY_STATUS));
                std::printf("busy status %d (%s)\n", status, BusyWord(status));
            }
        } else if (op == "reinit") {
            ok = s.Run(SPECT_OP_REINITIALIZE, "the re-initialisation");
        }
    }
    return ok ? 0 : kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Drives a Spex 270M, TRIAX 180/190/320 or Spex232 spectrograph.", "monodrv-ctl"};
    app.footer(kOperations);
    std::string port_name, model_name;
    int baud = 19200;
    bool simulate = false;
    std::vector<std::string> words;
    app.add_option("--port", port_name,
                   "a serial device (/dev/ttyUSB0), a pseudo-terminal, or block:SOCKET");
    std::vector<std::string> model_names;
    for (const Model& m : kModels)
        model_names.push_back(m.name);
    app.add_option("--model", model_name, "the spectrograph model")
        ->required()
        ->check(CLI::IsMember(model_names));
    std::string baud_text = "19200";
    app.add_option("--baud", baud_text, "the serial line's speed (decimal, default 19200)");
    app.add_flag("--simulate", simulate,
                 "answer from built-in values, without a port (the wavelength reads 0, "
                 "grating changes nothing; slit, mirror and set-speeds fail)");
    app.set_version_flag("--version", std::string("monodrv-ctl ") + PROJECT_VERSION_TEXT);
    app.add_option("operations", words, "OPERATION [ARGUMENTS]...");
    std::vector<Step> steps;
    try {
        app.parse(argc, argv);
        if (port_name.empty() && !simulate) throw UsageError("--port is required");
        const std::optional<int> parsed_baud = ParseInteger(baud_text, 1, kMaxBaud);
        if (!parsed_baud) throw UsageError("--baud: '" + baud_text + "' is not a baud rate");
        baud = *parsed_baud;
        steps = ParseOperations(words);
    } catch (const CLI::Success& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "monodrv-ctl: %s\nRun with --help for more information.\n", e.what());
        return kExitUsage;
    } catch (const UsageError& e) {
        std::fprintf(stderr, "monodrv-ctl: %s\nRun with --help for more information.\n", e.what());
        return kExitUsage;
    }
    int16_t model = 0;
    for (const Model& m : kModels)
        if (model_name == m.name) model = m.number;
    TELX_PORT port = 0;
    if (!port_name.empty()) {
        port = TELX_Create_physical_port_ex(port_name.c_str(), baud);
        if (!port) {
            std::fprintf(stderr, "monodrv-ctl: cannot open the port %s\n", port_name.c_str());
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
    SPECT_SetULongParam(h, SPECT_PARAM_SIMULATION, simulate ? 1 : 0, 0);
    Session session(h);
    const int status = RunSteps(session, steps);
    SPECT_DestroySpectrograph(h);
    if (port) TELX_Destroy(port);
    return status;
}
