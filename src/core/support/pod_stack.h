// A stack of trivially copyable items that grows with realloc. A large
// block grows in place or is moved by remapping its pages, so neither the
// copy of every item nor fresh pages for the whole new size are paid at
// each doubling, as a vector's growth pays them: a list of a million items
// costs its pages once.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <new>
#include <type_traits>
#include <utility>

namespace vardelquin {

template <class T>
class PodStack {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  using value_type = T;

  PodStack() noexcept = default;
  PodStack(PodStack&& other) noexcept
      : items_(std::exchange(other.items_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)) {}
  PodStack& operator=(PodStack other) noexcept {
    swap(*this, other);
    return *this;
  }
  ~PodStack() { std::free(items_); }

  friend void swap(PodStack& a, PodStack& b) noexcept {
    std::swap(a.items_, b.items_);
    std::swap(a.size_, b.size_);
    std::swap(a.capacity_, b.capacity_);
  }

  std::size_t size() const noexcept { return size_; }
  std::size_t capacity() const noexcept { return capacity_; }
  bool empty() const noexcept { return size_ == 0; }
  T* data() noexcept { return items_; }
  const T* data() const noexcept { return items_; }
  T* begin() noexcept { return items_; }
  T* end() noexcept { return items_ + size_; }
  T& back() noexcept { return items_[size_ - 1]; }

  // std::bad_alloc when there is no room for one more.
  void push_back(const T& item) {
    if (size_ == capacity_) [[unlikely]]
      grow();
    items_[size_++] = item;
  }
  // Drops the items from `size` on (no larger than size()).
  void shrink_to(std::size_t size) noexcept { size_ = size; }
  void clear() noexcept { size_ = 0; }

 private:
  [[gnu::noinline]] void grow() {
    const std::size_t capacity = capacity_ == 0 ? 64 : 2 * capacity_;
    if (capacity > static_cast<std::size_t>(-1) / 2 / sizeof(T)) throw std::bad_alloc();
    void* const grown = std::realloc(items_, capacity * sizeof(T));
    if (grown == nullptr) throw std::bad_alloc();
    items_ = static_cast<T*>(grown);
    capacity_ = capacity;
  }

  T* items_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace vardelquin
