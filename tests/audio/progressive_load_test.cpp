// Progressive loads: a file that states its length (a RIFF file always does) returns after its
// first second and goes on decoding, or reading, while it plays. Every result about the sound is
// the whole load's; the trial and the real load share one decode; a seek past the decoded part
// waits for it; freeing the sounds, or the end sequence, joins the worker; a RIFF file that
// shrinks while it is read keeps its length and ends in silence. Also the loop seam of each
// format, sample for sample.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <atomic>

#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

#include "audio/decoders/sound_decoder.h"
#include "audio/internal/progressive_decode.h"
#include "audio/internal/sound_record.h"
#include "audio/sound.h"
#include "audio/sound_device.h"
#include "audio/sound_loader.h"
#include "tests/audio/support/fixtures.h"
#include "tests/audio/support/sound_fixture.h"

namespace lunadio {
namespace {

using test::Bytes;

// The bytes a sound plays from, once its decode is over (lock waits for that).
Bytes finalBytes(ObjectNumber number) {
  soundout::SoundBuffer& buffer = *soundTable()->lookup(number)->buffer;
  soundout::BufferCaps caps;
  buffer.getCaps(caps);
  soundout::LockedRegion region;
  EXPECT_EQ(buffer.lock(0, caps.bufferBytes, region), soundout::kOk);
  Bytes bytes(region.part1, region.part1 + region.bytes1);
  buffer.unlock(region);
  return bytes;
}

std::weak_ptr<ProgressiveDecode> decodeOf(ObjectNumber number) {
  SoundRecord* record = soundTable() ? soundTable()->lookup(number) : nullptr;
  return record ? record->decode : nullptr;
}

struct Encoded {
  const char* name;
  Bytes image;
  std::size_t frames;
};

// 12 s of stereo at 44.1 kHz in each compressed format: long enough that a worker takes over.
const std::vector<Encoded>& compressedFiles() {
  static const std::vector<Encoded> files = [] {
    constexpr std::size_t kFrames = 12 * 44100;
    const auto signal = test::makeSignal(kFrames, 2);
    return std::vector<Encoded>{
        {"FLAC", test::encodeFlac(signal, {}), kFrames},
        {"Ogg Vorbis", test::encodeVorbis(test::toInt16(signal), {}), kFrames},
    };
  }();
  return files;
}

// `frames` of the test signal in a RIFF sample format: 8-bit unsigned, or 16- or 24-bit signed.
Bytes samplesOf(std::size_t frames, int channels, int bits) {
  Bytes out;
  for (const std::int32_t v : test::makeSignal(frames, channels, bits)) {
    for (int i = 0; i < bits / 8; ++i) {
      out.push_back(static_cast<std::uint8_t>((bits == 8 ? v + 128 : v) >> (8 * i)));
    }
  }
  return out;
}

Bytes wavOf(int channels, int rate, int bits, std::size_t frames) {
  return test::RiffBuilder()
      .format(channels, rate, bits)
      .chunk("data", samplesOf(frames, channels, bits))
      .build();
}

class ProgressiveLoadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clearSoundDecoders();
    useFlacDecoder();
    useVorbisDecoder();
  }
  void TearDown() override {
    setDecodeModeForTests(DecodeMode::Progressive);
    clearSoundDecoders();
  }

  ObjectNumber load(ObjectNumber number, const test::TempFile& file) {
    ::testing::internal::CaptureStdout();
    const ObjectNumber result = loadSound(number, file.path16());
    printed_ = ::testing::internal::GetCapturedStdout();
    return result;
  }

  // Loads the file whole, then progressively under number 0 (left loaded), and compares every
  // result of the two, every byte included once the worker is done.
  void expectTheWholeLoadsResults(const test::TempFile& file, bool worker) {
    setDecodeModeForTests(DecodeMode::Whole);
    ASSERT_NE(load(5, file), 0);
    const std::string wholePrinted = printed_;
    const Bytes whole = finalBytes(5);
    const std::int64_t wholeLength = getSoundLength(5);
    const std::int64_t wholeMs = getSoundLength(5, UnitMilliseconds);
    const int wholeFrequency = getSoundFrequency(5);
    EXPECT_FALSE(decodeOf(5).lock()) << "loaded whole";
    freeSound(5);

    setDecodeModeForTests(DecodeMode::Progressive);
    ASSERT_NE(load(0, file), 0);
    EXPECT_EQ(static_cast<bool>(decodeOf(0).lock()), worker) << "the rest goes on on a worker";
    EXPECT_EQ(printed_, wholePrinted);
    EXPECT_EQ(getSoundLength(0), wholeLength);
    EXPECT_EQ(getSoundLength(0, UnitMilliseconds), wholeMs);
    EXPECT_EQ(getSoundFrequency(0), wholeFrequency);
    EXPECT_EQ(playSound(0, PlayLooped), 1);
    EXPECT_EQ(finalBytes(0), whole);
  }

