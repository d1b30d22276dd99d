// The beacon parser on its own: where the name comes from in the datagram and which datagrams
// are beacons at all. The window's tests cover the listener, the code page and the table.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "protocol/Beacon.h"

namespace {

using protocol::ParseBeacon;

std::span<const std::uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// keyword, byte 9, text, 10 trailing bytes
std::string Datagram(std::string_view text, char byte9 = '\x01',
                     std::string_view trailer = "0123456789") {
  return "vellumark" + std::string(1, byte9) + std::string(text) + std::string(trailer);
}

TEST(Beacon, WhichDatagramsAreBeaconsAndTheNameTheyCarry) {
  struct Case {
    const char* what;
    std::string bytes;
    std::optional<std::string> name;  // nullopt: not a beacon
  };
  const std::string longest_name(65507 - 21, 'n');  // the largest UDP datagram
  const Case cases[] = {
      {"empty", "", std::nullopt},
      {"the keyword alone", "vellumark", std::nullopt},
      {"the keyword and one byte", "vellumark\x01", std::nullopt},
      {"the keyword's last letter differs", "vellumarx\x01x", std::nullopt},
      {"the keyword one byte late", " vellumark\x01x", std::nullopt},
      {"the shortest beacon", "vellumark\x01x", ""},
      {"the first text byte comes with 21 bytes", Datagram(";"), ""},
      {"the shortest name", Datagram("A;"), "A"},
      {"a ; in byte 9 is not the text's", Datagram("A", ';'), ""},
      {"a ; in the trailer's first byte is not the text's", Datagram("A", '\x01', ";123456789"),
       ""},
      {"the first ; ends the name", Datagram("a;b;c"), "a"},
      {"a NUL first ends the text", Datagram(std::string("\0A;", 3)), ""},
      {"a NUL after the ; is not looked at", Datagram(std::string("A;\0", 3)), "A"},
      {"a text within the trailer's reach is no text",
       "vellumark\x01"
       "ab;cdefgh",
       ""},
      {"bytes that are not UTF-8 pass as they are", Datagram("\xFF\xC3;x"), "\xFF\xC3"},
      {"the largest datagram", Datagram(longest_name + ";"), longest_name},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto bytes = Bytes(c.bytes);
    const auto beacon = ParseBeacon(bytes);
    ASSERT_EQ(beacon.has_value(), c.name.has_value());
    if (!beacon) continue;
    EXPECT_EQ(beacon->name, *c.name);
    // The name is a view into the text part of the datagram, never beyond it.
    if (!beacon->name.empty()) {
      const auto* first = reinterpret_cast<const std::uint8_t*>(beacon->name.data());
      EXPECT_GE(first, bytes.data() + protocol::kBeaconTextStart);
      EXPECT_LE(first + beacon->name.size(),
                bytes.data() + bytes.size() - protocol::kBeaconTrailerLength);
    }
  }
}

}  // namespace
