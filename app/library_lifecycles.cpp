#include "app/library_lifecycles.h"

#include "audio/sound_device.h"
#include "core/lifecycle.h"
#include "core/threads.h"
#include "media/media.h"
#include "storage/storage_lifecycle.h"
#include "ui/images.h"
#include "ui/ui_runtime.h"

namespace lunadio {

void registerLibraryLifecycles() {
  addEndRoutine(EndStage::Threads, "threads", closeAllThreads);
  registerStorageLifecycle();
  registerSoundLifecycle();
  registerMediaLifecycle();
  registerUiWindowsLifecycle();
  registerUiGfxLifecycle();
}

}  // namespace lunadio
