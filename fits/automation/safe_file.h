// Writing a file so that nothing is ever half-replaced: the bytes go to a temporary file in
// the target's folder, which becomes the target only when complete. Serves FITS files and
// saved headers alike.
#pragma once

#include <signal.h>

#include <cstdint>
#include <string>

#include "fits/automation/result.h"

namespace fits {

// One file being written. Where the file system supports it, the temporary file has no name
// at all (O_TMPFILE) until Commit links it in, so that even SIGKILL leaves nothing behind;
// elsewhere it is a hidden name beside the target, kept within the file system's name limit
// and removed on failure, on destruction and on SIGINT, SIGTERM and SIGHUP.
// A target that exists as anything but a regular file or a symbolic link is refused, and so is
// a file the user may not write (as a shell redirection would refuse it).
class SafeFile {
  public:
    enum class Temporary { kUnnamedWhereSupported, kNamed };
    // `temporary`: kNamed forces the named scheme (for tests of the fallback).
    explicit SafeFile(std::string target, Temporary temporary = Temporary::kUnnamedWhereSupported);
    ~SafeFile();
    SafeFile(const SafeFile&) = delete;
    SafeFile& operator=(const SafeFile&) = delete;

    // Empty while everything went well; else the first failure, naming the target.
    const std::string& error() const { return error_; }
    bool ok() const { return error_.empty(); }

    // Writes all n bytes (retrying short writes); records a failure.
    bool Write(const void* data, std::size_t n);
    // When the target exists, writes the new content through to the disk now: the wait that
    // Commit would otherwise begin with, so that a caller can wait elsewhere (beside a window
    // that keeps painting). Call it on a complete file, then Commit; false on failure.
    bool SyncIfReplacing();
    // Makes the complete file the target, replacing an existing one. A new file gets a new
    // file's permissions (0666 less the umask); a replaced one keeps its permission bits and,
    // where allowed, its group.
    bool Commit();

  private:
    bool Fail(const std::string& what, int error);
    bool LinkUnnamed();

    std::string target_, dir_, temp_;  // temp_: the hidden name, when one exists
    std::string error_;
    int fd_ = -1;
    bool unnamed_ = false;
    bool direct_ = false;  // writing into an unnamed scratch file in place
    bool committed_ = false;
    bool synced_ = false;
};

// A file beside `beside` for intermediate bytes, created empty (mode 0600) and gone when this
// is destroyed. Where the file system supports it, the file has no name at all (O_TMPFILE), so
// that even SIGKILL leaves nothing behind: path() is then "/proc/self/fd/N", which opens it
// (and a SafeFile on it writes it in place) while this lives. Elsewhere it is a hidden name
// removed on SIGINT, SIGTERM and SIGHUP like every temporary file here, and after SIGKILL by
// the next run that writes into the folder (see TemporaryName).
class ScratchFile {
  public:
    explicit ScratchFile(const std::string& beside);
    ~ScratchFile();
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    const std::string& path() const { return path_; }
    // Removes the file now rather than at destruction (freeing a large file's blocks takes a
    // while; a caller may choose where); the path is empty afterwards.
    void Remove();

  private:
    std::string path_, error_;
    int fd_ = -1;  // the unnamed file's descriptor
};

// Whether `path` is an unnamed ScratchFile's path().
bool IsUnnamedScratch(const std::string& path);

// Held while this thread gives a temporary file a name, until the name is registered for
// clean-up (or a file is moved onto a registered name): the clean-up on a signal waits for
// every other thread's to end, so that no name appears after it has removed them; the
// clean-up's signals wait on this thread until then. Once the clean-up has begun no name may
// be given (allowed() is false).
class NamingFile {
  public:
    NamingFile();
    ~NamingFile();
    NamingFile(const NamingFile&) = delete;
    NamingFile& operator=(const NamingFile&) = delete;
    bool allowed() const { return allowed_; }

  private:
    bool allowed_ = true;
    sigset_t old_mask_;  // the signals blocked before
};

// A name for a temporary file beside `target`: ".NAME.tmp-HOST-PID.XXXXXX" with NAME shortened
// so that the whole stays within `limit` bytes (the folder's longest file name); HOST (a hash
// of the machine's name) and PID (this process) let a later run on this machine tell a
// killed run's leftovers, which the first file it writes into the folder removes, from a live
// run's files, which it never touches.
std::string TemporaryName(const std::string& target_name, std::size_t limit);

}  // namespace fits
