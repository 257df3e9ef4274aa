// The FLAC plug-in, on libFLAC's stream decoder. The library pushes whole frames into a write
// callback; `read` pulls, so the frames of a library frame that do not fit a request wait in a
// carry-over block for the next one. That block is made once, at open, for the format's largest
// block (65,536 frames) whatever STREAMINFO claims: writers understate their largest block, and the
// library decodes such frames all the same, so a header must not decide what is kept. Nothing
// allocates inside the library's callbacks; no callback lets an exception through either. Every
// stream comes out as 16-bit stereo whatever its depth and channel count: mono is written to both
// sides and more than two channels are mixed down.

#include <FLAC/stream_decoder.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "audio/decoders/byte_source.h"
#include "audio/decoders/flac_stereo.h"
#include "audio/decoders/sound_decoder.h"
#include "core/no_throw.h"

namespace lunadio {
namespace {

constexpr int kOutputChannels = 2;
constexpr std::int32_t kOutputFrameBytes = kOutputChannels * 2;
// FLAC's largest block: a frame header's 16-bit size field holds the block size minus one.
constexpr unsigned kLargestFlacBlockFrames = 65536;
// Calls that decode nothing and consume nothing before a read gives up on the stream.
constexpr int kMaxIdleCalls = 64;

// Any depth from 4 to 32 bits, brought to 16 bits by its most significant bits.
inline std::int32_t toSixteenBits(std::int32_t sample, unsigned bitsPerSample) {
  if (bitsPerSample == 16) return sample;
  if (bitsPerSample > 16) return sample >> (bitsPerSample - 16);
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(sample) << (16 - bitsPerSample));
}

inline void storeSample(std::uint8_t* destination, std::int32_t value) {
  const auto sample = static_cast<std::int16_t>(std::clamp(value, -32768, 32767));
  std::memcpy(destination, &sample, sizeof sample);
}

// Stereo weights for each channel of FLAC's fixed layouts (3 to 8 channels), before
// normalisation: front sides to their side, centre and the centre back to both at -3 dB, the
// surrounds to their side at -3 dB. The low-frequency channel carries nothing a stereo pair can
// play and is left out, as stereo downmixes do.
struct DownmixWeights {
  std::array<float, 8> left{};
  std::array<float, 8> right{};
};

DownmixWeights downmixWeights(unsigned channels) {
  constexpr float kHalfPower = 0.70710678f;
  DownmixWeights w;
  w.left[0] = 1.0f;
  w.right[1] = 1.0f;
  auto both = [&](unsigned c, float g) {
    w.left[c] = g;
    w.right[c] = g;
  };
  auto pair = [&](unsigned l, unsigned r, float g) {
    w.left[l] = g;
    w.right[r] = g;
  };
  switch (channels) {
    case 3:
      both(2, kHalfPower);
      break;  // L R C
    case 4:
      pair(2, 3, kHalfPower);
      break;  // L R BL BR
    case 5:
      both(2, kHalfPower);
      pair(3, 4, kHalfPower);
      break;  // L R C BL BR
    case 6:
      both(2, kHalfPower);
      pair(4, 5, kHalfPower);
      break;  // L R C LFE BL BR
    case 7:
      both(2, kHalfPower);
      both(4, 0.5f);
      pair(5, 6, kHalfPower);
      break;  // .. BC SL SR
    case 8:
      both(2, kHalfPower);
      pair(4, 5, kHalfPower);
      pair(6, 7, kHalfPower);
      break;
    default:
      break;
  }
  float leftSum = 0, rightSum = 0;
  for (unsigned c = 0; c < 8; ++c) {
    leftSum += w.left[c];
    rightSum += w.right[c];
  }
  // Normalised so that full-scale channels in phase never clip.
  for (unsigned c = 0; c < 8; ++c) {
    w.left[c] /= leftSum;
    w.right[c] /= rightSum;
  }
  return w;
}

}  // namespace

