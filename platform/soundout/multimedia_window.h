#pragma once
// The hidden multimedia window: an opaque handle the output service takes for its cooperative
// level (SoundDevice::setCooperativeLevel). Linux's sound output needs no window, so none is made;
// the handle is a fixed token. Main thread only.

#include <cstdint>

namespace lunadio::soundout {

// 1 once the window exists (made now or earlier), 0 when it could not be made.
int ensureMultimediaWindow();
// The handle the sound device passes on; 0 before a successful ensureMultimediaWindow().
std::uintptr_t multimediaWindowHandle();

}  // namespace lunadio::soundout
