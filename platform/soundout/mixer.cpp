#include "platform/soundout/internal/mixer.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "core/volume_curve.h"
#include "platform/soundout/resampler.h"

namespace lunadio::soundout {
namespace {

// Frames mixed per inner step; render() splits longer requests.
constexpr std::size_t kMaxStepFrames = 2048;
// A volume or pan change ramps over this many frames (some 11 ms): long enough never to click,
// short enough that a change is heard within the block that carries it, whatever its length.
constexpr std::size_t kRampFrames = 512;
// Frames of source read per resampler call (any ratio; long requests loop).
constexpr std::size_t kInputChunkFrames = 4096;
// How long render() spins for the lock before it gives the block up as an underrun. Holders keep
// the lock for a few instructions, so this is only reached when a holder was preempted.
constexpr int kLockSpinTries = 4000;
// Guard against a resampler that stops making progress.
constexpr int kMaxResamplerCalls = 256;

inline void cpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

float attenuationToGain(std::int32_t hundredthsDb) {
  return static_cast<float>(hundredthsDbToGain(hundredthsDb));
}

std::int64_t steadyNowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// History fed to a fresh resampler so that its filter starts on the real signal: a few filter
// lengths, wider when the filter widens (ratio below 1).
std::size_t primeFramesFor(double ratio) {
  const double frames = ratio >= 1.0 ? 64.0 : 64.0 / ratio;
  return std::min<std::size_t>(static_cast<std::size_t>(std::ceil(frames)), kInputChunkFrames / 2);
}

}  // namespace

Voice::Voice() = default;
Voice::~Voice() = default;

Mixer::Mixer(std::uint32_t outputRateHz, std::uint32_t blockFrames)
    : outputRateHz_(outputRateHz),
      blockFrames_(blockFrames),
      voiceScratch_(2 * kMaxStepFrames),
      inputScratch_(2 * kInputChunkFrames),
      discardScratch_(2 * kMaxStepFrames) {}

Mixer::~Mixer() = default;

bool Mixer::tryLockBriefly(std::unique_lock<std::mutex>& lock) noexcept {
  for (int i = 0; i < kLockSpinTries; ++i) {
    if (lock.try_lock()) return true;
    cpuRelax();
  }
  return false;
}

void Mixer::render(float* stereo, std::size_t frames) noexcept {
  blocks_.fetch_add(1, std::memory_order_relaxed);
  std::unique_lock<std::mutex> lock(mutex_, std::defer_lock);
  if (!tryLockBriefly(lock)) {
    std::fill(stereo, stereo + 2 * frames, 0.0f);
    underruns_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  for (std::size_t done = 0; done < frames;) {
    const std::size_t step = std::min(kMaxStepFrames, frames - done);
    mixBlock(stereo + 2 * done, step);
    done += step;
  }
  lock.unlock();
  if (waitingForAudible_.load(std::memory_order_relaxed)) {
    const bool audible =
        std::any_of(stereo, stereo + 2 * frames, [](float s) { return s != 0.0f; });
    if (audible && waitingForAudible_.exchange(false)) {
      firstAudibleNs_.store(steadyNowNs(), std::memory_order_relaxed);
    }
  }
}

void Mixer::mixBlock(float* out, std::size_t frames) noexcept {
  std::fill(out, out + 2 * frames, 0.0f);
  mixTails(out, frames);
  for (Voice* voice = head_; voice; voice = voice->next) {
    if (!voice->playing) continue;
    float* source = voiceScratch_.data();
    const std::size_t made = produce(*voice, source, frames);
    if (made == 0) continue;
    Voice& v = *voice;
    if (v.gainLeft == v.targetLeft && v.gainRight == v.targetRight) {
      if (v.gainLeft == 1.0f && v.gainRight == 1.0f) {
        for (std::size_t i = 0; i < 2 * made; ++i) out[i] += source[i];
      } else {
        for (std::size_t i = 0; i < made; ++i) {
          out[2 * i] += source[2 * i] * v.gainLeft;
          out[2 * i + 1] += source[2 * i + 1] * v.gainRight;
        }
      }
    } else {
      // A volume or pan change ramps at the start of this block instead of stepping.
      const std::size_t rampFrames = std::min(made, kRampFrames);
      const float stepLeft = (v.targetLeft - v.gainLeft) / static_cast<float>(rampFrames);
      const float stepRight = (v.targetRight - v.gainRight) / static_cast<float>(rampFrames);
      for (std::size_t i = 0; i < rampFrames; ++i) {
        const float k = static_cast<float>(i + 1);
        out[2 * i] += source[2 * i] * (v.gainLeft + stepLeft * k);
        out[2 * i + 1] += source[2 * i + 1] * (v.gainRight + stepRight * k);
      }
      for (std::size_t i = rampFrames; i < made; ++i) {
        out[2 * i] += source[2 * i] * v.targetLeft;
        out[2 * i + 1] += source[2 * i + 1] * v.targetRight;
      }
      v.gainLeft = v.targetLeft;
      v.gainRight = v.targetRight;
    }
  }
  // Clip; a NaN (which no input should produce) becomes silence rather than reaching the device.
  for (std::size_t i = 0; i < 2 * frames; ++i) {
    const float s = out[i];
    out[i] = s >= -1.0f ? (s <= 1.0f ? s : 1.0f) : (s < -1.0f ? -1.0f : 0.0f);
  }
}

std::size_t Mixer::produce(Voice& voice, float* stereo, std::size_t frames) noexcept {
  if (voice.path == ReadPath::Resampled && voice.resampler) {
    return produceResampled(voice, stereo, frames);
  }
  return produceDirect(voice, stereo, frames);
}

std::size_t Mixer::readAhead(const Voice& voice, std::uint32_t cursor, std::size_t frames,
                             float* stereo) const noexcept {
  const std::uint8_t* base = voice.memory->data();
  // A decode still filling the memory: the voice holds at its last final frame (the block plays
  // silence from there) until the decoder gets further.
  const auto readyFrames = static_cast<std::uint32_t>(
      std::min<std::size_t>(voice.frames, voice.memory->readyBytes() / voice.layout.blockAlign));
  std::size_t done = 0;
  while (done < frames) {
    if (cursor >= voice.frames) {
      if (!voice.looping) break;
      cursor = 0;
    }
    if (cursor >= readyFrames) break;
    const std::size_t take = std::min<std::size_t>(frames - done, readyFrames - cursor);
    convertToStereo(voice.layout, base + static_cast<std::size_t>(cursor) * voice.layout.blockAlign,
                    take, stereo + 2 * done);
    cursor += static_cast<std::uint32_t>(take);
    done += take;
  }
  return done;
}

void Mixer::advance(Voice& voice, std::size_t frames) noexcept {
  if (voice.looping) {
    voice.cursorFrames = static_cast<std::uint32_t>(
        (static_cast<std::uint64_t>(voice.cursorFrames) + frames) % voice.frames);
  } else {
    voice.cursorFrames = static_cast<std::uint32_t>(std::min<std::uint64_t>(
        static_cast<std::uint64_t>(voice.cursorFrames) + frames, voice.frames));
  }
}

std::size_t Mixer::produceDirect(Voice& voice, float* stereo, std::size_t frames) noexcept {
  if (!voice.looping && voice.cursorFrames >= voice.frames) {
    voice.playing = false;
    return 0;
  }
  const std::size_t made = readAhead(voice, voice.cursorFrames, frames, stereo);
  advance(voice, made);
  if (!voice.looping && voice.cursorFrames >= voice.frames) voice.playing = false;
  return made;
}

double Mixer::ratioFor(const Voice& voice) const {
  return Resampler::clampRatio(static_cast<double>(outputRateHz_) / voice.rateHz());
}

void Mixer::prime(Voice& voice, double ratio) noexcept {
  std::size_t history = primeFramesFor(ratio);
  history = voice.looping ? std::min<std::size_t>(history, voice.frames)
                          : std::min<std::size_t>(history, voice.cursorFrames);
  if (history == 0) return;
  // Start `history` frames back and drop the output that covers them. The frame played last sat
  // just before the cursor, so the first kept output must land one output step after it, at
  // history - 1 + 1/ratio from the start: the dropped part runs at the ratio that lands exactly
  // there (within a percent or so of the real one, which the resampler then glides to).
  voice.cursorFrames = static_cast<std::uint32_t>(
      (static_cast<std::uint64_t>(voice.cursorFrames) + voice.frames - history) % voice.frames);
  const double span = static_cast<double>(history) - 1.0 + 1.0 / ratio;
  const auto toDrop = std::max<std::size_t>(
      1, static_cast<std::size_t>(std::lround(static_cast<double>(history) * ratio)));
  const double primeRatio = Resampler::clampRatio(static_cast<double>(toDrop) / span);
  std::size_t dropped = 0;
  for (int calls = 0; dropped < toDrop && calls < kMaxResamplerCalls; ++calls) {
    const std::size_t outputWanted = std::min(toDrop - dropped, kMaxStepFrames);
    const std::size_t want = std::min(
        kInputChunkFrames, static_cast<std::size_t>(std::ceil(outputWanted / primeRatio)) + 4);
    const std::size_t got = readAhead(voice, voice.cursorFrames, want, inputScratch_.data());
    const Resampler::Step step = voice.resampler->process(
        inputScratch_.data(), got, discardScratch_.data(), outputWanted, primeRatio, false);
    advance(voice, step.inputUsed);
    dropped += step.outputMade;
    if (step.inputUsed == 0 && step.outputMade == 0) break;
  }
}

std::size_t Mixer::produceResampled(Voice& voice, float* stereo, std::size_t frames) noexcept {
  Resampler& resampler = *voice.resampler;
  const double ratio = ratioFor(voice);
  if (voice.resetPending) {
    resampler.reset();
    voice.resetPending = false;
    voice.draining = false;
    if (voice.primePending) prime(voice, ratio);
    voice.primePending = false;
  }
  std::size_t done = 0;
  for (int calls = 0; done < frames && calls < kMaxResamplerCalls; ++calls) {
    std::size_t got = 0;
    bool endOfInput = voice.draining;
    if (!voice.draining) {
      const std::size_t want = std::min(
          kInputChunkFrames, static_cast<std::size_t>(std::ceil((frames - done) / ratio)) + 4);
      got = readAhead(voice, voice.cursorFrames, want, inputScratch_.data());
      endOfInput = !voice.looping && voice.cursorFrames + got >= voice.frames;
    }
    const Resampler::Step step = resampler.process(inputScratch_.data(), got, stereo + 2 * done,
                                                   frames - done, ratio, endOfInput);
    advance(voice, step.inputUsed);
    done += step.outputMade;
    if (endOfInput && voice.cursorFrames >= voice.frames) voice.draining = true;
    if (step.inputUsed == 0 && step.outputMade == 0) {
      if (voice.draining) {
        // A one-shot play has given its last sample: it stops with its cursor at the end.
        voice.playing = false;
        voice.draining = false;
        voice.resetPending = true;
      }
      break;
    }
  }
  return done;
}

void Mixer::captureTail(Voice& voice) noexcept {
  if (!voice.playing || (voice.gainLeft == 0.0f && voice.gainRight == 0.0f)) return;
  Tail* slot = nullptr;
  for (Tail& tail : tails_) {
    if (tail.frames == 0) {
      slot = &tail;
      break;
    }
  }
  if (!slot) return;  // every slot fading: this one is cut as it is
  const std::uint32_t cursor = voice.cursorFrames;
  const std::size_t made = produce(voice, slot->samples.data(), kTailFrames);
  if (made == 0) return;
  slot->frames = made;
  slot->done = 0;
  slot->gainLeft = voice.gainLeft;
  slot->gainRight = voice.gainRight;
  // The tail was only heard ahead of time: the buffer keeps its place, and a resampled one picks
  // up again from the frames before it, as after a seek.
  voice.cursorFrames = cursor;
  voice.draining = false;
  if (voice.path == ReadPath::Resampled) {
    voice.resetPending = true;
    voice.primePending = true;
  }
}

void Mixer::mixTails(float* out, std::size_t frames) noexcept {
  for (Tail& tail : tails_) {
    if (tail.frames == 0) continue;
    const std::size_t count = std::min(frames, tail.frames - tail.done);
    const float length = static_cast<float>(tail.frames);
    for (std::size_t i = 0; i < count; ++i) {
      const std::size_t at = tail.done + i;
      const float fade = 1.0f - static_cast<float>(at + 1) / length;
      out[2 * i] += tail.samples[2 * at] * tail.gainLeft * fade;
      out[2 * i + 1] += tail.samples[2 * at + 1] * tail.gainRight * fade;
    }
    tail.done += count;
    if (tail.done >= tail.frames) tail.frames = 0;
  }
}

void Mixer::link(const Guard&, Voice& voice) {
  if (voice.linked) return;
  voice.prev = nullptr;
  voice.next = head_;
  if (head_) head_->prev = &voice;
  head_ = &voice;
  voice.linked = true;
}

void Mixer::unlink(const Guard&, Voice& voice) {
  if (!voice.linked) return;
  if (voice.prev) voice.prev->next = voice.next;
  if (voice.next) voice.next->prev = voice.prev;
  if (head_ == &voice) head_ = voice.next;
  voice.prev = voice.next = nullptr;
  voice.linked = false;
  captureTail(voice);
  voice.playing = false;
}

void Mixer::play(const Guard&, Voice& voice, PlayMode mode) {
  voice.looping = mode == PlayMode::Looping;
  if (voice.playing) return;
  if (voice.cursorFrames >= voice.frames) {
    voice.cursorFrames = 0;
    voice.resetPending = true;
    voice.primePending = false;
  }
  const bool resample = voice.rateHz() != outputRateHz_ && voice.resampler;
  if (resample && voice.path == ReadPath::Direct) {
    voice.path = ReadPath::Resampled;
    voice.resetPending = true;
    voice.primePending = voice.cursorFrames > 0;
  } else if (!resample) {
    voice.path = ReadPath::Direct;
  }
  if (voice.draining) {
    voice.draining = false;
    voice.resetPending = true;
  }
  // Starting from silence: no ramp from the gains of an earlier play.
  voice.gainLeft = voice.targetLeft;
  voice.gainRight = voice.targetRight;
  voice.playing = true;
}

void Mixer::stop(const Guard&, Voice& voice) {
  captureTail(voice);
  voice.playing = false;
  if (voice.draining) {
    voice.draining = false;
    voice.resetPending = true;
  }
}

void Mixer::setPosition(const Guard&, Voice& voice, std::uint32_t frame) {
  voice.cursorFrames = voice.looping && frame >= voice.frames ? 0 : frame;
  voice.draining = false;
  if (voice.path == ReadPath::Resampled) {
    voice.resetPending = true;
    voice.primePending = true;
  }
}

void Mixer::setFrequency(const Guard&, Voice& voice, std::uint32_t hz) {
  voice.frequencyHz = hz;
  if (voice.playing && voice.path == ReadPath::Direct && voice.rateHz() != outputRateHz_ &&
      voice.resampler) {
    // Leaving the pass-through mid-play: the resampler starts on the frames just played, so the
    // change of path is not heard.
    voice.path = ReadPath::Resampled;
    voice.resetPending = true;
    voice.primePending = true;
  }
}

void Mixer::setGains(const Guard&, Voice& voice) {
  const float level = attenuationToGain(voice.volume);
  const ChannelGains pan = balanceGains(voice.pan);
  voice.targetLeft = level * static_cast<float>(pan.left);
  voice.targetRight = level * static_cast<float>(pan.right);
  if (!voice.playing) {
    voice.gainLeft = voice.targetLeft;
    voice.gainRight = voice.targetRight;
  }
}

bool Mixer::needsResampler(const Guard&, const Voice& voice, std::uint32_t hz) const {
  const std::uint32_t rate = hz ? hz : voice.format.samplesPerSec;
  return rate != outputRateHz_ && !voice.resampler;
}

void Mixer::installResampler(const Guard&, Voice& voice, std::unique_ptr<Resampler>& resampler) {
  if (!voice.resampler) voice.resampler.swap(resampler);
}

void Mixer::setActivityHook(std::function<void(bool)> hook) {
  std::lock_guard<std::mutex> activity(activityMutex_);
  activityHook_ = std::move(hook);
  reportedActive_ = -1;
}

void Mixer::updateActivity() {
  std::lock_guard<std::mutex> activity(activityMutex_);
  if (!activityHook_) return;
  bool active = false;
  {
    Guard guard(mutex_);
    for (Voice* voice = head_; voice && !active; voice = voice->next) active = voice->playing;
  }
  if (static_cast<int>(active) != reportedActive_) {
    reportedActive_ = active ? 1 : 0;
    activityHook_(active);
  }
}

MixerStats Mixer::stats() const {
  MixerStats stats;
  stats.blocks = blocks_.load(std::memory_order_relaxed);
  stats.underruns = underruns_.load(std::memory_order_relaxed);
  stats.firstAudibleNs = firstAudibleNs_.load(std::memory_order_relaxed);
  return stats;
}

std::int64_t Mixer::markPlayStart() {
  firstAudibleNs_.store(0, std::memory_order_relaxed);
  waitingForAudible_.store(true);
  return steadyNowNs();
}

}  // namespace lunadio::soundout
