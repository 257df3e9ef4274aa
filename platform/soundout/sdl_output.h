#pragma once
// The real output: SDL2 audio on the default device at its preferred rate, float stereo. SDL picks
// PipeWire, PulseAudio, ALSA or JACK; SDL_AUDIODRIVER=dummy or disk runs headless. The device is
// paused while no buffer plays. The mixer runs in SDL's audio callback.

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/soundout/backend.h"

namespace lunadio::soundout {

class SdlOutput final : public Backend {
 public:
  SdlOutput() = default;
  ~SdlOutput() override;

  Result open(OutputSpec& spec) override;
  void start(std::shared_ptr<Mixer> mixer) override;
  void setActive(bool active) override;
  void close() override;

 private:
  static void callback(void* self, std::uint8_t* stream, int bytes);

  std::uint32_t deviceId_ = 0;      // -- owner thread only
  bool subsystemStarted_ = false;   // -- owner thread only
  bool paused_ = true;              // -- owner thread only
  // Read by the callback; set before the device is unpaused, cleared after it is closed.
  std::atomic<Mixer*> mixer_{nullptr};
  std::shared_ptr<Mixer> mixerOwner_;  // -- owner thread only
};

}  // namespace lunadio::soundout
