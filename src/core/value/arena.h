// A bump allocator for the value tree of one call: values, items, members
// and string bytes are carved from a few large blocks and released together
// when the arena goes, instead of one allocation per node.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <span>
#include <string_view>
#include <type_traits>
#include <utility>

namespace vardelquin {

class Arena {
 public:
  Arena() = default;
  Arena(Arena&& other) noexcept
      : last_(std::exchange(other.last_, nullptr)),
        cursor_(std::exchange(other.cursor_, nullptr)),
        end_(std::exchange(other.end_, nullptr)),
        next_block_size_(std::exchange(other.next_block_size_, first_block)) {}
  Arena& operator=(Arena&& other) noexcept {
    if (this != &other) {
      release();
      last_ = std::exchange(other.last_, nullptr);
      cursor_ = std::exchange(other.cursor_, nullptr);
      end_ = std::exchange(other.end_, nullptr);
      next_block_size_ = std::exchange(other.next_block_size_, first_block);
    }
    return *this;
  }
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;
  ~Arena() {
    if (last_ != nullptr) release();
  }

  // Frees every block but one of the first size, which goes to
  // `spare_block` if that is empty; the arena is empty afterwards.
  void release(void*& spare_block) noexcept;

  // Memory for `count` objects of a trivially destructible type.
  template <class T>
  T* allocate(std::size_t count) {
    static_assert(std::is_trivially_destructible_v<T>);
    if (count > max_bytes / sizeof(T)) throw std::bad_alloc();
    return static_cast<T*>(allocate_bytes(count * sizeof(T), alignof(T)));
  }

  std::string_view copy(std::string_view text) {
    if (text.empty()) return {};
    char* bytes = allocate<char>(text.size());
    std::memcpy(bytes, text.data(), text.size());
    return {bytes, text.size()};
  }

  template <class T>
  std::span<const T> copy(std::span<const T> items) {
    static_assert(std::is_trivially_copyable_v<T>);
    if (items.empty()) return {};
    T* out = allocate<T>(items.size());
    std::memcpy(static_cast<void*>(out), items.data(), items.size_bytes());
    return {out, items.size()};
  }

 private:
  static constexpr std::size_t max_bytes = std::size_t{1} << 62;
  static constexpr std::size_t first_block = 4096;
  static constexpr std::size_t largest_block = std::size_t{1} << 24;

  void* allocate_bytes(std::size_t bytes, std::size_t alignment) {
    auto address = reinterpret_cast<std::uintptr_t>(cursor_);
    const std::size_t padding = (alignment - address % alignment) % alignment;
    if (cursor_ == nullptr || static_cast<std::size_t>(end_ - cursor_) < padding + bytes) {
      return allocate_in_new_block(bytes, alignment);
    }
    std::byte* result = cursor_ + padding;
    cursor_ = result + bytes;
    return result;
  }

  // Out of line and cold: it runs once per block, not once per value.
  [[gnu::noinline, gnu::cold]] void* allocate_in_new_block(std::size_t bytes, std::size_t alignment);
  void release() noexcept;

  // Each block starts with this header; the blocks form a list, newest
  // first, so that the arena itself needs no allocation to track them.
  // The first block of a size of first_block is handed back to a spare of
  // the thread's when the arena goes, and taken by the next arena made on
  // that thread, so that a small call allocates no block at all.
  struct alignas(16) Block {
    Block* previous;
    std::size_t size;  // usable bytes after the header
  };

  // Blocks double in size up to a cap, so a tree costs few allocations
  // and a small call stays small.
  Block* last_ = nullptr;
  std::byte* cursor_ = nullptr;
  std::byte* end_ = nullptr;
  std::size_t next_block_size_ = first_block;
};

}  // namespace vardelquin
