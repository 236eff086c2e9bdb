// spectrograph-emulator: the controller's side of the protocol over a pseudo-terminal (whose
// path it prints) or over the block link of the port library (a Unix socket).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "emulator/controller_model.h"
#include "monodrv/control/strict_numbers.h"
#include "project_version.h"
#include "telx32/block_link.h"

namespace {

volatile sig_atomic_t g_stop = 0;

std::uint32_t NowMs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<std::uint32_t>(t.tv_sec * 1000 + t.tv_nsec / 1000000);
}

// Bytes received from hosts, written to the --received file at the end.
std::uint64_t g_received = 0;

// The habits of real controllers (--habit, repeatable) and the time scale of motion.
void AddHabitOptions(CLI::App& app, emulator::Config& config) {
    app.add_option_function<std::vector<std::string>>(
           "--habit",
           [&config](const std::vector<std::string>& names) {
               emulator::Habits& h = config.habits;
               const std::map<std::string, bool*> kHabits = {
                   {"quiet-after-move", &h.quiet_after_move},
                   {"stop-answered", &h.stop_answered},
                   {"autobaud", &h.autobaud},
                   {"terminal-mode", &h.terminal_mode},
                   {"slow-reinit", &h.slow_reinit}};
               for (const std::string& name : names) {
                   auto it = kHabits.find(name);
                   if (it == kHabits.end())
                       throw CLI::ValidationError("--habit", "unknown habit " + name);
                   *it->second = true;
               }
           },
           "quiet-after-move (no answer to a busy query within 200 ms of a move) | "
           "stop-answered (\"o\" to the stop byte) | autobaud (the first blank unanswered) | "
           "terminal-mode (ESC to a blank until 0xF8, 0xDE) | slow-reinit (120 s); repeatable")
        ->type_name("HABIT")
        ->expected(1, 5);
    app.add_option_function<std::string>(
           "--time-scale",
           [&config](const std::string& v) {
               const std::optional<double> scale = monodrv::WholeNumber(v);
               if (!scale || *scale <= 0 || *scale > 1000)
                   throw CLI::ValidationError("--time-scale", "'" + v +
                                                                  "' is not a factor (above 0, "
                                                                  "at most 1000)");
               config.time_scale = *scale;
           },
           "multiplies how long every motion takes (0.01: a hundred times faster)")
        ->type_name("FACTOR");
}

// Parses the command line into `config`; on bad usage CLI11 reports and the program exits 2.
// A fault is NAME or NAME=MS (default 100 ms).
void AddOptions(CLI::App& app, emulator::Config& config, std::string& block,
                std::string& received) {
    static const std::map<std::string, emulator::Family> kFamilies = {
        {"270m", emulator::Family::Step},
        {"spex232", emulator::Family::Step},
        {"triax180", emulator::Family::Value},
        {"triax190", emulator::Family::Value},
        {"triax320", emulator::Family::Value}};
    static const std::map<std::string, emulator::StartState> kStarts = {
        {"boot", emulator::StartState::Boot},
        {"star", emulator::StartState::Star},
        {"main", emulator::StartState::Main}};
    app.add_option_function<std::string>(
           "--model",
           [&config](const std::string& name) {
               auto it = kFamilies.find(name);
               if (it == kFamilies.end())
                   throw CLI::ValidationError("--model", "'" + name +
                                                             "' is not 270m, spex232, triax180, "
                                                             "triax190 or triax320");
               config.family = it->second;
           },
           "the controller's model: 270m, spex232, triax180, triax190 or triax320")
        ->type_name("MODEL");
    app.add_option("--block", block, "listen on this Unix socket (the block link)");
    app.add_option_function<std::string>(
           "--start",
           [&config](const std::string& name) {
               auto it = kStarts.find(name);
               if (it == kStarts.end())
                   throw CLI::ValidationError("--start",
                                              "'" + name + "' is not boot, star or main");
               config.start = it->second;
           },
           "the start-up state: boot, star or main (it answers B, * or F to a blank)")
        ->type_name("STATE");
    app.add_option("--received", received,
                   "at the end, write the number of bytes received from hosts to this file");
    app.add_option_function<std::string>(
           "--fault",
           [&config](const std::string& v) {
               static const std::map<std::string, emulator::Fault> kFaults = {
                   {"silence", emulator::Fault::Silence},
                   {"late", emulator::Fault::Late},
                   {"dribble", emulator::Fault::Dribble},
                   {"garbage", emulator::Fault::Garbage},
                   {"wrong-byte", emulator::Fault::WrongByte},
                   {"busy-forever", emulator::Fault::BusyForever},
                   {"stuck", emulator::Fault::Stuck}};
               const std::size_t eq = v.find('=');
               auto it = kFaults.find(v.substr(0, eq));
               if (it == kFaults.end()) throw CLI::ValidationError("--fault", "unknown fault " + v);
               config.fault = it->second;
               config.fault_ms = 100;
               if (eq == std::string::npos) return;
               const std::string ms = v.substr(eq + 1);
               const auto value = monodrv::WholeInteger<std::uint32_t>(ms, 0, UINT32_MAX);
               if (!value)
                   throw CLI::ValidationError("--fault", "'" + ms + "' is not a time in ms");
               config.fault_ms = *value;
           },
           "silence|late=MS|dribble=MS|garbage|wrong-byte|busy-forever|stuck (a move never ends)")
        ->type_name("FAULT");
    AddHabitOptions(app, config);
}

