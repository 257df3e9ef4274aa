#include "storage/storage_lifecycle.h"

#include "core/lifecycle.h"
#include "storage/directory.h"
#include "storage/preferences.h"

namespace lunadio {

void registerStorageLifecycle() {
  addEndRoutine(EndStage::Files, "preference file", [] { closePreferences(); });
  addEndRoutine(EndStage::DirectoryListings, "directory listings", [] { endDirectories(); });
}

}  // namespace lunadio
