#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>
#include <vector>

#include "core/no_throw.h"
#include "platform/soundout/internal/mixer.h"
#include "platform/soundout/resampler.h"
#include "platform/soundout/sound_output.h"

namespace lunadio::soundout {

// How long lock() waits for a decode still filling the region.
constexpr std::chrono::milliseconds kLockWaitBound{10000};

// An outstanding lock: where the caller writes, and whether that is a private copy.
struct SoundBuffer::LockState {
  bool locked = false;
  bool staged = false;
  std::uint32_t offsetBytes = 0;
  std::uint32_t bytes = 0;
  std::vector<std::uint8_t> staging;  // kept between locks, so a refill allocates once
};

SoundBuffer::SoundBuffer(std::shared_ptr<Mixer> mixer, std::unique_ptr<Voice> voice)
    : mixer_(std::move(mixer)), voice_(std::move(voice)), lock_(std::make_unique<LockState>()) {}

SoundBuffer::~SoundBuffer() {
  if (!voice_->primary) {
    {
      Mixer::Guard guard(mixer_->mutex());
      mixer_->unlink(guard, *voice_);
    }
    mixer_->updateActivity();
  }
  // The voice, its resampler and its reference to the memory go here, outside the mixer's lock.
}

bool SoundBuffer::isPrimary() const { return voice_->primary; }

Result SoundBuffer::getCaps(BufferCaps& caps) const {
  caps.flags = voice_->flags;
  caps.bufferBytes = voice_->bufferBytes;
  return kOk;
}

Result SoundBuffer::getCurrentPosition(std::uint32_t* playBytes, std::uint32_t* writeBytes) const {
  if (voice_->primary) return kErrInvalidCall;
  const Voice& v = *voice_;
  std::uint32_t cursor = 0;
  {
    Mixer::Guard guard(mixer_->mutex());
    cursor = v.cursorFrames;
  }
  // A one-shot play that ran out is noticed here (the player reads positions on every pass), so
  // the device pauses once nothing plays any more.
  mixer_->updateActivity();
  const std::uint32_t align = v.layout.blockAlign;
  if (playBytes) *playBytes = cursor * align;
  if (writeBytes) {
    const std::uint64_t ahead =
        (static_cast<std::uint64_t>(cursor) + mixer_->blockFrames()) % v.frames;
    *writeBytes = static_cast<std::uint32_t>(ahead) * align;
  }
  return kOk;
}

Result SoundBuffer::getFormat(WaveFormat& format) const {
  if (voice_->primary) return kErrInvalidCall;
  format = voice_->format;
  return kOk;
}

Result SoundBuffer::getStatus(std::uint32_t& status) const {
  Mixer::Guard guard(mixer_->mutex());
  status = 0;
  if (voice_->playing) status |= kStatusPlaying | (voice_->looping ? kStatusLooping : 0u);
  return kOk;
}

Result SoundBuffer::getVolume(std::int32_t& hundredthsDb) const {
  if (voice_->primary) return kErrInvalidCall;
  Mixer::Guard guard(mixer_->mutex());
  hundredthsDb = voice_->volume;
  return kOk;
}

Result SoundBuffer::setVolume(std::int32_t hundredthsDb) {
  if (voice_->primary) return kErrInvalidCall;
  if (hundredthsDb < kVolumeMin || hundredthsDb > kVolumeMax) return kErrInvalidParam;
  Mixer::Guard guard(mixer_->mutex());
  voice_->volume = hundredthsDb;
  mixer_->setGains(guard, *voice_);
  return kOk;
}

Result SoundBuffer::getPan(std::int32_t& pan) const {
  if (voice_->primary) return kErrInvalidCall;
  Mixer::Guard guard(mixer_->mutex());
  pan = voice_->pan;
  return kOk;
}

Result SoundBuffer::setPan(std::int32_t pan) {
  if (voice_->primary) return kErrInvalidCall;
  if (pan < kPanLeft || pan > kPanRight) return kErrInvalidParam;
  Mixer::Guard guard(mixer_->mutex());
  voice_->pan = pan;
  mixer_->setGains(guard, *voice_);
  return kOk;
}

Result SoundBuffer::getFrequency(std::uint32_t& hz) const {
  if (voice_->primary) return kErrInvalidCall;
  Mixer::Guard guard(mixer_->mutex());
  hz = voice_->rateHz();
  return kOk;
}

bool SoundBuffer::ensureResampler(std::uint32_t hz) {
  {
    Mixer::Guard guard(mixer_->mutex());
    if (!mixer_->needsResampler(guard, *voice_, hz)) return true;
  }
  std::unique_ptr<Resampler> resampler =
      noThrow(std::unique_ptr<Resampler>{}, [] { return Resampler::create(); });
  if (!resampler) return false;
  Mixer::Guard guard(mixer_->mutex());
  mixer_->installResampler(guard, *voice_, resampler);
  return true;
}

Result SoundBuffer::setFrequency(std::uint32_t hz) {
  if (voice_->primary) return kErrInvalidCall;
  if (hz != kFrequencyOriginal && (hz < kMinRateHz || hz > kMaxRateHz)) return kErrInvalidParam;
  if (!ensureResampler(hz)) return kErrOutOfMemory;
  Mixer::Guard guard(mixer_->mutex());
  mixer_->setFrequency(guard, *voice_, hz);
  return kOk;
}

Result SoundBuffer::play(PlayMode mode) {
  if (voice_->primary) return kErrInvalidCall;
  std::uint32_t hz = 0;
  {
    Mixer::Guard guard(mixer_->mutex());
    hz = voice_->frequencyHz;
  }
  if (!ensureResampler(hz)) return kErrOutOfMemory;
  {
    Mixer::Guard guard(mixer_->mutex());
    mixer_->play(guard, *voice_, mode);
  }
  mixer_->updateActivity();
  return kOk;
}

Result SoundBuffer::stop() {
  if (voice_->primary) return kErrInvalidCall;
  {
    Mixer::Guard guard(mixer_->mutex());
    mixer_->stop(guard, *voice_);
  }
  mixer_->updateActivity();
  return kOk;
}

Result SoundBuffer::setCurrentPosition(std::uint32_t playBytes) {
  if (voice_->primary) return kErrInvalidCall;
  if (playBytes > voice_->bufferBytes) return kErrInvalidParam;
  const std::uint32_t frame = std::min(playBytes / voice_->layout.blockAlign, voice_->frames);
  Mixer::Guard guard(mixer_->mutex());
  mixer_->setPosition(guard, *voice_, frame);
  return kOk;
}

Result SoundBuffer::lock(std::uint32_t offsetBytes, std::uint32_t bytes, LockedRegion& region,
                         LockFrom from) {
  region = {};
  if (voice_->primary) return kErrInvalidCall;
  if (lock_->locked) return kErrInvalidCall;
  const std::uint32_t size = voice_->bufferBytes;
  if (from == LockFrom::EntireBuffer) {
    offsetBytes = 0;
    bytes = size;
  }
  if (bytes == 0 || bytes > size || offsetBytes >= size) return kErrInvalidParam;
  const std::uint32_t first = std::min(bytes, size - offsetBytes);
  std::uint8_t* memory = voice_->memory->data();
  // Memory a decoder is still filling is read only once the region is final.
  const std::size_t needed = bytes > first ? size : std::size_t{offsetBytes} + bytes;
  if (!voice_->memory->waitUntilReady(needed, kLockWaitBound)) return kErrInvalidCall;

  // While nothing else can read the memory (the buffer is stopped and shares its memory with no
  // other buffer) the caller writes it in place; otherwise into a copy that unlock() puts in.
  bool exclusive = false;
  {
    Mixer::Guard guard(mixer_->mutex());
    exclusive = !voice_->playing && voice_->memory.use_count() == 1;
  }
  if (!exclusive) {
    if (!noThrow(false, [&] {
          lock_->staging.resize(bytes);
          return true;
        })) {
      return kErrOutOfMemory;
    }
    Mixer::Guard guard(mixer_->mutex());
    std::memcpy(lock_->staging.data(), memory + offsetBytes, first);
    std::memcpy(lock_->staging.data() + first, memory, bytes - first);
  }
  lock_->locked = true;
  lock_->staged = !exclusive;
  lock_->offsetBytes = offsetBytes;
  lock_->bytes = bytes;
  std::uint8_t* target = exclusive ? memory + offsetBytes : lock_->staging.data();
  region.part1 = target;
  region.bytes1 = first;
  if (bytes > first) {
    region.part2 = exclusive ? memory : lock_->staging.data() + first;
    region.bytes2 = bytes - first;
  }
  return kOk;
}

Result SoundBuffer::unlock(const LockedRegion& region) {
  if (!lock_->locked) return kErrInvalidCall;
  if (region.bytes1 + region.bytes2 > lock_->bytes) return kErrInvalidParam;
  lock_->locked = false;
  if (lock_->staged) {
    const std::uint32_t size = voice_->bufferBytes;
    const std::uint32_t first = std::min(lock_->bytes, size - lock_->offsetBytes);
    std::uint8_t* memory = voice_->memory->data();
    Mixer::Guard guard(mixer_->mutex());
    std::memcpy(memory + lock_->offsetBytes, lock_->staging.data(), first);
    std::memcpy(memory, lock_->staging.data() + first, lock_->bytes - first);
  }
  return kOk;
}

}  // namespace lunadio::soundout
