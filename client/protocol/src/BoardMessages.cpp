#include "protocol/BoardMessages.h"

#include <utility>

namespace protocol {

namespace {

rtl::JsonObject BoardMessage(MessageKind kind, rtl::JsonObject msg) {
  rtl::JsonObject message;
  message.AddPair(u"msgId", kind).AddPair(u"msgType", kMessageType).AddPair(u"msg", std::move(msg));
  return message;
}

}  // namespace

std::int32_t ToBoardUnits(std::int32_t position, double extent) {
  const double units = static_cast<double>(position) / extent * 10000.0;
  if (units >= 2147483647.0) return 2147483647;
  if (units <= -2147483648.0) return -2147483647 - 1;
  return static_cast<std::int32_t>(units);
}

rtl::JsonObject ImageMessage(std::u16string_view action, std::int32_t x, std::int32_t y,
                             std::int32_t scale, std::int32_t src, std::int32_t id) {
  rtl::JsonObject msg;
  msg.AddPair(u"action", action);
  msg.AddPair(u"x", ToBoardUnits(x, kDesignWidth));
  msg.AddPair(u"y", ToBoardUnits(y, kDesignHeight));
  msg.AddPair(u"scale", scale).AddPair(u"src", src).AddPair(u"id", id);
  return BoardMessage(kImageMessage, std::move(msg));
}

rtl::JsonObject StormMessage(std::u16string_view action, std::u16string_view user,
                             std::u16string_view time, std::u16string_view text, std::int32_t id) {
  rtl::JsonObject msg;
  msg.AddPair(u"action", action).AddPair(u"user", user).AddPair(u"time", time);
  msg.AddPair(u"text", text).AddPair(u"id", id);
  return BoardMessage(kStormMessage, std::move(msg));
}

rtl::JsonObject CommandMessage(std::u16string_view command, std::u16string_view device_id) {
  rtl::JsonObject msg;
  msg.AddPair(u"command", command).AddPair(u"id", device_id);
  return BoardMessage(kCommandMessage, std::move(msg));
}

rtl::JsonObject InfoMessage(std::u16string_view name, std::u16string_view ip) {
  rtl::JsonObject msg;
  msg.AddPair(u"name", name).AddPair(u"ip", ip);
  return BoardMessage(kInfoMessage, std::move(msg));
}

}  // namespace protocol
