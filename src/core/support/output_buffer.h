// A growable output buffer that owns its storage. Writers reserve room,
// write through a raw cursor and commit; growth never zero-fills the new
// space (the writer overwrites it anyway, and a large reservation that is
// never touched never becomes resident), and the storage is realloc'd, so
// a large buffer grows by remapping rather than copying. finish() ends the
// writing and hands the text over, without copying it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>
#include <utility>

namespace vardelquin {

namespace detail {
struct FreeStorage {
  void operator()(char* p) const noexcept { std::free(p); }
};
using Storage = std::unique_ptr<char, FreeStorage>;
}  // namespace detail

// The text of a finished buffer. It owns its bytes.
class OwnedText {
 public:
  OwnedText() = default;

  std::string_view view() const noexcept { return {data_.get(), size_}; }
  const char* data() const noexcept { return data_.get(); }
  std::size_t size() const noexcept { return size_; }

  friend bool operator==(const OwnedText& a, std::string_view b) noexcept { return a.view() == b; }

 private:
  friend class OutputBuffer;
  OwnedText(detail::Storage data, std::size_t size) noexcept : data_(std::move(data)), size_(size) {}

  detail::Storage data_;
  std::size_t size_ = 0;
};

class OutputBuffer {
 public:
  using value_type = char;

  OutputBuffer() = default;
  // A moved-from buffer is empty, with no room: it may be written again.
  OutputBuffer(OutputBuffer&& other) noexcept
      : storage_(std::move(other.storage_)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)) {}
  OutputBuffer& operator=(OutputBuffer&& other) noexcept {
    storage_ = std::move(other.storage_);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
    return *this;
  }
  OutputBuffer(const OutputBuffer&) = delete;
  OutputBuffer& operator=(const OutputBuffer&) = delete;

  // Room for at least `n` more bytes at the returned cursor. What lies
  // there is unspecified until written.
  char* reserve(std::size_t n) {
    if (capacity_ - size_ < n) grow(n);
    return storage_.get() + size_;
  }
  // Moves the end of the text to `cursor`, past bytes written after
  // reserve(); it must lie within the room reserved.
  void commit(char* cursor) noexcept { size_ = static_cast<std::size_t>(cursor - storage_.get()); }

  void put(char c) {
    reserve(1)[0] = c;
    ++size_;
  }
  void put(std::string_view text) {
    char* out = reserve(text.size());
    if (!text.empty()) std::memcpy(out, text.data(), text.size());
    size_ += text.size();
  }

  std::size_t size() const noexcept { return size_; }
  std::size_t capacity() const noexcept { return capacity_; }
  // The text written so far, for a writer that rearranges it in place.
  char* data() noexcept { return storage_.get(); }
  std::string_view view() const noexcept { return {storage_.get(), size_}; }
  // Empties the text and keeps the storage for the next one.
  void clear() noexcept { size_ = 0; }
  // Drops the text from `size` on; `size` must not exceed size().
  void truncate(std::size_t size) noexcept { size_ = size; }

  // Hands the text over and leaves the buffer empty.
  OwnedText finish() && noexcept {
    capacity_ = 0;
    return OwnedText(std::move(storage_), std::exchange(size_, 0));
  }

 private:
  // Doubles at least, so appends cost amortised constant time.
  void grow(std::size_t n) {
    if (n > max_size - size_) throw std::bad_alloc();
    const std::size_t wanted =
        std::max({size_ + n, capacity_ < max_size / 2 ? 2 * capacity_ : max_size, std::size_t{256}});
    void* grown = std::realloc(storage_.get(), wanted);
    if (grown == nullptr) throw std::bad_alloc();
    (void)storage_.release();
    storage_.reset(static_cast<char*>(grown));
    capacity_ = wanted;
  }

  static constexpr std::size_t max_size = std::size_t{1} << 62;

  detail::Storage storage_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace vardelquin
