#include "monodrv/api/library.h"

namespace monodrv {
namespace {

// Runs at library attach and detach (the shared library's constructor and destructor).
struct LibraryLifetime {
    LibraryLifetime() { AttachPortLibrary("Corvane"); }
    ~LibraryLifetime() { DetachPortLibrary(); }
};

const LibraryLifetime kLifetime;

}  // namespace
}  // namespace monodrv
