#pragma once
// The engine's side of sounds: the sound table's record, how the loader and streamed sounds put a
// sound in it, and the state a streamed sound shares with its refill thread.
//
// Who uses what:
// - The sound loader: createStaticBuffer (sound_device.h) from the wave format and the PCM (give it
//   the decoded PCM as SampleMemory::adopt(std::move(samples)) so no copy is made, and the same
//   memory again to share one decode between two sounds), then installStaticSound(number, buffer),
//   which frees any old sound under the number only now, so a load that failed before leaves the
//   old sound untouched.
// - Streamed sounds: allocateSound(number) (the old sound is freed at once), createStreamBuffer
//   (sound_device.h), then fill the record (buffer, stream, streamBufferBytes) or
//   releaseSoundSlot(id) on failure. The record's state, streamThreadAlive and streamFlags are the
//   bytes shared with the refill thread; stopSound/pauseSound/resumeSound/setSoundVolume/
//   setSoundFrequency act on the ring, and playSound and freeSound hand over to the SoundStream.
//
// Threads: main thread only, no lock; a streamed sound shares its record with its refill thread
// through the SharedValue fields.

#include "audio/internal/access.h"
//
#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <optional>

#include "audio/sound.h"
#include "core/object_table.h"
#include "platform/soundout/sound_output.h"

namespace lunadio {

class ProgressiveDecode;

enum SoundState : std::uint8_t { SoundStopped = 0, SoundPlaying = 1, SoundPaused = 2 };

// A value that a streamed sound's two threads share (acquire/release). It copies only so that a
// record can be reset, which happens once no other thread uses it.
template <class T>
class SharedValue {
 public:
  SharedValue(T value = T{}) : value_(value) {}
  SharedValue(const SharedValue& other) : value_(other.load()) {}
  SharedValue& operator=(const SharedValue& other) {
    store(other.load());
    return *this;
  }
  T load() const { return value_.load(std::memory_order_acquire); }
  void store(T value) { value_.store(value, std::memory_order_release); }

 private:
  std::atomic<T> value_;
};
using SharedByte = SharedValue<std::uint8_t>;

// The decoder side of a streamed sound, made by the loader. Main thread only.
class SoundStream {
 public:
  virtual ~SoundStream() = default;
  // playSound on the streamed sound: stop, wait for the refill thread, rewind, refill, play the
  // ring looped. The result of playSound for a streamed sound is 0.
  virtual void play(ObjectNumber number, int flags, int volume) = 0;
  // freeSound: state stopped, wait until the refill thread has ended, close the decoder. Called
  // before the ring is released.
  virtual void end() = 0;
};

// -- main thread only
struct SoundInstance {
  std::unique_ptr<soundout::SoundBuffer> buffer;  // a duplicate of the sound's buffer
  SoundState state = SoundStopped;
  std::uint8_t loop = 0;
  SoundInstanceHandle handle = 0;
};

struct SoundRecord {
  // -- main thread only (a streamed sound's refill thread also uses the buffer, whose operations
  //    are thread-safe, between the start and the end of its stream)
  std::unique_ptr<soundout::SoundBuffer> buffer;  // non-null: the sound is live
  std::list<SoundInstance> instances;             // newest first
  // Read from the buffer right after loading; the defaults of every new instance. 0 when streamed.
  std::int32_t panHundredthsDb = 0;
  std::uint32_t frequencyHz = 0;
  std::int32_t volumeHundredthsDb = 0;  // an attenuation: kVolumeMin..kVolumeMax
  // Non-null while the sound's PCM may still be decoding (see progressive_decode.h); shared with
  // every other sound on the same memory. Released after the buffers, so its worker is joined
  // once nothing plays from the memory.
  std::shared_ptr<ProgressiveDecode> decode;
  std::unique_ptr<SoundStream> stream;  // non-null: a streamed sound
  std::int32_t streamBufferBytes = 0;   // 65536 when streamed
  std::uint8_t loop = 0;                // PlayLooped bit of the last whole-sound playSound
  // -- shared with a streamed sound's refill thread (atomic)
  SharedByte state = SoundStopped;  // the last control applied to the sound as a whole
  SharedByte streamThreadAlive = 0;
  SharedValue<std::uint32_t> streamFlags = 0;  // play flags of the last playSound when streamed
  // Halves of the ring filled and handed back (unlocked) since the sound was made, playSound's
  // first one included. A decoded half reaches the ring only at the unlock, so this, not the
  // decoder's progress, says when a half holds what will play. Written by one thread at a time.
  SharedValue<std::uint32_t> streamHalvesFilled = 0;

  bool isLive() const { return buffer != nullptr; }
  bool isStreamed() const { return stream != nullptr; }
};

// The sound table (growth step 64), or null before a successful initSound.
ObjectTable<SoundRecord>* soundTable();

// Frees any sound under `number` and installs `buffer` there as a live, stopped sound whose pan,
// frequency and volume are read back from the buffer, holding `decode` when its PCM is still being
// decoded. Returns the number (or the new dynamic id for ObjectAny); nullopt when there is no sound
// table or the number cannot be allocated (the buffer is then dropped and nothing changes).
std::optional<ObjectNumber> installStaticSound(ObjectNumber number,
                                               std::unique_ptr<soundout::SoundBuffer> buffer,
                                               std::shared_ptr<ProgressiveDecode> decode = nullptr);
// ObjectTable::allocate on the sound table (an old sound under the number is freed now). Null
// record when there is no table.
ObjectTable<SoundRecord>::Allocation allocateSound(ObjectNumber number);
// Gives back a slot that allocateSound returned and that never became live.
void releaseSoundSlot(ObjectNumber id);

}  // namespace lunadio
