#pragma once
// Helpers of the window tests that talk to a board peer on loopback: a board at the real ports
// on an address of its own, the commands it received, page files.

#include <gtest/gtest.h>

#include <QImage>
#include <QString>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "board_peer/BoardPeer.h"

namespace clienttest {

// A board on a free address in 127.1.0.0/16 at the real ports, sending no beacons.
inline std::unique_ptr<board_peer::BoardPeer> StartBoard(const std::string& name = "Board") {
  board_peer::Options options;
  options.host = "";
  options.name = name;
  options.beacon_interval = std::chrono::milliseconds(0);
  auto board = std::make_unique<board_peer::BoardPeer>(options);
  std::string error;
  EXPECT_TRUE(board->Start(&error)) << error;
  return board;
}

// The "command" of every command message the board received, in order.
inline std::vector<std::string> Commands(const board_peer::BoardPeer& board) {
  std::vector<std::string> commands;
  for (const board_peer::Text& text : board.Texts()) {
    if (!text.is_json || !text.json.contains("phone")) continue;
    const auto& message = text.json["phone"]["message"];
    if (message.value("msgId", 0) == 3) commands.push_back(message["msg"]["command"]);
  }
  return commands;
}

inline int CountOf(const std::vector<std::string>& items, const std::string& item) {
  int n = 0;
  for (const std::string& i : items) n += i == item;
  return n;
}

// A small picture file that the strip and the image list can load.
inline void WritePicture(const std::filesystem::path& file, const char* format = "PNG") {
  QImage page(32, 18, QImage::Format_RGB32);
  page.fill(Qt::white);
  ASSERT_TRUE(page.save(QString::fromStdString(file.string()), format)) << file;
}

}  // namespace clienttest
