// The connection supervisor against a real board peer on its own loopback address.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "SocketTable.h"
#include "TcpThread.h"
#include "board_peer/BoardPeer.h"
#include "net/Error.h"

namespace {

using namespace std::chrono_literals;

constexpr std::string_view kHandshake = R"({"pcup":""}pqend)";

using Clock = std::chrono::steady_clock;

std::unique_ptr<board_peer::BoardPeer> StartBoard(int receive_buffer = 0) {
  board_peer::Options options;
  options.host = "";  // a free address of its own in 127.1.0.0/16
  options.beacon_interval = 0ms;
  options.receive_buffer = receive_buffer;
  auto board = std::make_unique<board_peer::BoardPeer>(options);
  std::string error;
  if (!board->Start(&error)) ADD_FAILURE() << "board peer: " << error;
  return board;
}

rtl::JsonObject LeftMessage() {
  rtl::JsonObject msg;
  msg.AddPair(u"action", u"left").AddPair(u"x", -10).AddPair(u"y", -18);
  msg.AddPair(u"scale", 1).AddPair(u"src", -1).AddPair(u"id", -1);
  rtl::JsonObject message;
  message.AddPair(u"msgId", 1).AddPair(u"msgType", 2).AddPair(u"msg", std::move(msg));
  return message;
}

rtl::JsonObject ClearMessage() {
  rtl::JsonObject msg;
  msg.AddPair(u"command", u"clear").AddPair(u"id", u"12345678");
  rtl::JsonObject message;
  message.AddPair(u"msgId", 3).AddPair(u"msgType", 2).AddPair(u"msg", std::move(msg));
  return message;
}

rtl::JsonObject IdeaMessage(std::u16string_view text) {
  rtl::JsonObject msg;
  msg.AddPair(u"action", u"add").AddPair(u"text", text);
  rtl::JsonObject message;
  message.AddPair(u"msgId", 2).AddPair(u"msgType", 2).AddPair(u"msg", std::move(msg));
  return message;
}

// Polls `done` until it holds or `limit` has passed.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s) {
  const auto deadline = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

// Standard output into a file while it lives; readable at any time.
class StdoutToFile {
 public:
  StdoutToFile() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vm-out-XXXXXX").string();
    const int fd = ::mkstemp(pattern.data());
    file_ = pattern;
    std::fflush(stdout);
    saved_ = ::dup(STDOUT_FILENO);
    ::dup2(fd, STDOUT_FILENO);
    ::close(fd);
  }
  ~StdoutToFile() {
    std::fflush(stdout);
    ::dup2(saved_, STDOUT_FILENO);
    ::close(saved_);
    std::error_code ignored;
    std::filesystem::remove(file_, ignored);
  }
  int Count(const std::string& text) const {
    std::fflush(stdout);
    std::ifstream in(file_);
    std::stringstream all;
    all << in.rdbuf();
    const std::string out = all.str();
    int n = 0;
    for (auto at = out.find(text); at != std::string::npos; at = out.find(text, at + 1)) ++n;
    return n;
  }

 private:
  std::filesystem::path file_;
  int saved_ = -1;
};

// Every test starts from a fresh process-wide reconnect state and counts the dialogs.
class TcpThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ip_connect.Set("");
    flg_cnt = false;
    flg_recnt = false;
    SetConnectFailureDialog([this](const rtl::UnicodeString& text) {
      std::lock_guard lock(mutex_);
      dialogs_.push_back(text);
    });
  }
  void TearDown() override {
    supervisor_.reset();
    SetConnectFailureDialog(nullptr);
    rtl::SetSystemAnsiCodePage(rtl::LocaleAnsiCodePage());
  }

  TcpThread& Supervisor(bool running) {
    supervisor_ = std::make_unique<TcpThread>(!running, &tcp_);
    return *supervisor_;
  }
  std::vector<rtl::UnicodeString> Dialogs() {
    std::lock_guard lock(mutex_);
    return dialogs_;
  }

  net::TcpClient tcp_;
  std::unique_ptr<TcpThread> supervisor_;
  std::mutex mutex_;
  std::vector<rtl::UnicodeString> dialogs_;
};

TEST_F(TcpThreadTest, ConstructorSetsTheBoardConnectionSettings) {
  Supervisor(false);
  EXPECT_EQ(tcp_.Port(), 3392);
  EXPECT_EQ(tcp_.ConnectTimeout(), 3000);
  EXPECT_EQ(tcp_.ReadTimeout(), 6000);
  EXPECT_EQ(tcp_.WriteTimeout(), 6000);
  EXPECT_EQ(supervisor_->send_to_id, 531864207);
}

