// Stand-in until the drawings are turned into bytes by the build: every picture is empty, which the
// image library refuses like any undecodable data.
#include "assets/embedded_assets.h"

namespace lunadio {

std::span<const std::uint8_t> trayIconData() { return {}; }
std::span<const std::uint8_t> openFileImageData() { return {}; }
std::span<const std::uint8_t> closeImageData() { return {}; }
std::span<const std::uint8_t> hideImageData() { return {}; }
std::span<const std::uint8_t> libraryImageData() { return {}; }
std::span<const std::uint8_t> pauseImageData() { return {}; }
std::span<const std::uint8_t> playImageData() { return {}; }

}  // namespace lunadio
