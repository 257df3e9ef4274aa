#include "audio/sound_loader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "audio/internal/progressive_decode.h"
#include "audio/internal/sound_buffers.h"
#include "audio/internal/sound_record.h"
#include "audio/internal/stream_sound.h"
#include "audio/sound.h"
#include "audio/sound_device.h"
#include "core/lifecycle.h"
#include "core/no_throw.h"
#include "core/strings.h"
#include "core/unique_fd.h"
#include "platform/soundout/sample_memory.h"
#include "platform/soundout/wave_format.h"

namespace lunadio {
namespace {

using soundout::SampleMemory;
using soundout::WaveFormat;

std::uint32_t readLe32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

bool hasId(std::span<const std::uint8_t> image, std::size_t at, const char (&id)[5]) {
  return std::memcmp(image.data() + at, id, 4) == 0;
}

// The PCM of a finished load and how to describe it: what a second load of the same file needs.
struct LoadedPcm {
  WaveFormat format;
  std::uint32_t bytes = 0;
  std::shared_ptr<SampleMemory> memory;
  std::shared_ptr<ProgressiveDecode> decode;  // while the memory is still being filled
};

// -- main thread only
DecodeMode decodeMode = DecodeMode::Progressive;

void reportFormat(const WaveFormat& format, std::uint32_t bytes) {
  std::printf("WAV Header Info: NbChannels %d, BitsPerSamples: %d, NbBlockAlign %d\n",
              format.channels, format.bitsPerSample, format.blockAlign);
  std::printf("WAV Header Info: SamplePerSec %d, nAvgBytesPerSec: %d, WavSize %d\n",
              static_cast<int>(format.samplesPerSec), static_cast<int>(format.avgBytesPerSec),
              static_cast<int>(bytes));
}

// Makes the buffer on `pcm` and puts it under `number`; 0 when the service refuses it.
ObjectNumber installPcm(ObjectNumber number, const LoadedPcm& pcm) {
  auto buffer = createStaticBuffer(pcm.format, pcm.bytes, pcm.memory);
  if (!buffer) return 0;
  const auto installed = installStaticSound(number, std::move(buffer), pcm.decode);
  if (!installed) return 0;
  return number == ObjectAny ? *installed : 1;
}

// Where the two chunks of a RIFF image lie, as far as its first bytes tell: the walk of
// parseRiffWave over an image of `imageBytes` bytes of which only `head` is at hand (the start of
// a file, say). NeedMore when the walk needs the first `neededBytes` (never more than the image).
struct RiffWalk {
  enum Status { Found, NeedMore, Refused } status = Refused;
  std::size_t neededBytes = 0;
  std::size_t formatAt = 0;  // the "fmt " body
  std::uint32_t formatBytes = 0;
  std::size_t dataAt = 0;     // the "data" body
  std::size_t dataBytes = 0;  // cut to the image, in whole frames, when its size runs past the end
};

RiffWalk walkRiff(std::span<const std::uint8_t> head, std::size_t imageBytes) {
  const std::size_t size = imageBytes;
  RiffWalk walk;
  // False when the walk stops here, refused or (walk.status) needing the first `bytes`.
  const auto within = [&](std::size_t bytes) {
    if (head.size() >= bytes) return true;
    walk.status = RiffWalk::NeedMore;
    walk.neededBytes = bytes;
    return false;
  };
  // Walks from `at` to the chunk named `id`; every chunk passed on the way must lie inside the
  // image. Gives the offset of the header and the size field.
  const auto findChunk = [&](std::size_t& at, const char(&id)[5], std::uint32_t& bodyBytes) {
    while (at <= size && size - at >= 8) {
      if (!within(at + 8)) return false;
      bodyBytes = readLe32(head.data() + at + 4);
      if (hasId(head, at, id)) return true;
      const std::uint64_t next = std::uint64_t{at} + 8 + bodyBytes + (bodyBytes & 1);
      if (next > size) return false;
      at = static_cast<std::size_t>(next);
    }
    return false;
  };
  std::size_t at = 12;
  std::uint32_t formatBytes = 0;
  if (!findChunk(at, "fmt ", formatBytes)) return walk;
  if (formatBytes < 16 || formatBytes > size - at - 8) return walk;
  if (!within(at + 8 + formatBytes)) return walk;
  walk.formatAt = at + 8;
  walk.formatBytes = formatBytes;
  at += 8 + std::size_t{formatBytes} + (formatBytes & 1);
  std::uint32_t dataBytes = 0;
  if (!findChunk(at, "data", dataBytes)) return walk;
  walk.status = RiffWalk::Found;
  walk.dataAt = at + 8;
  const std::size_t available = size - at - 8;
  if (dataBytes <= available) {
    walk.dataBytes = dataBytes;
  } else {
    // An interrupted recording: play what is there, in whole frames.
    const std::uint8_t* format = head.data() + walk.formatAt;
    const auto blockAlign = static_cast<std::uint16_t>(format[12] | format[13] << 8);
    walk.dataBytes = blockAlign ? available - available % blockAlign : available;
  }
  return walk;
}

// The format and length of a RIFF sound, reported; null when it is no sound (not even one frame).
std::optional<LoadedPcm> riffSound(std::span<const std::uint8_t> formatBody,
                                   std::size_t dataBytes) {
  const auto format = soundout::parseWaveFormat(formatBody);
  if (!format) return std::nullopt;
  LoadedPcm pcm;
  pcm.format = *format;
  pcm.bytes = static_cast<std::uint32_t>(std::min<std::size_t>(dataBytes, UINT32_MAX));
  reportFormat(pcm.format, pcm.bytes);
  // Not even one frame: nothing to play.
  if (pcm.bytes < pcm.format.blockAlign || pcm.format.blockAlign == 0) return std::nullopt;
  return pcm;
}

std::optional<LoadedPcm> pcmFromRiff(std::span<const std::uint8_t> image) {
  const auto riff = parseRiffWave(image);
  if (!riff) return std::nullopt;
  auto pcm = riffSound(riff->format, riff->data.size());
  if (!pcm) return std::nullopt;
  pcm->memory = SampleMemory::allocate(pcm->bytes);
  if (!pcm->memory) return std::nullopt;
  std::memcpy(pcm->memory->data(), riff->data.data(), pcm->bytes);
  return pcm;
}

// Decodes the whole source from its start, without looping. A source that decodes short of its
// stated length ends in silence; one that states no length is decoded until it ends. Either is
// cut at kMaxDecodedBytes.
std::optional<LoadedPcm> decodeWhole(DecoderHandle& decoder) {
  const auto channels = static_cast<std::uint32_t>(decoder.channels());
  const std::uint32_t frameBytes = channels * 2;
  const std::uint32_t limitBytes = kMaxDecodedBytes - kMaxDecodedBytes % frameBytes;
  const std::uint64_t statedBytes = std::uint64_t{decoder.frameCount()} * frameBytes;
  LoadedPcm pcm;
  pcm.format = soundout::pcm16Format(static_cast<std::uint16_t>(channels),
                                     static_cast<std::uint32_t>(decoder.sampleRate()));
  if (statedBytes > 0) {
    pcm.bytes = static_cast<std::uint32_t>(std::min<std::uint64_t>(statedBytes, limitBytes));
    pcm.memory = SampleMemory::allocate(pcm.bytes);  // zero: silence where the decode falls short
    if (!pcm.memory) return std::nullopt;
    // In the worker's chunks: each chunk's pages are mapped just before it is written, so its
    // writes land in the cache that the mapping's zeroing has just filled.
    decodeRemaining(decoder, *pcm.memory, 0, pcm.bytes, frameBytes);
  } else {
    std::vector<std::int16_t> samples;
    std::uint32_t decoded = 0;
    for (std::uint32_t step = 1u << 20; decoded < limitBytes;
         step = std::min(step * 2, 16u << 20)) {
      const std::uint32_t room = std::min(step - step % frameBytes, limitBytes - decoded);
      samples.resize((std::size_t{decoded} + room) / 2);
      const std::int32_t got =
          decoder.read(reinterpret_cast<std::uint8_t*>(samples.data()) + decoded,
                       static_cast<std::int32_t>(room), AtEnd::Stop);
      decoded += static_cast<std::uint32_t>(std::max(got, 0));
      if (static_cast<std::uint32_t>(got) < room) break;
    }
    if (decoded == 0) return std::nullopt;
    samples.resize(decoded / 2);
    samples.shrink_to_fit();
    pcm.bytes = decoded;
    pcm.memory = SampleMemory::adopt(std::move(samples));
    if (!pcm.memory) return std::nullopt;
  }
  reportFormat(pcm.format, pcm.bytes);
  return pcm;
}

// Fills `pcm.memory` from `source`, which has written its first `filledBytes` already: up to the
// first second here, the rest on a worker while the sound already plays. A source that runs short
// of the memory's length ends in what the memory holds there (silence).
void fillProgressively(std::unique_ptr<DecoderHandle>& source, LoadedPcm& pcm,
                       std::uint32_t filledBytes) {
  const std::uint32_t frameBytes = pcm.format.blockAlign;
  const std::uint64_t secondBytes =
      std::uint64_t{pcm.format.samplesPerSec} * kFirstDecodeMs / 1000 * frameBytes;
  // In whole frames, so that the worker publishes whole frames too.
  const std::uint64_t filledFrameBytes =
      (std::uint64_t{filledBytes} + frameBytes - 1) / frameBytes * frameBytes;
  const auto firstBytes = static_cast<std::uint32_t>(
      std::min<std::uint64_t>(pcm.bytes, std::max<std::uint64_t>(filledFrameBytes, secondBytes)));
  const std::uint32_t wanted = firstBytes - filledBytes;
  pcm.memory->prepareForWriting(filledBytes, wanted);
  const std::int32_t got = wanted == 0
                               ? 0
                               : source->read(pcm.memory->data() + filledBytes,
                                              static_cast<std::int32_t>(wanted), AtEnd::Stop);
  if (static_cast<std::uint32_t>(std::max(got, 0)) < wanted || firstBytes == pcm.bytes) {
    pcm.memory->setReadyBytes(pcm.bytes);  // over already: the rest is silence
    return;
  }
  pcm.memory->setReadyBytes(firstBytes);
  pcm.decode = ProgressiveDecode::start(source, pcm.memory, firstBytes, pcm.bytes, frameBytes);
  // No worker to be had: the fill ends here, as a whole one.
  if (!pcm.decode) decodeRemaining(*source, *pcm.memory, firstBytes, pcm.bytes, frameBytes);
}

// A file's decode: progressive when the source states its length (so that every result about the
// sound is the same as for a whole decode); a source that does not is decoded whole.
std::optional<LoadedPcm> decodeFile(std::unique_ptr<DecoderHandle>& decoder) {
  if (decodeMode == DecodeMode::Whole || decoder->frameCount() == 0) return decodeWhole(*decoder);
  const auto channels = static_cast<std::uint32_t>(decoder->channels());
  const std::uint32_t frameBytes = channels * 2;
  const std::uint32_t limitBytes = kMaxDecodedBytes - kMaxDecodedBytes % frameBytes;
  LoadedPcm pcm;
  pcm.format = soundout::pcm16Format(static_cast<std::uint16_t>(channels),
                                     static_cast<std::uint32_t>(decoder->sampleRate()));
  pcm.bytes = static_cast<std::uint32_t>(
      std::min<std::uint64_t>(std::uint64_t{decoder->frameCount()} * frameBytes, limitBytes));
  pcm.memory = SampleMemory::allocateUnfilled(pcm.bytes);
  if (!pcm.memory) return std::nullopt;
  fillProgressively(decoder, pcm, 0);
  reportFormat(pcm.format, pcm.bytes);
  return pcm;
}

ObjectNumber loadImage(ObjectNumber number, std::span<const std::uint8_t> image, int flags) {
  if (image.data() == nullptr) return 0;
  std::optional<LoadedPcm> pcm;
  if (isRiffImage(image)) {
    pcm = pcmFromRiff(image);
  } else {
    auto decoder = openDecoderForMemory(image, flags);
    if (!decoder) return 0;
    if (flags & LoadStreamed) return loadStreamedSound(number, std::move(decoder));
    pcm = decodeWhole(*decoder);
  }
  if (!pcm) return 0;
  return installPcm(number, *pcm);
}

// -- Shared decodes ------------------------------------------------------------------------------
// The PCM of recent file loads, held weakly: it lives only as long as a sound plays from it.
// -- main thread only
struct FileIdentity {
  std::string path;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};
  timespec changed{};

