#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "board_peer/Wire.h"

namespace board_peer {
namespace {

using namespace std::string_literals;

std::vector<std::string> Split(const std::vector<std::string>& chunks, std::size_t cap,
                               std::string* pending = nullptr,
                               std::vector<bool>* truncated = nullptr) {
  TextSplitter splitter(cap);
  std::vector<TextSplitter::Piece> pieces;
  for (const auto& chunk : chunks) splitter.Feed(chunk, pieces);
  std::vector<std::string> out;
  for (const auto& p : pieces) {
    out.push_back(p.bytes);
    if (truncated) truncated->push_back(p.truncated);
  }
  if (pending) *pending = splitter.Pending();
  return out;
}

TEST(TextSplitterTest, SegmentationDoesNotChangeTheTexts) {
  struct Case {
    const char* what;
    std::vector<std::string> chunks;
    std::vector<std::string> texts;
    std::string pending;
  };
  const std::vector<Case> cases = {
      {"one text", {"{\"a\":1}pqend"}, {"{\"a\":1}"}, ""},
      {"several in one segment", {"apqendbpqendcpqend"}, {"a", "b", "c"}, ""},
      {"text split over segments", {"{\"a\"", ":1}", "pqend"}, {"{\"a\":1}"}, ""},
      {"terminator split", {"abcpq", "end"}, {"abc"}, ""},
      {"terminator split byte by byte", {"x", "p", "q", "e", "n", "d", "y"}, {"x"}, "y"},
      {"empty text", {"pqendpqend"}, {"", ""}, ""},
      {"half text stays pending", {"done", "pqendhal", "f t"}, {"done"}, "half t"},
      {"near miss is text", {"pqenpqend"}, {"pqen"}, ""},
      {"binary bytes kept", {"\x00\xff\xfe"s + "pqend"}, {"\x00\xff\xfe"s}, ""},
  };
  for (const auto& c : cases) {
    std::string pending;
    EXPECT_EQ(Split(c.chunks, 1 << 20, &pending), c.texts) << c.what;
    EXPECT_EQ(pending, c.pending) << c.what;
  }
}

TEST(TextSplitterTest, HugeTextIsCappedAndTheNextOneIsIntact) {
  std::vector<std::string> chunks;
  for (int i = 0; i < 100; ++i) chunks.push_back(std::string(1000, 'x'));
  chunks.push_back("pq");
  chunks.push_back("endnextpqend");
  std::vector<bool> truncated;
  const auto texts = Split(chunks, 64, nullptr, &truncated);
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0], std::string(64, 'x'));
  EXPECT_TRUE(truncated[0]);
  EXPECT_EQ(texts[1], "next");
  EXPECT_FALSE(truncated[1]);
}

TEST(TextSplitterTest, PendingIsBoundedByTheCap) {
  std::string pending;
  Split({std::string(5000, 'y')}, 100, &pending);
  EXPECT_LE(pending.size(), 100u);
}

TEST(WireTest, FrameLayout) {
  EXPECT_EQ(MakeFrame("tosmall"), "\x00\x00\x00\x00\x07\x00tosmall"s);
  EXPECT_EQ(MakeFrame("", {1, 2, 3, 4}), "\x01\x02\x03\x04\x00\x00"s);
  const std::string big = MakeFrame(std::string(300, 'a'));
  ASSERT_EQ(big.size(), 306u);
  EXPECT_EQ(static_cast<unsigned char>(big[4]), 0x2C);
  EXPECT_EQ(static_cast<unsigned char>(big[5]), 0x01);
  const std::string max = MakeFrame(std::string(kMaxFramePayload, 'a'));
  EXPECT_EQ(static_cast<unsigned char>(max[4]), 0xFF);
  EXPECT_EQ(static_cast<unsigned char>(max[5]), 0x7F);
  EXPECT_THROW(MakeFrame(std::string(kMaxFramePayload + 1, 'a')), std::length_error);
}

