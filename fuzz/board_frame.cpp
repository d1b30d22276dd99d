// The board-frame reader over a byte stream: each frame takes its 6-byte header and exactly the
// length it gives, never more bytes than there are; nothing is read while a frame is incomplete;
// and a stream that arrives in two pieces, split at any point, gives the same frames as the
// stream in one piece. ActionOf is checked against a plain byte search.

#include <cstdint>
#include <string_view>
#include <vector>

#include "FuzzInput.h"
#include "protocol/BoardFrame.h"

namespace {

using Bytes = std::span<const std::uint8_t>;

struct Frame {
  std::size_t start;  // offset in the stream
  std::size_t size;   // header and payload
  bool operator==(const Frame&) const = default;
};

// One frame read at the front of `bytes`, with every check of a single read.
std::optional<protocol::BoardFrame> ReadChecked(Bytes bytes) {
  const std::optional<std::size_t> length = protocol::FramePayloadLength(bytes);
  FUZZ_CHECK(length.has_value() == (bytes.size() >= 6));
  const std::optional<protocol::BoardFrame> frame = protocol::ReadBoardFrame(bytes);
  if (!length) {
    FUZZ_CHECK(!frame);
    return frame;
  }
  FUZZ_CHECK(*length == (std::size_t{bytes[4]} | std::size_t{bytes[5]} << 8));
  FUZZ_CHECK(frame.has_value() == (bytes.size() >= 6 + *length));
  if (!frame) return frame;
  FUZZ_CHECK(frame->consumed == 6 + *length);
  FUZZ_CHECK(frame->consumed <= bytes.size());
  FUZZ_CHECK(frame->payload.data() == bytes.data() + 6);
  FUZZ_CHECK(frame->payload.size() == *length);
  return frame;
}

// The frames of a stream that arrives in pieces ending at `cuts` (ascending): a receiver keeps
// what it has not read yet and reads every whole frame after each piece.
std::vector<Frame> Receive(Bytes stream, const std::vector<std::size_t>& cuts) {
  std::vector<Frame> frames;
  std::size_t readTo = 0;
  for (const std::size_t arrived : cuts) {
    for (;;) {
      const std::optional<protocol::BoardFrame> frame =
          ReadChecked(stream.subspan(readTo, arrived - readTo));
      if (!frame) break;
      frames.push_back({readTo, frame->consumed});
      readTo += frame->consumed;
    }
  }
  return frames;
}

protocol::FrameAction ExpectedAction(Bytes payload) {
  const std::string_view text(reinterpret_cast<const char*>(payload.data()), payload.size());
  if (text.find("tosmall") != std::string_view::npos) return protocol::FrameAction::ToSmall;
  if (text.find("1_reset") != std::string_view::npos) return protocol::FrameAction::Reset;
  return protocol::FrameAction::None;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Bytes stream(data, size);
  const std::vector<Frame> whole = Receive(stream, {size});

  // Frames follow each other without a gap; what is left is an incomplete frame, of which no
  // prefix reads as a frame either.
  std::size_t end = 0;
  for (const Frame& frame : whole) {
    FUZZ_CHECK(frame.start == end);
    end += frame.size;
    const Bytes payload = stream.subspan(frame.start + 6, frame.size - 6);
    FUZZ_CHECK(protocol::ActionOf(payload) == ExpectedAction(payload));
    for (std::size_t shorter = 0; shorter < frame.size; ++shorter) {
      FUZZ_CHECK(!protocol::ReadBoardFrame(stream.subspan(frame.start, shorter)));
    }
  }
  for (std::size_t shorter = end; shorter <= size; ++shorter) {
    FUZZ_CHECK(!protocol::ReadBoardFrame(stream.subspan(end, shorter - end)));
  }

  for (std::size_t cut = 0; cut <= size; ++cut) FUZZ_CHECK(Receive(stream, {cut, size}) == whole);
  return 0;
}
