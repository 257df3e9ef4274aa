#pragma once
// Gadget calls made on other threads (the library scan adds rows, sets the path text and the
// progress bar from its thread). Qt widgets are touched on the main thread only, so such a call is
// recorded here and applied later on the main thread, in call order, without blocking the caller.
// A recorded call carries the generation of the gadget it named; when that gadget has since been
// freed or re-created, the call does nothing.
//
// Main-thread calls first apply every call recorded before them, so all gadget calls of the
// program take effect in the order in which they were made.

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "core/object_table.h"

namespace lunadio::ui {

// How a call changes a list's item count, which a worker may read back at once
// (countGadgetItems after addGadgetItem) although the rows are not added yet.
struct ItemEffect {
  bool clears = false;  // the count drops to 0 first
  int added = 0;        // then grows by this many rows

  static const ItemEffect None;
  static const ItemEffect AddOne;
  static const ItemEffect Clear;
  static constexpr ItemEffect add(int rows) { return ItemEffect{false, rows}; }
};
inline constexpr ItemEffect ItemEffect::None{false, 0};
inline constexpr ItemEffect ItemEffect::AddOne{false, 1};
inline constexpr ItemEffect ItemEffect::Clear{true, 0};

// Calls whose later twin in the same batch makes them pointless (the path text shown for every
// file examined, the progress bar's position): only the last one of a batch is applied.
// SameGadgetState only counts for gadgets whose state is a plain position (see GadgetTraits).
enum class Supersede { Never, SameGadgetText, SameGadgetState };

struct GadgetTraits {
  bool hasItems = false;         // a list: its item count is projected
  bool stateIsPosition = false;  // a progress bar: setting its state has no other effect
};

class GadgetCallForwarder {
 public:
  using IsCurrent = std::function<bool(ObjectNumber gadget, std::uint64_t generation)>;
  // Hands work to the main thread without waiting (postToMainThread, or a test's stand-in).
  using Post = std::function<bool(std::function<void()>)>;
  GadgetCallForwarder(IsCurrent isCurrent, Post post)
      : isCurrent_(std::move(isCurrent)), post_(std::move(post)) {}

  // -- main thread: the gadget table's life cycle
  void addGadget(ObjectNumber gadget, std::uint64_t generation, GadgetTraits traits);
  void removeGadget(ObjectNumber gadget);

  // -- any thread
  // Records a call on the gadget as it is now; false (nothing recorded) when no gadget has the
  // number.
  bool forward(ObjectNumber gadget, ItemEffect effect, Supersede supersede,
               std::function<void()> apply);
  // The item count once every recorded call has run; 0 for an unknown gadget.
  int projectedItems(ObjectNumber gadget) const;

  // -- main thread
  // Applies every recorded call, then accounts for the caller's own call on `gadget`.
  void drainBefore(ObjectNumber gadget, ItemEffect ownEffect);
  void drainAll() { drainBefore(-1, ItemEffect::None); }
  // Applies recorded calls for about budgetMs, then lets other events run before the rest.
  void drainSlice(int budgetMs);
  void reset();

 private:
  struct Call {
    ObjectNumber gadget = 0;
    std::uint64_t generation = 0;
    Supersede supersede = Supersede::Never;
    std::function<void()> apply;
  };
  struct Entry {
    std::uint64_t generation = 0;
    GadgetTraits traits;
    int projectedItems = 0;
  };

  static void applyEffect(Entry& entry, ItemEffect effect);
  // Moves the recorded calls behind the backlog; the lock is held only to swap two vectors.
  // Returns false when nothing was recorded.
  bool takePending(ItemEffect* ownEffectIfEmpty, ObjectNumber gadget);
  // Runs up to maxCalls of the backlog, oldest first, until budgetMs ends (-1 = no budget).
  void runBacklog(std::size_t maxCalls, int budgetMs);
  void requestSlice(const std::lock_guard<std::mutex>&);

  IsCurrent isCurrent_;
  Post post_;
  mutable std::mutex mutex_;
  std::unordered_map<ObjectNumber, Entry> entries_;  // -- guarded by mutex_
  std::vector<Call> pending_;                        // -- guarded by mutex_
  bool slicePosted_ = false;                         // -- guarded by mutex_
  // -- main thread only: calls taken from pending_ and not run yet, oldest first
  std::deque<Call> backlog_;
  std::size_t lastTaken_ = 0;
  bool running_ = false;  // a call being applied must not start another drain
};

}  // namespace lunadio::ui
