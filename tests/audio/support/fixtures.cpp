#include "tests/audio/support/fixtures.h"

#include <FLAC/stream_encoder.h>
#include <unistd.h>
#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "audio/decoders/vorbis_setup_check.h"
#include "core/strings.h"

namespace lunadio::test {

namespace {

void put16(Bytes& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put32(Bytes& out, std::uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}
void putId(Bytes& out, const std::string& id) {
  for (int i = 0; i < 4; ++i)
    out.push_back(static_cast<std::uint8_t>(id[static_cast<std::size_t>(i)]));
}

}  // namespace

std::vector<std::int32_t> makeSignal(std::size_t frames, int channels, int bits,
                                     std::uint32_t seed) {
  std::vector<std::int32_t> samples(frames * static_cast<std::size_t>(channels));
  const double full = std::ldexp(1.0, bits - 1) - 1;
  std::uint32_t noise = seed * 2654435761u + 1;
  for (std::size_t f = 0; f < frames; ++f) {
    for (int c = 0; c < channels; ++c) {
      noise = noise * 1664525u + 1013904223u;
      const double t = static_cast<double>(f) / 44100.0;
      const double v = 0.45 * std::sin(2 * M_PI * (220.0 + 55.0 * c) * t) +
                       0.25 * std::sin(2 * M_PI * (1330.0 + 17.0 * c) * t + c) +
                       0.02 * (static_cast<double>(noise >> 8) / 16777216.0 - 0.5);
      samples[f * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] =
          static_cast<std::int32_t>(std::lround(v * full));
    }
  }
  return samples;
}

std::vector<std::int16_t> toInt16(std::span<const std::int32_t> samples) {
  std::vector<std::int16_t> out(samples.size());
  for (std::size_t i = 0; i < samples.size(); ++i) out[i] = static_cast<std::int16_t>(samples[i]);
  return out;
}

RiffBuilder& RiffBuilder::chunk(const std::string& id, const Bytes& body, bool pad) {
  putId(chunks_, id);
  put32(chunks_, static_cast<std::uint32_t>(body.size()));
  chunks_.insert(chunks_.end(), body.begin(), body.end());
  if (pad && body.size() % 2) chunks_.push_back(0);
  return *this;
}

RiffBuilder& RiffBuilder::chunkWithSize(const std::string& id, const Bytes& body,
                                        std::uint32_t declaredBytes) {
  putId(chunks_, id);
  put32(chunks_, declaredBytes);
  chunks_.insert(chunks_.end(), body.begin(), body.end());
  return *this;
}

RiffBuilder& RiffBuilder::format(int channels, int rate, int bits, int formatTag,
                                 std::size_t bodyBytes) {
  Bytes body;
  const int blockAlign = channels * bits / 8;
  put16(body, static_cast<std::uint32_t>(formatTag));
  put16(body, static_cast<std::uint32_t>(channels));
  put32(body, static_cast<std::uint32_t>(rate));
  put32(body, static_cast<std::uint32_t>(rate * blockAlign));
  put16(body, static_cast<std::uint32_t>(blockAlign));
  put16(body, static_cast<std::uint32_t>(bits));
  body.resize(bodyBytes, 0);
  return chunk("fmt ", body);
}

RiffBuilder& RiffBuilder::data(std::span<const std::int16_t> samples) {
  Bytes body(samples.size() * 2);
  if (!body.empty()) std::memcpy(body.data(), samples.data(), body.size());
  return chunk("data", body);
}

Bytes RiffBuilder::build() const {
  Bytes out;
  putId(out, "RIFF");
  put32(out, static_cast<std::uint32_t>(chunks_.size() + 4));
  putId(out, formType_);
  out.insert(out.end(), chunks_.begin(), chunks_.end());
  return out;
}

Bytes makeWav(std::span<const std::int16_t> samples, int channels, int rate) {
  return RiffBuilder().format(channels, rate, 16).data(samples).build();
}

// --- FLAC -----------------------------------------------------------------------------------

namespace {

struct FlacSink {
  Bytes bytes;
  std::size_t position = 0;
};

FLAC__StreamEncoderWriteStatus flacWrite(const FLAC__StreamEncoder*, const FLAC__byte buffer[],
                                         size_t bytes, uint32_t, uint32_t, void* client) {
  auto* sink = static_cast<FlacSink*>(client);
  if (sink->position + bytes > sink->bytes.size()) sink->bytes.resize(sink->position + bytes);
  std::memcpy(sink->bytes.data() + sink->position, buffer, bytes);
  sink->position += bytes;
  return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
}

FLAC__StreamEncoderSeekStatus flacSeek(const FLAC__StreamEncoder*, FLAC__uint64 offset,
                                       void* client) {
  static_cast<FlacSink*>(client)->position = static_cast<std::size_t>(offset);
  return FLAC__STREAM_ENCODER_SEEK_STATUS_OK;
}

FLAC__StreamEncoderTellStatus flacTell(const FLAC__StreamEncoder*, FLAC__uint64* offset,
                                       void* client) {
  *offset = static_cast<FlacSink*>(client)->position;
  return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
}

}  // namespace

Bytes encodeFlac(std::span<const std::int32_t> samples, const FlacOptions& options) {
  FLAC__StreamEncoder* encoder = FLAC__stream_encoder_new();
  const auto frames = samples.size() / static_cast<std::size_t>(options.channels);
  FLAC__stream_encoder_set_channels(encoder, static_cast<uint32_t>(options.channels));
  FLAC__stream_encoder_set_bits_per_sample(encoder, static_cast<uint32_t>(options.bitsPerSample));
  FLAC__stream_encoder_set_sample_rate(encoder, static_cast<uint32_t>(options.sampleRate));
  FLAC__stream_encoder_set_blocksize(encoder, static_cast<uint32_t>(options.blockFrames));
  FLAC__stream_encoder_set_compression_level(encoder, 5);
  FlacSink sink;
  FLAC__StreamEncoderInitStatus status;
  if (options.declaredFrames < 0) {
    // With seek and tell the encoder writes the real length into the header at the end.
    status =
        FLAC__stream_encoder_init_stream(encoder, flacWrite, flacSeek, flacTell, nullptr, &sink);
  } else {
    FLAC__stream_encoder_set_total_samples_estimate(
        encoder, static_cast<FLAC__uint64>(options.declaredFrames));
    status = FLAC__stream_encoder_init_stream(encoder, flacWrite, nullptr, nullptr, nullptr, &sink);
  }
  if (status != FLAC__STREAM_ENCODER_INIT_STATUS_OK) throw std::runtime_error("flac init");
  if (frames > 0 && !FLAC__stream_encoder_process_interleaved(encoder, samples.data(),
                                                              static_cast<uint32_t>(frames))) {
    throw std::runtime_error("flac encode");
  }
  FLAC__stream_encoder_finish(encoder);
  FLAC__stream_encoder_delete(encoder);
  return std::move(sink.bytes);
}

// --- Ogg Vorbis -------------------------------------------------------------------------------

namespace {

void appendPage(std::vector<Bytes>& pages, const ogg_page& page) {
  Bytes bytes(page.header, page.header + page.header_len);
  bytes.insert(bytes.end(), page.body, page.body + page.body_len);
  pages.push_back(std::move(bytes));
}

}  // namespace

std::vector<Bytes> encodeVorbisPages(std::span<const std::int16_t> samples,
                                     const VorbisOptions& options) {
  vorbis_info info;
  vorbis_info_init(&info);
  if (vorbis_encode_init_vbr(&info, options.channels, options.sampleRate, options.quality) != 0) {
    throw std::runtime_error("vorbis init");
  }
  vorbis_comment comment;
  vorbis_comment_init(&comment);
  vorbis_dsp_state dsp;
  vorbis_block block;
  vorbis_analysis_init(&dsp, &info);
  vorbis_block_init(&dsp, &block);
  ogg_stream_state stream;
  ogg_stream_init(&stream, options.serial);

  std::vector<Bytes> pages;
  ogg_packet identification, comments, setup;
  vorbis_analysis_headerout(&dsp, &comment, &identification, &comments, &setup);
  Bytes setupBytes(setup.packet, setup.packet + setup.bytes);
  if (options.patchSetup) options.patchSetup(setupBytes);
  setup.packet = setupBytes.data();
  setup.bytes = static_cast<long>(setupBytes.size());
  ogg_stream_packetin(&stream, &identification);
  ogg_stream_packetin(&stream, &comments);
  ogg_stream_packetin(&stream, &setup);
  ogg_page page;
  while (ogg_stream_flush(&stream, &page)) appendPage(pages, page);

  const auto frames = samples.size() / static_cast<std::size_t>(options.channels);
  constexpr std::size_t kChunk = 1024;
  ogg_packet packet;
  for (std::size_t start = 0;; start += kChunk) {
    const std::size_t count = start < frames ? std::min(kChunk, frames - start) : 0;
    if (count > 0) {
      float** buffer = vorbis_analysis_buffer(&dsp, static_cast<int>(count));
      for (std::size_t f = 0; f < count; ++f) {
        for (int c = 0; c < options.channels; ++c) {
          buffer[c][f] = samples[(start + f) * static_cast<std::size_t>(options.channels) +
                                 static_cast<std::size_t>(c)] /
                         32768.0f;
        }
      }
    }
    vorbis_analysis_wrote(&dsp, static_cast<int>(count));
    while (vorbis_analysis_blockout(&dsp, &block) == 1) {
      vorbis_analysis(&block, nullptr);
      vorbis_bitrate_addblock(&block);
      while (vorbis_bitrate_flushpacket(&dsp, &packet)) {
        ogg_stream_packetin(&stream, &packet);
        while (ogg_stream_pageout(&stream, &page)) appendPage(pages, page);
      }
    }
    if (count == 0) break;
  }
  while (ogg_stream_flush(&stream, &page)) appendPage(pages, page);
  ogg_stream_clear(&stream);
  vorbis_block_clear(&block);
  vorbis_dsp_clear(&dsp);
  vorbis_comment_clear(&comment);
  vorbis_info_clear(&info);
  return pages;
}

Bytes joinPages(const std::vector<Bytes>& pages) {
  Bytes out;
  for (const auto& page : pages) out.insert(out.end(), page.begin(), page.end());
  return out;
}

Bytes encodeVorbis(std::span<const std::int16_t> samples, const VorbisOptions& options) {
  return joinPages(encodeVorbisPages(samples, options));
}

void setPageGranule(Bytes& page, std::int64_t granule) {
  for (int i = 0; i < 8; ++i)
    page[6 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(granule >> (8 * i));
  const long headerBytes = 27 + page[26];
  ogg_page view{page.data(), headerBytes, page.data() + headerBytes,
                static_cast<long>(page.size()) - headerBytes};
  ogg_page_checksum_set(&view);
}

void writeBits(Bytes& packet, std::int64_t bitOffset, int bitCount, std::uint32_t value) {
  for (int i = 0; i < bitCount; ++i) {
    const std::int64_t bit = bitOffset + i;
    auto& byte = packet[static_cast<std::size_t>(bit / 8)];
    const auto mask = static_cast<std::uint8_t>(1u << (bit % 8));
    byte = static_cast<std::uint8_t>((value >> i) & 1u ? byte | mask : byte & ~mask);
  }
}

Bytes spliceBits(const Bytes& packet, std::int64_t from, int bitCount, std::uint32_t value,
                 std::int64_t to) {
  const std::int64_t total = static_cast<std::int64_t>(packet.size()) * 8;
  const auto bitAt = [&](std::int64_t bit) {
    return (packet[static_cast<std::size_t>(bit / 8)] >> (bit % 8)) & 1;
  };
  Bytes out((static_cast<std::size_t>(from + bitCount + (total - to)) + 7) / 8, 0);
  std::int64_t at = 0;
  const auto put = [&](int bit) {
    if (bit) out[static_cast<std::size_t>(at / 8)] |= static_cast<std::uint8_t>(1u << (at % 8));
    ++at;
  };
  for (std::int64_t b = 0; b < from; ++b) put(bitAt(b));
  for (int i = 0; i < bitCount; ++i) put((value >> i) & 1);
  for (std::int64_t b = to; b < total; ++b) put(bitAt(b));
  return out;
}

Bytes spliceBitString(const Bytes& packet, std::int64_t from, const std::vector<std::uint8_t>& bits,
                      std::int64_t to) {
  Bytes out = spliceBits(packet, from, 0, 0, to);
  // Opens a gap of bits.size() at `from` by splicing the tail back after it, then fills the gap.
  const std::int64_t total = static_cast<std::int64_t>(out.size()) * 8;
  Bytes widened((static_cast<std::size_t>(total) + bits.size() + 7) / 8, 0);
  const auto bitAt = [&](std::int64_t bit) {
    return (out[static_cast<std::size_t>(bit / 8)] >> (bit % 8)) & 1;
  };
  std::int64_t at = 0;
  const auto put = [&](int bit) {
    if (bit) widened[static_cast<std::size_t>(at / 8)] |= static_cast<std::uint8_t>(1u << (at % 8));
    ++at;
  };
  for (std::int64_t b = 0; b < from; ++b) put(bitAt(b));
  for (const std::uint8_t bit : bits) put(bit);
  for (std::int64_t b = from; b < total; ++b) put(bitAt(b));
  return widened;
}

namespace {

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

}  // namespace

Bytes withBookLengths(const Bytes& setupPacket, VorbisBook which, const std::vector<int>& lengths) {
  const auto setup = parseVorbisSetupHeader(setupPacket, 0);
  if (!setup || setup->residues.empty()) return {};
  int index = setup->residues.front().classbook;
  if (which == VorbisBook::FloorSubclassBook) {
    const auto floor = std::find_if(setup->floors.begin(), setup->floors.end(),
                                    [](const auto& f) { return !f.subclassBooks.empty(); });
    if (floor == setup->floors.end()) return {};
    index = floor->subclassBooks.front();
  }
  const auto& book = setup->codebooks.at(static_cast<std::size_t>(index));
  return spliceBitString(setupPacket, book.lengthsBitOffset,
                         sparseLengthBits(book.entries, lengths), book.lookupTypeBitOffset);
}

TempFile::TempFile(const Bytes& contents, const std::string& suffix) {
  static std::atomic<int> counter{0};
  const char* folder = std::getenv("TMPDIR");
  path_ = std::string(folder && *folder ? folder : "/tmp") + "/lunadio-audio-" +
          std::to_string(::getpid()) + "-" + std::to_string(counter++) + suffix;
  std::FILE* file = std::fopen(path_.c_str(), "wb");
  if (!file) throw std::runtime_error("cannot write " + path_);
  std::fwrite(contents.data(), 1, contents.size(), file);
  std::fclose(file);
}

TempFile::~TempFile() { std::remove(path_.c_str()); }

std::u16string TempFile::path16() const { return fromUtf8(path_); }

}  // namespace lunadio::test
