#include "audio/decoders/vorbis_setup_check.h"

#include <ogg/ogg.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>

namespace lunadio {
namespace {

// libogg's bit reader with the packet's end made explicit: every read checks what is left first,
// so a huge count from a hostile header fails at once instead of looping over it.
class BitReader {
 public:
  explicit BitReader(std::span<const std::uint8_t> packet)
      : totalBits_(static_cast<std::int64_t>(packet.size()) * 8) {
    // The reader never writes through the pointer; libogg's signature is only older than const.
    oggpack_readinit(&buffer_, const_cast<unsigned char*>(packet.data()),
                     static_cast<int>(packet.size()));
  }

  std::uint32_t read(int bits) {
    if (failed_ || bits == 0) return 0;
    if (remaining() < bits) {
      failed_ = true;
      return 0;
    }
    const long value = oggpack_read(&buffer_, bits);
    if (value < 0) {
      failed_ = true;
      return 0;
    }
    return static_cast<std::uint32_t>(value);
  }

  void skip(std::uint64_t bits) {
    if (failed_) return;
    if (bits > static_cast<std::uint64_t>(remaining())) {
      failed_ = true;
      return;
    }
    while (bits > 0) {
      const auto step = static_cast<int>(std::min<std::uint64_t>(bits, 1u << 30));
      oggpack_adv(&buffer_, step);
      bits -= static_cast<std::uint64_t>(step);
    }
  }

  std::int64_t position() const { return oggpack_bits(const_cast<oggpack_buffer*>(&buffer_)); }
  std::int64_t remaining() const { return totalBits_ - position(); }
  bool failed() const { return failed_; }

 private:
  oggpack_buffer buffer_{};
  std::int64_t totalBits_;
  bool failed_ = false;
};

int bitLength(std::uint32_t value) {
  int bits = 0;
  while (value) {
    ++bits;
    value >>= 1;
  }
  return bits;
}

// base^exponent, or limit + 1 as soon as it passes limit.
std::uint64_t boundedPower(std::uint64_t base, int exponent, std::uint64_t limit) {
  std::uint64_t result = 1;
  for (int i = 0; i < exponent; ++i) {
    result *= base;
    if (result > limit) return limit + 1;
  }
  return result;
}

// The largest r with r^dimensions <= entries: the value count of a lookup-type-1 book.
std::uint64_t latticeValues(std::uint32_t entries, int dimensions) {
  if (entries == 0 || dimensions == 0) return 0;
  auto r = static_cast<std::uint64_t>(
      std::floor(std::pow(static_cast<double>(entries), 1.0 / dimensions)));
  while (r > 0 && boundedPower(r, dimensions, entries) > entries) --r;
  while (boundedPower(r + 1, dimensions, entries) <= entries) ++r;
  return r;
}

// Sums 2^(32 - length) over the used entries: a full tree sums to exactly 2^32.
class KraftSum {
 public:
  void add(std::uint32_t length, std::uint64_t count = 1) {
    if (count == 0) return;
    used_ += count;
    if (used_ == count) firstLength_ = length;
    if (sum_ <= kFull) sum_ += count << (32 - length);  // length is 1..32
  }
  HuffmanFill fill() const {
    if (used_ == 0) return HuffmanFill::NoUsedEntry;
    if (used_ == 1) return firstLength_ == 1 ? HuffmanFill::SingleEntry : HuffmanFill::Underfull;
    if (sum_ > kFull) return HuffmanFill::Overfull;
    return sum_ == kFull ? HuffmanFill::Full : HuffmanFill::Underfull;
  }

