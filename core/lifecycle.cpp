#include "core/lifecycle.h"

#include <algorithm>
#include <vector>

namespace lunadio {
namespace {

template <class Stage, class Routine>
struct Entry {
  Stage stage;
  std::string name;
  Routine routine;
};

// Main thread only.
struct Registry {
  std::vector<Entry<StartStage, std::function<bool()>>> starts;
  std::vector<Entry<EndStage, std::function<void()>>> ends;
  std::size_t nextStart = 0;  // first start routine not run yet
  bool ended = false;
};

Registry& registry() {
  static Registry instance;
  return instance;
}

}  // namespace

void addStartRoutine(StartStage stage, std::string name, std::function<bool()> routine) {
  auto& starts = registry().starts;
  auto at = std::upper_bound(starts.begin(), starts.end(), stage,
                             [](StartStage s, const auto& e) { return s < e.stage; });
  starts.insert(at, {stage, std::move(name), std::move(routine)});
}

void addEndRoutine(EndStage stage, std::string name, std::function<void()> routine) {
  auto& ends = registry().ends;
  auto at = std::upper_bound(ends.begin(), ends.end(), stage,
                             [](EndStage s, const auto& e) { return s < e.stage; });
  ends.insert(at, {stage, std::move(name), std::move(routine)});
  registry().ended = false;
}

bool runStartSequence(StartStage last) {
  Registry& r = registry();
  while (r.nextStart < r.starts.size() && r.starts[r.nextStart].stage <= last) {
    const auto& entry = r.starts[r.nextStart++];
    if (entry.routine && !entry.routine()) return false;
  }
  return true;
}

void runEndSequence() {
  Registry& r = registry();
  if (r.ended) return;
  r.ended = true;
  for (const auto& entry : r.ends) {
    if (entry.routine) entry.routine();
  }
}

void clearLifecycle() {
  Registry& r = registry();
  r.starts.clear();
  r.ends.clear();
  r.nextStart = 0;
  r.ended = false;
}

}  // namespace lunadio
