// Hostile formats, controls and sample bytes through the output service and its mixer: every
// rendered sample must stay finite and within full scale.
#include <cstring>
#include <memory>
#include <vector>
#include "platform/soundout/memory_output.h"
#include "platform/soundout/sound_output.h"
using namespace lunadio::soundout;
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 52) return 0;
  auto format = parseWaveFormat(std::span<const std::uint8_t>(data, 40));
  if (!format) return 0;
  std::uint32_t hz;
  std::int16_t vol, pan;
  std::uint16_t pos;
  std::memcpy(&hz, data + 40, 4);
  std::memcpy(&vol, data + 44, 2);
  std::memcpy(&pan, data + 46, 2);
  std::memcpy(&pos, data + 48, 2);
  const bool loop = data[50] & 1;
  const std::uint32_t outHz = (data[51] & 1) ? 44100 : 48000;
  std::vector<std::uint8_t> bytes(data + 52, data + size);
  static auto output = std::make_shared<MemoryOutput>(MemoryOutputOptions{outHz, 256});
  static std::unique_ptr<SoundDevice> device;
  if (!device) createSoundDevice(output, device);
  BufferDesc desc;
  desc.flags = kSoundBufferFlags;
  desc.bufferBytes = static_cast<std::uint32_t>(bytes.size());
  desc.format = &*format;
  desc.memory = SampleMemory::adopt(std::move(bytes));
  std::unique_ptr<SoundBuffer> buffer;
  if (device->createBuffer(desc, buffer) != kOk) return 0;
  buffer->setFrequency(hz % 400000);
  buffer->setVolume(vol);
  buffer->setPan(pan);
  buffer->play(loop ? PlayMode::Looping : PlayMode::Once);
  output->render(700);
  buffer->setCurrentPosition(pos);
  buffer->setFrequency((hz >> 7) % 400000);
  std::unique_ptr<SoundBuffer> copy;
  device->duplicateBuffer(*buffer, copy);
  if (copy) copy->play(PlayMode::Looping);
  auto out = output->render(900);
  for (float s : out)
    if (!(s >= -1.0f && s <= 1.0f)) __builtin_trap();
  LockedRegion region;
  if (buffer->lock(pos, hz % 5000, region) == kOk) {
    std::memset(region.part1, 0x7f, region.bytes1);
    if (region.part2) std::memset(region.part2, 0x80, region.bytes2);
    buffer->unlock(region);
  }
  output->render(300);
  return 0;
}
