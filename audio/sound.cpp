#include "audio/sound.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

#include "audio/internal/progressive_decode.h"
#include "audio/internal/sound_buffers.h"
#include "audio/internal/sound_record.h"
#include "audio/sound_device.h"
#include "core/no_throw.h"

namespace lunadio {
namespace {

using soundout::PlayMode;
using soundout::SoundBuffer;

// How long setSoundPosition waits for a decode still running to reach the new position, and how
// many frames past it it waits for.
constexpr std::chrono::milliseconds kSeekWaitBound{2000};
constexpr std::uint32_t kSeekLeadFrames = 4096;

// Instance handles: never 0, -1 or 1 (the other results of playSound), never reused.
// -- main thread only
SoundInstanceHandle nextInstanceHandle = 0x40000000;

SoundRecord* findSound(ObjectNumber number) {
  ObjectTable<SoundRecord>* table = soundTable();
  return table ? table->lookup(number) : nullptr;
}

PlayMode modeFor(std::uint8_t loop) { return loop ? PlayMode::Looping : PlayMode::Once; }

SoundInstance* findInstance(SoundRecord& record, SoundInstanceHandle handle) {
  for (SoundInstance& instance : record.instances) {
    if (instance.handle == handle) return &instance;
  }
  return nullptr;
}

// Calls visit(buffer, instance) on the targets of an operation: the sound's own buffer (instance
// 0, with a null instance), the sound's buffer then every instance (AllInstances), or the one
// instance named. False when the handle names none of the sound's instances.
template <class Visit>
bool forEachTarget(SoundRecord& record, SoundInstanceHandle instance, Visit visit) {
  if (instance == 0 || instance == AllInstances) {
    visit(*record.buffer, static_cast<SoundInstance*>(nullptr));
    if (instance == AllInstances) {
      for (SoundInstance& each : record.instances) visit(*each.buffer, &each);
    }
    return true;
  }
  SoundInstance* found = findInstance(record, instance);
  if (!found) return false;
  visit(*found->buffer, found);
  return true;
}

// The one buffer a getter or setSoundPosition reads: the sound's own (0) or an instance's.
SoundBuffer* singleTarget(SoundRecord& record, SoundInstanceHandle instance) {
  if (instance == 0) return record.buffer.get();
  SoundInstance* found = findInstance(record, instance);
  return found ? found->buffer.get() : nullptr;
}

// Applies `control` to every live sound with AllInstances when number is ObjectAll.
template <class Control>
bool forAllSounds(ObjectNumber number, Control control) {
  if (number != ObjectAll) return false;
  if (ObjectTable<SoundRecord>* table = soundTable()) {
    for (ObjectNumber id : table->liveIds()) control(id);
  }
  return true;
}

struct FrameShape {
  std::uint32_t bytesPerSample = 0;
  std::uint32_t channels = 0;
  bool valid() const { return bytesPerSample != 0 && channels != 0; }
};

FrameShape shapeOf(const SoundBuffer& buffer) {
  soundout::WaveFormat format;
  if (buffer.getFormat(format) != soundout::kOk) return {};
  return {static_cast<std::uint32_t>(format.bitsPerSample / 8), format.channels};
}

std::uint32_t frequencyOf(const SoundBuffer& buffer) {
  std::uint32_t hz = 0;
  buffer.getFrequency(hz);
  return hz;
}

}  // namespace

std::optional<ObjectNumber> installStaticSound(ObjectNumber number,
                                               std::unique_ptr<soundout::SoundBuffer> buffer,
                                               std::shared_ptr<ProgressiveDecode> decode) {
  ObjectTable<SoundRecord>* table = soundTable();
  if (!table || !buffer) return std::nullopt;
  const auto allocation = table->allocate(number);
  if (!allocation.record) return std::nullopt;
  SoundRecord& record = *allocation.record;
  buffer->getPan(record.panHundredthsDb);
  buffer->getFrequency(record.frequencyHz);
  buffer->getVolume(record.volumeHundredthsDb);
  record.buffer = std::move(buffer);
  record.decode = std::move(decode);
  return allocation.id;
}

ObjectTable<SoundRecord>::Allocation allocateSound(ObjectNumber number) {
  ObjectTable<SoundRecord>* table = soundTable();
  if (!table) return {};
  return table->allocate(number);
}

void releaseSoundSlot(ObjectNumber id) {
  if (ObjectTable<SoundRecord>* table = soundTable()) table->release(id);
}

static int isSoundBody(ObjectNumber number) {
  ObjectTable<SoundRecord>* table = soundTable();
  return table && table->isObject(number) ? 1 : 0;
}

static void freeSoundBody(ObjectNumber number) {
  ObjectTable<SoundRecord>* table = soundTable();
  if (!table) return;
  if (number == ObjectAll) {
    table->freeAll();
    return;
  }
  SoundRecord* record = table->lookup(number);
  if (!record) return;
  if (record->stream) {
    record->stream->end();
    record->stream.reset();
  }
  record->instances.clear();  // releases every instance's buffer, newest first
  record->buffer.reset();     // a playing buffer stops when released
  record->decode.reset();     // the last sound on the memory stops and joins its decoder
  table->release(number);
}

static SoundInstanceHandle playSoundBody(ObjectNumber number, int flags, int volume) {
  SoundRecord* record = findSound(number);
  if (!record) return 0;
  if (record->stream) {
    record->stream->play(number, flags, volume);
    return 0;
  }
  const std::uint8_t loop = (flags & PlayLooped) ? 1 : 0;
  if (!(flags & PlayNewInstance)) {
    record->buffer->stop();
    record->buffer->setCurrentPosition(0);
    if (volume != -1) setSoundVolume(number, volume, 0);
    if (record->buffer->play(modeFor(loop)) != soundout::kOk) return 0;
    record->state.store(SoundPlaying);
    record->loop = loop;
    return 1;
  }

  std::erase_if(record->instances,
                [](const SoundInstance& instance) { return instance.state == SoundStopped; });
  soundout::SoundDevice* device = soundDevice();
  std::unique_ptr<SoundBuffer> copy;
  if (!device || device->duplicateBuffer(*record->buffer, copy) != soundout::kOk) return 0;
  SoundInstance& instance = record->instances.emplace_front();
  instance.buffer = std::move(copy);
  instance.loop = loop;
  instance.state = SoundPlaying;
  instance.handle = nextInstanceHandle++;
  instance.buffer->setFrequency(record->frequencyHz);
  instance.buffer->setPan(record->panHundredthsDb);
  if (volume != -1) {
    setSoundVolume(number, volume, instance.handle);
  } else {
    instance.buffer->setVolume(record->volumeHundredthsDb);
  }
  instance.buffer->play(modeFor(loop));
  return instance.handle;
}

static void stopSoundBody(ObjectNumber number, SoundInstanceHandle instance) {
  if (forAllSounds(number, [](ObjectNumber id) { stopSound(id, AllInstances); })) return;
  SoundRecord* record = findSound(number);
  if (!record) return;
  const bool found = forEachTarget(*record, instance, [](SoundBuffer& buffer, SoundInstance* each) {
    buffer.stop();
    buffer.setCurrentPosition(0);
    if (each) each->state = SoundStopped;
  });
  if (found && (instance == 0 || instance == AllInstances)) record->state.store(SoundStopped);
}

static void pauseSoundBody(ObjectNumber number, SoundInstanceHandle instance) {
  if (forAllSounds(number, [](ObjectNumber id) { pauseSound(id, AllInstances); })) return;
  SoundRecord* record = findSound(number);
  if (!record) return;
  const bool found = forEachTarget(*record, instance, [](SoundBuffer& buffer, SoundInstance* each) {
    buffer.stop();
    if (each) each->state = SoundPaused;
  });
  if (found && (instance == 0 || instance == AllInstances)) record->state.store(SoundPaused);
}

static void resumeSoundBody(ObjectNumber number, SoundInstanceHandle instance) {
  if (forAllSounds(number, [](ObjectNumber id) { resumeSound(id, AllInstances); })) return;
  SoundRecord* record = findSound(number);
  if (!record) return;
  // A streamed sound's ring always plays looped; its source's looping is the stream's business.
  const std::uint8_t ownLoop = record->stream ? 1 : record->loop;
  const bool found =
      forEachTarget(*record, instance, [ownLoop](SoundBuffer& buffer, SoundInstance* each) {
        buffer.play(modeFor(each ? each->loop : ownLoop));
        if (each) each->state = SoundPlaying;
      });
  if (found && (instance == 0 || instance == AllInstances)) record->state.store(SoundPlaying);
}

static void setSoundVolumeBody(ObjectNumber number, int volume, SoundInstanceHandle instance) {
  if (forAllSounds(number,
                   [volume](ObjectNumber id) { setSoundVolume(id, volume, AllInstances); })) {
    return;
  }
  SoundRecord* record = findSound(number);
  if (!record) return;
  const int level = std::clamp(volume, 0, 100);
  const std::int32_t attenuation = attenuationTable()[static_cast<std::size_t>(level)] - 10000;
  forEachTarget(*record, instance, [attenuation](SoundBuffer& buffer, SoundInstance*) {
    buffer.setVolume(attenuation);
  });
}

static void setSoundFrequencyBody(ObjectNumber number, int frequencyHz,
                                  SoundInstanceHandle instance) {
  SoundRecord* record = findSound(number);
  if (!record) return;
  // A negative frequency reaches the service as a huge one, which it refuses.
  const auto hz = static_cast<std::uint32_t>(frequencyHz);
  forEachTarget(*record, instance,
                [hz](SoundBuffer& buffer, SoundInstance*) { buffer.setFrequency(hz); });
}

static int getSoundFrequencyBody(ObjectNumber number, SoundInstanceHandle instance) {
  SoundRecord* record = findSound(number);
  if (!record || record->stream) return 0;
  SoundBuffer* buffer = singleTarget(*record, instance);
  return buffer ? static_cast<int>(frequencyOf(*buffer)) : 0;
}

static std::int32_t getSoundAttenuationBody(ObjectNumber number, SoundInstanceHandle instance) {
  SoundRecord* record = findSound(number);
  SoundBuffer* buffer = record ? singleTarget(*record, instance) : nullptr;
  std::int32_t attenuation = 1;
  if (buffer) buffer->getVolume(attenuation);
  return attenuation;
}

static std::int64_t getSoundLengthBody(ObjectNumber number, SoundUnit unit) {
  SoundRecord* record = findSound(number);
  if (!record || record->stream) return -1;
  soundout::BufferCaps caps;
  record->buffer->getCaps(caps);
  const FrameShape shape = shapeOf(*record->buffer);
  if (!shape.valid()) return -1;
  const std::uint64_t frames = caps.bufferBytes / shape.bytesPerSample / shape.channels;
  if (unit == UnitMilliseconds) {
    const std::uint32_t hz = frequencyOf(*record->buffer);
    if (hz == 0) return -1;
    return static_cast<std::int64_t>(frames * 1000 / hz);
  }
  return static_cast<std::int64_t>(frames);
}

static std::int64_t getSoundPositionBody(ObjectNumber number, SoundUnit unit,
                                         SoundInstanceHandle instance) {
  SoundRecord* record = findSound(number);
  if (!record || record->stream) return -1;
  SoundBuffer* buffer = singleTarget(*record, instance);
  if (!buffer) return -1;
  std::uint32_t playBytes = 0;
  buffer->getCurrentPosition(&playBytes, nullptr);
  const FrameShape shape = shapeOf(*buffer);
  if (!shape.valid()) return -1;
  const std::uint32_t frames = playBytes / shape.bytesPerSample / shape.channels;
  if (unit == UnitFrames) return frames;
  const std::uint32_t hz = frequencyOf(*buffer);
  if (hz == 0) return -1;
  return static_cast<std::int64_t>(std::trunc(static_cast<double>(frames) / (hz / 1000.0)));
}

static void setSoundPositionBody(ObjectNumber number, std::int64_t position, SoundUnit unit,
                                 SoundInstanceHandle instance) {
  SoundRecord* record = findSound(number);
  if (!record || record->stream) return;
  SoundBuffer* buffer = singleTarget(*record, instance);
  if (!buffer) return;
  const FrameShape shape = shapeOf(*buffer);
  const double bytesPerFrame = static_cast<double>(shape.bytesPerSample) * shape.channels;
  double offset = 0.0;
  if (unit == UnitFrames) {
    offset = bytesPerFrame * static_cast<double>(position);
  } else {
    offset =
        std::trunc(bytesPerFrame * static_cast<double>(position) * (frequencyOf(*buffer) / 1000.0));
  }
  // An offset outside the 32-bit range (a negative position, say) is one the service refuses.
  if (!(offset >= 0.0 && offset <= std::numeric_limits<std::uint32_t>::max())) return;
  // A position the decoder has not reached yet: give it a moment to get there, so that the sound
  // plays from the new place at once (past the bound it holds there, silent, until it does).
  if (record->decode && !record->decode->isFinished()) {
    const double wanted = std::min(offset + bytesPerFrame * kSeekLeadFrames,
                                   double{std::numeric_limits<std::uint32_t>::max()});
    record->decode->waitUntilDecoded(static_cast<std::uint32_t>(wanted), kSeekWaitBound);
  }
  buffer->setCurrentPosition(static_cast<std::uint32_t>(offset));
}

// -- The public entries: nothing thrown below (a failed allocation, say) leaves the engine.
int isSound(ObjectNumber number) {
  return noThrow(0, [&] { return isSoundBody(number); });
}

void freeSound(ObjectNumber number) {
  noThrow([&] { freeSoundBody(number); });
}

SoundInstanceHandle playSound(ObjectNumber number, int flags, int volume) {
  return noThrow(SoundInstanceHandle{0}, [&] { return playSoundBody(number, flags, volume); });
}

void stopSound(ObjectNumber number, SoundInstanceHandle instance) {
  noThrow([&] { stopSoundBody(number, instance); });
}

void pauseSound(ObjectNumber number, SoundInstanceHandle instance) {
  noThrow([&] { pauseSoundBody(number, instance); });
}

void resumeSound(ObjectNumber number, SoundInstanceHandle instance) {
  noThrow([&] { resumeSoundBody(number, instance); });
}

void setSoundVolume(ObjectNumber number, int volume, SoundInstanceHandle instance) {
  noThrow([&] { setSoundVolumeBody(number, volume, instance); });
}

void setSoundFrequency(ObjectNumber number, int frequencyHz, SoundInstanceHandle instance) {
  noThrow([&] { setSoundFrequencyBody(number, frequencyHz, instance); });
}

int getSoundFrequency(ObjectNumber number, SoundInstanceHandle instance) {
  return noThrow(0, [&] { return getSoundFrequencyBody(number, instance); });
}

std::int32_t getSoundAttenuation(ObjectNumber number, SoundInstanceHandle instance) {
  return noThrow(std::int32_t{1}, [&] { return getSoundAttenuationBody(number, instance); });
}

std::int64_t getSoundLength(ObjectNumber number, SoundUnit unit) {
  return noThrow(std::int64_t{-1}, [&] { return getSoundLengthBody(number, unit); });
}

std::int64_t getSoundPosition(ObjectNumber number, SoundUnit unit, SoundInstanceHandle instance) {
  return noThrow(std::int64_t{-1}, [&] { return getSoundPositionBody(number, unit, instance); });
}

void setSoundPosition(ObjectNumber number, std::int64_t position, SoundUnit unit,
                      SoundInstanceHandle instance) {
  noThrow([&] { setSoundPositionBody(number, position, unit, instance); });
}

}  // namespace lunadio
