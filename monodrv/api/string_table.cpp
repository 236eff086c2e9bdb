#include "monodrv/api/string_table.h"

#ifdef _WIN32
#include <windows.h>

#include "monodrv/api/library.h"
#endif

#include <algorithm>
#include <cstring>

namespace monodrv {
namespace {

struct StringEntry {
    std::uint32_t id;
    const char* text;
};

constexpr StringEntry kStrings[] = {
#define MONODRV_STRING(id, text) {id, text},
#include "monodrv/api/strings.inc"
#undef MONODRV_STRING
};

}  // namespace

const char* FindString(std::uint32_t id) {
    for (const auto& entry : kStrings)
        if (entry.id == id) return entry.text;
    return nullptr;
}

#ifdef _WIN32
// The Windows build loads the texts from its string resource, as the system tools see them.
int LoadResourceString(std::uint32_t id, char* buffer, int size) {
    if (!buffer || size < 1) return 0;
    return LoadStringA(static_cast<HINSTANCE>(ModuleHandle()), id, buffer, size);
}
#else
int LoadResourceString(std::uint32_t id, char* buffer, int size) {
    const char* text = FindString(id);
    if (!buffer || size < 1) return 0;
    if (!text) {
        buffer[0] = '\0';
        return 0;
    }
    std::size_t n = std::min<std::size_t>(std::strlen(text), static_cast<std::size_t>(size - 1));
    std::memcpy(buffer, text, n);
    buffer[n] = '\0';
    return static_cast<int>(n);
}

#endif

void BoundedCopy(char* buffer, const char* text, int size) {
    if (!buffer || size <= 0) return;
    std::strncpy(buffer, text ? text : "", static_cast<std::size_t>(size));
}

}  // namespace monodrv
