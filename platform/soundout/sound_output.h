#pragma once
// The software sound output service: one device, any number of buffers, a mixer that plays them.
//
// Contract (every operation returns a Result, kOk = 0 means success, anything else is a refusal):
//   createSoundDevice -> setCooperativeLevel -> createBuffer / duplicateBuffer
//   buffer: lock -> write -> unlock, then play / stop / setCurrentPosition / volume / pan /
//   frequency; destroying the SoundBuffer is its Release (a playing buffer stops first).
//
// Threads: the device and its buffers may be used from any thread; each operation takes the mixer
// lock for a few instructions. A buffer is destroyed by its one owner. The mixer runs on the
// backend's thread (SDL's audio callback, or the caller of MemoryOutput::render) and never
// allocates, blocks or waits there: when it cannot take its lock it writes silence and counts an
// underrun. Releasing a playing buffer while the mixer runs is safe: the release waits for the
// block being mixed.
//
// Units: positions and sizes are bytes of the buffer's own format unless a name says frames; volume
// and pan are hundredths of a decibel; frequency is Hz.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/soundout/sample_memory.h"
#include "platform/soundout/wave_format.h"

namespace lunadio::soundout {

using Result = std::int32_t;
inline constexpr Result kOk = 0;
inline constexpr Result kErrInvalidParam = 1;  // an argument out of range
inline constexpr Result kErrBadFormat = 2;     // a sample format the service cannot play
inline constexpr Result kErrOutOfMemory = 3;   // memory for the buffer or its mixer state
inline constexpr Result kErrNoDevice = 4;      // no output could be opened
inline constexpr Result kErrInvalidCall = 5;   // not allowed in this state (a second lock, say)

// Buffer description flags (the values of the platform whose operations this service keeps).
inline constexpr std::uint32_t kBufferPrimary = 0x1;
inline constexpr std::uint32_t kBufferStatic = 0x2;
inline constexpr std::uint32_t kBufferCtrlFrequency = 0x20;
inline constexpr std::uint32_t kBufferCtrlPan = 0x40;
inline constexpr std::uint32_t kBufferCtrlVolume = 0x80;
inline constexpr std::uint32_t kBufferGlobalFocus = 0x8000;
inline constexpr std::uint32_t kBufferGetCurrentPosition2 = 0x10000;
// What the sound engine asks for every buffer it plays: 0x180E2.
inline constexpr std::uint32_t kSoundBufferFlags = kBufferStatic | kBufferCtrlFrequency |
                                                   kBufferCtrlPan | kBufferCtrlVolume |
                                                   kBufferGlobalFocus | kBufferGetCurrentPosition2;

inline constexpr std::uint32_t kCooperativePriority = 2;

inline constexpr std::int32_t kVolumeMin = -10000;  // silence
inline constexpr std::int32_t kVolumeMax = 0;       // full level
inline constexpr std::int32_t kPanLeft = -10000;
inline constexpr std::int32_t kPanRight = 10000;
inline constexpr std::uint32_t kFrequencyOriginal = 0;  // setFrequency(0): the buffer's own rate

// Largest buffer the service makes: 2^31 - 1 bytes, so that every byte count and position of a
// buffer also fits the signed 32-bit counts of the engine above (3 h 22 min of 16-bit stereo at
// 44.1 kHz).
inline constexpr std::uint32_t kMaxBufferBytes = 0x7FFFFFFF;

enum class PlayMode { Once, Looping };

struct BufferDesc {
  std::uint32_t flags = 0;
  std::uint32_t bufferBytes = 0;       // 0 for the primary buffer
  const WaveFormat* format = nullptr;  // null for the primary buffer
  // Optional: play from this memory instead of fresh zeroed memory (it must hold at least
  // bufferBytes). Lets a decoded sound be played without another copy and shared between sounds.
  std::shared_ptr<SampleMemory> memory;
};

struct BufferCaps {
  std::uint32_t flags = 0;
  std::uint32_t bufferBytes = 0;
};

// Status bits of SoundBuffer::getStatus.
inline constexpr std::uint32_t kStatusPlaying = 0x1;
inline constexpr std::uint32_t kStatusLooping = 0x4;

// A locked region: a range that runs past the end of the buffer comes back in two parts, the
// second starting at byte 0.
struct LockedRegion {
  std::uint8_t* part1 = nullptr;
  std::uint32_t bytes1 = 0;
  std::uint8_t* part2 = nullptr;
  std::uint32_t bytes2 = 0;
};

enum class LockFrom { Offset, EntireBuffer };

class Mixer;
struct Voice;

class SoundBuffer {
 public:
  ~SoundBuffer();  // Release
  SoundBuffer(const SoundBuffer&) = delete;
  SoundBuffer& operator=(const SoundBuffer&) = delete;

