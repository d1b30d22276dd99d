// The beacon parser against the datagram's layout: the keyword in bytes 0 to 8, the text from
// byte 10 to the 10 trailing bytes, cut at its first NUL; the name is the text before its first
// ";". The name must be a view into the datagram's text, never outside it.

#include "protocol/Beacon.h"

#include <cstdint>
#include <string_view>

#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> datagram(data, size);
  const std::optional<protocol::Beacon> beacon = protocol::ParseBeacon(datagram);

  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const bool isBeacon = size >= 11 && bytes.substr(0, 9) == "vellumark";
  FUZZ_CHECK(beacon.has_value() == isBeacon);
  if (!beacon) return 0;

  // The text: bytes 10 to N-11, none for N <= 20.
  const std::size_t textEnd = size > 20 ? size - 10 : 10;
  std::string_view text = size > 20 ? bytes.substr(10, size - 20) : std::string_view();
  if (const auto nul = text.find('\0'); nul != std::string_view::npos) text = text.substr(0, nul);

  const std::string_view name = beacon->name;
  if (!name.empty()) {
    // Inside the text, at its start.
    FUZZ_CHECK(name.data() == bytes.data() + 10);
    FUZZ_CHECK(10 + name.size() <= textEnd);
  }
  const std::size_t semicolon = text.find(';');
  if (semicolon == std::string_view::npos) {
    FUZZ_CHECK(name.empty());
  } else {
    FUZZ_CHECK(name == text.substr(0, semicolon));
    FUZZ_CHECK(name.find(';') == std::string_view::npos);
    FUZZ_CHECK(name.find('\0') == std::string_view::npos);
  }
  return 0;
}
