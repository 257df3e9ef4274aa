#pragma once
// Test fixtures made on the fly: WAV images with any chunk layout, FLAC streams from libFLAC's
// encoder and Ogg Vorbis streams from libvorbisenc, with the knobs that real files from other
// encoders turn (no total length, a header length that disagrees with the audio, holes, chains,
// a patched setup header).

#include <ogg/ogg.h>

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace lunadio::test {

using Bytes = std::vector<std::uint8_t>;

// Interleaved samples at `bits` depth: a chord of sines per channel with a little noise, so that
// every channel differs and no two neighbouring blocks are alike.
std::vector<std::int32_t> makeSignal(std::size_t frames, int channels, int bits = 16,
                                     std::uint32_t seed = 1);
std::vector<std::int16_t> toInt16(std::span<const std::int32_t> samples);

// RIFF images chunk by chunk; odd bodies get their pad byte unless told not to.
class RiffBuilder {
 public:
  explicit RiffBuilder(std::string formType = "WAVE") : formType_(std::move(formType)) {}
  RiffBuilder& chunk(const std::string& id, const Bytes& body, bool pad = true);
  // A chunk whose size field says `declaredBytes` while only `body` follows.
  RiffBuilder& chunkWithSize(const std::string& id, const Bytes& body, std::uint32_t declaredBytes);
  RiffBuilder& format(int channels, int rate, int bits, int formatTag = 1,
                      std::size_t bodyBytes = 16);
  RiffBuilder& data(std::span<const std::int16_t> samples);
  Bytes build() const;

 private:
  std::string formType_;
  Bytes chunks_;
};

Bytes makeWav(std::span<const std::int16_t> samples, int channels, int rate);

struct FlacOptions {
  int channels = 2;
  int bitsPerSample = 16;
  int sampleRate = 44100;
  int blockFrames = 4096;
  // The total length written into the header: -1 the real one, 0 none, else this value (a header
  // that disagrees with the audio).
  std::int64_t declaredFrames = -1;
};
// `samples` are interleaved, at the depth of the options.
Bytes encodeFlac(std::span<const std::int32_t> samples, const FlacOptions& options);

struct VorbisOptions {
  int channels = 2;
  int sampleRate = 44100;
  float quality = 0.3f;
  int serial = 1;
  // Called with the setup header packet before it is written (to build hostile files).
  std::function<void(Bytes& setupPacket)> patchSetup;
};
// The pages of the stream, each a whole Ogg page.
std::vector<Bytes> encodeVorbisPages(std::span<const std::int16_t> samples,
                                     const VorbisOptions& options);
Bytes encodeVorbis(std::span<const std::int16_t> samples, const VorbisOptions& options);
Bytes joinPages(const std::vector<Bytes>& pages);
// Rewrites the granule position of a page and its checksum.
void setPageGranule(Bytes& page, std::int64_t granule);

// Sets `bitCount` bits at `bitOffset` (Vorbis bit order: least significant first).
void writeBits(Bytes& packet, std::int64_t bitOffset, int bitCount, std::uint32_t value);

// The packet's bits [0, from) + `bitCount` bits of `value` + bits [to, end): replaces a field and
// drops what followed it up to `to`.
Bytes spliceBits(const Bytes& packet, std::int64_t from, int bitCount, std::uint32_t value,
                 std::int64_t to);

// The same with any number of bits: `bits` holds one bit per element (0 or 1), first bit first.
Bytes spliceBitString(const Bytes& packet, std::int64_t from, const std::vector<std::uint8_t>& bits,
                      std::int64_t to);

// Books of a setup header that tests rewrite: the first residue's classification book, or the
// first subclass book of the first floor that has one.
enum class VorbisBook { ResidueClassbook, FloorSubclassBook };
// The setup packet with that book's codeword lengths replaced by a sparse list: lengths[e] bits
// for entry e, unused past the list's end (an empty list: no used entry at all). Empty when the
// packet does not parse.
Bytes withBookLengths(const Bytes& setupPacket, VorbisBook which, const std::vector<int>& lengths);

// A file in the test's temporary folder, removed with the object.
class TempFile {
 public:
  explicit TempFile(const Bytes& contents, const std::string& suffix = "");
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::string& path() const { return path_; }
  std::u16string path16() const;

 private:
  std::string path_;
};

}  // namespace lunadio::test