TEST_F(TcpThreadTest, ConnectWritesTheHandshakeThenTheEnvelopeByteForByte) {
  auto board = StartBoard();
  TcpThread& tcp_thread = Supervisor(false);

  ASSERT_TRUE(tcp_thread.tcp_connect(board->Host()));
  EXPECT_TRUE(flg_cnt);
  EXPECT_FALSE(flg_recnt);
  EXPECT_EQ(ip_connect.Get(), board->Host());
  tcp_thread.tcp_send(LeftMessage());

  ASSERT_TRUE(board->WaitForTexts(2, 3s));
  const auto connections = board->Connections();
  ASSERT_EQ(connections.size(), 1u);
  EXPECT_EQ(
      connections[0].stream,
      std::string(kHandshake) +
          R"({"phone":{"sendToId":531864207,"message":{"msgId":1,"msgType":2,"msg":{"action":"left","x":-10,"y":-18,"scale":1,"src":-1,"id":-1}}}}pqend)");
  EXPECT_TRUE(Dialogs().empty());
}

TEST_F(TcpThreadTest, StringsOnTheWireKeepOnlyTheEightEscapesAndTheCodePagesCharacters) {
  auto board = StartBoard();
  rtl::SetSystemAnsiCodePage("WINDOWS-1252");
  TcpThread& tcp_thread = Supervisor(false);
  ASSERT_TRUE(tcp_thread.tcp_connect(board->Host()));

  tcp_thread.tcp_send(IdeaMessage(u"a/b\t\x01\"\\ caf\u00e9 \u4e2d"));
  ASSERT_TRUE(board->WaitForTexts(2, 3s));
  EXPECT_EQ(board->Texts()[1].raw,
            "{\"phone\":{\"sendToId\":531864207,\"message\":{\"msgId\":2,\"msgType\":2,\"msg\":"
            "{\"action\":\"add\",\"text\":\"a\\/b\\t\x01\\\"\\\\ caf\xc3\xa9 ?\"}}}}");
}

TEST_F(TcpThreadTest, FailedFirstConnectShowsTheDialogAndIsNeverRetriedOnItsOwn) {
  auto board = StartBoard();
  ASSERT_TRUE(board->SetRefuse(true));
  TcpThread& tcp_thread = Supervisor(true);

  testing::internal::CaptureStdout();
  EXPECT_FALSE(tcp_thread.tcp_connect(board->Host()));
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_FALSE(printed.empty()) << "the connect error is printed";
  EXPECT_EQ(ip_connect.Get(), board->Host()) << "set before the attempt";
  EXPECT_FALSE(flg_cnt);
  ASSERT_EQ(Dialogs(),
            std::vector<rtl::UnicodeString>{u"Please check the network connection status"});

  ASSERT_TRUE(board->SetRefuse(false));
  EXPECT_FALSE(board->WaitForConnections(1, 1500ms)) << "no attempt before a first success";
  EXPECT_EQ(Dialogs().size(), 1u);
}

TEST_F(TcpThreadTest, DroppedConnectionIsReconnectedSilentlyWithTheHandshakeOnly) {
  auto board = StartBoard();
  TcpThread& tcp_thread = Supervisor(true);
  ASSERT_TRUE(tcp_thread.tcp_connect(board->Host()));
  ASSERT_TRUE(board->WaitForTexts(1, 3s));

  ASSERT_TRUE(board->CloseConnection());
  ASSERT_TRUE(board->WaitForConnections(2, 8s)) << "reconnected within the 2 s watch period";
  ASSERT_TRUE(board->WaitForTexts(2, 3s));
  std::this_thread::sleep_for(300ms);

  const auto connections = board->Connections();
  ASSERT_EQ(connections.size(), 2u);
  EXPECT_EQ(connections[1].stream, kHandshake);
  EXPECT_TRUE(Dialogs().empty());
  EXPECT_TRUE(flg_cnt);
  EXPECT_FALSE(flg_recnt) << "cleared by the successful reconnect";
}

