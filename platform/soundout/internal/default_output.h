#pragma once
// How the default output is chosen (internal to platform/soundout; tests replace the fallback).
#include <functional>
#include <memory>

#include "platform/soundout/backend.h"
#include "platform/soundout/internal/access.h"

namespace lunadio::soundout {

// The sound server's own backend, unless SDL_AUDIODRIVER names one of SDL's drivers; where no
// server answers in time, `fallback`'s backend.
Result createDefaultSoundDevice(const std::function<std::shared_ptr<Backend>()>& fallback,
                                std::unique_ptr<SoundDevice>& device);

}  // namespace lunadio::soundout
