// A minimal result type: a value or an error, never both. C++20 has no
// std::expected, and failures in this code base are values, not exceptions.
#pragma once

#include <type_traits>
#include <utility>
#include <variant>

namespace vardelquin {

template <class E>
struct Unexpected {
  E error;
};

template <class E>
Unexpected(E) -> Unexpected<E>;

template <class T, class E>
class [[nodiscard]] Expected {
 public:
  Expected(T value) : storage_(std::in_place_index<0>, std::move(value)) {}
  // For values that cannot move: built where the result is returned.
  template <class... Args>
  explicit Expected(std::in_place_t, Args&&... args)
      : storage_(std::in_place_index<0>, std::forward<Args>(args)...) {}
  template <class G>
  Expected(Unexpected<G> failure) : storage_(std::in_place_index<1>, E(std::move(failure.error))) {}

  bool has_value() const noexcept { return storage_.index() == 0; }
  explicit operator bool() const noexcept { return has_value(); }

  T& value() & { return *std::get_if<0>(&storage_); }
  const T& value() const& { return *std::get_if<0>(&storage_); }
  T&& value() && { return std::move(*std::get_if<0>(&storage_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T&& operator*() && { return std::move(*this).value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  E& error() & { return *std::get_if<1>(&storage_); }
  const E& error() const& { return *std::get_if<1>(&storage_); }
  E&& error() && { return std::move(*std::get_if<1>(&storage_)); }

 private:
  std::variant<T, E> storage_;
};

// Success without a value.
struct Ok {};

}  // namespace vardelquin
