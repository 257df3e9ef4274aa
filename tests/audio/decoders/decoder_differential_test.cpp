// The plug-ins against the libraries on their own. Files come from the command-line encoders (flac,
// oggenc) and from the tests' own writers, made at test time in a temporary folder; for each, the
// whole load equals what libFLAC's stream decoder or libvorbisfile returns for the same file,
// brought to what the plug-ins write (16 bits; FLAC as stereo), and the decoder handle's pieced
// reads, rewind and looping read agree with the whole load.
#include <FLAC/stream_decoder.h>
#include <gtest/gtest.h>
#include <vorbis/vorbisfile.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "audio/decoders/flac_stereo.h"
#include "audio/decoders/sound_decoder.h"
#include "audio/internal/sound_record.h"
#include "audio/sound.h"
#include "audio/sound_loader.h"
#include "tests/audio/support/fixtures.h"
#include "tests/audio/support/flac_writer.h"
#include "tests/audio/support/sound_fixture.h"

namespace lunadio {
namespace {

using test::Bytes;
using Pcm = std::vector<std::int16_t>;

class TempFolder {
 public:
  TempFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/lunadio-diff-XXXXXX";
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  bool ok() const { return !path_.empty(); }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

Bytes readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

// Interleaved samples as raw little-endian signed PCM of bits / 8 bytes each.
Bytes rawPcm(const std::vector<std::int32_t>& samples, int bits) {
  Bytes raw;
  raw.reserve(samples.size() * static_cast<std::size_t>(bits / 8));
  for (std::int32_t s : samples) {
    for (int b = 0; b < bits / 8; ++b) raw.push_back(static_cast<std::uint8_t>(s >> (8 * b)));
  }
  return raw;
}

// A path as one shell word (the temporary folder comes from TMPDIR).
std::string quoted(const std::string& path) { return "'" + path + "'"; }

bool run(const std::string& command) { return std::system((command + " 2>&1").c_str()) == 0; }

// -- The libraries on their own -------------------------------------------------------------------

FLAC__StreamDecoderWriteStatus collectStereo(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                             const FLAC__int32* const buffer[], void* client) {
  auto& out = *static_cast<Pcm*>(client);
  const unsigned frames = frame->header.blocksize;
  const unsigned channels = frame->header.channels;
  const unsigned bits = frame->header.bits_per_sample;
  const auto sixteen = [bits](std::int32_t s) {
    return static_cast<std::int16_t>(
        bits >= 16 ? s >> (bits - 16)
                   : static_cast<std::int32_t>(static_cast<std::uint32_t>(s) << (16 - bits)));
  };
  const std::size_t at = out.size();
  out.resize(at + std::size_t{frames} * 2);
  if (channels > 2) {
    // The mix-down's weights are the plug-in's own; what is compared here is which samples of
    // which frames come out, and in what order.
    flacFramesToStereo16(buffer, channels, bits, 0, frames,
                         reinterpret_cast<std::uint8_t*>(out.data() + at));
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
  }
  for (unsigned f = 0; f < frames; ++f) {
    out[at + 2 * f] = sixteen(buffer[0][f]);
    out[at + 2 * f + 1] = sixteen(buffer[channels == 2 ? 1 : 0][f]);
  }
  return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

void ignoreError(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void*) {}

Pcm libflacStereo(const std::string& path) {
  Pcm out;
  FLAC__StreamDecoder* decoder = FLAC__stream_decoder_new();
  if (FLAC__stream_decoder_init_file(decoder, path.c_str(), collectStereo, nullptr, ignoreError,
                                     &out) == FLAC__STREAM_DECODER_INIT_STATUS_OK) {
    FLAC__stream_decoder_process_until_end_of_stream(decoder);
  }
  FLAC__stream_decoder_finish(decoder);
  FLAC__stream_decoder_delete(decoder);
  return out;
}

Pcm libvorbisfilePcm(const std::string& path) {
  Pcm out;
  OggVorbis_File file;
  if (ov_fopen(path.c_str(), &file) != 0) return out;
  char chunk[4096];
  int link = 0;
  for (long got; (got = ov_read(&file, chunk, sizeof chunk, 0, 2, 1, &link)) != 0;) {
    if (got < 0) continue;
    const std::size_t at = out.size();
    out.resize(at + static_cast<std::size_t>(got) / 2);
    std::memcpy(out.data() + at, chunk, static_cast<std::size_t>(got));
  }
  ov_clear(&file);
  return out;
}

// -- The project's reads --------------------------------------------------------------------------

// Equal, or where they first part.
::testing::AssertionResult samePcm(const Pcm& actual, const Pcm& expected) {
  const std::size_t common = std::min(actual.size(), expected.size());
  for (std::size_t i = 0; i < common; ++i) {
    if (actual[i] != expected[i]) {
      return ::testing::AssertionFailure() << "sample " << i << " of " << expected.size() << ": "
                                           << actual[i] << " instead of " << expected[i];
    }
  }
  if (actual.size() != expected.size()) {
    return ::testing::AssertionFailure()
           << actual.size() << " samples instead of " << expected.size();
  }
  return ::testing::AssertionSuccess();
}

Pcm loadedPcm(const Bytes& image) {
  if (loadSoundFromMemory(1, image.data(), image.size()) == 0) return {};
  soundout::SoundBuffer& buffer = *soundTable()->lookup(1)->buffer;
  soundout::BufferCaps caps;
  buffer.getCaps(caps);
  soundout::LockedRegion region;
  Pcm pcm;
  if (buffer.lock(0, caps.bufferBytes, region) == soundout::kOk) {
    pcm.resize(region.bytes1 / 2);
    std::memcpy(pcm.data(), region.part1, pcm.size() * 2);
    buffer.unlock(region);
  }
  freeSound(1);
  return pcm;
}

Pcm readPcm(DecoderHandle& handle, std::size_t samples, AtEnd atEnd) {
  Pcm pcm(samples);
  const std::int32_t got = handle.read(reinterpret_cast<std::uint8_t*>(pcm.data()),
                                       static_cast<std::int32_t>(samples * 2), atEnd);
  pcm.resize(static_cast<std::size_t>(std::max(got, 0)) / 2);
  return pcm;
}

// The whole load against the library's own decode, then the handle's reads against the whole
// load: pieces that end inside blocks, a rewind, and a looping read that comes round the end.
void expectAgreement(const Bytes& image, const Pcm& reference) {
  ASSERT_FALSE(reference.empty()) << "the library decoded nothing";
  const Pcm whole = loadedPcm(image);
  EXPECT_TRUE(samePcm(whole, reference)) << "whole load";

  auto handle = openDecoderForMemory(image, 0);
  ASSERT_TRUE(handle);
  const std::size_t frameSamples = static_cast<std::size_t>(handle->channels());
  const std::size_t pieceSamples = 5000 - 5000 % frameSamples;
  Pcm pieces;
  for (Pcm piece; !(piece = readPcm(*handle, pieceSamples, AtEnd::Stop)).empty();) {
    pieces.insert(pieces.end(), piece.begin(), piece.end());
  }
  EXPECT_TRUE(samePcm(pieces, reference)) << "reads of " << pieceSamples << " samples";

  handle->rewind();
  const std::size_t extra = 7000 * frameSamples;
  const Pcm looped = readPcm(*handle, reference.size() + extra, AtEnd::Loop);
  Pcm expected(reference.size() + extra);
  for (std::size_t i = 0; i < expected.size(); ++i) expected[i] = reference[i % reference.size()];
  EXPECT_TRUE(samePcm(looped, expected)) << "looping read after a rewind";
}

// STREAMINFO rewritten as other writers leave it. The block starts at byte 8 (after "fLaC" and
// the block header): smallest and largest block (16 bits each), smallest and largest frame (24
// bits each), then rate, channels, depth and the 36-bit total.
enum class StreamInfo { AsWritten, NoSizesNorTotal, LargestBlockUnderstated };

Bytes withStreamInfo(Bytes flac, StreamInfo kind, std::uint32_t blockFrames) {
  if (kind == StreamInfo::NoSizesNorTotal) {
    std::fill(flac.begin() + 12, flac.begin() + 18, 0);
    flac[21] &= 0xF0;
    std::fill(flac.begin() + 22, flac.begin() + 26, 0);
  } else if (kind == StreamInfo::LargestBlockUnderstated) {
    const std::uint32_t claimed = std::max<std::uint32_t>(16, blockFrames / 4);
    for (int at : {8, 10}) {
      flac[static_cast<std::size_t>(at)] = static_cast<std::uint8_t>(claimed >> 8);
      flac[static_cast<std::size_t>(at) + 1] = static_cast<std::uint8_t>(claimed);
    }
  }
  return flac;
}

class DecoderDifferential : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.ok());
    clearSoundDecoders();
    useVorbisDecoder();
    useFlacDecoder();
  }
  void TearDown() override {
    freeSound(ObjectAll);
    clearSoundDecoders();
  }

