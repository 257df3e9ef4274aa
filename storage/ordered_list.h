#pragma once
// Ordered list: a doubly linked list of elements in insertion order, with a cursor (the current
// element) that remembers its 0-based position so that walking costs one step per move.
//
// Contract:
//   addElement() inserts right after the current element (at the front when there is none) and
//     makes the new element current; so after resetList(), or on an empty list, it puts the
//     element first, and after a walk to the end it appends.
//   nextElement() / previousElement() move one step; at either end they return null and leave the
//     cursor where it is (nextElement on a list without a current element starts at the first).
//   selectElement(i) walks from whichever of first, last or the current node is nearest.
//   Element pointers stay valid until clearList() or the list's destruction.
// Threads: a list has no lock. One thread at a time; a list shared between threads is guarded by
// its owner.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

namespace lunadio {

template <class Element>
class OrderedList {
 public:
  OrderedList() = default;
  OrderedList(const OrderedList&) = delete;
  OrderedList& operator=(const OrderedList&) = delete;
  ~OrderedList() = default;  // the blocks own every node

  // Adds a default-constructed element after the current one and makes it current. Returns null
  // (list unchanged) when memory runs out.
  Element* addElement() {
    Node* node = takeNode();
    if (!node) return nullptr;
    ++count_;
    if (!current_) {
      node->next = first_;
      if (first_) first_->prev = node;
      index_ = 0;
      indexStale_ = false;
    } else {
      node->prev = current_;
      node->next = current_->next;
      if (current_->next) current_->next->prev = node;
      current_->next = node;
      ++index_;
    }
    current_ = node;
    if (!node->prev) first_ = node;
    if (!node->next) last_ = node;
    return &node->data;
  }

  // Makes the element at `index` current and returns it; outside 0..size-1 there is no current
  // element afterwards and the result is null.
  Element* selectElement(std::int32_t index) {
    Node* node = nullptr;
    if (index >= 0 && index < count_) {
      if (indexStale_ || !current_) {
        node = index < count_ / 2 ? forward(first_, index) : backward(last_, count_ - 1 - index);
      } else if (index > index_) {
        node = index - index_ < count_ - index ? forward(current_, index - index_)
                                               : backward(last_, count_ - 1 - index);
      } else {
        node = index_ - index < index ? backward(current_, index_ - index) : forward(first_, index);
      }
    }
    index_ = index;
    current_ = node;
    indexStale_ = node == nullptr;
    return node ? &node->data : nullptr;
  }

  // No current element; the next nextElement() returns the first.
  void resetList() {
    current_ = nullptr;
    indexStale_ = true;
  }

  Element* nextElement() {
    if (current_) {
      if (!current_->next) return nullptr;
      current_ = current_->next;
      ++index_;
    } else {
      if (!first_) return nullptr;
      current_ = first_;
      index_ = 0;
    }
    return &current_->data;
  }

  Element* previousElement() {
    if (!current_ || !current_->prev) return nullptr;
    current_ = current_->prev;
    --index_;
    return &current_->data;
  }

  // The current element, or null.
  Element* currentElement() const { return current_ ? &current_->data : nullptr; }

  // 0-based position of the current element, or -1 without one.
  std::int32_t listIndex() {
    if (!indexStale_) return index_;
    if (!current_) return -1;
    std::int32_t steps = 0;
    for (const Node* n = current_->prev; n; n = n->prev) ++steps;
    index_ = steps;
    indexStale_ = false;
    return index_;
  }

  std::int32_t listSize() const { return count_; }

  // Removes and destroys every element.
  void clearList() {
    blocks_.clear();
    nodesHandedOut_ = 0;
    nextInBlock_ = 0;
    first_ = last_ = current_ = nullptr;
    count_ = 0;
    indexStale_ = true;
  }

  enum class CopyMode { Append, ClearFirst };

  // Appends a copy of every element of `source` (after clearing this list with ClearFirst).
  // Returns false when memory ran out part-way; the elements copied so far stay.
  bool copyList(const OrderedList& source, CopyMode mode) {
    if (&source == this) return false;
    if (mode == CopyMode::ClearFirst) clearList();
    current_ = last_;
    indexStale_ = true;
    for (const Node* n = source.first_; n; n = n->next) {
      Element* copy = addElement();
      if (!copy) return false;
      *copy = n->data;
    }
    return true;
  }

 private:
  struct Node {
    Node* next = nullptr;
    Node* prev = nullptr;
    Element data{};
  };

  static Node* forward(Node* from, std::int32_t steps) {
    while (steps-- > 0) from = from->next;
    return from;
  }
  static Node* backward(Node* from, std::int32_t steps) {
    while (steps-- > 0) from = from->prev;
    return from;
  }

  // Nodes are carved from blocks that grow with the list: 16 slots first, then a sixteenth of the
  // nodes handed out so far (a multiple of 16, between 16 and 65536), so a big scan does few
  // allocations and the nodes of neighbouring elements stay close in memory.
  Node* takeNode() {
    if (count_ == INT32_MAX) return nullptr;
    if (blocks_.empty() || nextInBlock_ == blocks_.back().size) {
      std::size_t slots = (nodesHandedOut_ / 16) / 16 * 16;
      slots = std::clamp<std::size_t>(slots, 16, 65536);
      // When a whole block cannot be had, one slot may still fit.
      if (!addBlock(slots) && !addBlock(1)) return nullptr;
    }
    ++nodesHandedOut_;
    return &blocks_.back().nodes[nextInBlock_++];
  }

  bool addBlock(std::size_t slots) {
    try {
      blocks_.reserve(blocks_.size() + 1);
      blocks_.push_back(Block{std::make_unique<Node[]>(slots), slots});
    } catch (const std::bad_alloc&) {
      return false;
    }
    nextInBlock_ = 0;
    return true;
  }

  struct Block {
    std::unique_ptr<Node[]> nodes;
    std::size_t size = 0;
  };

  std::vector<Block> blocks_;
  std::size_t nextInBlock_ = 0;
  std::size_t nodesHandedOut_ = 0;

  Node* first_ = nullptr;
  Node* last_ = nullptr;
  Node* current_ = nullptr;
  std::int32_t count_ = 0;
  // Position of current_; trusted only while indexStale_ is false.
  std::int32_t index_ = 0;
  bool indexStale_ = true;
};

}  // namespace lunadio
