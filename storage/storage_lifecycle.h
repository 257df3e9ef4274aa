#pragma once
// Start and end routines of the storage library.

namespace lunadio {

// Registers the storage library's end routines in the fixed program order: the preference file is
// closed (and so saved) with the files, the directory listings are closed at their own stage.
// Call once, from the application, before the end sequence runs.
void registerStorageLifecycle();

}  // namespace lunadio
