#include "tests/audio/support/flac_writer.h"

#include <algorithm>
#include <numeric>

namespace lunadio::test {
namespace {

// Most significant bit first, as FLAC stores everything.
class BitWriter {
 public:
  void put(std::uint64_t value, int bits) {
    for (int b = bits - 1; b >= 0; --b) {
      if (used_ == 0) bytes_.push_back(0);
      if ((value >> b) & 1) bytes_.back() |= static_cast<std::uint8_t>(0x80 >> used_);
      used_ = (used_ + 1) % 8;
    }
  }
  void putSigned(std::int64_t value, int bits) {
    put(static_cast<std::uint64_t>(value) & ((std::uint64_t{1} << bits) - 1), bits);
  }
  void align() { used_ = 0; }
  void putByte(std::uint8_t byte) {
    align();
    bytes_.push_back(byte);
  }
  std::vector<std::uint8_t>& bytes() { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
  int used_ = 0;  // bits taken in the last byte
};

std::uint8_t crc8(std::span<const std::uint8_t> bytes) {
  std::uint8_t crc = 0;
  for (std::uint8_t byte : bytes) {
    crc ^= byte;
    for (int b = 0; b < 8; ++b)
      crc = static_cast<std::uint8_t>(crc & 0x80 ? (crc << 1) ^ 0x07 : crc << 1);
  }
  return crc;
}

std::uint16_t crc16(std::span<const std::uint8_t> bytes) {
  std::uint16_t crc = 0;
  for (std::uint8_t byte : bytes) {
    crc ^= static_cast<std::uint16_t>(byte << 8);
    for (int b = 0; b < 8; ++b) {
      crc = static_cast<std::uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x8005 : crc << 1);
    }
  }
  return crc;
}

// The frame number in the frame header: UTF-8's variable-length form.
void putCodedNumber(BitWriter& out, std::uint32_t number) {
  if (number < 0x80) {
    out.put(number, 8);
    return;
  }
  int tail = 1;
  while (number >= (1u << (5 * tail + 6))) ++tail;
  const unsigned lead = (0xFF00u >> (tail + 1)) & 0xFF;
  out.put(lead | (number >> (6 * tail)), 8);
  for (int i = tail - 1; i >= 0; --i) out.put(0x80 | ((number >> (6 * i)) & 0x3F), 8);
}

unsigned sampleSizeCode(int bits) {
  switch (bits) {
    case 8:
      return 1;
    case 12:
      return 2;
    case 16:
      return 4;
    case 20:
      return 5;
    case 24:
      return 6;
    default:
      return 0;  // from STREAMINFO
  }
}

void putFrame(BitWriter& out, std::span<const std::int32_t> block, std::uint32_t frames,
              std::uint32_t number, const WrittenFlacOptions& options) {
  const std::size_t start = out.bytes().size();
  out.put(0x3FFE, 14);  // sync code
  out.put(0, 1);
  out.put(0, 1);  // fixed block size: the header counts frames, not samples
  const bool wide = frames > 256;
  out.put(wide ? 7 : 6, 4);  // the size minus one follows the number, in 16 or 8 bits
  out.put(0, 4);             // rate from STREAMINFO
  out.put(static_cast<unsigned>(options.channels - 1), 4);
  out.put(sampleSizeCode(options.bitsPerSample), 3);
  out.put(0, 1);
  putCodedNumber(out, number);
  out.put(frames - 1, wide ? 16 : 8);
  out.putByte(crc8(std::span(out.bytes()).subspan(start)));
  const auto channels = static_cast<std::size_t>(options.channels);
  for (std::size_t c = 0; c < channels; ++c) {
    const auto at = [&](std::size_t f) { return block[f * channels + c]; };
    bool constant = true;
    for (std::size_t f = 1; f < frames && constant; ++f) constant = at(f) == at(0);
    out.put(0, 1);
    out.put(constant ? 0 : 1, 6);  // subframe type
    out.put(0, 1);                 // no wasted bits
    for (std::size_t f = 0; f < (constant ? 1 : frames); ++f) {
      out.putSigned(at(f), options.bitsPerSample);
    }
  }
  out.align();
  const std::uint16_t crc = crc16(std::span(out.bytes()).subspan(start));
  out.putByte(static_cast<std::uint8_t>(crc >> 8));
  out.putByte(static_cast<std::uint8_t>(crc));
}

}  // namespace

std::vector<std::uint8_t> writeFlac(std::span<const std::int32_t> samples,
                                    const WrittenFlacOptions& options) {
  const auto channels = static_cast<std::size_t>(options.channels);
  const std::uint64_t totalFrames = samples.size() / channels;
  const std::uint32_t largest =
      options.blockFrames.empty()
          ? 0
          : *std::max_element(options.blockFrames.begin(), options.blockFrames.end());
  const std::uint32_t declaredMax = options.declaredMaxBlockFrames
                                        ? options.declaredMaxBlockFrames
                                        : std::min<std::uint32_t>(largest, 65535);
  BitWriter out;
  for (char c : {'f', 'L', 'a', 'C'}) out.put(static_cast<std::uint8_t>(c), 8);
  out.put(1, 1);  // the last metadata block
  out.put(0, 7);  // STREAMINFO
  out.put(34, 24);
  out.put(declaredMax, 16);  // a fixed block size: smallest and largest alike
  out.put(declaredMax, 16);
  out.put(0, 24);  // frame sizes unknown
  out.put(0, 24);
  out.put(static_cast<std::uint32_t>(options.sampleRate), 20);
  out.put(channels - 1, 3);
  out.put(static_cast<unsigned>(options.bitsPerSample - 1), 5);
  out.put(options.declaredTotalFrames < 0 ? totalFrames
                                          : static_cast<std::uint64_t>(options.declaredTotalFrames),
          36);
  out.put(0, 64);  // no MD5
  out.put(0, 64);
  std::uint64_t frame = 0;
  for (std::uint32_t number = 0; frame < totalFrames; ++number) {
    const std::uint32_t size =
        options.blockFrames[std::min<std::size_t>(number, options.blockFrames.size() - 1)];
    const auto frames =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(size, totalFrames - frame));
    putFrame(out, samples.subspan(frame * channels, frames * channels), frames, number, options);
    frame += frames;
  }
  return std::move(out.bytes());
}

}  // namespace lunadio::test