void flacFramesToStereo16(const std::int32_t* const channels[], unsigned channelCount,
                          unsigned bits, unsigned first, unsigned count, std::uint8_t* out) {
  const std::int32_t* left = channels[0];
  if (channelCount <= 2) {
    const std::int32_t* right = channelCount == 2 ? channels[1] : channels[0];
    for (unsigned i = first; i < first + count; ++i, out += kOutputFrameBytes) {
      storeSample(out, toSixteenBits(left[i], bits));
      storeSample(out + 2, toSixteenBits(right[i], bits));
    }
    return;
  }
  const DownmixWeights w = downmixWeights(channelCount);
  for (unsigned i = first; i < first + count; ++i, out += kOutputFrameBytes) {
    float l = 0, r = 0;
    for (unsigned c = 0; c < channelCount && c < 8; ++c) {
      const auto s = static_cast<float>(toSixteenBits(channels[c][i], bits));
      l += w.left[c] * s;
      r += w.right[c] * s;
    }
    storeSample(out, static_cast<std::int32_t>(std::lround(l)));
    storeSample(out + 2, static_cast<std::int32_t>(std::lround(r)));
  }
}

namespace {

// Frames [first, first + count) of a library frame to 16-bit stereo at `out`.
void convertFrames(const FLAC__Frame& frame, const FLAC__int32* const channels[], unsigned first,
                   unsigned count, std::uint8_t* out) {
  flacFramesToStereo16(channels, frame.header.channels, frame.header.bits_per_sample, first, count,
                       out);
}

struct DecoderDeleter {
  void operator()(FLAC__StreamDecoder* decoder) const {
    FLAC__stream_decoder_finish(decoder);
    FLAC__stream_decoder_delete(decoder);
  }
};

class FlacHandle final : public DecoderHandle {
 public:
  explicit FlacHandle(ByteSource source) : source_(source) {}

  bool open() {
    decoder_.reset(FLAC__stream_decoder_new());
    if (!decoder_) return false;
    if (FLAC__stream_decoder_init_stream(
            decoder_.get(), readCallback, seekCallback, tellCallback, lengthCallback, eofCallback,
            writeCallback, nullptr, errorCallback, this) != FLAC__STREAM_DECODER_INIT_STATUS_OK) {
      return false;
    }
    FLAC__stream_decoder_process_until_end_of_metadata(decoder_.get());
    carry_.resize(std::size_t{kLargestFlacBlockFrames} * kOutputChannels);
    // The first frame only makes the library report the layout; its samples are dropped.
    mode_ = Mode::Discard;
    FLAC__stream_decoder_process_single(decoder_.get());
    const unsigned channels = FLAC__stream_decoder_get_channels(decoder_.get());
    const unsigned rate = FLAC__stream_decoder_get_sample_rate(decoder_.get());
    if (channels == 0 || rate == 0) return false;
    rewind();
    const FLAC__uint64 total = FLAC__stream_decoder_get_total_samples(decoder_.get());
    setFormat(kOutputChannels,
              static_cast<std::uint32_t>(std::min<FLAC__uint64>(total, UINT32_MAX)),
              static_cast<int>(rate));
    return true;
  }

  std::int32_t read(std::uint8_t* destination, std::int32_t byteCount, AtEnd atEnd) override {
    if (byteCount < kOutputFrameBytes) return 0;
    cursor_ = destination;
    remainingBytes_ = byteCount - byteCount % kOutputFrameBytes;
    const std::int32_t wanted = remainingBytes_;
    takeFromCarry();
    mode_ = Mode::Fill;
    bool restarted = false;
    std::uint64_t deliveredAtRestart = 0;
    int idleCalls = 0;
    while (remainingBytes_ >= kOutputFrameBytes) {
      const std::uint64_t deliveredBefore = framesDelivered_;
      const std::int64_t positionBefore = source_.tell();
      if (!FLAC__stream_decoder_process_single(decoder_.get())) break;
      if (FLAC__stream_decoder_get_state(decoder_.get()) == FLAC__STREAM_DECODER_END_OF_STREAM) {
        // A whole pass that gave nothing ends the read even when looping.
        if (atEnd != AtEnd::Loop || (restarted && framesDelivered_ == deliveredAtRestart)) break;
        restarted = true;
        deliveredAtRestart = framesDelivered_;
        if (!returnToFirstFrame()) break;
        idleCalls = 0;
        continue;
      }
      const bool idle = framesDelivered_ == deliveredBefore && source_.tell() == positionBefore;
      idleCalls = idle ? idleCalls + 1 : 0;
      if (idleCalls > kMaxIdleCalls) break;
    }
    mode_ = Mode::Discard;
    cursor_ = nullptr;
    return wanted - remainingBytes_;
  }

