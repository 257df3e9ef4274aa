#include "app/application.h"

#include "core/instance_guard.h"
#include "core/lifecycle.h"
#include "core/threads.h"

namespace lunadio {

namespace {
void registerCoreRoutines() {
  addEndRoutine(EndStage::Threads, "threads", closeAllThreads);
}
}  // namespace

int runApplication(int /*argc*/, char** /*argv*/) {
  registerCoreRoutines();
  const bool librariesStarted = runStartSequence(StartStage::Tray);
  InstanceGuard guard(currentProgramName());
  if (!librariesStarted || guard.anotherInstanceRuns()) {
    runEndSequence();
    return 0;
  }
  runStartSequence(StartStage::Application);
  runEndSequence();
  return 0;
}

}  // namespace lunadio
