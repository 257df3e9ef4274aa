#pragma once
// Pumping the program's event loop while something else happens, as the main loop does.

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "ui/events.h"

namespace lunadio::testing {

struct PumpedEvent {
  int code;
  int type;
};

// Runs waitWindowEvent(5) until `done` says so or `limitMs` passes; returns the events seen.
inline std::vector<PumpedEvent> pumpUntil(const std::function<bool()>& done, int limitMs = 5000) {
  std::vector<PumpedEvent> seen;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (!done() && std::chrono::steady_clock::now() < deadline) {
    if (int code = waitWindowEvent(5)) seen.push_back({code, eventType()});
  }
  return seen;
}

inline std::vector<PumpedEvent> pumpFor(int ms) {
  return pumpUntil([] { return false; }, ms);
}

// Runs `work` on its own thread while the main thread keeps the loop going.
inline std::vector<PumpedEvent> pumpWhile(const std::function<void()>& work, int limitMs = 10000) {
  std::atomic<bool> finished{false};
  std::thread worker([&] {
    work();
    finished = true;
  });
  std::vector<PumpedEvent> seen = pumpUntil([&] { return finished.load(); }, limitMs);
  worker.join();
  // What the work sent last may still be on its way.
  for (const PumpedEvent& event : pumpFor(20)) seen.push_back(event);
  return seen;
}

inline int countCode(const std::vector<PumpedEvent>& events, int code) {
  int count = 0;
  for (const PumpedEvent& event : events) count += event.code == code ? 1 : 0;
  return count;
}

}  // namespace lunadio::testing
