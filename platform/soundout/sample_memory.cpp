#include "platform/soundout/sample_memory.h"

#include <bit>
#include <new>

namespace lunadio::soundout {

static_assert(std::endian::native == std::endian::little,
              "sample memory holds little-endian PCM as the host's own integers");

std::shared_ptr<SampleMemory> SampleMemory::allocate(std::size_t bytes) {
  try {
    auto memory = std::make_shared<SampleMemory>(Key{});
    memory->raw_.assign(bytes, 0);
    memory->data_ = memory->raw_.data();
    memory->bytes_ = bytes;
    return memory;
  } catch (const std::bad_alloc&) {
    return nullptr;
  } catch (const std::length_error&) {
    return nullptr;
  }
}

std::shared_ptr<SampleMemory> SampleMemory::adopt(std::vector<std::int16_t> pcm) {
  try {
    auto memory = std::make_shared<SampleMemory>(Key{});
    memory->pcm16_ = std::move(pcm);
    memory->data_ = reinterpret_cast<std::uint8_t*>(memory->pcm16_.data());
    memory->bytes_ = memory->pcm16_.size() * sizeof(std::int16_t);
    return memory;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

std::shared_ptr<SampleMemory> SampleMemory::adopt(std::vector<std::uint8_t> bytes) {
  try {
    auto memory = std::make_shared<SampleMemory>(Key{});
    memory->raw_ = std::move(bytes);
    memory->data_ = memory->raw_.data();
    memory->bytes_ = memory->raw_.size();
    return memory;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace lunadio::soundout
