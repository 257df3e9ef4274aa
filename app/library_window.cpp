#include "app/library_window.h"

namespace lunadio {

int openLibraryWindow() { return 0; }

}  // namespace lunadio
