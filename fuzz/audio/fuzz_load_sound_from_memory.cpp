// Any image handed to loadSoundFromMemory: 0 or a sound, never a crash, hang or read outside it.
// A failed load must leave the sound already under the number in place.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "audio/sound.h"
#include "audio/sound_loader.h"
#include "fuzz/audio/fuzz_sound_device.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lunadio;
  fuzz::startSoundOnce();
  // A private copy so that any read past the end lands outside an allocation of exactly `size`.
  const std::vector<std::uint8_t> image(data, data + size);
  static const std::vector<std::int16_t> keeper(64, 1);
  static const std::vector<std::uint8_t> keeperWav = [] {
    std::vector<std::uint8_t> wav = {'R', 'I', 'F',  'F',  0,   0,   0,    0,    'W', 'A', 'V',
                                     'E', 'f', 'm',  't',  ' ', 16,  0,    0,    0,   1,   0,
                                     2,   0,   0x44, 0xAC, 0,   0,   0x10, 0xB1, 2,   0,   4,
                                     0,   16,  0,    'd',  'a', 't', 'a',  128,  0,   0,   0};
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(keeper.data());
    wav.insert(wav.end(), bytes, bytes + 128);
    return wav;
  }();
  if (!isSound(0)) loadSoundFromMemory(0, keeperWav.data(), keeperWav.size());

  const ObjectNumber loaded = loadSoundFromMemory(0, image.data(), image.size());
  if (!isSound(0)) __builtin_trap();  // a failed load lost the old sound
  if (loaded != 0) {
    if (getSoundLength(0) < 0) __builtin_trap();
    freeSound(0);
  }
  // The streamed path only opens here: the decoder is closed again when the sound is freed.
  if (loadSoundFromMemory(1, image.data(), image.size(), LoadStreamed) != 0) freeSound(1);
  return 0;
}
