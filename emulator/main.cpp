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

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "emulator/controller_model.h"
#include "telx32/block_link.h"

namespace {

const char kUsage[] =
    "Usage: spectrograph-emulator [--model 270m|spex232|triax180|triax190|triax320]\n"
    "                             [--block SOCKET] [--start boot|star|main]\n"
    "                             [--fault "
    "silence|late=MS|dribble=MS|garbage|wrong-byte|busy-forever]\n"
    "Speaks the spectrograph controller's protocol. Without --block it opens a pseudo-terminal\n"
    "and prints \"PORT <path>\"; with --block it listens on the Unix socket and prints\n"
    "\"PORT block:<path>\". Runs until terminated.\n";

volatile sig_atomic_t g_stop = 0;

std::uint32_t NowMs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<std::uint32_t>(t.tv_sec * 1000 + t.tv_nsec / 1000000);
}

bool ParseArgs(int argc, char** argv, emulator::Config& config, std::string& block) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        std::string v = i + 1 < argc ? argv[i + 1] : "";
        if (a == "--model" && !v.empty()) {
            ++i;
            if (v == "270m" || v == "spex232")
                config.family = emulator::Family::Step;
            else if (v.rfind("triax", 0) == 0)
                config.family = emulator::Family::Value;
            else
                return false;
        } else if (a == "--block" && !v.empty()) {
            block = argv[++i];
        } else if (a == "--start" && !v.empty()) {
            ++i;
            config.start = v == "main"   ? emulator::StartState::Main
                           : v == "star" ? emulator::StartState::Star
                                         : emulator::StartState::Boot;
        } else if (a == "--fault" && !v.empty()) {
            ++i;
            std::string name = v.substr(0, v.find('='));
            config.fault_ms =
                v.find('=') == std::string::npos
                    ? 100
                    : static_cast<std::uint32_t>(std::atoi(v.c_str() + v.find('=') + 1));
            if (name == "silence")
                config.fault = emulator::Fault::Silence;
            else if (name == "late")
                config.fault = emulator::Fault::Late;
            else if (name == "dribble")
                config.fault = emulator::Fault::Dribble;
            else if (name == "garbage")
                config.fault = emulator::Fault::Garbage;
            else if (name == "wrong-byte")
                config.fault = emulator::Fault::WrongByte;
            else if (name == "busy-forever")
                config.fault = emulator::Fault::BusyForever;
            else
                return false;
        } else {
            return false;
        }
    }
    return true;
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
    emulator::Config config;
    std::string block;
    if (!ParseArgs(argc, argv, config, block)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    struct sigaction action {};
    action.sa_handler = [](int) { g_stop = 1; };
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    emulator::ControllerModel model(config);
    return block.empty() ? RunPty(model) : RunBlock(model, block);
}
