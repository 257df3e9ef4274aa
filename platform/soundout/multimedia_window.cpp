#include "platform/soundout/multimedia_window.h"

namespace lunadio::soundout {
namespace {
// -- main thread only
bool windowCreated = false;
constexpr std::uintptr_t kMultimediaWindowToken = 1;
}  // namespace

int ensureMultimediaWindow() {
  windowCreated = true;
  return 1;
}

std::uintptr_t multimediaWindowHandle() { return windowCreated ? kMultimediaWindowToken : 0; }

}  // namespace lunadio::soundout
