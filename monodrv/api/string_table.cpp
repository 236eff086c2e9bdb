#include "monodrv/api/string_table.h"

#include <algorithm>
#include <cstring>

namespace monodrv {
namespace {

struct StringEntry {
    std::uint32_t id;
    const char* text;
};

// Ids 130, 131, 133 and 134 do not exist; callers rely on loading them failing.
constexpr StringEntry kStrings[] = {
    {48, "2.5.8.1"},
    {49, "2.5.8.1"},
    {100, "Spex"},
    {101, "ISA"},
    {102, "JY"},
    {103, "270M"},
    {104, "Spex232 Retrofit"},
    {112, "Entrance"},
    {113, "Exit"},
    {114, "Front (Axial)"},
    {115, "Side (Lateral)"},
    {116, "Front (Axial) Entrance"},
    {117, "Side (Lateral) Entrance"},
    {118, "Front (Axial) Exit"},
    {119, "Side (Lateral) Exit"},
    {122, "mm"},
    {123, "Steps/sec"},
    {124, "Steps/sec"},
    {125, "ms"},
    {126, "Min Freq."},
    {127, "Max Freq."},
    {128, "Ramp Time"},
    {129, "Steps/sec"},
    {132, "Freq."},
    {135, "Steps/mm"},
    {136, "Steps/nm"},
    {137, "TRIAX 180"},
    {138, "TRIAX 190"},
    {139, "TRIAX 320"},
};

}  // namespace

const char* FindString(std::uint32_t id) {
    for (const auto& entry : kStrings)
        if (entry.id == id) return entry.text;
    return nullptr;
}

int LoadString(std::uint32_t id, char* buffer, int size) {
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

void BoundedCopy(char* buffer, const char* text, int size) {
    if (!buffer || size <= 0) return;
    std::strncpy(buffer, text ? text : "", static_cast<std::size_t>(size));
}

}  // namespace monodrv
