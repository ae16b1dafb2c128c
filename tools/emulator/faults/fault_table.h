#pragma once
// The faults in force, shared by every service and the control interface.
// Thread-safe: requests on any server thread take faults while a test adds
// or clears them.

#include <cstdint>
#include <mutex>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <vector>

#include "faults/fault.h"

namespace corvenza::emulator::faults {

class FaultTable {
 public:
  /// Appends @p faults, in order; returns their ids (counting from 1 over
  /// the table's life, never reused).
  std::vector<std::int64_t> add(std::vector<Fault> faults);

  /// Removes every fault.
  void clear();

  /// Every fault, spent or not, in the order added: faultToJson() plus "id",
  /// "fired" (requests caught so far) and "remaining" (a count, or "always").
  nlohmann::ordered_json list() const;

  /// The first fault with requests left that catches @p point, counted as
  /// fired; nothing when none does.
  std::optional<Fault> take(const FaultPoint& point);

  /// Whether some fault with requests left is about @p route and names a
  /// field: only then is it worth working out a request's fields.
  bool wantsFields(Route route) const;

 private:
  struct Entry {
    std::int64_t id = 0;
    Fault fault;
    std::int64_t fired = 0;
  };
  static bool spent(const Entry& entry) {
    return entry.fault.times && entry.fired >= *entry.fault.times;
  }

  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
  std::int64_t nextId_ = 1;
};

}  // namespace corvenza::emulator::faults
