#pragma once
// Worker threads of the runtime, numbered 1, 2, 3, ... in creation order. The thread list is
// guarded by one mutex; any thread may create or query threads.

#include <chrono>
#include <functional>

namespace lunadio {

// Starts `procedure(parameter)` on a new thread; returns its number, or 0 when the system refuses
// the thread. Threads that have ended are dropped from the list first.
int createThread(std::function<void(void*)> procedure, void* parameter);

// True while the thread with that number is still running.
bool isThread(int number);

// Forgets every recorded thread without waiting for it (program end).
void closeAllThreads();

// Sleeps the calling thread.
void delay(int milliseconds);

}  // namespace lunadio