  // Back to sample 0 with no room to write: the frame that holds it becomes the carry-over, so
  // the next read starts with it.
  void rewind() override {
    dropCarry();
    mode_ = Mode::Fill;
    cursor_ = nullptr;
    remainingBytes_ = 0;
    returnToFirstFrame();
    mode_ = Mode::Discard;
  }

 private:
  enum class Mode { Discard, Fill };

  bool returnToFirstFrame() {
    if (FLAC__stream_decoder_seek_absolute(decoder_.get(), 0)) return true;
    // Streams the library cannot seek in (no length in the header, damaged frames) start over
    // from the top instead: the next frames decoded are the first ones.
    dropCarry();
    if (!FLAC__stream_decoder_reset(decoder_.get())) return false;
    return FLAC__stream_decoder_process_until_end_of_metadata(decoder_.get());
  }

  void takeFromCarry() {
    const std::size_t available = carryFrames_ - carryConsumedFrames_;
    const std::size_t take =
        std::min<std::size_t>(available, static_cast<std::size_t>(remainingBytes_) / 4);
    if (take == 0) return;
    std::memcpy(cursor_, carry_.data() + carryConsumedFrames_ * kOutputChannels,
                take * kOutputFrameBytes);
    cursor_ += take * kOutputFrameBytes;
    remainingBytes_ -= static_cast<std::int32_t>(take * kOutputFrameBytes);
    carryConsumedFrames_ += take;
    if (carryConsumedFrames_ == carryFrames_) dropCarry();
  }

  void dropCarry() {
    carryFrames_ = 0;
    carryConsumedFrames_ = 0;
  }

  void acceptFrame(const FLAC__Frame& frame, const FLAC__int32* const buffer[]) {
    if (mode_ == Mode::Discard) return;
    const unsigned frames = frame.header.blocksize;
    const auto fit = std::min<unsigned>(frames, static_cast<unsigned>(remainingBytes_) / 4);
    if (fit > 0) {
      convertFrames(frame, buffer, 0, fit, cursor_);
      cursor_ += std::size_t{fit} * kOutputFrameBytes;
      remainingBytes_ -= static_cast<std::int32_t>(fit * kOutputFrameBytes);
    }
    if (fit < frames) {
      // The carry-over is empty here (a read takes it all before it decodes again) and holds
      // the largest block the format allows: every frame of the overhang fits.
      const std::size_t room = carry_.size() / kOutputChannels - carryFrames_;
      const auto kept = static_cast<unsigned>(std::min<std::size_t>(frames - fit, room));
      convertFrames(
          frame, buffer, fit, kept,
          reinterpret_cast<std::uint8_t*>(carry_.data() + carryFrames_ * kOutputChannels));
      carryFrames_ += kept;
    }
    framesDelivered_ += frames;
  }

  static FLAC__StreamDecoderWriteStatus writeCallback(const FLAC__StreamDecoder*,
                                                      const FLAC__Frame* frame,
                                                      const FLAC__int32* const buffer[],
                                                      void* client) {
    return noThrow(FLAC__STREAM_DECODER_WRITE_STATUS_ABORT, [&] {
      static_cast<FlacHandle*>(client)->acceptFrame(*frame, buffer);
      return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    });
  }

  // Damaged frames come out as silence from the library; nothing to add.
  static void errorCallback(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void*) {}

