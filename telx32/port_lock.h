// A port belongs to one process at a time, as Linux serial programs agree: an exclusive flock
// on the device and the lock file LCK..NAME in /run/lock (or /var/lock) holding the owner's
// PID in ten ASCII digits. A lock file whose process is gone is taken over.
#pragma once

#include <sys/types.h>
#include <memory>
#include <string>

namespace telx32 {

class PortLock {
  public:
    // Takes `name` (a device path, or any name for a port without a device file, fd < 0) for
    // this process. Null with `error` naming the port and its holder when another process,
    // or another handle of this one, has it; nothing is sent on the port then.
    static std::unique_ptr<PortLock> Take(const std::string& name, int fd, std::string& error);
    ~PortLock();
    PortLock(const PortLock&) = delete;
    PortLock& operator=(const PortLock&) = delete;

  private:
    explicit PortLock(std::string lock_file) : lock_file_(std::move(lock_file)) {}
    std::string lock_file_;  // empty when no lock folder could be written
};

// The lock file's name for a port: the device path below /dev with '/' as '_' ("ttyUSB0",
// "pts_3"), or the whole name so flattened for other ports ("block:_tmp_emu.sock").
std::string LockName(const std::string& canonical_name);

// "monodrv-ctl (PID 4711)", or "PID 4711" when the program's name cannot be read.
std::string DescribeProcess(pid_t pid);

}  // namespace telx32
