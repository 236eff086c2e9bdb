// C streams closed when they go out of scope, and the system's reason for a failed call.
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace fits {

struct FileCloser {
    void operator()(std::FILE* file) const {
        if (file) std::fclose(file);
    }
};

// An open stream (or null), closed when the owner goes; a read stream's close cannot fail
// in a way worth reporting, a written one is closed by its writer with the result checked.
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// The system's reason for the last failed call (errno), such as "No such file or directory".
inline std::string SystemReason() {
    return std::strerror(errno);
}

}  // namespace fits
