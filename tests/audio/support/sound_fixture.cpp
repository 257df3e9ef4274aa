#include "tests/audio/support/sound_fixture.h"

namespace lunadio::testing {

MemorySoundDevice::MemorySoundDevice(soundout::MemoryOutputOptions options)
    : output_(std::make_shared<soundout::MemoryOutput>(options)) {
  resetSoundDeviceForTests();
  setSoundServiceOpener([output = output_](std::unique_ptr<soundout::SoundDevice>& device) {
    return soundout::createSoundDevice(output, device);
  });
  started_ = initSound();
}

MemorySoundDevice::~MemorySoundDevice() {
  resetSoundDeviceForTests();
  setSoundServiceOpener({});
}

std::optional<ObjectNumber> installPcm16(ObjectNumber number, std::vector<std::int16_t> pcm,
                                         int channels, std::uint32_t rateHz) {
  const soundout::WaveFormat format =
      soundout::pcm16Format(static_cast<std::uint16_t>(channels), rateHz);
  const auto bytes = static_cast<std::uint32_t>(pcm.size() * sizeof(std::int16_t));
  auto buffer = createStaticBuffer(format, bytes, soundout::SampleMemory::adopt(std::move(pcm)));
  if (!buffer) return std::nullopt;
  return installStaticSound(number, std::move(buffer));
}

}  // namespace lunadio::testing
