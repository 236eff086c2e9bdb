// The ports the library opens: serial ports (character interface) and the emulator's block
// link (block interface).
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace telx32 {

class Port {
  public:
    virtual ~Port() = default;
    virtual int Kind() const = 0;
    // Offers bytes for sending; false when they cannot be taken now.
    virtual bool Write(const std::uint8_t* data, std::size_t size) = 0;
    virtual std::int32_t TxPending() = 0;
    virtual std::int32_t RxWaiting() = 0;
    // The next received byte, or -1 when none is waiting.
    virtual int ReadByte() = 0;
    virtual void FlushInput() = 0;
    // Block interface only: the status byte and the next whole reply.
    virtual std::int32_t Status() { return 0; }
    virtual bool StatusValid() { return false; }
    virtual int ReadBlock(std::uint8_t*, int) { return 0; }
    virtual bool SetBaud(std::int32_t) { return false; }
    virtual std::int32_t Baud() const { return 0; }

    std::uint32_t user_data = 0;
    std::string name;
};

// A port whose received bytes are gathered into a buffer by Pump().
class BufferedPort : public Port {
  public:
    std::int32_t RxWaiting() override {
        Pump();
        return static_cast<std::int32_t>(rx_.size());
    }
    int ReadByte() override {
        Pump();
        if (rx_.empty()) return -1;
        int b = rx_.front();
        rx_.pop_front();
        return b;
    }

  protected:
    // Moves whatever the system has received into rx_ without waiting.
    virtual void Pump() = 0;
    std::deque<std::uint8_t> rx_;
};

// Opens a port by name: "block:PATH" for the block link, anything else as a serial device.
// Null with `error` set when it cannot be opened.
std::unique_ptr<Port> OpenPort(const std::string& name, std::int32_t baud, std::string& error);

}  // namespace telx32
