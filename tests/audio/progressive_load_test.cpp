// Progressive loads: a file that states its length returns after its first second and goes on
// decoding while it plays. Every result about the sound is the whole decode's; the trial and the
// real load share one decode; a seek past the decoded part waits for it; freeing the sounds, or
// the end sequence, joins the worker. Also the loop seam of each format, sample for sample.
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

  testing::MemorySoundDevice device_{{.rateHz = 44100}};
  std::string printed_;
};

TEST_F(ProgressiveLoadTest, EveryResultIsTheWholeDecodes) {
  for (const Encoded& encoded : compressedFiles()) {
    SCOPED_TRACE(encoded.name);
    test::TempFile file(encoded.image);
    setDecodeModeForTests(DecodeMode::Whole);
    ASSERT_NE(load(5, file), 0);
    const std::string wholePrinted = printed_;
    const Bytes whole = finalBytes(5);
    const std::int64_t wholeLength = getSoundLength(5);
    EXPECT_FALSE(decodeOf(5).lock()) << "decoded whole";
    freeSound(5);

    setDecodeModeForTests(DecodeMode::Progressive);
    ASSERT_NE(load(0, file), 0);
    EXPECT_TRUE(decodeOf(0).lock()) << "the rest decodes on a worker";
    EXPECT_EQ(printed_, wholePrinted);
    EXPECT_EQ(getSoundLength(0), wholeLength);
    EXPECT_EQ(getSoundLength(0, UnitMilliseconds), wholeLength * 1000 / 44100);
    EXPECT_EQ(getSoundFrequency(0), 44100);
    EXPECT_EQ(playSound(0, PlayLooped), 1);
    EXPECT_EQ(finalBytes(0), whole);
    freeSound(0);
  }
}

TEST_F(ProgressiveLoadTest, TheTrialAndTheRealLoadShareOneDecode) {
  const Encoded& flac = compressedFiles()[0];
  test::TempFile file(flac.image);
  ASSERT_NE(load(1, file), 0);  // the trial load
  ASSERT_NE(load(0, file), 0);  // the real one
  const auto decode = decodeOf(0).lock();
  ASSERT_TRUE(decode);
  EXPECT_EQ(decode, decodeOf(1).lock());
  // The trial goes; the real sound keeps the decode going to its end.
  freeSound(1);
  EXPECT_TRUE(decode->waitUntilDecoded(static_cast<std::uint32_t>(flac.frames * 4),
                                       std::chrono::seconds(20)));
  EXPECT_EQ(finalBytes(0), [&] {
    Bytes expected(flac.frames * 4);
    auto handle = flacDecoder().open(DecoderSource{nullptr, flac.image}, 0);
    handle->read(expected.data(), static_cast<std::int32_t>(expected.size()), AtEnd::Stop);
    return expected;
  }());
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
