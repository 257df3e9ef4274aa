#include "platform/soundout/sample_memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <new>
#include <thread>

namespace lunadio::soundout {

static_assert(std::endian::native == std::endian::little,
              "sample memory holds little-endian PCM as the host's own integers");

namespace {

// A sound's memory is written whole, front to back, and kept whole while it plays: 2 MiB pages
// cost nothing in resident memory there, and mapping them takes a tenth of the time that 4 KiB
// pages take (a 5-minute sound: 13,000 page faults, a sixth of the whole decode on a virtual
// machine). Where the kernel gives no large pages, the advice changes nothing.
void useLargePages(std::uint8_t* data, std::size_t bytes) {
  constexpr std::uintptr_t kLargePageBytes = 2u << 20;
  const auto begin =
      (reinterpret_cast<std::uintptr_t>(data) + kLargePageBytes - 1) & ~(kLargePageBytes - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(data) + bytes) & ~(kLargePageBytes - 1);
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

}  // namespace

std::shared_ptr<SampleMemory> SampleMemory::allocate(std::size_t bytes) {
  auto memory = allocateUnfilled(bytes);
  if (memory) memory->setReadyBytes(bytes);
  return memory;
}

std::shared_ptr<SampleMemory> SampleMemory::allocateUnfilled(std::size_t bytes) {
  try {
    auto memory = std::make_shared<SampleMemory>(Key{});
    // calloc: a large block comes as fresh zero pages, so a long sound costs no time before it is
    // written and no memory where it never is.
    memory->zeroed_.reset(static_cast<std::uint8_t*>(std::calloc(bytes ? bytes : 1, 1)));
    if (!memory->zeroed_) return nullptr;
    memory->data_ = memory->zeroed_.get();
    memory->bytes_ = bytes;
    useLargePages(memory->data_, bytes);
    return memory;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

std::shared_ptr<SampleMemory> SampleMemory::adopt(std::vector<std::int16_t> pcm) {
  try {
    auto memory = std::make_shared<SampleMemory>(Key{});
    memory->pcm16_ = std::move(pcm);
    memory->data_ = reinterpret_cast<std::uint8_t*>(memory->pcm16_.data());
    memory->bytes_ = memory->pcm16_.size() * sizeof(std::int16_t);
    memory->setReadyBytes(memory->bytes_);
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
    memory->setReadyBytes(memory->bytes_);
    return memory;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void SampleMemory::setReadyBytes(std::size_t bytes) {
  const std::size_t clamped = std::min(bytes, bytes_);
  if (clamped > readyBytes_.load(std::memory_order_relaxed)) {
    readyBytes_.store(clamped, std::memory_order_release);
  }
}

bool SampleMemory::waitUntilReady(std::size_t bytes, std::chrono::milliseconds bound) const {
  const std::size_t wanted = std::min(bytes, bytes_);
  if (readyBytes() >= wanted) return true;
  // Waits are rare (a seek past a decode still running, a test reading a sound) and short: a poll
  // keeps the filler's publishing a plain store.
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (readyBytes() < wanted) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

void SampleMemory::prepareForWriting(std::size_t offset, std::size_t bytes) {
#ifndef MADV_POPULATE_WRITE
  constexpr int MADV_POPULATE_WRITE = 23;  // Linux 5.14; older headers lack the name
#endif
  // Only a block of fresh pages gains: the adopted vectors were written by their makers.
  if (!zeroed_ || offset >= bytes_) return;
  bytes = std::min(bytes, bytes_ - offset);
  static const auto pageBytes = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto from = reinterpret_cast<std::uintptr_t>(data_ + offset) & ~(pageBytes - 1);
  const auto to = reinterpret_cast<std::uintptr_t>(data_ + offset + bytes);
  // A failure (an old kernel, no memory left just now) only leaves the work to the page faults.
  ::madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
}

}  // namespace lunadio::soundout