  static FLAC__StreamDecoderReadStatus readCallback(const FLAC__StreamDecoder*, FLAC__byte buffer[],
                                                    size_t* bytes, void* client) {
    const std::size_t wanted = *bytes;
    *bytes = 0;
    return noThrow(FLAC__STREAM_DECODER_READ_STATUS_ABORT, [&] {
      *bytes = static_cast<FlacHandle*>(client)->source_.read(buffer, wanted);
      return *bytes == 0 ? FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM
                         : FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
    });
  }

  static FLAC__StreamDecoderSeekStatus seekCallback(const FLAC__StreamDecoder*, FLAC__uint64 offset,
                                                    void* client) {
    if (offset > static_cast<FLAC__uint64>(INT64_MAX))
      return FLAC__STREAM_DECODER_SEEK_STATUS_ERROR;
    return noThrow(FLAC__STREAM_DECODER_SEEK_STATUS_ERROR, [&] {
      return static_cast<FlacHandle*>(client)->source_.seek(static_cast<std::int64_t>(offset),
                                                            SEEK_SET)
                 ? FLAC__STREAM_DECODER_SEEK_STATUS_OK
                 : FLAC__STREAM_DECODER_SEEK_STATUS_ERROR;
    });
  }

  static FLAC__StreamDecoderTellStatus tellCallback(const FLAC__StreamDecoder*,
                                                    FLAC__uint64* offset, void* client) {
    const std::int64_t position =
        noThrow(std::int64_t{-1}, [&] { return static_cast<FlacHandle*>(client)->source_.tell(); });
    if (position < 0) return FLAC__STREAM_DECODER_TELL_STATUS_ERROR;
    *offset = static_cast<FLAC__uint64>(position);
    return FLAC__STREAM_DECODER_TELL_STATUS_OK;
  }

  static FLAC__StreamDecoderLengthStatus lengthCallback(const FLAC__StreamDecoder*,
                                                        FLAC__uint64* length, void* client) {
    const std::int64_t bytes = noThrow(
        std::int64_t{-1}, [&] { return static_cast<FlacHandle*>(client)->source_.length(); });
    if (bytes < 0) return FLAC__STREAM_DECODER_LENGTH_STATUS_UNSUPPORTED;
    *length = static_cast<FLAC__uint64>(bytes);
    return FLAC__STREAM_DECODER_LENGTH_STATUS_OK;
  }

  static FLAC__bool eofCallback(const FLAC__StreamDecoder*, void* client) {
    return noThrow(true, [&] { return static_cast<FlacHandle*>(client)->source_.atEnd(); });
  }

  ByteSource source_;
  std::unique_ptr<FLAC__StreamDecoder, DecoderDeleter> decoder_;
  // Where the write callback puts frames: dropped (Discard), or at cursor_ with remainingBytes_
  // of room and the overhang into carry_ (Fill).
  Mode mode_ = Mode::Discard;
  std::uint8_t* cursor_ = nullptr;
  std::int32_t remainingBytes_ = 0;
  // Interleaved stereo frames decoded beyond the last request: room for the format's largest
  // block, made at open; carryFrames_ of it hold frames, carryConsumedFrames_ of those are taken.
  std::vector<std::int16_t> carry_;
  std::size_t carryFrames_ = 0;
  std::size_t carryConsumedFrames_ = 0;
  std::uint64_t framesDelivered_ = 0;
};

class FlacDecoder final : public SoundDecoder {
 public:
  std::string_view name() const override { return "FLAC"; }

  std::unique_ptr<DecoderHandle> open(const DecoderSource& source, int /*flags*/) const override {
    auto handle = std::make_unique<FlacHandle>(source.file ? ByteSource(source.file)
                                                           : ByteSource(source.image));
    if (!handle->open()) return nullptr;
    return handle;
  }
};

}  // namespace

const SoundDecoder& flacDecoder() {
  static const FlacDecoder decoder;
  return decoder;
}

void useFlacDecoder() {
  if (!isSoundDecoderRegistered(flacDecoder())) registerSoundDecoder(flacDecoder());
}

}  // namespace lunadio
