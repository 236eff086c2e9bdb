// The driver's string resources, by id, and the bounded copies texts leave the driver by.
#pragma once

#include <cstdint>

namespace monodrv {

// The resource text for `id`, or null when there is none.
const char* FindString(std::uint32_t id);
// Loads string `id` into the buffer: at most size - 1 characters and a terminating zero.
// Returns the number of characters copied (0 when the id does not exist, the buffer is null
// or size < 1).
int LoadResourceString(std::uint32_t id, char* buffer, int size);
// The bounded copy: copies up to `size` characters of `text` and pads the rest of the buffer
// with zeros; a text as long as `size` is not terminated. Nothing is written for size <= 0.
void BoundedCopy(char* buffer, const char* text, int size);

}  // namespace monodrv