TEST_F(TcpThreadTest, FailedConnectToAnotherBoardShowsTheDialogOnceThenRetriesThatBoard) {
  auto board_a = StartBoard();
  auto board_b = StartBoard();
  ASSERT_TRUE(board_b->SetRefuse(true));
  TcpThread& tcp_thread = Supervisor(true);
  ASSERT_TRUE(tcp_thread.tcp_connect(board_a->Host()));

  bool failed = false;
  bool retried = false;
  {
    // Every failed attempt prints its error: the user's, then the supervisor's own retries.
    StdoutToFile out;
    failed = !tcp_thread.tcp_connect(board_b->Host());
    retried = WaitUntil([&] { return out.Count("Connection refused") >= 3; }, 15s);
  }
  EXPECT_TRUE(failed);
  EXPECT_EQ(Dialogs().size(), 1u);
  ASSERT_TRUE(retried) << "the supervisor did not retry B";
  ASSERT_TRUE(board_b->SetRefuse(false));
  EXPECT_TRUE(board_b->WaitForConnections(1, 5s));
  ASSERT_TRUE(board_b->WaitForTexts(1, 3s));

  EXPECT_EQ(board_b->Connections()[0].stream, kHandshake);
  EXPECT_EQ(Dialogs().size(), 1u) << "the retries are silent";
  EXPECT_EQ(board_a->ConnectionCount(), 1u) << "A is not the reconnect target any more";
  EXPECT_TRUE(board_a->WaitForClosed(1, 1s));
}

TEST_F(TcpThreadTest, ConnectWhileConnectedClosesTheOldConnectionAndDropsUnreadBytes) {
  auto board_a = StartBoard();
  auto board_b = StartBoard();
  TcpThread& tcp_thread = Supervisor(false);
  ASSERT_TRUE(tcp_thread.tcp_connect(board_a->Host()));
  ASSERT_TRUE(board_a->WaitForConnections(1, 3s));
  ASSERT_TRUE(board_a->SendFrame("tosmall"));
  // The frame is in the client's input, unread.
  ASSERT_TRUE(WaitUntil([&] {
    socktest::TcpSocket s;
    return socktest::SocketTo(board_a->Host(), TcpThread::kPort, &s) && s.rx_queue == 13;
  }));

  const auto started = std::chrono::steady_clock::now();
  ASSERT_TRUE(tcp_thread.tcp_connect(board_b->Host()));
  EXPECT_GE(std::chrono::steady_clock::now() - started, 100ms) << "the pause before connecting";
  EXPECT_TRUE(board_a->WaitForClosed(1, 3s));

  tcp_.SetReadTimeout(300);
  EXPECT_THROW(tcp_.ReadBytes(1), net::ReadTimeout) << "nothing of A's frame is left";
}

TEST_F(TcpThreadTest, SendOnAClosedConnectionRaisesAndSendsNothing) {
  auto board = StartBoard();
  TcpThread& tcp_thread = Supervisor(false);
  EXPECT_THROW(tcp_thread.tcp_send(LeftMessage()), net::Error) << "never connected";

  ASSERT_TRUE(tcp_thread.tcp_connect(board->Host()));
  tcp_.Disconnect();
  EXPECT_THROW(tcp_thread.tcp_send(LeftMessage()), net::Error);
  ASSERT_TRUE(board->WaitForClosed(1, 3s));
  EXPECT_EQ(board->Connections()[0].stream, kHandshake);
}

TEST_F(TcpThreadTest, SendsFromSeveralThreadsNeverInterleave) {
  auto board = StartBoard();
  TcpThread& tcp_thread = Supervisor(false);
  ASSERT_TRUE(tcp_thread.tcp_connect(board->Host()));

  constexpr int kThreads = 4;
  constexpr int kPerThread = 100;
  std::vector<std::thread> senders;
  for (int t = 0; t < kThreads; ++t) {
    senders.emplace_back([&tcp_thread, t] {
      const std::u16string text(2000, static_cast<char16_t>(u'a' + t));
      for (int i = 0; i < kPerThread; ++i) tcp_thread.tcp_send(IdeaMessage(text));
    });
  }
  for (auto& sender : senders) sender.join();

  ASSERT_TRUE(board->WaitForTexts(1 + kThreads * kPerThread, 10s));
  const auto texts = board->Texts();
  for (std::size_t i = 1; i < texts.size(); ++i) {
    ASSERT_TRUE(texts[i].is_json) << "text " << i << " is whole";
    const std::string text = texts[i].json["phone"]["message"]["msg"]["text"];
    ASSERT_EQ(text, std::string(2000, text[0])) << "text " << i << " is not mixed";
  }
}

