#pragma once
// Board frames, as the board sends them on the connection: a 6-byte header whose bytes 4 (low)
// and 5 hold the payload length, then the payload. Bytes 0 to 3 are the board's business and
// are not read. There is no terminator: the next header follows the payload at once.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace protocol {

inline constexpr std::size_t kFrameHeaderSize = 6;

// The payload length the header at the front of `bytes` gives; nullopt with fewer than 6
// bytes. The field is a signed 16-bit integer on the wire; a negative one can only be a
// payload of 32768 bytes or more, so the 16 bits are taken unsigned: the frame is read whole
// and the stream stays in step.
std::optional<std::size_t> FramePayloadLength(std::span<const std::uint8_t> bytes);

struct BoardFrame {
  std::size_t consumed = 0;               // header and payload: where the next frame begins
  std::span<const std::uint8_t> payload;  // a view into the bytes read from
};

// The frame at the front of `bytes`; nullopt while its header or payload is not all there.
std::optional<BoardFrame> ReadBoardFrame(std::span<const std::uint8_t> bytes);

// What the client does for a frame: the payload, read as ASCII text, is searched for
// "tosmall", then for "1_reset", case-sensitively and anywhere; the first found decides.
enum class FrameAction { None, ToSmall, Reset };
FrameAction ActionOf(std::span<const std::uint8_t> payload);

}  // namespace protocol
