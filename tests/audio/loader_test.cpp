// Sound loading: the RIFF walk and its bounds, decoded loads (report lines, the cut at the largest
// buffer, silence after a short decode), failed loads that keep the old sound, and shared decodes.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "audio/internal/sound_buffers.h"
#include "audio/internal/sound_record.h"
#include "audio/sound.h"
#include "audio/sound_loader.h"
#include "tests/audio/support/fixtures.h"
#include "tests/audio/support/sound_fixture.h"

namespace lunadio {
namespace {

using test::Bytes;
using test::RiffBuilder;

Bytes pcmBytes(const std::vector<std::int16_t>& samples) {
  Bytes bytes(samples.size() * 2);
  std::memcpy(bytes.data(), samples.data(), bytes.size());
  return bytes;
}

// The bytes a sound plays from.
Bytes soundBytes(ObjectNumber number) {
  soundout::SoundBuffer& buffer = *soundTable()->lookup(number)->buffer;
  soundout::BufferCaps caps;
  buffer.getCaps(caps);
  soundout::LockedRegion region;
  EXPECT_EQ(buffer.lock(0, caps.bufferBytes, region), soundout::kOk);
  Bytes bytes(region.part1, region.part1 + region.bytes1);
  buffer.unlock(region);
  return bytes;
}

TEST(RiffWave, ChunkWalks) {
  const std::vector<std::int16_t> samples = {1, 2, 3, 4, 5, 6};
  const Bytes data = pcmBytes(samples);
  const Bytes oddList = {'I', 'N', 'F', 'O', 'x'};
  struct Case {
    const char* name;
    Bytes image;
    std::size_t dataBytes;  // 0: refused
  };
  const Case cases[] = {
      {"plain", RiffBuilder().format(2, 44100, 16).data(samples).build(), 12},
      {"odd LIST with its pad before fmt",
       RiffBuilder().chunk("LIST", oddList).format(2, 44100, 16).data(samples).build(), 12},
      {"LIST between fmt and data",
       RiffBuilder().format(2, 44100, 16).chunk("LIST", oddList).data(samples).build(), 12},
      {"form type not WAVE", RiffBuilder("AVI ").format(2, 44100, 16).data(samples).build(), 12},
      {"long fmt body", RiffBuilder().format(2, 44100, 16, 1, 18).data(samples).build(), 12},
      {"no fmt", RiffBuilder().data(samples).build(), 0},
      {"no data", RiffBuilder().format(2, 44100, 16).build(), 0},
      {"data before fmt", RiffBuilder().data(samples).format(2, 44100, 16).build(), 0},
      {"fmt body of 14 bytes", RiffBuilder().format(2, 44100, 16, 1, 14).data(samples).build(), 0},
      {"LIST size past the end",
       RiffBuilder()
           .format(2, 44100, 16)
           .chunkWithSize("LIST", oddList, 0x7FFFFFF0)
           .data(samples)
           .build(),
       0},
      {"fmt size past the end", RiffBuilder().chunkWithSize("fmt ", Bytes(16), 0xFFFFFFF0).build(),
       0},
      // An interrupted recording: what is there, in whole 4-byte frames.
      {"data size past the end",
       RiffBuilder().format(2, 44100, 16).chunkWithSize("data", Bytes(1003, 7), 0xFFFFFFFF).build(),
       1000},
      {"header only", Bytes{'R', 'I', 'F', 'F', 0, 0, 0, 0}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto wave = parseRiffWave(c.image);
    ASSERT_EQ(wave.has_value(), c.dataBytes != 0);
    if (!wave) continue;
    EXPECT_GE(wave->format.size(), 16u);
    EXPECT_EQ(wave->data.size(), c.dataBytes);
    if (c.dataBytes == 12) {
      EXPECT_EQ(Bytes(wave->data.begin(), wave->data.end()), data);
    }
  }
}

class LoaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clearSoundDecoders();
    useVorbisDecoder();
    useFlacDecoder();
  }
  void TearDown() override { clearSoundDecoders(); }

  // Loads and returns (result, what was printed).
  std::pair<ObjectNumber, std::string> loadFromMemory(ObjectNumber number, const Bytes& image,
                                                      int flags = 0) {
    ::testing::internal::CaptureStdout();
    const ObjectNumber result = loadSoundFromMemory(number, image.data(), image.size(), flags);
    return {result, ::testing::internal::GetCapturedStdout()};
  }

