// The block link between the port library and the controller emulator: a Unix
// SOCK_SEQPACKET socket whose every packet is one type byte and its payload. Shared by both
// sides so that the framing is written once.
#pragma once

#include <cstdint>

namespace telx32 {

enum BlockPacket : std::uint8_t {
    kHostBytes = 'd',   // host -> controller: bytes sent
    kReplyBytes = 'b',  // controller -> host: single reply bytes ("o", "q", ...)
    kReplyBlock = 'r',  // controller -> host: one whole reply (a line without its CR)
    kStatus = 's',      // controller -> host: status bits 0x01 done, 0x02 error
};

inline constexpr std::uint8_t kStatusReplyWaiting = 0x80;
inline constexpr std::uint8_t kStatusDone = 0x01;
inline constexpr std::uint8_t kStatusError = 0x02;
inline constexpr int kMaxPacket = 4096;

}  // namespace telx32
