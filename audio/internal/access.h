#pragma once
// Headers under audio/internal/ belong to the audio engine and its own tests and benchmarks: the
// targets that may include them define LUNADIO_AUDIO_INTERNAL (see audio/CMakeLists.txt). Anything
// else, app/ first, goes through audio/sound.h, audio/sound_loader.h and audio/sound_device.h.
#ifndef LUNADIO_AUDIO_INTERNAL
#error "audio/internal/ is private to the audio engine: use audio/sound.h"
#endif
