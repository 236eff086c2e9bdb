// Primitives and operations against a scripted port on a fake clock: the exact bytes sent and
// the parameters stored.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "monodrv/api/spectrograph.h"
#include "monodrv/control/protocol.h"
#include "scripted_port.h"

namespace monodrv {
namespace {

using testing::FakeClock;
using testing::ScriptedPort;

ScriptedPort* g_port = nullptr;

// Forwards to the test's port without owning it.
class Borrowed : public PortLink {
  public:
    std::int32_t OutputMultiple(const std::uint8_t* d, std::int32_t n) override {
        return g_port->OutputMultiple(d, n);
    }
    void FlushBuffer(std::int32_t c) override { g_port->FlushBuffer(c); }
    std::int32_t GetUIParam(std::int32_t c) override { return g_port->GetUIParam(c); }
    std::int32_t Input() override { return g_port->Input(); }
    std::int32_t InputMultiple(std::uint8_t* b, std::int32_t m) override {
        return g_port->InputMultiple(b, m);
    }
    std::uint32_t GetUserData() override { return g_port->GetUserData(); }
    std::int32_t SetUserData(std::uint32_t v) override { return g_port->SetUserData(v); }
};

class Driver : public ::testing::Test {
  protected:
    FakeClock clock;
    ScriptedPort port{clock};
    void SetUp() override {
        g_port = &port;
        SetClock(&clock);
        SetPortLinkFactory([](std::uint32_t) -> std::unique_ptr<PortLink> {
            return std::make_unique<Borrowed>();
        });
    }
    void TearDown() override {
        SetClock(nullptr);
        SetPortLinkFactory(nullptr);
        g_port = nullptr;
    }
    // Replies "o" to every command, plus a line for those in `lines`.
    void Answer(std::map<std::string, std::string> lines, std::string busy = "oz") {
        port.respond = [lines, busy](const std::string& unit) -> std::string {
            if (unit == "E") return busy;
            auto it = lines.find(unit);
            if (it != lines.end()) return it->second;
            return "o";
        };
    }
    std::int32_t Run(MonodrvSpectrograph& s, std::uint32_t op) {
        EXPECT_TRUE(s.Process(op));
        return s.State().Int(SPECT_PARAM_ERROR_CODE);
    }
    Protocol P() { return Protocol(port, clock); }
};

TEST_F(Driver, SendByteRetriesAndTimesOut) {
    port.refuse_output = 3;
    EXPECT_TRUE(P().SendByte('x'));
    EXPECT_EQ(clock.now, 1030u);
    port.refuse_output = 1000;
    std::uint32_t start = clock.now;
    EXPECT_FALSE(P().SendByte('x'));
    EXPECT_GT(clock.now - start, 2000u);
    EXPECT_LE(clock.now - start, 2020u);
    port.refuse_output = 0;
    port.stuck_sending = true;
    EXPECT_FALSE(P().SendByte('x'));
}

TEST_F(Driver, ReadLineCharacterAndBlock) {
    std::string line;
    port.Queue("123\r");
    EXPECT_TRUE(P().ReadLine(line));
    EXPECT_EQ(line, "123\r");
    port.Queue(std::string(249, '7'));  // no CR within 249 characters
    EXPECT_FALSE(P().ReadLine(line));
    EXPECT_EQ(line.size(), 249u);
    port.incoming.clear();
    port.user_data = 5;
    EXPECT_FALSE(P().ReadLine(line));  // time-out, nothing stored
    EXPECT_EQ(port.user_data, kStateReleased);
    port.Queue("4", 0);
    port.Queue("2\r", 500);  // dribbled, late but within the time-out of each byte
    EXPECT_TRUE(P().ReadLine(line));
    EXPECT_EQ(line, "42\r");
    port.kind = 5;
    port.blocks.push_back("1000,4000,250");
    EXPECT_TRUE(P().ReadLine(line));
    EXPECT_EQ(line, "1000,4000,250");
    port.blocks.push_back(std::string(300, '9'));  // a block is read at most 250 bytes at once
    EXPECT_TRUE(P().ReadLine(line));
    EXPECT_EQ(line.size(), 250u);
    const std::uint32_t start = clock.now;
    EXPECT_FALSE(P().ReadLine(line));  // no block announced within the I/O time-out
    EXPECT_EQ(clock.now - start, kIoTimeout + kPollInterval);
    port.kind = 3;
    EXPECT_FALSE(P().ReadLine(line));
}

TEST_F(Driver, QueryBusyTable) {
    const struct {
        std::uint32_t word;
        std::int32_t kind;
        std::string reply;  // to "E" (and "l")
        std::int32_t status, valid;
        bool waiting_byte;
        int result;
        std::uint32_t word_after;
    } cases[] = {
        {0, 6, "oz", 0, 1, false, 1, kStateReleased},
        {0, 6, "oq", 0, 1, false, -1, 0},
        {0, 6, "", 0, 1, false, 1, kStateReleased},  // no controller: ready
        {0, 6, "x", 0, 1, false, 1, kStateReleased},
        {0, 6, "o?oq", 0, 1, false, -1, 0},  // "l" asked after an odd reply
        {0, 6, "o?oz", 0, 1, false, 1, kStateReleased},
        {kStateErrorSignal, 6, "", 0, 1, false, -2, kStateReleased},
        {kStateHeld, 6, "", 0, 1, false, -3, kStateReleased},
        {kStateCompletionPending, 6, "", 0, 1, false, -1, kStateCompletionPending},
        {kStateCompletionPending, 6, "", 0, 1, true, 1, kStateReleased},
        {kStateCompletionPending, 5, "", 0, 1, false, -1, kStateCompletionPending},
        {kStateCompletionPending, 5, "", 0x01, 1, false, 1, kStateReleased},
        {kStateCompletionPending, 5, "", 0x02, 1, false, -2, kStateReleased},
        {kStateCompletionPending, 5, "", 0x01, 0, false, 0, kStateReleased},
        {kStateCompletionPending, 4, "", 0, 1, false, 1, kStateReleased},
    };
    for (const auto& c : cases) {
        port.user_data = c.word;
        port.kind = c.kind;
        port.status = c.status;
        port.status_valid = c.valid;
        port.incoming.clear();
        port.sent.clear();
        if (c.waiting_byte) port.Queue("o");
        std::string reply = c.reply;
        port.respond = [reply](const std::string& unit) -> std::string {
            if (unit == "E") return reply.substr(0, std::min<std::size_t>(2, reply.size()));
            if (unit == "l") return reply.size() > 2 ? reply.substr(2) : "";
            return "";
        };
        EXPECT_EQ(P().QueryBusy(), c.result) << c.word << "/" << c.reply;
        EXPECT_EQ(port.user_data, c.word_after) << c.word << "/" << c.reply;
    }
}

TEST_F(Driver, WaitNotBusyPollsUntilReadyOrTimesOut) {
    int queries = 0;
    port.respond = [&](const std::string& unit) -> std::string {
        if (unit != "E") return "";
        return ++queries < 5 ? "oq" : "oz";
    };
    EXPECT_TRUE(P().WaitNotBusy());
    EXPECT_EQ(queries, 5);
    EXPECT_EQ(clock.now - 1000, 4 * kBusyPollInterval);  // one pause after each busy answer
    port.respond = [](const std::string&) -> std::string { return "oq"; };
    std::uint32_t start = clock.now;
    EXPECT_FALSE(P().WaitNotBusy());
    EXPECT_GT(clock.now - start, 3000u);
    EXPECT_LT(clock.now - start, 3100u);
}

TEST_F(Driver, HandshakePaths) {
    const struct {
        std::string first;  // reply to the blank
        bool answers_star;  // "*" after O2000
        bool ok;
        std::vector<std::string> sent;
        std::uint32_t elapsed;  // on the fake clock; replies are immediate
    } cases[] = {
        {"F", true, true, {" "}, 0},
        {"B", true, true, {" ", "O2000"}, 0},
        {"B", false, false, {" ", "O2000"}, 0},
        {"*", true, true, {" ", "\xF7", "O2000"}, 1000},  // the start pause
        // Any other answer switches modes (each byte followed by its pause) and asks again.
        {"?", true, false, {" ", "\xF8", "\xDE", " "}, 2 * kModePause},
        // Silence: three blanks, the mode switch, three more.
        {"", true, false, {" ", " ", " ", "\xF8", "\xDE", " ", " ", " "}, 3660},
    };
    for (const auto& c : cases) {
        const std::uint32_t start = clock.now;
        port.sent.clear();
        port.incoming.clear();
        port.respond = [c](const std::string& unit) -> std::string {
            if (unit == " ") return c.first;
            if (unit == "\xF7") return "=";
            if (unit == "O2000") return c.answers_star ? "*" : "x";
            return "";
        };
        EXPECT_EQ(P().Initialize(), c.ok) << c.first;
        EXPECT_EQ(port.sent, c.sent) << c.first;
        EXPECT_EQ(clock.now - start, c.elapsed) << c.first;
        const bool starts = std::find(c.sent.begin(), c.sent.end(), "O2000") != c.sent.end();
        EXPECT_EQ(port.raw_sent.find(std::string("O2000\0", 6)) != std::string::npos, starts)
            << c.first;  // the start command ends with a zero byte
        port.raw_sent.clear();
        EXPECT_EQ(port.user_data, kStateReleased);
    }
    port.user_data = kStateHeld;
    port.respond = [](const std::string&) -> std::string { return ""; };
    port.sent.clear();
    EXPECT_FALSE(P().Initialize());  // writes 2679 first, then fails
    MonodrvSpectrograph sim(TRIAX_320);
    sim.SetULongParam(SPECT_PARAM_SIMULATION, 1, 0);
    port.sent.clear();
    EXPECT_EQ(Run(sim, SPECT_OP_INITIALIZE), SPECT_ERR_NONE);
    EXPECT_TRUE(port.sent.empty());
}

TEST_F(Driver, MoveToWavelengthCommands) {
    Answer({{"H0", "o100\r"}});
    MonodrvSpectrograph triax(TRIAX_320);
    triax.State().gratings[0][1].grooves = 600;
    triax.SetULongParam(SPECT_PARAM_GRATING, 1, 0);
    triax.SetDblParam(SPECT_PARAM_TARGET_WAVELENGTH, 500, 0);
    EXPECT_EQ(Run(triax, SPECT_OP_MOVE_TO_WAVELENGTH), SPECT_ERR_NONE);
    EXPECT_EQ(port.sent.back(), "Z61,0,250.000");
    EXPECT_EQ(port.raw_sent.substr(port.raw_sent.size() - 14), "Z61,0,250.000\r");
    triax.State().gratings[0][1].grooves = 1200;
    triax.SetDblParam(SPECT_PARAM_TARGET_WAVELENGTH, 50.5, 0);
    Run(triax, SPECT_OP_MOVE_TO_WAVELENGTH);
    EXPECT_EQ(port.sent.back(), "Z61,0, 50.500");  // seven characters wide

    MonodrvSpectrograph m270(SPEX_270M);
    m270.State().gratings[0][0].steps_per_nm = 32;
    const std::pair<double, std::string> cases[] = {
        {500.25, "F0,15908"}, {-20, "F0,-420"}, {0.00001, "F0,-100"}};  // below D decimals: 0
    for (const auto& [nm, command] : cases) {
        m270.SetDblParam(SPECT_PARAM_TARGET_WAVELENGTH, nm, 0);
        EXPECT_EQ(Run(m270, SPECT_OP_MOVE_TO_WAVELENGTH), SPECT_ERR_NONE);
        EXPECT_EQ(port.sent.back(), command);
    }
    Answer({{"H0", "o99999999999\r"}});  // a position that overflows 32 bits
    EXPECT_EQ(Run(m270, SPECT_OP_MOVE_TO_WAVELENGTH), SPECT_ERR_FAILED);
    Answer({}, "oq");  // never stops being busy
    EXPECT_EQ(Run(m270, SPECT_OP_MOVE_TO_WAVELENGTH), SPECT_ERR_FAILED);
}

TEST_F(Driver, SlitMirrorGratingSpeeds) {
    Answer({{"j0,0", "o40\r"}, {"C0", "o1000,40000,250\r"}, {"h0,0", "o9000\r"}});
    MonodrvSpectrograph s(SPEX_270M);
    s.SetDblParam(SPECT_PARAM_SLIT_STEPS_PER_MM, 157.48, 0);
    s.SetDblParam(SPECT_PARAM_TARGET_SLIT_WIDTH, 0.5, 0);
    EXPECT_EQ(Run(s, SPECT_OP_MOVE_SLIT), SPECT_ERR_NONE);
    EXPECT_EQ(port.sent.back(), "k0,0,38");  // 78 - 40
    s.SetDblParam(SPECT_PARAM_TARGET_SLIT_WIDTH, -1, 0);
    EXPECT_EQ(Run(s, SPECT_OP_MOVE_SLIT), SPECT_ERR_NONE);
    EXPECT_EQ(port.sent.back(), "k0,0,-48");  // -157 clamped to the lowest step -8, minus 40
    const struct {
        std::int32_t location, position;
        const char* command;  // null: fails, nothing sent
    } mirrors[] = {{1, 2, "c0"}, {1, 1, "d0"},    {2, 2, "e0"},
                   {2, 1, "f0"}, {3, 1, nullptr}, {1, 0, nullptr}};
    for (const auto& m : mirrors) {
        port.sent.clear();
        s.SetULongParam(SPECT_PARAM_TARGET_MIRROR_LOCATION, static_cast<std::uint32_t>(m.location),
                        0);
        s.SetULongParam(SPECT_PARAM_TARGET_MIRROR_POSITION, static_cast<std::uint32_t>(m.position),
                        0);
        EXPECT_EQ(Run(s, SPECT_OP_SET_MIRROR), m.command ? SPECT_ERR_NONE : SPECT_ERR_FAILED);
        if (m.command)
            EXPECT_EQ(port.sent.back(), m.command);
        else
            EXPECT_TRUE(port.sent.empty());
    }
    s.SetULongParam(SPECT_PARAM_GRATING, 2, 0);
    port.sent.clear();
    EXPECT_EQ(Run(s, SPECT_OP_SELECT_GRATING), SPECT_ERR_FAILED);  // no "b0"/"a0" for grating 2
    EXPECT_EQ(port.sent, std::vector<std::string>{"E"});
    s.SetULongParam(SPECT_PARAM_GRATING, 1, 0);
    EXPECT_EQ(Run(s, SPECT_OP_SELECT_GRATING), SPECT_ERR_NONE);
    EXPECT_EQ(port.sent.back(), "a0");
    s.SetDblParam(SPECT_PARAM_SPEEDS, 50, 0);
    s.SetDblParam(SPECT_PARAM_SPEEDS, 90000, 1);
    s.SetDblParam(SPECT_PARAM_SPEEDS, 70000, 2);
    EXPECT_EQ(Run(s, SPECT_OP_SET_SPEEDS), SPECT_ERR_NONE);
    EXPECT_EQ(port.sent.back(), "B0,100,80000,65535");
    s.SetDblParam(SPECT_PARAM_SPEEDS, -5, 0);
    Run(s, SPECT_OP_SET_SPEEDS);
    EXPECT_EQ(port.sent.back(), "B0,80000,80000,65535");  // negative counts as above the bound
    EXPECT_EQ(Run(s, SPECT_OP_READ_SPEEDS), SPECT_ERR_NONE);
    double d = 0;
    s.GetDblParam(SPECT_PARAM_SPEEDS, &d, 1);
    EXPECT_EQ(d, 40000);
    EXPECT_EQ(Run(s, SPECT_OP_READ_SLIT_SPEED), SPECT_ERR_NONE);
    s.GetDblParam(SPECT_PARAM_SLIT_SPEEDS, &d, 0);
    EXPECT_EQ(d, 9000);
    Answer({{"C0", "o1,2\r"}, {"h0,0", "ox\r"}});
    EXPECT_EQ(Run(s, SPECT_OP_READ_SPEEDS), SPECT_ERR_FAILED);
    s.GetDblParam(SPECT_PARAM_SPEEDS, &d, 2);
    EXPECT_EQ(d, 65535);
    EXPECT_EQ(Run(s, SPECT_OP_READ_SLIT_SPEED), SPECT_ERR_FAILED);
    s.GetDblParam(SPECT_PARAM_SLIT_SPEEDS, &d, 0);
    EXPECT_EQ(d, 10000);
    s.SetULongParam(SPECT_PARAM_SIMULATION, 1, 0);
    EXPECT_EQ(Run(s, SPECT_OP_SET_SPEEDS), SPECT_ERR_FAILED);  // fails in simulation
}

TEST_F(Driver, SlitReadsRound) {
    const std::pair<std::string, double> cases[] = {
        {"o787\r", 5.0}, {"o788\r", 5.01}, {"o0\r", 0.01}};
    for (const auto& [reply, width] : cases) {
        Answer({{"j0,0", reply}, {"j0,1", "b"}, {"j0,2", "o157\r"}, {"j0,3", "o1,2\r"}});
        MonodrvSpectrograph s(TRIAX_320);
        EXPECT_EQ(Run(s, SPECT_OP_FIND_SLITS), SPECT_ERR_NONE);
        std::uint32_t count = 0, location = 0;
        s.GetULongParam(SPECT_PARAM_SLIT_COUNT, &count, 0);
        ASSERT_EQ(count, 2u);
        double w = 0;
        s.GetDblParam(SPECT_PARAM_SLIT_WIDTH, &w, 0);
        EXPECT_DOUBLE_EQ(w, width) << reply;
        s.GetULongParam(SPECT_PARAM_SLIT_LOCATION, &location, 1);
        EXPECT_EQ(location, 2u);
        s.GetDblParam(SPECT_PARAM_SLIT_WIDTH, &w, 1);
        EXPECT_DOUBLE_EQ(w, 1.0);
    }
}

TEST_F(Driver, ReinitializeCompletesOnBothInterfaceKinds) {
    for (std::int32_t kind : {6, 5}) {
        emulator::Config config;
        config.start = emulator::StartState::Main;
        emulator::ControllerModel model(config);
        port.model = &model;
        port.kind = kind;
        port.status = 0;
        MonodrvSpectrograph s(TRIAX_320);
        EXPECT_EQ(Run(s, SPECT_OP_REINITIALIZE), SPECT_ERR_NONE);
        EXPECT_EQ(port.user_data, kStateCompletionPending);
        EXPECT_EQ(Run(s, SPECT_OP_READ_BUSY_STATUS), SPECT_ERR_NONE);
        std::uint32_t busy = 0;
        s.GetULongParam(SPECT_PARAM_BUSY_STATUS, &busy, 0);
        EXPECT_EQ(static_cast<std::int32_t>(busy), -1);
        clock.now += 400;  // the re-initialisation is done
        EXPECT_EQ(Run(s, SPECT_OP_READ_BUSY_STATUS), SPECT_ERR_NONE);
        s.GetULongParam(SPECT_PARAM_BUSY_STATUS, &busy, 0);
        EXPECT_EQ(busy, 1u) << kind;
        EXPECT_EQ(port.user_data, kStateReleased);
        port.model = nullptr;
    }
}

// Habits of real controllers, played by the emulator's model: each row runs operations on
// the fake clock and says what the driver must make of them.
TEST_F(Driver, ControllerHabits) {
    using Habit = bool emulator::Habits::*;
    const auto busy = [](MonodrvSpectrograph& s) {
        std::uint32_t status = 0;
        s.GetULongParam(SPECT_PARAM_BUSY_STATUS, &status, 0);
        return static_cast<std::int32_t>(status);
    };
    const auto wavelength = [](MonodrvSpectrograph& s) {
        double nm = 0;
        s.GetDblParam(SPECT_PARAM_WAVELENGTH, &nm, 0);
        return nm;
    };
    const struct {
        const char* what;
        SPECTROMETERS model;
        Habit habit;
        emulator::StartState start;
    } cases[] = {
        {"busy query unanswered after a move", SPEX232_RETRO, &emulator::Habits::quiet_after_move,
         emulator::StartState::Main},
        {"stop byte answered", TRIAX_320, &emulator::Habits::stop_answered,
         emulator::StartState::Main},
        {"first blank finds the baud rate", TRIAX_320, &emulator::Habits::autobaud,
         emulator::StartState::Boot},
        {"left in terminal mode", TRIAX_180, &emulator::Habits::terminal_mode,
         emulator::StartState::Star},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        emulator::Config config;
        config.family = c.model == SPEX232_RETRO ? emulator::Family::Step : emulator::Family::Value;
        config.start = c.start;
        config.habits.*c.habit = true;
        emulator::ControllerModel model(config);
        port.model = &model;
        MonodrvSpectrograph s(c.model);
        ASSERT_EQ(Run(s, SPECT_OP_INITIALIZE), SPECT_ERR_NONE);  // first contact works
        ASSERT_EQ(Run(s, SPECT_OP_REFRESH_ALL), SPECT_ERR_NONE);
        s.SetDblParam(SPECT_PARAM_TARGET_WAVELENGTH, 600, 0);
        ASSERT_EQ(Run(s, SPECT_OP_MOVE_TO_WAVELENGTH), SPECT_ERR_NONE);
        if (c.habit == &emulator::Habits::stop_answered) {
            clock.now += 500;
            ASSERT_EQ(Run(s, SPECT_OP_SEND_L), SPECT_ERR_NONE);
        }
        // Ready is said only once the motor is at rest; the position then reads back.
        ASSERT_EQ(Run(s, SPECT_OP_READ_BUSY_STATUS), SPECT_ERR_NONE);
        EXPECT_EQ(busy(s), -1);
        for (int polls = 0; polls < 400 && busy(s) != 1; ++polls) {
            clock.now += 50;
            ASSERT_EQ(Run(s, SPECT_OP_READ_BUSY_STATUS), SPECT_ERR_NONE);
        }
        EXPECT_FALSE(model.Busy(clock.now));
        ASSERT_EQ(Run(s, SPECT_OP_READ_POSITION), SPECT_ERR_NONE);
        if (c.habit == &emulator::Habits::stop_answered) {
            EXPECT_GT(wavelength(s), 0);  // stopped on the way
            EXPECT_LT(wavelength(s), 600);
            EXPECT_NEAR(wavelength(s), model.Value(), 0.001);
        } else {
            EXPECT_DOUBLE_EQ(wavelength(s), 600);
        }
        port.model = nullptr;
    }
}

TEST_F(Driver, OperationsWithoutPortLibraryFail) {
    SetPortLinkFactory([](std::uint32_t) -> std::unique_ptr<PortLink> { return nullptr; });
    MonodrvSpectrograph s(TRIAX_320);
    for (std::uint32_t op : {0u, 1u, 2u, 3u, 4u, 8u, 11u, 12u, 18u, 24u, 26u, 27u})
        EXPECT_EQ(Run(s, op), SPECT_ERR_FAILED) << op;
    EXPECT_EQ(Run(s, SPECT_OP_FIND_SLITS), SPECT_ERR_NONE);  // finds nothing, succeeds
    EXPECT_EQ(Run(s, SPECT_OP_ROUND_VALUE), SPECT_ERR_NONE);
    s.SetULongParam(SPECT_PARAM_SIMULATION, 1, 0);  // simulation answers without a port
    for (std::uint32_t op : {0u, 3u, 4u, 8u, 12u, 18u, 26u, 27u})
        EXPECT_EQ(Run(s, op), SPECT_ERR_NONE) << op;
    double d = 1;
    s.GetDblParam(SPECT_PARAM_WAVELENGTH, &d, 0);
    EXPECT_EQ(d, 0.0);
    EXPECT_EQ(Run(s, SPECT_OP_MOVE_SLIT), SPECT_ERR_FAILED);  // no simulation branch
    EXPECT_EQ(Run(s, SPECT_OP_READ_BUSY_STATUS), SPECT_ERR_FAILED);
    EXPECT_FALSE(s.Process(7));
    EXPECT_EQ(s.State().Int(SPECT_PARAM_ERROR_CODE), SPECT_ERR_NONE);
}

// A grating that cannot be addressed, or whose groove density or steps per nanometre is unknown
// or too small to stand for the target, and a target that is not a finite 32-bit step count:
// the move fails without a byte sent. Selections outside the model are refused the same way.
TEST_F(Driver, NoMotionOnUnusableGratingOrTarget) {
    Answer({{"H0", "o100\r"}});
    const struct {
        const char* what;
        SPECTROMETERS model;
        std::int32_t set, grating;
        double grooves, steps_per_nm, target;
    } cases[] = {
        {"fresh TRIAX, density 0", TRIAX_320, 0, 0, 0, 0, 500},
        {"grating set 9", TRIAX_320, 9, 0, 600, 16.7, 500},
        {"grating set -1", TRIAX_190, -1, 0, 600, 16.7, 500},
        {"grating beyond the set", TRIAX_180, 0, 3, 600, 16.7, 500},
        {"negative density", TRIAX_320, 0, 0, -600, 16.7, 500},
        {"NaN target", TRIAX_320, 0, 0, 600, 16.7, std::nan("")},
        {"value beyond 32 bits", TRIAX_320, 0, 0, 1200, 16.7, 1e9},
        {"fresh 270M, steps 0", SPEX_270M, 0, 0, 0, 0, 500},
        {"270M, grating set 9", SPEX_270M, 9, 0, 1200, 32, 500},
        {"270M, infinite target", SPEX232_RETRO, 0, 0, 1200, 32, HUGE_VAL},
        {"270M, steps beyond 32 bits", SPEX_270M, 0, 0, 1200, 32, 1e9},
        {"density scales the target to 0", TRIAX_320, 0, 0, 1e-300, 16.7, 500},
        {"density scales the target to 0.000", TRIAX_190, 0, 0, 1e-3, 16.7, 500},
        {"270M, steps per nm truncate the target to 0", SPEX_270M, 0, 0, 1200, 1e-300, 500},
        {"270M, grating beyond the model's two", SPEX_270M, 0, 2, 1200, 32, 500},
    };
    for (const auto& c : cases) {
        MonodrvSpectrograph s(c.model);
        if (c.set >= 0 && c.set < kGratingSets)
            for (Grating& g : s.State().gratings[c.set])
                g = Grating{c.grooves, 0, {}, c.steps_per_nm};
        s.SetULongParam(SPECT_PARAM_GRATING_SET, static_cast<std::uint32_t>(c.set), 0);
        s.SetULongParam(SPECT_PARAM_GRATING, static_cast<std::uint32_t>(c.grating), 0);
        s.SetDblParam(SPECT_PARAM_TARGET_WAVELENGTH, c.target, 0);
        port.sent.clear();
        EXPECT_EQ(Run(s, SPECT_OP_MOVE_TO_WAVELENGTH), SPECT_ERR_FAILED) << c.what;
        EXPECT_TRUE(port.sent.empty()) << c.what;
    }
    // The slit move likewise refuses a width that is not a number, unknown steps per mm, steps
    // per mm that truncate the width to no step, and a location that is no slit location.
    const struct {
        SPECTROMETERS model;
        double steps_per_mm, width;
        std::uint32_t location;
    } slits[] = {
        {SPEX_270M, 157.48, std::nan(""), SLIT_LOC_FR_ENTR},
        {SPEX_270M, 0, 0.5, SLIT_LOC_FR_ENTR},
        {SPEX_270M, -157.48, 0.5, SLIT_LOC_FR_ENTR},
        {SPEX_270M, 1e-300, 0.5, SLIT_LOC_FR_ENTR},
        {TRIAX_320, 157.48, 0.5, NUM_SLIT_LOCATION},
        {TRIAX_180, 157.48, 0.5, 0xFFFFFFFF},
        {SPEX232_RETRO, 157.48, 0.5, NUM_SLIT_LOCATION},
    };
    for (const auto& c : slits) {
        MonodrvSpectrograph s(c.model);
        s.SetDblParam(SPECT_PARAM_SLIT_STEPS_PER_MM, c.steps_per_mm, 0);
        s.SetDblParam(SPECT_PARAM_TARGET_SLIT_WIDTH, c.width, 0);
        s.SetULongParam(SPECT_PARAM_TARGET_SLIT_LOCATION, c.location, 0);
        port.sent.clear();
        EXPECT_EQ(Run(s, SPECT_OP_MOVE_SLIT), SPECT_ERR_FAILED)
            << c.steps_per_mm << "/" << c.location;
        EXPECT_TRUE(port.sent.empty()) << c.steps_per_mm << "/" << c.location;
    }
    // Grating numbers beyond the model's gratings and slit locations beyond the four reach no
    // command; without the grating commands the busy query precedes the refusal.
    const struct {
        SPECTROMETERS model;
        SPECT_PARAMETERS param;
        std::uint32_t value;
        SPECT_OPERATIONS op;
        std::vector<std::string> sent;
    } selections[] = {
        {TRIAX_320, SPECT_PARAM_GRATING, 3, SPECT_OP_SELECT_GRATING, {}},
        {TRIAX_190, SPECT_PARAM_GRATING, 0xFFFFFFFF, SPECT_OP_SELECT_GRATING, {}},
        {SPEX_270M, SPECT_PARAM_GRATING, 2, SPECT_OP_SELECT_GRATING, {"E"}},
        {TRIAX_320,
         SPECT_PARAM_TARGET_SLIT_LOCATION,
         NUM_SLIT_LOCATION,
         SPECT_OP_READ_SLIT_SPEED,
         {}},
        {SPEX_270M, SPECT_PARAM_TARGET_SLIT_LOCATION, 0xFFFFFFFF, SPECT_OP_READ_SLIT_SPEED, {}},
    };
    for (const auto& c : selections) {
        MonodrvSpectrograph s(c.model);
        s.SetULongParam(c.param, c.value, 0);
        port.sent.clear();
        EXPECT_EQ(Run(s, c.op), SPECT_ERR_FAILED) << c.model << "/" << c.value;
        EXPECT_EQ(port.sent, c.sent) << c.model << "/" << c.value;
    }
}

// Reading the position: the grating read asks only controllers with the grating commands, a
// reply must be a usable grating number, and the wavelength is not asked for with an unknown
// groove density.
TEST_F(Driver, ReadPositionGratingReplies) {
    const struct {
        const char* what;
        SPECTROMETERS model;
        const char* grating_reply;
        double grooves;
        std::int32_t error;
        std::vector<std::string> sent;  // after the busy queries ("E") are removed
    } cases[] = {
        {"270M after re-initialising", SPEX_270M, "o9\r", 1200, SPECT_ERR_NONE, {"A", "H0"}},
        {"Spex232 after re-initialising", SPEX232_RETRO, "o9\r", 1200, SPECT_ERR_NONE, {"A", "H0"}},
        {"TRIAX", TRIAX_320, "o1\r", 1200, SPECT_ERR_NONE, {"A", "Z452,0,0,0", "Z62,0"}},
        {"largest 32-bit reply",
         TRIAX_320,
         "o2147483647\r",
         1200,
         SPECT_ERR_FAILED,
         {"A", "Z452,0,0,0"}},
        {"negative reply", TRIAX_320, "o-1\r", 1200, SPECT_ERR_FAILED, {"A", "Z452,0,0,0"}},
        {"density unknown", TRIAX_320, "o1\r", 0, SPECT_ERR_FAILED, {"A", "Z452,0,0,0"}},
    };
    for (const auto& c : cases) {
        Answer({{"H0", "o3200\r"}, {"Z452,0,0,0", c.grating_reply}, {"Z62,0", "o500.000\r"}});
        MonodrvSpectrograph s(c.model);
        for (Grating& g : s.State().gratings[0])
            g = Grating{c.grooves, 0, {}, 32};
        EXPECT_EQ(Run(s, SPECT_OP_REINITIALIZE), SPECT_ERR_NONE) << c.what;
        port.sent.clear();
        EXPECT_EQ(Run(s, SPECT_OP_READ_POSITION), c.error) << c.what;
        std::vector<std::string> sent;
        for (const std::string& unit : port.sent)
            if (unit != "E") sent.push_back(unit);
        EXPECT_EQ(sent, std::vector<std::string>(c.sent.begin() + 1, c.sent.end())) << c.what;
        std::uint32_t grating = 0;
        EXPECT_TRUE(s.GetULongParam(SPECT_PARAM_CURRENT_GRATING, &grating, 0));
        if (c.error == SPECT_ERR_FAILED && c.grooves != 0) {
            EXPECT_EQ(grating, 1u) << c.what;  // a rejected reply changes nothing
        }
    }
}

// Rounding of parameter 144 to the model's decimals, and the gratings a refresh names.
TEST_F(Driver, RoundValueAndRefreshAll) {
    const struct {
        SPECTROMETERS model;
        double value, rounded;
    } rounding[] = {{SPEX_270M, 1.23456789, 1.2346},
                    {TRIAX_320, 1.23456789, 1.235},
                    {TRIAX_190, -2.0005, -2.001}};
    for (const auto& c : rounding) {
        MonodrvSpectrograph s(c.model);
        s.SetDblParam(SPECT_PARAM_ROUND_VALUE, c.value, 0);
        EXPECT_EQ(Run(s, SPECT_OP_ROUND_VALUE), SPECT_ERR_NONE);
        double d = 0;
        s.GetDblParam(SPECT_PARAM_ROUND_VALUE, &d, 0);
        EXPECT_DOUBLE_EQ(d, c.rounded) << c.model;
    }
    Answer({{"Z452,0,0,0", "o1\r"}, {"Z62,0", "o500.000\r"}, {"C0", "o1,2,3\r"}, {"h0,0", "o7\r"}});
    MonodrvSpectrograph s(TRIAX_180);
    EXPECT_EQ(Run(s, SPECT_OP_REFRESH_ALL), SPECT_ERR_NONE);
    std::uint32_t refreshed = 0;
    s.GetULongParam(SPECT_PARAM_REFRESHED, &refreshed, 0);
    EXPECT_EQ(refreshed, 1u);
    for (std::int16_t i = 0; i < 3; ++i) {
        char name[51] = {};
        double grooves = 0, steps = 0;
        s.GetStrParam(SPECT_PARAM_GRATING_NAME, name, 50, i);
        s.GetDblParam(SPECT_PARAM_GROOVE_DENSITY_READ, &grooves, i);
        s.GetDblParam(SPECT_PARAM_STEPS_PER_NM, &steps, i);
        EXPECT_EQ(std::string(name), "Grating " + std::to_string(i + 1));
        EXPECT_EQ(grooves, 1200.0);
        EXPECT_EQ(steps, 16.7);
    }
    double wavelength = 0;
    s.GetDblParam(SPECT_PARAM_WAVELENGTH, &wavelength, 0);
    EXPECT_EQ(wavelength, 500.0);
    // A named set outside the table (1-based: 0, and one past the last) fails the refresh
    // without naming a grating or sending a byte.
    for (std::int32_t named : {0, kGratingSets + 1}) {
        MonodrvSpectrograph other(TRIAX_180);
        other.State().SetInt(SPECT_PARAM_NAMED_GRATING_SET, named);
        port.sent.clear();
        EXPECT_EQ(Run(other, SPECT_OP_REFRESH_ALL), SPECT_ERR_FAILED) << named;
        EXPECT_TRUE(port.sent.empty()) << named;
        other.GetULongParam(SPECT_PARAM_REFRESHED, &refreshed, 0);
        EXPECT_EQ(refreshed, 0u) << named;
    }
}

TEST(ReplyParsing, IntegersAndReals) {
    EXPECT_EQ(ParseIntegers("123\r", 1), std::vector<std::int32_t>{123});
    EXPECT_EQ(ParseIntegers("-5", 1), std::vector<std::int32_t>{-5});
    EXPECT_EQ(ParseIntegers("1000,40000,250\r", 3), (std::vector<std::int32_t>{1000, 40000, 250}));
    EXPECT_FALSE(ParseIntegers("1,2", 3));
    EXPECT_FALSE(ParseIntegers("12x", 1));
    EXPECT_FALSE(ParseIntegers("", 1));
    EXPECT_FALSE(ParseIntegers("2147483648", 1));
    EXPECT_FALSE(ParseIntegers(std::string("1\0"
                                           "2",
                                           3),
                               1));
    EXPECT_EQ(ParseReal("250.000\r"), 250.0);
    EXPECT_FALSE(ParseReal("abc"));
    EXPECT_FALSE(ParseReal(""));
}

}  // namespace
}  // namespace monodrv
