#include "monodrv/control/protocol.h"

#include "monodrv/control/command_words.h"
#include "monodrv/control/strict_numbers.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace monodrv {

namespace wire = command;

bool Protocol::SendByte(std::uint8_t b) {
    std::uint32_t start = clock_.Ticks();
    port_.FlushBuffer(kFlushSendBuffer);
    while (port_.OutputMultiple(&b, 1) == 0) {
        clock_.Sleep(kPollInterval);
        if (TimedOut(start, kIoTimeout)) return false;
    }
    start = clock_.Ticks();
    while (port_.GetUIParam(kUiTxPending) != 0) {
        clock_.Sleep(kPollInterval);
        if (TimedOut(start, kIoTimeout)) return false;
    }
    return true;
}

bool Protocol::SendCommand(const std::string& text, std::uint8_t terminator) {
    DrainInput();
    for (char c : text)
        if (!SendByte(static_cast<std::uint8_t>(c))) return false;
    return SendByte(terminator);
}

std::uint8_t Protocol::ReadByte(std::uint32_t limit) {
    const std::uint32_t start = clock_.Ticks();
    for (;;) {
        if (port_.GetUIParam(kUiRxWaiting) != 0)
            return static_cast<std::uint8_t>(port_.Input() & 0xFF);
        clock_.Sleep(kPollInterval);
        if (TimedOut(start, limit)) return 0;
    }
}

bool Protocol::ReadLine(std::string& line) {
    line.clear();
    bool ok = false;
    const std::int32_t kind = port_.GetUIParam(kUiKind);
    if (kind == kKindCharacter) {
        while (line.size() < kMaxLine) {
            std::uint8_t b = ReadByte();
            if (b == 0) break;  // time-out (or a zero byte, which cannot be told apart)
            line += static_cast<char>(b);
            if (b == wire::kEnd) {
                ok = true;
                break;
            }
        }
    } else if (kind == kKindBlock) {
        const std::uint32_t start = clock_.Ticks();
        for (;;) {
            if (port_.GetUIParam(kUiStatus) & SPECT_STATUS_REPLY_WAITING) {
                std::uint8_t block[kMaxBlock];
                std::int32_t n = port_.InputMultiple(block, kMaxBlock) & 0xFFFF;
                if (n > kMaxBlock) n = kMaxBlock;
                line.assign(reinterpret_cast<char*>(block), static_cast<std::size_t>(n));
                ok = true;
                break;
            }
            clock_.Sleep(kPollInterval);
            if (TimedOut(start, kIoTimeout)) break;
        }
    }
    if (line.empty()) port_.SetUserData(kStateReleased);
    return ok;
}

// A block interface also delivers single reply bytes ("o", "q"): those are dropped too, so
// that no byte of an earlier reply is taken for the answer to the next command.
void Protocol::DrainInput() {
    const std::int32_t kind = port_.GetUIParam(kUiKind);
    if (kind == kKindCharacter) {
        port_.FlushBuffer(kFlushInput);
    } else if (kind == kKindBlock) {
        std::uint8_t scratch[kMaxBlock];
        while (port_.GetUIParam(kUiStatus) & SPECT_STATUS_REPLY_WAITING)
            if (port_.InputMultiple(scratch, kMaxBlock) == 0) break;
        for (int n = 0; n < kMaxBlock && port_.GetUIParam(kUiRxWaiting) != 0; ++n)
            port_.Input();
    }
}

void Protocol::MoveTaken() {
    if (memory_) *memory_ = {true, clock_.Ticks()};
}

bool Protocol::QuietAfterMove() {
    if (!memory_ || !memory_->move_taken) return false;
    const auto since = static_cast<std::uint32_t>(clock_.Ticks() - memory_->move_taken_at);
    if (since < kMoveQuiet) clock_.Sleep(kMoveQuiet - since);
    return since < kMoveSilenceWindow;
}

SPECT_BUSY_STATUS Protocol::QueryBusy() {
    SPECT_BUSY_STATUS result = SPECT_BUSY_READY;
    if (port_.GetUserData() == kStateErrorSignal) {
        result = SPECT_BUSY_ERROR;
        port_.SetUserData(kStateReleased);
    } else if (std::uint32_t word = port_.GetUserData(); word == kStateHeld) {
        result = SPECT_BUSY_HELD;
    } else if (word == kStateCompletionPending) {
        const std::int32_t kind = port_.GetUIParam(kUiKind);
        if (kind == kKindCharacter) {
            if (port_.GetUIParam(kUiRxWaiting) != 0)
                ReadByte();
            else
                result = SPECT_BUSY_BUSY;
        } else if (kind == kKindBlock) {
            const std::int32_t status = port_.GetUIParam(kUiStatus);
            if (port_.GetUIParam(kUiStatusValid) != 1)
                result = SPECT_BUSY_NOT_VALID;
            else if (status == 0)
                result = SPECT_BUSY_BUSY;
            else if (status & SPECT_STATUS_DONE)
                result = SPECT_BUSY_READY;
            else if (status & SPECT_STATUS_REPLY_WAITING)
                result = SPECT_BUSY_READY;
            else if (status & SPECT_STATUS_ERROR)
                result = SPECT_BUSY_ERROR;
        }
    } else {
        // Silence soon after a move is the interface's quiet time, not the end of the move.
        const bool silence_is_busy = QuietAfterMove();
        DrainInput();
        const bool sent = SendByte(wire::kBusyQuery);
        const std::uint8_t first = sent ? ReadByte() : 0;
        if (first == wire::kAck) {
            const std::uint8_t c = ReadByte();
            if (c == wire::kBusy) {
                result = SPECT_BUSY_BUSY;
            } else if (c != 0 && c != wire::kReady) {
                if (SendByte(wire::kSecondBusyQuery) && ReadByte() == wire::kAck &&
                    ReadByte() == wire::kBusy)
                    result = SPECT_BUSY_BUSY;
            }
            if (result == SPECT_BUSY_READY && memory_) memory_->move_taken = false;
        } else if (sent && first == 0 && silence_is_busy) {
            result = SPECT_BUSY_BUSY;
        }
    }
    if (result != SPECT_BUSY_BUSY) port_.SetUserData(kStateReleased);
    return result;
}

