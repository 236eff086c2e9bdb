#include "emulator/controller_model.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace emulator {
namespace {

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

// Comma-separated integers after a prefix, e.g. "k0,2,-40" -> {2, -40}.
bool Numbers(const std::string& text, std::size_t skip, std::vector<long long>& out) {
    out.clear();
    const char* p = text.c_str() + skip;
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

ControllerModel::ControllerModel(const Config& config) : config_(config), state_(config.start) {
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

// A move takes its ramp time plus the distance at the maximum speed (at most 2 s).
void ControllerModel::StartMove(std::int64_t steps, std::uint32_t now) {
    const double speed = std::max<std::int32_t>(speeds_[1], 100);
    const double ms = std::min(
        2000.0, speeds_[2] / 10.0 + 1000.0 * static_cast<double>(std::llabs(steps)) / speed);
    busy_until_ = now + static_cast<std::uint32_t>(ms);
    stalled_ = stalled_ || config_.fault == Fault::Stuck;
}

void ControllerModel::Receive(std::uint8_t byte, std::uint32_t now) {
    if (state_ != StartState::Main) {
        if (byte == ' ' && pending_.empty()) {
            Reply(state_ == StartState::Boot ? "B" : "*", now);
        } else if (byte == 0xF7 && pending_.empty()) {
            Reply("=", now);
        } else if (byte == 0xF8 || byte == 0xDE) {
            pending_.clear();
        } else if (byte == 0) {
            if (pending_ == "O2000") {
                state_ = StartState::Main;
                Reply("*", now);
            }
            pending_.clear();
        } else {
            pending_ += static_cast<char>(byte);
        }
        return;
    }
    if (pending_.empty()) {
        switch (byte) {
            case ' ':
                Reply("F", now);
                return;
            case 'E':
            case 'l':
                Reply(std::string("o") + (Busy(now) ? "q" : "z"), now);
                return;
            case 'A':
                log_.push_back("A");
                busy_until_ = now + config_.reinit_ms;
                completion_pending_ = true;
                if (config_.fault != Fault::Silence) {
                    out_.push_back({Output::Status, std::string(1, '\0'), now});
                    out_.push_back({Output::Completion, "o", busy_until_});
                }
                return;
            case 'L':
                log_.push_back("L");
                return;
            case '\r':
                return;
            default:
                break;
        }
    }
    if (byte == '\r') {
        std::string text = pending_;
        pending_.clear();
        Command(text, now);
    } else if (byte != 0 && pending_.size() < 256) {
        pending_ += static_cast<char>(byte);
    }
}

void ControllerModel::Command(const std::string& text, std::uint32_t now) {
    log_.push_back(text);
    std::vector<long long> n;
    const bool value = config_.family == Family::Value;
    char line[64];
    if (value && StartsWith(text, "Z61,0,")) {
        char* end = nullptr;
        double v = std::strtod(text.c_str() + 6, &end);
        if (end == text.c_str() + 6 || *end) return Refuse(now);
        StartMove(std::llround((v - value_) * 16.7), now);
        value_ = v;
        Reply("o", now);
    } else if (value && text == "Z62,0") {
        Reply("o", now);
        std::snprintf(line, sizeof line, "%.4f", value_);
        ReplyLine(line, now);
    } else if (value && StartsWith(text, "Z451,0,0,0,") && Numbers(text, 11, n) && n.size() == 1 &&
               n[0] >= 0 && n[0] <= 2) {
        grating_ = static_cast<int>(n[0]);
        StartMove(2000, now);
        Reply("o", now);
    } else if (value && text == "Z452,0,0,0") {
        Reply("o", now);
        ReplyLine(std::to_string(grating_), now);
    } else if (!value && text == "H0") {
        Reply("o", now);
        ReplyLine(std::to_string(steps_), now);
    } else if (!value && StartsWith(text, "F0,") && Numbers(text, 3, n) && n.size() == 1) {
        steps_ = static_cast<std::int32_t>(steps_ + n[0]);
        StartMove(n[0], now);
        Reply("o", now);
    } else if (!value && (text == "b0" || text == "a0")) {
        grating_ = text == "b0" ? 0 : 1;
        StartMove(2000, now);
        Reply("o", now);
    } else if (text == "C0") {
        Reply("o", now);
        std::snprintf(line, sizeof line, "%d,%d,%d", speeds_[0], speeds_[1], speeds_[2]);
        ReplyLine(line, now);
    } else if (StartsWith(text, "B0,") && Numbers(text, 3, n) && n.size() == 3) {
        for (int i = 0; i < 3; ++i)
            speeds_[i] = static_cast<std::int32_t>(n[static_cast<std::size_t>(i)]);
        Reply("o", now);
    } else if (text == "c0" || text == "d0" || text == "e0" || text == "f0") {
        mirrors_[text[0] <= 'd' ? 1 : 2] = (text[0] == 'c' || text[0] == 'e') ? 2 : 1;
        StartMove(200, now);
        Reply("o", now);
    } else if (StartsWith(text, "j0,") && Numbers(text, 3, n) && n.size() == 1 && n[0] >= 0 &&
               n[0] <= 3 && config_.slit_present[n[0]]) {
        Reply("o", now);
        ReplyLine(std::to_string(slit_steps_[n[0]]), now);
    } else if (StartsWith(text, "k0,") && Numbers(text, 3, n) && n.size() == 2 && n[0] >= 0 &&
               n[0] <= 3 && config_.slit_present[n[0]]) {
        slit_steps_[n[0]] = static_cast<std::int32_t>(slit_steps_[n[0]] + n[1]);
        StartMove(n[1], now);
        Reply("o", now);
    } else if (StartsWith(text, "h0,") && Numbers(text, 3, n) && n.size() == 1) {
        Reply("o", now);
        ReplyLine(std::to_string(slit_speed_), now);
    } else {
        Refuse(now);
    }
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
