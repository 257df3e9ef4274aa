#pragma once
// The bytes a sound buffer plays from. One block of memory can back several buffers: a buffer and
// its duplicates (they share the sound's memory), or two sounds made from one decode. Memory is
// adopted without a copy from the vector that the loader or a decoder filled.
//
// Threads: made on the main thread; the mixer reads it while a buffer that uses it plays; writes go
// through SoundBuffer::lock/unlock, which keep them apart from the mixer's reads.

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
  // Takes the samples over without copying them (null only when memory for the holder runs out).
  static std::shared_ptr<SampleMemory> adopt(std::vector<std::int16_t> pcm);
  static std::shared_ptr<SampleMemory> adopt(std::vector<std::uint8_t> bytes);

  std::uint8_t* data() { return data_; }
  const std::uint8_t* data() const { return data_; }
  std::size_t bytes() const { return bytes_; }

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
};

}  // namespace lunadio::soundout
