// Buffers kept from one call to the next on the same thread, so that a
// call in the steady state allocates nothing for its working storage.
//
// Each user keeps its spares in a ThreadSpares of its own and, for one
// call, swaps them in (take) and back out, emptied (give). A call that
// finds the spares taken, because a call of the same kind is running
// further up its thread's stack, simply starts with empty buffers, so
// re-entry is safe; other threads have spares of their own. A buffer
// larger than kept_bytes is freed rather than kept, so one huge call does
// not pin its memory for the life of the thread.
#pragma once

#include <cstddef>
#include <utility>

namespace vardelquin::spare {

inline constexpr std::size_t kept_bytes = std::size_t{64} * 1024;

// `buffer` (empty) takes over the kept one, if there is one.
template <class Buffer>
void take(Buffer& kept, Buffer& buffer) noexcept {
  if (kept.capacity() > buffer.capacity()) {
    using std::swap;
    swap(kept, buffer);
  }
}

// Empties `buffer` and keeps it if it is larger than what is kept, and not
// too large; whatever is not kept stays with `buffer`, freed with it.
template <class Buffer>
void give(Buffer& kept, Buffer& buffer) noexcept {
  buffer.clear();
  if (buffer.capacity() > kept.capacity() &&
      buffer.capacity() <= kept_bytes / sizeof(typename Buffer::value_type)) {
    using std::swap;
    swap(kept, buffer);
  }
}

// This thread's spares of one kind, a struct of buffers. A call reaches
// them through a plain thread_local pointer: a thread_local with a
// destructor would cost a guard and a registration check at every use,
// through the dynamic loader's TLS resolver in a shared library. The
// buffers themselves live in such a thread_local, made (and registered
// for destruction at the thread's exit) on the first give.
template <class Spares>
class ThreadSpares {
 public:
  // Null until a call on this thread has given spares back.
  static Spares* find() noexcept { return current; }
  static Spares& get() { return current != nullptr ? *current : make(); }

 private:
  struct Holder {
    Spares spares;
    Holder() noexcept { current = &spares; }
    ~Holder() { current = nullptr; }
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;
  };
  [[gnu::noinline]] static Spares& make() {
    thread_local Holder holder;
    return holder.spares;
  }
  static inline thread_local Spares* current = nullptr;
};

}  // namespace vardelquin::spare
