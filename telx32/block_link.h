// The block link between the port library and the controller emulator: a Unix
// SOCK_SEQPACKET socket whose every packet is one type byte and its payload. Shared by both
// sides so that the framing is written once.
#pragma once

#include <cstdint>

#include "telx32/telx32.h"

namespace telx32 {

enum BlockPacket : std::uint8_t {
    kHostBytes = 'd',   // host -> controller: bytes sent
    kReplyBytes = 'b',  // controller -> host: single reply bytes ("o", "q", ...)
    kReplyBlock = 'r',  // controller -> host: one whole reply (a line without its CR)
    kStatus = 's',      // controller -> host: status bits 0x01 done, 0x02 error
};

inline constexpr std::uint8_t kStatusReplyWaiting = TELX_STATUS_REPLY_WAITING;
inline constexpr std::uint8_t kStatusDone = TELX_STATUS_DONE;
inline constexpr std::uint8_t kStatusError = TELX_STATUS_ERROR;
inline constexpr int kMaxPacket = 4096;

}  // namespace telx32
