// Process-wide one-time initialisation under the interpreter lock. The
// initialiser may run Python code that lets other threads in, so a thread
// that finds the lock taken waits with the interpreter lock released;
// otherwise the two locks could deadlock.
#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "binding/python.h"

namespace vardelquin {

class OnceLock {
 public:
  class Held {
   public:
    explicit Held(OnceLock& owner) noexcept : owner_(&owner) {
      owner.owner_.store(std::this_thread::get_id(), std::memory_order_relaxed);
    }
    Held(Held&& other) noexcept : owner_(std::exchange(other.owner_, nullptr)) {}
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    Held& operator=(Held&&) = delete;
    ~Held() {
      if (owner_ == nullptr) return;
      owner_->owner_.store(std::thread::id(), std::memory_order_relaxed);
      owner_->mutex_.unlock();
    }

   private:
    OnceLock* owner_;
  };

  // Empty when the calling thread already holds the lock: it is re-entering
  // its own initialisation and must not wait on itself.
  std::optional<Held> acquire() {
    if (owner_.load(std::memory_order_relaxed) == std::this_thread::get_id()) return std::nullopt;
    if (!mutex_.try_lock()) {
      PyThreadState* state = PyEval_SaveThread();
      mutex_.lock();
      PyEval_RestoreThread(state);
    }
    return std::optional<Held>(std::in_place, *this);
  }

 private:
  std::mutex mutex_;
  std::atomic<std::thread::id> owner_{};
};

}  // namespace vardelquin
