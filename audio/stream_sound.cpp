#include "audio/internal/stream_sound.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "audio/internal/sound_buffers.h"
#include "audio/internal/sound_record.h"
#include "audio/sound.h"
#include "audio/sound_device.h"
#include "core/no_throw.h"

namespace lunadio {
namespace {

constexpr auto kRefillPass = std::chrono::milliseconds(10);

class StreamedSound final : public SoundStream {
 public:
  StreamedSound(SoundRecord& record, std::unique_ptr<DecoderHandle> decoder)
      : record_(record), decoder_(std::move(decoder)) {}
  ~StreamedSound() override { end(); }

  void play(ObjectNumber number, int flags, int volume) override {
    stopSound(number);  // state stopped: a running refill thread leaves its loop
    waitForRefillThread();
    decoder_->rewind();
    record_.state.store(SoundPlaying);
    record_.streamFlags.store(static_cast<std::uint32_t>(flags));
    fillHalf(0);
    // A thread the system refuses leaves the sound stopped: playSound gives 0 for it anyway.
    const bool started = noThrow(false, [this] {
      refill_ = std::thread([this] { noThrow([this] { refillLoop(); }); });
      return true;
    });
    if (!started) {
      record_.state.store(SoundStopped);
      return;
    }
    if (volume != -1) setSoundVolume(number, volume);
    record_.buffer->setCurrentPosition(0);
    record_.buffer->play(soundout::PlayMode::Looping);
  }

  void end() override {
    record_.state.store(SoundStopped);
    waitForRefillThread();
    decoder_.reset();
  }

 private:
  void waitForRefillThread() {
    if (refill_.joinable()) refill_.join();
  }

  // Decodes into one half of the ring; silence after the last decoded byte. False when the
  // decoder had nothing left (or the half could not be locked).
  bool fillHalf(std::uint32_t offset) {
    soundout::LockedRegion region;
    if (record_.buffer->lock(offset, kStreamHalfBytes, region) != soundout::kOk) return false;
    const AtEnd atEnd = (record_.streamFlags.load() & PlayLooped) ? AtEnd::Loop : AtEnd::Stop;
    const std::int32_t got =
        decoder_ ? decoder_->read(region.part1, static_cast<std::int32_t>(region.bytes1), atEnd)
                 : 0;
    const auto written = static_cast<std::uint32_t>(got > 0 ? got : 0);
    std::memset(region.part1 + written, 0, region.bytes1 - written);
    record_.buffer->unlock(region);
    record_.streamHalvesFilled.store(record_.streamHalvesFilled.load() + 1);
    return written > 0;
  }

  void clearRing() {
    soundout::LockedRegion region;
    if (record_.buffer->lock(0, kStreamRingBytes, region) != soundout::kOk) return;
    std::memset(region.part1, 0, region.bytes1);
    if (region.part2) std::memset(region.part2, 0, region.bytes2);
    record_.buffer->unlock(region);
  }

  // -- refill thread
  void refillLoop() {
    record_.streamThreadAlive.store(1);
    int nextHalf = 1;
    int endCount = 0;
    while (record_.state.load() != SoundStopped) {
      std::this_thread::sleep_for(kRefillPass);
      std::uint32_t play = 0;
      if (record_.buffer->getCurrentPosition(&play, nullptr) != soundout::kOk) continue;
      const bool refill =
          (nextHalf == 1 && play < kStreamHalfBytes) || (nextHalf == 0 && play > kStreamHalfBytes);
      if (refill) {
        if (endCount > 0) {
          ++endCount;
        } else if (!fillHalf(nextHalf == 1 ? kStreamHalfBytes : 0)) {
          endCount = 1;
        }
        nextHalf = 1 - nextHalf;
      }
      if (endCount == 2) {
        // The silent half has started: the source is over. The ring is cleared as well, so that
        // a resume (which plays the ring looped, with no refill thread) is silent instead of
        // repeating the last half of the source for ever.
        record_.buffer->stop();
        clearRing();
        record_.state.store(SoundStopped);
        break;
      }
    }
    record_.streamThreadAlive.store(0);
  }

  SoundRecord& record_;  // the slot's record: its address outlives the sound
  // -- the refill thread while it runs, else the main thread
  std::unique_ptr<DecoderHandle> decoder_;
  std::thread refill_;  // -- main thread only
};

ObjectNumber makeStreamedSound(ObjectNumber number, std::unique_ptr<DecoderHandle> decoder);

}  // namespace

ObjectNumber loadStreamedSound(ObjectNumber number, std::unique_ptr<DecoderHandle> decoder) {
  return noThrow(ObjectNumber{0}, [&] { return makeStreamedSound(number, std::move(decoder)); });
}

namespace {

ObjectNumber makeStreamedSound(ObjectNumber number, std::unique_ptr<DecoderHandle> decoder) {
  if (!decoder) return 0;
  const auto allocation = allocateSound(number);
  if (!allocation.record) return 0;
  auto ring = createStreamBuffer(decoder->channels(), decoder->sampleRate(), kStreamRingBytes);
  if (!ring) {
    releaseSoundSlot(allocation.id);
    return 0;
  }
  SoundRecord& record = *allocation.record;
  auto stream = noThrow(std::unique_ptr<SoundStream>{}, [&]() -> std::unique_ptr<SoundStream> {
    return std::make_unique<StreamedSound>(record, std::move(decoder));
  });
  if (!stream) {
    releaseSoundSlot(allocation.id);
    return 0;
  }
  record.streamBufferBytes = static_cast<std::int32_t>(kStreamRingBytes);
  record.stream = std::move(stream);
  record.buffer = std::move(ring);
  return number == ObjectAny ? allocation.id : 1;
}

}  // namespace

}  // namespace lunadio
