#include "app/library_lifecycles.h"

#include "app/media_engine.h"
#include "audio/decoders/sound_decoder.h"
#include "audio/sound_device.h"
#include "audio/sound_loader.h"
#include "core/lifecycle.h"
#include "core/threads.h"
#include "desktop/desktop_lifecycle.h"
#include "storage/storage_lifecycle.h"
#include "ui/images.h"
#include "ui/ui_runtime.h"

namespace lunadio {

void registerLibraryLifecycles() {
  addEndRoutine(EndStage::Threads, "threads", closeAllThreads);
  registerStorageLifecycle();
  registerSoundLifecycle();
  registerDecodersLifecycle();
  registerMediaEngineLifecycle();
  registerUiWindowsLifecycle();
  registerUiGfxLifecycle();
  registerDesktopLifecycle();

  // The decoders come first in the application's own start, in this order, so that Ogg Vorbis
  // is probed before FLAC.
  addStartRoutine(StartStage::Application, "picture and sound decoders", [] {
    usePngDecoder();
    useVorbisDecoder();
    useFlacDecoder();
    return true;
  });
}

}  // namespace lunadio
