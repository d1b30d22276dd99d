// Byte formats the board speaks: beacons, frames, the "pqend" text stream, multipart bodies.
// Pure functions and a small splitter, shared by the peer, its program and its tests.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace board_peer {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

inline constexpr std::string_view kBeaconKeyword = "vellumark";
inline constexpr std::string_view kTextEnd = "pqend";
inline constexpr std::size_t kFrameHeaderSize = 6;
inline constexpr std::size_t kMaxFramePayload = 32767;

// One discovery datagram: the keyword, one free byte, "<name>;<rest>", then 10 free bytes.
std::string MakeBeacon(std::string_view name, std::string_view rest = "vellumark-board");

// One board frame: 4 free header bytes, the payload length as signed 16-bit little-endian,
// the payload. Throws std::length_error for a payload the length field cannot hold.
std::string MakeFrame(std::string_view payload, std::array<std::uint8_t, 4> head = {});

// Splits a byte stream into texts ended by "pqend", whatever the segmentation. A text longer
// than the cap keeps its first max_text_bytes bytes and is flagged; memory stays bounded.
class TextSplitter {
 public:
  struct Piece {
    std::string bytes;
    bool truncated = false;
  };

  explicit TextSplitter(std::size_t max_text_bytes = 1 << 20);

  void Feed(std::string_view data, std::vector<Piece>& out);
  // The unfinished text buffered so far (at most the cap plus the terminator's length - 1).
  std::string Pending() const;
  void Reset();

 private:
  void Keep(std::string_view bytes);

  std::size_t max_;
  std::string text_;
  std::string carry_;  // last bytes that may begin a terminator
  bool truncated_ = false;
};

struct MultipartPart {
  HeaderList headers;  // in wire order
  std::string name;
  std::string filename;
  std::string content_type;
  std::string content;
};

// The boundary parameter of a multipart Content-Type, unquoted; empty when there is none.
std::string MultipartBoundary(std::string_view content_type);

// Parses a multipart body. Returns false on a malformed body; the parts read before the fault
// stay in `parts`. An empty body is a form without parts.
bool ParseMultipart(std::string_view boundary, std::string_view body,
                    std::vector<MultipartPart>& parts);

// "a=1; b=2" -> {{"a","1"},{"b","2"}}
HeaderList ParseCookies(std::string_view header);

// Raw bytes as one printable line: control bytes and backslashes become escapes.
std::string PrintableLine(std::string_view bytes);

}  // namespace board_peer
