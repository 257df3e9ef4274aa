#include "app/application.h"

#include "app/desktop_link.h"
#include "app/dispatch.h"
#include "app/library_lifecycles.h"
#include "app/startup.h"
#include "app/track.h"
#include "audio/sound_device.h"
#include "core/instance_guard.h"
#include "core/lifecycle.h"
#include "core/strings.h"
#include "media/media.h"
#include "storage/program_parameters.h"

namespace lunadio {

int runApplication(int argc, char** argv) {
  // A second start only hands its track over: it takes the guard before starting anything, so
  // that neither the display, the sound server nor GStreamer's registry delay the hand-over or
  // take the processor from the running player while it opens the track.
  InstanceGuard guard(currentProgramName());
  if (guard.anotherInstanceRuns()) {
    handOverToRunningInstance(argc, argv);
    return 0;
  }
  registerLibraryLifecycles();
  setProgramArguments(argc, argv);
  // Exactly one non-empty parameter names the track to open; with two or more nothing is opened.
  std::u16string startTrack;
  if (countProgramParameters() == 1) startTrack = nextProgramParameter();
  // Reaching the sound server and starting GStreamer take as long as the display's start and need
  // nothing of it: both begin now and are joined in their places in the start. Without an MP3 to
  // play, GStreamer's check runs in a child process, forked before any other thread exists to
  // hold a lock the child would inherit, and GStreamer stays out of the player until the first
  // MP3; an MP3 to play at once starts it here, on a thread of its own, and is checked here.
  if (!startTrack.empty() && chooseEngine(getExtensionPart(startTrack)) == EngineKind::Media) {
    prepareMediaPlayback();
  } else {
    prepareMedia();
  }
  prepareSound();
  // The track's way to the sink waits for nothing a person sees: it sounds while the display,
  // the fonts and the pictures start.
  startTrackEarly(startTrack);
  if (!runStartSequence(StartStage::Tray)) {
    shutdownLibraries();
    return 0;
  }

  if (startPlayer(startTrack) == StartResult::Running) {
    startDesktopLink();
    runMainLoop();
  }
  // The one exit path: after the confirmed quit, and when the sound system cannot start.
  shutdownLibraries();
  return 0;
}

}  // namespace lunadio
