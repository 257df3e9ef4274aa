// Sources that fail part-way: a file whose reads fail after N bytes, for the loader (its reads of
// the file) and for both decoders (their stdio stream). Every N gives a clean result: a sound or
// 0, a decoder or null, reads that end; never a crash, a hang or a leak (the sanitizer build runs
// this too).
#include <gtest/gtest.h>

#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "audio/decoders/sound_decoder.h"
#include "audio/internal/sound_record.h"
#include "audio/sound.h"
#include "audio/sound_loader.h"
#include "tests/audio/support/fixtures.h"
#include "tests/audio/support/sound_fixture.h"

namespace lunadio {
namespace {

using test::Bytes;

// A stdio stream over an image whose reads fail (EIO) once `failAfter` bytes were delivered.
struct FailingImage {
  const Bytes* image = nullptr;
  std::size_t failAfter = 0;
  std::size_t delivered = 0;
  std::size_t position = 0;
  std::size_t failedReads = 0;

  static ssize_t read(void* cookie, char* destination, std::size_t bytes) {
    auto& self = *static_cast<FailingImage*>(cookie);
    if (self.delivered >= self.failAfter) {
      ++self.failedReads;
      errno = EIO;
      return -1;
    }
    const std::size_t left = self.image->size() - std::min(self.position, self.image->size());
    const std::size_t take = std::min({bytes, left, self.failAfter - self.delivered});
    std::memcpy(destination, self.image->data() + self.position, take);
    self.position += take;
    self.delivered += take;
    return static_cast<ssize_t>(take);
  }
  static int seek(void* cookie, off64_t* offset, int whence) {
    auto& self = *static_cast<FailingImage*>(cookie);
    const auto base = whence == SEEK_SET   ? 0
                      : whence == SEEK_CUR ? static_cast<off64_t>(self.position)
                                           : static_cast<off64_t>(self.image->size());
    if (base + *offset < 0) return -1;
    self.position = static_cast<std::size_t>(base + *offset);
    *offset = static_cast<off64_t>(self.position);
    return 0;
  }

