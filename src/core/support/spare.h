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
// A thread's storage is made at the start of its first call: making it
// registers its destructor for the thread's exit with the C library,
// which ends the process if it finds no memory for that, and the end of a
// call is where memory is most likely to have run out.
//
// A storage struct is default-constructible and has a member
//   void give_back() noexcept
// that empties each of its buffers with spare::empty (or the like), so
// that what is kept holds nothing of the call (no references, no text).
#pragma once

#include <cstddef>
#include <optional>
#include <utility>

namespace vardelquin::spare {

inline constexpr std::size_t kept_bytes = std::size_t{64} * 1024;

// Empties `buffer`, and frees its storage if it grew past kept_bytes, so
// one huge call does not pin its memory for the life of the thread.
template <class Buffer>
void empty(Buffer& buffer) noexcept {
  buffer.clear();
  if (buffer.capacity() > kept_bytes / sizeof(typename Buffer::value_type)) {
    // Moved out, not assigned over: a string keeps its storage when given
    // an empty one.
    const Buffer freed(std::move(buffer));
    buffer.clear();
  }
}

template <class Storage>
class Lease {
 public:
  Lease() : slot_(Slot::of_this_thread()) {
    if (slot_->taken) [[unlikely]] {
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

  Storage& operator*() const noexcept { return *storage_; }
  Storage* operator->() const noexcept { return storage_; }

 private:
  // A thread's storage is reached through a plain thread_local pointer: a
  // thread_local with a destructor would cost a guard and a registration
  // check at every use, through the dynamic loader's TLS resolver in a
  // shared library. The storage itself lives in such a thread_local, made
  // on the thread's first lease.
  struct Slot {
    Storage storage;
    bool taken = false;

    static Slot* of_this_thread() {
      Slot* const slot = current;
      return slot != nullptr ? slot : make();
    }
    [[gnu::noinline]] static Slot* make() {
      thread_local Holder holder;
      return &holder.slot;
    }
    static inline thread_local Slot* current = nullptr;
  };
  struct Holder {
    Slot slot;
    Holder() noexcept { Slot::current = &slot; }
    ~Holder() { Slot::current = nullptr; }
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;
  };

  Slot* slot_;  // null when the storage is fresh
  Storage* storage_;
  std::optional<Storage> fresh_;
};

}  // namespace vardelquin::spare