  testing::MemorySoundDevice device_{{.rateHz = 44100}};
};

TEST_F(LoaderTest, WaveImagePlaysItsOwnFormatAndBytes) {
  const auto samples = test::toInt16(test::makeSignal(1000, 1));
  const Bytes wav =
      RiffBuilder().chunk("LIST", {1, 2, 3}).format(1, 22050, 16).data(samples).build();
  const auto [result, printed] = loadFromMemory(3, wav);
  ASSERT_NE(result, 0);
  EXPECT_EQ(printed,
            "WAV Header Info: NbChannels 1, BitsPerSamples: 16, NbBlockAlign 2\n"
            "WAV Header Info: SamplePerSec 22050, nAvgBytesPerSec: 44100, WavSize 2000\n");
  EXPECT_EQ(getSoundLength(3), 1000);
  EXPECT_EQ(getSoundFrequency(3), 22050);
  EXPECT_EQ(soundBytes(3), pcmBytes(samples));
  // A RIFF image loads whole even when streaming is asked for.
  EXPECT_NE(loadFromMemory(4, wav, LoadStreamed).first, 0);
  EXPECT_EQ(getSoundLength(4), 1000);
}

TEST_F(LoaderTest, DecodedSoundIsReportedAndHoldsItsPcm) {
  const auto source = test::makeSignal(44100, 2);
  const Bytes flac = test::encodeFlac(source, {});
  const auto [result, printed] = loadFromMemory(ObjectAny, flac);
  ASSERT_NE(result, 0);
  EXPECT_TRUE(isSound(result));
  EXPECT_EQ(printed,
            "WAV Header Info: NbChannels 2, BitsPerSamples: 16, NbBlockAlign 4\n"
            "WAV Header Info: SamplePerSec 44100, nAvgBytesPerSec: 176400, WavSize 176400\n");
  EXPECT_EQ(getSoundLength(result), 44100);
  EXPECT_EQ(soundBytes(result), pcmBytes(test::toInt16(source)));
}

TEST_F(LoaderTest, LongSoundsKeepTheirLengthAndEndInSilence) {
  // The headers claim 10 minutes and 3 h 30 min; 3,000 frames are there. The first keeps its
  // length whole; the second is cut at the largest buffer, in whole frames.
  struct Case {
    std::int64_t declaredFrames;
    std::int64_t expectedFrames;
    const char* printedSize;
  };
  const auto source = test::makeSignal(3000, 2);
  const Bytes expected = pcmBytes(test::toInt16(source));
  for (const Case c : {Case{26'460'000, 26'460'000, "WavSize 105840000\n"},
                       Case{555'660'000, 536'870'911, "WavSize 2147483644\n"}}) {
    SCOPED_TRACE(c.declaredFrames);
    const Bytes flac = test::encodeFlac(source, {.declaredFrames = c.declaredFrames});
    const auto [result, printed] = loadFromMemory(0, flac);
    ASSERT_NE(result, 0);
    EXPECT_NE(printed.find(c.printedSize), std::string::npos) << printed;
    EXPECT_EQ(getSoundLength(0), c.expectedFrames);
    EXPECT_EQ(getSoundLength(0, UnitMilliseconds), c.expectedFrames * 1000 / 44100);
    // Read in place: the sound is stopped and shares its memory with nothing.
    soundout::SoundBuffer& buffer = *soundTable()->lookup(0)->buffer;
    soundout::LockedRegion region;
    ASSERT_EQ(buffer.lock(0, static_cast<std::uint32_t>(c.expectedFrames * 4), region),
              soundout::kOk);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), region.part1));
    EXPECT_TRUE(std::all_of(region.part1 + expected.size(), region.part1 + 1'000'000,
                            [](std::uint8_t b) { return b == 0; }));
    EXPECT_EQ(region.part1[region.bytes1 - 1], 0);
    buffer.unlock(region);
    // The end of a long sound can be reached.
    setSoundPosition(0, c.expectedFrames - 10);
    EXPECT_EQ(getSoundPosition(0), c.expectedFrames - 10);
    freeSound(0);
  }
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// With too little memory for a long sound the load gives 0, the failure of play, and the process
// goes on. (The sanitizers reserve their own memory and cannot run under an address-space limit.)
TEST_F(LoaderTest, LoadThatCannotHaveItsMemoryGivesZero) {
  const auto source = test::makeSignal(3000, 2);
  const Bytes flac = test::encodeFlac(source, {.declaredFrames = 500'000'000});
  const Bytes wav = test::makeWav(test::toInt16(source), 2, 44100);
  ASSERT_NE(loadFromMemory(0, wav).first, 0);
  EXPECT_EXIT(
      {
        rlimit limit{};
        getrlimit(RLIMIT_AS, &limit);
        // Room for what runs now and a little more, not for 2 GB of PCM.
        limit.rlim_cur = 1024ull << 20;
        std::FILE* status = std::fopen("/proc/self/statm", "r");
        unsigned long pages = 0;
        if (status && std::fscanf(status, "%lu", &pages) == 1) {
          limit.rlim_cur =
              pages * static_cast<unsigned long>(sysconf(_SC_PAGESIZE)) + (512ull << 20);
        }
        if (status) std::fclose(status);
        setrlimit(RLIMIT_AS, &limit);
        ::testing::internal::CaptureStdout();
        const ObjectNumber result = loadSoundFromMemory(0, flac.data(), flac.size());
        ::testing::internal::GetCapturedStdout();
        // The old sound is still there and plays.
        std::_Exit(result == 0 && getSoundLength(0) == 3000 && playSound(0, 0) == 1 ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}
#endif

TEST_F(LoaderTest, SourceWithoutAStatedLengthIsDecodedToItsEnd) {
  const auto source = test::makeSignal(5000, 2);
  const Bytes flac = test::encodeFlac(source, {.declaredFrames = 0});
  ASSERT_NE(loadFromMemory(0, flac).first, 0);
  EXPECT_EQ(getSoundLength(0), 5000);
  EXPECT_EQ(soundBytes(0), pcmBytes(test::toInt16(source)));
}

TEST_F(LoaderTest, FailedLoadsLeaveTheOldSoundPlayable) {
  const auto samples = test::toInt16(test::makeSignal(800, 2));
  ASSERT_NE(loadFromMemory(0, test::makeWav(samples, 2, 44100)).first, 0);
  const Bytes text = {'b', 'o', 'n', 'j', 'o', 'u', 'r', '\n'};
  // A format the output cannot play is still reported, then refused.
  const Bytes mp3InWave = RiffBuilder().format(2, 44100, 16, 0x55).data(samples).build();
  const Bytes noData = RiffBuilder().format(2, 44100, 16).build();
  struct Case {
    const char* name;
    Bytes image;
    bool reported;
  };
  // Data chunks shorter than one frame (the size field says so, or the image ends there).
  const Bytes emptyData = RiffBuilder().format(2, 44100, 16).data({}).build();
  const Bytes threeBytes = RiffBuilder().format(2, 44100, 16).chunk("data", {1, 2, 3}).build();
  const Bytes cutShort =
      RiffBuilder().format(2, 44100, 16).chunkWithSize("data", {1, 2}, 4000).build();
  for (const Case& c : {Case{"text", text, false}, Case{"mp3 in a wave", mp3InWave, true},
                        Case{"no data chunk", noData, false}, Case{"empty data", emptyData, true},
                        Case{"data of three bytes", threeBytes, true},
                        Case{"data cut within the first frame", cutShort, true}}) {
    SCOPED_TRACE(c.name);
    const auto [result, printed] = loadFromMemory(0, c.image);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(printed.empty(), !c.reported);
    ASSERT_TRUE(isSound(0));
    EXPECT_EQ(getSoundLength(0), 800);
    EXPECT_EQ(playSound(0, PlayLooped), 1);
    // The same from a file, whose RIFF data would be read as it plays.
    test::TempFile file(c.image);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(loadSound(0, file.path16()), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), printed);
    ASSERT_TRUE(isSound(0));
    EXPECT_EQ(getSoundLength(0), 800);
  }
  EXPECT_EQ(loadSoundFromMemory(0, nullptr, 10), 0);
}

TEST_F(LoaderTest, FilesLoadFromDiskAndAnUnchangedFileSharesItsDecode) {
  const auto first = test::makeSignal(6000, 2, 16, 1);
  test::TempFile file(test::encodeFlac(first, {}), ".flac");
  ::testing::internal::CaptureStdout();
  ASSERT_NE(loadSound(1, file.path16()), 0);  // the trial load
  ASSERT_NE(loadSound(0, file.path16()), 0);  // the real one
  const std::string printed = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 4) << "two lines per load";
  EXPECT_EQ(soundBytes(0), soundBytes(1));
  // Two sounds all the same: each keeps its own cursor.
  setSoundPosition(0, 1000);
  EXPECT_EQ(getSoundPosition(0), 1000);
  EXPECT_EQ(getSoundPosition(1), 0);
  freeSound(1);
  EXPECT_EQ(soundBytes(0), pcmBytes(test::toInt16(first)));

  // A changed file is read again.
  const auto second = test::makeSignal(6000, 2, 16, 2);
  const Bytes changed = test::encodeFlac(second, {});
  std::FILE* out = std::fopen(file.path().c_str(), "wb");
  std::fwrite(changed.data(), 1, changed.size(), out);
  std::fclose(out);
  ::testing::internal::CaptureStdout();
  ASSERT_NE(loadSound(2, file.path16()), 0);
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(soundBytes(2), pcmBytes(test::toInt16(second)));

  const Bytes text = {'t', 'e', 'x', 't', '\n'};
  test::TempFile textFile(text, ".txt");
  EXPECT_EQ(loadSound(5, textFile.path16()), 0);
  EXPECT_EQ(loadSound(5, u"/nonexistent/lunadio.flac"), 0);
}

TEST(LoaderWithoutDevice, LoadsNothingBeforeTheDeviceStarts) {
  const Bytes wav = test::makeWav(test::toInt16(test::makeSignal(100, 2)), 2, 44100);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(loadSoundFromMemory(0, wav.data(), wav.size()), 0);
  ::testing::internal::GetCapturedStdout();
}

}  // namespace
}  // namespace lunadio
