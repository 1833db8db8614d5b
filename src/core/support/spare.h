// Working memory kept from one call to the next on the same thread, so
// that a call in the steady state allocates nothing for it.
//
// Each direction keeps its buffers in one storage struct. A call takes the
// whole struct in one step at its start, by making a Lease, and gives it
// back, emptied, in one step when the lease ends; the thread's storage is
// reached once per call. A call that finds it taken, because a call of the
// same kind is running further up its thread's stack, gets fresh storage
// of its own, so re-entry is safe; other threads have storage of their own.
//
// A thread's storage is made at the start of its first call, without a
// thread_local (see thread_key.h). That first call also has the C++
// runtime's per-thread exception state allocated (see
// ready_to_throw_on_this_thread): a bad_alloc thrown without it would
// end the process in the C library instead of becoming the call's
// failure. When there is no memory even for that, the lease is not
// ready() and the call must fail as out of memory without throwing. When
// there is no memory for the storage itself, or no key for it, the call
// gets fresh storage, as a re-entered one does, and reports running out
// of memory where it happens.
//
// A storage struct is default-constructible without throwing and has a
// member
//   void give_back() noexcept
// that empties each of its buffers with spare::empty (or the like), so
// that what is kept holds nothing of the call (no references, no text).
#pragma once

#include <cstddef>
#include <cstdlib>
#include <exception>
#include <new>
#include <optional>
#include <type_traits>
#include <utility>

#include "support/thread_key.h"

namespace vardelquin::spare {

inline constexpr std::size_t kept_bytes = std::size_t{64} * 1024;

// An output buffer is filled to its end by every call that grew it, and
// growing it again costs a reallocation for each doubling and a page
// fault for each page touched afresh. It is kept up to this size (an
// output of 8 MiB), the most a thread holds on to for it between calls.
inline constexpr std::size_t kept_output_bytes = std::size_t{8} * 1024 * 1024;

// Empties `buffer`, and frees its storage if it grew past `kept` bytes,
// so one huge call does not pin its memory for the life of the thread.
template <class Buffer>
void empty(Buffer& buffer, std::size_t kept = kept_bytes) noexcept {
  buffer.clear();
  if (buffer.capacity() > kept / sizeof(typename Buffer::value_type)) {
    // Moved out, not assigned over: a string keeps its storage when given
    // an empty one.
    const Buffer freed(std::move(buffer));
    buffer.clear();
  }
}

// Has the C++ runtime allocate this thread's exception state now, while
// there is memory for it: that state is a thread_local of the runtime's
// library, which the C library allocates on the thread's first throw,
// ending the process if that fails. A few small blocks are
// freed just before, so the allocation finds one in the thread's own free
// lists. False, with nothing allocated, when there is not even that much
// memory.
[[gnu::cold]] inline bool ready_to_throw_on_this_thread() noexcept {
  void* rooms[5] = {};
  bool found = true;
  for (std::size_t i = 0; i < 5; ++i) {
    rooms[i] = std::malloc(std::size_t{16} << i);
    found = found && rooms[i] != nullptr;
  }
  for (void* room : rooms) std::free(room);
  if (found) (void)std::uncaught_exceptions();
  return found;
}

template <class Storage>
class Lease {
 public:
  Lease() : slot_(Slot::of_this_thread(ready_)) {
    if (slot_ == nullptr || slot_->taken) [[unlikely]] {
      storage_ = &fresh_.emplace();
      slot_ = nullptr;
    } else {
      slot_->taken = true;
      storage_ = &slot_->storage;
    }
  }
  ~Lease() {
    if (slot_ != nullptr) {
      storage_->give_back();
      slot_->taken = false;
    }
  }
  Lease(const Lease&) = delete;
  Lease& operator=(const Lease&) = delete;

  // False when this thread's first call found no memory at all.
  bool ready() const noexcept { return ready_; }
  Storage& operator*() const noexcept { return *storage_; }
  Storage* operator->() const noexcept { return storage_; }

 private:
  struct Slot {
    Storage storage;
    bool taken = false;

    static Slot* of_this_thread(bool& ready) noexcept {
      Slot* const slot = key.get();
      return slot != nullptr ? slot : make(ready);
    }
    // Made in memory from malloc, since operator new, even its nothrow
    // form, fails by throwing.
    [[gnu::noinline]] static Slot* make(bool& ready) noexcept {
      static_assert(std::is_nothrow_default_constructible_v<Storage>,
                    "storage is made where nothing may throw");
      ready = ready_to_throw_on_this_thread();
      if (!ready) return nullptr;
      void* const room = std::malloc(sizeof(Slot));
      if (room == nullptr) return nullptr;
      Slot* const slot = new (room) Slot;
      if (!key.set(slot)) {
        ThreadKey<Slot>::destroy(slot);
        return nullptr;
      }
      return slot;
    }
    static inline ThreadKey<Slot> key;
  };

  bool ready_ = true;  // declared before slot_, whose initialiser sets it
  Slot* slot_;         // null when the storage is fresh
  Storage* storage_;
  std::optional<Storage> fresh_;
};

}  // namespace vardelquin::spare
