#include "emulator/controller_model.h"

#include "monodrv/control/command_words.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace emulator {
namespace {

namespace command = monodrv::command;

// Comma-separated integers, e.g. "2,-40" (after "k0,") -> {2, -40}.
bool Numbers(const std::string& text, std::vector<long long>& out) {
    out.clear();
    const char* p = text.c_str();
    while (*p) {
        char* end = nullptr;
        long long v = std::strtoll(p, &end, 10);
        if (end == p) return false;
        out.push_back(v);
        p = end;
        if (*p == ',')
            ++p;
        else if (*p)
            return false;
    }
    return true;
}

}  // namespace

// The commands the controller knows: a word ending in ',' takes what follows it, the others
// stand alone. An action that returns false refuses the command, as an unknown one is.
struct ControllerModel::CommandRow {
    std::string_view word;
    enum { kValue, kStep, kBoth } family;
    bool (ControllerModel::*act)(std::string_view word, const std::string& args, std::uint32_t now);
};

const ControllerModel::CommandRow ControllerModel::kCommands[] = {
    {command::kMoveToValue, CommandRow::kValue, &ControllerModel::MoveToValue},
    {command::kReadValue, CommandRow::kValue, &ControllerModel::ReadValue},
    {command::kSelectGrating, CommandRow::kValue, &ControllerModel::SelectGrating},
    {command::kReadGrating, CommandRow::kValue, &ControllerModel::ReadGrating},
    {command::kReadSteps, CommandRow::kStep, &ControllerModel::ReadSteps},
    {command::kMoveSteps, CommandRow::kStep, &ControllerModel::MoveSteps},
    {command::kFirstGrating, CommandRow::kStep, &ControllerModel::SelectGrating},
    {command::kSecondGrating, CommandRow::kStep, &ControllerModel::SelectGrating},
    {command::kReadSpeeds, CommandRow::kBoth, &ControllerModel::ReadSpeeds},
    {command::kSetSpeeds, CommandRow::kBoth, &ControllerModel::SetSpeeds},
    {command::kEntranceMirrorSide, CommandRow::kBoth, &ControllerModel::MoveMirror},
    {command::kEntranceMirrorFront, CommandRow::kBoth, &ControllerModel::MoveMirror},
    {command::kExitMirrorSide, CommandRow::kBoth, &ControllerModel::MoveMirror},
    {command::kExitMirrorFront, CommandRow::kBoth, &ControllerModel::MoveMirror},
    {command::kReadSlit, CommandRow::kBoth, &ControllerModel::ReadSlit},
    {command::kMoveSlit, CommandRow::kBoth, &ControllerModel::MoveSlit},
    {command::kReadSlitSpeed, CommandRow::kBoth, &ControllerModel::ReadSlitSpeed},
};

ControllerModel::ControllerModel(const Config& config)
    : config_(config), state_(config.start), terminal_(config.habits.terminal_mode) {
    speeds_[0] = config.family == Family::Step ? 2560 : 1000;
    speeds_[1] = config.family == Family::Step ? 2560 : 4000;
    speeds_[2] = config.family == Family::Step ? 1000 : 250;
}

bool ControllerModel::Busy(std::uint32_t now) const {
    return config_.fault == Fault::BusyForever || stalled_ ||
           static_cast<std::int32_t>(busy_until_ - now) > 0;
}

std::uint32_t ControllerModel::Delay() const {
    return config_.fault == Fault::Late ? config_.fault_ms : 0;
}

void ControllerModel::Reply(const std::string& bytes, std::uint32_t now) {
    if (config_.fault == Fault::Silence) return;
    std::string data = bytes;
    if (config_.fault == Fault::WrongByte && data == "o") data = "x";
    last_due_ = std::max(last_due_, now + Delay());
    out_.push_back({Output::Bytes, data, last_due_});
}

