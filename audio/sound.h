#pragma once
// Sounds: the controls the player calls. A sound is a numbered object of the sound table that
// owns one output buffer holding the whole sound (a loaded sound) or a ring fed by a decoder (a
// streamed sound), plus the extra playing copies of a sound (its instances). Every control is a
// thin synchronous layer over the buffer operations; none throws (a failure gives the value each
// one documents).
//
// How sounds are made and kept (the loader, streamed sounds, the sound table) lives in
// audio/internal/, private to the engine.
//
// Threads: main thread only.

#include <cstdint>

#include "core/object_table.h"

namespace lunadio {

// playSound flags.
inline constexpr int PlayLooped = 1;
inline constexpr int PlayNewInstance = 2;

// What a position or a length is counted in.
enum SoundUnit : int { UnitFrames = 0, UnitMilliseconds = 1 };

// An instance argument: 0 = the sound's own buffer, AllInstances = its buffer then every instance,
// anything else the handle playSound(PlayNewInstance) gave. Handles come from a counter, are never
// reused, and are only found by walking the sound's own list, so a stale handle names nothing.
using SoundInstanceHandle = std::int64_t;
inline constexpr SoundInstanceHandle AllInstances = -1;

int isSound(ObjectNumber number);
void freeSound(ObjectNumber number);
// 1 when the platform started the whole sound, else 0; with PlayNewInstance the new instance's
// handle or 0; a streamed sound gives 0. volume (percent, 0..100) -1 leaves the volume as it is.
SoundInstanceHandle playSound(ObjectNumber number, int flags, int volume = -1);
void stopSound(ObjectNumber number, SoundInstanceHandle instance = 0);
void pauseSound(ObjectNumber number, SoundInstanceHandle instance = 0);
void resumeSound(ObjectNumber number, SoundInstanceHandle instance = 0);
// volume in percent, 0..100 (clamped), on the engine's one volume curve.
void setSoundVolume(ObjectNumber number, int volume, SoundInstanceHandle instance = 0);
void setSoundFrequency(ObjectNumber number, int frequencyHz, SoundInstanceHandle instance = 0);
// The buffer's attenuation in hundredths of a dB (0 = full level) that the volume became; 1 for no
// such sound or instance.
std::int32_t getSoundAttenuation(ObjectNumber number, SoundInstanceHandle instance = 0);
// Hz; 0 for no such sound or instance, or a streamed sound.
int getSoundFrequency(ObjectNumber number, SoundInstanceHandle instance = 0);
// -1 for no such sound or instance, or a streamed sound.
std::int64_t getSoundPosition(ObjectNumber number, SoundUnit unit = UnitFrames,
                              SoundInstanceHandle instance = 0);
void setSoundPosition(ObjectNumber number, std::int64_t position, SoundUnit unit = UnitFrames,
                      SoundInstanceHandle instance = 0);
std::int64_t getSoundLength(ObjectNumber number, SoundUnit unit = UnitFrames);

}  // namespace lunadio
