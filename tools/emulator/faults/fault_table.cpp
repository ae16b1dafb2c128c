#include "faults/fault_table.h"

#include <nlohmann/json.hpp>

#include "faults/fault_parse.h"

namespace corvenza::emulator::faults {

std::vector<std::int64_t> FaultTable::add(std::vector<Fault> faults) {
  std::lock_guard lock(mutex_);
  std::vector<std::int64_t> ids;
  for (auto& fault : faults) {
    ids.push_back(nextId_);
    entries_.push_back({nextId_++, std::move(fault), 0});
  }
  return ids;
}

void FaultTable::clear() {
  std::lock_guard lock(mutex_);
  entries_.clear();
}

nlohmann::ordered_json FaultTable::list() const {
  std::lock_guard lock(mutex_);
  auto out = nlohmann::ordered_json::array();
  for (const auto& entry : entries_) {
    nlohmann::ordered_json item = {{"id", entry.id}};
    item.update(faultToJson(entry.fault));
    item["fired"] = entry.fired;
    item["remaining"] = entry.fault.times ? nlohmann::ordered_json(*entry.fault.times - entry.fired)
                                          : nlohmann::ordered_json("always");
    out.push_back(std::move(item));
  }
  return out;
}

std::optional<Fault> FaultTable::take(const FaultPoint& point) {
  std::lock_guard lock(mutex_);
  for (auto& entry : entries_) {
    if (spent(entry) || !matches(entry.fault, point)) continue;
    ++entry.fired;
    return entry.fault;
  }
  return std::nullopt;
}

bool FaultTable::wantsFields(Route route) const {
  std::lock_guard lock(mutex_);
  for (const auto& entry : entries_) {
    if (!spent(entry) && entry.fault.route == route && !entry.fault.field.empty()) return true;
  }
  return false;
}

}  // namespace corvenza::emulator::faults
