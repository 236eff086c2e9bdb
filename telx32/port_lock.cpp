#include "telx32/port_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace telx32 {
namespace {

// The folders where serial programs keep their lock files, in the order they look.
constexpr const char* kLockFolders[] = {"/run/lock", "/var/lock"};

std::string LockFolder() {
    for (const char* folder : kLockFolders) {
        struct stat st {};
        if (stat(folder, &st) == 0 && S_ISDIR(st.st_mode) && access(folder, W_OK) == 0)
            return folder;
    }
    return {};
}

// The PID a lock file names (ten ASCII digits, or the old four-byte binary form); 0 if none.
pid_t PidInLockFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (text.size() == sizeof(std::int32_t) && text.find_first_of("0123456789 ") != 0) {
        std::int32_t binary = 0;
        text.copy(reinterpret_cast<char*>(&binary), sizeof binary);
        return binary > 0 ? binary : 0;
    }
    char* end = nullptr;
    const long pid = std::strtol(text.c_str(), &end, 10);
    return pid > 0 && pid <= INT_MAX ? static_cast<pid_t>(pid) : 0;
}

bool Alive(pid_t pid) {
    return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM);
}

// The process holding a flock on the file `fd` is open on, from /proc/locks; 0 if unknown.
pid_t FlockHolder(int fd) {
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0) return 0;
    std::ifstream locks("/proc/locks");
    for (std::string line; std::getline(locks, line);) {
        std::istringstream fields(line);
        std::string number, kind, mode, access_kind, device;
        long pid = 0;
        if (!(fields >> number >> kind)) continue;
        if (kind == "->") fields >> kind;  // a waiter
        if (kind != "FLOCK" || !(fields >> mode >> access_kind >> pid >> device)) continue;
        unsigned major = 0, minor = 0;
        unsigned long long inode = 0;
        if (std::sscanf(device.c_str(), "%x:%x:%llu", &major, &minor, &inode) != 3) continue;
        if (inode == st.st_ino && makedev(major, minor) == st.st_dev)
            return static_cast<pid_t>(pid);
    }
    return 0;
}

std::string InUse(const std::string& name, pid_t holder) {
    if (holder == getpid())
        return name + " is already open in this program (PID " + std::to_string(holder) + ")";
    return name + " is in use by " +
           (holder > 0 ? DescribeProcess(holder) : std::string("another program"));
}

// Creates the lock file holding this process's PID; takes over one whose process is gone.
// False with `holder` set when a living process holds it; true with `created` false when the
// file cannot be made for another reason (the flock then guards alone).
bool WriteLockFile(const std::string& path, pid_t& holder, bool& created) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            char text[16];
            const int n = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(getpid()));
            const bool ok = write(fd, text, static_cast<std::size_t>(n)) == n;
            close(fd);
            if (!ok) unlink(path.c_str());
            created = ok;
            return true;
        }
        if (errno != EEXIST) return true;
        holder = PidInLockFile(path);
        if (Alive(holder)) return false;
        unlink(path.c_str());  // stale: its process is gone
    }
    return true;
}

}  // namespace

std::string LockName(const std::string& canonical_name) {
    std::string name =
        canonical_name.rfind("/dev/", 0) == 0 ? canonical_name.substr(5) : canonical_name;
    for (char& c : name)
        if (c == '/') c = '_';
    return name;
}

std::string DescribeProcess(pid_t pid) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string program;
    std::getline(comm, program);
    const std::string id = "PID " + std::to_string(pid);
    return program.empty() ? id : program + " (" + id + ")";
}

std::unique_ptr<PortLock> PortLock::Take(const std::string& name, int fd, std::string& error) {
    if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = InUse(name, FlockHolder(fd));
        return nullptr;
    }
    std::string canonical = name;
    if (char* resolved = realpath(name.c_str(), nullptr)) {
        canonical = resolved;
        std::free(resolved);
    }
    const std::string folder = LockFolder();
    if (folder.empty()) return std::unique_ptr<PortLock>(new PortLock(""));
    const std::string path = folder + "/LCK.." + LockName(canonical);
    pid_t holder = 0;
    bool created = false;
    if (!WriteLockFile(path, holder, created)) {
        error = InUse(name, holder);
        return nullptr;  // the caller closes fd, which releases the flock
    }
    return std::unique_ptr<PortLock>(new PortLock(created ? path : ""));
}

PortLock::~PortLock() {
    if (!lock_file_.empty() && PidInLockFile(lock_file_) == getpid()) unlink(lock_file_.c_str());
}

}  // namespace telx32
