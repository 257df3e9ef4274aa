#pragma once
// The bytes a plug-in decodes from: a memory image (read straight out of the caller's image,
// never copied) or a stdio stream. Both adapters hand these calls to their library as its I/O
// callbacks. Positions are 64-bit and every read is clamped to the source, so a library that
// seeks to a hostile offset reads nothing instead of outside the image.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>

namespace lunadio {

class ByteSource {
 public:
  ByteSource() = default;
  explicit ByteSource(std::span<const std::uint8_t> image) : image_(image) {}
  explicit ByteSource(std::FILE* file) : file_(file) {}

  // Copies up to `bytes` bytes from the current position; 0 at or past the end (or on error).
  std::size_t read(void* destination, std::size_t bytes);
  // whence: SEEK_SET, SEEK_CUR, SEEK_END. A target before the start is refused (false).
  bool seek(std::int64_t offset, int whence);
  std::int64_t tell() const;
  // Total size in bytes, or -1 when a stream cannot say.
  std::int64_t length() const;
  bool atEnd() const;
  bool isFile() const { return file_ != nullptr; }

 private:
  std::span<const std::uint8_t> image_;
  std::int64_t position_ = 0;  // memory images only
  std::FILE* file_ = nullptr;  // not owned
};

}  // namespace lunadio
