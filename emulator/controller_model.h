// The spectrograph controller's side of the protocol, without a transport: bytes in, timed
// replies out. Step-command models (270M, Spex232) move in motor steps ("H0", "F0", "b0",
// "a0"); value-command models (TRIAX) take wavelength values and grating numbers ("Z61",
// "Z62", "Z451", "Z452"). Shared by the emulator program and the tests.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace emulator {

enum class Family { Step, Value };
enum class StartState { Boot, Star, Main };  // answers the start-up blank with B, * or F
// Stuck: the first move never ends (the controller reports busy from then on).
enum class Fault { None, Silence, Late, Dribble, Garbage, WrongByte, BusyForever, Stuck };

// Habits real controllers have, each off by default.
struct Habits {
    bool quiet_after_move = false;  // a busy query within kQuietMs of a move's "o" is not answered
    bool stop_answered = false;     // the stop byte "L" is answered "o"
    bool autobaud = false;       // the first blank after power-up finds the baud rate, unanswered
    bool terminal_mode = false;  // left in terminal mode: ESC to a blank until F8, DE
    bool slow_reinit = false;    // re-initialisation takes kSlowReinitMs, as on real instruments
};

struct Config {
    Family family = Family::Value;
    StartState start = StartState::Boot;
    Fault fault = Fault::None;
    std::uint32_t fault_ms = 0;  // delay for Late (per reply) and Dribble (per byte)
    bool slit_present[4] = {true, false, true, false};
    std::uint32_t reinit_ms = 300;  // how long the re-initialisation "A" takes
    Habits habits;
    double time_scale = 1.0;  // multiplies every motion's duration (tests run them faster)
};

// The habits' times: the retro-fit interface's silence after a move, the time a controller
// needs after each byte that switches it out of terminal mode, and a real re-initialisation.
inline constexpr std::uint32_t kQuietMs = 200, kModeSwitchMs = 100, kSlowReinitMs = 120000;

// One piece of output, due at a time in milliseconds: single reply bytes, a reply line
// (with its CR on a character interface; a whole block on a block interface), or a status
// change (block interface: 0x00 busy), or the asynchronous completion of a re-initialisation
// (a reply byte "o" on a character interface, the status bit 0x01 on a block interface).
struct Output {
    enum Kind { Bytes, Line, Status, Completion } kind;
    std::string data;
    std::uint32_t due;
};

class ControllerModel {
  public:
    explicit ControllerModel(const Config& config);
    // One byte from the host at time `now` (ms).
    void Receive(std::uint8_t byte, std::uint32_t now);
    // The outputs due by `now`, in order.
    std::vector<Output> Due(std::uint32_t now);

    // State, for tests and the emulator's log.
    bool Busy(std::uint32_t now) const;
    std::int32_t Steps() const { return steps_; }
    double Value() const { return value_; }
    bool InTerminalMode() const { return terminal_; }
    int Grating() const { return grating_; }
    std::int32_t SlitSteps(int location) const { return slit_steps_[location]; }
    int Mirror(int location) const { return mirrors_[location]; }
    const std::int32_t* Speeds() const { return speeds_; }
    bool InMainState() const { return state_ == StartState::Main; }
    const std::vector<std::string>& Log() const { return log_; }

  private:
    struct CommandRow;
    static const CommandRow kCommands[];
    void Command(const std::string& text, std::uint32_t now);
    // The commands' actions: `word` as the table names it, `args` what follows it.
    bool MoveToValue(std::string_view word, const std::string& args, std::uint32_t now);
    bool ReadValue(std::string_view word, const std::string& args, std::uint32_t now);
    bool SelectGrating(std::string_view word, const std::string& args, std::uint32_t now);
    bool ReadGrating(std::string_view word, const std::string& args, std::uint32_t now);
    bool ReadSteps(std::string_view word, const std::string& args, std::uint32_t now);
    bool MoveSteps(std::string_view word, const std::string& args, std::uint32_t now);
    bool ReadSpeeds(std::string_view word, const std::string& args, std::uint32_t now);
    bool SetSpeeds(std::string_view word, const std::string& args, std::uint32_t now);
    bool MoveMirror(std::string_view word, const std::string& args, std::uint32_t now);
    bool ReadSlit(std::string_view word, const std::string& args, std::uint32_t now);
    bool MoveSlit(std::string_view word, const std::string& args, std::uint32_t now);
    bool ReadSlitSpeed(std::string_view word, const std::string& args, std::uint32_t now);
    bool SlitPresent(long long location) const;
    void Reply(const std::string& bytes, std::uint32_t now);
    void ReplyLine(const std::string& line, std::uint32_t now);
    void Refuse(std::uint32_t now) { Reply("b", now); }
    void StartMove(std::int64_t steps, std::uint32_t now);
    // A wavelength move from `from` to where the controller now stands (value_ or steps_).
    void StartDrive(double from, std::int64_t steps, std::uint32_t now);
    // Ends the motion at once where it has come to (the stop byte).
    void Stop(std::uint32_t now);
    // The wavelength drive's position at `now`, between its start and target while it moves.
    double DrivePosition(std::uint32_t now) const;
    bool ReceiveStarting(std::uint8_t byte, std::uint32_t now);
    bool ReceiveSingle(std::uint8_t byte, std::uint32_t now);
    std::uint32_t Scaled(double ms) const;
    std::uint32_t Delay() const;

    Config config_;
    StartState state_;
    std::string pending_;  // command text not yet terminated
    std::deque<Output> out_;
    std::uint32_t busy_until_ = 0;
    bool stalled_ = false;  // Stuck: a move began and never ends
    bool terminal_ = false;
    bool saw_first_switch_ = false;  // terminal mode: 0xF8 heard
    bool heard_blank_ = false;       // autobaud: the first blank has been heard
    std::uint32_t deaf_until_ = 0;   // switching modes: bytes before this are lost
    bool moved_ = false;             // a move was taken at moved_at_ (quiet_after_move)
    std::uint32_t moved_at_ = 0;
    bool driving_ = false;  // the wavelength drive moves from drive_from_
    double drive_from_ = 0;
    std::uint32_t drive_start_ = 0;
    std::uint32_t last_due_ = 0;
    bool completion_pending_ = false;
    std::int32_t steps_ = 0;
    double value_ = 0;
    int grating_ = 0;
    std::int32_t slit_steps_[4] = {787, 0, 157, 0};
    int mirrors_[3] = {0, 1, 1};  // [location] = position (1 front, 2 side)
    std::int32_t speeds_[3] = {1000, 4000, 250};
    std::int32_t slit_speed_ = 10000;
    std::vector<std::string> log_;
};

}  // namespace emulator
