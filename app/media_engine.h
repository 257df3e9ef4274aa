#pragma once
// The media engine (media/, on GStreamer) as the player uses it. In the program it is a module of
// its own that comes into the process at its first use, the first MP3: a player that never opens
// one never maps GStreamer's libraries (some 1.6 MB resident). The player module is loaded with
// lazy binding, so its calls into the media engine are bound only when first made; every one of
// them comes after useMediaEngine() or mediaEngineLoaded() said yes. Main thread only.

#include <functional>

#include "core/object_table.h"

namespace lunadio {

// From the executable (LaunchedStart): how to load the module, whether it is loaded already, and
// the media check's child process (-1 for none). A null `load` means the engine is linked in.
void setMediaModule(bool (*load)(), bool loaded, int checkPid);

// The start's check: the check child's answer when it gave one, without loading the engine;
// otherwise (no child, or one that died or hung) the engine loaded and checked here (initMedia).
bool mediaEngineWorks();
// The engine loaded and started (initMedia); false when it cannot be.
bool useMediaEngine();
bool mediaEngineLoaded();

// Where the engine reports a track's end (setMediaEndCallback), now or once it is loaded.
void setMediaEndHandler(std::function<void(ObjectNumber)> handler);
// The engine's end routine at its stage: endMedia() when the engine was ever loaded.
void registerMediaEngineLifecycle();

}  // namespace lunadio
