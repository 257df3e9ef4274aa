#pragma once
// An output device on the memory backend and buffers made from plain sample vectors.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "platform/soundout/memory_output.h"
#include "platform/soundout/sound_output.h"

namespace lunadio::soundout::testing {

// Polls until `condition` holds; the bound only keeps a broken backend from hanging the run.
inline bool within(std::chrono::milliseconds bound, const std::function<bool()>& condition) {
  const auto giveUp = std::chrono::steady_clock::now() + bound;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= giveUp) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

struct MemoryDevice {
  explicit MemoryDevice(std::uint32_t rateHz = 48000, std::uint32_t blockFrames = 512) {
    MemoryOutputOptions options;
    options.rateHz = rateHz;
    options.blockFrames = blockFrames;
    output = std::make_shared<MemoryOutput>(options);
    EXPECT_EQ(createSoundDevice(output, device), kOk);
  }

  std::unique_ptr<SoundBuffer> buffer(const WaveFormat& format, std::vector<std::uint8_t> bytes) {
    BufferDesc desc;
    desc.flags = kSoundBufferFlags;
    desc.bufferBytes = static_cast<std::uint32_t>(bytes.size());
    desc.format = &format;
    desc.memory = SampleMemory::adopt(std::move(bytes));
    std::unique_ptr<SoundBuffer> made;
    EXPECT_EQ(device->createBuffer(desc, made), kOk);
    return made;
  }

  std::unique_ptr<SoundBuffer> pcm16(std::vector<std::int16_t> samples, std::uint16_t channels,
                                     std::uint32_t rateHz) {
    std::vector<std::uint8_t> bytes(samples.size() * 2);
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    return buffer(pcm16Format(channels, rateHz), std::move(bytes));
  }

  std::vector<float> render(std::size_t frames) { return output->render(frames); }

  std::shared_ptr<MemoryOutput> output;
  std::unique_ptr<SoundDevice> device;
};

// A looping-friendly stereo sine of `frames` frames at `toneHz` for `rateHz`, amplitude in 16-bit
// units.
inline std::vector<std::int16_t> sine16(std::size_t frames, double toneHz, std::uint32_t rateHz,
                                        double amplitude = 16000.0) {
  std::vector<std::int16_t> samples(frames * 2);
  for (std::size_t f = 0; f < frames; ++f) {
    const auto v = static_cast<std::int16_t>(
        std::lround(amplitude * std::sin(2.0 * M_PI * toneHz * static_cast<double>(f) / rateHz)));
    samples[2 * f] = samples[2 * f + 1] = v;
  }
  return samples;
}

// Largest jump between neighbouring left samples of an interleaved stereo render.
inline float largestStep(const std::vector<float>& stereo, std::size_t fromFrame = 1) {
  float largest = 0.0f;
  for (std::size_t f = std::max<std::size_t>(fromFrame, 1); f < stereo.size() / 2; ++f) {
    largest = std::max(largest, std::fabs(stereo[2 * f] - stereo[2 * f - 2]));
  }
  return largest;
}

// Renders blocks on a thread of its own, as the audio callback would, until destroyed.
class MixerThread {
 public:
  explicit MixerThread(std::function<void()> renderBlock)
      : thread_([this, render = std::move(renderBlock)] {
          while (!done_.load()) {
            render();
            ++blocks_;
          }
        }) {}
  ~MixerThread() {
    done_ = true;
    thread_.join();
  }
  // Returns once at least one more block has been rendered, so the caller really overlaps it.
  void waitForABlock() const {
    const int seen = blocks_.load();
    while (blocks_.load() == seen) std::this_thread::yield();
  }

 private:
  std::atomic<bool> done_{false};
  std::atomic<int> blocks_{0};
  std::thread thread_;
};

}  // namespace lunadio::soundout::testing
