#pragma once
// The fixed order of program start and end. Each library registers its start and end routines at
// its own stage; the program runs the stages in this order, whatever the order of registration.
// Main thread only.

#include <functional>
#include <string>

namespace lunadio {

// Only stages some library starts at: the others (strings, storage, threads, ...) need no start.
enum class StartStage {
  // The display connection comes first: the DPI, fonts and images below need it.
  Platform,
  Fonts,
  Images,
  Requesters,
  // The last library stage: the single-instance guard runs after it.
  Tray,
  // then the single-instance guard, then the application's own start
  Application,
};

enum class EndStage {
  Files,
  Threads,
  Tray,
  Sound,
  Media,
  Gadgets,
  DirectoryListings,
  Events,
  Images,
  Fonts,
  Strings,
};

// A start routine returns false when its library cannot start; the sequence stops there.
void addStartRoutine(StartStage stage, std::string name, std::function<bool()> routine);
void addEndRoutine(EndStage stage, std::string name, std::function<void()> routine);

// Runs the registered start routines up to and including `last`, in stage order (routines of one
// stage in registration order). Returns false as soon as one fails.
bool runStartSequence(StartStage last = StartStage::Application);
// Runs every end routine once, in stage order. Safe to call more than once.
void runEndSequence();

// Forgets every routine (tests).
void clearLifecycle();

}  // namespace lunadio
