#pragma once
// The bytes a sound buffer plays from. One block of memory can back several buffers: a buffer and
// its duplicates (they share the sound's memory), or two sounds made from one decode. Memory is
// adopted without a copy from the vector that the loader or a decoder filled.
//
// Memory can also be filled after the buffers on it are made (a decode that goes on while the
// sound plays): readyBytes() is how far the bytes are final. The mixer and lock() never read past
// it; memory made whole is ready to its end from the start.
//
// Threads: made on the main thread; the mixer reads it while a buffer that uses it plays; writes go
// through SoundBuffer::lock/unlock, which keep them apart from the mixer's reads, or, for memory
// being filled, come from its one filler thread, beyond readyBytes() only, each stretch published
// by setReadyBytes (release; readers load it with acquire).

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

namespace lunadio::soundout {

class SampleMemory {
 public:
  // Zero-filled memory of `bytes` bytes (data() is never null, even for 0); null when it cannot be
  // had.
  static std::shared_ptr<SampleMemory> allocate(std::size_t bytes);
  // Zero-filled memory of `bytes` bytes of which nothing is ready yet: its filler writes it front
  // to back and publishes each stretch with setReadyBytes.
  static std::shared_ptr<SampleMemory> allocateUnfilled(std::size_t bytes);
  // Takes the samples over without copying them (null only when memory for the holder runs out).
  static std::shared_ptr<SampleMemory> adopt(std::vector<std::int16_t> pcm);
  static std::shared_ptr<SampleMemory> adopt(std::vector<std::uint8_t> bytes);

  std::uint8_t* data() { return data_; }
  const std::uint8_t* data() const { return data_; }
  std::size_t bytes() const { return bytes_; }

  std::size_t readyBytes() const { return readyBytes_.load(std::memory_order_acquire); }
  bool isComplete() const { return readyBytes() >= bytes_; }
  // The filler only: bytes [0, bytes) are final (clamped to the size; never moves back).
  void setReadyBytes(std::size_t bytes);
  // Waits until `bytes` (clamped to the size) are ready, at most `bound`; false when they are not.
  bool waitUntilReady(std::size_t bytes, std::chrono::milliseconds bound) const;
  // The filler only, before it writes [offset, offset + bytes): maps those pages in one call. A
  // fresh block otherwise takes one page fault per 4 KiB as it is first written, about a tenth of
  // a whole decode's time on a virtual machine. Contents stay as they are; a kernel without the
  // call leaves the faults to the writes.
  void prepareForWriting(std::size_t offset, std::size_t bytes);

  SampleMemory(const SampleMemory&) = delete;
  SampleMemory& operator=(const SampleMemory&) = delete;

 private:
  struct Key {};

 public:
  explicit SampleMemory(Key) {}

 private:
  struct Free {
    void operator()(std::uint8_t* p) const { std::free(p); }
  };
  std::unique_ptr<std::uint8_t[], Free> zeroed_;
  std::vector<std::int16_t> pcm16_;
  std::vector<std::uint8_t> raw_;
  std::uint8_t* data_ = nullptr;
  std::size_t bytes_ = 0;
  std::atomic<std::size_t> readyBytes_{0};
};

}  // namespace lunadio::soundout
