#pragma once

namespace lunadio {

// Runs the program from start to end; returns the process exit code (0 on every normal path,
// a second instance included).
int runApplication(int argc, char** argv);

}  // namespace lunadio
