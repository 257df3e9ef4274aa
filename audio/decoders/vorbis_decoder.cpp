// The Ogg Vorbis plug-in, on libvorbisfile. The library reads through ByteSource callbacks for
// both kinds of source (it never closes the stream: the handle owns it), and every source passes
// the setup-header guard before the library sees it.

#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <climits>

#include "audio/decoders/byte_source.h"
#include "audio/decoders/sound_decoder.h"
#include "audio/decoders/vorbis_setup_check.h"

namespace lunadio {
namespace {

// ov_read is asked for at most this many bytes per call.
constexpr std::int32_t kReadChunkBytes = 4096;

std::size_t readCallback(void* destination, std::size_t size, std::size_t count, void* source) {
  if (size == 0) return 0;
  const std::size_t bytes = static_cast<ByteSource*>(source)->read(destination, size * count);
  return bytes / size;
}

int seekCallback(void* source, ogg_int64_t offset, int whence) {
  return static_cast<ByteSource*>(source)->seek(offset, whence) ? 0 : -1;
}

long tellCallback(void* source) {
  return static_cast<long>(static_cast<ByteSource*>(source)->tell());
}

// No close callback: the stream of a file source is closed by the handle that owns it.
constexpr ov_callbacks kCallbacks = {readCallback, seekCallback, nullptr, tellCallback};

class VorbisHandle final : public DecoderHandle {
 public:
  explicit VorbisHandle(ByteSource source) : source_(source) {}
  ~VorbisHandle() override {
    if (opened_) ov_clear(&file_);
  }

  bool open() {
    if (ov_open_callbacks(&source_, &file_, nullptr, 0, kCallbacks) < 0) return false;
    opened_ = true;
    const vorbis_info* info = ov_info(&file_, 0);
    if (!info || info->channels <= 0 || info->rate <= 0 || info->rate > INT_MAX) return false;
    const ogg_int64_t total = ov_pcm_total(&file_, -1);
    // A length beyond 32 bits is kept as the largest one rather than wrapped to a short one.
    const auto frames =
        total < 0 ? 0u : static_cast<std::uint32_t>(std::min<ogg_int64_t>(total, UINT32_MAX));
    setFormat(info->channels, frames, static_cast<int>(info->rate));
    return true;
  }

  std::int32_t read(std::uint8_t* destination, std::int32_t byteCount, AtEnd atEnd) override {
    const std::int32_t frameBytes = channels() * 2;
    byteCount -= byteCount % frameBytes;
    std::int32_t done = 0;
    bool restarted = false;
    bool producedSinceRestart = false;
    while (done < byteCount) {
      const int chunk = std::min(kReadChunkBytes, byteCount - done);
      long got = 0;
      if (!pastLastLink_) {
        int link = 0;
        got = ov_read(&file_, reinterpret_cast<char*>(destination + done), chunk, 0, 2, 1, &link);
        if (got > 0 && !matchesFirstLink(link)) {
          // A link with another layout would come out as garbled PCM: the source ends here.
          pastLastLink_ = true;
          got = 0;
        }
      }
      if (got > 0) {
        done += static_cast<std::int32_t>(got);
        producedSinceRestart = true;
      } else if (got == OV_HOLE) {
        continue;  // a gap or a damaged page: the library has moved past it
      } else {
        // The end, or an error the library cannot move past.
        if (atEnd != AtEnd::Loop || (restarted && !producedSinceRestart)) break;
        if (!restartFromFirstFrame()) break;
        restarted = true;
        producedSinceRestart = false;
      }
    }
    return done;
  }

  void rewind() override { restartFromFirstFrame(); }

 private:
  bool matchesFirstLink(int link) const {
    const vorbis_info* info = ov_info(const_cast<OggVorbis_File*>(&file_), link);
    return info && info->channels == channels() && info->rate == sampleRate();
  }

  bool restartFromFirstFrame() {
    pastLastLink_ = false;
    return ov_raw_seek(&file_, 0) == 0;
  }

  ByteSource source_;
  OggVorbis_File file_{};
  bool opened_ = false;
  bool pastLastLink_ = false;  // set at the first link whose layout differs; cleared by rewind
};

class VorbisDecoder final : public SoundDecoder {
 public:
  std::string_view name() const override { return "Ogg Vorbis"; }

  std::unique_ptr<DecoderHandle> open(const DecoderSource& source, int /*flags*/) const override {
    ByteSource bytes = source.file ? ByteSource(source.file) : ByteSource(source.image);
    const std::int64_t start = bytes.tell();
    if (scanOggVorbisHeaders(bytes) != OggVorbisScan::Decodable) return nullptr;
    if (!bytes.seek(start, SEEK_SET)) return nullptr;
    if (source.file) std::clearerr(source.file);
    auto handle = std::make_unique<VorbisHandle>(bytes);
    if (!handle->open()) return nullptr;
    return handle;
  }
};

}  // namespace

const SoundDecoder& vorbisDecoder() {
  static const VorbisDecoder decoder;
  return decoder;
}

void useVorbisDecoder() {
  if (!isSoundDecoderRegistered(vorbisDecoder())) registerSoundDecoder(vorbisDecoder());
}

}  // namespace lunadio