  Result getCaps(BufferCaps& caps) const;
  // Play cursor in bytes, block-aligned; the write cursor is one mixer block ahead of it.
  Result getCurrentPosition(std::uint32_t* playBytes, std::uint32_t* writeBytes) const;
  Result getFormat(WaveFormat& format) const;
  Result getStatus(std::uint32_t& status) const;
  Result getVolume(std::int32_t& hundredthsDb) const;
  Result setVolume(std::int32_t hundredthsDb);  // kVolumeMin..kVolumeMax
  Result getPan(std::int32_t& pan) const;
  Result setPan(std::int32_t pan);  // kPanLeft..kPanRight: the other side loses |pan| 1/100 dB
  Result getFrequency(std::uint32_t& hz) const;
  // kMinRateHz..kMaxRateHz, or kFrequencyOriginal. The resampler goes at most 256 times up or down
  // (a 48 kHz output plays anything below 187.5 Hz at 187.5 Hz); getFrequency reports the set
  // value.
  Result setFrequency(std::uint32_t hz);
  // Plays from the cursor; a one-shot play that ran to the end starts over from 0.
  Result play(PlayMode mode);
  Result stop();
  Result setCurrentPosition(std::uint32_t playBytes);
  // Write access to `bytes` bytes from `offsetBytes` (or to the whole buffer). The region is the
  // buffer's memory itself while no one else can be reading it; while the buffer plays or shares
  // its memory it is a private copy, written into the memory by unlock under the mixer lock. On
  // memory a decoder is still filling it first waits (up to 10 s) for the region to be final, and
  // gives kErrInvalidCall when it is not.
  Result lock(std::uint32_t offsetBytes, std::uint32_t bytes, LockedRegion& region,
              LockFrom from = LockFrom::Offset);
  Result unlock(const LockedRegion& region);

  bool isPrimary() const;

 private:
  friend class SoundDevice;
  SoundBuffer(std::shared_ptr<Mixer> mixer, std::unique_ptr<Voice> voice);
  bool ensureResampler(std::uint32_t hz);

  struct LockState;
  std::shared_ptr<Mixer> mixer_;  // -- fixed after creation
  // -- fixed after creation; its play state is guarded by the mixer's lock
  std::unique_ptr<Voice> voice_;
  std::unique_ptr<LockState> lock_;  // -- the caller of lock()/unlock() only
};

// Mixer counters, for benchmarks and tests.
struct MixerStats {
  std::uint64_t blocks = 0;         // render calls
  std::uint64_t underruns = 0;      // blocks written as silence because the lock was busy
  std::int64_t firstAudibleNs = 0;  // steady-clock time of the first non-silent block after the
                                    // last markPlayStart(); 0 while none
};

class Backend;

class SoundDevice {
 public:
  ~SoundDevice();
  SoundDevice(const SoundDevice&) = delete;
  SoundDevice& operator=(const SoundDevice&) = delete;

  // Accepted for any window handle and level.
  Result setCooperativeLevel(std::uintptr_t window, std::uint32_t level);
  // Static or stream buffer (a format is required), or the primary buffer (kBufferPrimary, no
  // format, 0 bytes), which only proves that the output is there.
  Result createBuffer(const BufferDesc& desc, std::unique_ptr<SoundBuffer>& buffer);
  // A new buffer on the same memory and format, with its own cursor, state, volume, pan and
  // frequency (taken from the original's current values, stopped at position 0).
  Result duplicateBuffer(const SoundBuffer& original, std::unique_ptr<SoundBuffer>& copy);

  std::uint32_t outputRateHz() const;
  // Frames the backend asks for per block (its buffer size).
  std::uint32_t blockFrames() const;
  MixerStats stats() const;
  // Arms MixerStats::firstAudibleNs; returns the steady-clock time of arming.
  std::int64_t markPlayStart();

 private:
  friend Result createSoundDevice(std::shared_ptr<Backend>, std::unique_ptr<SoundDevice>&);
  SoundDevice() = default;

  std::shared_ptr<Mixer> mixer_;      // -- fixed after creation
  std::shared_ptr<Backend> backend_;  // -- fixed after creation
};

// Opens the device on a backend (see backend.h, memory_output.h, pulse_output.h, sdl_output.h).
// kErrNoDevice when the backend cannot open an output.
Result createSoundDevice(std::shared_ptr<Backend> backend, std::unique_ptr<SoundDevice>& device);
// The default output: the sound server's default sink at its own rate (PulseOutput), or SDL2
// audio at the default device's preferred rate when SDL_AUDIODRIVER is set or no server answers.
Result createDefaultSoundDevice(std::unique_ptr<SoundDevice>& device);
// Starts reaching the default output ahead of createDefaultSoundDevice, without waiting (see
// preparePulse, or prepareSdlAudio when SDL_AUDIODRIVER is set); the release ends that when no
// device was made. Main thread only.
void prepareDefaultSoundDevice();
void releasePreparedDefaultSoundDevice();

// A static buffer over 16-bit interleaved PCM (the memory is shared, not copied), as the loader
// and the measurement programs make them.
Result createPcm16Buffer(SoundDevice& device, int channels, std::uint32_t rateHz,
                         std::shared_ptr<SampleMemory> memory,
                         std::unique_ptr<SoundBuffer>& buffer);

}  // namespace lunadio::soundout
