#pragma once
// A value or an error: how fallible functions report inside the library.
// The public callback shapes are made from it at the facade.

#include <corvenza/error.h>

#include <cassert>
#include <utility>
#include <variant>

namespace corvenza::detail {

template <typename T>
class Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}      // NOLINT(implicit)
  Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}  // NOLINT(implicit)

  bool ok() const noexcept { return state_.index() == 0; }
  explicit operator bool() const noexcept { return ok(); }

  T& value() & {
    assert(ok());
    return std::get<0>(state_);
  }
  const T& value() const& {
    assert(ok());
    return std::get<0>(state_);
  }
  T&& value() && {
    assert(ok());
    return std::get<0>(std::move(state_));
  }
  const Error& error() const {
    assert(!ok());
    return std::get<1>(state_);
  }

  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }

 private:
  std::variant<T, Error> state_;
};

/// Result of an operation that yields nothing but may fail.
struct Unit {};
using Status = Result<Unit>;
inline Status okStatus() { return Status(Unit{}); }

}  // namespace corvenza::detail
