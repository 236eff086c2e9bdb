// The controller's command protocol: primitives that send bytes and commands, read reply
// bytes and lines, the busy query and the start-up handshake. Replies from a character
// interface end with CR; a zero byte is indistinguishable from a time-out. A block interface
// announces each whole reply in its status byte.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "monodrv.h"
#include "monodrv/control/port_link.h"
#include "telx32/telx32.h"

namespace monodrv {

// Port state word values (the port's user-data word, shared with the host).
inline constexpr std::uint32_t kStateReleased = SPECT_STATE_RELEASED;
inline constexpr std::uint32_t kStateCompletionPending = SPECT_STATE_COMPLETION_PENDING;
inline constexpr std::uint32_t kStateErrorSignal = SPECT_STATE_ERROR_SIGNAL;
inline constexpr std::uint32_t kStateHeld = SPECT_STATE_HELD;

// Timing, in milliseconds.
inline constexpr std::uint32_t kIoTimeout = 2000;
inline constexpr std::uint32_t kBusyTimeout = 3000;
inline constexpr std::uint32_t kStartPause = 1000;
inline constexpr std::uint32_t kPollInterval = 10;
inline constexpr std::uint32_t kBusyPollInterval = 15;
// A controller's first contact: the start-up query is asked up to kHelloAttempts times, each
// answer awaited kHelloWait (a controller just switched on takes the first blank to find the
// baud rate); between two rounds of asking, the controller is brought to intelligent mode
// (two bytes, each followed by kModePause, the time the controller needs to switch).
inline constexpr int kHelloRounds = 2, kHelloAttempts = 3;
inline constexpr std::uint32_t kHelloWait = 500, kModePause = 300;
// After a move was taken: the busy query is not asked within kMoveQuiet (an interface that
// does not answer it then), and silence to a busy query asked within kMoveSilenceWindow
// means busy, not ready.
inline constexpr std::uint32_t kMoveQuiet = 250, kMoveSilenceWindow = 5000;
// How long an answer to the stop byte is awaited (some controllers answer it, most do not).
inline constexpr std::uint32_t kStopAnswerWait = 100;

// Port-library parameter codes, buffer codes and interface kinds, as the library names them.
inline constexpr std::int32_t kUiStatus = TELX_UI_STATUS, kUiRxWaiting = TELX_UI_RX_WAITING,
                              kUiTxPending = TELX_UI_TX_PENDING, kUiKind = TELX_UI_KIND,
                              kUiStatusValid = TELX_UI_STATUS_VALID;
inline constexpr std::int32_t kFlushSendBuffer = TELX_FLUSH_OUTPUT_STATE,
                              kFlushInput = TELX_FLUSH_INPUT;
inline constexpr std::int32_t kKindBlock = TELX_KIND_BLOCK, kKindCharacter = TELX_KIND_CHARACTER;
// The status bits the driver publishes are the port library's.
static_assert(int{SPECT_STATUS_DONE} == int{TELX_STATUS_DONE} &&
              int{SPECT_STATUS_ERROR} == int{TELX_STATUS_ERROR} &&
              int{SPECT_STATUS_REPLY_WAITING} == int{TELX_STATUS_REPLY_WAITING});
// A reply line holds at most 249 characters (with its CR) in the 251-byte buffer.
inline constexpr std::size_t kMaxLine = 249;
inline constexpr std::int32_t kMaxBlock = 250;

class Protocol {
  public:
    Protocol(PortLink& port, Clock& clock, LinkMemory* memory = nullptr)
        : port_(port), clock_(clock), memory_(memory) {}

    bool SendByte(std::uint8_t b);
    bool SendCommand(const std::string& text, std::uint8_t terminator);
    // The next byte, or 0 after the I/O time-out (or after `limit` ms).
    std::uint8_t ReadByte(std::uint32_t limit = kIoTimeout);
    bool ReadLine(std::string& line);
    void DrainInput();
    SPECT_BUSY_STATUS QueryBusy();
    bool WaitNotBusy();
    bool Exchange(const std::string& text);
    bool Query(const std::string& text, std::string& line);
    bool Initialize();
    // Records that the controller has just taken a move (see kMoveQuiet).
    void MoveTaken();
    // Sends the stop byte and reads the answer some controllers give it.
    bool Stop();

    PortLink& Port() { return port_; }

  private:
    std::uint8_t Hello();
    void ToIntelligentMode();
    // Waits out the quiet time after a move; true when silence would mean busy.
    bool QuietAfterMove();
    bool TimedOut(std::uint32_t since, std::uint32_t limit) {
        return static_cast<std::uint32_t>(clock_.Ticks() - since) > limit;
    }
    PortLink& port_;
    Clock& clock_;
    LinkMemory* memory_;
};

// Reply parsing: exactly `count` comma-separated signed 32-bit integers (blanks and a final
// CR allowed); none on anything else, an overflow included.
std::optional<std::vector<std::int32_t>> ParseIntegers(const std::string& line, std::size_t count);
std::optional<double> ParseReal(const std::string& line);

}  // namespace monodrv
