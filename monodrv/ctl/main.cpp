// monodrv-ctl: drives a spectrograph from the command line, as a host does: opens the port
// through the port library, creates an instance of the model, runs the start-up handshake
// and then the operations asked for. The whole command line is checked before the port is
// opened: a bad word means exit status 2 and not a byte sent.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "monodrv.h"
#include "monodrv/control/strict_numbers.h"
#include "monodrv/ctl/limits.h"
#include "monodrv/ctl/session.h"
#include "project_version.h"
#include "telx32.h"

namespace {

using monodrv::ctl::Step;
namespace limits = monodrv::limits;

constexpr int kExitFailed = 1, kExitUsage = 2, kExitSignal = 128;

const char kOperations[] =
    "Every run starts with the start-up handshake and reads the gratings, the position, the\n"
    "speeds and the slits present (a run of busy or stop alone reads nothing first).\n"
    "Operations, run in order:\n"
    "  goto NM                move to a wavelength in nanometres\n"
    "  position               print the grating, the wavelength and the slit widths\n"
    "  grating N              select grating N (1-3 on a TRIAX, 1-2 on a 270M or Spex232)\n"
    "  slit LOCATION MM       move the slit at location 0-3 to a width in millimetres\n"
    "  mirror LOCATION POS    LOCATION 1 entrance / 2 exit, POS 1 front (axial) / 2 side\n"
    "  speeds                 print the wavelength-motor speed values\n"
    "  set-speeds MIN,MAX,RAMP\n"
    "  busy                   print the busy status\n"
    "  stop                   stop the motors and print where the drive stopped\n"
    "  reinit                 re-initialise the mechanics (up to 300 s on a real instrument)\n"
    "  scan FROM TO STEP      move to FROM, FROM+STEP, ... TO (each from below, against\n"
    "                         backlash) and print target, position read back and time (UTC)\n"
    "goto, grating, slit, mirror, stop and reinit return when the controller is no longer\n"
    "busy, or fail when it stays busy beyond the wait limit; --no-wait returns when the\n"
    "controller has taken the command. Each says what the instrument did on standard output;\n"
    "a value the instrument took other than the one asked is said on standard error.\n"
    "Ctrl-C during a run stops the motor, prints where it stopped and exits 130.\n"
    "Exit status: 0 when every operation succeeded, 1 when one failed, 2 for bad usage.\n";

class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The number of gratings of a model, as the driver's catalogue gives it.
int GratingsOf(std::int16_t model) {
    SPECT_HANDLE h = SPECT_CreateSpectrograph(model);
    std::uint32_t n = 0;
    if (h) SPECT_GetULongParam(h, SPECT_PARAM_GRATINGS_PER_SET, &n, 0);
    SPECT_DestroySpectrograph(h);
    return static_cast<int>(n);
}

// Reads the operation words one by one; throws UsageError naming the first bad word.
class WordReader {
  public:
    WordReader(const std::vector<std::string>& words, int gratings)
        : words_(words), gratings_(gratings) {}
    bool Done() const { return i_ >= words_.size(); }
    const std::string& Next(const std::string& op, const char* what) {
        if (Done()) throw UsageError(op + " needs " + what);
        return words_[i_++];
    }
    double Number(const std::string& op, const char* what, limits::Range range) {
        const std::string& word = Next(op, what);
        std::optional<double> v = monodrv::WholeNumber(word);
        if (!v || *v < range.low || *v > range.high)
            throw UsageError(op + ": '" + word + "' is not " + what);
        return *v;
    }
    double Integer(const std::string& op, const std::string& what, int low, int high) {
        const std::string& word = Next(op, what.c_str());
        std::optional<int> v = monodrv::WholeInteger(word, low, high);
        if (!v) throw UsageError(op + ": '" + word + "' is not " + what);
        return *v;
    }
    Step Read();

