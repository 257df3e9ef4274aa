#include "audio/decoders/byte_source.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>

namespace lunadio {

std::size_t ByteSource::read(void* destination, std::size_t bytes) {
  if (file_) return std::fread(destination, 1, bytes, file_);
  const auto size = static_cast<std::int64_t>(image_.size());
  if (position_ >= size || bytes == 0) return 0;
  const auto count = static_cast<std::size_t>(std::min<std::int64_t>(
      static_cast<std::int64_t>(std::min<std::size_t>(bytes, INT64_MAX)), size - position_));
  std::memcpy(destination, image_.data() + position_, count);
  position_ += static_cast<std::int64_t>(count);
  return count;
}

bool ByteSource::seek(std::int64_t offset, int whence) {
  if (file_) return fseeko(file_, static_cast<off_t>(offset), whence) == 0;
  std::int64_t base = 0;
  switch (whence) {
    case SEEK_SET:
      base = 0;
      break;
    case SEEK_CUR:
      base = position_;
      break;
    case SEEK_END:
      base = static_cast<std::int64_t>(image_.size());
      break;
    default:
      return false;
  }
  // Offsets come from file contents: keep the sum from overflowing before it is checked.
  if (offset > 0 && base > INT64_MAX - offset) return false;
  const std::int64_t target = base + offset;
  if (target < 0) return false;
  position_ = target;
  return true;
}

std::int64_t ByteSource::tell() const {
  if (file_) return static_cast<std::int64_t>(ftello(file_));
  return position_;
}

std::int64_t ByteSource::length() const {
  if (file_) {
    struct stat info {};
    if (fstat(fileno(file_), &info) != 0) return -1;
    return static_cast<std::int64_t>(info.st_size);
  }
  return static_cast<std::int64_t>(image_.size());
}

bool ByteSource::atEnd() const {
  if (file_) return std::feof(file_) != 0;
  return position_ >= static_cast<std::int64_t>(image_.size());
}

}  // namespace lunadio
