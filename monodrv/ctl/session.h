// A driver instance on an open port as monodrv-ctl runs it: each operation says what the
// instrument did or why it failed, moves wait for the motor, and an interrupt (Ctrl-C) stops
// the motor before the program ends.
#pragma once

#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

#include "monodrv.h"

namespace monodrv::ctl {

// One operation of the command line with its checked arguments.
struct Step {
    std::string name;
    double value[3] = {};
};

// How the run treats moves: wait for their end (within the limit) or not; simulated.
struct Waiting {
    bool wait = true;
    double limit_s = 60;
    bool simulated = false;
    bool clamps = false;  // the model moves no further down than its range of steps
};

// What a scan does at each wavelength besides reading it back.
struct ScanActions {
    std::string exec;  // run with /bin/sh -c; empty: none
    double dwell_s = 0;
};

// The signal that interrupted the run (SIGINT, SIGTERM), 0 while none has.
extern volatile std::sig_atomic_t g_interrupted;

class Session {
  public:
    Session(SPECT_HANDLE handle, Waiting waiting, std::string port)
        : h_(handle), waiting_(waiting), port_(std::move(port)) {}

    // Runs the start-up handshake and reads what the instrument has (unless `quick`: a run of
    // busy or stop alone, which must not wait for a move another run left going).
    bool Start(bool quick, const std::vector<double>& grooves);
    // Runs one step of the command line.
    bool Do(const Step& step, const ScanActions& scan);
    // After an interrupt: stops the motor, waits for it and says where it stopped.
    void StopAfterInterrupt();

  private:
    bool Run(std::uint32_t operation, const char* what);
    std::uint32_t U(std::uint32_t param, std::int16_t index = 0);
    double D(std::uint32_t param, std::int16_t index = 0);
    bool WaitForEnd(const char* what, double limit_s);
    bool ApplyGrooves(const std::vector<double>& grooves);
    bool Goto(double target, bool say);
    bool ReadBack(double& at);
    bool CheckArrival(double target, double& at, bool warn);
    const char* LikelyCause();
    bool WaitForRest();
    void SayClamp(double target);
    bool CheckSpeeds(const double asked[3]);
    bool PrintPosition();
    bool HasSlit(std::uint32_t location);
    bool Slit(const Step& step);
    bool Stop();
    bool Scan(const Step& step, const ScanActions& actions);
    bool ScanStep(double target, int index, const ScanActions& actions, double& at);
    std::string Nm(double nm);

    SPECT_HANDLE h_;
    Waiting waiting_;
    std::string port_;
};

}  // namespace monodrv::ctl
