// Windows serial ports ("COM3", "\\.\COM12") as character interfaces. The block link is a
// Unix socket and does not exist here.
#include <windows.h>

#include <algorithm>
#include <deque>

#include "telx32/ports.h"

namespace telx32 {
namespace {

class SerialPort : public BufferedPort {
  public:
    explicit SerialPort(HANDLE handle) : handle_(handle) {}
    ~SerialPort() override { CloseHandle(handle_); }
    int Kind() const override { return 6; }

    // Raw 8N1 at the baud rate, no flow control; reads return at once with what is there.
    bool Configure(std::int32_t baud) {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!GetCommState(handle_, &dcb)) return false;
        dcb.BaudRate = static_cast<DWORD>(baud);
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.fBinary = TRUE;
        dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = FALSE;
        dcb.fOutX = dcb.fInX = FALSE;
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
        if (!SetCommState(handle_, &dcb)) return false;
        COMMTIMEOUTS timeouts{};
        timeouts.ReadIntervalTimeout = MAXDWORD;  // return immediately
        timeouts.WriteTotalTimeoutConstant = 2000;
        if (!SetCommTimeouts(handle_, &timeouts)) return false;
        baud_ = baud;
        return true;
    }
    bool SetBaud(std::int32_t baud) override { return Configure(baud); }
    std::int32_t Baud() const override { return baud_; }

    bool Write(const std::uint8_t* data, std::size_t size) override {
        DWORD written = 0;
        return WriteFile(handle_, data, static_cast<DWORD>(size), &written, nullptr) &&
               written == size;
    }
    std::int32_t TxPending() override {
        COMSTAT stat{};
        DWORD errors = 0;
        return ClearCommError(handle_, &errors, &stat) ? static_cast<std::int32_t>(stat.cbOutQue)
                                                       : 0;
    }
    void FlushInput() override {
        PurgeComm(handle_, PURGE_RXCLEAR);
        rx_.clear();
    }

  private:
    void Pump() override {
        std::uint8_t buffer[512];
        DWORD n = 0;
        while (ReadFile(handle_, buffer, sizeof buffer, &n, nullptr) && n > 0)
            rx_.insert(rx_.end(), buffer, buffer + n);
    }
    HANDLE handle_;
    std::int32_t baud_ = 19200;
};

}  // namespace

std::unique_ptr<Port> OpenPort(const std::string& name, std::int32_t baud, std::string& error) {
    if (name.rfind("block:", 0) == 0) {
        error = name + ": the block link is not available on Windows";
        return nullptr;
    }
    const std::string device = name.rfind("\\\\.\\", 0) == 0 ? name : "\\\\.\\" + name;
    HANDLE handle = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = name + ": cannot open (error " + std::to_string(GetLastError()) + ")";
        return nullptr;
    }
    auto port = std::make_unique<SerialPort>(handle);
    if (!port->Configure(baud)) {
        error = name + ": cannot set up the port";
        return nullptr;
    }
    port->name = name;
    return port;
}

}  // namespace telx32
