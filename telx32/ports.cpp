#include "telx32/ports.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "telx32/block_link.h"
#include "telx32/port_lock.h"

namespace telx32 {
namespace {

speed_t SpeedFor(std::int32_t baud) {
    switch (baud) {
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        default:
            return B0;
    }
}

// A serial device: raw, 8 data bits, no parity, 1 stop bit, no flow control.
class SerialPort : public BufferedPort {
  public:
    explicit SerialPort(int fd) : fd_(fd) {}
    ~SerialPort() override {
        lock.reset();  // the lock file goes before the flock, so no opener sees a stale one
        close(fd_);
    }
    int Kind() const override { return 6; }

    bool Configure(std::int32_t baud) {
        termios t{};
        if (tcgetattr(fd_, &t) != 0) return false;
        cfmakeraw(&t);
        t.c_cflag |= CLOCAL | CREAD;
        t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS);
        t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;
        speed_t speed = SpeedFor(baud);
        if (speed == B0) return false;
        cfsetispeed(&t, speed);
        cfsetospeed(&t, speed);
        if (tcsetattr(fd_, TCSANOW, &t) != 0) return false;
        baud_ = baud;
        return true;
    }
    bool SetBaud(std::int32_t baud) override { return Configure(baud); }
    std::int32_t Baud() const override { return baud_; }

    bool Write(const std::uint8_t* data, std::size_t size) override {
        ssize_t n = write(fd_, data, size);
        return n == static_cast<ssize_t>(size);
    }
    std::int32_t TxPending() override {
        int pending = 0;
        if (ioctl(fd_, TIOCOUTQ, &pending) != 0) return 0;
        return pending;
    }
    void FlushInput() override {
        tcflush(fd_, TCIFLUSH);
        Pump();
        rx_.clear();
    }

  private:
    void Pump() override {
        std::uint8_t buffer[512];
        for (ssize_t n; (n = read(fd_, buffer, sizeof buffer)) > 0;)
            rx_.insert(rx_.end(), buffer, buffer + n);
    }
    int fd_;
    std::int32_t baud_ = 19200;

  public:
    std::unique_ptr<PortLock> lock;
};

// The emulator's block link: typed packets over a Unix SOCK_SEQPACKET socket.
class BlockPort : public BufferedPort {
  public:
    explicit BlockPort(int fd) : fd_(fd) {}
    ~BlockPort() override {
        lock.reset();
        close(fd_);
    }
    int Kind() const override { return 5; }

    bool Write(const std::uint8_t* data, std::size_t size) override {
        std::vector<std::uint8_t> packet{kHostBytes};
        packet.insert(packet.end(), data, data + size);
        return send(fd_, packet.data(), packet.size(), MSG_DONTWAIT | MSG_NOSIGNAL) ==
               static_cast<ssize_t>(packet.size());
    }
    std::int32_t TxPending() override { return 0; }
    void FlushInput() override {
        Pump();
        rx_.clear();
        blocks_.clear();
    }
    std::int32_t Status() override {
        Pump();
        return (blocks_.empty() ? 0 : kStatusReplyWaiting) | status_;
    }
    bool StatusValid() override { return true; }
    int ReadBlock(std::uint8_t* buffer, int maximum) override {
        Pump();
        if (blocks_.empty() || maximum <= 0) return 0;
        std::vector<std::uint8_t> block = std::move(blocks_.front());
        blocks_.pop_front();
        int n = std::min(maximum, static_cast<int>(block.size()));
        std::memcpy(buffer, block.data(), static_cast<std::size_t>(n));
        return n;
    }

  private:
    void Pump() override {
        std::uint8_t packet[kMaxPacket];
        for (ssize_t n; (n = recv(fd_, packet, sizeof packet, MSG_DONTWAIT)) > 0;) {
            const std::uint8_t* payload = packet + 1;
            const auto size = static_cast<std::size_t>(n - 1);
            switch (packet[0]) {
                case kReplyBytes:
                    rx_.insert(rx_.end(), payload, payload + size);
                    break;
                case kReplyBlock:
                    blocks_.emplace_back(payload, payload + size);
                    break;
                case kStatus:
                    if (size > 0) status_ = payload[0] & (kStatusDone | kStatusError);
                    break;
                default:
                    break;
            }
        }
    }
    int fd_;
    std::deque<std::vector<std::uint8_t>> blocks_;
    std::int32_t status_ = 0;

  public:
    std::unique_ptr<PortLock> lock;
};

// Why a device cannot be opened, in words that say what to do about it: join the group the
// port gives access to, or ask for access where only its owner has it.
std::string OpenFailure(const std::string& name, int error) {
    if (error != EACCES && error != EPERM) return name + ": " + std::strerror(error);
    struct stat st {};
    const std::string denied = name + ": permission denied";
    if (stat(name.c_str(), &st) != 0) return denied;
    const group* owner = getgrgid(st.st_gid);
    const bool group_may = (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    if (!owner || !group_may || st.st_gid == 0) {
        const passwd* user = getpwuid(st.st_uid);
        return denied + ": only its owner (" + (user ? user->pw_name : std::to_string(st.st_uid)) +
               ") may open it; ask the administrator for access (a udev rule giving the group "
               "dialout read and write)";
    }
    return denied + ": the port belongs to the group " + owner->gr_name +
           ", which this user is not in (sudo usermod -aG " + owner->gr_name +
           " $USER, then log in again)";
}

std::unique_ptr<Port> OpenBlockLink(const std::string& name, std::string& error) {
    const std::string path = name.substr(6);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        error = name + ": socket path too long";
        return nullptr;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    std::unique_ptr<PortLock> lock = PortLock::Take(name, -1, error);
    if (!lock) return nullptr;
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        error = name + ": " + std::strerror(errno);
        if (fd >= 0) close(fd);
        return nullptr;
    }
    auto port = std::make_unique<BlockPort>(fd);
    port->name = name;
    port->lock = std::move(lock);
    return port;
}

}  // namespace

std::unique_ptr<Port> OpenPort(const std::string& name, std::int32_t baud, std::string& error) {
    if (name.rfind("block:", 0) == 0) return OpenBlockLink(name, error);
    int fd = open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = OpenFailure(name, errno);
        return nullptr;
    }
    if (!isatty(fd)) {
        close(fd);
        error = name + ": not a serial port";
        return nullptr;
    }
    // Taken before the line is set up: a second opener changes nothing on the line.
    std::unique_ptr<PortLock> lock = PortLock::Take(name, fd, error);
    if (!lock) {
        close(fd);
        return nullptr;
    }
    auto port = std::make_unique<SerialPort>(fd);
    port->lock = std::move(lock);
    if (!port->Configure(baud)) {
        error = name + ": cannot set up the port (baud rate " + std::to_string(baud) + ")";
        return nullptr;
    }
    port->name = name;
    return port;
}

}  // namespace telx32
