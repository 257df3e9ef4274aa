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
  if (effect == ItemEffect::AddOne) ++entry.projectedItems;
  if (effect == ItemEffect::Clear) entry.projectedItems = 0;
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

std::size_t GadgetCallForwarder::run(std::deque<Call>& calls, int budgetMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(budgetMs);
  // The last text and state call per gadget in this batch; earlier twins are skipped.
  std::map<std::pair<ObjectNumber, Supersede>, std::size_t> last;
  for (std::size_t i = 0; i < calls.size(); ++i) {
    if (calls[i].supersede != Supersede::Never) last[{calls[i].gadget, calls[i].supersede}] = i;
  }
  std::size_t i = 0;
  for (; i < calls.size(); ++i) {
    Call& call = calls[i];
    const bool superseded = call.supersede != Supersede::Never &&
                            last[{call.gadget, call.supersede}] != i;
    if (!superseded && isCurrent_(call.gadget, call.generation)) call.apply();
    if (budgetMs >= 0 && (i & 63) == 63 && Clock::now() >= deadline) {
      ++i;
      break;
    }
  }
  return i;
}

void GadgetCallForwarder::drainBefore(ObjectNumber gadget, ItemEffect ownEffect) {
  for (;;) {
    std::deque<Call> batch;
    {
      std::lock_guard lock(mutex_);
      if (pending_.empty()) {
        auto it = entries_.find(gadget);
        if (it != entries_.end()) applyEffect(it->second, ownEffect);
        return;
      }
      batch.swap(pending_);
    }
    run(batch, -1);
  }
}

void GadgetCallForwarder::drainSlice(int budgetMs) {
  // A bounded chunk per slice: the cost of taking and returning calls stays small however long
  // the backlog of a fast worker grows.
  constexpr std::size_t kChunkCalls = 2048;
  std::deque<Call> chunk;
  {
    std::lock_guard lock(mutex_);
    slicePosted_ = false;
    const std::size_t take = std::min(kChunkCalls, pending_.size());
    std::move(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(take),
              std::back_inserter(chunk));
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(take));
  }
  const std::size_t done = run(chunk, budgetMs);
  std::lock_guard lock(mutex_);
  // Calls recorded meanwhile stay behind the ones this slice left over.
  for (std::size_t i = chunk.size(); i-- > done;) pending_.push_front(std::move(chunk[i]));
  if (!pending_.empty()) requestSlice(lock);
}

void GadgetCallForwarder::reset() {
  std::lock_guard lock(mutex_);
  pending_.clear();
  entries_.clear();
  slicePosted_ = false;
}

}  // namespace lunadio::ui
