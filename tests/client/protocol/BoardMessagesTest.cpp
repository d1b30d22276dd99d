// The four board messages as built, byte for byte, before the supervisor wraps them. The
// window's tests cover the envelope on the wire, the examples and the senders' values.

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "protocol/BoardMessages.h"
#include "rtl/CodePage.h"

namespace {

using protocol::ToBoardUnits;

std::string Text(const rtl::JsonObject& message) {
  return rtl::UnicodeToUtf8(message.ToJSON());
}

TEST(BoardMessages, EachKindHasItsMembersInOrder) {
  struct Case {
    const char* what;
    rtl::JsonObject message;
    std::string text;  // UTF-8
  };
  Case cases[] = {
      {"an image message without a position", protocol::ImageMessage(u"shrink", -1, -1, 1, -1, -1),
       R"({"msgId":1,"msgType":2,"msg":{"action":"shrink","x":-10,"y":-18,"scale":1,"src":-1,)"
       R"("id":-1}})"},
      {"an image message's integers pass unchanged",
       protocol::ImageMessage(u"move", 480, 270, -7, 99, 2147483647),
       R"({"msgId":1,"msgType":2,"msg":{"action":"move","x":5000,"y":5000,"scale":-7,"src":99,)"
       R"("id":2147483647}})"},
      {"an idea edit keeps every character the JSON text need not escape",
       protocol::StormMessage(u"edit", u"Zo\u00eb", u"23:59", u"\u6c34\ttab\x01", 12),
       "{\"msgId\":2,\"msgType\":2,\"msg\":{\"action\":\"edit\",\"user\":\"Zo\xC3\xAB\","
       "\"time\":\"23:59\",\"text\":\"\xE6\xB0\xB4\\ttab\x01\",\"id\":12}}"},
      {"a command's id is a string, also when empty",
       protocol::CommandMessage(u"uploadfinish", u""),
       R"({"msgId":3,"msgType":2,"msg":{"command":"uploadfinish","id":""}})"},
      {"an info message", protocol::InfoMessage(u"pc-7", u"10.0.0.2"),
       R"({"msgId":4,"msgType":2,"msg":{"name":"pc-7","ip":"10.0.0.2"}})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Text(c.message), c.text);
  }
}

TEST(BoardMessages, BoardUnitsClampOnlyWhatA32BitFieldCannotHold) {
  struct Case {
    std::int32_t position;
    double extent;
    std::int32_t units;
  };
  constexpr auto kMax = std::numeric_limits<std::int32_t>::max();
  constexpr auto kMin = std::numeric_limits<std::int32_t>::min();
  const Case cases[] = {
      {206158430, 960.0, 2147483645},  // 2147483645.83: the last position that fits
      {206158431, 960.0, kMax},        // 2147483656.25
      {-206158430, 960.0, -2147483645},
      {-206158431, 960.0, kMin},
      {115964116, 540.0, 2147483629},  // 2147483629.63
      {115964117, 540.0, kMax},        // 2147483648.15
      {kMin, 540.0, kMin},
      {1, 960.0, 10},  // 10.41
      {-1, 540.0, -18},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.position);
    EXPECT_EQ(ToBoardUnits(c.position, c.extent), c.units);
  }
}

}  // namespace
