#pragma once
// Numbered-object registry shared by every library (windows, gadgets, images, fonts, tray icons,
// sounds, media players, directory listings).
//
// Contract:
//   allocate(number) -> fill the record -> (success) keep it / (failure) release(number)
//   lookup(number) finds only live records; free operations call release() once the object is gone.
// Numbers 0..kMaxStaticNumber index the slot array directly. ObjectAny (-1) asks for a dynamic
// identifier: identifiers come from a counter far above any slot index, are never reused and are
// looked up in a map, so a stale or invented identifier names no object (an address would neither
// fit 32 bits nor be safe to dereference).
//
// Threads: a table belongs to the thread that runs its library (the main thread for every library
// of this program). It is not locked.
//
// A record type declares liveness itself: `bool isLive() const`. A default-constructed record must
// not be live; release() resets a static slot's record to that state and keeps its memory.

#include <algorithm>
#include <concepts>
#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

namespace lunadio {

using ObjectNumber = std::int32_t;

inline constexpr ObjectNumber ObjectAny = -1;
inline constexpr ObjectNumber ObjectAll = -1;
// A position or size argument that keeps the current value.
inline constexpr int IgnoreValue = -65535;

// Static numbers above this fail with 0 instead of growing the slot array without bound.
inline constexpr ObjectNumber kMaxStaticNumber = 4'000'000;
// Dynamic identifiers start here, far above any static number.
inline constexpr ObjectNumber kFirstDynamicId = 0x10000000;

template <class Record>
concept ObjectRecord = std::default_initializable<Record> && requires(const Record& r) {
  { r.isLive() } -> std::convertible_to<bool>;
};

template <ObjectRecord Record>
class ObjectTable {
 public:
  // Called with a number whose object must be destroyed; it ends by calling release(number).
  using FreeCallback = std::function<void(ObjectNumber)>;

  struct Allocation {
    Record* record = nullptr;  // null when the number cannot be allocated
    ObjectNumber id = 0;       // the static number, or the new dynamic identifier
  };

  explicit ObjectTable(int growthStep, FreeCallback onFree = {})
      : growthStep_(growthStep > 0 ? growthStep : 1), onFree_(std::move(onFree)) {
    slots_.resize(static_cast<std::size_t>(growthStep_));
  }

  ObjectTable(const ObjectTable&) = delete;
  ObjectTable& operator=(const ObjectTable&) = delete;

  // Returns the record to fill for `number` (or for a new dynamic identifier when number is
  // ObjectAny). A slot that already holds a record first has its object freed through the free
  // callback, then the same record is returned, so reusing a number replaces the old object.
  Allocation allocate(ObjectNumber number) {
    if (number == ObjectAny) {
      if (nextDynamicId_ == INT32_MAX) return {};
      const ObjectNumber id = nextDynamicId_++;
      auto node = std::make_unique<Record>();
      Record* record = node.get();
      dynamic_.emplace(id, std::move(node));
      return {record, id};
    }
    if (number < 0 || number > kMaxStaticNumber) return {};
    if (static_cast<std::size_t>(number) >= slots_.size()) {
      slots_.resize(static_cast<std::size_t>(number) + static_cast<std::size_t>(growthStep_));
    }
    auto& slot = slots_[static_cast<std::size_t>(number)];
    if (slot) {
      if (slot->isLive() && onFree_) onFree_(number);
      if (slot->isLive()) *slot = Record{};  // a callback that did not clear the record
      return {slot.get(), number};
    }
    slot = std::make_unique<Record>();
    return {slot.get(), number};
  }

  // The live record named by `id`, or null.
  Record* lookup(ObjectNumber id) const {
    Record* record = recordAt(id);
    return record && record->isLive() ? record : nullptr;
  }

  // True when `id` names a live object (a static number in range or a live dynamic identifier).
  bool isObject(ObjectNumber id) const { return lookup(id) != nullptr; }

  // Forgets the object under `id`: a static slot keeps a reset record, a dynamic node is freed.
  void release(ObjectNumber id) {
    if (isStatic(id)) {
      if (auto& slot = slots_[static_cast<std::size_t>(id)]) *slot = Record{};
      return;
    }
    dynamic_.erase(id);
  }

  // Frees every live object through the free callback: static slots ascending, then dynamic
  // objects oldest first.
  void freeAll() {
    if (!onFree_) return;
    for (ObjectNumber id : liveIds()) onFree_(id);
  }

  // Live numbers in enumeration order: static ascending, then dynamic oldest first.
  std::vector<ObjectNumber> liveIds() const {
    std::vector<ObjectNumber> ids;
    for (std::size_t i = 0; i < slots_.size(); ++i) {
      if (slots_[i] && slots_[i]->isLive()) ids.push_back(static_cast<ObjectNumber>(i));
    }
    const std::size_t firstDynamic = ids.size();
    for (const auto& [id, node] : dynamic_) {
      if (node->isLive()) ids.push_back(id);
    }
    std::sort(ids.begin() + static_cast<std::ptrdiff_t>(firstDynamic), ids.end());
    return ids;
  }

  std::size_t capacity() const { return slots_.size(); }

 private:
  bool isStatic(ObjectNumber id) const {
    return id >= 0 && static_cast<std::size_t>(id) < slots_.size();
  }

  Record* recordAt(ObjectNumber id) const {
    if (isStatic(id)) return slots_[static_cast<std::size_t>(id)].get();
    if (id < kFirstDynamicId) return nullptr;
    auto it = dynamic_.find(id);
    return it == dynamic_.end() ? nullptr : it->second.get();
  }

  int growthStep_;
  FreeCallback onFree_;
  std::vector<std::unique_ptr<Record>> slots_;
  // Identifiers grow with creation time; enumeration sorts them to list the oldest first.
  std::unordered_map<ObjectNumber, std::unique_ptr<Record>> dynamic_;
  ObjectNumber nextDynamicId_ = kFirstDynamicId;
};

}  // namespace lunadio
