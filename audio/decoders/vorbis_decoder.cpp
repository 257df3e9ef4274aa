// The Ogg Vorbis plug-in, on libvorbisfile. The library reads through ByteSource callbacks for
// both kinds of source (it never closes the stream: the handle owns it), and every byte it reads
// passes the setup-header guard first (CheckedOggSource): the first link's headers are checked
// before the library opens the source, any other stream's before the library meets it.

#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "audio/decoders/byte_source.h"
#include "audio/decoders/pcm16_convert.h"
#include "audio/decoders/sound_decoder.h"
#include "audio/decoders/vorbis_setup_check.h"
#include "core/no_throw.h"

namespace lunadio {
namespace {

// The library is asked for at most this many bytes' worth of frames per call.
constexpr std::int32_t kReadChunkBytes = 4096;
// From this request size on, the PCM is written past the caches.
constexpr std::int32_t kBulkReadBytes = 64 * 1024;

// libvorbisfile's I/O callbacks: C calls, so nothing thrown may leave them (the checked source can
// run out of memory for its bookkeeping; the guard turns that into a failed read).
std::size_t readCallback(void* destination, std::size_t size, std::size_t count, void* source) {
  if (size == 0) return 0;
  return noThrow(std::size_t{0}, [&] {
    auto& checked = *static_cast<CheckedOggSource*>(source);
    const std::size_t got = checked.read(destination, size * count);
    // A refused source reads as failing, not as ended: the library gives up instead of looking on.
    if (got == 0 && checked.refused()) errno = EIO;
    return got / size;
  });
}

int seekCallback(void* source, ogg_int64_t offset, int whence) {
  return noThrow(
      -1, [&] { return static_cast<CheckedOggSource*>(source)->seek(offset, whence) ? 0 : -1; });
}

long tellCallback(void* source) {
  return noThrow(-1L,
                 [&] { return static_cast<long>(static_cast<CheckedOggSource*>(source)->tell()); });
}

// No close callback: the stream of a file source is closed by the handle that owns it.
constexpr ov_callbacks kCallbacks = {readCallback, seekCallback, nullptr, tellCallback};

class VorbisHandle final : public DecoderHandle {
 public:
  explicit VorbisHandle(ByteSource source) : source_(source), start_(source.tell()) {}
  ~VorbisHandle() override { close(); }

  bool open(std::FILE* file) {
    if (source_.open() != OggVorbisScan::Decodable) return false;
    if (file) std::clearerr(file);
    if (!openLibrary()) return false;
    const vorbis_info* info = ov_info(&file_, 0);
    if (!info || info->channels <= 0 || info->rate <= 0 || info->rate > INT_MAX) return false;
    setFormat(info->channels, 0, static_cast<int>(info->rate));  // the links are compared to it
    setFormat(info->channels, playedFrames(), static_cast<int>(info->rate));
    return true;
  }

  std::int32_t read(std::uint8_t* destination, std::int32_t byteCount, AtEnd atEnd) override {
    const std::int32_t frameBytes = channels() * 2;
    byteCount -= byteCount % frameBytes;
    std::int32_t done = 0;
    // A request this large fills a sound's memory, which is not read again before long.
    const PcmStores stores = byteCount >= kBulkReadBytes ? PcmStores::Bulk : PcmStores::Cached;
    bool restarted = false;
    bool producedSinceRestart = false;
    while (done < byteCount) {
      long got = 0;
      float** planes = nullptr;
      if (!pastLastLink_ && opened_) {
        // The library's float output, converted here: its own 16-bit read rounds one sample at a
        // time and costs about a tenth of the whole decode.
        const int frames = std::min(kReadChunkBytes, byteCount - done) / frameBytes;
        int link = 0;
        got = ov_read_float(&file_, &planes, frames, &link);
        if (got > 0 && !matchesFirstLink(link)) {
          // A link with another layout would come out as garbled PCM: the source ends here.
          pastLastLink_ = true;
          got = 0;
        }
      }
      if (got > 0) {
        interleaveFloatToPcm16(planes, channels(), static_cast<std::size_t>(got),
                               destination + done, stores);
        done += static_cast<std::int32_t>(got) * frameBytes;
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
  bool openLibrary() {
    if (ov_open_callbacks(&source_, &file_, nullptr, 0, kCallbacks) < 0) {
      libraryRefused_ = true;
      return false;
    }
    opened_ = true;
    // A later link refused while the library looked for the links: the source is refused whole.
    return !source_.refused();
  }

  void close() {
    if (opened_) ov_clear(&file_);
    opened_ = false;
  }

  bool matchesFirstLink(int link) const {
    const vorbis_info* info = ov_info(const_cast<OggVorbis_File*>(&file_), link);
    return info && info->channels == channels() && info->rate == sampleRate();
  }

  // The frames of the leading links that share the first link's layout: what plays. A length
  // beyond 32 bits is kept as the largest one rather than wrapped to a short one.
  std::uint32_t playedFrames() {
    ogg_int64_t total = 0;
    const long links = ov_streams(&file_);
    for (long link = 0; link < links && link <= INT_MAX; ++link) {
      if (!matchesFirstLink(static_cast<int>(link))) break;
      const ogg_int64_t frames = ov_pcm_total(&file_, static_cast<int>(link));
      if (frames < 0) return 0;
      total += frames;
      if (total >= UINT32_MAX) return UINT32_MAX;
    }
    return static_cast<std::uint32_t>(total);
  }

  // A fresh open from the first byte: the only way back that repeats the first pass sample for
  // sample (a raw seek to 0 skips the start-of-stream trimming the first open did).
  bool restartFromFirstFrame() {
    pastLastLink_ = false;
    close();
    // A source the library refused once (its reads fail, or what it reads is not what it read
    // before) is refused again, and every refused open loses a few bytes inside the library: the
    // source stays at its end instead of being opened again by every later read and rewind.
    if (libraryRefused_) return false;
    if (!source_.seek(start_, SEEK_SET)) return false;
    return openLibrary();
  }

  CheckedOggSource source_;
  const std::int64_t start_;  // where the stream began in the source
  OggVorbis_File file_{};
  bool opened_ = false;
  bool pastLastLink_ = false;    // set at the first link whose layout differs; cleared by rewind
  bool libraryRefused_ = false;  // an open of the library failed: no more attempts
};

class VorbisDecoder final : public SoundDecoder {
 public:
  std::string_view name() const override { return "Ogg Vorbis"; }

  std::unique_ptr<DecoderHandle> open(const DecoderSource& source, int /*flags*/) const override {
    auto handle = std::make_unique<VorbisHandle>(source.file ? ByteSource(source.file)
                                                             : ByteSource(source.image));
    if (!handle->open(source.file)) return nullptr;
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
