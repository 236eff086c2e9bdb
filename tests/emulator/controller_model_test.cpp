// The emulator's controller model: the replies each family gives, start-up states, motion
// time and faults.
#include "emulator/controller_model.h"

#include <gtest/gtest.h>

namespace emulator {
namespace {

// Sends a command (text + CR, or a single byte) at `now` and returns everything due by
// `later`, lines with their CR.
std::string Exchange(ControllerModel& m, const std::string& sent, std::uint32_t now = 0,
                     std::uint32_t later = 10000) {
    for (char c : sent)
        m.Receive(static_cast<std::uint8_t>(c), now);
    std::string out;
    for (const Output& o : m.Due(later)) {
        if (o.kind == Output::Line)
            out += o.data + "\r";
        else if (o.kind != Output::Status)
            out += o.data;
    }
    return out;
}

TEST(ControllerModel, RepliesByFamily) {
    const struct {
        Family family;
        std::string sent, reply;
    } cases[] = {
        {Family::Value, "Z61,0,250.000\r", "o"},
        {Family::Value, "Z62,0\r", "o0.0000\r"},
        {Family::Value, "Z451,0,0,0,2\r", "o"},
        {Family::Value, "Z452,0,0,0\r", "o0\r"},
        {Family::Value, "Z451,0,0,0,7\r", "b"},
        {Family::Value, "H0\r", "b"},
        {Family::Step, "H0\r", "o0\r"},
        {Family::Step, "F0,-40\r", "o"},
        {Family::Step, "b0\r", "o"},
        {Family::Step, "Z62,0\r", "b"},
        {Family::Step, "C0\r", "o2560,2560,1000\r"},
        {Family::Value, "C0\r", "o1000,4000,250\r"},
        {Family::Value, "B0,1,2,3\r", "o"},
        {Family::Value, "j0,0\r", "o787\r"},
        {Family::Value, "j0,1\r", "b"},
        {Family::Value, "k0,2,-57\r", "o"},
        {Family::Value, "h0,0\r", "o10000\r"},
        {Family::Value, "c0\r", "o"},
        {Family::Value, "E", "oz"},
        {Family::Value, " ", "F"},
        {Family::Value, "Zx9\r", "b"},
        {Family::Value, "L", ""},
        // A host ending lines with CR LF, and a byte no command begins with, lose nothing.
        {Family::Value, "Z62,0\r\nZ62,0\r\n", "o0.0000\ro0.0000\r"},
        {Family::Value, "xZ62,0\r", "o0.0000\r"},
    };
    for (const auto& c : cases) {
        Config config;
        config.family = c.family;
        config.start = StartState::Main;
        ControllerModel m(config);
        EXPECT_EQ(Exchange(m, c.sent), c.reply) << c.sent;
    }
}

TEST(ControllerModel, StartUpStatesAndMotion) {
    Config config;
    ControllerModel boot(config);
    EXPECT_EQ(Exchange(boot, " "), "B");
    EXPECT_EQ(Exchange(boot, std::string("O2000") + '\0'), "*");
    EXPECT_TRUE(boot.InMainState());
    config.start = StartState::Star;
    ControllerModel star(config);
    EXPECT_EQ(Exchange(star, " "), "*");
    EXPECT_EQ(Exchange(star, "\xF7"), "=");
    EXPECT_EQ(Exchange(star, " "), "B");  // after 0xF7 the boot program answers

    config.start = StartState::Main;
    config.family = Family::Step;
    ControllerModel m(config);
    EXPECT_EQ(Exchange(m, "F0,2560\r", 0, 0), "o");
    EXPECT_TRUE(m.Busy(500));  // 2560 steps at 2560 steps/s take about a second
    EXPECT_EQ(Exchange(m, "E", 500, 500), "oq");
    EXPECT_FALSE(m.Busy(1200));
    EXPECT_EQ(m.Steps(), 2560);
    EXPECT_EQ(Exchange(m, "A", 2000, 2000), "");  // completion comes later
    EXPECT_EQ(Exchange(m, "", 2000, 2400), "o");
    // A move lasts as long as its distance at the speed makes it, times the time scale.
    EXPECT_EQ(Exchange(m, "F0,12800\r", 3000, 3000), "o");
    EXPECT_TRUE(m.Busy(7900));
    EXPECT_FALSE(m.Busy(8200));
    config.time_scale = 0.01;
    ControllerModel fast(config);
    EXPECT_EQ(Exchange(fast, "F0,12800\r", 0, 0), "o");
    EXPECT_FALSE(fast.Busy(60));
}

TEST(ControllerModel, Faults) {
    const struct {
        Fault fault;
        std::string reply;
    } cases[] = {
        {Fault::Silence, ""},          {Fault::WrongByte, "x0.0000\r"}, {Fault::Garbage, "o#?x!\r"},
        {Fault::Dribble, "o0.0000\r"}, {Fault::Late, "o0.0000\r"},
    };
    for (const auto& c : cases) {
        Config config;
        config.start = StartState::Main;
        config.fault = c.fault;
        config.fault_ms = 50;
        ControllerModel m(config);
        EXPECT_EQ(Exchange(m, "Z62,0\r", 0, 10000), c.reply);
    }
    Config late;
    late.start = StartState::Main;
    late.fault = Fault::Late;
    late.fault_ms = 300;
    ControllerModel m(late);
    EXPECT_EQ(Exchange(m, "E", 0, 299), "");
    EXPECT_EQ(Exchange(m, "", 0, 300), "oz");
    Config busy;
    busy.start = StartState::Main;
    busy.fault = Fault::BusyForever;
    ControllerModel forever(busy);
    EXPECT_EQ(Exchange(forever, "E", 100000, 100000), "oq");
}

}  // namespace
}  // namespace emulator
