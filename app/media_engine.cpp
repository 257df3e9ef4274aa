#include "app/media_engine.h"

#include <optional>
#include <utility>

#include "core/lifecycle.h"
#include "media/media.h"

namespace lunadio {
namespace {

// -- main thread only
struct MediaModule {
  bool (*load)() = nullptr;
  bool loaded = true;  // linked in until the executable says otherwise
  int checkPid = -1;
  std::function<void(ObjectNumber)> endHandler;
};
MediaModule& mediaModule() {
  static MediaModule module;
  return module;
}

bool loadModule() {
  MediaModule& module = mediaModule();
  if (module.loaded) return true;
  if (!module.load || !module.load()) return false;
  module.loaded = true;
  // The check child, when the engine's own check needs it after all, is the engine's to take.
  adoptMediaCheck(std::exchange(module.checkPid, -1));
  if (module.endHandler) setMediaEndCallback(module.endHandler);
  return true;
}

}  // namespace

void setMediaModule(bool (*load)(), bool loaded, int checkPid) {
  MediaModule& module = mediaModule();
  module.load = load;
  module.loaded = load == nullptr || loaded;
  module.checkPid = checkPid;
  if (module.loaded) adoptMediaCheck(std::exchange(module.checkPid, -1));
}

bool mediaEngineWorks() {
  MediaModule& module = mediaModule();
  if (!module.loaded && module.checkPid >= 0) {
    if (const std::optional<bool> answer =
            awaitMediaCheckAnswer(std::exchange(module.checkPid, -1))) {
      return *answer;
    }
  }
  return useMediaEngine();
}

bool useMediaEngine() { return loadModule() && initMedia() != 0; }

bool mediaEngineLoaded() { return mediaModule().loaded; }

void setMediaEndHandler(std::function<void(ObjectNumber)> handler) {
  MediaModule& module = mediaModule();
  module.endHandler = std::move(handler);
  if (module.loaded) setMediaEndCallback(module.endHandler);
}

void registerMediaEngineLifecycle() {
  addEndRoutine(EndStage::Media, "media players", [] {
    if (mediaEngineLoaded()) endMedia();
  });
}

}  // namespace lunadio
