// The real pieces together, as a user runs them: spectrograph-emulator on a pseudo-terminal
// or the block link, monodrv-ctl driving libmonodrv.so through libtelx32.so.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The emulator as a child process; its port is read from the "PORT ..." line it prints.
class Emulator {
  public:
    explicit Emulator(const std::string& args) {
        int out[2];
        if (pipe(out) != 0) throw std::runtime_error("pipe");
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            // Motors run ten times faster than real ones unless a case says otherwise.
            const std::string scale =
                args.find("--time-scale") == std::string::npos ? " --time-scale 0.1" : "";
            execl("/bin/sh", "sh", "-c",
                  (std::string("exec ") + EMULATOR + scale + " " + args).c_str(), nullptr);
            _exit(127);
        }
        close(out[1]);
        FILE* f = fdopen(out[0], "r");
        char line[256] = {};
        if (std::fgets(line, sizeof line, f)) {
            std::string text = line;
            if (text.rfind("PORT ", 0) == 0)
                port_ = text.substr(5, text.find_last_not_of("\r\n") - 4);
        }
        std::fclose(f);
    }
    ~Emulator() { End(); }
    void End() {
        if (pid_ > 0) kill(pid_, SIGTERM), waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    const std::string& Port() const { return port_; }

  private:
    pid_t pid_ = -1;
    std::string port_;
};

struct RunResult {
    int status;
    std::string output;
    double seconds;
};

RunResult RunCommand(const std::string& command) {
    auto start = std::chrono::steady_clock::now();
    std::string full = command + " 2>&1";
    FILE* p = popen(full.c_str(), "r");
    std::string output;
    char buffer[512];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;)
        output.append(buffer, n);
    int status = pclose(p);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output, seconds};
}

// A command run beside the test (its output gathered), which the test may signal.
class Beside {
  public:
    explicit Beside(const std::string& command) {
        int out[2];
        if (pipe(out) != 0) throw std::runtime_error("pipe");
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            dup2(out[1], STDERR_FILENO);
            close(out[0]);
            execl("/bin/sh", "sh", "-c", ("exec " + command).c_str(), nullptr);
            _exit(127);
        }
        close(out[1]);
        out_ = out[0];
    }
    void Signal(int signal) const { kill(pid_, signal); }
    // Waits for its end: the exit status and what it said.
    RunResult End() {
        std::string said;
        char buffer[512];
        for (ssize_t n; (n = read(out_, buffer, sizeof buffer)) > 0;)
            said.append(buffer, static_cast<std::size_t>(n));
        close(out_);
        int status = 0;
        waitpid(pid_, &status, 0);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, said, 0};
    }

  private:
    pid_t pid_ = -1;
    int out_ = -1;
};

std::string Ctl(const std::string& port, const std::string& model, const std::string& ops) {
    return std::string(MONODRV_CTL) + " --port '" + port + "' --model " + model + " " + ops;
}

