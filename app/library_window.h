#pragma once
// The track library window: a directory tree scanned for audio files under the format filter,
// listed with their sizes, one of them handed back to the panel to play. Main thread only; the
// scan of the subdirectories runs on a worker thread of its own that ends before the window does.

namespace lunadio {

// Runs the window's own loop until it closes. 1 when the user pressed "Jouer" on a listed row
// (playerState().selectedTrackPath then holds its path), 0 when the window was closed.
int openLibraryWindow();

}  // namespace lunadio
