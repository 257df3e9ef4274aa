// The player module's entries: what the executable calls once it holds the instance guard and
// the command-line track sounds (app/launch.h).

#include "app/desktop_link.h"
#include "app/dispatch.h"
#include "app/launch.h"
#include "app/library_lifecycles.h"
#include "app/media_engine.h"
#include "app/startup.h"
#include "core/lifecycle.h"

namespace lunadio {
namespace {

int runPlayer(const LaunchedStart& start) {
  registerLibraryLifecycles();
  // A command-line MP3 has the media engine loaded and started already (the executable played
  // it); anything else takes the check child's answer and loads the engine at the first MP3.
  setMediaModule(start.loadMediaModule, start.mediaModuleLoaded, start.mediaCheckPid);
  startTrackEarly(start.track, start.earlyTrack);
  if (!runStartSequence(StartStage::Tray)) {
    shutdownLibraries();
    return 0;
  }
  if (startPlayer(start.track) == StartResult::Running) {
    startDesktopLink();
    runMainLoop();
  }
  // The one exit path: after the confirmed quit, and when the sound system cannot start.
  shutdownLibraries();
  return 0;
}

}  // namespace
}  // namespace lunadio

extern "C" {

__attribute__((visibility("default"))) int lunadioRunPlayer(const lunadio::LaunchedStart& start) {
  return lunadio::runPlayer(start);
}

}  // extern "C"
