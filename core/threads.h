#pragma once
// Worker threads of the runtime, numbered 1, 2, 3, ... in creation order. The thread list is
// guarded by one mutex; any thread may create, stop, wait for or query threads.
//
// Stopping is cooperative: requestThreadStop() sets the thread's stop token, which a procedure
// started with the token polls between steps of its work and returns when it is set. The end
// sequence asks every worker to stop and waits for it, bounded, so that a worker still running
// at exit meets no state that the end routines after it destroy.

#include <chrono>
#include <functional>
#include <stop_token>

namespace lunadio {

// Starts `procedure(parameter)` on a new thread; returns its number, or 0 when the system refuses
// the thread. Threads that have ended are dropped from the list first.
int createThread(std::function<void(void*)> procedure, void* parameter);
// The same, for a procedure that polls `stop.stop_requested()` and returns once it is true.
int createThread(std::function<void(std::stop_token stop, void*)> procedure, void* parameter);

// True while the thread with that number is still running.
bool isThread(int number);

// Sets the thread's stop token; does nothing for a thread that has ended or never was.
void requestThreadStop(int number);
// Waits up to `timeoutMs` (0: does not wait) for the thread to end. True once it has ended, and
// for a number that names no running thread; false when it still runs at the deadline.
bool waitThread(int number, int timeoutMs);

// Asks every running worker to stop and waits for them, `timeoutMs` in all. True when every one
// has ended; the list is empty afterwards either way (a worker that outlives the wait runs on,
// detached, and is no longer counted).
bool stopAllThreads(int timeoutMs);
// How long the end sequence waits for the workers in all.
inline constexpr int kEndThreadsWaitMs = 2000;
// The end sequence's Threads stage: stopAllThreads(kEndThreadsWaitMs).
void closeAllThreads();

// Sleeps the calling thread.
void delay(int milliseconds);

}  // namespace lunadio