TEST_F(TcpThreadTest, TheHandshakeIsTheFirstTextEvenWithSendersRacingTheReconnect) {
  auto board = StartBoard();
  TcpThread& tcp_thread = Supervisor(true);
  ASSERT_TRUE(tcp_thread.tcp_connect(board->Host()));

  std::atomic<bool> stop{false};
  std::thread sender([&] {
    while (!stop) {
      try {
        tcp_thread.tcp_send(LeftMessage());
      } catch (const net::Error&) {
        std::this_thread::sleep_for(1ms);
      }
    }
  });
  for (std::size_t drop = 1; drop <= 2; ++drop) {
    ASSERT_TRUE(board->WaitForTexts(board->TextCount() + 5, 3s));
    ASSERT_TRUE(board->CloseConnection());
    ASSERT_TRUE(board->WaitForConnections(drop + 1, 8s));
  }
  ASSERT_TRUE(board->WaitForTexts(board->TextCount() + 5, 3s));
  stop = true;
  sender.join();

  for (const auto& connection : board->Connections()) {
    EXPECT_EQ(connection.stream.substr(0, kHandshake.size()), kHandshake)
        << "connection " << connection.index;
  }
}

// A board that accepts and then stops reading, with a small receive buffer, against two senders
// at once: one like the receive thread answering "1_reset" frames with "clear", one like the
// UI thread sending ideas.
TEST_F(TcpThreadTest, ABoardThatStopsReadingFailsEverySenderWithinTheDeadlineThenIsReconnected) {
  auto board = StartBoard(4096);
  TcpThread& tcp_thread = Supervisor(true);
  ASSERT_TRUE(tcp_thread.tcp_connect(board->Host()));
  ASSERT_TRUE(board->WaitForTexts(1, 3s));
  ASSERT_TRUE(board->SetStalled(true));

  struct Outcome {
    int sent = 0;
    Clock::duration failed_after{};
    std::string error;
  };
  auto sender = [&tcp_thread](rtl::JsonObject (*make)()) {
    return std::async(std::launch::async, [&tcp_thread, make] {
      Outcome o;
      for (;;) {
        const auto start = Clock::now();
        try {
          tcp_thread.tcp_send(make());
          ++o.sent;
        } catch (const net::Error& e) {
          o.failed_after = Clock::now() - start;
          o.error = e.what();
          return o;
        }
      }
    });
  };
  auto clears = sender(&ClearMessage);
  auto ideas = sender(+[] { return IdeaMessage(std::u16string(2000, u'i')); });

  // Without a deadline only a Disconnect ends the senders; the test fails instead of hanging.
  const auto limit = Clock::now() + 20s;
  const bool ended = clears.wait_until(limit) == std::future_status::ready &&
                     ideas.wait_until(limit) == std::future_status::ready;
  if (!ended) tcp_.Disconnect();
  const Outcome c = clears.get();
  const Outcome i = ideas.get();
  ASSERT_TRUE(ended) << "a sender was still blocked after 20 s";
  for (const Outcome* o : {&c, &i}) {
    std::printf("%d sent, then failed after %lld ms: %s\n", o->sent,
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(o->failed_after).count()),
                o->error.c_str());
    EXPECT_LE(o->failed_after, std::chrono::milliseconds(TcpThread::kWriteTimeoutMs) + 4s)
        << o->error;
    EXPECT_TRUE(o->error == "Write timed out." || o->error == "Not Connected") << o->error;
  }
  // The one that blocked first waited out its whole deadline; the other, behind it, at most so.
  EXPECT_GE(std::max(c.failed_after, i.failed_after),
            std::chrono::milliseconds(TcpThread::kWriteTimeoutMs) - 100ms);
  EXPECT_GT(c.sent + i.sent, 0);

  // The stuck connection was closed, so the supervisor connects again, and once the board reads
  // again the new connection carries the handshake and nothing more.
  ASSERT_TRUE(board->WaitForConnections(2, 10s)) << "no reconnect";
  ASSERT_TRUE(board->SetStalled(false));
  ASSERT_TRUE(WaitUntil(
      [&] {
        const auto connections = board->Connections();
        return connections.back().stream == kHandshake;
      },
      10s))
      << "the newest connection: " << board->Connections().back().stream.substr(0, 100);
  EXPECT_TRUE(Dialogs().empty());
  tcp_thread.tcp_send(LeftMessage());
  EXPECT_TRUE(
      WaitUntil([&] { return board->Connections().back().stream.size() > kHandshake.size(); }, 5s));
}

}  // namespace
