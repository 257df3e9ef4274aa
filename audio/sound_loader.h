#pragma once
// Sound loading: a file or an image in memory becomes a live sound whose whole PCM sits in one
// static buffer. A RIFF image plays its own format; anything else is offered to the decoder
// plug-ins and decoded into 16-bit PCM (at most kMaxDecodedBytes). A file whose header states its
// length returns once its first second is decoded, and a worker decodes the rest into the same
// memory while the sound can already play (every result about the sound is what a whole decode
// gives; the sound holds, silent, if it ever catches up with the decoder); an image in memory, or
// a file that states no length, is decoded whole before the load returns. A RIFF file loads the
// same way: its head is read up to the data chunk, and its data goes from the file straight into
// the sound's memory, the first second before the load returns (a file that shrinks while it is
// read keeps the length its head stated and ends in silence). Every load that gets as
// far as a format prints the two "WAV Header Info" lines, refused formats included. A sound under
// the number is replaced only once the new one is ready, so a failed load leaves it playable.
//
// Loading the same unchanged file again while a sound made from it lives shares that sound's PCM
// instead of reading and decoding the file again (the player loads every track twice: a trial
// load, then the real one); the two sounds stay independent, each with its own cursor.
//
// Main thread only.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "audio/decoders/sound_decoder.h"
#include "core/object_table.h"
#include "platform/soundout/sound_output.h"

namespace lunadio {

// A decoded sound is cut to this many bytes of PCM: the largest buffer the output service makes
// (3 h 22 min of 16-bit stereo at 44.1 kHz).
inline constexpr std::uint32_t kMaxDecodedBytes = soundout::kMaxBufferBytes;

// 0 on failure; on success the new dynamic identifier for ObjectAny, else a non-zero value.
// flags: LoadStreamed (sound_decoder.h) makes a streamed sound (stream_sound.h).
ObjectNumber loadSound(ObjectNumber number, std::u16string_view fileName, int flags = 0);
// The image is only read during the call, except for a streamed sound, which reads it until the
// sound is freed.
ObjectNumber loadSoundFromMemory(ObjectNumber number, const void* image, std::size_t bytes,
                                 int flags = 0);

// The two chunks of a RIFF image that a sound needs. `format` is the "fmt " body (16 bytes or
// more); `data` is the "data" body, cut to what the image holds (to whole frames) when its size
// field runs past the end.
struct RiffWave {
  std::span<const std::uint8_t> format;
  std::span<const std::uint8_t> data;
};
bool isRiffImage(std::span<const std::uint8_t> image);
// Null for an image without a whole "fmt " chunk of 16 bytes or more followed (not necessarily
// next) by a "data" chunk, or with a chunk on the way whose size points past the end.
std::optional<RiffWave> parseRiffWave(std::span<const std::uint8_t> image);

// Adds the end routine that forgets the shared decodes (EndStage::Sound).
void registerDecodersLifecycle();

// How long the decode a file load waits for before it returns; the rest goes on on a worker.
inline constexpr std::uint32_t kFirstDecodeMs = 1000;

// -- Test seams. Progressive: as the program loads; Whole: every file decoded before the load
// returns (benchmarks compare the two).
enum class DecodeMode { Progressive, Whole };
void setDecodeModeForTests(DecodeMode mode);
// How loadSound reads a file's bytes (::read when null), so tests can make reads
// fail part-way. The worker of a RIFF file's load reads through the one set when the load began.
using SoundFileReader = long (*)(int fd, void* destination, std::size_t bytes);
void setSoundFileReaderForTests(SoundFileReader reader);

}  // namespace lunadio
