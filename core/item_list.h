// ItemList: an ordered list of values with a built-in cursor; elements come from an ElementPool.
#pragma once

#include <cstdint>
#include <memory>
#include <new>

#include "core/element_pool.h"

template <typename Value>
class ItemList {
 public:
  struct Element {
    Element* next;
    Element* prev;
    Value value;
  };

  ItemList() : pool_(AcquireElementPool(sizeof(Element))) {}
  ~ItemList() {
    Clear();
    ReleaseElementPool(pool_);
  }
  ItemList(const ItemList&) = delete;
  ItemList& operator=(const ItemList&) = delete;

  // A new element directly after the cursor element (at the front without one); it becomes the
  // cursor element. nullptr, with nothing changed, when no slot can be had.
  Value* Add() {
    void* memory = pool_ != nullptr ? pool_->Allocate() : nullptr;
    if (memory == nullptr) return nullptr;
    auto* e = static_cast<Element*>(memory);
    new (&e->value) Value{};
    if (cursor_ == nullptr) {
      e->prev = nullptr;
      e->next = first_;
      if (first_)
        first_->prev = e;
      else
        last_ = e;
      first_ = e;
      index_ = 0;
    } else {
      e->prev = cursor_;
      e->next = cursor_->next;
      if (cursor_->next)
        cursor_->next->prev = e;
      else
        last_ = e;
      cursor_->next = e;
      ++index_;
    }
    cursor_ = e;
    ++count_;
    return &e->value;
  }

  void Clear() {
    for (Element* e = first_; e != nullptr;) {
      Element* next = e->next;
      e->value.~Value();
      pool_->Release(e);
      e = next;
    }
    first_ = last_ = cursor_ = nullptr;
    count_ = 0;
    index_ = -1;
  }

  void Reset() {
    cursor_ = nullptr;
    index_ = -1;
  }

  Value* Next() {
    if (cursor_ == nullptr) {
      if (first_ == nullptr) return nullptr;
      cursor_ = first_;
      index_ = 0;
      return &cursor_->value;
    }
    if (cursor_->next == nullptr) return nullptr;  // stays on the last element
    cursor_ = cursor_->next;
    ++index_;
    return &cursor_->value;
  }

  // Moves the tail of this list into target (see ListSplit).
  void SplitInto(ItemList& target, bool keep_cursor) {
    target.Clear();
    if (cursor_ == nullptr) return;
    Element* run = keep_cursor ? cursor_->next : cursor_;
    if (run == nullptr) return;
    int32_t moved = 0;
    for (Element* e = run; e != nullptr; e = e->next) ++moved;
    Element* before = run->prev;
    target.first_ = run;
    target.last_ = last_;
    run->prev = nullptr;
    last_ = before;
    if (before)
      before->next = nullptr;
    else
      first_ = nullptr;
    count_ -= moved;
    target.count_ = moved;
    target.Reset();
    if (!keep_cursor) {
      cursor_ = before;
      index_ = before == nullptr ? -1 : index_ - 1;
    }
  }

  int32_t count() const { return count_; }
  int32_t cursor_index() const { return index_; }
  ElementPool* pool() const { return pool_; }

 private:
  ElementPool* pool_;
  Element* first_ = nullptr;
  Element* last_ = nullptr;
  Element* cursor_ = nullptr;
  int32_t index_ = -1;
  int32_t count_ = 0;
};

template <typename Value>
using ItemListPtr = std::unique_ptr<ItemList<Value>>;

template <typename Value>
ItemListPtr<Value> NewItemList() {
  return std::make_unique<ItemList<Value>>();
}
template <typename Value>
void FreeItemList(ItemListPtr<Value>& list) {
  list.reset();
}
template <typename Value>
Value* ListAdd(ItemList<Value>& l) {
  return l.Add();
}
template <typename Value>
void ListClear(ItemList<Value>& l) {
  l.Clear();
}
template <typename Value>
void ListReset(ItemList<Value>& l) {
  l.Reset();
}
template <typename Value>
Value* ListNext(ItemList<Value>& l) {
  return l.Next();
}
template <typename Value>
int32_t ListCount(const ItemList<Value>& l) {
  return l.count();
}
// Moves the elements after the cursor element (keep_cursor) or from the cursor element on into
// target, which is cleared first. Lists of values of different sizes are left alone.
template <typename Source, typename Target>
void ListSplit(ItemList<Source>& source, ItemList<Target>& target, bool keep_cursor) {
  if constexpr (sizeof(Source) != sizeof(Target) || !std::is_same_v<Source, Target>) {
    return;
  } else {
    source.SplitInto(target, keep_cursor);
  }
}
