// The setup-header guard: real headers parse whole and pass; a residue book of zero dimensions,
// which libvorbis 1.3.7 divides by, is refused before the library sees the stream.
#include <gtest/gtest.h>
#include <vorbis/vorbisfile.h>

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "audio/decoders/sound_decoder.h"
#include "audio/decoders/vorbis_setup_check.h"
#include "tests/audio/support/fixtures.h"

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