TEST(Integration, Triax320AndSpex270MOverPseudoTerminal) {
    const struct {
        const char* model;
        const char* ops;
        const char* expected;
    } cases[] = {
        {"triax320", "goto 500 position", "wavelength 500.0000 nm"},
        {"270m", "goto 500.25 position", "wavelength 500.2500 nm"},
        {"triax180", "grating 2 position", "grating 2"},
        {"triax190", "slit 0 0.5 position", "slit 0 (Front (Axial) Entrance) 0.50 mm"},
        {"spex232", "set-speeds 50,90000,70000 speeds", "speeds 100,80000,65535"},
        {"triax320", "--no-wait mirror 2 2 reinit busy", "busy status -1 (busy)\n"},
        {"triax320", "goto 500", "moved to 500.000 nm\n"},
        {"270m", "goto 500.25", "moved to 500.2500 nm\n"},
        {"triax190", "slit 0 0.5", "front entrance slit 0.50 mm\n"},
        {"triax320", "mirror 1 2 grating 3", "entrance mirror to the side\ngrating 3 selected\n"},
        {"spex232", "set-speeds 1000,2000,300", "speeds set to 1000,2000,300\n"},
    };
    for (const auto& c : cases) {
        Emulator emulator(std::string("--model ") + c.model);
        ASSERT_FALSE(emulator.Port().empty());
        RunResult r = RunCommand(Ctl(emulator.Port(), c.model, c.ops));
        EXPECT_EQ(r.status, 0) << r.output;
        EXPECT_NE(r.output.find(c.expected), std::string::npos) << c.model << "\n" << r.output;
    }
    // A slit the instrument does not have is named, with the slits it has, and nothing moves.
    Emulator emulator("--model triax190");
    RunResult r = RunCommand(Ctl(emulator.Port(), "triax190", "slit 3 2"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("this instrument has no slit 3 (slits: 0, 2)"), std::string::npos)
        << r.output;
}

TEST(Integration, BlockLinkAndReinitialise) {
    std::string socket =
        (fs::temp_directory_path() / ("emu" + std::to_string(getpid()) + ".sock")).string();
    Emulator emulator("--model triax180 --block '" + socket + "'");
    ASSERT_EQ(emulator.Port(), "block:" + socket);
    RunResult r = RunCommand(
        Ctl(emulator.Port(), "triax180", "goto 400 reinit busy position grating 2 position"));
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("wavelength 400.0000 nm"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("slit 0 (Front (Axial) Entrance) 5.00 mm"), std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("grating 2"), std::string::npos) << r.output;
}

TEST(Integration, FaultsFailWithinBounds) {
    const struct {
        const char* fault;
        int status;
        double max_seconds;
    } cases[] = {
        {"silence", 1, 12},                            // the handshake's three attempts time out
        {"wrong-byte", 1, 12}, {"dribble=20", 0, 20},  // slow but correct
        {"late=300", 0, 20},   {"garbage", 1, 12},
    };
    for (const auto& c : cases) {
        Emulator emulator(std::string("--model triax320 --fault ") + c.fault);
        RunResult r = RunCommand(Ctl(emulator.Port(), "triax320", "position"));
        EXPECT_EQ(r.status, c.status) << c.fault << "\n" << r.output;
        EXPECT_LT(r.seconds, c.max_seconds) << c.fault;
    }
    // A controller that stays busy is waited for within the limit, then said.
    Emulator busy("--model triax320 --start main --fault busy-forever");
    RunResult r = RunCommand(Ctl(busy.Port(), "triax320", "--wait-limit 1 goto 500"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("the move under way did not end within 1 s"), std::string::npos)
        << r.output;
}

// monodrv-ctl says what the instrument did: a move returns when it has ended (or fails when
// the controller stays busy past the limit), --no-wait returns at the acknowledgement, and
// values the instrument took other than those asked are said.
TEST(Integration, MovesWaitAndChangedValuesAreSaid) {
    const struct {
        const char* model;
        const char* emulator;  // extra emulator options
        const char* ops;
        int status;
        const char* said;
        double max_seconds;
    } cases[] = {
        {"triax320", "", "goto 900 busy", 0, "busy status 1 (ready)", 6},
        {"triax180", "", "grating 2 busy", 0, "busy status 1 (ready)", 6},
        {"triax190", "", "slit 0 2 busy", 0, "busy status 1 (ready)", 6},
        {"triax320", "", "mirror 2 2 busy", 0, "busy status 1 (ready)", 6},
        {"triax320", "", "reinit busy", 0, "busy status 1 (ready)", 6},
        {"270m", "", "goto 900 busy", 0, "busy status 1 (ready)", 6},
        {"spex232", "", "goto 900 busy", 0, "busy status 1 (ready)", 6},
        {"triax320", "--time-scale 0.5", "--no-wait goto 900 busy", 0, "busy status -1 (busy)", 6},
        {"270m", "--time-scale 0.5", "--no-wait goto 900 busy", 0, "busy status -1 (busy)", 6},
        // A move that never ends fails at the limit.
        {"triax320", "--fault stuck", "--wait-limit 1 goto 500", 1,
         "the move to the wavelength did not end within 1 s", 6},
        {"270m", "--fault stuck", "--wait-limit 1.5 goto 500", 1, "did not end within 1.5 s", 6},
        {"triax180", "--fault stuck", "--wait-limit 1 grating 2", 1,
         "the grating selection did not end within 1 s", 6},
        // Values the instrument changed, and moves a model clamps to its range of steps.
        {"triax320", "", "set-speeds 0,0,0", 0,
         "warning: the instrument took the speeds 100,100,100 (asked 0,0,0)", 6},
        {"spex232", "", "set-speeds 50,90000,70000", 0,
         "took the speeds 100,80000,65535 (asked 50,90000,70000)", 6},
        {"270m", "", "goto -1000 position", 0,
         "warning: the instrument went to -10.0000 nm, not -1000.0000 nm", 6},
        {"270m", "", "--no-wait goto -1000", 0,
         "warning: the instrument goes to -10.0000 nm, not -1000.0000 nm", 6},
        {"spex232", "", "goto -1000", 0, "warning: the instrument went to", 6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.model) + " " + c.emulator + " " + c.ops);
        Emulator emulator(std::string("--model ") + c.model + " " + c.emulator);
        ASSERT_FALSE(emulator.Port().empty());
        RunResult r = RunCommand(Ctl(emulator.Port(), c.model, c.ops));
        EXPECT_EQ(r.status, c.status) << r.output;
        EXPECT_NE(r.output.find(c.said), std::string::npos) << r.output;
        EXPECT_LT(r.seconds, c.max_seconds);
    }
    // Asked values the instrument keeps are not said.
    Emulator emulator("--model triax320");
    RunResult r = RunCommand(Ctl(emulator.Port(), "triax320", "set-speeds 1000,4000,250 goto 500"));
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output.find("warning"), std::string::npos) << r.output;
}

