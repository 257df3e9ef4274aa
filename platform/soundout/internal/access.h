#pragma once
// Headers under platform/soundout/internal/ belong to the output service and its own tests: the
// targets that may include them define LUNADIO_SOUNDOUT_INTERNAL
// (platform/soundout/CMakeLists.txt). Everything else goes through sound_output.h (and a backend's
// header).
#ifndef LUNADIO_SOUNDOUT_INTERNAL
#error "platform/soundout/internal/ is private to the output service: use sound_output.h"
#endif
