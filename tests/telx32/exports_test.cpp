// The port library's exports that do something, on a serial port made of a pseudo-terminal:
// the test holds the far end (the master) and plays the instrument.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "telx32.h"

namespace {

// A pseudo-terminal whose slave end the library opens as a serial port.
class Terminal {
  public:
    Terminal() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0)
            slave_ = ptsname(master_);
    }
    ~Terminal() {
        if (master_ >= 0) close(master_);
    }
    const std::string& Slave() const { return slave_; }
    void Send(const std::string& bytes) const {
        ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // What the port sent, waiting up to a second for `count` bytes.
    std::string Received(std::size_t count) const {
        std::string got;
        for (int waited = 0; got.size() < count && waited < 100; ++waited) {
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, 10) <= 0) continue;
            char buffer[64];
            const ssize_t n = read(master_, buffer, sizeof buffer);
            if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
        }
        return got;
    }

  private:
    int master_ = -1;
    std::string slave_;
};

// Waits up to a second for a port's received-bytes count to reach `count`.
int32_t WaitForReceived(TELX_PORT port, int32_t count) {
    int32_t waiting = 0;
    for (int i = 0;
         i < 100 && TELX_GetUIParam(port, TELX_UI_RX_WAITING, &waiting) && waiting < count; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return waiting;
}

// Opening, the seven byte-moving exports, flushing, parameters and names on one port; then
// every export fails on the destroyed handle.
TEST(Telx32, SerialPortOverAPseudoTerminal) {
    Terminal terminal;
    ASSERT_FALSE(terminal.Slave().empty());
    const TELX_PORT port = TELX_Create_physical_port(terminal.Slave().c_str());
    ASSERT_NE(port, 0u);
    EXPECT_EQ(TELX_Initialize(port), 1);
    int32_t value = 0;
    EXPECT_EQ(TELX_GetUIParam(port, TELX_UI_KIND, &value), 1);
    EXPECT_EQ(value, TELX_KIND_CHARACTER);
    EXPECT_EQ(TELX_GetUIParam(port, TELX_UI_BAUD, &value), 1);
    EXPECT_EQ(value, 19200);

    // The port is raw and runs at the rate set: what the far end's terminal says.
    EXPECT_EQ(TELX_SetUIParam(port, TELX_UI_BAUD, 9600), 1);
    EXPECT_EQ(TELX_GetLongParam(port, TELX_UI_BAUD, &value), 1);
    EXPECT_EQ(value, 9600);
    EXPECT_EQ(TELX_SetUIParam(port, TELX_UI_BAUD, 12345), 0);  // no such rate: unchanged
    EXPECT_EQ(TELX_GetUIParam(port, TELX_UI_BAUD, &value), 1);
    EXPECT_EQ(value, 9600);
    {
        const int fd = open(terminal.Slave().c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(fd, 0);
        termios t{};
        ASSERT_EQ(tcgetattr(fd, &t), 0);
        close(fd);
        EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);
        EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    }

    // Sending: every way out reaches the far end, in order.
    const uint8_t command[] = {'H', '0', '\r'};
    EXPECT_EQ(TELX_Output_Multiple(port, 0, command, 3), 1);
    EXPECT_EQ(TELX_Output(port, 0, 'Z'), 1);
    EXPECT_EQ(TELX_Output_Byte(port, 'Q' + 256), 1);  // the low byte only
    EXPECT_EQ(TELX_Special_Output(port, 0, '!'), 1);
    EXPECT_EQ(terminal.Received(6), "H0\rZQ!");
    EXPECT_EQ(TELX_GetUIParam(port, TELX_UI_TX_PENDING, &value), 1);
    EXPECT_EQ(value, 0);

    // Receiving: counted, waited for, read byte by byte or as a block.
    EXPECT_EQ(TELX_Wait_for_response(port, 0), 0);  // nothing yet
    terminal.Send("o42\r");
    EXPECT_EQ(TELX_Wait_for_response(port, 1000), 1);
    EXPECT_EQ(WaitForReceived(port, 4), 4);
    EXPECT_EQ(TELX_Input_Byte(port), 'o');
    EXPECT_EQ(TELX_Input(port, 0), '4');
    uint8_t block[8] = {};
    EXPECT_EQ(TELX_Input_Multiple(port, 0, block, 1), 1);  // at most the room given
    EXPECT_EQ(block[0], '2');
    EXPECT_EQ(TELX_Input_Multiple(port, 0, block, sizeof block), 1);
    EXPECT_EQ(block[0], '\r');
    EXPECT_EQ(TELX_Input_Byte(port), 0);  // none waiting

    // Flushing drops what was received; the output-state code drops nothing.
    for (int32_t code : {TELX_FLUSH_INPUT, TELX_FLUSH_OUTPUT_STATE}) {
        terminal.Send("junk");
        EXPECT_EQ(WaitForReceived(port, 4), 4);
        EXPECT_EQ(TELX_Flush_Buffer(port, code), 1);
        EXPECT_EQ(WaitForReceived(port, 0), code == TELX_FLUSH_INPUT ? 0 : 4) << code;
    }
    EXPECT_EQ(TELX_Reset_Interface(port), 1);
    EXPECT_EQ(WaitForReceived(port, 0), 0);

    // What the host keeps with the port, and its name.
    EXPECT_EQ(TELX_SetUserData(port, 0xDEADBEEFu), 1);
    EXPECT_EQ(TELX_GetUserData(port), 0xDEADBEEFu);
    EXPECT_EQ(TELX_Set_device_name(port, "mono1"), 1);
    EXPECT_EQ(TELX_Get_Handle("mono1"), port);
    char name[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(TELX_Get_device_name(port, name, sizeof name), 1);
    EXPECT_STREQ(name, "mon");  // cut to the room given, always ended
    char kind[32] = {};
    EXPECT_EQ(TELX_Get_classname(port, kind, sizeof kind), 1);
    EXPECT_STREQ(kind, "serial port");

    EXPECT_EQ(TELX_Destroy(port), 1);
    const std::function<int32_t()> stale[] = {
        [&] { return TELX_Initialize(port); },
        [&] { return TELX_Destroy(port); },
        [&] { return TELX_Output_Multiple(port, 0, command, 3); },
        [&] { return TELX_Output_Byte(port, 'x'); },
        [&] { return TELX_Input_Multiple(port, 0, block, sizeof block); },
        [&] { return TELX_Input_Byte(port); },
        [&] { return TELX_Flush_Buffer(port, TELX_FLUSH_INPUT); },
        [&] { return TELX_Wait_for_response(port, 0); },
        [&] { return TELX_GetUIParam(port, TELX_UI_KIND, &value); },
        [&] { return TELX_SetUIParam(port, TELX_UI_BAUD, 9600); },
        [&] { return TELX_SetUserData(port, 1); },
        [&] { return static_cast<int32_t>(TELX_GetUserData(port)); },
        [&] { return static_cast<int32_t>(TELX_Get_Handle("mono1")); },
        [&] { return TELX_Get_device_name(port, name, sizeof name); },
    };
    for (std::size_t k = 0; k < std::size(stale); ++k)
        EXPECT_EQ(stale[k](), 0) << "call " << k << " on the destroyed port";
}

// What cannot be opened or used fails with 0, and nothing is left open.
TEST(Telx32, RefusesWhatItCannotUse) {
    Terminal terminal;
    const char* slave = terminal.Slave().c_str();
    const struct {
        const char* what;
        TELX_PORT port;
    } opens[] = {
        {"no name", TELX_Create_physical_port(nullptr)},
        {"no such device", TELX_Create_physical_port("/nonexistent/ttyX")},
        {"not a terminal", TELX_Create_physical_port("/dev/null")},
        {"a rate no port has", TELX_Create_physical_port_ex(slave, 12345)},
        {"no block link there", TELX_Create_physical_port("block:/nonexistent/socket")},
    };
    for (const auto& c : opens)
        EXPECT_EQ(c.port, 0u) << c.what;
    char reason[256] = {};
    EXPECT_EQ(TELX_Diagnose_Interface(0, reason, sizeof reason), 1);
    EXPECT_STREQ(reason, "block:/nonexistent/socket: No such file or directory");
    const TELX_PORT port = TELX_Create_physical_port_ex(slave, 115200);
    ASSERT_NE(port, 0u);
    int32_t value = 0;
    uint8_t byte = 'x';
    EXPECT_EQ(TELX_GetUIParam(port, TELX_UI_BAUD, &value), 1);
    EXPECT_EQ(value, 115200);
    EXPECT_EQ(TELX_Output_Multiple(port, 0, nullptr, 1), 0);
    EXPECT_EQ(TELX_Output_Multiple(port, 0, &byte, 0), 0);
    EXPECT_EQ(TELX_Input_Multiple(port, 0, &byte, 0), 0);
    EXPECT_EQ(TELX_Input_Multiple(port, 0, nullptr, 4), 0);
    EXPECT_EQ(TELX_GetUIParam(port, 999, &value), 0);
    EXPECT_EQ(TELX_GetUIParam(port, TELX_UI_KIND, nullptr), 0);
    EXPECT_EQ(TELX_SetUIParam(port, TELX_UI_KIND, 5), 0);  // only the rate is settable
    EXPECT_EQ(TELX_Get_device_name(port, nullptr, 8), 0);
    EXPECT_EQ(TELX_Set_device_name(port, nullptr), 0);
    EXPECT_EQ(TELX_Get_Handle(nullptr), 0u);
    EXPECT_EQ(TELX_Destroy(port), 1);
}

// The lock file serial programs agree on for a pseudo-terminal, when a lock folder is there.
std::string LockFileOf(const std::string& slave) {
    for (const char* folder : {"/run/lock", "/var/lock"})
        if (access(folder, W_OK) == 0)
            return std::string(folder) + "/LCK.." + "pts_" + slave.substr(slave.rfind('/') + 1);
    return {};
}

// A port is one process's: a second opener is refused before anything is sent, with the
// holder named; a lock left by a process that is gone is taken over.
TEST(Telx32, PortBelongsToOneProcess) {
    Terminal terminal;
    const std::string lock = LockFileOf(terminal.Slave());
    if (lock.empty()) GTEST_SKIP() << "no writable lock folder";
    const auto hold_by = [&](pid_t pid) {
        FILE* f = std::fopen(lock.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fprintf(f, "%10d\n", static_cast<int>(pid));
        std::fclose(f);
    };
    const pid_t gone = fork();
    if (gone == 0) _exit(0);
    waitpid(gone, nullptr, 0);
    const pid_t alive = fork();
    if (alive == 0) {
        pause();
        _exit(0);
    }
    char reason[256] = {};
    const struct {
        pid_t holder;  // 0: none besides this process's first handle
        bool opens;
        std::string said;
    } cases[] = {
        {gone, true, ""},
        {0, false,
         terminal.Slave() + " is already open in this program (PID " + std::to_string(getpid()) +
             ")"},
        {alive, false,
         terminal.Slave() + " is in use by test_telx32 (PID " + std::to_string(alive) + ")"},
    };
    for (const auto& c : cases) {
        TELX_PORT first = 0;
        if (c.holder) hold_by(c.holder);
        if (!c.holder) first = TELX_Create_physical_port(terminal.Slave().c_str());
        const TELX_PORT port = TELX_Create_physical_port(terminal.Slave().c_str());
        EXPECT_EQ(port != 0, c.opens) << c.said;
        if (!c.opens) {
            EXPECT_EQ(TELX_Diagnose_Interface(0, reason, sizeof reason), 1);
            EXPECT_EQ(reason, c.said);
        }
        EXPECT_EQ(terminal.Received(1), "");  // nothing sent by the one refused
        for (TELX_PORT p : {first, port})
            if (p) TELX_Destroy(p);
        if (c.opens) {
            EXPECT_NE(access(lock.c_str(), F_OK), 0) << "the lock file stays";
        }
        std::remove(lock.c_str());
    }
    kill(alive, SIGKILL);
    waitpid(alive, nullptr, 0);
}

// Nothing thrown inside crosses the C boundary: a name that cannot be stored under a memory
// limit fails the call instead of ending the host.
TEST(Telx32, NoExceptionCrossesTheBoundary) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "a memory limit and the address sanitizer's shadow do not mix";
#endif
    Terminal terminal;
    const pid_t child = fork();
    if (child == 0) {
        const TELX_PORT port = TELX_Create_physical_port(terminal.Slave().c_str());
        const std::size_t size = 400u << 20;
        char* name = static_cast<char*>(std::malloc(size + 1));
        if (!port || !name) _exit(2);
        std::memset(name, 'n', size);
        name[size] = '\0';
        rlimit limit{};
        getrlimit(RLIMIT_AS, &limit);
        long pages = 0;
        if (FILE* f = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(f, "%ld", &pages) != 1) pages = 0;
            std::fclose(f);
        }
        limit.rlim_cur =
            static_cast<rlim_t>(pages) * static_cast<rlim_t>(getpagesize()) + (64u << 20);
        setrlimit(RLIMIT_AS, &limit);
        _exit(TELX_Set_device_name(port, name) == 0 ? 0 : 3);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "the host was ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