// Habits real controllers have, played by the emulator: each run works the first time.
TEST(Integration, ControllerHabitsDoNotFailARun) {
    const struct {
        const char* model;
        const char* emulator;
        const char* ops;
        const char* then;  // a second run right after the first; "" for none
        const char* said;  // by the last run
    } cases[] = {
        // The retro-fit interface does not answer a busy query right after a move, also
        // when another run started the move.
        {"spex232", "--habit quiet-after-move", "goto 500 position", "", "wavelength 500.0000 nm"},
        {"spex232", "--habit quiet-after-move", "--no-wait goto 300 busy", "", "busy status -1"},
        {"triax320", "--habit quiet-after-move --time-scale 0.5", "--no-wait goto 900", "busy",
         "busy status -1"},
        // A run while another run's move is under way waits for it, then reads.
        {"triax320", "--time-scale 0.5", "--no-wait goto 900", "position",
         "wavelength 900.0000 nm"},
        // A controller that answers the stop byte: no later reply is shifted.
        {"triax320", "--habit stop-answered --time-scale 0.5", "--no-wait goto 900 stop position",
         "", "stopped at "},
        // Just switched on, or left in terminal mode by a hand-held unit.
        {"triax320", "--habit autobaud", "position", "", "wavelength 0.0000 nm"},
        {"triax180", "--habit terminal-mode --start star", "goto 420", "", "moved to 420.000 nm"},
        // A re-initialisation of minutes has its own limit, not the moves' one.
        {"triax320", "--habit slow-reinit --time-scale 0.01", "--wait-limit 1 reinit", "",
         "re-initialised"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.emulator) + " " + c.ops + " / " + c.then);
        Emulator emulator(std::string("--model ") + c.model + " " + c.emulator);
        RunResult r = RunCommand(Ctl(emulator.Port(), c.model, c.ops));
        if (*c.then) r = RunCommand(Ctl(emulator.Port(), c.model, c.then));
        EXPECT_EQ(r.status, 0) << r.output;
        EXPECT_NE(r.output.find(c.said), std::string::npos) << r.output;
    }
}