 private:
  static constexpr std::uint64_t kFull = std::uint64_t{1} << 32;
  std::uint64_t sum_ = 0;  // at most 2^24 entries of 2^31: no overflow before the check
  std::uint64_t used_ = 0;
  std::uint32_t firstLength_ = 0;
};

bool readCodebook(BitReader& bits, VorbisSetupInfo::Codebook& book) {
  if (bits.read(24) != 0x564342) return false;
  book.dimensionsBitOffset = bits.position();
  book.dimensions = static_cast<int>(bits.read(16));
  const std::uint32_t entries = bits.read(24);
  book.entries = static_cast<int>(entries);
  book.lengthsBitOffset = bits.position();
  KraftSum kraft;
  const bool ordered = bits.read(1) != 0;
  if (!ordered) {
    const bool sparse = bits.read(1) != 0;
    // Every entry takes at least one bit: a count beyond what is left fails before the loop.
    if (entries > static_cast<std::uint64_t>(bits.remaining())) return false;
    for (std::uint32_t e = 0; e < entries && !bits.failed(); ++e) {
      if (!sparse || bits.read(1)) kraft.add(bits.read(5) + 1);
    }
  } else {
    std::uint32_t length = bits.read(5) + 1;
    std::uint32_t current = 0;
    while (current < entries && !bits.failed()) {
      if (length > 32) return false;
      const std::uint32_t number = bits.read(bitLength(entries - current));
      current += number;
      if (current > entries) return false;
      kraft.add(length, number);
      ++length;
    }
  }
  book.fill = kraft.fill();
  book.lookupTypeBitOffset = bits.position();
  const std::uint32_t lookupType = bits.read(4);
  if (lookupType == 1 || lookupType == 2) {
    bits.skip(32 + 32);  // minimum and delta values
    const std::uint32_t valueBits = bits.read(4) + 1;
    bits.skip(1);  // sequence flag
    const std::uint64_t values = lookupType == 1
                                     ? latticeValues(entries, book.dimensions)
                                     : std::uint64_t{entries} * std::uint64_t(book.dimensions);
    // At most 2^24 * 2^16 values of 16 bits: no overflow in 64 bits.
    bits.skip(values * valueBits);
  } else if (lookupType != 0) {
    return false;
  }
  book.endBitOffset = bits.position();
  return !bits.failed();
}

bool readFloor(BitReader& bits, VorbisSetupInfo::Floor& floor) {
  const std::uint32_t type = bits.read(16);
  floor.type = static_cast<int>(type);
  if (type == 0) {
    bits.skip(8 + 16 + 16 + 6 + 8);  // order, rate, bark map size, amplitude bits and offset
    const std::uint32_t books = bits.read(4) + 1;
    bits.skip(8ull * books);
  } else if (type == 1) {
    const std::uint32_t partitions = bits.read(5);
    std::uint32_t partitionClass[32] = {};
    int maxClass = -1;
    for (std::uint32_t p = 0; p < partitions; ++p) {
      partitionClass[p] = bits.read(4);
      maxClass = std::max(maxClass, static_cast<int>(partitionClass[p]));
    }
    std::uint32_t classDimensions[16] = {};
    for (int c = 0; c <= maxClass; ++c) {
      classDimensions[c] = bits.read(3) + 1;
      const std::uint32_t subclasses = bits.read(2);
      if (subclasses) bits.skip(8);  // master book
      for (std::uint32_t s = 0; s < (1u << subclasses); ++s) {
        const int book = static_cast<int>(bits.read(8)) - 1;
        if (book >= 0) floor.subclassBooks.push_back(book);
      }
    }
    bits.skip(2);  // multiplier
    const std::uint32_t rangeBits = bits.read(4);
    for (std::uint32_t p = 0; p < partitions; ++p) {
      bits.skip(std::uint64_t{rangeBits} * classDimensions[partitionClass[p]]);
    }
  } else {
    return false;
  }
  return !bits.failed();
}

bool readResidue(BitReader& bits, std::size_t bookCount, VorbisSetupInfo::Residue& residue) {
  residue.typeBitOffset = bits.position();
  residue.type = static_cast<int>(bits.read(16));
  if (residue.type > 2) return false;
  bits.skip(24 + 24 + 24);  // begin, end, partition size
  const std::uint32_t classifications = bits.read(6) + 1;
  residue.classbook = static_cast<int>(bits.read(8));
  std::uint32_t cascade[64] = {};
  for (std::uint32_t c = 0; c < classifications; ++c) {
    const std::uint32_t low = bits.read(3);
    const std::uint32_t high = bits.read(1) ? bits.read(5) : 0;
    cascade[c] = high * 8 + low;
  }
  for (std::uint32_t c = 0; c < classifications; ++c) {
    for (int stage = 0; stage < 8; ++stage) {
      if (cascade[c] & (1u << stage))
        residue.partitionBooks.push_back(static_cast<int>(bits.read(8)));
    }
  }
  if (bits.failed()) return false;
  if (static_cast<std::size_t>(residue.classbook) >= bookCount) return false;
  return std::all_of(residue.partitionBooks.begin(), residue.partitionBooks.end(),
                     [&](int book) { return static_cast<std::size_t>(book) < bookCount; });
}

// Mappings, modes and the framing bit: read only to confirm that the whole header was understood.
bool readMappingsAndModes(BitReader& bits, int channels) {
  const std::uint32_t mappings = bits.read(6) + 1;
  const int channelBits = bitLength(static_cast<std::uint32_t>(channels - 1));
  for (std::uint32_t m = 0; m < mappings && !bits.failed(); ++m) {
    if (bits.read(16) != 0) return false;
    const std::uint32_t submaps = bits.read(1) ? bits.read(4) + 1 : 1;
    if (bits.read(1)) {
      const std::uint32_t steps = bits.read(8) + 1;
      bits.skip(std::uint64_t{steps} * 2 * static_cast<std::uint64_t>(channelBits));
    }
    if (bits.read(2) != 0) return false;
    if (submaps > 1) bits.skip(4ull * static_cast<std::uint64_t>(channels));
    bits.skip(24ull * submaps);  // time (unused), floor and residue of each submap
  }
  const std::uint32_t modes = bits.read(6) + 1;
  bits.skip((1ull + 16 + 16 + 8) * modes);
  return bits.read(1) == 1 && !bits.failed();
}

constexpr std::uint8_t kSetupMagic[7] = {0x05, 'v', 'o', 'r', 'b', 'i', 's'};
constexpr std::uint8_t kIdentMagic[7] = {0x01, 'v', 'o', 'r', 'b', 'i', 's'};

bool startsWith(std::span<const std::uint8_t> packet, const std::uint8_t (&magic)[7]) {
  return packet.size() >= 7 && std::memcmp(packet.data(), magic, 7) == 0;
}

}  // namespace

std::optional<VorbisSetupInfo> parseVorbisSetupHeader(std::span<const std::uint8_t> packet,
                                                      int channels) {
  if (!startsWith(packet, kSetupMagic) || packet.size() > INT_MAX) return std::nullopt;
  BitReader bits(packet);
  bits.skip(7 * 8);
  VorbisSetupInfo setup;
  setup.codebooks.resize(bits.read(8) + 1);
  for (auto& book : setup.codebooks) {
    if (!readCodebook(bits, book)) return std::nullopt;
  }
  bits.skip(16ull * (bits.read(6) + 1));  // time-domain transforms (placeholders)
  setup.floors.resize(bits.read(6) + 1);
  for (auto& floor : setup.floors) {
    if (!readFloor(bits, floor)) return std::nullopt;
  }
  setup.residues.resize(bits.read(6) + 1);
  for (auto& residue : setup.residues) {
    if (!readResidue(bits, setup.codebooks.size(), residue)) return std::nullopt;
  }
  if (channels > 0) setup.complete = readMappingsAndModes(bits, channels);
  return setup;
}

bool isVorbisSetupDecodable(const VorbisSetupInfo& setup) {
  for (const auto& book : setup.codebooks) {
    if (book.fill == HuffmanFill::Underfull || book.fill == HuffmanFill::Overfull) return false;
  }
  const auto zeroDimensions = [&](int book) {
    return setup.codebooks[static_cast<std::size_t>(book)].dimensions == 0;
  };
  for (const auto& residue : setup.residues) {
    if (zeroDimensions(residue.classbook)) return false;
    if (std::any_of(residue.partitionBooks.begin(), residue.partitionBooks.end(), zeroDimensions)) {
      return false;
    }
  }
  return true;
}

namespace {

// One logical stream whose header packets are still to come.
struct HeaderStream {
  HeaderStream(int serial) { ogg_stream_init(&state, serial); }
  ~HeaderStream() { ogg_stream_clear(&state); }
  HeaderStream(const HeaderStream&) = delete;
  HeaderStream& operator=(const HeaderStream&) = delete;

