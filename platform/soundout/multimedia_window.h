#pragma once
// The hidden multimedia window: an opaque handle some sound services want for their cooperative
// level. Linux's sound output needs no window, so none is made; the handle is a fixed token.
// Main thread only.

#include <cstdint>

namespace lunadio {

// 1 once the window exists (made now or earlier), 0 when it could not be made.
int ensureMultimediaWindow();
// The handle the sound device passes on; 0 before a successful ensureMultimediaWindow().
std::uintptr_t multimediaWindowHandle();

}  // namespace lunadio
