// File names from the disk are arbitrary bytes: every one must come back unchanged.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/strings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string raw(reinterpret_cast<const char*>(data), size);
  const std::u16string wide = lunadio::fromUtf8(raw);
  if (lunadio::toUtf8(wide) != raw) std::abort();
  lunadio::getExtensionPart(wide);
  lunadio::getFilePart(wide, lunadio::FilePartNoExtension);
  lunadio::findString(wide, u"é", 1, lunadio::FindNoCase);
  return 0;
}
