// Lunadio's entry: the single-instance guard, the program's parameters and the command-line
// track, then the player module with the fixed start sequence, the application and the fixed end
// sequence.

#include "app/launch.h"

int main(int argc, char** argv) { return lunadio::launchLunadio(argc, argv); }