void ControllerModel::ReplyLine(const std::string& line, std::uint32_t now) {
    if (config_.fault == Fault::Silence) return;
    std::string data = config_.fault == Fault::Garbage ? "#?x!" : line;
    last_due_ = std::max(last_due_, now + Delay());
    if (config_.fault == Fault::Dribble) {
        for (char c : data + "\r") {
            last_due_ += config_.fault_ms;
            out_.push_back({Output::Bytes, std::string(1, c), last_due_});
        }
        return;
    }
    out_.push_back({Output::Line, data, last_due_});
}

std::uint32_t ControllerModel::Scaled(double ms) const {
    return static_cast<std::uint32_t>(std::llround(std::max(0.0, ms * config_.time_scale)));
}

// A move takes its ramp time plus the distance at the maximum speed, times the time scale.
void ControllerModel::StartMove(std::int64_t steps, std::uint32_t now) {
    const double speed = std::max<std::int32_t>(speeds_[1], 100);
    const double ms = speeds_[2] / 10.0 + 1000.0 * static_cast<double>(std::llabs(steps)) / speed;
    busy_until_ = now + Scaled(ms);
    stalled_ = stalled_ || config_.fault == Fault::Stuck;
    moved_ = true;
    moved_at_ = now;
    driving_ = false;
}

void ControllerModel::StartDrive(double from, std::int64_t steps, std::uint32_t now) {
    StartMove(steps, now);
    driving_ = true;
    drive_from_ = from;
    drive_start_ = now;
}

double ControllerModel::DrivePosition(std::uint32_t now) const {
    const double to = config_.family == Family::Value ? value_ : steps_;
    if (!driving_ || !Busy(now)) return to;
    const auto total = static_cast<double>(static_cast<std::int32_t>(busy_until_ - drive_start_));
    const auto done = static_cast<double>(static_cast<std::int32_t>(now - drive_start_));
    const double fraction = total <= 0 ? 1.0 : std::clamp(done / total, 0.0, 1.0);
    return drive_from_ + (to - drive_from_) * fraction;
}

void ControllerModel::Stop(std::uint32_t now) {
    if (driving_ && Busy(now)) {
        const double at = DrivePosition(now);
        if (config_.family == Family::Value)
            value_ = std::round(at * 10000) / 10000;
        else
            steps_ = static_cast<std::int32_t>(std::llround(at));
    }
    driving_ = false;
    stalled_ = false;
    if (Busy(now)) busy_until_ = now + Scaled(50);  // the ramp down
}

// Before the main program runs: the start-up query, "=" to 0xF7 (after which a blank is
// answered "B"), and the start command ended by a zero byte.
bool ControllerModel::ReceiveStarting(std::uint8_t byte, std::uint32_t now) {
    if (state_ == StartState::Main) return false;
    if (byte == command::kHello && pending_.empty()) {
        Reply(state_ == StartState::Boot ? "B" : "*", now);
    } else if (byte == command::kAfterStar && pending_.empty()) {
        Reply("=", now);
        state_ = StartState::Boot;
    } else if (byte == command::kToIntelligent1 || byte == command::kToIntelligent2) {
        pending_.clear();
    } else if (byte == command::kStartEnd) {
        if (pending_ == command::kStart) {
            state_ = StartState::Main;
            Reply("*", now);
        }
        pending_.clear();
    } else if (byte != command::kLineFeed || !pending_.empty()) {
        pending_ += static_cast<char>(byte);
    }
    return true;
}

