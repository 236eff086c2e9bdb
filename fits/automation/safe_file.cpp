#include "fits/automation/safe_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace fits {
namespace {

// ---- Names a signal must remove ------------------------------------------------------------
// Blocks of slots holding heap copies of the names, chained as the run needs more: every
// temporary file of every worker has a slot, however many jobs run. Blocks are only ever
// added, never freed, so the handler may walk the chain while workers register; it reads
// atomics and calls unlink, both async-signal-safe.

constexpr int kSlotsPerBlock = 32;
struct SlotBlock {
    std::atomic<char*> names[kSlotsPerBlock] = {};
    std::atomic<SlotBlock*> next{nullptr};
};
SlotBlock g_pending;
constexpr int kCleanSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Threads giving a temporary file a name (between creating it and registering it, or moving
// another file onto a registered name); the clean-up waits for the others to finish, so that
// no name appears after it has removed them.
std::atomic<int> g_naming{0};
thread_local int t_naming = 0;  // this thread's share of g_naming
std::atomic<bool> g_cleaning{false};

void RemovePending() {
    for (SlotBlock* block = &g_pending; block; block = block->next.load())
        for (auto& slot : block->names)
            if (char* name = slot.load()) unlink(name);
}

extern "C" void RemovePendingAndRaise(int sig) {
    g_cleaning = true;  // no thread starts naming a file from now on
    RemovePending();
    const timespec pause{0, 5'000'000};
    for (int waits = 0; g_naming.load() != t_naming && waits < 400; ++waits)
        nanosleep(&pause, nullptr);
    RemovePending();
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

// Installs the clean-up handler for each signal still at its default action (a program that
// handles or ignores a signal itself keeps its choice).
void InstallHandlersOnce() {
    static const bool installed = [] {
        for (int sig : kCleanSignals) {
            struct sigaction old {};
            if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler != SIG_DFL) continue;
            struct sigaction act {};
            act.sa_handler = RemovePendingAndRaise;
            sigemptyset(&act.sa_mask);
            sigaction(sig, &act, nullptr);
        }
        return true;
    }();
    (void)installed;
}

// The block after `block`, added when there is none yet (by one thread, if several race).
SlotBlock* NextBlock(SlotBlock* block) {
    if (SlotBlock* next = block->next.load()) return next;
    auto* added = new SlotBlock;
    SlotBlock* expected = nullptr;
    if (block->next.compare_exchange_strong(expected, added)) return added;
    delete added;
    return expected;
}

void Register(const std::string& name) {
    InstallHandlersOnce();
    char* copy = strdup(name.c_str());
    if (!copy) return;
    for (SlotBlock* block = &g_pending;; block = NextBlock(block)) {
        for (auto& slot : block->names) {
            char* expected = nullptr;
            if (slot.compare_exchange_strong(expected, copy)) return;
        }
    }
}

void Unregister(const std::string& name) {
    for (SlotBlock* block = &g_pending; block; block = block->next.load()) {
        for (auto& slot : block->names) {
            char* held = slot.load();
            if (held && name == held && slot.compare_exchange_strong(held, nullptr)) {
                std::free(held);
                return;
            }
        }
    }
}

}  // namespace

NamingFile::NamingFile() {
    ++g_naming;
    ++t_naming;
    allowed_ = !g_cleaning.load();
}

NamingFile::~NamingFile() {
    --t_naming;
    --g_naming;
}

namespace {

// ---- Names ---------------------------------------------------------------------------------

std::string FolderOf(const std::string& target) {
    auto slash = target.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : target.substr(0, slash);
}

std::string NameOf(const std::string& target) {
    auto slash = target.rfind('/');
    return slash == std::string::npos ? target : target.substr(slash + 1);
}

std::size_t NameLimit(const std::string& dir) {
    long limit = pathconf(dir.c_str(), _PC_NAME_MAX);
    return limit > 16 ? static_cast<std::size_t>(limit) : 255;
}

// Six characters that differ between calls and processes.
std::string RandomSuffix() {
    static std::atomic<unsigned long> counter{0};
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    unsigned long long x = static_cast<unsigned long long>(now.tv_nsec) ^
                           (static_cast<unsigned long long>(getpid()) << 32) ^
                           (++counter * 0x9E3779B97F4A7C15ull);
    std::string out(6, 'a');
    for (char& c : out) {
        x ^= x >> 29;
        x *= 0xBF58476D1CE4E5B9ull;
        c = kChars[(x >> 33) % (sizeof kChars - 1)];
    }
    return out;
}

std::string WithSuffix(std::string name) {
    name.replace(name.size() - 6, 6, RandomSuffix());
    return name;
}

bool ProcFdWorks() {
    return access("/proc/self/fd", F_OK) == 0;
}

// The process's umask, read without changing it where the kernel reports it: setting it to 0
// and back would let a file another thread creates meanwhile be writable by everyone.
mode_t CurrentUmask() {
    static const mode_t mask = [] {
        if (std::FILE* status = std::fopen("/proc/self/status", "re")) {
            char line[256];
            unsigned value = 0;
            bool found = false;
            while (!found && std::fgets(line, sizeof line, status))
                found = std::sscanf(line, "Umask: %o", &value) == 1;
            std::fclose(status);
            if (found) return static_cast<mode_t>(value);
        }
        const mode_t old = umask(0);
        umask(old);
        return old;
    }();
    return mask;
}

}  // namespace

ScratchFile::ScratchFile(const std::string& beside) {
    const std::string dir = FolderOf(beside);
    path_ = dir + "/" + TemporaryName(NameOf(beside), NameLimit(dir));
    const NamingFile naming;
    const int fd = naming.allowed() ? mkostemp(path_.data(), O_CLOEXEC) : -1;
    if (fd < 0) {
        error_ = ShownName(beside) +
                 ": cannot create a temporary file beside it: " + std::strerror(errno);
        path_.clear();
        return;
    }
    close(fd);
    Register(path_);
}

ScratchFile::~ScratchFile() {
    Remove();
}

void ScratchFile::Remove() {
    if (path_.empty()) return;
    unlink(path_.c_str());
    Unregister(path_);
    path_.clear();
}

std::string TemporaryName(const std::string& target_name, std::size_t limit) {
    constexpr std::size_t kExtra = 8;  // the leading dot and ".XXXXXX"
    std::string name = target_name;
    const std::size_t room = limit > kExtra ? limit - kExtra : 0;
    if (name.size() > room) {
        std::size_t cut = room;
        // Do not leave half a UTF-8 sequence at the end.
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
            --cut;
        name.resize(cut);
    }
    return "." + name + ".XXXXXX";
}

SafeFile::SafeFile(std::string target, Temporary temporary)
    : target_(std::move(target)), dir_(FolderOf(target_)) {
    // A device, a pipe or a folder under the target's name is never replaced by a file.
    struct stat st {};
    if (lstat(target_.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
        error_ = ShownName(target_) + ": not a regular file; not replaced";
        return;
    }
    // A file the user could not write is not replaced behind its back, as a shell
    // redirection or cp would not replace it (write permission of the folder alone allows the
    // rename).
    if (S_ISREG(st.st_mode) && access(target_.c_str(), W_OK) != 0) {
        error_ = ShownName(target_) + ": cannot replace: " + std::strerror(errno) +
                 " (you may not write this file); not replaced";
        return;
    }
#ifdef O_TMPFILE
    if (temporary == Temporary::kUnnamedWhereSupported && ProcFdWorks()) {
        fd_ = open(dir_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        unnamed_ = fd_ >= 0;
    }
#else
    (void)temporary;
#endif
    if (fd_ < 0) {
        temp_ = dir_ + "/" + TemporaryName(NameOf(target_), NameLimit(dir_));
        const NamingFile naming;
        fd_ = naming.allowed() ? mkostemp(temp_.data(), O_CLOEXEC) : -1;
        if (fd_ < 0) {
            temp_.clear();
            Fail("cannot create", errno);
            return;
        }
        Register(temp_);
    }
}

SafeFile::~SafeFile() {
    if (fd_ >= 0) close(fd_);
    if (!temp_.empty() && !committed_) {
        unlink(temp_.c_str());
        Unregister(temp_);
    }
}

bool SafeFile::Fail(const std::string& what, int error) {
    if (error_.empty()) error_ = ShownName(target_) + ": " + what + ": " + std::strerror(error);
    return false;
}

bool SafeFile::Write(const void* data, std::size_t n) {
    if (fd_ < 0) return false;
    const auto* bytes = static_cast<const char*>(data);
    while (ok() && n > 0) {
        ssize_t done = write(fd_, bytes, n);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return Fail("cannot write", done < 0 ? errno : ENOSPC);
        bytes += done;
        n -= static_cast<std::size_t>(done);
    }
    return ok();
}

// Gives the unnamed file a hidden name beside the target (renamed over it next).
bool SafeFile::LinkUnnamed() {
    const std::string pattern = dir_ + "/" + TemporaryName(NameOf(target_), NameLimit(dir_));
    const std::string proc = "/proc/self/fd/" + std::to_string(fd_);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = WithSuffix(pattern);
        Register(name);
        if (linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            temp_ = name;
            return true;
        }
        const int error = errno;
        Unregister(name);
        if (error != EEXIST) return Fail("cannot create", error);
    }
    return Fail("cannot create", EEXIST);
}

bool SafeFile::SyncIfReplacing() {
    if (!ok() || fd_ < 0) return false;
    struct stat existing {};
    if (lstat(target_.c_str(), &existing) == 0 && fdatasync(fd_) != 0)
        return Fail("cannot write", errno);
    synced_ = true;
    return true;
}

bool SafeFile::Commit() {
    if (!ok() || fd_ < 0) return false;
    // A replaced file keeps its permission bits and, where the owner may set it, its group:
    // a private file stays private. A new file gets a new file's permissions.
    struct stat existing {};
    const bool replacing = lstat(target_.c_str(), &existing) == 0;
    mode_t mode = 0666 & ~CurrentUmask();
    if (replacing && S_ISREG(existing.st_mode)) {
        if (fchown(fd_, static_cast<uid_t>(-1), existing.st_gid) != 0) {
            // Not a member of the file's group: the file takes the user's group.
        }
        mode = existing.st_mode & 0777;
    }
    if ((!unnamed_ || replacing) && fchmod(fd_, mode) != 0) return Fail("cannot write", errno);
    // Replacing a file: the new content reaches the disk before the rename does, so that a
    // power cut leaves the old file or the new one, never an empty one. A new name needs no
    // such wait: nothing is lost when it is cut short.
    if (replacing && !synced_ && fdatasync(fd_) != 0) return Fail("cannot write", errno);
    // A name appears (the hidden one, then the target's): a signal's clean-up waits for it.
    const NamingFile naming;
    if (!naming.allowed()) return Fail("cannot replace", EINTR);
    if (unnamed_ && !LinkUnnamed()) return false;
    const int closed = close(fd_);
    fd_ = -1;
    if (closed != 0) return Fail("cannot write", errno);
    if (std::rename(temp_.c_str(), target_.c_str()) != 0) return Fail("cannot replace", errno);
    committed_ = true;
    Unregister(temp_);
    return true;
}

}  // namespace fits
