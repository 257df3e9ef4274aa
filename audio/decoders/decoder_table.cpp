#include <array>
#include <string>

#include "audio/decoders/sound_decoder.h"
#include "core/no_throw.h"
#include "core/strings.h"

namespace lunadio {

// Fills the two head fields of an accepted handle: which plug-in reads it, and its stream.
class DecoderProber {
 public:
  static void adopt(DecoderHandle& handle, const SoundDecoder& decoder, OwnedFile file) {
    handle.decoder_ = &decoder;
    handle.file_ = std::move(file);
  }
};

namespace {

// -- main thread only (registration at start-up, probing during loads)
struct DecoderTable {
  std::array<const SoundDecoder*, kMaxSoundDecoders> decoders{};
  int count = 0;
};

DecoderTable& table() {
  static DecoderTable instance;
  return instance;
}

}  // namespace

bool registerSoundDecoder(const SoundDecoder& decoder) {
  DecoderTable& t = table();
  if (t.count >= kMaxSoundDecoders || isSoundDecoderRegistered(decoder)) return false;
  t.decoders[static_cast<std::size_t>(t.count++)] = &decoder;
  return true;
}

bool isSoundDecoderRegistered(const SoundDecoder& decoder) {
  const DecoderTable& t = table();
  for (int i = 0; i < t.count; ++i) {
    if (t.decoders[static_cast<std::size_t>(i)] == &decoder) return true;
  }
  return false;
}

int soundDecoderCount() { return table().count; }

void clearSoundDecoders() {
  table().decoders.fill(nullptr);
  table().count = 0;
}

namespace {

// A plug-in that throws (out of memory, say) is one that refused the source.
std::unique_ptr<DecoderHandle> openGuarded(const SoundDecoder& decoder, const DecoderSource& source,
                                           int flags) {
  return noThrow(std::unique_ptr<DecoderHandle>{}, [&] { return decoder.open(source, flags); });
}

std::unique_ptr<DecoderHandle> openFile(std::u16string_view path, int flags);

}  // namespace

std::unique_ptr<DecoderHandle> openDecoderForMemory(std::span<const std::uint8_t> image,
                                                    int flags) {
  if (image.data() == nullptr) return nullptr;
  const DecoderTable& t = table();
  for (int i = 0; i < t.count; ++i) {
    const SoundDecoder& decoder = *t.decoders[static_cast<std::size_t>(i)];
    auto handle = openGuarded(decoder, DecoderSource{nullptr, image}, flags);
    if (handle) {
      DecoderProber::adopt(*handle, decoder, nullptr);
      return handle;
    }
  }
  return nullptr;
}

std::unique_ptr<DecoderHandle> openDecoderForFile(std::u16string_view path, int flags) {
  return noThrow(std::unique_ptr<DecoderHandle>{}, [&] { return openFile(path, flags); });
}

namespace {

std::unique_ptr<DecoderHandle> openFile(std::u16string_view path, int flags) {
  const DecoderTable& t = table();
  if (t.count == 0) return nullptr;
  const std::string native = toUtf8(path);
  OwnedFile file(std::fopen(native.c_str(), "rb"));
  if (!file) return nullptr;
  for (int i = 0; i < t.count; ++i) {
    const SoundDecoder& decoder = *t.decoders[static_cast<std::size_t>(i)];
    // Each plug-in sees the stream from its first byte, whatever the previous one read.
    if (std::fseek(file.get(), 0, SEEK_SET) != 0) return nullptr;
    std::clearerr(file.get());
    auto handle = openGuarded(decoder, DecoderSource{file.get(), {}}, flags);
    if (handle) {
      DecoderProber::adopt(*handle, decoder, std::move(file));
      return handle;
    }
  }
  return nullptr;
}

}  // namespace

}  // namespace lunadio
