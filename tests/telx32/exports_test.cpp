// The port library's exports that do something, on a serial port made of a pseudo-terminal:
// the test holds the far end (the master) and plays the instrument.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
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

}  // namespace