  std::FILE* open() {
    return fopencookie(this, "rb", cookie_io_functions_t{read, nullptr, seek, nullptr});
  }
};

struct Images {
  Bytes wav, flac, ogg;
  Bytes longWav;  // read on past its first second by the worker
};

constexpr std::int64_t kLongWavFrames = 3 * 44100;

const Images& images() {
  static const Images made = [] {
    const auto signal = test::makeSignal(3000, 2);
    return Images{test::makeWav(test::toInt16(signal), 2, 44100),
                  test::encodeFlac(signal, {.blockFrames = 1024}),
                  test::encodeVorbis(test::toInt16(signal), {}),
                  test::makeWav(test::toInt16(test::makeSignal(kLongWavFrames, 2)), 2, 44100)};
  }();
  return made;
}

TEST(FailingSource, DecodersGiveACleanResultWhereverTheReadsFail) {
  struct Case {
    const char* name;
    const SoundDecoder& decoder;
    const Bytes& image;
  };
  const Case cases[] = {{"FLAC", flacDecoder(), images().flac},
                        {"Ogg Vorbis", vorbisDecoder(), images().ogg}};
  std::vector<std::uint8_t> pcm(1 << 16);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::size_t opened = 0;
    // Every N up to the size, a few beyond (the Vorbis adapter reads its source twice), and a
    // source that never fails.
    std::vector<std::size_t> failAfters;
    for (std::size_t n = 0; n <= c.image.size(); ++n) failAfters.push_back(n);
    for (std::size_t n = c.image.size(); n <= 3 * c.image.size(); n += 97) failAfters.push_back(n);
    failAfters.push_back(SIZE_MAX);
    for (const std::size_t failAfter : failAfters) {
      FailingImage source{&c.image, failAfter};
      std::FILE* file = source.open();
      ASSERT_TRUE(file);
      if (auto handle = c.decoder.open(DecoderSource{file, {}}, 0)) {
        ++opened;
        const std::int32_t got = handle->read(pcm.data(), 3000 * 4, AtEnd::Stop);
        EXPECT_GE(got, 0);
        EXPECT_LE(got, 3000 * 4);
        EXPECT_EQ(got % 4, 0);
        handle->rewind();
        EXPECT_GE(handle->read(pcm.data(), static_cast<std::int32_t>(pcm.size()), AtEnd::Loop), 0);
      }
      std::fclose(file);
    }
    EXPECT_GT(opened, 0u) << "the whole image opens";
  }
}

// Each libvorbisfile open that fails loses memory of its own. A source that fails for good after
// its open is tried once more (the rewind's reopen), not again by every later read and rewind.
TEST(FailingSource, AVorbisSourceThatFailsAfterItsOpenIsNotReopenedAgainAndAgain) {
  FailingImage source{&images().ogg, SIZE_MAX};
  std::FILE* file = source.open();
  ASSERT_TRUE(file);
  auto handle = vorbisDecoder().open(DecoderSource{file, {}}, 0);
  ASSERT_TRUE(handle);
  source.failAfter = source.delivered;
  std::vector<std::uint8_t> pcm(1 << 16);
  handle->rewind();
  const std::size_t failedReads = source.failedReads;
  EXPECT_GT(failedReads, 0u) << "the reopen tried the source";
  for (int pass = 0; pass < 3; ++pass) {
    EXPECT_EQ(handle->read(pcm.data(), static_cast<std::int32_t>(pcm.size()), AtEnd::Loop), 0);
    handle->rewind();
  }
  EXPECT_EQ(source.failedReads, failedReads);
  handle.reset();
  std::fclose(file);
}

// The loader's reads of a file: they fail (EIO) once readFailAfter bytes were delivered. A RIFF
// file's worker reads through it too; each load's worker is joined (freeSound) before the next
// load sets these again.
std::size_t readFailAfter = 0;
std::size_t readDelivered = 0;

long failingRead(int fd, void* destination, std::size_t bytes) {
  if (readDelivered >= readFailAfter) {
    errno = EIO;
    return -1;
  }
  const long got = ::read(fd, destination, std::min(bytes, readFailAfter - readDelivered));
  if (got > 0) readDelivered += static_cast<std::size_t>(got);
  return got;
}

TEST(FailingSource, TheLoaderGivesASoundOrZeroWhereverTheReadsFail) {
  testing::MemorySoundDevice device;
  clearSoundDecoders();
  useFlacDecoder();
  useVorbisDecoder();
  setSoundFileReaderForTests(failingRead);
  struct Case {
    const Bytes& image;
    std::int64_t frames;
  };
  for (const Case& c : {Case{images().wav, 3000}, Case{images().flac, 3000},
                        Case{images().ogg, 3000}, Case{images().longWav, kLongWavFrames}}) {
    const Bytes* image = &c.image;
    test::TempFile file(*image);
    std::size_t loaded = 0;
    std::vector<std::size_t> failAfters;
    for (std::size_t n = 0; n <= image->size(); n += 1 + n / 64) failAfters.push_back(n);
    failAfters.push_back(image->size());
    for (const std::size_t failAfter : failAfters) {
      SCOPED_TRACE(failAfter);
      readFailAfter = failAfter;
      readDelivered = 0;
      ::testing::internal::CaptureStdout();
      const ObjectNumber result = loadSound(1, file.path16());
      ::testing::internal::GetCapturedStdout();
      if (result != 0) {
        ++loaded;
        EXPECT_GT(getSoundLength(1), 0);
        EXPECT_LE(getSoundLength(1), c.frames);
        EXPECT_EQ(playSound(1, 0), 1);
        device.render(512);
      }
      freeSound(1);
    }
    EXPECT_GT(loaded, 0u);
  }
  setSoundFileReaderForTests(nullptr);
  clearSoundDecoders();
}

}  // namespace
}  // namespace lunadio
