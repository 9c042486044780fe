#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <utility>
#include <vector>

#include "base/internal_fault.hpp"

namespace keyhound {

// A hash map keyed by the address of a syntax node (its id), held in one
// array: the analysis keeps several with an entry per lookup or call of a
// file, rebuilt at each keystroke in an editor, where a node allocated per
// entry costs more than the lookups themselves. Open addressing with linear
// probing; entries are added, never taken out. A null key is refused (it
// marks an empty slot). The order of iteration follows the addresses, so no
// output may depend on it.
template <typename Value>
class IdMap {
 public:
  using Entry = std::pair<const void*, Value>;

  class iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = Entry;
    using difference_type = std::ptrdiff_t;
    using pointer = Entry*;
    using reference = Entry&;

    iterator() = default;
    iterator(Entry* at, Entry* end) : at_(at), end_(end) { skip_empty(); }
    Entry& operator*() const { return *at_; }
    Entry* operator->() const { return at_; }
    iterator& operator++() {
      ++at_;
      skip_empty();
      return *this;
    }
    bool operator==(const iterator& other) const { return at_ == other.at_; }

   private:
    void skip_empty() {
      while (at_ != end_ && at_->first == nullptr) ++at_;
    }
    Entry* at_ = nullptr;
    Entry* end_ = nullptr;
  };
  using const_iterator = iterator;

  IdMap() = default;
  IdMap(const IdMap& other) = default;
  IdMap& operator=(const IdMap& other) = default;
  IdMap(IdMap&& other) noexcept
      : slots_(std::move(other.slots_)), size_(std::exchange(other.size_, 0)) {}
  IdMap& operator=(IdMap&& other) noexcept {
    slots_ = std::move(other.slots_);
    size_ = std::exchange(other.size_, 0);
    return *this;
  }

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

  // Room for `count` entries without growing.
  void reserve(std::size_t count) {
    std::size_t wanted = kSmallest;
    while (wanted * 3 / 4 < count) wanted *= 2;
    if (wanted > slots_.size()) rehash(wanted);
  }

  iterator begin() const { return iterator(data(), data() + slots_.size()); }
  iterator end() const { return iterator(data() + slots_.size(), data() + slots_.size()); }

  iterator find(const void* key) const {
    if (slots_.empty() || key == nullptr) return end();
    for (std::size_t slot = home(key);; slot = (slot + 1) & mask()) {
      const void* held = slots_[slot].first;
      if (held == key) return iterator(data() + slot, data() + slots_.size());
      if (held == nullptr) return end();
    }
  }
  bool contains(const void* key) const { return find(key) != end(); }

  // Adds `key` with a value made of `args` unless it is there: the entry,
  // and whether it was added.
  template <typename... Args>
  std::pair<iterator, bool> try_emplace(const void* key, Args&&... args) {
    if (key == nullptr) throw InternalFault("a null key for a map of node ids");
    if ((size_ + 1) * 4 > slots_.size() * 3) rehash(slots_.empty() ? kSmallest : slots_.size() * 2);
    std::size_t slot = home(key);
    for (; slots_[slot].first != nullptr; slot = (slot + 1) & mask()) {
      if (slots_[slot].first == key) return {iterator(data() + slot, data() + slots_.size()), false};
    }
    slots_[slot].first = key;
    slots_[slot].second = Value(std::forward<Args>(args)...);
    ++size_;
    return {iterator(data() + slot, data() + slots_.size()), true};
  }
  std::pair<iterator, bool> emplace(const void* key, Value value) {
    return try_emplace(key, std::move(value));
  }
  Value& operator[](const void* key) { return try_emplace(key).first->second; }

 private:
  static constexpr std::size_t kSmallest = 16;

  Entry* data() const { return const_cast<Entry*>(slots_.data()); }
  std::size_t mask() const { return slots_.size() - 1; }
  // Node addresses are aligned and close together: a multiplicative hash
  // spreads their middle bits over the table.
  std::size_t home(const void* key) const {
    const uint64_t bits = reinterpret_cast<uintptr_t>(key) * 0x9E3779B97F4A7C15ULL;
    return static_cast<std::size_t>(bits >> (64 - std::countr_zero(slots_.size())));
  }

  void rehash(std::size_t count) {
    std::vector<Entry> old = std::exchange(slots_, std::vector<Entry>(count));
    for (Entry& entry : old) {
      if (entry.first == nullptr) continue;
      std::size_t slot = home(entry.first);
      while (slots_[slot].first != nullptr) slot = (slot + 1) & mask();
      slots_[slot] = std::move(entry);
    }
  }

  std::vector<Entry> slots_;
  std::size_t size_ = 0;
};

// A set of node ids, the same way.
class IdSet {
 public:
  // The map's own iterator, giving the ids alone.
  class iterator : public IdMap<char>::iterator {
   public:
    using value_type = const void*;
    using pointer = const void* const*;
    using reference = const void* const&;

    iterator() = default;
    explicit iterator(IdMap<char>::iterator at) : IdMap<char>::iterator(at) {}
    reference operator*() const { return IdMap<char>::iterator::operator*().first; }
    iterator& operator++() {
      IdMap<char>::iterator::operator++();
      return *this;
    }
  };
  using const_iterator = iterator;

  std::size_t size() const { return ids_.size(); }
  bool empty() const { return ids_.empty(); }
  void reserve(std::size_t count) { ids_.reserve(count); }
  iterator begin() const { return iterator(ids_.begin()); }
  iterator end() const { return iterator(ids_.end()); }
  bool contains(const void* id) const { return ids_.contains(id); }
  // Whether `id` was added (it was not there).
  std::pair<iterator, bool> insert(const void* id) {
    auto [at, added] = ids_.try_emplace(id, char{0});
    return {iterator(at), added};
  }

 private:
  IdMap<char> ids_;
};

}  // namespace keyhound
