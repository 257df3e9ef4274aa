#include "core/threads.h"

#include <pthread.h>

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace lunadio {
namespace {

// Linux refuses stacks below PTHREAD_STACK_MIN; a workers' stack of this size is ample and keeps
// address space small.
constexpr std::size_t kThreadStackBytes = 256 * 1024;

// Shared by the thread itself and its list entry; whichever lets go last frees it.
struct ThreadState {
  // -- fixed before the thread starts
  std::function<void(std::stop_token, void*)> procedure;
  void* parameter = nullptr;
  // -- thread-safe by itself: any thread requests, the worker polls
  std::stop_source stop;
  std::mutex endMutex;
  std::condition_variable endChanged;
  bool running = true;  // -- guarded by endMutex; cleared once the procedure has returned

  bool isRunning() {
    std::lock_guard<std::mutex> lock(endMutex);
    return running;
  }
  // True once the thread has ended, false at the deadline.
  bool waitUntil(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(endMutex);
    return endChanged.wait_until(lock, deadline, [this] { return !running; });
  }
};

struct RecordedThread {
  int number;
  std::shared_ptr<ThreadState> state;
};

std::mutex listMutex;
// -- guarded by listMutex
std::vector<RecordedThread> threadList;
int lastThreadNumber = 0;

void* threadMain(void* raw) {
  // The thread keeps its own reference so the state outlives the list entry.
  std::shared_ptr<ThreadState> state(*static_cast<std::shared_ptr<ThreadState>*>(raw));
  delete static_cast<std::shared_ptr<ThreadState>*>(raw);
  // Nothing thrown may leave a thread's start routine: the process would end.
  try {
    state->procedure(state->stop.get_token(), state->parameter);
  } catch (...) {
  }
  {
    std::lock_guard<std::mutex> lock(state->endMutex);
    state->running = false;
  }
  state->endChanged.notify_all();
  return nullptr;
}

void dropEndedLocked(const std::lock_guard<std::mutex>&) {
  std::erase_if(threadList, [](const RecordedThread& t) { return !t.state->isRunning(); });
}

std::shared_ptr<ThreadState> findThread(int number) {
  std::lock_guard<std::mutex> lock(listMutex);
  auto it = std::find_if(threadList.begin(), threadList.end(),
                         [number](const RecordedThread& t) { return t.number == number; });
  return it == threadList.end() ? nullptr : it->state;
}

std::chrono::steady_clock::time_point deadlineAfter(int timeoutMs) {
  return std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
}

}  // namespace

int createThread(std::function<void(std::stop_token, void*)> procedure, void* parameter) {
  if (!procedure) return 0;
  try {
    auto state = std::make_shared<ThreadState>();
    state->procedure = std::move(procedure);
    state->parameter = parameter;

    std::lock_guard<std::mutex> lock(listMutex);
    dropEndedLocked(lock);
    threadList.reserve(threadList.size() + 1);  // no throw once the thread runs

    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) return 0;
    pthread_attr_setstacksize(&attributes, kThreadStackBytes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    auto handoff = std::make_unique<std::shared_ptr<ThreadState>>(state);
    pthread_t thread;
    const int result = pthread_create(&thread, &attributes, threadMain, handoff.get());
    pthread_attr_destroy(&attributes);
    if (result != 0) return 0;
    handoff.release();  // threadMain owns it now

    const int number = ++lastThreadNumber;
    threadList.push_back({number, std::move(state)});
    return number;
  } catch (...) {
    return 0;  // no memory for the thread's state
  }
}

int createThread(std::function<void(void*)> procedure, void* parameter) {
  if (!procedure) return 0;
  try {
    return createThread([plain = std::move(procedure)](std::stop_token, void* p) { plain(p); },
                        parameter);
  } catch (...) {
    return 0;
  }
}

bool isThread(int number) {
  const auto state = findThread(number);
  return state && state->isRunning();
}

void requestThreadStop(int number) {
  if (const auto state = findThread(number)) state->stop.request_stop();
}

bool waitThread(int number, int timeoutMs) {
  const auto state = findThread(number);
  return !state || state->waitUntil(deadlineAfter(timeoutMs));
}

bool stopAllThreads(int timeoutMs) {
  std::vector<RecordedThread> workers;
  {
    std::lock_guard<std::mutex> lock(listMutex);
    workers.swap(threadList);
  }
  for (const RecordedThread& worker : workers) worker.state->stop.request_stop();
  const auto deadline = deadlineAfter(timeoutMs);
  bool allEnded = true;
  for (const RecordedThread& worker : workers) {
    if (!worker.state->waitUntil(deadline)) allEnded = false;
  }
  return allEnded;
}

void closeAllThreads() { stopAllThreads(kEndThreadsWaitMs); }

void delay(int milliseconds) {
  if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace lunadio
