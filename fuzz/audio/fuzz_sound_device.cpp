#include "fuzz/audio/fuzz_sound_device.h"

#include <cstdio>
#include <memory>

#include "audio/decoders/sound_decoder.h"
#include "audio/sound_device.h"
#include "platform/soundout/memory_output.h"

namespace lunadio::fuzz {

void startSoundOnce() {
  static const bool started = [] {
    std::freopen("/dev/null", "w", stdout);
    setSoundServiceOpener([](std::unique_ptr<soundout::SoundDevice>& device) {
      return soundout::createSoundDevice(std::make_shared<soundout::MemoryOutput>(), device);
    });
    useVorbisDecoder();
    useFlacDecoder();
    return initSound() != 0;
  }();
  if (!started) __builtin_trap();
}

}  // namespace lunadio::fuzz