// One program per port; a scan with a command at each step; Ctrl-C stops the motor; groove
// densities other than 1200.
TEST(Integration, SharedPortScanInterruptAndGrooves) {
    const fs::path log = fs::temp_directory_path() / ("scan" + std::to_string(getpid()));
    Emulator emulator("--model 270m --time-scale 0.5");
    Beside first(Ctl(emulator.Port(), "270m", "goto 800"));
    usleep(700000);
    RunResult second = RunCommand(Ctl(emulator.Port(), "270m", "goto 300"));
    EXPECT_EQ(second.status, 1);
    EXPECT_NE(second.output.find(emulator.Port() + " is in use by monodrv-ctl (PID "),
              std::string::npos)
        << second.output;
    EXPECT_EQ(first.End().status, 0);

    RunResult scan = RunCommand(Ctl(emulator.Port(), "270m",
                                    "scan 502 500 1 --exec 'echo $MONODRV_STEP "
                                    "$MONODRV_WAVELENGTH_NM >> " +
                                        log.string() + "'"));
    EXPECT_EQ(scan.status, 0) << scan.output;
    EXPECT_NE(scan.output.find("502.0000\t502.0000\t"), std::string::npos) << scan.output;
    std::ifstream steps(log);
    std::string text((std::istreambuf_iterator<char>(steps)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "1 502.0000\n2 501.0000\n3 500.0000\n");
    fs::remove(log);
    RunResult failing = RunCommand(
        Ctl(emulator.Port(), "270m", "scan 500 503 1 --exec 'test $MONODRV_STEP -lt 2'"));
    EXPECT_EQ(failing.status, 1);
    EXPECT_NE(failing.output.find("the command at 501.0000 nm (step 2) exited with status 1"),
              std::string::npos)
        << failing.output;

    Beside moving(Ctl(emulator.Port(), "270m", "goto 900"));
    usleep(1200000);
    moving.Signal(SIGINT);
    const RunResult stopped = moving.End();
    EXPECT_EQ(stopped.status, 130) << stopped.output;
    EXPECT_NE(stopped.output.find("stopped at "), std::string::npos) << stopped.output;

    // Grating 2 as 600 grooves/mm: the drive goes to the 600 grooves/mm position, which a run
    // that knows only 1200 reads as half the wavelength.
    EXPECT_EQ(
        RunCommand(Ctl(emulator.Port(), "270m", "--grooves 1200,600 grating 2 goto 500")).status,
        0);
    RunResult plain = RunCommand(Ctl(emulator.Port(), "270m", "position"));
    EXPECT_NE(plain.output.find("wavelength 250.0000 nm"), std::string::npos) << plain.output;
}

// The monodrv-ctl examples of the driver guide, each run against the emulator of every model
// (the example's port and model replaced).
TEST(Integration, DriverGuideExamplesOnEveryModel) {
    std::ifstream readme(DRIVER_GUIDE);
    std::vector<std::string> examples;
    bool in_section = false;
    for (std::string line; std::getline(readme, line);) {
        if (line.rfind("## ", 0) == 0) in_section = line == "## Examples";
        const std::string prefix = "monodrv-ctl --port ";
        if (!in_section || line.rfind(prefix, 0) != 0 || line.back() == '\\') continue;
        std::string ops = line.substr(line.find("--model "));
        ops = ops.substr(ops.find(' ', 8) + 1);
        examples.push_back(ops.substr(0, ops.find('#')));
    }
    ASSERT_GE(examples.size(), 4u);
    for (const char* model : {"270m", "spex232", "triax180", "triax190", "triax320"}) {
        for (const std::string& ops : examples) {
            Emulator emulator(std::string("--model ") + model);
            ASSERT_FALSE(emulator.Port().empty());
            RunResult r = RunCommand(Ctl(emulator.Port(), model, ops));
            EXPECT_EQ(r.status, 0) << model << " " << ops << "\n" << r.output;
        }
    }
}

// Bad words exit 2, naming the word, before the port is opened: the emulator sees no byte.
TEST(Integration, BadInputExitsTwoWithoutAByteSent) {
    const std::string received =
        (fs::temp_directory_path() / ("received" + std::to_string(getpid()))).string();
    const struct {
        const char* args;
        const char* named;
    } cases[] = {
        {"goto abc", "'abc'"},
        {"goto 50O", "'50O'"},
        {"goto inf", "'inf'"},
        {"goto nan", "'nan'"},
        {"goto ''", "''"},
        {"goto 1e300", "'1e300'"},
        {"slit 0 1,5", "'1,5'"},
        {"slit 4 0.5", "'4'"},
        {"grating 0", "'0'"},
        {"grating 2x", "'2x'"},
        {"mirror 1 3", "'3'"},
        {"set-speeds 1,2", "'1,2'"},
        {"set-speeds 1,2,3,4", "'1,2,3,4'"},
        {"goto", "goto needs"},
        {"position fly", "'fly'"},
        {"--bogus position", "--bogus"},
        {"--baud 0x10 position", "0x10"},
        {"set-speeds 500,100,300", "the minimum speed is above the maximum"},
        {"--wait-limit 0 goto 500", "--wait-limit: '0'"},
        {"--wait-limit inf goto 500", "'inf'"},
        {"--wait-limit '' goto 500", "--wait-limit: ''"},
        {"--grooves 1200,x position", "--grooves: '1200,x'"},
        {"scan 500 400 0", "'0' is not a step"},
        {"scan 500 400", "scan needs"},
        {"--dwell -1 scan 1 2 1", "--dwell: '-1'"},
        {"--grooves '' position", "--grooves: ''"},
        {"--exec '' scan 1 2 1", "--exec: ''"},
        {"--dwell 1 goto 500", "--dwell is for scan"},
    };
    {
        Emulator emulator("--model triax320 --received '" + received + "'");
        ASSERT_FALSE(emulator.Port().empty());
        for (const auto& c : cases) {
            RunResult r = RunCommand(Ctl(emulator.Port(), "triax320", c.args));
            EXPECT_EQ(r.status, 2) << c.args << "\n" << r.output;
            EXPECT_NE(r.output.find(c.named), std::string::npos) << c.args << "\n" << r.output;
        }
    }
    std::ifstream count(received);
    std::string bytes;
    count >> bytes;
    EXPECT_EQ(bytes, "0");
    fs::remove(received);
    RunResult version = RunCommand(std::string(MONODRV_CTL) + " --version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.output.rfind("monodrv-ctl ", 0), 0u) << version.output;
    RunResult emulator_usage = RunCommand(std::string(EMULATOR) + " --fault late=soon");
    EXPECT_EQ(emulator_usage.status, 2) << emulator_usage.output;
}

// Simulation answers from built-in values without a port.
TEST(Integration, SimulatedInstanceWithoutPort) {
    RunResult r = RunCommand(std::string(MONODRV_CTL) +
                             " --simulate --model triax320 goto 500 position speeds");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("wavelength simulated (not modelled)"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("slit 3 (Side (Lateral) Exit) 0.06 mm"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("speeds 80000,80000,65535"), std::string::npos) << r.output;
    RunResult bad = RunCommand(std::string(MONODRV_CTL) + " --model triax999");
    EXPECT_EQ(bad.status, 2);
    RunResult no_port =
        RunCommand(std::string(MONODRV_CTL) + " --port /nonexistent/tty --model 270m");
    EXPECT_EQ(no_port.status, 1);
}

TEST(Integration, PortLibraryMissingOrIncomplete) {
    const fs::path dir = fs::temp_directory_path() / ("bind" + std::to_string(getpid()));
    fs::create_directories(dir / "alone");
    fs::create_directories(dir / "partial");
    fs::copy_file(MONODRV_LIBRARY, dir / "alone/libmonodrv.so",
                  fs::copy_options::overwrite_existing);
    fs::copy_file(MONODRV_LIBRARY, dir / "partial/libmonodrv.so",
                  fs::copy_options::overwrite_existing);
    fs::copy_file(PARTIAL_TELX, dir / "partial/libtelx32.so.1",
                  fs::copy_options::overwrite_existing);
    const struct {
        const char* folder;
        bool message;
    } cases[] = {{"alone", false}, {"partial", true}};
    for (const auto& c : cases) {
        RunResult r = RunCommand(std::string(ATTACH_PROBE) + " '" +
                                 (dir / c.folder / "libmonodrv.so").string() + "'");
        EXPECT_EQ(r.status, 0) << r.output;
        EXPECT_EQ(r.output.find("Corvane: TELX DLL Was Not Loaded") != std::string::npos, c.message)
            << r.output;
        EXPECT_NE(r.output.find("process 0: error 11; parameter 43 = 3"), std::string::npos)
            << r.output;
    }
    fs::remove_all(dir);
}

}  // namespace
