#pragma once
// What tests and the scan benchmark see of the library window. Main thread only.

#include <cstdint>
#include <functional>

#include "app/player_state.h"

namespace lunadio {

// Called by the window's loop at each step of a scan; an empty function removes the observer.
void setLibraryScanObserver(std::function<void(LibraryScanStep)> observer);

// The number of the last scan thread started (0 before the first), for core's isThread().
int lastLibraryScanThread();

// How many paths the library keeps for its rows (they outlive the window until the next scan).
std::int32_t libraryTrackPathCount();

}  // namespace lunadio
