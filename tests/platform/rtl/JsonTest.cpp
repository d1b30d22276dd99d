#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <limits>
#include <ostream>
#include <string>

#include "rtl/Json.h"

namespace {

using rtl::JsonObject;

struct EscapeCase {
  std::u16string text;
  std::u16string written;
};

// Names the case by its input's code units, so test names stay readable and stable.
void PrintTo(const EscapeCase& c, std::ostream* os) {
  if (c.text.empty()) *os << "empty";
  for (const char16_t unit : c.text) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "U%04X", static_cast<unsigned>(unit));
    *os << hex;
  }
}

class JsonEscapeTest : public testing::TestWithParam<EscapeCase> {};

TEST_P(JsonEscapeTest, WritesExactlyTheEightEscapes) {
  std::u16string out = u"x";
  rtl::AppendJsonString(out, GetParam().text);
  EXPECT_EQ(out, u"x\"" + GetParam().written + u"\"");
}

INSTANTIATE_TEST_SUITE_P(
    Characters, JsonEscapeTest,
    testing::Values(EscapeCase{u"\"", u"\\\""}, EscapeCase{u"\\", u"\\\\"},
                    EscapeCase{u"/", u"\\/"}, EscapeCase{u"\b", u"\\b"}, EscapeCase{u"\t", u"\\t"},
                    EscapeCase{u"\n", u"\\n"}, EscapeCase{u"\f", u"\\f"}, EscapeCase{u"\r", u"\\r"},
                    // Everything else goes out unchanged: other controls, DEL, non-ASCII.
                    EscapeCase{u"\u0001", u"\u0001"},
                    EscapeCase{std::u16string(1, u'\0'), std::u16string(1, u'\0')},
                    EscapeCase{u"\u000B\u001F\u007F", u"\u000B\u001F\u007F"},
                    EscapeCase{u"\u00E9\u4E2D\U0001F600", u"\u00E9\u4E2D\U0001F600"},
                    EscapeCase{u"'<>&", u"'<>&"}, EscapeCase{u"", u""},
                    EscapeCase{u"a/b\\c\"d\te", u"a\\/b\\\\c\\\"d\\te"}));

TEST(JsonObjectTest, EnvelopeIsWrittenByteForByte) {
  JsonObject msg;
  msg.AddPair(u"action", u"left")
      .AddPair(u"x", -10)
      .AddPair(u"y", -18)
      .AddPair(u"scale", 1)
      .AddPair(u"src", -1)
      .AddPair(u"id", -1);
  JsonObject message;
  message.AddPair(u"msgId", 1).AddPair(u"msgType", 2).AddPair(u"msg", std::move(msg));
  JsonObject phone;
  phone.AddPair(u"sendToId", 531864207).AddPair(u"message", std::move(message));
  JsonObject envelope;
  envelope.AddPair(u"phone", std::move(phone));

  EXPECT_EQ(envelope.ToJSON(),
            u"{\"phone\":{\"sendToId\":531864207,\"message\":{\"msgId\":1,\"msgType\":2,"
            u"\"msg\":{\"action\":\"left\",\"x\":-10,\"y\":-18,\"scale\":1,\"src\":-1,"
            u"\"id\":-1}}}}");
}

TEST(JsonObjectTest, KeepsInsertionOrderAndDuplicates) {
  JsonObject object;
  object.AddPair(u"z", 1).AddPair(u"a", u"").AddPair(u"m", JsonObject()).AddPair(u"a", 2);
  EXPECT_EQ(object.Count(), 4u);
  EXPECT_EQ(object.ToJSON(), u"{\"z\":1,\"a\":\"\",\"m\":{},\"a\":2}");
}

TEST(JsonObjectTest, EmptyObjectAndHandshake) {
  EXPECT_EQ(JsonObject().ToJSON(), u"{}");
  JsonObject handshake;
  handshake.AddPair(u"pcup", u"");
  EXPECT_EQ(handshake.ToJSON(), u"{\"pcup\":\"\"}");
}

TEST(JsonObjectTest, NumbersCoverTheWholeInt32Range) {
  JsonObject object;
  object.AddPair(u"min", std::numeric_limits<std::int32_t>::min())
      .AddPair(u"max", std::numeric_limits<std::int32_t>::max())
      .AddPair(u"zero", 0)
      .AddPair(u"neg", -18);
  EXPECT_EQ(object.ToJSON(), u"{\"min\":-2147483648,\"max\":2147483647,\"zero\":0,\"neg\":-18}");
}

TEST(JsonObjectTest, NamesAreEscapedLikeValues) {
  JsonObject object;
  object.AddPair(u"a/b\n", u"c\\d");
  EXPECT_EQ(object.ToJSON(), u"{\"a\\/b\\n\":\"c\\\\d\"}");
}

TEST(JsonObjectTest, AppendJsonAppendsAndAddedObjectIsMovedIn) {
  JsonObject inner;
  inner.AddPair(u"k", 7);
  JsonObject outer;
  outer.AddPair(u"inner", std::move(inner));
  // The added object now lives in the tree; later changes to the source do not reach it.
  inner.AddPair(u"late", 1);
  std::u16string out = u"prefix";
  outer.AppendJSON(out);
  EXPECT_EQ(out, u"prefix{\"inner\":{\"k\":7}}");
  ASSERT_EQ(outer.Members().size(), 1u);
  const auto& child = std::get<std::unique_ptr<JsonObject>>(outer.Members()[0].second);
  EXPECT_EQ(child->Count(), 1u);
}

}  // namespace