  bool sameAs(const FileIdentity& other) const {
    return path == other.path && device == other.device && inode == other.inode &&
           size == other.size && modified.tv_sec == other.modified.tv_sec &&
           modified.tv_nsec == other.modified.tv_nsec && changed.tv_sec == other.changed.tv_sec &&
           changed.tv_nsec == other.changed.tv_nsec;
  }
};

FileIdentity identityOf(const std::string& path, const struct stat& info) {
  return {path, info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim};
}

struct SharedDecode {
  FileIdentity file;
  WaveFormat format;
  std::uint32_t bytes = 0;
  std::weak_ptr<SampleMemory> memory;
  std::weak_ptr<ProgressiveDecode> decode;  // the decode still filling the memory, if any
};

constexpr std::size_t kSharedDecodes = 4;

std::deque<SharedDecode>& sharedDecodes() {
  static std::deque<SharedDecode> decodes;
  return decodes;
}

std::optional<LoadedPcm> findSharedDecode(const FileIdentity& file) {
  for (const SharedDecode& entry : sharedDecodes()) {
    if (!entry.file.sameAs(file)) continue;
    auto memory = entry.memory.lock();
    if (!memory) return std::nullopt;
    return LoadedPcm{entry.format, entry.bytes, std::move(memory), entry.decode.lock()};
  }
  return std::nullopt;
}

void rememberDecode(const FileIdentity& file, const LoadedPcm& pcm) {
  auto& decodes = sharedDecodes();
  std::erase_if(decodes, [&](const SharedDecode& entry) {
    return entry.file.path == file.path || entry.memory.expired();
  });
  decodes.push_front({file, pcm.format, pcm.bytes, pcm.memory, pcm.decode});
  if (decodes.size() > kSharedDecodes) decodes.pop_back();
}

// -- main thread only
SoundFileReader fileReader = nullptr;

long readWithSystem(int fd, void* destination, std::size_t bytes) {
  return ::read(fd, destination, bytes);
}

// How a load reads its file: the test seam, else ::read. A worker keeps the one its load began
// with, so that the seam is only ever read on the main thread.
SoundFileReader currentReader() { return fileReader ? fileReader : readWithSystem; }

// Reads up to `bytes` into `destination`; gives how many came before the reads ended (a short
// read ends them: the file is what was read).
std::size_t readFully(SoundFileReader reader, int fd, std::uint8_t* destination,
                      std::size_t bytes) {
  std::size_t got = 0;
  while (got < bytes) {
    const long n = reader(fd, destination + got, bytes - got);
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  return got;
}

// The data chunk of a RIFF file, read from the file straight into the sound's memory: the source
// of a progressive fill, whose frames are the file's own (blockAlign bytes of any sample format,
// not the 16-bit PCM of a plug-in). The fill reads it once, front to back, so a read stops at the
// data's end whatever AtEnd says. A file that ends before its data does (it shrank after its
// head was read) reads as silence from its last whole frame on: zeros are the memory's already,
// any other silence (8-bit PCM's) is written.
// Threads: the loading thread, then the worker it is handed to; one at a time.
class RiffDataReader final : public DecoderHandle {
 public:
  // The file stands `readBytes` into the data, which starts at byte `dataAt` of the file.
  RiffDataReader(UniqueFd file, SoundFileReader reader, const WaveFormat& format,
                 std::size_t dataAt, std::uint32_t dataBytes, std::size_t readBytes)
      : file_(std::move(file)),
        reader_(reader),
        dataAt_(dataAt),
        dataBytes_(dataBytes),
        blockAlign_(format.blockAlign),
        silence_(soundout::playableKind(format) == soundout::SampleKind::Unsigned8 ? 0x80 : 0),
        position_(readBytes) {
    setFormat(format.channels, dataBytes / format.blockAlign,
              static_cast<int>(std::min<std::uint32_t>(format.samplesPerSec, INT32_MAX)));
  }

  std::int32_t read(std::uint8_t* destination, std::int32_t byteCount, AtEnd) override {
    const std::size_t wanted =
        std::min<std::size_t>(static_cast<std::size_t>(std::max(byteCount, 0)),
                              dataBytes_ - std::min<std::size_t>(position_, dataBytes_));
    const std::size_t arrived =
        fileEnded_ ? 0 : readFully(reader_, file_.get(), destination, wanted);
    std::size_t kept = arrived;
    if (arrived < wanted) {
      fileEnded_ = true;
      kept -= kept % blockAlign_;
      std::memset(destination + kept, silence_, (silence_ ? wanted : arrived) - kept);
      if (silence_) kept = wanted;
    }
    position_ += kept;
    return static_cast<std::int32_t>(kept);
  }

  void rewind() override {
    if (::lseek(file_.get(), static_cast<off_t>(dataAt_), SEEK_SET) < 0) return;
    position_ = 0;
    fileEnded_ = false;
  }

 private:
  const UniqueFd file_;
  const SoundFileReader reader_;
  const std::size_t dataAt_;
  const std::uint32_t dataBytes_;
  const std::uint16_t blockAlign_;
  const std::uint8_t silence_;
  std::size_t position_;    // in the data
  bool fileEnded_ = false;  // a read came up short
};

// The head of a RIFF file is read in steps from this size until it holds the data chunk's header.
constexpr std::size_t kRiffHeadBytes = 4096;

// A RIFF file that plays as it is read: its head up to the data chunk here, the data straight
// into the sound's memory, the first second before the load returns and the rest on a worker.
// Every result is what a whole read of the file gives (pcmFromRiff), except that a file that
// shrinks while it is read keeps its length and ends in silence. `head` is the file's start.
std::optional<LoadedPcm> pcmFromRiffFile(UniqueFd file, std::vector<std::uint8_t> head,
                                         std::size_t fileBytes) {
  const SoundFileReader reader = currentReader();
  std::size_t imageBytes = fileBytes;
  RiffWalk walk;
  for (std::size_t wanted = std::min(fileBytes, kRiffHeadBytes);;) {
    const std::size_t had = head.size();
    head.resize(std::max(wanted, had));
    const std::size_t got =
        had + readFully(reader, file.get(), head.data() + had, head.size() - had);
    if (got < head.size()) {
      // A short read: the image ends here, as a whole read's would.
      head.resize(got);
      imageBytes = got;
    }
    walk = walkRiff(head, imageBytes);
    if (walk.status != RiffWalk::NeedMore) break;
    wanted = std::min(imageBytes, std::max(walk.neededBytes, 2 * head.size()));
  }
  if (walk.status != RiffWalk::Found) return std::nullopt;
  auto pcm = riffSound({head.data() + walk.formatAt, walk.formatBytes}, walk.dataBytes);
  if (!pcm) return std::nullopt;
  pcm->memory = SampleMemory::allocateUnfilled(pcm->bytes);
  if (!pcm->memory) return std::nullopt;
  // The data the head holds already; the file stands where the head ends.
  const std::size_t inHead = std::min<std::size_t>(head.size() - walk.dataAt, pcm->bytes);
  std::memcpy(pcm->memory->data(), head.data() + walk.dataAt, inHead);
  std::unique_ptr<DecoderHandle> data = std::make_unique<RiffDataReader>(
      std::move(file), reader, pcm->format, walk.dataAt, pcm->bytes, inHead);
  fillProgressively(data, *pcm, static_cast<std::uint32_t>(inHead));
  return pcm;
}

// A RIFF file read whole before it is copied, as an image in memory is (DecodeMode::Whole).
std::optional<LoadedPcm> pcmFromWholeRiffFile(int fd, std::span<const std::uint8_t> head,
                                              std::size_t fileBytes) {
  auto contents = std::make_unique_for_overwrite<std::uint8_t[]>(fileBytes);
  std::memcpy(contents.get(), head.data(), head.size());
  const std::size_t got = head.size() + readFully(currentReader(), fd, contents.get() + head.size(),
                                                  fileBytes - head.size());
  return pcmFromRiff({contents.get(), got});
}

}  // namespace

bool isRiffImage(std::span<const std::uint8_t> image) {
  return image.size() >= 4 && hasId(image, 0, "RIFF");
}

std::optional<RiffWave> parseRiffWave(std::span<const std::uint8_t> image) {
  if (!isRiffImage(image)) return std::nullopt;
  const RiffWalk walk = walkRiff(image, image.size());
  if (walk.status != RiffWalk::Found) return std::nullopt;
  return RiffWave{image.subspan(walk.formatAt, walk.formatBytes),
                  image.subspan(walk.dataAt, walk.dataBytes)};
}

ObjectNumber loadSoundFromMemory(ObjectNumber number, const void* image, std::size_t bytes,
                                 int flags) {
  if (!image) return 0;
  return noThrow(ObjectNumber{0}, [&] {
    return loadImage(number, {static_cast<const std::uint8_t*>(image), bytes}, flags);
  });
}

namespace {

ObjectNumber loadFile(ObjectNumber number, std::u16string_view fileName, int flags) {
  const std::string path = toUtf8(fileName);
  UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file) return 0;
  struct stat info {};
  if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return 0;
  if (flags & LoadStreamed) {
    auto decoder = openDecoderForFile(fileName, 0);
    if (!decoder) return 0;
    return loadStreamedSound(number, std::move(decoder));
  }
  const FileIdentity identity = identityOf(path, info);
  if (auto shared = findSharedDecode(identity)) {
    reportFormat(shared->format, shared->bytes);
    return installPcm(number, *shared);
  }
  // A RIFF image plays its own bytes, read from the file as it plays; anything else is decoded
  // from the file itself. Either way a long file is read as the sound goes on instead of before
  // the load returns.
  const auto size = static_cast<std::size_t>(info.st_size);
  std::vector<std::uint8_t> head(std::min<std::size_t>(size, 4));
  head.resize(readFully(currentReader(), file.get(), head.data(), head.size()));
  std::optional<LoadedPcm> pcm;
  if (!isRiffImage(head)) {
    auto decoder = openDecoderForFile(fileName, 0);
    if (!decoder) return 0;
    pcm = decodeFile(decoder);
  } else if (decodeMode == DecodeMode::Whole) {
    pcm = pcmFromWholeRiffFile(file.get(), head, size);
  } else {
    pcm = pcmFromRiffFile(std::move(file), std::move(head), size);
  }
  if (!pcm) return 0;
  const ObjectNumber result = installPcm(number, *pcm);
  if (result != 0) rememberDecode(identity, *pcm);
  return result;
}

}  // namespace

ObjectNumber loadSound(ObjectNumber number, std::u16string_view fileName, int flags) {
  return noThrow(ObjectNumber{0}, [&] { return loadFile(number, fileName, flags); });
}

void setSoundFileReaderForTests(SoundFileReader reader) { fileReader = reader; }

void setDecodeModeForTests(DecodeMode mode) { decodeMode = mode; }

void registerDecodersLifecycle() {
  noThrow([] {
    addEndRoutine(EndStage::Sound, "forget the shared decodes", [] { sharedDecodes().clear(); });
  });
}

}  // namespace lunadio
