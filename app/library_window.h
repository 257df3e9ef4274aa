#pragma once
// The track library window: a directory tree scanned for audio files under the format filter,
// listed with their sizes, one of them handed back to the panel to play. Main thread only; the
// scan of the subdirectories runs on a worker thread of its own that ends before the window does.
// The window's loop waits through the pump, so the player answers requests while it is open.

#include <string>

namespace lunadio {

enum class LibraryOutcome {
  Closed,  // the window was closed
  Play,    // "Jouer" on a listed row
};

struct LibraryChoice {
  LibraryOutcome outcome = LibraryOutcome::Closed;
  std::u16string path;  // Play: the row's path (also kept as playerState().selectedTrackPath)
};

// Runs the window's own loop until it closes.
LibraryChoice openLibraryWindow();

}  // namespace lunadio
