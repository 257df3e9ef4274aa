#pragma once
// A sound device on the memory output for audio tests: initSound runs against it, and render()
// mixes what the sounds play, so tests assert on samples.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "audio/internal/sound_buffers.h"
#include "audio/internal/sound_record.h"
#include "audio/sound.h"
#include "audio/sound_device.h"
#include "platform/soundout/memory_output.h"

namespace lunadio::testing {

class MemorySoundDevice {
 public:
  explicit MemorySoundDevice(soundout::MemoryOutputOptions options = {});
  ~MemorySoundDevice();  // frees every sound and forgets the device

  // initSound's result.
  std::intptr_t started() const { return started_; }
  soundout::MemoryOutput& output() { return *output_; }
  std::vector<float> render(std::size_t frames) { return output_->render(frames); }

 private:
  std::shared_ptr<soundout::MemoryOutput> output_;
  std::intptr_t started_ = 0;
};

// Interleaved 16-bit PCM of `frames` frames where sample (frame, channel) = value(frame, channel).
template <class Value>
std::vector<std::int16_t> makePcm16(std::size_t frames, int channels, Value value) {
  std::vector<std::int16_t> pcm(frames * static_cast<std::size_t>(channels));
  for (std::size_t f = 0; f < frames; ++f) {
    for (int c = 0; c < channels; ++c) pcm[f * channels + c] = value(f, c);
  }
  return pcm;
}

// Loads 16-bit PCM as a sound under `number` the way the loader does; returns installStaticSound's
// result (or nullopt).
std::optional<ObjectNumber> installPcm16(ObjectNumber number, std::vector<std::int16_t> pcm,
                                         int channels, std::uint32_t rateHz);

}  // namespace lunadio::testing