  TempFolder folder_;
  testing::MemorySoundDevice device_;
};

TEST_F(DecoderDifferential, FlacAgreesWithLibflac) {
  enum class Writer { FlacTool, Libflac, Hand };
  struct Case {
    Writer writer;
    int channels;
    int bits;
    int rate;
    std::uint32_t blockFrames;
    std::size_t frames;
  };
  const Case cases[] = {
      {Writer::FlacTool, 1, 8, 8000, 16, 3000},
      {Writer::FlacTool, 2, 16, 44100, 192, 12000},
      {Writer::FlacTool, 2, 16, 44100, 4096, 30000},
      {Writer::FlacTool, 4, 8, 11025, 256, 5000},
      {Writer::FlacTool, 5, 16, 44100, 1152, 8000},
      {Writer::FlacTool, 6, 24, 48000, 16384, 40000},
      {Writer::FlacTool, 7, 16, 48000, 2048, 6000},
      {Writer::FlacTool, 8, 24, 96000, 4608, 10000},
      {Writer::FlacTool, 1, 16, 22050, 32768, 70000},
      {Writer::FlacTool, 2, 24, 44100, 65535, 140000},
      // Depths the flac tool does not take as raw input.
      {Writer::Libflac, 3, 12, 32000, 576, 6000},
      {Writer::Libflac, 2, 20, 48000, 4096, 9000},
      // The format's largest block, which no encoder here writes.
      {Writer::Hand, 2, 16, 44100, 65536, 140000},
  };
  int index = 0;
  for (const Case& c : cases) {
    const std::string name = "f" + std::to_string(index++);
    SCOPED_TRACE(::testing::Message() << name << ": " << c.channels << " ch, " << c.bits
                                      << " bits, blocks of " << c.blockFrames);
    const auto signal = test::makeSignal(c.frames, c.channels, c.bits, c.blockFrames);
    Bytes written;
    switch (c.writer) {
      case Writer::FlacTool: {
        writeFile(folder_.file(name + ".raw"), rawPcm(signal, c.bits));
        ASSERT_TRUE(run(
            "flac --silent --lax --force-raw-format --endian=little --sign=signed"
            " --channels=" +
            std::to_string(c.channels) + " --bps=" + std::to_string(c.bits) + " --sample-rate=" +
            std::to_string(c.rate) + " --blocksize=" + std::to_string(c.blockFrames) + " -o " +
            quoted(folder_.file(name + ".flac")) + " " + quoted(folder_.file(name + ".raw"))));
        written = readFile(folder_.file(name + ".flac"));
        break;
      }
      case Writer::Libflac:
        written = test::encodeFlac(signal, {.channels = c.channels,
                                            .bitsPerSample = c.bits,
                                            .sampleRate = c.rate,
                                            .blockFrames = static_cast<int>(c.blockFrames)});
        break;
      case Writer::Hand:
        written = test::writeFlac(signal, {.channels = c.channels,
                                           .bitsPerSample = c.bits,
                                           .sampleRate = c.rate,
                                           .blockFrames = {c.blockFrames}});
        break;
    }
    ASSERT_GT(written.size(), 42u);
    for (const StreamInfo kind : {StreamInfo::AsWritten, StreamInfo::NoSizesNorTotal,
                                  StreamInfo::LargestBlockUnderstated}) {
      SCOPED_TRACE(static_cast<int>(kind));
      const Bytes image = withStreamInfo(written, kind, c.blockFrames);
      const std::string path = folder_.file(name + "-" + std::to_string(static_cast<int>(kind)));
      writeFile(path, image);
      const Pcm reference = libflacStereo(path);
      EXPECT_EQ(reference.size(), c.frames * 2) << "libFLAC decodes every frame";
      expectAgreement(image, reference);
    }
  }
}

TEST_F(DecoderDifferential, VorbisAgreesWithLibvorbisfile) {
  struct Case {
    int channels;
    int rate;
    int quality;  // oggenc's -q
    std::size_t frames;
  };
  const Case cases[] = {
      {1, 8000, -1, 12000},  {2, 22050, 0, 30000}, {2, 44100, 3, 60000},
      {2, 48000, 10, 50000}, {3, 32000, 4, 20000}, {6, 44100, 5, 30000},
  };
  int index = 0;
  for (const Case& c : cases) {
    const std::string name = "v" + std::to_string(index++);
    SCOPED_TRACE(::testing::Message() << name << ": " << c.channels << " ch at " << c.rate
                                      << " Hz, quality " << c.quality);
    writeFile(
        folder_.file(name + ".raw"),
        rawPcm(test::makeSignal(c.frames, c.channels, 16, static_cast<std::uint32_t>(index)), 16));
    const std::string path = folder_.file(name + ".ogg");
    ASSERT_TRUE(
        run("oggenc --quiet --raw --raw-bits=16 --raw-endianness=0"
            " --raw-chan=" +
            std::to_string(c.channels) + " --raw-rate=" + std::to_string(c.rate) +
            " --quality=" + std::to_string(c.quality) + " --serial=7 -o " + quoted(path) + " " +
            quoted(folder_.file(name + ".raw"))));
    expectAgreement(readFile(path), libvorbisfilePcm(path));
  }
  // Books whose entries are all unused: legal, decoded by the library (the floor or residue that
  // uses one decodes nothing where it is asked to), and so by the plug-in.
  for (const test::VorbisBook which :
       {test::VorbisBook::ResidueClassbook, test::VorbisBook::FloorSubclassBook}) {
    SCOPED_TRACE(which == test::VorbisBook::ResidueClassbook ? "residue classification book"
                                                             : "floor subclass book");
    test::VorbisOptions options;
    options.patchSetup = [which](Bytes& packet) {
      packet = test::withBookLengths(packet, which, {});
    };
    const Bytes image = test::encodeVorbis(test::toInt16(test::makeSignal(30000, 2)), options);
    const std::string path =
        folder_.file(which == test::VorbisBook::ResidueClassbook ? "empty-classbook.ogg"
                                                                 : "empty-floor-book.ogg");
    writeFile(path, image);
    expectAgreement(image, libvorbisfilePcm(path));
  }
}

}  // namespace
}  // namespace lunadio
