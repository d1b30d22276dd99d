// The board table's own rules: appends, the 20 entries, the connected marks, and appends from
// two threads at once. The window's tests cover discovery and the settings overlay using it.

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "protocol/BoardTable.h"

namespace {

using protocol::BoardTable;

ServerInfo Board(const std::string& ip, const std::string& name = "B") {
  return {ip, name, false};
}

TEST(BoardTable, TypedBoardsAreAppendedWithoutTheAddressTestUntilTheTableIsFull) {
  BoardTable table;
  EXPECT_TRUE(table.AddDiscovered(Board("10.0.0.1", "Heard")));
  EXPECT_EQ(table.Append(Board("10.0.0.1", "Typed")), 1);  // the same address again
  EXPECT_FALSE(table.AddDiscovered(Board("10.0.0.1", "Heard again")));
  for (int i = 2; i < BoardTable::kSize; ++i) EXPECT_EQ(table.Append(Board("t")), i);

  EXPECT_EQ(table.Append(Board("21st")), -1);
  EXPECT_FALSE(table.AddDiscovered(Board("10.0.0.99")));
  EXPECT_EQ(table.Count(), BoardTable::kSize);
  const auto entries = table.Entries();
  ASSERT_EQ(entries.size(), static_cast<std::size_t>(BoardTable::kSize));
  EXPECT_EQ(entries[0].name, "Heard");
  EXPECT_EQ(entries[1].name, "Typed");
  for (const ServerInfo& e : entries) EXPECT_NE(e.ip, "21st");
}

TEST(BoardTable, MarksAndLookupsStayWithinTheUsedEntries) {
  BoardTable table;
  EXPECT_FALSE(table.Entry(0).has_value());
  EXPECT_FALSE(table.MarkConnected(0));
  table.Append(Board("a"));
  table.Append(Board("b"));
  EXPECT_FALSE(table.MarkConnected(-1));
  EXPECT_FALSE(table.MarkConnected(2));
  EXPECT_TRUE(table.MarkConnected(1));
  EXPECT_FALSE(table.Entry(2).has_value());
  EXPECT_FALSE(table.Entry(-1).has_value());
  ASSERT_TRUE(table.Entry(1).has_value());
  EXPECT_TRUE(table.Entry(1)->flg_connect);
  EXPECT_FALSE(table.Entry(0)->flg_connect);

  table.ClearConnected();
  for (const ServerInfo& e : table.Entries()) EXPECT_FALSE(e.flg_connect);

  table.Clear();
  EXPECT_EQ(table.Count(), 0);
  EXPECT_EQ(table.Append(Board("c")), 0);
  EXPECT_FALSE(table.Entry(0)->flg_connect);
}

TEST(BoardTable, DiscoveryAndTypedBoardsFromTwoThreadsKeepEveryRule) {
  // Discovery hears 15 boards twice over while the overlay types 15 boards: the table ends
  // full, each heard address once, and what a reader saw meanwhile was always a prefix.
  for (int round = 0; round < 50; ++round) {
    BoardTable table;
    std::vector<std::size_t> seen;
    std::thread heard([&] {
      for (int pass = 0; pass < 2; ++pass)
        for (int i = 0; i < 15; ++i) table.AddDiscovered(Board("h" + std::to_string(i)));
    });
    std::thread typed([&] {
      for (int i = 0; i < 15; ++i) table.Append(Board("t"));
    });
    std::thread reader([&] {
      for (int i = 0; i < 200; ++i) seen.push_back(table.Entries().size());
    });
    heard.join();
    typed.join();
    reader.join();

    ASSERT_EQ(table.Count(), BoardTable::kSize);
    std::multiset<std::string> heard_ips;
    for (const ServerInfo& e : table.Entries())
      if (e.ip != "t") heard_ips.insert(e.ip);
    for (const std::string& ip : heard_ips) EXPECT_EQ(heard_ips.count(ip), 1u) << ip;
    for (std::size_t i = 1; i < seen.size(); ++i) EXPECT_LE(seen[i - 1], seen[i]);
  }
}

}  // namespace