// Character interface: bytes of replies, lines ending in CR.
int RunPty(emulator::ControllerModel& model) {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::perror("pseudo-terminal");
        return 1;
    }
    const char* path = ptsname(master);
    // Keep the terminal side open and raw, so that it neither echoes nor hangs up between
    // clients.
    int slave = open(path, O_RDWR | O_NOCTTY);
    termios t{};
    tcgetattr(slave, &t);
    cfmakeraw(&t);
    tcsetattr(slave, TCSANOW, &t);
    std::printf("PORT %s\n", path);
    std::fflush(stdout);
    while (!g_stop) {
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, 2) > 0 && (p.revents & POLLIN)) {
            std::uint8_t buffer[256];
            ssize_t n = read(master, buffer, sizeof buffer);
            for (ssize_t i = 0; i < n; ++i)
                model.Receive(buffer[i], NowMs());
            g_received += n > 0 ? static_cast<std::uint64_t>(n) : 0;
        }
        for (const auto& out : model.Due(NowMs())) {
            if (out.kind == emulator::Output::Status) continue;
            std::string data =
                out.kind == emulator::Output::Line ? out.data + "\r" : out.data;  // "o" completes
            if (write(master, data.data(), data.size()) < 0) break;
        }
    }
    close(slave);
    close(master);
    return 0;
}

// Block interface: typed packets over a SOCK_SEQPACKET socket, one client at a time.
int RunBlock(emulator::ControllerModel& model, const std::string& path) {
    int server = socket(AF_UNIX, SOCK_SEQPACKET, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    unlink(path.c_str());
    if (server < 0 || bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(server, 1) != 0) {
        std::perror(path.c_str());
        return 1;
    }
    std::printf("PORT block:%s\n", path.c_str());
    std::fflush(stdout);
    int client = -1;
    while (!g_stop) {
        pollfd p{client >= 0 ? client : server, POLLIN, 0};
        if (poll(&p, 1, 2) > 0) {
            if (client < 0) {
                client = accept(server, nullptr, nullptr);
            } else {
                std::uint8_t packet[telx32::kMaxPacket];
                ssize_t n = recv(client, packet, sizeof packet, 0);
                if (n <= 0) {
                    close(client);
                    client = -1;
                } else if (packet[0] == telx32::kHostBytes) {
                    for (ssize_t i = 1; i < n; ++i)
                        model.Receive(packet[i], NowMs());
                    g_received += static_cast<std::uint64_t>(n - 1);
                }
            }
        }
        for (const auto& out : model.Due(NowMs())) {
            if (client < 0) continue;
            std::string packet;
            switch (out.kind) {
                case emulator::Output::Bytes:
                    packet = char(telx32::kReplyBytes) + out.data;
                    break;
                case emulator::Output::Line:
                    packet = char(telx32::kReplyBlock) + out.data;
                    break;
                case emulator::Output::Status:
                    packet = char(telx32::kStatus) + out.data;
                    break;
                case emulator::Output::Completion:
                    packet = {char(telx32::kStatus), char(telx32::kStatusDone)};
                    break;
            }
            send(client, packet.data(), packet.size(), MSG_NOSIGNAL);
        }
    }
    if (client >= 0) close(client);
    close(server);
    unlink(path.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "Speaks the spectrograph controller's protocol. Without --block it opens a "
        "pseudo-terminal and prints \"PORT <path>\"; with --block it listens on the Unix socket "
        "and prints \"PORT block:<path>\". Runs until terminated.",
        "spectrograph-emulator"};
    emulator::Config config;
    std::string block, received;
    AddOptions(app, config, block, received);
    app.set_version_flag("--version", std::string("spectrograph-emulator ") + PROJECT_VERSION_TEXT +
                                          "\n" + PROJECT_LICENCE_TEXT);
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "spectrograph-emulator: %s\n", e.what());
        return 2;
    }
    struct sigaction action {};
    action.sa_handler = [](int) { g_stop = 1; };
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    emulator::ControllerModel model(config);
    const int status = block.empty() ? RunPty(model) : RunBlock(model, block);
    if (!received.empty()) {
        FILE* f = std::fopen(received.c_str(), "w");
        if (!f || std::fprintf(f, "%llu\n", static_cast<unsigned long long>(g_received)) < 0 ||
            std::fclose(f) != 0) {
            std::perror(received.c_str());
            return 1;
        }
    }
    return status;
}
