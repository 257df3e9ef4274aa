#include "ui/ico_reader.h"

#include <algorithm>
#include <vector>

#include "ui/images.h"
#include "ui/images_dib.h"

namespace lunadio::ui {
namespace {

constexpr std::size_t kDirectoryBytes = 6;
constexpr std::size_t kEntryBytes = 16;

struct Entry {
  int width = 0;  // as the directory states it (0 stands for 256)
  int height = 0;
  int bitCount = 0;
  std::size_t offset = 0;
  std::size_t sizeBytes = 0;
};

std::vector<Entry> readDirectory(ByteSpan bytes) {
  std::vector<Entry> entries;
  if (bytes.size() < kDirectoryBytes) return entries;
  if (readU16(bytes, 0) != 0 || readU16(bytes, 2) != 1) return entries;
  const std::size_t count = readU16(bytes, 4);
  if (count == 0 || kDirectoryBytes + count * kEntryBytes > bytes.size()) return entries;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = kDirectoryBytes + i * kEntryBytes;
    Entry entry;
    entry.width = bytes[at] == 0 ? 256 : bytes[at];
    entry.height = bytes[at + 1] == 0 ? 256 : bytes[at + 1];
    entry.bitCount = readU16(bytes, at + 6);
    entry.sizeBytes = readU32(bytes, at + 8);
    entry.offset = readU32(bytes, at + 12);
    if (entry.offset > bytes.size() || entry.sizeBytes > bytes.size() - entry.offset ||
        entry.sizeBytes == 0) {
      return {};
    }
    entries.push_back(entry);
  }
  return entries;
}

bool isPng(ByteSpan bytes) {
  static constexpr std::uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  return bytes.size() >= sizeof kSignature && std::equal(kSignature, kSignature + 8, bytes.begin());
}

DecodedPicture readEntry(ByteSpan data) {
  if (isPng(data)) {
    static const auto pngDecoder = makePngDecoder();
    DecodedPicture picture = decodeWith(*pngDecoder, data);
    if (picture.pixels.isNull()) return {};
    if (picture.depthBits != 32)
      picture.pixels = picture.pixels.convertToFormat(formatForDepth(32));
    picture.depthBits = 32;
    picture.format = ImageFormatIcon;
    return picture;
  }
  return readDib(data, DibKind::IconEntry);
}

}  // namespace

bool looksLikeIcon(ByteSpan bytes) { return !readDirectory(bytes).empty(); }

DecodedPicture readIcon(ByteSpan bytes) {
  std::vector<Entry> entries = readDirectory(bytes);
  std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    const int areaA = a.width * a.height;
    const int areaB = b.width * b.height;
    if (areaA != areaB) return areaA > areaB;
    return a.bitCount > b.bitCount;
  });
  for (const Entry& entry : entries) {
    DecodedPicture picture = readEntry(bytes.subspan(entry.offset, entry.sizeBytes));
    if (!picture.pixels.isNull()) return picture;
  }
  return {};
}

}  // namespace lunadio::ui