bool Protocol::WaitNotBusy() {
    const std::uint32_t start = clock_.Ticks();
    for (;;) {
        const SPECT_BUSY_STATUS result = QueryBusy();
        if (result != SPECT_BUSY_BUSY) return result == SPECT_BUSY_READY;
        clock_.Sleep(kBusyPollInterval);
        if (TimedOut(start, kBusyTimeout)) return false;
    }
}

bool Protocol::Exchange(const std::string& text) {
    return SendCommand(text, wire::kEnd) && ReadByte() == wire::kAck;
}

bool Protocol::Query(const std::string& text, std::string& line) {
    return Exchange(text) && ReadLine(line);
}

bool Protocol::Stop() {
    if (!SendByte(wire::kStop)) return false;
    ReadByte(kStopAnswerWait);  // an "o" some controllers give; nobody else would read it
    DrainInput();
    return true;
}

// Brings a controller in terminal mode (left there by a hand-held unit) to intelligent mode,
// leaving it the time it needs after each byte.
void Protocol::ToIntelligentMode() {
    DrainInput();
    if (SendByte(wire::kToIntelligent1)) clock_.Sleep(kModePause);
    if (SendByte(wire::kToIntelligent2)) clock_.Sleep(kModePause);
}

// Asks the start-up query until the controller answers "*", "B" or "F" (or 0 when it never
// does). A blank may go unanswered (a controller just switched on finds the baud rate on it),
// so it is asked again; any other answer (ESC from terminal mode) switches modes first.
std::uint8_t Protocol::Hello() {
    for (int round = 0; round < kHelloRounds; ++round) {
        DrainInput();
        for (int attempt = 0; attempt < kHelloAttempts; ++attempt) {
            if (!SendByte(wire::kHello)) continue;
            const std::uint8_t reply = ReadByte(kHelloWait);
            if (reply == wire::kStarted || reply == wire::kBootProgram ||
                reply == wire::kMainProgram)
                return reply;
            if (reply != 0) break;
        }
        if (round + 1 < kHelloRounds) ToIntelligentMode();
    }
    return 0;
}

bool Protocol::Initialize() {
    port_.SetUserData(kStateReleased);
    const std::uint8_t reply = Hello();
    bool ok = false;
    if (reply == wire::kStarted) {
        clock_.Sleep(kStartPause);
        DrainInput();
        ok = SendByte(wire::kAfterStar) && ReadByte() == wire::kEquals &&
             SendCommand(std::string(wire::kStart), wire::kStartEnd) &&
             ReadByte() == wire::kStarted;
    } else if (reply == wire::kBootProgram) {
        ok =
            SendCommand(std::string(wire::kStart), wire::kStartEnd) && ReadByte() == wire::kStarted;
    } else if (reply == wire::kMainProgram) {
        ok = true;
    }
    if (!ok && port_.GetUserData() != kStateHeld) port_.SetUserData(kStateReleased);
    // Another host may have started a move just before: the busy queries that follow are
    // treated as those after a move of our own.
    if (ok) MoveTaken();
    return ok;
}

namespace {

std::string Trimmed(const std::string& line) {
    std::size_t begin = line.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) return {};
    std::size_t end = line.find_last_not_of(" \t\r\n");
    return line.substr(begin, end - begin + 1);
}

}  // namespace

std::optional<std::vector<std::int32_t>> ParseIntegers(const std::string& line, std::size_t count) {
    if (line.find('\0') != std::string::npos) return std::nullopt;
    const std::string text = Trimmed(line);
    std::vector<std::int32_t> values;
    const char* p = text.c_str();
    while (*p) {
        char* end = nullptr;
        errno = 0;
        long long v = std::strtoll(p, &end, 10);
        if (end == p || errno == ERANGE || v < std::numeric_limits<std::int32_t>::min() ||
            v > std::numeric_limits<std::int32_t>::max())
            return std::nullopt;
        values.push_back(static_cast<std::int32_t>(v));
        p = end;
        while (*p == ' ')
            ++p;
        if (*p == ',') {
            ++p;
            if (!*p) return std::nullopt;
        } else if (*p) {
            return std::nullopt;
        }
    }
    if (values.size() != count) return std::nullopt;
    return values;
}

std::optional<double> ParseReal(const std::string& line) {
    if (line.find('\0') != std::string::npos) return std::nullopt;
    return WholeNumber(Trimmed(line));
}

}  // namespace monodrv