TEST(WireTest, BeaconLayout) {
  const std::string b = MakeBeacon("Room 4", "x");
  ASSERT_EQ(b.size(), 9u + 1u + 8u + 10u);
  EXPECT_EQ(b.substr(0, 9), "vellumark");
  EXPECT_EQ(b.substr(10, 8), "Room 4;x");
  EXPECT_EQ(b.substr(18), std::string(10, '\0'));
}

TEST(MultipartTest, PartsInOrderWithTheirHeaders) {
  const std::string body =
      "--b0undary\r\n"
      "Content-Disposition: form-data; name=\"picture\"; filename=\"Picture002.jpg\"\r\n"
      "Content-Type: image/jpeg\r\n"
      "Content-Transfer-Encoding: binary\r\n"
      "\r\n"
      "\xff\xd8\r\n--not-the-boundary\x00\r\n"s
      "\r\n--b0undary\r\n"
      "Content-Disposition: form-data; name=\"alpha\"\r\n"
      "\r\n"
      "v\r\n"
      "--b0undary--\r\n";
  std::vector<MultipartPart> parts;
  ASSERT_TRUE(ParseMultipart("b0undary", body, parts));
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0].name, "picture");
  EXPECT_EQ(parts[0].filename, "Picture002.jpg");
  EXPECT_EQ(parts[0].content_type, "image/jpeg");
  EXPECT_EQ(parts[0].content, "\xff\xd8\r\n--not-the-boundary\x00\r\n"s);
  const HeaderList expected = {
      {"Content-Disposition", "form-data; name=\"picture\"; filename=\"Picture002.jpg\""},
      {"Content-Type", "image/jpeg"},
      {"Content-Transfer-Encoding", "binary"}};
  EXPECT_EQ(parts[0].headers, expected);
  EXPECT_EQ(parts[1].name, "alpha");
  EXPECT_EQ(parts[1].filename, "");
  EXPECT_EQ(parts[1].content, "v");
}

TEST(MultipartTest, BoundaryAndFaults) {
  EXPECT_EQ(MultipartBoundary("multipart/form-data; boundary=--abc123"), "--abc123");
  EXPECT_EQ(MultipartBoundary("multipart/form-data; Boundary=\"a b;c\"; x=1"), "a b;c");
  EXPECT_EQ(MultipartBoundary("multipart/form-data"), "");

  struct Case {
    const char* what;
    std::string body;
    bool ok;
    std::size_t parts;
  };
  const std::vector<Case> cases = {
      {"empty form", "", true, 0},
      {"preamble", "junk\r\n--B\r\nA: 1\r\n\r\nx\r\n--B--", true, 1},
      {"no closing delimiter", "--B\r\nA: 1\r\n\r\nx", false, 0},
      {"headers never end", "--B\r\nA: 1\r\n", false, 0},
      {"header without colon", "--B\r\nbogus\r\n\r\nx\r\n--B--", false, 0},
      {"second part broken", "--B\r\n\r\nx\r\n--B\r\nA: 1", false, 1},
      {"wrong boundary", "--C\r\n\r\nx\r\n--C--", false, 0},
  };
  for (const auto& c : cases) {
    std::vector<MultipartPart> parts;
    EXPECT_EQ(ParseMultipart("B", c.body, parts), c.ok) << c.what;
    EXPECT_EQ(parts.size(), c.parts) << c.what;
  }
}

TEST(WireTest, CookiesAndPrintableLines) {
  const HeaderList expected = {{"board_session", "42"}, {"x", ""}, {"y", "a=b"}};
  EXPECT_EQ(ParseCookies(" board_session=42; x; y=a=b;"), expected);
  EXPECT_TRUE(ParseCookies("").empty());
  EXPECT_EQ(PrintableLine("a\nb\\c\x01\xc3\xa9"), "a\\x0ab\\\\c\\x01\xc3\xa9");
}

}  // namespace
}  // namespace board_peer
