// The four message builders of the main window, on the wire of a board peer.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "BoardSession.h"
#include "ClientQtEnvironment.h"
#include "MainForm.h"
#include "board_peer/BoardPeer.h"
#include "rtl/Exception.h"

namespace {

using namespace std::chrono_literals;
using clienttest::ResetConnectState;
using clienttest::WindowTest;

constexpr std::string_view kHandshake = R"({"pcup":""})";

std::string Envelope(std::string_view message) {
  return std::string(R"({"phone":{"sendToId":531864207,"message":)") + std::string(message) + "}}";
}

class BoardMessages : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    ResetConnectState();
    board_ = clienttest::StartBoard();
    ASSERT_TRUE(board_->Running());
  }
  void TearDown() override {
    board_.reset();
    ResetConnectState();
    WindowTest::TearDown();
  }

  // A window connected to the board, with the handshake on the wire and no auto-connect.
  std::unique_ptr<TFormMain> ConnectedWindow() {
    auto form = MakeWindow();
    form->timer_find->SetEnabled(false);
    EXPECT_TRUE(form->tcp_thread->tcp_connect(board_->Host()));
    EXPECT_TRUE(board_->WaitForTexts(1, 5s));
    return form;
  }
  // The texts after the handshake, once `n` of them arrived.
  std::vector<board_peer::Text> Sent(std::size_t n) {
    EXPECT_TRUE(board_->WaitForTexts(n + 1, 5s));
    auto texts = board_->Texts();
    EXPECT_EQ(texts.size(), n + 1);
    if (texts.empty()) return {};
    EXPECT_EQ(texts.front().raw, kHandshake);
    return {texts.begin() + 1, texts.end()};
  }

  std::unique_ptr<board_peer::BoardPeer> board_;
};

TEST_F(BoardMessages, ExamplesGoOutByteForByteInTheEnvelope) {
  auto form = ConnectedWindow();
  form->CreateMessageImage("add", 418, 35, 1, 3, 0);
  form->CreateStormMessage(u"delete", u"", u"", u"", 2);
  form->CreateStormMessage(u"add", u"Ann", u"09:05", u"a/b \"c\"", 1);
  ASSERT_EQ(Sent(3).size(), 3u);

  const std::string expected =
      std::string(kHandshake) + "pqend" +
      Envelope(R"({"msgId":1,"msgType":2,"msg":{"action":"add","x":4354,"y":648,"scale":1,)"
               R"("src":3,"id":0}})") +
      "pqend" +
      Envelope(R"({"msgId":2,"msgType":2,"msg":{"action":"delete","user":"","time":"",)"
               R"("text":"","id":2}})") +
      "pqend" +
      Envelope(R"({"msgId":2,"msgType":2,"msg":{"action":"add","user":"Ann","time":"09:05",)"
               R"("text":"a\/b \"c\"","id":1}})") +
      "pqend";
  const auto connections = board_->Connections();
  ASSERT_EQ(connections.size(), 1u);
  EXPECT_EQ(connections[0].stream, expected);
}

TEST_F(BoardMessages, PositionsAreDividedFirstAndTruncatedTowardZero) {
  struct Case {
    const char* action;
    std::int32_t x, y;
    std::int32_t sent_x, sent_y;
  };
  constexpr auto kMax = std::numeric_limits<std::int32_t>::max();
  constexpr auto kMin = std::numeric_limits<std::int32_t>::min();
  const Case cases[] = {
      {"enlarge", -1, -1, -10, -18},  // no position: -1 goes through the scaling
      {"delete", -1, -1, -10, -18},
      {"shrink", -1, -1, -10, -18},
      {"left", -1, -1, -10, -18},
      {"right", -1, -1, -10, -18},
      {"move", 959, 539, 9989, 9981},  // 9989.58 and 9981.48: the fraction is dropped
      {"move", 0, 0, 0, 0},
      {"move", 960, 540, 10000, 10000},
      {"move", -100, -50, -1041, -925},  // toward zero, not down
      {"move", kMax, kMin, kMax, kMin},  // beyond what the field holds: clamped
  };
  auto form = ConnectedWindow();
  for (const Case& c : cases) form->CreateMessageImage(c.action, c.x, c.y, 1, -1, 5);
  const auto texts = Sent(std::size(cases));
  ASSERT_EQ(texts.size(), std::size(cases));
  for (std::size_t i = 0; i < texts.size(); ++i) {
    SCOPED_TRACE(texts[i].raw);
    ASSERT_TRUE(texts[i].is_json);
    const auto& message = texts[i].json["phone"]["message"];
    EXPECT_EQ(message["msgId"], 1);
    EXPECT_EQ(message["msgType"], 2);
    const auto& msg = message["msg"];
    EXPECT_EQ(msg["action"], cases[i].action);
    EXPECT_EQ(msg["x"], cases[i].sent_x);
    EXPECT_EQ(msg["y"], cases[i].sent_y);
    EXPECT_EQ(msg["scale"], 1);
    EXPECT_EQ(msg["src"], -1);
    EXPECT_EQ(msg["id"], 5);
  }
}

TEST_F(BoardMessages, CommandCarriesTheDeviceIdAsAStringAndInfoStartsEmpty) {
  auto form = ConnectedWindow();
  form->device_id = "12345678";
  form->CreateCommandMessage(u"reload");
  m_PCname.clear();  // as before any lookup
  m_LocalIP.clear();
  form->SendInfo();
  GetPcInfo();
  form->SendInfo();

  const auto texts = Sent(3);
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts[0].raw,
            Envelope(R"({"msgId":3,"msgType":2,"msg":{"command":"reload","id":"12345678"}})"));
  EXPECT_EQ(texts[1].raw, Envelope(R"({"msgId":4,"msgType":2,"msg":{"name":"","ip":""}})"));

  char host[256] = {};
  ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
  EXPECT_EQ(m_PCname, host);
  EXPECT_EQ(texts[2].json["phone"]["message"]["msg"]["name"], host);
  EXPECT_EQ(texts[2].json["phone"]["message"]["msg"]["ip"], m_LocalIP);
}

TEST_F(BoardMessages, AFailedSendRaisesIntoTheCallerAndSendsNothing) {
  auto form = MakeWindow();
  form->timer_find->SetEnabled(false);
  EXPECT_THROW(form->CreateMessageImage("add", 1, 1, 1, 1, 0), rtl::Exception);
  EXPECT_THROW(form->CreateStormMessage(u"add", u"a", u"b", u"c", 1), rtl::Exception);
  EXPECT_THROW(form->CreateCommandMessage(u"clear"), rtl::Exception);
  EXPECT_THROW(form->SendInfo(), rtl::Exception);
  EXPECT_EQ(board_->ConnectionCount(), 0u);
}

}  // namespace
