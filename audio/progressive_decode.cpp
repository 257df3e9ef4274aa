#include "audio/internal/progressive_decode.h"

#include <algorithm>

#include "core/no_throw.h"

namespace lunadio {

void decodeRemaining(DecoderHandle& decoder, soundout::SampleMemory& memory,
                     std::uint32_t decodedBytes, std::uint32_t totalBytes, std::uint32_t frameBytes,
                     const std::atomic<bool>* stop) {
  const std::uint32_t chunkBytes =
      ProgressiveDecode::kChunkBytes - ProgressiveDecode::kChunkBytes % frameBytes;
  std::uint32_t decoded = decodedBytes;
  while (decoded < totalBytes) {
    if (stop && stop->load(std::memory_order_relaxed)) return;
    const std::uint32_t wanted = std::min(chunkBytes, totalBytes - decoded);
    memory.prepareForWriting(decoded, wanted);
    const std::int32_t got =
        decoder.read(memory.data() + decoded, static_cast<std::int32_t>(wanted), AtEnd::Stop);
    decoded += static_cast<std::uint32_t>(std::max(got, 0));
    // A source that decodes short of its stated length: the rest is the memory's zeros.
    if (static_cast<std::uint32_t>(std::max(got, 0)) < wanted) decoded = totalBytes;
    memory.setReadyBytes(decoded);
  }
  memory.setReadyBytes(totalBytes);
}

std::shared_ptr<ProgressiveDecode> ProgressiveDecode::start(
    std::unique_ptr<DecoderHandle>& decoder, std::shared_ptr<soundout::SampleMemory> memory,
    std::uint32_t decodedBytes, std::uint32_t totalBytes, std::uint32_t frameBytes) {
  auto decode = noThrow(std::shared_ptr<ProgressiveDecode>{}, [&] {
    return std::make_shared<ProgressiveDecode>(Key{}, std::move(memory), decodedBytes, totalBytes,
                                               frameBytes);
  });
  if (!decode) return nullptr;
  decode->decoder_ = std::move(decoder);
  ProgressiveDecode* raw = decode.get();
  const bool started = noThrow(false, [&] {
    raw->worker_ = std::thread([raw] { raw->run(); });
    return true;
  });
  if (!started) {
    decoder = std::move(decode->decoder_);  // back to the caller, who finishes the decode
    return nullptr;
  }
  return decode;
}

ProgressiveDecode::ProgressiveDecode(Key, std::shared_ptr<soundout::SampleMemory> memory,
                                     std::uint32_t decodedBytes, std::uint32_t totalBytes,
                                     std::uint32_t frameBytes)
    : memory_(std::move(memory)),
      totalBytes_(totalBytes),
      frameBytes_(frameBytes),
      decodedBytes_(decodedBytes) {}

ProgressiveDecode::~ProgressiveDecode() {
  stop_.store(true, std::memory_order_relaxed);
  if (worker_.joinable()) worker_.join();
}

bool ProgressiveDecode::waitUntilDecoded(std::uint32_t bytes,
                                         std::chrono::milliseconds bound) const {
  return memory_->waitUntilReady(bytes, bound);
}

void ProgressiveDecode::run() noexcept {
  noThrow([this] {
    decodeRemaining(*decoder_, *memory_, decodedBytes_, totalBytes_, frameBytes_, &stop_);
    decoder_.reset();  // closes the file as soon as it is read
  });
}

}  // namespace lunadio
