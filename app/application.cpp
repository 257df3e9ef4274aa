#include "app/application.h"

#include "app/library_lifecycles.h"
#include "core/instance_guard.h"
#include "core/lifecycle.h"
#include "storage/program_parameters.h"

namespace lunadio {

int runApplication(int argc, char** argv) {
  registerLibraryLifecycles();
  const bool librariesStarted = runStartSequence(StartStage::Tray);
  InstanceGuard guard(currentProgramName());
  if (!librariesStarted || guard.anotherInstanceRuns()) {
    runEndSequence();
    return 0;
  }
  setProgramArguments(argc, argv);
  // Exactly one non-empty parameter names the track to open once the player is up.
  std::u16string startTrack;
  if (countProgramParameters() == 1) startTrack = nextProgramParameter();
  (void)startTrack;

  runStartSequence(StartStage::Application);
  runEndSequence();
  return 0;
}

}  // namespace lunadio
