// The board-frame reader and what a payload asks of the client, on bytes alone. The window's
// tests cover the receive loop on a real connection and the screens it changes.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/BoardFrame.h"

namespace {

using protocol::ActionOf;
using protocol::FrameAction;
using protocol::ReadBoardFrame;

std::span<const std::uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string Header(std::uint8_t low, std::uint8_t high,
                   std::string_view head = "\x01\x02\x03\x04") {
  return std::string(head) + static_cast<char>(low) + static_cast<char>(high);
}

TEST(BoardFrame, AFrameIsExactlyItsHeaderAndTheLengthItGives) {
  struct Case {
    const char* what;
    std::string bytes;
    std::optional<std::size_t> consumed;  // nullopt: not all there yet
    std::size_t payload_size = 0;
  };
  const Case cases[] = {
      {"nothing", "", std::nullopt},
      {"five header bytes", std::string("\x01\x02\x03\x04\x00", 5), std::nullopt},
      {"length 0", Header(0, 0), 6, 0},
      {"length 0 and the next header", Header(0, 0) + Header(7, 0), 6, 0},
      {"the low byte comes first", Header(0x01, 0x02) + std::string(0x0201, 'x'), 6 + 0x0201,
       0x0201},
      {"one payload byte short", Header(5, 0) + "abcd", std::nullopt},
      {"bytes after the payload are the next frame's", Header(7, 0) + "tosmall" + "rest", 13, 7},
      {"any first four bytes", Header(3, 0, std::string_view("\xFF\x00\x80\x7F", 4)) + "abc", 9, 3},
      {"the largest positive length", Header(0xFF, 0x7F) + std::string(32767, 'p'), 6 + 32767,
       32767},
      // -32768 and -1 as signed 16-bit: read as 32768 and 65535 payload bytes.
      {"a negative length, short", Header(0x00, 0x80) + std::string(32767, 'p'), std::nullopt},
      {"a negative length, whole", Header(0x00, 0x80) + std::string(32768, 'p'), 6 + 32768, 32768},
      {"length -1, whole", Header(0xFF, 0xFF) + std::string(65535, 'p') + "next", 6 + 65535, 65535},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto bytes = Bytes(c.bytes);
    const auto frame = ReadBoardFrame(bytes);
    ASSERT_EQ(frame.has_value(), c.consumed.has_value());
    if (!frame) continue;
    EXPECT_EQ(frame->consumed, *c.consumed);
    EXPECT_EQ(frame->consumed, protocol::kFrameHeaderSize + frame->payload.size());
    EXPECT_EQ(frame->payload.size(), c.payload_size);
    EXPECT_EQ(frame->payload.data(), bytes.data() + protocol::kFrameHeaderSize);
  }
}

TEST(BoardFrame, AStreamOfFramesIsWalkedToItsLastByte) {
  std::string stream;
  const std::vector<std::string> payloads = {"", "tosmall", std::string(300, 'z'), "1_reset", ""};
  for (const std::string& p : payloads)
    stream += Header(static_cast<std::uint8_t>(p.size() & 0xFF),
                     static_cast<std::uint8_t>(p.size() >> 8)) +
              p;
  auto rest = Bytes(stream);
  std::vector<std::string> read;
  while (const auto frame = ReadBoardFrame(rest)) {
    read.emplace_back(reinterpret_cast<const char*>(frame->payload.data()), frame->payload.size());
    rest = rest.subspan(frame->consumed);
  }
  EXPECT_TRUE(rest.empty());
  EXPECT_EQ(read, payloads);
}

TEST(BoardFrame, TheFirstWordFoundInTheAsciiTextDecides) {
  struct Case {
    const char* what;
    std::string payload;
    FrameAction action;
  };
  const Case cases[] = {
      {"empty", "", FrameAction::None},
      {"tosmall", "tosmall", FrameAction::ToSmall},
      {"1_reset", "1_reset", FrameAction::Reset},
      {"1_reset before tosmall still shrinks", "1_reset tosmall", FrameAction::ToSmall},
      {"a word cut short", "tosmal 1_rese", FrameAction::None},
      {"a byte above 0x7F inside a word", "to\xE1small", FrameAction::None},
      {"bytes above 0x7F around a word",
       "\xFF"
       "1_reset\x80",
       FrameAction::Reset},
      {"a NUL inside a word", std::string("tos\0mall", 8), FrameAction::None},
      {"a NUL before a word",
       std::string("\0"
                   "1_reset",
                   8),
       FrameAction::Reset},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(ActionOf(Bytes(c.payload)), c.action);
  }
}

}  // namespace