  private:
    void Speeds(const std::string& op, Step& step);
    void Scan(const std::string& op, Step& step);
    const std::vector<std::string>& words_;
    std::size_t i_ = 0;
    int gratings_;
};

void WordReader::Speeds(const std::string& op, Step& step) {
    const std::string& word = Next(op, "MIN,MAX,RAMP");
    std::size_t start = 0;
    for (int k = 0; k < 3; ++k) {
        const std::size_t comma = word.find(',', start);
        if ((k == 2) != (comma == std::string::npos))
            throw UsageError(op + ": '" + word + "' is not MIN,MAX,RAMP");
        std::optional<double> v = monodrv::WholeNumber(word.substr(start, comma - start));
        if (!v || *v < limits::kSpeed.low || *v > limits::kSpeed.high)
            throw UsageError(op + ": '" + word + "' is not MIN,MAX,RAMP");
        step.value[k] = *v;
        start = comma + 1;
    }
    if (step.value[0] > step.value[1])
        throw UsageError(op + ": '" + word + "': the minimum speed is above the maximum");
}

void WordReader::Scan(const std::string& op, Step& step) {
    step.value[0] = Number(op, "a wavelength in nm (-100000 to 100000)", limits::kWavelength);
    step.value[1] = Number(op, "a wavelength in nm (-100000 to 100000)", limits::kWavelength);
    const std::string& word = Next(op, "a step in nm");
    const std::optional<double> by = monodrv::WholeNumber(word);
    if (!by || *by <= 0 || std::fabs(step.value[1] - step.value[0]) / *by >= limits::kMaxScanSteps)
        throw UsageError(op + ": '" + word +
                         "' is not a step in nm (above 0, at most a million steps)");
    step.value[2] = *by;
}

Step WordReader::Read() {
    Step step{words_[i_++], {}};
    const std::string& op = step.name;
    if (op == "goto") {
        step.value[0] = Number(op, "a wavelength in nm (-100000 to 100000)", limits::kWavelength);
    } else if (op == "grating") {
        step.value[0] =
            Integer(op, "a grating number 1-" + std::to_string(gratings_), 1, gratings_);
    } else if (op == "slit") {
        step.value[0] = Integer(op, "a slit location 0-3", SLIT_LOC_FR_ENTR, SLIT_LOC_SD_EXIT);
        step.value[1] = Number(op, "a width in mm (0-100)", limits::kSlitWidth);
    } else if (op == "mirror") {
        step.value[0] = Integer(op, "a mirror location 1-2", MIR_LOC_ENTRANCE, MIR_LOC_EXIT);
        step.value[1] = Integer(op, "a mirror position 1-2", MIR_POS_FRONT, MIR_POS_SIDE);
    } else if (op == "set-speeds") {
        Speeds(op, step);
    } else if (op == "scan") {
        Scan(op, step);
    } else if (op != "position" && op != "speeds" && op != "busy" && op != "reinit" &&
               op != "stop") {
        throw UsageError("unknown operation '" + op + "'");
    }
    return step;
}

// What the command line says, as typed.
struct Options {
    std::string port_name, model_name, baud_text = "19200", wait_text, grooves_text, dwell_text;
    std::string exec;
    bool simulate = false, no_wait = false;
    // Options given, even as an empty word (which is refused, not taken for the default).
    bool wait_given = false, grooves_given = false, dwell_given = false, exec_given = false;
    std::vector<std::string> words;
};

// What the command line says, checked.
struct Checked {
    const limits::Model* model = nullptr;
    int baud = 19200;
    std::optional<double> wait_limit;
    std::vector<double> grooves;
    monodrv::ctl::ScanActions scan;
    std::vector<Step> steps;
};

void DeclareOptions(CLI::App& app, Options& o) {
    app.footer(kOperations);
    app.add_option("--port", o.port_name,
                   "a serial device (/dev/ttyUSB0), a pseudo-terminal, or block:SOCKET");
    std::vector<std::string> model_names;
    for (const limits::Model& m : limits::kModels)
        model_names.push_back(m.name);
    app.add_option("--model", o.model_name, "the spectrograph model")
        ->required()
        ->check(CLI::IsMember(model_names));
    app.add_option("--baud", o.baud_text, "the serial line's speed (decimal, default 19200)");
    app.add_option("--grooves", o.grooves_text,
                   "the gratings' groove densities per mm, in order (default 1200 each), "
                   "e.g. 1200,600,300")
        ->each([&o](const std::string&) { o.grooves_given = true; });
    app.add_flag("--simulate", o.simulate,
                 "answer from built-in values, without a port (the wavelength is not "
                 "modelled, grating changes nothing; slit, mirror and set-speeds fail)");
    app.add_flag("--no-wait", o.no_wait,
                 "return from a move when the controller has taken the command, not when it "
                 "has ended");
    app.add_option("--wait-limit", o.wait_text,
                   "seconds a move may keep the controller busy (default: the model's longest "
                   "move; a re-initialisation may take 300 s)")
        ->each([&o](const std::string&) { o.wait_given = true; });
    app.add_option("--exec", o.exec,
                   "scan: run this shell command at each wavelength, with "
                   "MONODRV_WAVELENGTH_NM (the position read back), MONODRV_TARGET_NM and "
                   "MONODRV_STEP in its environment; a failure stops the scan")
        ->each([&o](const std::string&) { o.exec_given = true; });
    app.add_option("--dwell", o.dwell_text, "scan: seconds to wait at each wavelength")
        ->each([&o](const std::string&) { o.dwell_given = true; });
    app.set_version_flag("--version", std::string("monodrv-ctl ") + PROJECT_VERSION_TEXT + "\n" +
                                          PROJECT_LICENCE_TEXT);
    app.add_option("operations", o.words, "OPERATION [ARGUMENTS]...");
}

// "1200,600,300": one groove density per grating, at most the model's gratings.
std::vector<double> ParseGrooves(const std::string& text, int gratings) {
    std::vector<double> grooves;
    const auto bad = [&](const std::string& why) {
        return UsageError("--grooves: '" + text + "' " + why);
    };
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        const std::optional<double> v = monodrv::WholeNumber(text.substr(start, comma - start));
        if (!v || *v < limits::kGrooves.low || *v > limits::kGrooves.high)
            throw bad("is not a list of groove densities per mm (1-10000), e.g. 1200,600");
        grooves.push_back(*v);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    if (static_cast<int>(grooves.size()) > gratings)
        throw bad("names more gratings than the model's " + std::to_string(gratings));
    return grooves;
}

// Throws UsageError for what CLI11 does not check itself.
Checked CheckOptions(const Options& o) {
    Checked c;
    for (const limits::Model& m : limits::kModels)
        if (o.model_name == m.name) c.model = &m;
    if (o.port_name.empty() && !o.simulate) throw UsageError("--port is required");
    const std::optional<int> baud = monodrv::WholeInteger(o.baud_text, 1, 4000000);
    if (!baud) throw UsageError("--baud: '" + o.baud_text + "' is not a baud rate");
    c.baud = *baud;
    if (o.wait_given) {
        const std::optional<double> limit = monodrv::WholeNumber(o.wait_text);
        if (!limit || *limit <= limits::kWaitLimit.low || *limit > limits::kWaitLimit.high)
            throw UsageError("--wait-limit: '" + o.wait_text +
                             "' is not a number of seconds (above 0, at most 3600)");
        c.wait_limit = *limit;
    }
    if (o.dwell_given) {
        const std::optional<double> dwell = monodrv::WholeNumber(o.dwell_text);
        if (!dwell || *dwell < limits::kDwell.low || *dwell > limits::kDwell.high)
            throw UsageError("--dwell: '" + o.dwell_text +
                             "' is not a number of seconds (0 to 86400)");
        c.scan.dwell_s = *dwell;
    }
    if (o.exec_given && o.exec.find_first_not_of(" \t") == std::string::npos)
        throw UsageError("--exec: '" + o.exec + "' is no command");
    c.scan.exec = o.exec;
    const int gratings = GratingsOf(c.model->number);
    if (o.grooves_given) c.grooves = ParseGrooves(o.grooves_text, gratings);
    WordReader reader(o.words, gratings);
    while (!reader.Done())
        c.steps.push_back(reader.Read());
    const bool scans = std::any_of(c.steps.begin(), c.steps.end(),
                                   [](const Step& step) { return step.name == "scan"; });
    if ((o.exec_given || o.dwell_given) && !scans)
        throw UsageError(std::string(o.exec_given ? "--exec" : "--dwell") +
                         " is for scan, and no scan is asked for");
    return c;
}

// Ctrl-C (or a termination) during a run: noted, and acted on between the driver's calls; a
// second one ends the program at once.
void CatchInterrupts() {
    struct sigaction action {};
    action.sa_handler = [](int signal) { monodrv::ctl::g_interrupted = signal; };
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// Opens the port through the port library; 0, with the library's reason, when it cannot.
TELX_PORT OpenPort(const std::string& name, int baud) {
    const TELX_PORT port = TELX_Create_physical_port_ex(name.c_str(), baud);
    if (port) return port;
    char reason[512] = "";
    if (!TELX_Diagnose_Interface(0, reason, sizeof reason))
        std::snprintf(reason, sizeof reason, "%s cannot be opened", name.c_str());
    std::fprintf(stderr, "monodrv-ctl: %s\n", reason);
    return 0;
}

int RunSteps(monodrv::ctl::Session& session, const Checked& c) {
    // Busy and stop alone read nothing first: that would wait for a move another run left.
    const bool quick =
        !c.steps.empty() && std::all_of(c.steps.begin(), c.steps.end(), [](const Step& step) {
            return step.name == "busy" || step.name == "stop";
        });
    bool ok = session.Start(quick, c.grooves);
    for (std::size_t i = 0; ok && i < c.steps.size() && !monodrv::ctl::g_interrupted; ++i)
        ok = session.Do(c.steps[i], c.scan);
    if (monodrv::ctl::g_interrupted) {
        session.StopAfterInterrupt();
        return kExitSignal + monodrv::ctl::g_interrupted;
    }
    return ok ? 0 : kExitFailed;
}

// Opens the port and an instance of the driver, runs the operations and lets both go;
// returns the exit status.
int Drive(const Options& o, const Checked& c) {
    monodrv::ctl::Waiting waiting{!o.no_wait, c.wait_limit.value_or(c.model->wait_limit_s),
                                  o.simulate,
                                  c.model->number == SPEX_270M || c.model->number == SPEX232_RETRO};
    TELX_PORT port = 0;  // a simulated instance runs without one
    if (!o.simulate && !(port = OpenPort(o.port_name, c.baud))) return kExitFailed;
    SPECT_HANDLE h = SPECT_CreateSpectrograph(c.model->number);
    if (!h) {
        std::fprintf(stderr, "monodrv-ctl: the driver could not create an instance\n");
        if (port) TELX_Destroy(port);
        return kExitFailed;
    }
    SPECT_SetULongParam(h, SPECT_PARAM_PORT_HANDLE, port, 0);
    SPECT_SetULongParam(h, SPECT_PARAM_SIMULATION, o.simulate ? 1 : 0, 0);
    CatchInterrupts();
    monodrv::ctl::Session session(h, waiting,
                                  o.port_name + " at " + std::to_string(c.baud) + " baud");
    const int status = RunSteps(session, c);
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
