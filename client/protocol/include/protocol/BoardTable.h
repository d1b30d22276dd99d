#pragma once
// The board table: the boards the client knows, at most 20, filled in order and never removed.
// Discovery appends on the UDP listener's thread, the settings overlay on the UI thread, so the
// table keeps its own lock and hands out copies.

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "rtl/CodePage.h"

// One known board.
struct ServerInfo {
  rtl::AnsiString ip;    // dotted IPv4 for a discovered board, the typed text for a typed one
  rtl::AnsiString name;  // the board's name
  bool flg_connect = false;
};

namespace protocol {

class BoardTable {
 public:
  static constexpr std::int32_t kSize = 20;

  // A board heard by discovery: appended unless an entry has its address (compared byte for
  // byte), in which case the known entry, its name included, stays as it is. False when the
  // address is known or the table is full; a board beyond the 20th is ignored.
  bool AddDiscovered(ServerInfo entry);
  // A board typed in the settings overlay: appended without looking at the addresses. Its
  // index, or -1 when the table is full and the board is not kept.
  std::int32_t Append(ServerInfo entry);

  // The number of used entries.
  std::int32_t Count() const;
  // A copy of the used entries, in order.
  std::vector<ServerInfo> Entries() const;
  // A copy of a used entry; nullopt for an index outside the used entries.
  std::optional<ServerInfo> Entry(std::int32_t index) const;

  // Sets flg_connect on a used entry; false (and nothing changes) for any other index.
  bool MarkConnected(std::int32_t index);
  // Clears flg_connect on every used entry.
  void ClearConnected();
  // Every entry empty, none used.
  void Clear();

 private:
  mutable std::mutex mutex_;
  std::array<ServerInfo, kSize> entries_;
  std::int32_t count_ = 0;  // guarded by mutex_, like entries_
};

}  // namespace protocol
