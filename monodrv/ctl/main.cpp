// monodrv-ctl: drives a spectrograph from the command line, as a host does: opens the port
// through the port library, creates an instance of the model, runs the start-up handshake
// and then the operations asked for.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "monodrv.h"
#include "telx32.h"

namespace {

const char kUsage[] =
    "Usage: monodrv-ctl --port PORT --model MODEL [--baud N] [--simulate] OPERATION...\n"
    "  PORT   a serial device (/dev/ttyUSB0), a pseudo-terminal, or block:SOCKET\n"
    "  MODEL  270m, triax180, triax190, triax320 or spex232\n"
    "Every run starts with the start-up handshake and reads the gratings, the position, the\n"
    "speeds and the slits present. Operations, run in order:\n"
    "  goto NM                move to a wavelength in nanometres\n"
    "  position               print the grating, the wavelength and the slit widths\n"
    "  grating N              select grating N (1-based)\n"
    "  slit LOCATION MM       move the slit at location 0-3 to a width in millimetres\n"
    "  mirror LOCATION POS    LOCATION 1 entrance / 2 exit, POS 1 front (axial) / 2 side\n"
    "  speeds                 print the wavelength-motor speed values\n"
    "  set-speeds MIN,MAX,RAMP\n"
    "  busy                   print the busy status\n"
    "  reinit                 re-initialise the mechanics\n"
    "Exit status: 0 when every operation succeeded, 1 when one failed, 2 for bad usage.\n";

struct Model {
    const char* name;
    int16_t number;
};
constexpr Model kModels[] = {{"270m", SPEX_270M},
                             {"triax180", TRIAX_180},
                             {"triax190", TRIAX_190},
                             {"triax320", TRIAX_320},
                             {"spex232", SPEX232_RETRO}};

class Session {
  public:
    Session(SPECT_HANDLE h) : h_(h) {}
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

bool PrintPosition(Session& s) {
    if (!s.Run(8, "reading the position")) return false;
    uint32_t grating = 0;
    if (SPECT_GetULongParam(s.h_, SPECT_PARAM_CURRENT_GRATING, &grating, 0))
        std::printf("grating %u\n", grating);
    std::printf("wavelength %.4f nm\n", s.D(154));
    const uint32_t slits = s.U(158);
    for (uint32_t i = 0; i < slits; ++i) {
        char name[64] = "";
        const uint32_t location = s.U(159, static_cast<int16_t>(i));
        SPECT_GetEnumString(s.h_, SPECT_PARAM_SLIT_LOCATION, location, name, sizeof name);
        std::printf("slit %u (%s) %.2f mm\n", location, name, s.D(160, static_cast<int16_t>(i)));
    }
    return true;
}

int RunOperations(Session& s, const std::vector<std::string>& ops) {
    bool ok = s.Run(4, "the start-up handshake") && s.Run(9, "reading the gratings and position") &&
              s.Run(10, "finding the slits");
    for (std::size_t i = 0; ok && i < ops.size(); ++i) {
        const std::string& op = ops[i];
        auto arg = [&](std::size_t k) -> const char* {
            return i + k < ops.size() ? ops[i + k].c_str() : nullptr;
        };
        if (op == "goto" && arg(1)) {
            SPECT_SetDblParam(s.h_, SPECT_PARAM_TARGET_WAVELENGTH, std::strtod(arg(1), nullptr), 0);
            ok = s.Run(0, "the move to the wavelength");
            ++i;
        } else if (op == "position") {
            ok = PrintPosition(s);
        } else if (op == "grating" && arg(1)) {
            SPECT_SetULongParam(s.h_, SPECT_PARAM_GRATING,
                                static_cast<uint32_t>(std::atoi(arg(1)) - 1), 0);
            ok = s.Run(12, "the grating selection");
            ++i;
        } else if (op == "slit" && arg(1) && arg(2)) {
            SPECT_SetULongParam(s.h_, SPECT_PARAM_TARGET_SLIT_LOCATION,
                                static_cast<uint32_t>(std::atoi(arg(1))), 0);
            SPECT_SetDblParam(s.h_, SPECT_PARAM_TARGET_SLIT_WIDTH, std::strtod(arg(2), nullptr), 0);
            ok = s.Run(1, "the slit move");
            i += 2;
        } else if (op == "mirror" && arg(1) && arg(2)) {
            SPECT_SetULongParam(s.h_, SPECT_PARAM_TARGET_MIRROR_LOCATION,
                                static_cast<uint32_t>(std::atoi(arg(1))), 0);
            SPECT_SetULongParam(s.h_, SPECT_PARAM_TARGET_MIRROR_POSITION,
                                static_cast<uint32_t>(std::atoi(arg(2))), 0);
            ok = s.Run(2, "the mirror switch");
            i += 2;
        } else if (op == "speeds") {
            ok = s.Run(26, "reading the speeds");
            if (ok) std::printf("speeds %.0f,%.0f,%.0f\n", s.D(44, 0), s.D(44, 1), s.D(44, 2));
        } else if (op == "set-speeds" && arg(1)) {
            double v[3] = {};
            if (std::sscanf(arg(1), "%lf,%lf,%lf", &v[0], &v[1], &v[2]) != 3) {
                std::fprintf(stderr, "monodrv-ctl: set-speeds needs MIN,MAX,RAMP\n");
                return 2;
            }
            for (int16_t k = 0; k < 3; ++k)
                SPECT_SetDblParam(s.h_, SPECT_PARAM_SPEEDS, v[k], k);
            ok = s.Run(24, "setting the speeds");
            ++i;
        } else if (op == "busy") {
            ok = s.Run(11, "the busy query");
            if (ok) std::printf("busy status %d\n", static_cast<int32_t>(s.U(172)));
        } else if (op == "reinit") {
            ok = s.Run(3, "the re-initialisation");
        } else {
            std::fprintf(stderr, "monodrv-ctl: unknown or incomplete operation '%s'\n%s",
                         op.c_str(), kUsage);
            return 2;
        }
    }
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::string port_name, model_name;
    int baud = 19200;
    bool simulate = false;
    std::vector<std::string> ops;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if ((a == "--port" || a == "--model" || a == "--baud") && i + 1 < argc) {
            std::string v = argv[++i];
            if (a == "--port")
                port_name = v;
            else if (a == "--model")
                model_name = v;
            else
                baud = std::atoi(v.c_str());
        } else if (a == "--simulate") {
            simulate = true;
        } else if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            ops.push_back(a);
        }
    }
    const Model* model = nullptr;
    for (const Model& m : kModels)
        if (model_name == m.name) model = &m;
    if (!model || (port_name.empty() && !simulate)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    TELX_PORT port = 0;
    if (!port_name.empty()) {
        port = TELX_Create_physical_port_ex(port_name.c_str(), baud);
        if (!port) {
            std::fprintf(stderr, "monodrv-ctl: cannot open the port %s\n", port_name.c_str());
            return 1;
        }
    }
    SPECT_HANDLE h = SPECT_CreateSpectrograph(model->number);
    SPECT_SetULongParam(h, SPECT_PARAM_PORT_HANDLE, port, 0);
    SPECT_SetULongParam(h, SPECT_PARAM_SIMULATION, simulate ? 1 : 0, 0);
    Session session(h);
    int status = RunOperations(session, ops);
    SPECT_DestroySpectrograph(h);
    if (port) TELX_Destroy(port);
    return status;
}
