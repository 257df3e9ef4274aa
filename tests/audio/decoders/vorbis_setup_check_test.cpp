// The setup-header guard: real headers parse whole and pass; a residue book of zero dimensions,
// which libvorbis 1.3.7 divides by, is refused before the library sees the stream.
#include <gtest/gtest.h>
#include <vorbis/vorbisfile.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include <chrono>
#include <thread>

#include "audio/decoders/sound_decoder.h"
#include "audio/decoders/vorbis_setup_check.h"
#include "audio/sound.h"
#include "audio/sound_loader.h"
#include "tests/audio/support/fixtures.h"
#include "tests/audio/support/sound_fixture.h"

namespace lunadio {
namespace {

using test::Bytes;

// The setup packet libvorbisenc writes for these options.
Bytes setupPacketFor(const test::VorbisOptions& options) {
  Bytes captured;
  test::VorbisOptions capture = options;
  capture.patchSetup = [&](Bytes& packet) { captured = packet; };
  const auto signal = test::toInt16(test::makeSignal(100, options.channels));
  test::encodeVorbis(signal, capture);
  return captured;
}

enum class ZeroedBook { Classification, Partition };

// A stream whose first residue uses a book patched to zero dimensions. A book with a value
// lookup keeps the lookup's header and loses its values (zero dimensions have none), so that the
// rest of the setup header still reads as libvorbis expects it.
Bytes hostileStream(ZeroedBook which) {
  const auto signal = test::toInt16(test::makeSignal(20000, 2));
  test::VorbisOptions options;
  options.patchSetup = [which](Bytes& packet) {
    const auto setup = parseVorbisSetupHeader(packet, 2);
    ASSERT_TRUE(setup);
    const auto& residue = setup->residues.at(0);
    const int index =
        which == ZeroedBook::Classification ? residue.classbook : residue.partitionBooks.at(0);
    const auto& book = setup->codebooks.at(static_cast<std::size_t>(index));
    const std::int64_t lookupHeaderBits =
        book.endBitOffset - book.lookupTypeBitOffset > 4 ? 4 + 69 : 4;
    const std::int64_t keptEnd = book.lookupTypeBitOffset + lookupHeaderBits;
    Bytes patched = test::spliceBits(packet, keptEnd, 0, 0, book.endBitOffset);
    test::writeBits(patched, book.dimensionsBitOffset, 16, 0);
    packet = patched;
  };
  return test::encodeVorbis(signal, options);
}

// Codeword lengths of a sparse book of `entries` entries: lengths[e] for each, 0 for unused.
std::vector<std::uint8_t> sparseLengthBits(int entries, const std::vector<int>& lengths) {
  std::vector<std::uint8_t> bits = {0, 1};  // not ordered, sparse
  for (int e = 0; e < entries; ++e) {
    const int length =
        e < static_cast<int>(lengths.size()) ? lengths[static_cast<std::size_t>(e)] : 0;
    bits.push_back(length > 0);
    if (length > 0) {
      for (int b = 0; b < 5; ++b) bits.push_back(static_cast<std::uint8_t>((length - 1) >> b & 1));
    }
  }
  return bits;
}

// A setup packet whose first residue's classification book gets these codeword lengths.
Bytes withClassbookLengths(const Bytes& packet, const std::vector<int>& lengths) {
  const auto setup = parseVorbisSetupHeader(packet, 2);
  if (!setup) return {};
  const auto& book = setup->codebooks.at(static_cast<std::size_t>(setup->residues.at(0).classbook));
  return test::spliceBitString(packet, book.lengthsBitOffset,
                               sparseLengthBits(book.entries, lengths), book.lookupTypeBitOffset);
}

// A stream whose first residue's classification book holds one used entry of `length` bits: with
// length 2, libvorbis accepts the header and later divides by the book's dimensions.
Bytes singleEntryStream(int length) {
  const auto signal = test::toInt16(test::makeSignal(20000, 2));
  test::VorbisOptions options;
  options.patchSetup = [length](Bytes& packet) { packet = withClassbookLengths(packet, {length}); };
  return test::encodeVorbis(signal, options);
}

TEST(VorbisSetupCheck, EveryBookMustFillItsHuffmanTreeExactly) {
  const Bytes packet = setupPacketFor({});
  struct Case {
    const char* name;
    std::vector<int> lengths;
    HuffmanFill fill;
  };
  const Case cases[] = {
      {"two of one bit", {1, 1}, HuffmanFill::Full},
      {"1, 2, 3, 3", {1, 2, 3, 3}, HuffmanFill::Full},
      {"a single entry of one bit", {1}, HuffmanFill::SingleEntry},
      {"a single entry of two bits", {2}, HuffmanFill::Underfull},
      {"a leaf missing", {1, 2}, HuffmanFill::Underfull},
      {"no used entry", {}, HuffmanFill::Underfull},
      {"three of one bit", {1, 1, 1}, HuffmanFill::Overfull},
      {"1, 2, 2, 3", {1, 2, 2, 3}, HuffmanFill::Overfull},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto setup = parseVorbisSetupHeader(withClassbookLengths(packet, c.lengths), 2);
    ASSERT_TRUE(setup);
    EXPECT_TRUE(setup->complete);
    const auto& book =
        setup->codebooks.at(static_cast<std::size_t>(setup->residues.at(0).classbook));
    EXPECT_EQ(book.fill, c.fill);
    const bool decodable = c.fill == HuffmanFill::Full || c.fill == HuffmanFill::SingleEntry;
    EXPECT_EQ(isVorbisSetupDecodable(*setup), decodable);
  }
}

// Every way the engine reads a source, run on a hostile one: the first read, a read after a
// rewind, a looping read, a whole load and a streamed play. Exits 0 when all come back.
[[noreturn]] void readEveryWay(const Bytes& stream) {
  alarm(20);
  std::vector<std::uint8_t> pcm(1 << 16);
  if (auto handle = vorbisDecoder().open(DecoderSource{nullptr, stream}, 0)) {
    handle->read(pcm.data(), static_cast<std::int32_t>(pcm.size()), AtEnd::Stop);
    handle->rewind();
    handle->read(pcm.data(), static_cast<std::int32_t>(pcm.size()), AtEnd::Stop);
    for (int pass = 0; pass < 8; ++pass) {
      handle->read(pcm.data(), static_cast<std::int32_t>(pcm.size()), AtEnd::Loop);
    }
  }
  {
    testing::MemorySoundDevice device;
    useVorbisDecoder();
    loadSoundFromMemory(1, stream.data(), stream.size());
    playSound(1, PlayLooped);
    device.render(20000);
    test::TempFile file(stream);
    if (loadSound(2, file.path16(), LoadStreamed) != 0) {
      for (int pass = 0; pass < 3; ++pass) {
        playSound(2, PlayLooped);
        for (int block = 0; block < 20; ++block) {
          device.render(4096);
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
      }
    }
    freeSound(ObjectAll);
  }
  std::_Exit(0);
}

TEST(VorbisSetupCheckDeathTest, HostileStreamsAreRefusedOnEveryReadPath) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  struct Case {
    const char* name;
    Bytes stream;
  };
  const Case cases[] = {
      {"single entry of two bits", singleEntryStream(2)},
      {"zero-dimension classification book", hostileStream(ZeroedBook::Classification)},
      {"zero-dimension partition book", hostileStream(ZeroedBook::Partition)},
  };
  // LUNADIO_CORPUS_DIR=fuzz/audio/corpus writes these streams out as seeds of the fuzz targets.
  const char* corpus = std::getenv("LUNADIO_CORPUS_DIR");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(c.stream.empty());
    if (corpus) {
      std::string name = std::string(corpus) + "/hostile " + c.name + ".ogg";
      std::replace(name.begin() + static_cast<std::ptrdiff_t>(std::strlen(corpus)), name.end(), ' ',
                   '-');
      if (std::FILE* out = std::fopen(name.c_str(), "wb")) {
        std::fwrite(c.stream.data(), 1, c.stream.size(), out);
        std::fclose(out);
      }
    }
    ByteSource source(c.stream);
    EXPECT_EQ(scanOggVorbisHeaders(source), OggVorbisScan::Refused);
    EXPECT_EXIT(readEveryWay(c.stream), ::testing::ExitedWithCode(0), "");
  }
  // The one degenerate book that is allowed decodes like any other.
  const Bytes single = singleEntryStream(1);
  ByteSource source(single);
  EXPECT_EQ(scanOggVorbisHeaders(source), OggVorbisScan::Decodable);
  EXPECT_EXIT(readEveryWay(single), ::testing::ExitedWithCode(0), "");
}

TEST(VorbisSetupCheck, EncoderHeadersParseWholeAndAreDecodable) {
  struct Case {
    int channels;
    int rate;
    float quality;
  };
  for (const Case c :
       {Case{1, 22050, -0.1f}, Case{2, 44100, 0.3f}, Case{2, 48000, 1.0f}, Case{5, 44100, 0.5f}}) {
    SCOPED_TRACE(c.channels);
    const Bytes packet =
        setupPacketFor({.channels = c.channels, .sampleRate = c.rate, .quality = c.quality});
    const auto setup = parseVorbisSetupHeader(packet, c.channels);
    ASSERT_TRUE(setup);
    EXPECT_TRUE(setup->complete) << "mappings, modes and framing bit read to the end";
    EXPECT_FALSE(setup->codebooks.empty());
    EXPECT_FALSE(setup->residues.empty());
    EXPECT_TRUE(isVorbisSetupDecodable(*setup));
  }
}

TEST(VorbisSetupCheck, TruncatedOrForeignPacketsAreNotSetupHeaders) {
  const Bytes packet = setupPacketFor({});
  for (std::size_t size = 0; size < packet.size(); size += 1 + size / 4) {
    EXPECT_FALSE(parseVorbisSetupHeader(std::span(packet).first(size), 2)) << size;
  }
  Bytes wrongType = packet;
  wrongType[0] = 0x03;
  EXPECT_FALSE(parseVorbisSetupHeader(wrongType, 2));
}

TEST(VorbisSetupCheck, ZeroDimensionResidueBooksAreRefusedBeforeDecoding) {
  for (const ZeroedBook which : {ZeroedBook::Classification, ZeroedBook::Partition}) {
    SCOPED_TRACE(static_cast<int>(which));
    const Bytes stream = hostileStream(which);
    ByteSource source(stream);
    EXPECT_EQ(scanOggVorbisHeaders(source), OggVorbisScan::Refused);
    EXPECT_FALSE(vorbisDecoder().open(DecoderSource{nullptr, stream}, 0));
    test::TempFile file(stream);
    std::FILE* stdioFile = std::fopen(file.path().c_str(), "rb");
    EXPECT_FALSE(vorbisDecoder().open(DecoderSource{stdioFile, {}}, 0));
    std::fclose(stdioFile);
  }
}

// Shows that the patched fixture is the hostile file it claims to be: handed to libvorbisfile
// without the guard, decoding never comes back (or dies, depending on the residue type).
TEST(VorbisSetupCheckDeathTest, UnguardedLibraryNeverFinishesThePatchedStream) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const Bytes stream = hostileStream(ZeroedBook::Partition);
  test::TempFile file(stream);
  const auto decodeUnguarded = [&] {
    alarm(2);
    OggVorbis_File vf;
    if (ov_fopen(file.path().c_str(), &vf) != 0) std::exit(0);
    char pcm[4096];
    int section = 0;
    for (int calls = 0; calls < 100000 && ov_read(&vf, pcm, sizeof pcm, 0, 2, 1, &section) != 0;
         ++calls) {
    }
    std::exit(0);
  };
  const auto hungOrCrashed = [](int status) {
    return WIFSIGNALED(status) && (WTERMSIG(status) == SIGALRM || WTERMSIG(status) == SIGFPE);
  };
  EXPECT_EXIT(decodeUnguarded(), hungOrCrashed, "");
}

TEST(VorbisSetupCheck, SourcesWithoutOggPagesAreNotOgg) {
  const Bytes text(300 * 1024, 'a');
  ByteSource source(text);
  EXPECT_EQ(scanOggVorbisHeaders(source), OggVorbisScan::NotOgg);
  const auto flac = test::encodeFlac(test::makeSignal(1000, 2), {});
  ByteSource flacSource(flac);
  EXPECT_EQ(scanOggVorbisHeaders(flacSource), OggVorbisScan::NotOgg);
}

}  // namespace
}  // namespace lunadio
