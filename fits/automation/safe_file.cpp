#include "fits/automation/safe_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <set>

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
    for (int waits = 0; g_naming.load() != 0 && waits < 400; ++waits)
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
    // The clean-up runs on another thread (or after this ends): run on this one, it could not
    // wait for this thread to register the name.
    sigset_t clean;
    sigemptyset(&clean);
    for (int sig : kCleanSignals)
        sigaddset(&clean, sig);
    pthread_sigmask(SIG_BLOCK, &clean, &old_mask_);
    InstallHandlersOnce();  // before the first name: a signal then would leave it
    ++g_naming;
    allowed_ = !g_cleaning.load();
}

NamingFile::~NamingFile() {
    --g_naming;
    pthread_sigmask(SIG_SETMASK, &old_mask_, nullptr);
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

// ---- Leftovers of killed runs ---------------------------------------------------------------
// A named temporary file is ".NAME.tmp-HOST-PID.XXXXXX": HOST a hash of this machine's name
// (a folder may be shared between machines, whose process ids say nothing here), PID the
// process that made it. Only SIGKILL or a crash leaves one behind; the first file this process
// writes into a folder removes those of this machine and user whose process is gone.

constexpr char kTagStart[] = ".tmp-";

// "tmp-HOST-PID" of this process (HOST: 8 hex digits).
std::string Tag() {
    static const std::string host = [] {
        char name[256] = "";
        gethostname(name, sizeof name - 1);
        std::uint32_t hash = 2166136261u;  // FNV-1a
        for (const char* c = name; *c; ++c)
            hash = (hash ^ static_cast<unsigned char>(*c)) * 16777619u;
        char hex[9];
        std::snprintf(hex, sizeof hex, "%08x", hash);
        return std::string(hex);
    }();
    return std::string(kTagStart + 1) + host + "-" + std::to_string(getpid());
}

// The process id in `name` when it is a temporary file's name made on this machine; else 0.
pid_t LeftoverPid(const std::string& name) {
    const std::size_t tag = name.rfind(kTagStart);
    const std::string own = Tag();
    const std::size_t host_end = own.find('-', 4) + 1;  // "tmp-HOST-"
    if (name.size() < 8 || name[0] != '.' || tag == std::string::npos || tag == 0 ||
        name.compare(tag + 1, host_end, own, 0, host_end) != 0 || name[name.size() - 7] != '.')
        return 0;
    const std::string pid = name.substr(tag + 1 + host_end, name.size() - 7 - tag - 1 - host_end);
    if (pid.empty() || pid.size() > 9 || pid.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    return static_cast<pid_t>(std::stol(pid));
}

// Removes, once per folder and process, the temporary files in `dir` that a process of this
// user on this machine left when it was killed: never a live process's, never another name.
void RemoveLeftoversOnce(const std::string& dir) {
    static std::mutex lock;
    static std::set<std::string> swept;
    {
        const std::lock_guard guard(lock);
        if (!swept.insert(dir).second) return;
    }
    DIR* folder = opendir(dir.c_str());
    if (!folder) return;
    while (const dirent* entry = readdir(folder)) {
        const pid_t pid = LeftoverPid(entry->d_name);
        struct stat st {};
        if (pid <= 0 || pid == getpid() || (kill(pid, 0) == 0 || errno != ESRCH) ||
            fstatat(dirfd(folder), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(st.st_mode) || st.st_uid != geteuid())
            continue;
        unlinkat(dirfd(folder), entry->d_name, 0);
    }
    closedir(folder);
}

constexpr char kUnnamedPrefix[] = "/proc/self/fd/";

}  // namespace

bool IsUnnamedScratch(const std::string& path) {
    return path.rfind(kUnnamedPrefix, 0) == 0;
}

ScratchFile::ScratchFile(const std::string& beside) {
    const std::string dir = FolderOf(beside);
    RemoveLeftoversOnce(dir);
#ifdef O_TMPFILE
    if (ProcFdWorks()) fd_ = open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd_ >= 0) {
        path_ = kUnnamedPrefix + std::to_string(fd_);
        return;
    }
#endif
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
    if (fd_ >= 0) {
        close(fd_);  // an unnamed file: its blocks are freed with its last descriptor
        fd_ = -1;
    } else if (!path_.empty()) {
        unlink(path_.c_str());
        Unregister(path_);
    }
    path_.clear();
}

std::string TemporaryName(const std::string& target_name, std::size_t limit) {
    const std::string tag = Tag();
    const std::size_t extra = tag.size() + 9;  // the dots and "XXXXXX"
    std::string name = target_name;
    const std::size_t room = limit > extra ? limit - extra : 0;
    if (name.size() > room) {
        std::size_t cut = room;
        // Do not leave half a UTF-8 sequence at the end.
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
            --cut;
        name.resize(cut);
    }
    return "." + name + "." + tag + ".XXXXXX";
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
    if (IsUnnamedScratch(target_)) {  // a scratch file, written in place: it has no name
        fd_ = open(target_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (fd_ < 0) Fail("cannot create", errno);
        direct_ = synced_ = fd_ >= 0;
        return;
    }
    RemoveLeftoversOnce(dir_);
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
    if (direct_) return true;
    struct stat existing {};
    if (lstat(target_.c_str(), &existing) == 0 && fdatasync(fd_) != 0)
        return Fail("cannot write", errno);
    synced_ = true;
    return true;
}

bool SafeFile::Commit() {
    if (!ok() || fd_ < 0) return false;
    if (direct_) {
        const int closed = close(fd_);
        fd_ = -1;
        committed_ = closed == 0;
        return closed == 0 || Fail("cannot write", errno);
    }
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
