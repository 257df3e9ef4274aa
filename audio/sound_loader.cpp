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

std::optional<LoadedPcm> pcmFromRiff(std::span<const std::uint8_t> image) {
  const auto riff = parseRiffWave(image);
  if (!riff) return std::nullopt;
  const auto format = soundout::parseWaveFormat(riff->format);
  if (!format) return std::nullopt;
  LoadedPcm pcm;
  pcm.format = *format;
  pcm.bytes = static_cast<std::uint32_t>(std::min<std::size_t>(riff->data.size(), UINT32_MAX));
  reportFormat(pcm.format, pcm.bytes);
  // Not even one frame: nothing to play (and no memory to copy into).
  if (pcm.bytes < pcm.format.blockAlign || pcm.format.blockAlign == 0) return std::nullopt;
  pcm.memory = SampleMemory::allocate(pcm.bytes);
  if (!pcm.memory) return std::nullopt;
  std::memcpy(pcm.memory->data(), riff->data.data(), pcm.bytes);
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
    decoder.read(pcm.memory->data(), static_cast<std::int32_t>(pcm.bytes), AtEnd::Stop);
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

// A file's decode: the first second on this thread, the rest on a worker while the sound already
// plays, when the source states its length (so that every result about the sound is the same as
// for a whole decode); a source that does not is decoded whole.
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
  const std::uint32_t firstBytes = static_cast<std::uint32_t>(std::min<std::uint64_t>(
      pcm.bytes,
      std::uint64_t{pcm.format.avgBytesPerSec} * kFirstDecodeMs / 1000 / frameBytes * frameBytes));
  const std::int32_t got =
      decoder->read(pcm.memory->data(), static_cast<std::int32_t>(firstBytes), AtEnd::Stop);
  if (static_cast<std::uint32_t>(std::max(got, 0)) < firstBytes || firstBytes == pcm.bytes) {
    pcm.memory->setReadyBytes(pcm.bytes);  // over already: the rest is silence
  } else {
    pcm.memory->setReadyBytes(firstBytes);
    pcm.decode = ProgressiveDecode::start(decoder, pcm.memory, firstBytes, pcm.bytes);
    // No worker to be had: the decode ends here, as a whole one.
    if (!pcm.decode) decodeRemaining(*decoder, *pcm.memory, firstBytes, pcm.bytes);
  }
  reportFormat(pcm.format, pcm.bytes);
  return pcm;
}

// What a load of an image gives: the sound's number (0 on failure) and, for a sound held whole,
// its PCM for sharing.
struct ImageLoad {
  ObjectNumber result = 0;
  std::optional<LoadedPcm> pcm;
};

ImageLoad loadImage(ObjectNumber number, std::span<const std::uint8_t> image, int flags) {
  if (image.data() == nullptr) return {};
  std::optional<LoadedPcm> pcm;
  if (isRiffImage(image)) {
    pcm = pcmFromRiff(image);
  } else {
    auto decoder = openDecoderForMemory(image, flags);
    if (!decoder) return {};
    if (flags & LoadStreamed) return {loadStreamedSound(number, std::move(decoder)), std::nullopt};
    pcm = decodeWhole(*decoder);
  }
  if (!pcm) return {};
  const ObjectNumber result = installPcm(number, *pcm);
  if (result == 0) return {};
  return {result, std::move(pcm)};
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

long readFile(int fd, void* destination, std::size_t bytes) {
  return fileReader ? fileReader(fd, destination, bytes) : ::read(fd, destination, bytes);
}

}  // namespace

bool isRiffImage(std::span<const std::uint8_t> image) {
  return image.size() >= 4 && hasId(image, 0, "RIFF");
}

std::optional<RiffWave> parseRiffWave(std::span<const std::uint8_t> image) {
  if (!isRiffImage(image)) return std::nullopt;
  const std::size_t size = image.size();
  // Walks from `at` to the chunk named `id`; every chunk passed on the way must lie inside the
  // image. Gives the offset of the body and the size field.
  const auto findChunk = [&](std::size_t& at, const char(&id)[5], std::uint32_t& bodyBytes) {
    while (at <= size && size - at >= 8) {
      bodyBytes = readLe32(image.data() + at + 4);
      if (hasId(image, at, id)) return true;
      const std::uint64_t next = std::uint64_t{at} + 8 + bodyBytes + (bodyBytes & 1);
      if (next > size) return false;
      at = static_cast<std::size_t>(next);
    }
    return false;
  };
  std::size_t at = 12;
  std::uint32_t formatBytes = 0;
  if (!findChunk(at, "fmt ", formatBytes)) return std::nullopt;
  if (formatBytes < 16 || formatBytes > size - at - 8) return std::nullopt;
  RiffWave wave;
  wave.format = image.subspan(at + 8, formatBytes);
  at += 8 + std::size_t{formatBytes} + (formatBytes & 1);
  std::uint32_t dataBytes = 0;
  if (!findChunk(at, "data", dataBytes)) return std::nullopt;
  const std::size_t available = size - at - 8;
  if (dataBytes <= available) {
    wave.data = image.subspan(at + 8, dataBytes);
  } else {
    // An interrupted recording: play what is there, in whole frames.
    const std::uint16_t blockAlign =
        static_cast<std::uint16_t>(wave.format[12] | wave.format[13] << 8);
    wave.data = image.subspan(at + 8, blockAlign ? available - available % blockAlign : available);
  }
  return wave;
}

ObjectNumber loadSoundFromMemory(ObjectNumber number, const void* image, std::size_t bytes,
                                 int flags) {
  if (!image) return 0;
  return noThrow(ObjectNumber{0}, [&] {
    return loadImage(number, {static_cast<const std::uint8_t*>(image), bytes}, flags).result;
  });
}

namespace {

ObjectNumber loadFile(ObjectNumber number, std::u16string_view fileName, int flags) {
  const std::string path = toUtf8(fileName);
  const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
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
  // A RIFF image is copied as it is; anything else is decoded from the file itself, so that a
  // long file is read as its decode goes on instead of before the load returns.
  const auto size = static_cast<std::size_t>(info.st_size);
  auto contents = std::make_unique_for_overwrite<std::uint8_t[]>(std::max<std::size_t>(size, 4));
  const auto readInto = [&](std::size_t from, std::size_t to) {
    std::size_t got = from;
    while (got < to) {
      const long n = readFile(file.get(), contents.get() + got, to - got);
      if (n <= 0) break;  // a short read loads what was read
      got += static_cast<std::size_t>(n);
    }
    return got;
  };
  const std::size_t head = readInto(0, std::min<std::size_t>(size, 4));
  if (!isRiffImage({contents.get(), head})) {
    contents.reset();
    auto decoder = openDecoderForFile(fileName, 0);
    if (!decoder) return 0;
    const auto pcm = decodeFile(decoder);
    if (!pcm) return 0;
    const ObjectNumber result = installPcm(number, *pcm);
    if (result != 0) rememberDecode(identity, *pcm);
    return result;
  }
  const std::size_t got = readInto(head, size);
  ImageLoad load = loadImage(number, {contents.get(), got}, 0);
  if (load.result != 0 && load.pcm) rememberDecode(identity, *load.pcm);
  return load.result;
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
