// The setup-header guard: real headers parse whole and pass; a residue book of zero dimensions,
// which libvorbis 1.3.7 divides by, is refused before the library sees the stream, whichever link
// it comes in and wherever the library's reads meet it; a plain file is opened without being read
// whole.
#include <gtest/gtest.h>
#include <vorbis/vorbisfile.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
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
Bytes hostileStream(ZeroedBook which, int serial = 1) {
  const auto signal = test::toInt16(test::makeSignal(20000, 2));
  test::VorbisOptions options;
  options.serial = serial;
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

// A setup packet whose first residue's classification book gets these codeword lengths.
Bytes withClassbookLengths(const Bytes& packet, const std::vector<int>& lengths) {
  return test::withBookLengths(packet, test::VorbisBook::ResidueClassbook, lengths);
}

// A stream whose book `which` gets these codeword lengths.
Bytes patchedBookStream(test::VorbisBook which, const std::vector<int>& lengths, int serial = 1) {
  const auto signal = test::toInt16(test::makeSignal(20000, 2));
  test::VorbisOptions options;
  options.serial = serial;
  options.patchSetup = [which, lengths](Bytes& packet) {
    packet = test::withBookLengths(packet, which, lengths);
  };
  return test::encodeVorbis(signal, options);
}

// A stream whose first residue's classification book holds one used entry of `length` bits: with
// length 2, libvorbis accepts the header and later divides by the book's dimensions.
Bytes singleEntryStream(int length, int serial = 1) {
  return patchedBookStream(test::VorbisBook::ResidueClassbook, {length}, serial);
}

constexpr std::size_t kPlainFrames = 20000;

Bytes plainStream(int serial, std::size_t frames = kPlainFrames) {
  return test::encodeVorbis(test::toInt16(test::makeSignal(frames, 2)), {.serial = serial});
}

// A plain stream whose first audio page fails its checksum.
Bytes damagedPlainStream() {
  auto pages = test::encodeVorbisPages(test::toInt16(test::makeSignal(kPlainFrames, 2)), {});
  pages.at(2).back() ^= 0x5A;
  return test::joinPages(pages);
}

// The header pages of a stream (granule 0): its BOS page and the pages of its other headers.
Bytes headerPagesOf(const Bytes& stream) {
  Bytes out;
  ogg_sync_state sync;
  ogg_sync_init(&sync);
  char* buffer = ogg_sync_buffer(&sync, static_cast<long>(stream.size()));
  std::memcpy(buffer, stream.data(), stream.size());
  ogg_sync_wrote(&sync, static_cast<long>(stream.size()));
  ogg_page page;
  while (ogg_sync_pageout(&sync, &page) == 1 && ogg_page_granulepos(&page) == 0) {
    out.insert(out.end(), page.header, page.header + page.header_len);
    out.insert(out.end(), page.body, page.body + page.body_len);
  }
  ogg_sync_clear(&sync);
  return out;
}

// The first link of kPlainFrames frames, grouped with a stream of another kind whose one data
// page holds `body`: bytes that only a reader landing inside that page would take for pages.
Bytes withCarriedBytes(const Bytes& body) {
  ogg_stream_state stream;
  ogg_stream_init(&stream, 99);
  std::uint8_t first = 0;
  ogg_packet start{&first, 1, 1, 0, 0, 0};
  ogg_packet packet{
      const_cast<std::uint8_t*>(body.data()), static_cast<long>(body.size()), 0, 0, 1, 1};
  std::vector<Bytes> carrier;
  ogg_page page;
  for (ogg_packet* p : {&start, &packet}) {
    ogg_stream_packetin(&stream, p);
    while (ogg_stream_flush(&stream, &page)) {
      Bytes bytes(page.header, page.header + page.header_len);
      bytes.insert(bytes.end(), page.body, page.body + page.body_len);
      carrier.push_back(bytes);
    }
  }
  ogg_stream_clear(&stream);
  auto pages = test::encodeVorbisPages(test::toInt16(test::makeSignal(kPlainFrames, 2)), {});
  // Its BOS page with the first link's, its data page among the audio pages.
  pages.insert(pages.begin() + 1, carrier.front());
  pages.insert(pages.begin() + 5, carrier.back());
  return test::joinPages(pages);
}

std::int64_t decodedFrames(DecoderHandle& handle) {
  std::vector<std::uint8_t> pcm(1 << 16);
  std::int64_t frames = 0;
  for (std::int32_t got;
       (got = handle.read(pcm.data(), static_cast<std::int32_t>(pcm.size()), AtEnd::Stop)) > 0;) {
    frames += got / 4;
  }
  return frames;
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
      {"no used entry", {}, HuffmanFill::NoUsedEntry},
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
    const bool decodable = c.fill != HuffmanFill::Underfull && c.fill != HuffmanFill::Overfull;
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
      {"floor book with a single entry of two bits",
       patchedBookStream(test::VorbisBook::FloorSubclassBook, {2})},
      {"zero-dimension classification book", hostileStream(ZeroedBook::Classification)},
      {"zero-dimension partition book", hostileStream(ZeroedBook::Partition)},
      {"second link with a single entry of two bits",
       test::joinPages({plainStream(1), singleEntryStream(2, 2)})},
      // The last link has the first one's serial number: the open takes the file for one link,
      // and only the decode meets the hostile one.
      // The open, refused at the second link, goes on looking for the first one's pages: it must
      // find the source ended, not empty where it had read pages.
      {"damaged first link before a hostile one",
       test::joinPages({damagedPlainStream(), singleEntryStream(2, 2)})},
      {"middle link with a zero-dimension book",
       test::joinPages({plainStream(1), hostileStream(ZeroedBook::Partition, 2), plainStream(1)})},
  };
  // LUNADIO_CORPUS_DIR=fuzz/audio/corpus writes these streams out as seeds of the fuzz targets.
  const char* corpus = std::getenv("LUNADIO_CORPUS_DIR");
  const auto writeSeed = [corpus](const std::string& kind, const Case& c) {
    if (!corpus) return;
    std::string name = std::string(corpus) + "/" + kind + " " + c.name + ".ogg";
    std::replace(name.begin() + static_cast<std::ptrdiff_t>(std::strlen(corpus)), name.end(), ' ',
                 '-');
    if (std::FILE* out = std::fopen(name.c_str(), "wb")) {
      std::fwrite(c.stream.data(), 1, c.stream.size(), out);
      std::fclose(out);
    }
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(c.stream.empty());
    writeSeed("hostile", c);
    ByteSource source(c.stream);
    EXPECT_EQ(scanOggVorbisHeaders(source), OggVorbisScan::Refused);
    EXPECT_EXIT(readEveryWay(c.stream), ::testing::ExitedWithCode(0), "");
  }
  // The degenerate books that are allowed (one entry of one bit; no used entry at all, where a
  // residue or a floor decodes nothing) go through every read path like any other.
  const Case allowed[] = {
      {"single entry of one bit", singleEntryStream(1)},
      {"classification book without a used entry",
       patchedBookStream(test::VorbisBook::ResidueClassbook, {})},
      {"floor book without a used entry",
       patchedBookStream(test::VorbisBook::FloorSubclassBook, {})},
  };
  for (const Case& c : allowed) {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(c.stream.empty());
    writeSeed("allowed", c);
    ByteSource source(c.stream);
    EXPECT_EQ(scanOggVorbisHeaders(source), OggVorbisScan::Decodable);
    EXPECT_EXIT(readEveryWay(c.stream), ::testing::ExitedWithCode(0), "");
  }
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

// The streams after the first link, met by the open (looking for the links) or by the decode: a
// hostile one is refused, or ends the source before the library reads it.
TEST(VorbisSetupCheck, LaterStreamsAreCheckedWhereTheReadsMeetThem) {
  // Links longer than the library's reads (64 KiB), so that the open, which reads the start and
  // the end of the file, does not meet the middle one.
  constexpr std::size_t kLongFrames = 8 * 44100;
  const Bytes longFirst = plainStream(1, kLongFrames);
  ASSERT_GT(longFirst.size(), 3u * 32768);
  Bytes lookalike = {'O', 'g', 'g', 'S', 0, 0x02};
  lookalike.resize(3000, 0x33);
  struct Case {
    const char* name;
    Bytes stream;
    bool opens;
    std::int64_t frames;  // decoded, when it opens
  };
  const Case cases[] = {
      {"two plain links", test::joinPages({plainStream(1), plainStream(2)}), true,
       2 * kPlainFrames},
      {"a hostile second link",
       test::joinPages({plainStream(1), hostileStream(ZeroedBook::Partition, 2)}), false, 0},
      // The last link has the first one's serial number: the open takes the file for one link,
      // and the decode ends where it meets the hostile one.
      {"a hostile middle link that only the decode meets",
       test::joinPages({longFirst, hostileStream(ZeroedBook::Partition, 2), longFirst}), true,
       kLongFrames},
      {"a hostile stream's start inside another page",
       withCarriedBytes(headerPagesOf(hostileStream(ZeroedBook::Partition, 2))), false, 0},
      {"bytes inside a page that only look like a stream's start", withCarriedBytes(lookalike),
       true, kPlainFrames},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempFile file(c.stream);
    std::FILE* stdioFile = std::fopen(file.path().c_str(), "rb");
    ASSERT_TRUE(stdioFile);
    for (const DecoderSource& source :
         {DecoderSource{nullptr, c.stream}, DecoderSource{stdioFile, {}}}) {
      auto handle = vorbisDecoder().open(source, 0);
      EXPECT_EQ(static_cast<bool>(handle), c.opens) << (source.file ? "file" : "memory");
      if (handle) {
        EXPECT_EQ(decodedFrames(*handle), c.frames);
      }
    }
    std::fclose(stdioFile);
  }
}

// A reader's pieces may cut a stream's first page anywhere: its start is still checked before the
// piece that completes it is handed over.
TEST(VorbisSetupCheck, AStreamStartSplitAcrossReadsIsCheckedAllTheSame) {
  const Bytes first = plainStream(1);
  for (const bool hostile : {false, true}) {
    const Bytes stream = test::joinPages(
        {first, hostile ? hostileStream(ZeroedBook::Partition, 2) : plainStream(2)});
    for (std::size_t split = first.size() - 6; split <= first.size() + 6; ++split) {
      SCOPED_TRACE(::testing::Message() << (hostile ? "hostile" : "plain") << " at " << split);
      CheckedOggSource source{ByteSource(stream)};
      ASSERT_EQ(source.open(), OggVorbisScan::Decodable);
      Bytes out(stream.size());
      std::size_t got = source.read(out.data(), split);
      got += source.read(out.data() + got, 1);
      got += source.read(out.data() + got, out.size() - got);
      EXPECT_EQ(source.refused(), hostile);
      if (hostile) {
        // Everything before the refused page, and at most the five bytes of it that cannot make
        // a page, read before its sixth told what it was.
        EXPECT_GE(got, first.size());
        EXPECT_LT(got, first.size() + 6);
      } else {
        EXPECT_EQ(got, stream.size());
      }
    }
  }
}

// A stdio stream over an image that counts what is read of the bytes between two offsets.
struct CountingImage {
  const Bytes& image;
  std::size_t watchedFrom, watchedTo;
  std::size_t position = 0, watchedBytes = 0;

  static ssize_t read(void* cookie, char* destination, std::size_t bytes) {
    auto& self = *static_cast<CountingImage*>(cookie);
    const std::size_t take = std::min(bytes, self.image.size() - self.position);
    std::memcpy(destination, self.image.data() + self.position, take);
    const std::size_t from = std::max(self.position, self.watchedFrom);
    const std::size_t to = std::min(self.position + take, self.watchedTo);
    if (to > from) self.watchedBytes += to - from;
    self.position += take;
    return static_cast<ssize_t>(take);
  }
  static int seek(void* cookie, off64_t* offset, int whence) {
    auto& self = *static_cast<CountingImage*>(cookie);
    const off64_t base = whence == SEEK_SET   ? 0
                         : whence == SEEK_CUR ? static_cast<off64_t>(self.position)
                                              : static_cast<off64_t>(self.image.size());
    if (base + *offset < 0 || base + *offset > static_cast<off64_t>(self.image.size())) return -1;
    self.position = static_cast<std::size_t>(*offset = base + *offset);
    return 0;
  }
};

TEST(VorbisSetupCheck, APlainFileOpensAndStartsWithoutBeingReadWhole) {
  const Bytes stream =
      test::encodeVorbis(test::toInt16(test::makeSignal(16 * 44100, 2)), {.quality = 1.0f});
  // What an open and the first second may read: the start and the end, a chunk of the library's
  // reads each (64 KiB) and what the checks read ahead of it.
  constexpr std::size_t kEdgeBytes = 256 * 1024;
  ASSERT_GT(stream.size(), 3 * kEdgeBytes) << "long enough to have a middle";
  CountingImage counting{stream, kEdgeBytes, stream.size() - kEdgeBytes};
  std::FILE* file = fopencookie(
      &counting, "rb",
      cookie_io_functions_t{CountingImage::read, nullptr, CountingImage::seek, nullptr});
  ASSERT_TRUE(file);
  auto handle = vorbisDecoder().open(DecoderSource{file, {}}, 0);
  ASSERT_TRUE(handle);
  EXPECT_EQ(handle->frameCount(), 16u * 44100);
  std::vector<std::uint8_t> pcm(44100 * 4);
  EXPECT_EQ(handle->read(pcm.data(), static_cast<std::int32_t>(pcm.size()), AtEnd::Stop),
            static_cast<std::int32_t>(pcm.size()));
  EXPECT_EQ(counting.watchedBytes, 0u);
  // The decode goes on through the middle, unrefused.
  EXPECT_EQ(decodedFrames(*handle), 15 * 44100);
  handle.reset();
  std::fclose(file);
}

}  // namespace
}  // namespace lunadio
