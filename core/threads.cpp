#include "core/threads.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace lunadio {
namespace {

// Linux refuses stacks below PTHREAD_STACK_MIN; a workers' stack of this size is ample and keeps
// address space small.
constexpr std::size_t kThreadStackBytes = 256 * 1024;

struct ThreadState {
  std::function<void(void*)> procedure;
  void* parameter = nullptr;
  std::atomic<bool> running{true};
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
  state->procedure(state->parameter);
  state->running.store(false, std::memory_order_release);
  return nullptr;
}

void dropEndedLocked(const std::lock_guard<std::mutex>&) {
  std::erase_if(threadList, [](const RecordedThread& t) {
    return !t.state->running.load(std::memory_order_acquire);
  });
}

}  // namespace

int createThread(std::function<void(void*)> procedure, void* parameter) {
  if (!procedure) return 0;
  auto state = std::make_shared<ThreadState>();
  state->procedure = std::move(procedure);
  state->parameter = parameter;

  std::lock_guard<std::mutex> lock(listMutex);
  dropEndedLocked(lock);

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
}

bool isThread(int number) {
  std::lock_guard<std::mutex> lock(listMutex);
  auto it = std::find_if(threadList.begin(), threadList.end(),
                         [number](const RecordedThread& t) { return t.number == number; });
  return it != threadList.end() && it->state->running.load(std::memory_order_acquire);
}

void closeAllThreads() {
  std::lock_guard<std::mutex> lock(listMutex);
  threadList.clear();
}

void delay(int milliseconds) {
  if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace lunadio
