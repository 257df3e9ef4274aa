#pragma once
// A second start: the one command-line track, or a request to show the panel, sent to the
// running instance. The executable does it alone, without loading the player's modules.

namespace lunadio {

// Returns within 100 ms whatever the running instance does. An empty track sends nothing: it
// opens nothing and shows nothing, as on a first start.
void handOverToRunningInstance(int argc, char** argv);

}  // namespace lunadio
