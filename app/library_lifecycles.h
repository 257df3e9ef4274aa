#pragma once

namespace lunadio {

// Registers the start and end routines of every library at its stage of the fixed order. The
// order of the calls here does not matter; the stages do.
void registerLibraryLifecycles();

}  // namespace lunadio
