#pragma once
// A guard in front of libvorbis: the setup header of every Vorbis stream in a source is read here
// before any audio packet reaches the library. libvorbis 1.3.7 divides by a codebook's dimension
// count while decoding residues and never checks it for zero, so a crafted file whose residue
// uses a zero-dimension book (as classification book or as any partition book) would kill the
// process. It also accepts codebooks whose used entries do not fill the Huffman tree (a single
// used entry of length 2, say), which it later decodes as a book of no dimensions. So a book
// passes only when the library can build its decode table: no used entry at all (Vorbis I allows
// such books; the library builds no table, and a decode from one fails cleanly), a single used
// entry of length 1, or two and more used entries whose lengths fill the tree exactly. Only
// libogg's page, packet and bit-reader functions are used here.

#include <array>
#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <vector>

#include "audio/decoders/byte_source.h"

namespace lunadio {

// How a codebook's codeword lengths fill its Huffman tree.
enum class HuffmanFill {
  Full,         // every leaf taken: a prefix code
  NoUsedEntry,  // every entry unused: no tree at all, which the library allows
  SingleEntry,  // one used entry of length 1, the one degenerate tree that decodes
  Underfull,    // codes missing (a single entry longer than 1 bit, or leaves left over)
  Overfull,     // more codes than the lengths allow
};

struct VorbisSetupInfo {
  struct Codebook {
    int dimensions = 0;
    int entries = 0;
    HuffmanFill fill = HuffmanFill::Full;
    std::int64_t lengthsBitOffset = 0;  // the "ordered" flag that starts the codeword lengths
    // Where the 16-bit dimension field starts, in bits from the start of the packet (tests patch
    // it to build hostile files).
    std::int64_t dimensionsBitOffset = 0;
    std::int64_t lookupTypeBitOffset = 0;  // the 4-bit lookup type
    std::int64_t endBitOffset = 0;         // just past the book
  };
  struct Residue {
    int type = 0;
    std::int64_t typeBitOffset = 0;  // the 16-bit residue type
    int classbook = 0;
    std::vector<int> partitionBooks;  // every book of every cascade stage
  };
  struct Floor {
    int type = 0;
    std::vector<int> subclassBooks;  // type 1: every subclass book named (none: -1, left out)
  };
  std::vector<Codebook> codebooks;
  std::vector<Floor> floors;
  std::vector<Residue> residues;
  // Mappings, modes and the framing bit were read as well (only when the channel count is known).
  bool complete = false;
};

// Reads a setup header packet ("\x05vorbis" ...). `channels` (from the identification header)
// lets the parse go on through mappings and modes; 0 stops after the residues. Null when the
// packet is not a well-formed setup header.
std::optional<VorbisSetupInfo> parseVorbisSetupHeader(std::span<const std::uint8_t> packet,
                                                      int channels);

// False when a book's lengths are ones the library cannot build a decode table from (Underfull,
// Overfull) or a residue uses a book of zero dimensions.
bool isVorbisSetupDecodable(const VorbisSetupInfo& setup);

enum class OggVorbisScan {
  NotOgg,     // no Ogg page near the start: not for the Vorbis adapter
  Decodable,  // every Vorbis setup header found is safe to hand to libvorbis
  Refused,    // a setup header is malformed or unsafe, or the stream layout is hostile
};

// Reads the whole source once, from where it stands, and checks the setup header of every Vorbis
// stream (each link of a chain, each stream of a group). The caller rewinds the source after. A
// source whose reads fail part-way is refused: what follows cannot be vouched for.
OggVorbisScan scanOggVorbisHeaders(ByteSource& source);

// The source as libvorbisfile reads it (the adapter's read, seek and tell callbacks), checked on
// the way, so that a long file is not read whole before its first sound. libvorbisfile takes
// header packets only from a logical stream that begins at a BOS page ("beginning of stream"),
// and finds pages only in bytes it has read; so no byte of a BOS page is handed over before that
// stream's headers are checked:
// - open() checks the first link: its BOS pages and their streams' headers, all that the open
//   and the decode of a plain file meet;
// - a read whose bytes hold any other BOS page (a chain's next link, met when libvorbisfile looks
//   for the links at open, or where the decode reaches it) first checks the whole source as
//   scanOggVorbisHeaders does, once. A BOS page that the whole check did not meet lies inside
//   another page, where only a reader that lands in the middle of the source finds it; no real
//   file has one, and it is refused.
// Once refused, reads end before the refused page and seeks fail: an open fails (refused() says
// so) and a decode stops there, before libvorbis sees the stream.
// Threads: one at a time, as the handle that owns it.
class CheckedOggSource {
 public:
  explicit CheckedOggSource(ByteSource source) : source_(source) {}

  // Checks the first link from where the source stands, and goes back there.
  OggVorbisScan open();
  std::size_t read(void* destination, std::size_t bytes);
  bool seek(std::int64_t offset, int whence);
  std::int64_t tell() const { return source_.tell(); }
  bool refused() const { return refused_; }

 private:
  // The bytes of the read that may be handed over: all of them, or those before the first BOS
  // page refused.
  std::size_t watch(const std::uint8_t* data, std::size_t bytes, std::int64_t at);
  bool passes(std::int64_t pageAt);
  bool isPageAt(std::int64_t pageAt);

  ByteSource source_;
  std::int64_t start_ = 0;                // where the stream begins in the source
  std::set<std::int64_t> checkedStarts_;  // BOS pages whose streams passed
  std::set<std::int64_t> falseMarks_;     // what looked like a BOS page and was none
  bool wholeChecked_ = false;
  bool refused_ = false;
  // The last bytes of the previous read, where the start of a BOS page may lie that this read
  // completes; they end at markEnd_ in the source.
  std::array<std::uint8_t, 5> mark_{};
  std::size_t markBytes_ = 0;
  std::int64_t markEnd_ = -1;
};

}  // namespace lunadio
