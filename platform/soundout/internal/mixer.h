#pragma once
// The mixer of the output service (internal to platform/soundout).
//
// Every buffer is a Voice linked into the mixer. render() mixes all playing voices into float
// stereo at the output rate: each voice is read from its own cursor, converted to stereo,
// resampled with libsamplerate when its frequency differs from the output rate, gained and panned
// (gain changes ramp over one block), summed, and clipped to [-1, 1]. A voice at the output rate
// with neutral volume and pan is copied through unchanged (bit-exact).
//
// Locking: one mutex, mutex_, guards the voice list and every voice's play state. Buffer operations
// hold it for a few instructions (never while allocating). render() holds it for a whole block, so
// unlinking a voice waits for the block being mixed, which makes releasing a playing buffer safe;
// but render() itself only tries the lock for a bounded spin and writes silence (an underrun) when
// it cannot have it. Lock order: activityMutex_ before mutex_.
//
// A buffer that stops or is released while it is heard is not cut: the next few milliseconds of it
// are rendered at once (under the lock, on the caller's thread) into a tail that the mixer fades
// out, so stopping, pausing or replacing a playing sound does not click. The buffer's own cursor
// and resampler are left as they were, so a resume continues exactly where it stopped.

#include "platform/soundout/internal/access.h"
//
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/soundout/internal/sample_reader.h"
#include "platform/soundout/sound_output.h"

namespace lunadio::soundout {

class Resampler;

// How a playing voice is read: straight from its memory, or through its resampler.
enum class ReadPath { Direct, Resampled };

struct Voice {
  Voice();
  ~Voice();

  // -- fixed after creation
  std::shared_ptr<SampleMemory> memory;
  WaveFormat format;
  SampleLayout layout;
  std::uint32_t flags = 0;
  std::uint32_t bufferBytes = 0;
  std::uint32_t frames = 0;
  bool primary = false;

  // -- guarded by Mixer::mutex_
  Voice* prev = nullptr;
  Voice* next = nullptr;
  bool linked = false;
  bool playing = false;
  bool looping = false;
  std::uint32_t cursorFrames = 0;  // next frame to read; equals frames once a one-shot play ended
  std::int32_t volume = 0;         // 1/100 dB
  std::int32_t pan = 0;            // 1/100 dB
  std::uint32_t frequencyHz = 0;   // 0: the buffer's own rate
  float targetLeft = 1.0f;         // gains from volume and pan
  float targetRight = 1.0f;
  float gainLeft = 1.0f;  // where the last block's ramp ended
  float gainRight = 1.0f;
  ReadPath path = ReadPath::Direct;
  std::unique_ptr<Resampler> resampler;  // made and dropped outside render()
  bool resetPending = false;             // start the resampler afresh at the cursor
  bool primePending = false;             // ...and feed it the frames before the cursor first
  bool draining = false;                 // one-shot input ended; emptying the resampler

  std::uint32_t rateHz() const { return frequencyHz ? frequencyHz : format.samplesPerSec; }
};

class Mixer {
 public:
  using Guard = std::lock_guard<std::mutex>;

  Mixer(std::uint32_t outputRateHz, std::uint32_t blockFrames);
  ~Mixer();
  Mixer(const Mixer&) = delete;
  Mixer& operator=(const Mixer&) = delete;

  std::uint32_t outputRateHz() const { return outputRateHz_; }
  std::uint32_t blockFrames() const { return blockFrames_; }

  // The backend's thread: mixes `frames` frames of interleaved stereo into `stereo`.
  void render(float* stereo, std::size_t frames) noexcept;

  // Everything below: any thread but the backend's.
  std::mutex& mutex() { return mutex_; }
  void link(const Guard&, Voice& voice);
  void unlink(const Guard&, Voice& voice);
  // Play state changes, with the lock held.
  void play(const Guard&, Voice& voice, PlayMode mode);
  void stop(const Guard&, Voice& voice);
  void setPosition(const Guard&, Voice& voice, std::uint32_t frame);
  void setFrequency(const Guard&, Voice& voice, std::uint32_t hz);
  void setGains(const Guard&, Voice& voice);
  // True when `voice` would read through a resampler at `hz` and has none yet: make one (outside
  // the lock) and hand it over with installResampler.
  bool needsResampler(const Guard&, const Voice& voice, std::uint32_t hz) const;
  void installResampler(const Guard&, Voice& voice, std::unique_ptr<Resampler>& resampler);

  // Tells the backend whether anything plays (pauses a real device when nothing does).
  void setActivityHook(std::function<void(bool)> hook);
  void updateActivity();

  MixerStats stats() const;
  std::int64_t markPlayStart();

 private:
  bool tryLockBriefly(std::unique_lock<std::mutex>& lock) noexcept;
  // The helpers of render() run with mutex_ held by render().
  void mixBlock(float* stereo, std::size_t frames) noexcept;
  std::size_t produce(Voice& voice, float* stereo, std::size_t frames) noexcept;
  std::size_t produceDirect(Voice& voice, float* stereo, std::size_t frames) noexcept;
  std::size_t produceResampled(Voice& voice, float* stereo, std::size_t frames) noexcept;
  void prime(Voice& voice, double ratio) noexcept;
  std::size_t readAhead(const Voice& voice, std::uint32_t cursor, std::size_t frames,
                        float* stereo) const noexcept;
  void advance(Voice& voice, std::size_t frames) noexcept;
  double ratioFor(const Voice& voice) const;
  void captureTail(Voice& voice) noexcept;
  void mixTails(float* out, std::size_t frames) noexcept;

  static constexpr std::size_t kTailFrames = 256;
  struct Tail {
    std::array<float, 2 * kTailFrames> samples{};
    float gainLeft = 0.0f;
    float gainRight = 0.0f;
    std::size_t frames = 0;  // 0: the slot is free
    std::size_t done = 0;
  };

  // -- fixed after construction
  const std::uint32_t outputRateHz_;
  const std::uint32_t blockFrames_;

  std::mutex mutex_;
  Voice* head_ = nullptr;  // -- guarded by mutex_
  // Scratch of render(), sized once here. -- guarded by mutex_ (render holds it)
  std::vector<float> voiceScratch_;
  std::vector<float> inputScratch_;
  std::vector<float> discardScratch_;
  std::array<Tail, 8> tails_;  // -- guarded by mutex_

  std::mutex activityMutex_;
  std::function<void(bool)> activityHook_;  // -- guarded by activityMutex_
  int reportedActive_ = -1;                 // -- guarded by activityMutex_

  std::atomic<std::uint64_t> blocks_{0};
  std::atomic<std::uint64_t> underruns_{0};
  std::atomic<bool> waitingForAudible_{false};
  std::atomic<std::int64_t> firstAudibleNs_{0};
};

}  // namespace lunadio::soundout
