#include "protocol/BoardFrame.h"

#include "rtl/CodePage.h"

namespace protocol {

std::optional<std::size_t> FramePayloadLength(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kFrameHeaderSize) return std::nullopt;
  return static_cast<std::size_t>(bytes[4]) | static_cast<std::size_t>(bytes[5]) << 8;
}

std::optional<BoardFrame> ReadBoardFrame(std::span<const std::uint8_t> bytes) {
  const std::optional<std::size_t> length = FramePayloadLength(bytes);
  if (!length || bytes.size() - kFrameHeaderSize < *length) return std::nullopt;
  return BoardFrame{kFrameHeaderSize + *length, bytes.subspan(kFrameHeaderSize, *length)};
}

FrameAction ActionOf(std::span<const std::uint8_t> payload) {
  // Bytes above 0x7F become U+FFFD, which matches nothing.
  const rtl::UnicodeString text = rtl::AsciiToUnicode(payload);
  if (text.find(u"tosmall") != rtl::UnicodeString::npos) return FrameAction::ToSmall;
  if (text.find(u"1_reset") != rtl::UnicodeString::npos) return FrameAction::Reset;
  return FrameAction::None;
}

}  // namespace protocol
