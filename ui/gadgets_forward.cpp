#include "ui/gadgets_forward.h"

#include <algorithm>
#include <chrono>
#include <iterator>
#include <map>
#include <utility>

namespace lunadio::ui {

// Long enough to apply a few thousand calls, short enough that the main loop stays smooth.
constexpr int kSliceBudgetMs = 4;

void GadgetCallForwarder::applyEffect(Entry& entry, ItemEffect effect) {
  if (!entry.traits.hasItems) return;
  if (effect.clears) entry.projectedItems = 0;
  entry.projectedItems += effect.added;
}

void GadgetCallForwarder::addGadget(ObjectNumber gadget, std::uint64_t generation,
                                    GadgetTraits traits) {
  std::lock_guard lock(mutex_);
  entries_[gadget] = Entry{generation, traits, 0};
}

void GadgetCallForwarder::removeGadget(ObjectNumber gadget) {
  std::lock_guard lock(mutex_);
  entries_.erase(gadget);
}

bool GadgetCallForwarder::forward(ObjectNumber gadget, ItemEffect effect, Supersede supersede,
                                  std::function<void()> apply) {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(gadget);
  if (it == entries_.end()) return false;
  applyEffect(it->second, effect);
  if (supersede == Supersede::SameGadgetState && !it->second.traits.stateIsPosition) {
    supersede = Supersede::Never;
  }
  pending_.push_back(Call{gadget, it->second.generation, supersede, std::move(apply)});
  requestSlice(lock);
  return true;
}

void GadgetCallForwarder::requestSlice(const std::lock_guard<std::mutex>&) {
  if (slicePosted_) return;
  slicePosted_ = post_([this] { drainSlice(kSliceBudgetMs); });
}

int GadgetCallForwarder::projectedItems(ObjectNumber gadget) const {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(gadget);
  return it == entries_.end() ? 0 : it->second.projectedItems;
}

bool GadgetCallForwarder::takePending(ItemEffect* ownEffectIfEmpty, ObjectNumber gadget) {
  std::vector<Call> taken;
  taken.reserve(lastTaken_);  // becomes the workers' next vector: no regrowth under the lock
  {
    std::lock_guard lock(mutex_);
    if (pending_.empty()) {
      if (ownEffectIfEmpty) {
        auto it = entries_.find(gadget);
        if (it != entries_.end()) applyEffect(it->second, *ownEffectIfEmpty);
      }
      return false;
    }
    taken.swap(pending_);
  }
  lastTaken_ = taken.size();
  for (Call& call : taken) backlog_.push_back(std::move(call));
  return true;
}

void GadgetCallForwarder::runBacklog(std::size_t maxCalls, int budgetMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(budgetMs);
  const std::size_t count = std::min(maxCalls, backlog_.size());
  // The last text and state call per gadget in this batch; earlier twins are skipped.
  std::map<std::pair<ObjectNumber, Supersede>, std::size_t> last;
  for (std::size_t i = 0; i < count; ++i) {
    const Call& call = backlog_[i];
    if (call.supersede != Supersede::Never) last[{call.gadget, call.supersede}] = i;
  }
  running_ = true;
  std::size_t i = 0;
  while (i < count) {
    Call& call = backlog_[i];
    const bool superseded =
        call.supersede != Supersede::Never && last[{call.gadget, call.supersede}] != i;
    if (!superseded && isCurrent_(call.gadget, call.generation)) call.apply();
    ++i;
    if (budgetMs >= 0 && (i & 63) == 0 && Clock::now() >= deadline) break;
  }
  running_ = false;
  backlog_.erase(backlog_.begin(), backlog_.begin() + static_cast<std::ptrdiff_t>(i));
}

void GadgetCallForwarder::drainBefore(ObjectNumber gadget, ItemEffect ownEffect) {
  if (running_) {
    std::lock_guard lock(mutex_);
    auto it = entries_.find(gadget);
    if (it != entries_.end()) applyEffect(it->second, ownEffect);
    return;
  }
  for (;;) {
    runBacklog(backlog_.size(), -1);
    if (!takePending(&ownEffect, gadget)) return;
  }
}

void GadgetCallForwarder::drainSlice(int budgetMs) {
  // A bounded chunk per slice, so one slice never scans a fast worker's whole backlog.
  constexpr std::size_t kChunkCalls = 2048;
  if (running_) return;
  {
    std::lock_guard lock(mutex_);
    slicePosted_ = false;
  }
  takePending(nullptr, 0);
  runBacklog(kChunkCalls, budgetMs);
  if (backlog_.empty()) return;
  std::lock_guard lock(mutex_);
  requestSlice(lock);
}

void GadgetCallForwarder::reset() {
  backlog_.clear();
  std::lock_guard lock(mutex_);
  pending_.clear();
  entries_.clear();
  slicePosted_ = false;
}

}  // namespace lunadio::ui
