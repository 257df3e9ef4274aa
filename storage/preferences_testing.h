#pragma once
// Fault injection for the preference file's save (tests only).

#include <cstdint>

namespace lunadio {

// From now on, every save fails once `bytes` bytes of the new text have been written, as a full
// disk would make it. A negative value ends the fault.
void failPreferenceSavesAfterBytes(std::int64_t bytes);

}  // namespace lunadio
