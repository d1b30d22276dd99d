#include "protocol/BoardTable.h"

#include <utility>

namespace protocol {

bool BoardTable::AddDiscovered(ServerInfo entry) {
  std::lock_guard lock(mutex_);
  for (std::int32_t i = 0; i < count_; ++i)
    if (entries_[static_cast<std::size_t>(i)].ip == entry.ip) return false;  // known: unchanged
  if (count_ >= kSize) return false;
  entries_[static_cast<std::size_t>(count_++)] = std::move(entry);
  return true;
}

std::int32_t BoardTable::Append(ServerInfo entry) {
  std::lock_guard lock(mutex_);
  if (count_ >= kSize) return -1;
  entries_[static_cast<std::size_t>(count_)] = std::move(entry);
  return count_++;
}

std::int32_t BoardTable::Count() const {
  std::lock_guard lock(mutex_);
  return count_;
}

std::vector<ServerInfo> BoardTable::Entries() const {
  std::lock_guard lock(mutex_);
  return {entries_.begin(), entries_.begin() + count_};
}

std::optional<ServerInfo> BoardTable::Entry(std::int32_t index) const {
  std::lock_guard lock(mutex_);
  if (index < 0 || index >= count_) return std::nullopt;
  return entries_[static_cast<std::size_t>(index)];
}

bool BoardTable::MarkConnected(std::int32_t index) {
  std::lock_guard lock(mutex_);
  if (index < 0 || index >= count_) return false;
  entries_[static_cast<std::size_t>(index)].flg_connect = true;
  return true;
}

void BoardTable::ClearConnected() {
  std::lock_guard lock(mutex_);
  for (std::int32_t i = 0; i < count_; ++i)
    entries_[static_cast<std::size_t>(i)].flg_connect = false;
}

void BoardTable::Clear() {
  std::lock_guard lock(mutex_);
  entries_ = {};
  count_ = 0;
}

}  // namespace protocol
