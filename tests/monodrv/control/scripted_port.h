// A port for the protocol tests: records what the driver sends, answers from a script or from
// the controller emulator's model, and runs on a fake clock so that the 2000 / 3000 ms waits
// take microseconds.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "emulator/controller_model.h"
#include "monodrv/control/protocol.h"

namespace monodrv::testing {

class FakeClock : public Clock {
  public:
    std::uint32_t now = 1000;
    std::uint32_t Ticks() override { return now; }
    void Sleep(std::uint32_t ms) override { now += ms; }
};

class ScriptedPort : public PortLink {
  public:
    explicit ScriptedPort(FakeClock& clock) : clock_(clock) {}

    std::int32_t kind = kKindCharacter;
    std::uint32_t user_data = 0;
    int refuse_output = 0;          // the next n offers of a byte are not accepted
    bool stuck_sending = false;     // bytes never leave
    std::vector<std::string> sent;  // whole commands and single bytes, as the host sent them
    std::string raw_sent;
    std::deque<std::pair<std::uint32_t, std::uint8_t>> incoming;  // (due, byte)
    std::deque<std::string> blocks;                               // block interface replies
    std::int32_t status = 0, status_valid = 1;
    // Answers a unit (command text without terminator, or a single byte); may be empty.
    std::function<std::string(const std::string&)> respond;
    emulator::ControllerModel* model = nullptr;  // when set, answers instead of `respond`

    void Queue(const std::string& bytes, std::uint32_t delay = 0) {
        for (char c : bytes)
            incoming.emplace_back(clock_.now + delay, static_cast<std::uint8_t>(c));
    }

    std::int32_t OutputMultiple(const std::uint8_t* data, std::int32_t length) override {
        if (refuse_output > 0) {
            --refuse_output;
            return 0;
        }
        for (std::int32_t i = 0; i < length; ++i)
            Sent(data[i]);
        return 1;
    }
    void FlushBuffer(std::int32_t code) override {
        if (code == kFlushInput) incoming.clear();
    }
    std::int32_t GetUIParam(std::int32_t code) override {
        Pump();
        switch (code) {
            case kUiStatus:
                return status | (blocks.empty() ? 0 : SPECT_STATUS_REPLY_WAITING);
            case kUiRxWaiting:
                return static_cast<std::int32_t>(Ready());
            case kUiTxPending:
                return stuck_sending ? 1 : 0;
            case kUiKind:
                return kind;
            case kUiStatusValid:
                return status_valid;
            default:
                return 0;
        }
    }
    std::int32_t Input() override {
        Pump();
        if (!Ready()) return 0;
        std::uint8_t b = incoming.front().second;
        incoming.pop_front();
        return b;
    }
    std::int32_t InputMultiple(std::uint8_t* buffer, std::int32_t maximum) override {
        if (blocks.empty()) return 0;
        std::string block = blocks.front();
        blocks.pop_front();
        std::int32_t n = std::min<std::int32_t>(maximum, static_cast<std::int32_t>(block.size()));
        std::copy(block.begin(), block.begin() + n, buffer);
        return n;
    }
    std::uint32_t GetUserData() override { return user_data; }
    std::int32_t SetUserData(std::uint32_t value) override {
        user_data = value;
        return 1;
    }

  private:
    std::size_t Ready() const {
        std::size_t n = 0;
        for (const auto& [due, b] : incoming)
            if (static_cast<std::int32_t>(due - clock_.now) <= 0)
                ++n;
            else
                break;
        return n;
    }
    void Sent(std::uint8_t b) {
        raw_sent += static_cast<char>(b);
        if (model) {
            model->Receive(b, clock_.now);
            return;
        }
        static const std::string kSingles = std::string(" ElAL\xF7\xF8\xDE", 8);
        if (pending_.empty() && kSingles.find(static_cast<char>(b)) != std::string::npos) {
            Unit(std::string(1, static_cast<char>(b)));
        } else if (b == '\r' || b == 0) {
            Unit(pending_);
            pending_.clear();
        } else {
            pending_ += static_cast<char>(b);
        }
    }
    void Unit(const std::string& unit) {
        sent.push_back(unit);
        if (respond) Queue(respond(unit));
    }
    void Pump() {
        if (!model) return;
        for (const auto& out : model->Due(clock_.now)) {
            if (out.kind == emulator::Output::Line && kind == 5)
                blocks.push_back(out.data);
            else if (out.kind == emulator::Output::Line)
                Queue(out.data + "\r");
            else if (out.kind == emulator::Output::Bytes)
                Queue(out.data);
            else if (out.kind == emulator::Output::Completion && kind == 6)
                Queue("o");
            else if (out.kind == emulator::Output::Completion)
                status = SPECT_STATUS_DONE;
            else
                status = static_cast<std::uint8_t>(out.data[0]);
        }
    }
    FakeClock& clock_;
    std::string pending_;
};

}  // namespace monodrv::testing
