#pragma once
// Board messages: what the client tells the board about every change on its screens. Each is a
// JSON object {"msgId": kind, "msgType": 2, "msg": {...}}, members in this order; the connection
// supervisor wraps it in the envelope and writes it.

#include <cstdint>
#include <string_view>

#include "rtl/Json.h"

namespace protocol {

enum MessageKind : std::int32_t {
  kImageMessage = 1,
  kStormMessage = 2,
  kCommandMessage = 3,
  kInfoMessage = 4
};
inline constexpr std::int32_t kMessageType = 2;

// The design surface the screens are laid out on.
inline constexpr double kDesignWidth = 960.0;
inline constexpr double kDesignHeight = 540.0;

// A design position in 1/10000 of the design extent: double precision, division first,
// truncated toward zero. Positions far outside the design surface, whose units a 32-bit field
// cannot hold, are clamped instead of overflowing.
std::int32_t ToBoardUnits(std::int32_t position, double extent);

// A placed page changed: "action", "x", "y" (design units, -1 for none, sent in board units),
// "scale", "src", "id".
rtl::JsonObject ImageMessage(std::u16string_view action, std::int32_t x, std::int32_t y,
                             std::int32_t scale, std::int32_t src, std::int32_t id);
// An idea card changed: "action", "user", "time", "text", "id".
rtl::JsonObject StormMessage(std::u16string_view action, std::u16string_view user,
                             std::u16string_view time, std::u16string_view text, std::int32_t id);
// A command: "command", and "id", the device id, always as a string.
rtl::JsonObject CommandMessage(std::u16string_view command, std::u16string_view device_id);
// The PC's host name and address: "name", "ip".
rtl::JsonObject InfoMessage(std::u16string_view name, std::u16string_view ip);

}  // namespace protocol
