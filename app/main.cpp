// Lunadio's entry: the fixed start sequence, the single-instance guard, the program's parameters,
// the application, then the fixed end sequence.

#include "app/application.h"

int main(int argc, char** argv) { return lunadio::runApplication(argc, argv); }
