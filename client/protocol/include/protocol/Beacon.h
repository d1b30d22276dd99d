#pragma once
// Discovery beacons: one UDP datagram per board announcement. Bytes 0 to 8 hold the keyword
// "vellumark", byte 9 is not read, then comes the board's UTF-8 text, whose part before the
// first ";" is the board's name, then 10 trailing bytes that are not read.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace protocol {

inline constexpr std::string_view kBeaconKeyword = "vellumark";
inline constexpr std::size_t kBeaconMinLength = 11;
inline constexpr std::size_t kBeaconTextStart = 10;
inline constexpr std::size_t kBeaconTrailerLength = 10;

struct Beacon {
  // The board name as the datagram carries it (UTF-8, not checked), a view into the datagram;
  // empty when the text holds no ";".
  std::string_view name;
};

// The beacon a datagram carries; nullopt for a datagram shorter than 11 bytes or without the
// keyword (compared byte for byte, so capitals or a byte above 0x7F do not match). The text
// ends at its first NUL byte.
std::optional<Beacon> ParseBeacon(std::span<const std::uint8_t> datagram);

}  // namespace protocol
