// One pointer per thread, kept by the system's thread-specific storage
// (POSIX keys, or Windows fiber-local storage), which deletes what it
// points to when the thread exits.
//
// Not a thread_local: in a library loaded at run time, the C library
// allocates a thread's block of thread_locals on the thread's first use
// of one, and a thread_local with a destructor registers it there too;
// where either finds no memory, the process ends. A key's slot for each
// thread exists from the thread's start, and setting it either works or
// reports that it did not.
#pragma once

#include <cstdlib>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <pthread.h>
#endif

namespace vardelquin {

// A value is a T made in memory from std::malloc; it is destroyed and
// freed at the exit of each thread that set one.
// Made once per process and never destroyed: a thread may exit after the
// module's statics are gone.
template <class T>
class ThreadKey {
 public:
  ThreadKey() noexcept {
#if defined(_WIN32)
    index_ = FlsAlloc(&destroy_at_exit);
    made_ = index_ != FLS_OUT_OF_INDEXES;
#else
    made_ = pthread_key_create(&key_, &destroy_at_exit) == 0;
#endif
  }
  ThreadKey(const ThreadKey&) = delete;
  ThreadKey& operator=(const ThreadKey&) = delete;

  static void destroy(T* value) noexcept {
    value->~T();
    std::free(value);
  }

  // Null when the system had no key left to give.
  T* get() const noexcept {
    if (!made_) return nullptr;
#if defined(_WIN32)
    return static_cast<T*>(FlsGetValue(index_));
#else
    return static_cast<T*>(pthread_getspecific(key_));
#endif
  }

  // Whether `value` is now this thread's; when not, the caller still owns it.
  bool set(T* value) noexcept {
    if (!made_) return false;
#if defined(_WIN32)
    return FlsSetValue(index_, value) != 0;
#else
    return pthread_setspecific(key_, value) == 0;
#endif
  }

 private:
#if defined(_WIN32)
  static void WINAPI destroy_at_exit(void* value) noexcept { destroy(static_cast<T*>(value)); }
  DWORD index_ = FLS_OUT_OF_INDEXES;
#else
  static void destroy_at_exit(void* value) noexcept { destroy(static_cast<T*>(value)); }
  pthread_key_t key_{};
#endif
  bool made_ = false;
};

}  // namespace vardelquin