// The main program's single command bytes, and the bytes that stand for nothing: a CR or LF
// between commands, and a byte no command word begins with (kept, it would swallow the next
// command). True when the byte was taken here.
bool ControllerModel::ReceiveSingle(std::uint8_t byte, std::uint32_t now) {
    if (!pending_.empty()) return false;
    switch (byte) {
        case command::kHello:
            Reply("F", now);
            return true;
        case command::kBusyQuery:
        case command::kSecondBusyQuery:
            if (config_.habits.quiet_after_move && moved_ &&
                static_cast<std::uint32_t>(now - moved_at_) < kQuietMs)
                return true;  // the retro-fit interface does not hear it right after a move
            Reply(std::string("o") + (Busy(now) ? "q" : "z"), now);
            return true;
        case command::kReinitialize:
            log_.push_back("A");
            busy_until_ =
                now + Scaled(config_.habits.slow_reinit ? kSlowReinitMs : config_.reinit_ms);
            driving_ = false;
            completion_pending_ = true;
            if (config_.fault != Fault::Silence) {
                out_.push_back({Output::Status, std::string(1, '\0'), now});
                out_.push_back({Output::Completion, "o", busy_until_});
            }
            return true;
        case command::kStop:
            log_.push_back("L");
            Stop(now);
            if (config_.habits.stop_answered) Reply("o", now);
            return true;
        case command::kEnd:
        case command::kLineFeed:
            return true;
        default:
            break;
    }
    for (const CommandRow& row : kCommands)
        if (static_cast<std::uint8_t>(row.word[0]) == byte) return false;
    log_.push_back(std::string("?") + static_cast<char>(byte));
    return true;
}

void ControllerModel::Receive(std::uint8_t byte, std::uint32_t now) {
    if (static_cast<std::int32_t>(deaf_until_ - now) > 0) return;  // switching modes
    const bool first = !heard_blank_;
    heard_blank_ = true;
    if (first && config_.habits.autobaud) return;  // the baud rate is found on it
    if (terminal_) {
        if (byte == command::kHello) {
            Reply(std::string(1, static_cast<char>(command::kEscape)), now);
        } else if (byte == command::kToIntelligent1) {
            saw_first_switch_ = true;
            deaf_until_ = now + kModeSwitchMs;
        } else if (byte == command::kToIntelligent2 && saw_first_switch_) {
            terminal_ = false;
            deaf_until_ = now + kModeSwitchMs;
        }
        return;
    }
    if (ReceiveStarting(byte, now) || ReceiveSingle(byte, now)) return;
    if (byte == command::kEnd) {
        std::string text = pending_;
        pending_.clear();
        Command(text, now);
    } else if (byte != 0 && pending_.size() < 256) {
        pending_ += static_cast<char>(byte);
    }
}

void ControllerModel::Command(const std::string& text, std::uint32_t now) {
    log_.push_back(text);
    const bool value = config_.family == Family::Value;
    for (const CommandRow& row : kCommands) {
        if (row.family != CommandRow::kBoth && (row.family == CommandRow::kValue) != value)
            continue;
        const bool takes_args = row.word.ends_with(',');
        if (takes_args ? !text.starts_with(row.word) : text != row.word) continue;
        if (!(this->*row.act)(row.word, text.substr(takes_args ? row.word.size() : text.size()),
                              now))
            break;
        return;
    }
    Refuse(now);
}

bool ControllerModel::MoveToValue(std::string_view, const std::string& args, std::uint32_t now) {
    char* end = nullptr;
    const double v = std::strtod(args.c_str(), &end);
    if (end == args.c_str() || *end) return false;
    const double from = DrivePosition(now);
    value_ = v;
    StartDrive(from, std::llround((v - from) * 16.7), now);
    Reply("o", now);
    return true;
}

bool ControllerModel::ReadValue(std::string_view, const std::string&, std::uint32_t now) {
    char line[64];
    std::snprintf(line, sizeof line, "%.4f", DrivePosition(now));
    Reply("o", now);
    ReplyLine(line, now);
    return true;
}

// Z451 names the grating (0-2); b0 and a0 choose the first and the second.
bool ControllerModel::SelectGrating(std::string_view word, const std::string& args,
                                    std::uint32_t now) {
    std::vector<long long> n;
    if (word == command::kSelectGrating) {
        if (!Numbers(args, n) || n.size() != 1 || n[0] < 0 || n[0] > 2) return false;
        grating_ = static_cast<int>(n[0]);
    } else {
        grating_ = word == command::kFirstGrating ? 0 : 1;
    }
    StartMove(2000, now);
    Reply("o", now);
    return true;
}

