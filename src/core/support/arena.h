// A bump allocator for the data of one call (the value tree's nodes, the
// keys loads keeps): items are carved from a few large blocks and
// released together, instead of one allocation each.
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
        kept_(std::exchange(other.kept_, nullptr)),
        cursor_(std::exchange(other.cursor_, nullptr)),
        end_(std::exchange(other.end_, nullptr)),
        next_block_size_(std::exchange(other.next_block_size_, first_block)) {}
  Arena& operator=(Arena&& other) noexcept {
    if (this != &other) {
      free_all();
      last_ = std::exchange(other.last_, nullptr);
      kept_ = std::exchange(other.kept_, nullptr);
      cursor_ = std::exchange(other.cursor_, nullptr);
      end_ = std::exchange(other.end_, nullptr);
      next_block_size_ = std::exchange(other.next_block_size_, first_block);
    }
    return *this;
  }
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;
  ~Arena() { free_all(); }

  // Empties the arena: frees every block but one of the first size, which
  // the next allocation takes again, so that an arena kept from one call to
  // the next (see support/spare.h) allocates no block for a small call.
  void clear() noexcept {
    if (last_ != nullptr) free_blocks();
  }

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
  void free_blocks() noexcept;
  void free_all() noexcept;

  // Each block starts with this header; the blocks form a list, newest
  // first, so that the arena itself needs no allocation to track them.
  struct alignas(16) Block {
    Block* previous;
    std::size_t size;  // usable bytes after the header
  };

  // Blocks double in size up to a cap, so a tree costs few allocations
  // and a small call stays small.
  Block* last_ = nullptr;
  Block* kept_ = nullptr;  // a block of first_block bytes, free, kept by clear()
  std::byte* cursor_ = nullptr;
  std::byte* end_ = nullptr;
  std::size_t next_block_size_ = first_block;
};

}  // namespace vardelquin
