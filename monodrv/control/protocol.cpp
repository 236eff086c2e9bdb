#include "monodrv/control/protocol.h"

#include "monodrv/control/strict_numbers.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace monodrv {

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

std::uint8_t Protocol::ReadByte() {
    const std::uint32_t start = clock_.Ticks();
    for (;;) {
        if (port_.GetUIParam(kUiRxWaiting) != 0)
            return static_cast<std::uint8_t>(port_.Input() & 0xFF);
        clock_.Sleep(kPollInterval);
        if (TimedOut(start, kIoTimeout)) return 0;
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
            if (b == '\r') {
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

void Protocol::DrainInput() {
    const std::int32_t kind = port_.GetUIParam(kUiKind);
    if (kind == kKindCharacter) {
        port_.FlushBuffer(kFlushInput);
    } else if (kind == kKindBlock) {
        std::uint8_t scratch[kMaxBlock];
        while (port_.GetUIParam(kUiStatus) & SPECT_STATUS_REPLY_WAITING)
            if (port_.InputMultiple(scratch, kMaxBlock) == 0) break;
    }
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
    } else if (SendByte('E') && ReadByte() == 'o') {
        const std::uint8_t c = ReadByte();
        if (c == 'q') {
            result = SPECT_BUSY_BUSY;
        } else if (c != 0 && c != 'z') {
            if (SendByte('l') && ReadByte() == 'o' && ReadByte() == 'q') result = SPECT_BUSY_BUSY;
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
    return SendCommand(text, 13) && ReadByte() == 'o';
}

bool Protocol::Query(const std::string& text, std::string& line) {
    return Exchange(text) && ReadLine(line);
}

bool Protocol::Initialize() {
    port_.SetUserData(kStateReleased);
    bool counted = false;
    std::uint8_t reply = 0;
    for (int attempt = 0; attempt < 3 && !counted; ++attempt) {
        DrainInput();
        if (!SendByte(0x20)) continue;
        reply = ReadByte();
        if (reply == '*' || reply == 'B' || reply == 'F') {
            counted = true;
        } else {
            DrainInput();
            counted = SendByte(0xF8) && SendByte(0xDE);
        }
    }
    bool ok = false;
    if (counted) {
        if (reply == '*') {
            clock_.Sleep(kStartPause);
            DrainInput();
            ok =
                SendByte(0xF7) && ReadByte() == '=' && SendCommand("O2000", 0) && ReadByte() == '*';
        } else if (reply == 'B') {
            ok = SendCommand("O2000", 0) && ReadByte() == '*';
        } else if (reply == 'F') {
            ok = true;
        }
    }
    if (!ok && port_.GetUserData() != kStateHeld) port_.SetUserData(kStateReleased);
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