bool ControllerModel::ReadGrating(std::string_view, const std::string&, std::uint32_t now) {
    Reply("o", now);
    ReplyLine(std::to_string(grating_), now);
    return true;
}

bool ControllerModel::ReadSteps(std::string_view, const std::string&, std::uint32_t now) {
    Reply("o", now);
    ReplyLine(std::to_string(std::llround(DrivePosition(now))), now);
    return true;
}

bool ControllerModel::MoveSteps(std::string_view, const std::string& args, std::uint32_t now) {
    std::vector<long long> n;
    if (!Numbers(args, n) || n.size() != 1) return false;
    const double from = DrivePosition(now);
    steps_ = static_cast<std::int32_t>(std::llround(from) + n[0]);
    StartDrive(from, n[0], now);
    Reply("o", now);
    return true;
}

bool ControllerModel::ReadSpeeds(std::string_view, const std::string&, std::uint32_t now) {
    char line[64];
    std::snprintf(line, sizeof line, "%d,%d,%d", speeds_[0], speeds_[1], speeds_[2]);
    Reply("o", now);
    ReplyLine(line, now);
    return true;
}

bool ControllerModel::SetSpeeds(std::string_view, const std::string& args, std::uint32_t now) {
    std::vector<long long> n;
    if (!Numbers(args, n) || n.size() != 3) return false;
    for (int i = 0; i < 3; ++i)
        speeds_[i] = static_cast<std::int32_t>(n[static_cast<std::size_t>(i)]);
    Reply("o", now);
    return true;
}

// The entrance (1) or exit (2) mirror to the side (2) or the front (1).
bool ControllerModel::MoveMirror(std::string_view word, const std::string&, std::uint32_t now) {
    const bool entrance =
        word == command::kEntranceMirrorSide || word == command::kEntranceMirrorFront;
    const bool side = word == command::kEntranceMirrorSide || word == command::kExitMirrorSide;
    mirrors_[entrance ? 1 : 2] = side ? 2 : 1;
    StartMove(200, now);
    Reply("o", now);
    return true;
}

bool ControllerModel::ReadSlit(std::string_view, const std::string& args, std::uint32_t now) {
    std::vector<long long> n;
    if (!Numbers(args, n) || n.size() != 1 || !SlitPresent(n[0])) return false;
    Reply("o", now);
    ReplyLine(std::to_string(slit_steps_[n[0]]), now);
    return true;
}

bool ControllerModel::MoveSlit(std::string_view, const std::string& args, std::uint32_t now) {
    std::vector<long long> n;
    if (!Numbers(args, n) || n.size() != 2 || !SlitPresent(n[0])) return false;
    slit_steps_[n[0]] = static_cast<std::int32_t>(slit_steps_[n[0]] + n[1]);
    StartMove(n[1], now);
    Reply("o", now);
    return true;
}

bool ControllerModel::ReadSlitSpeed(std::string_view, const std::string& args, std::uint32_t now) {
    std::vector<long long> n;
    if (!Numbers(args, n) || n.size() != 1) return false;
    Reply("o", now);
    ReplyLine(std::to_string(slit_speed_), now);
    return true;
}

bool ControllerModel::SlitPresent(long long location) const {
    return location >= 0 && location <= 3 && config_.slit_present[location];
}

std::vector<Output> ControllerModel::Due(std::uint32_t now) {
    std::vector<Output> due;
    for (auto it = out_.begin(); it != out_.end();) {
        if (static_cast<std::int32_t>(it->due - now) <= 0) {
            due.push_back(*it);
            it = out_.erase(it);
        } else {
            ++it;
        }
    }
    if (completion_pending_ && !Busy(now)) completion_pending_ = false;
    return due;
}

}  // namespace emulator
