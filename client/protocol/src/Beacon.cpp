#include "protocol/Beacon.h"

namespace protocol {

std::optional<Beacon> ParseBeacon(std::span<const std::uint8_t> datagram) {
  const std::string_view bytes(reinterpret_cast<const char*>(datagram.data()), datagram.size());
  if (bytes.size() < kBeaconMinLength || !bytes.starts_with(kBeaconKeyword)) return std::nullopt;

  std::string_view text;
  if (bytes.size() > kBeaconTextStart + kBeaconTrailerLength)
    text = bytes.substr(kBeaconTextStart, bytes.size() - kBeaconTextStart - kBeaconTrailerLength);
  text = text.substr(0, text.find('\0'));
  const auto semicolon = text.find(';');
  Beacon beacon;
  if (semicolon != std::string_view::npos) beacon.name = text.substr(0, semicolon);
  return beacon;
}

}  // namespace protocol
