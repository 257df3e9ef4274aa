#pragma once
// Decoder plug-ins: how compressed sounds reach the engine.
//
// Contract of a plug-in (SoundDecoder):
//   open(source) -> DecoderHandle or null -> read/rewind ... -> destroy the handle (close).
//   - open is offered a memory image or an open stdio stream positioned at its start. It returns
//     null when the source is not in its format or cannot be set up, having released everything
//     it made; it never closes the stream (the prober owns it until a plug-in accepts).
//   - read writes 16-bit signed little-endian interleaved PCM of channels() channels and returns
//     the bytes written: whole frames only, never more than asked. At the end of the source it
//     stops (AtEnd::Stop, short count, 0 when already at the end) or starts over from the first
//     frame (AtEnd::Loop). A pass over the whole source that yields no PCM ends the read even when
//     looping, so a source without decodable audio never spins.
//   - channels, frameCount and sampleRate are fixed when the source is opened; channels and
//     sampleRate are never 0 for an accepted source. frameCount is 0 when the source does not
//     say how long it is.
// Threads: the decoder table belongs to the main thread (registration at start-up, probing during
// loads). A handle is used by one thread at a time: the loading thread, or a streamed sound's
// refill thread while it runs (the caller waits for that thread before it touches the handle).

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string_view>

namespace lunadio {

enum class AtEnd { Stop, Loop };

// Load flags passed through to the plug-ins; bit 0 asks for a streamed sound.
inline constexpr int LoadStreamed = 1;

class SoundDecoder;

struct FileCloser {
  void operator()(std::FILE* file) const {
    if (file) std::fclose(file);
  }
};
using OwnedFile = std::unique_ptr<std::FILE, FileCloser>;

// One open source. Destroying it is the plug-in's `close`: decoding ends and the stream the
// handle owns (a file source) is closed after the plug-in's own state is gone.
class DecoderHandle {
 public:
  DecoderHandle() = default;
  DecoderHandle(const DecoderHandle&) = delete;
  DecoderHandle& operator=(const DecoderHandle&) = delete;
  virtual ~DecoderHandle() = default;

  virtual std::int32_t read(std::uint8_t* destination, std::int32_t byteCount, AtEnd atEnd) = 0;
  virtual void rewind() = 0;

  int channels() const { return channels_; }
  std::uint32_t frameCount() const { return frameCount_; }
  int sampleRate() const { return sampleRate_; }

  // The plug-in that opened this source, and the stream it reads (null for a memory image).
  const SoundDecoder* decoder() const { return decoder_; }
  std::FILE* file() const { return file_.get(); }

 protected:
  void setFormat(int channels, std::uint32_t frameCount, int sampleRate) {
    channels_ = channels;
    frameCount_ = frameCount;
    sampleRate_ = sampleRate;
  }

 private:
  friend class DecoderProber;
  // Declared first so that it is destroyed last, after the plug-in's state that reads from it.
  OwnedFile file_;
  const SoundDecoder* decoder_ = nullptr;
  int channels_ = 0;
  std::uint32_t frameCount_ = 0;
  int sampleRate_ = 0;
};

// What a plug-in is offered: exactly one of a stream or an image.
struct DecoderSource {
  std::FILE* file = nullptr;
  std::span<const std::uint8_t> image;
};

class SoundDecoder {
 public:
  virtual ~SoundDecoder() = default;
  virtual std::string_view name() const = 0;
  virtual std::unique_ptr<DecoderHandle> open(const DecoderSource& source, int flags) const = 0;
};

// The decoder table: probing order is registration order.
inline constexpr int kMaxSoundDecoders = 8;

// Appends a plug-in; false (nothing registered) when the table is full or the plug-in is already
// in it.
bool registerSoundDecoder(const SoundDecoder& decoder);
bool isSoundDecoderRegistered(const SoundDecoder& decoder);
int soundDecoderCount();
// Empties the table (tests).
void clearSoundDecoders();

// The first plug-in that accepts the source, or null.
std::unique_ptr<DecoderHandle> openDecoderForMemory(std::span<const std::uint8_t> image, int flags);
// `path` is UTF-16; the stream belongs to the handle that accepts it and is closed otherwise.
std::unique_ptr<DecoderHandle> openDecoderForFile(std::u16string_view path, int flags);

// The two adapters of the system. Each registers itself the first time it is called.
void useVorbisDecoder();
void useFlacDecoder();
const SoundDecoder& vorbisDecoder();
const SoundDecoder& flacDecoder();

}  // namespace lunadio