  ogg_stream_state state{};
  int packets = 0;
  int channels = 0;
};

struct SyncState {
  SyncState() { ogg_sync_init(&state); }
  ~SyncState() { ogg_sync_clear(&state); }
  SyncState(const SyncState&) = delete;
  SyncState& operator=(const SyncState&) = delete;
  ogg_sync_state state{};
};

// libvorbisfile looks for its first page within the first 64 KiB; a page is at most 65,307
// bytes, so a source without a page in this span is not Ogg to it.
constexpr std::int64_t kFirstPageWindowBytes = 256 * 1024;
// A group of streams still reading headers at once; real files have one or a few.
constexpr std::size_t kMaxStreamsInHeaders = 64;
constexpr long kReadChunkBytes = 64 * 1024;

enum class PacketVerdict { NeedMore, StreamDone, Refuse };

PacketVerdict checkHeaderPacket(HeaderStream& stream, std::span<const std::uint8_t> packet) {
  const int index = stream.packets++;
  if (index == 0) {
    // Not a Vorbis stream (another codec of a group): libvorbis never sees its packets.
    if (!startsWith(packet, kIdentMagic) || packet.size() < 12) return PacketVerdict::StreamDone;
    stream.channels = packet[11];
    return PacketVerdict::NeedMore;
  }
  if (index == 1) return PacketVerdict::NeedMore;                          // comments
  if (!startsWith(packet, kSetupMagic)) return PacketVerdict::StreamDone;  // the library refuses it
  const auto setup = parseVorbisSetupHeader(packet, 0);
  if (!setup || !isVorbisSetupDecodable(*setup)) return PacketVerdict::Refuse;
  return PacketVerdict::StreamDone;
}

}  // namespace

namespace {

// How far a scan goes: the first link (the BOS pages at the start and their streams' headers), or
// every page of the source.
enum class ScanExtent { FirstLink, WholeSource };

struct HeaderScan {
  OggVorbisScan verdict = OggVorbisScan::NotOgg;
  std::vector<std::int64_t> streamStarts;  // where each BOS page met lies in the source
};

HeaderScan scanHeaders(ByteSource& source, ScanExtent extent) {
  SyncState sync;
  std::map<int, std::unique_ptr<HeaderStream>> streams;
  HeaderScan scan;
  bool sawPage = false;
  const std::int64_t start = source.tell();
  std::int64_t at = start;  // where the sync's next byte lies in the source
  std::int64_t bytesRead = 0;
  ogg_page page{};
  ogg_packet packet{};
  const auto refused = [&] {
    scan.verdict = OggVorbisScan::Refused;
    return scan;
  };
  for (;;) {
    long step;
    while ((step = ogg_sync_pageseek(&sync.state, &page)) != 0) {
      if (step < 0) {  // bytes skipped while looking for a page
        at -= step;
        continue;
      }
      const std::int64_t pageAt = at;
      at += step;
      sawPage = true;
      const int serial = ogg_page_serialno(&page);
      if (ogg_page_bos(&page)) {
        if (streams.size() >= kMaxStreamsInHeaders && !streams.count(serial)) return refused();
        streams[serial] = std::make_unique<HeaderStream>(serial);
        scan.streamStarts.push_back(pageAt);
      } else if (extent == ScanExtent::FirstLink && streams.empty() && !scan.streamStarts.empty()) {
        // Past the first link's headers: what follows is audio, or a later link's, checked where
        // a reader meets it (CheckedOggSource).
        scan.verdict = OggVorbisScan::Decodable;
        return scan;
      }
      const auto found = streams.find(serial);
      if (found == streams.end()) continue;  // past its headers, or never began
      HeaderStream& stream = *found->second;
      if (ogg_stream_pagein(&stream.state, &page) != 0) continue;
      bool done = false;
      int got;
      while (!done && (got = ogg_stream_packetout(&stream.state, &packet)) != 0) {
        if (got < 0) continue;  // a hole: libvorbisfile refuses such headers itself
        const std::span<const std::uint8_t> bytes(packet.packet,
                                                  static_cast<std::size_t>(packet.bytes));
        switch (checkHeaderPacket(stream, bytes)) {
          case PacketVerdict::Refuse:
            return refused();
          case PacketVerdict::StreamDone:
            done = true;
            break;
          case PacketVerdict::NeedMore:
            break;
        }
      }
      if (done || ogg_page_eos(&page)) streams.erase(found);
    }
    if (!sawPage && bytesRead >= kFirstPageWindowBytes) return scan;  // not Ogg
    char* buffer = ogg_sync_buffer(&sync.state, kReadChunkBytes);
    if (!buffer) return refused();
    const std::size_t got = source.read(buffer, static_cast<std::size_t>(kReadChunkBytes));
    if (got == 0) {
      // A source that fails before its end cannot be vouched for past what was read.
      if (!source.atEnd() && sawPage) return refused();
      break;
    }
    ogg_sync_wrote(&sync.state, static_cast<long>(got));
    bytesRead += static_cast<std::int64_t>(got);
  }
  scan.verdict = sawPage ? OggVorbisScan::Decodable : OggVorbisScan::NotOgg;
  return scan;
}

// The capture pattern, stream structure version 0 and the BOS flag: how a page that starts a
// logical stream begins.
bool startsStreamPage(const std::uint8_t* bytes) {
  return bytes[0] == 'O' && bytes[1] == 'g' && bytes[2] == 'g' && bytes[3] == 'S' &&
         bytes[4] == 0 && (bytes[5] & 0x02) != 0;
}

constexpr std::size_t kStreamPageMarkBytes = 6;
// Candidates that turned out to be no page at all: a real file has none or a few; a source with
// more is taken for hostile.
constexpr std::size_t kMaxFalseStreamMarks = 64;

}  // namespace

OggVorbisScan scanOggVorbisHeaders(ByteSource& source) {
  return scanHeaders(source, ScanExtent::WholeSource).verdict;
}

OggVorbisScan CheckedOggSource::open() {
  start_ = source_.tell();
  HeaderScan scan = scanHeaders(source_, ScanExtent::FirstLink);
  if (!source_.seek(start_, SEEK_SET)) return OggVorbisScan::Refused;
  if (scan.verdict == OggVorbisScan::Decodable) {
    checkedStarts_.insert(scan.streamStarts.begin(), scan.streamStarts.end());
  }
  return scan.verdict;
}

std::size_t CheckedOggSource::read(void* destination, std::size_t bytes) {
  if (refused_) return 0;
  const std::int64_t at = source_.tell();
  if (at < 0) {
    refused_ = true;  // bytes that cannot be placed cannot be checked
    return 0;
  }
  const std::size_t got = source_.read(destination, bytes);
  if (got == 0) return 0;
  const std::size_t passed = watch(static_cast<const std::uint8_t*>(destination), got, at);
  if (passed < got) refused_ = true;
  return passed;
}

bool CheckedOggSource::seek(std::int64_t offset, int whence) {
  // Refused, the source ends for good: a reader that went back to look again would find it empty
  // where it had read pages, which libvorbisfile's search for the last page never gives up on.
  if (refused_) return false;
  markBytes_ = 0;  // a reader that seeks starts its page search afresh
  return source_.seek(offset, whence);
}

std::size_t CheckedOggSource::watch(const std::uint8_t* data, std::size_t bytes, std::int64_t at) {
  // Marks that began in the bytes before this read: look at them once six bytes are there.
  if (markBytes_ > 0 && markEnd_ == at) {
    std::array<std::uint8_t, 2 * kStreamPageMarkBytes> joined{};
    std::memcpy(joined.data(), mark_.data(), markBytes_);
    const std::size_t added = std::min(bytes, kStreamPageMarkBytes);
    std::memcpy(joined.data() + markBytes_, data, added);
    for (std::size_t p = 0; p < markBytes_ && p + kStreamPageMarkBytes <= markBytes_ + added; ++p) {
      if (startsStreamPage(joined.data() + p) &&
          !passes(at - static_cast<std::int64_t>(markBytes_ - p))) {
        return 0;
      }
    }
  }
  const std::uint8_t* end = data + bytes;
  for (const std::uint8_t* p = data; static_cast<std::size_t>(end - p) >= kStreamPageMarkBytes;) {
    p = static_cast<const std::uint8_t*>(
        std::memchr(p, 'O', static_cast<std::size_t>(end - p) - kStreamPageMarkBytes + 1));
    if (!p) break;
    if (startsStreamPage(p) && !passes(at + (p - data))) return static_cast<std::size_t>(p - data);
    ++p;
  }
  // The last bytes, where a mark may begin that the next read completes.
  std::array<std::uint8_t, 2 * kStreamPageMarkBytes> kept{};
  std::size_t keptBytes = 0;
  if (markEnd_ == at) {
    std::memcpy(kept.data(), mark_.data(), markBytes_);
    keptBytes = markBytes_;
  }
  const std::size_t added = std::min(bytes, kStreamPageMarkBytes - 1);
  std::memcpy(kept.data() + keptBytes, end - added, added);
  keptBytes += added;
  const std::size_t tail = std::min(keptBytes, kStreamPageMarkBytes - 1);
  std::memcpy(mark_.data(), kept.data() + keptBytes - tail, tail);
  markBytes_ = tail;
  markEnd_ = at + static_cast<std::int64_t>(bytes);
  return bytes;
}

bool CheckedOggSource::passes(std::int64_t pageAt) {
  if (checkedStarts_.count(pageAt)) return true;
  const std::int64_t back = source_.tell();
  bool verdict = true;
  if (!wholeChecked_) {
    // A stream the first check did not meet: a chain's next link, most likely. Every stream of
    // the source is checked now, once.
    wholeChecked_ = true;
    const HeaderScan scan = source_.seek(start_, SEEK_SET)
                                ? scanHeaders(source_, ScanExtent::WholeSource)
                                : HeaderScan{OggVorbisScan::Refused, {}};
    if (scan.verdict != OggVorbisScan::Decodable) verdict = false;
    checkedStarts_.insert(scan.streamStarts.begin(), scan.streamStarts.end());
  }
  if (verdict && !checkedStarts_.count(pageAt) && !falseMarks_.count(pageAt)) {
    // A mark the whole check did not meet as a page: either no page at all (bytes that happen to
    // look like one), or a page inside another page, which only a reader that lands in the middle
    // of the source finds, and which no real file has.
    verdict = !isPageAt(pageAt) && falseMarks_.size() < kMaxFalseStreamMarks;
    if (verdict) falseMarks_.insert(pageAt);
  }
  if (!source_.seek(back, SEEK_SET)) verdict = false;
  return verdict;
}

bool CheckedOggSource::isPageAt(std::int64_t pageAt) {
  // A page is at most 27 + 255 + 255 x 255 bytes; libogg says whether these bytes start one. A
  // source that cannot be read there counts as one: it cannot be vouched for.
  constexpr std::size_t kHeaderBytes = 27;
  std::vector<std::uint8_t> bytes(kHeaderBytes + 255);
  if (!source_.seek(pageAt, SEEK_SET)) return true;
  std::size_t got = source_.read(bytes.data(), kHeaderBytes);
  if (got < kHeaderBytes) return !source_.atEnd();
  const std::size_t segments = bytes[26];
  got += source_.read(bytes.data() + kHeaderBytes, segments);
  if (got < kHeaderBytes + segments) return !source_.atEnd();
  std::size_t bodyBytes = 0;
  for (std::size_t i = 0; i < segments; ++i) bodyBytes += bytes[kHeaderBytes + i];
  bytes.resize(kHeaderBytes + segments + bodyBytes);
  got += source_.read(bytes.data() + kHeaderBytes + segments, bodyBytes);
  if (got < bytes.size()) return !source_.atEnd();
  SyncState sync;
  char* buffer = ogg_sync_buffer(&sync.state, static_cast<long>(bytes.size()));
  if (!buffer) return true;
  std::memcpy(buffer, bytes.data(), bytes.size());
  ogg_sync_wrote(&sync.state, static_cast<long>(bytes.size()));
  ogg_page page{};
  return ogg_sync_pageseek(&sync.state, &page) > 0;
}

}  // namespace lunadio
