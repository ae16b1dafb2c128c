#pragma once
// One optional input field in its three states: not given (the key exists but
// holds no value and is left out of the JSON), given as null (sent as JSON
// null, which clears the field on the service), or given with a value.

#include <optional>
#include <utility>

namespace corvenza::graphql {

template <typename T>
class InputValue {
 public:
  /// Not given.
  InputValue() = default;
  /// Given with @p value.
  InputValue(T value) : state_(std::optional<T>(std::move(value))) {}  // NOLINT(implicit)
  /// Given: an absent optional is an explicit null.
  InputValue(std::optional<T> value) : state_(std::move(value)) {}  // NOLINT(implicit)

  static InputValue notGiven() { return InputValue(); }
  static InputValue null() { return InputValue(std::optional<T>()); }

  bool isGiven() const noexcept { return state_.has_value(); }
  bool isNull() const noexcept { return state_.has_value() && !state_->has_value(); }
  bool hasValue() const noexcept { return state_.has_value() && state_->has_value(); }
  /// The value when given with one, else nothing (not given and null alike).
  std::optional<T> value() const { return state_ ? *state_ : std::nullopt; }

  friend bool operator==(const InputValue&, const InputValue&) = default;

 private:
  std::optional<std::optional<T>> state_;
};

}  // namespace corvenza::graphql