  testing::MemorySoundDevice device_{{.rateHz = 44100}};
  std::string printed_;
};

TEST_F(ProgressiveLoadTest, EveryResultIsTheWholeDecodes) {
  for (const Encoded& encoded : compressedFiles()) {
    SCOPED_TRACE(encoded.name);
    test::TempFile file(encoded.image);
    expectTheWholeLoadsResults(file, true);
    EXPECT_EQ(getSoundLength(0), static_cast<std::int64_t>(encoded.frames));
    EXPECT_EQ(getSoundLength(0, UnitMilliseconds), getSoundLength(0) * 1000 / 44100);
    EXPECT_EQ(getSoundFrequency(0), 44100);
    freeSound(0);
  }
}

// A RIFF file's data goes from the file into the sound's memory as it is, in its own format;
// the chunks before it may be long, its size may run past the end of the file (an interrupted
// recording plays its whole frames) or end in part of a frame.
TEST_F(ProgressiveLoadTest, ARiffFileReadAsItPlaysIsTheWholeReadsSound) {
  const Bytes threeSeconds = samplesOf(3 * 44100, 2, 16);
  Bytes partFrame = threeSeconds;
  partFrame.insert(partFrame.end(), {1, 2, 3});
  struct Case {
    const char* name;
    Bytes image;
    bool worker;
  };
  const Case cases[] = {
      {"16-bit stereo", wavOf(2, 44100, 16, 3 * 44100), true},
      {"8-bit mono at 22,050 Hz", wavOf(1, 22050, 8, 3 * 22050), true},
      {"24-bit stereo at 48 kHz", wavOf(2, 48000, 24, 3 * 48000), true},
      {"10 kB before fmt and 5 kB before data",
       test::RiffBuilder()
           .chunk("JUNK", Bytes(10000, 0x4A))
           .format(2, 44100, 16)
           .chunk("JUNK", Bytes(5001, 0x4A))
           .chunk("data", threeSeconds)
           .chunk("LIST", {'I', 'N', 'F', 'O'})
           .build(),
       true},
      {"data size past the end of the file",
       test::RiffBuilder()
           .format(2, 44100, 16)
           .chunkWithSize("data", partFrame, 0xFFFFFFF0)
           .build(),
       true},
      {"data ending in part of a frame",
       test::RiffBuilder().format(2, 44100, 16).chunk("data", partFrame).build(), true},
      {"less than a second", wavOf(2, 44100, 16, 30000), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempFile file(c.image);
    expectTheWholeLoadsResults(file, c.worker);
    freeSound(0);
  }
}

TEST_F(ProgressiveLoadTest, TheTrialAndTheRealLoadShareOneDecode) {
  const Encoded& flac = compressedFiles()[0];
  const Bytes wav = wavOf(2, 44100, 16, flac.frames);
  struct Case {
    const char* name;
    const Bytes& image;
    Bytes expected;
  };
  const Case cases[] = {
      {"FLAC", flac.image,
       [&] {
         Bytes expected(flac.frames * 4);
         auto handle = flacDecoder().open(DecoderSource{nullptr, flac.image}, 0);
         handle->read(expected.data(), static_cast<std::int32_t>(expected.size()), AtEnd::Stop);
         return expected;
       }()},
      {"WAV", wav, Bytes(wav.end() - static_cast<std::ptrdiff_t>(flac.frames * 4), wav.end())},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempFile file(c.image);
    ASSERT_NE(load(1, file), 0);  // the trial load
    ASSERT_NE(load(0, file), 0);  // the real one
    const auto decode = decodeOf(0).lock();
    ASSERT_TRUE(decode);
    EXPECT_EQ(decode, decodeOf(1).lock());
    // The trial goes; the real sound keeps the decode going to its end.
    freeSound(1);
    EXPECT_TRUE(decode->waitUntilDecoded(static_cast<std::uint32_t>(flac.frames * 4),
                                         std::chrono::seconds(20)));
    EXPECT_EQ(finalBytes(0), c.expected);
    freeSound(0);
  }
}

// The reads of a RIFF file: once `cutAfter` bytes were delivered, the next one finds the file cut
// 1001 bytes past where it stands (the file shrinks while the worker reads it; `cutAt` is where).
// Each read waits `delay` first.
struct ShrinkingFile {
  static inline std::string path;
  static inline std::size_t cutAfter = SIZE_MAX;
  static inline off_t cutAt = -1;
  static inline std::chrono::milliseconds delay{0};
  static inline std::atomic<std::size_t> delivered{0};

  static long read(int fd, void* destination, std::size_t bytes) {
    std::this_thread::sleep_for(delay);
    if (delivered >= cutAfter && cutAt < 0) {
      cutAt = ::lseek(fd, 0, SEEK_CUR) + 1001;
      if (::truncate(path.c_str(), cutAt) != 0) return -1;
    }
    const long got = ::read(fd, destination, bytes);
    if (got > 0) delivered += static_cast<std::size_t>(got);
    return got;
  }
};

TEST_F(ProgressiveLoadTest, ARiffFileThatShrinksWhileItIsReadEndsInSilence) {
  struct Case {
    int channels, bits;
    std::uint8_t silence;
  };
  for (const Case c : {Case{2, 16, 0x00}, Case{1, 8, 0x80}}) {
    SCOPED_TRACE(c.bits);
    const std::size_t frameBytes = static_cast<std::size_t>(c.channels * c.bits / 8);
    const Bytes image = wavOf(c.channels, 44100, c.bits, 5 * 44100);
    const std::size_t dataAt = image.size() - 5 * 44100 * frameBytes;
    test::TempFile file(image);
    // Cut at the worker's first read, past the first second.
    ShrinkingFile::path = file.path();
    ShrinkingFile::cutAfter = dataAt + 44100 * frameBytes;
    ShrinkingFile::cutAt = -1;
    ShrinkingFile::delivered = 0;
    setSoundFileReaderForTests(ShrinkingFile::read);
    ASSERT_NE(load(0, file), 0);
    EXPECT_TRUE(decodeOf(0).lock());
    const Bytes played = finalBytes(0);
    setSoundFileReaderForTests(nullptr);
    EXPECT_EQ(getSoundLength(0), 5 * 44100) << "the length the head stated";
    ASSERT_EQ(played.size(), image.size() - dataAt);
    // Whole frames of what was there, then silence.
    ASSERT_GT(ShrinkingFile::cutAt, static_cast<off_t>(ShrinkingFile::cutAfter));
    const auto cutData = static_cast<std::size_t>(ShrinkingFile::cutAt) - dataAt;
    const auto kept = static_cast<std::ptrdiff_t>(cutData - cutData % frameBytes);
    EXPECT_TRUE(std::equal(played.begin(), played.begin() + kept,
                           image.begin() + static_cast<std::ptrdiff_t>(dataAt)));
    EXPECT_TRUE(std::all_of(played.begin() + kept, played.end(),
                            [&](std::uint8_t b) { return b == c.silence; }));
    freeSound(0);
  }
}

TEST_F(ProgressiveLoadTest, FreeingARiffSoundWhileItsFileIsReadJoinsTheReader) {
  test::TempFile file(wavOf(2, 44100, 16, 30 * 44100));
  ShrinkingFile::cutAfter = SIZE_MAX;
  ShrinkingFile::delay = std::chrono::milliseconds(20);
  setSoundFileReaderForTests(ShrinkingFile::read);
  ASSERT_NE(load(0, file), 0);
  std::weak_ptr<ProgressiveDecode> decode = decodeOf(0);
  ASSERT_FALSE(decode.expired());
  EXPECT_FALSE(decode.lock()->isFinished());
  freeSound(0);
  EXPECT_TRUE(decode.expired());
  const std::size_t delivered = ShrinkingFile::delivered;
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  EXPECT_EQ(ShrinkingFile::delivered, delivered) << "no read after the sound is gone";
  setSoundFileReaderForTests(nullptr);
  ShrinkingFile::delay = std::chrono::milliseconds(0);
}

TEST_F(ProgressiveLoadTest, APositionPastTheDecodedPartWaitsForTheDecoder) {
  for (const Encoded& encoded : compressedFiles()) {
    SCOPED_TRACE(encoded.name);
    test::TempFile file(encoded.image);
    ASSERT_NE(load(0, file), 0);
    const auto target = static_cast<std::int64_t>(encoded.frames - 2000);
    setSoundPosition(0, target);
    EXPECT_EQ(getSoundPosition(0), target);
    // Playing from there gives the decoded frames at once, not held silence.
    EXPECT_EQ(playSound(0, 0), 1);
    setSoundPosition(0, target);
    const std::vector<float> out = device_.render(1000);
    EXPECT_TRUE(std::any_of(out.begin(), out.end(), [](float s) { return s != 0.0f; }));
    freeSound(0);
  }
}

TEST_F(ProgressiveLoadTest, FreeingTheSoundsOrEndingJoinsTheDecoder) {
  const Encoded& ogg = compressedFiles()[1];
  test::TempFile file(ogg.image);
  ASSERT_NE(load(0, file), 0);
  std::weak_ptr<ProgressiveDecode> decode = decodeOf(0);
  EXPECT_FALSE(decode.expired());
  freeSound(0);  // at once, while it decodes
  EXPECT_TRUE(decode.expired());

  ASSERT_NE(load(0, file), 0);
  ASSERT_NE(load(ObjectAny, file), 0);
  decode = decodeOf(0);
  EXPECT_FALSE(decode.expired());
  endSound();
  EXPECT_TRUE(decode.expired());
}

TEST_F(ProgressiveLoadTest, AFileWithoutAStatedLengthIsDecodedWhole) {
  const auto signal = test::makeSignal(3 * 44100, 2);
  test::TempFile file(test::encodeFlac(signal, {.declaredFrames = 0}));
  ASSERT_NE(load(0, file), 0);
  EXPECT_FALSE(decodeOf(0).lock());
  EXPECT_EQ(getSoundLength(0), 3 * 44100);
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// No thread to be had (the address space cannot take another stack): a file load decodes the
// rest itself and gives the same sound, and a streamed sound's play gives 0 and stays stopped.
// (The sanitizers reserve their own memory and cannot run under an address-space limit.)
TEST_F(ProgressiveLoadTest, WithoutAThreadTheLoadFinishesTheDecodeItself) {
  const Encoded& flac = compressedFiles()[0];
  test::TempFile file(flac.image);
  setDecodeModeForTests(DecodeMode::Whole);
  ASSERT_NE(load(3, file), 0);
  const Bytes whole = finalBytes(3);
  freeSound(3);
  setDecodeModeForTests(DecodeMode::Progressive);
  ASSERT_NE(loadSound(4, file.path16(), LoadStreamed), 0);
  EXPECT_EXIT(
      {
        // Room for the sound's memory (4 MB) and a little more, not for a thread's stack.
        std::FILE* statm = std::fopen("/proc/self/statm", "r");
        unsigned long pages = 0;
        if (!statm || std::fscanf(statm, "%lu", &pages) != 1) std::_Exit(3);
        std::fclose(statm);
        rlimit limit{};
        getrlimit(RLIMIT_AS, &limit);
        limit.rlim_cur = pages * static_cast<unsigned long>(sysconf(_SC_PAGESIZE)) + (7u << 20);
        setrlimit(RLIMIT_AS, &limit);
        // Stacks the system keeps from ended threads would still be handed out: take them all
        // with threads that wait, until no thread can start any more.
        static std::atomic<bool> release{false};
        std::vector<std::thread> holders;
        for (;;) {
          try {
            holders.emplace_back([] {
              while (!release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            });
          } catch (const std::system_error&) {
            break;
          }
          if (holders.size() > 4096) std::_Exit(4);  // the limit proves nothing here
        }
        ::testing::internal::CaptureStdout();
        const ObjectNumber result = loadSound(0, file.path16());
        ::testing::internal::GetCapturedStdout();
        const bool wholeDecode = result != 0 && !decodeOf(0).lock() && finalBytes(0) == whole;
        const bool streamRefused =
            playSound(4, PlayLooped) == 0 && soundTable()->lookup(4)->state.load() == SoundStopped;
        release.store(true);
        for (std::thread& holder : holders) holder.join();
        std::_Exit(wholeDecode && streamRefused ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  freeSound(4);
}
#endif

// On the memory output at the sound's own rate and full volume, every sample passes through as it
// is: the frame played after the last one is frame 0, with nothing in between.
TEST_F(ProgressiveLoadTest, TheLoopSeamIsSampleExactInEveryFormat) {
  const auto signal = test::makeSignal(30000, 2);
  const auto pcm = test::toInt16(signal);
  struct Case {
    const char* name;
    Bytes image;
  };
  const Case cases[] = {
      {"WAV", test::makeWav(pcm, 2, 44100)},
      {"FLAC", test::encodeFlac(signal, {})},
      {"Ogg Vorbis", test::encodeVorbis(pcm, {})},
      {"long FLAC", compressedFiles()[0].image},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempFile file(c.image);
    ASSERT_NE(load(0, file), 0);
    const Bytes sound = finalBytes(0);  // also waits for the decode to end
    const auto frames = static_cast<std::size_t>(getSoundLength(0));
    ASSERT_EQ(sound.size(), frames * 4);
    ASSERT_EQ(playSound(0, PlayLooped), 1);
    const std::size_t rendered = frames + 5000;
    std::vector<float> out;
    for (std::size_t done = 0; done < rendered; done += 4096) {
      const auto block = device_.render(std::min<std::size_t>(4096, rendered - done));
      out.insert(out.end(), block.begin(), block.end());
    }
    std::vector<std::int16_t> samples(sound.size() / 2);
    std::memcpy(samples.data(), sound.data(), sound.size());
    for (std::size_t i = 0; i < 2 * rendered; ++i) {
      ASSERT_EQ(out[i], samples[i % samples.size()] / 32768.0f) << "output frame " << i / 2;
    }
    freeSound(0);
    device_.render(2048);  // the freed sound's fade-out, out of the next case's way
  }
}

}  // namespace
}  // namespace lunadio
