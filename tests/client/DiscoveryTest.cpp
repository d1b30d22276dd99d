// Discovery beacons through the window's real UDP listener, and the auto-connect that follows
// the first one, against board peers on loopback.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QImage>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BoardSession.h"
#include "ClientQtEnvironment.h"
#include "MainForm.h"
#include "board_peer/BoardPeer.h"
#include "board_peer/Wire.h"
#include "net/Error.h"
#include "rtl/CodePage.h"

namespace {

using namespace std::chrono_literals;
using clienttest::ResetConnectState;
using clienttest::StdoutCapture;
using clienttest::WindowTest;
namespace fs = std::filesystem;

// One datagram to `to` at `port`, sent from `host` (any address of 127.0.0.0/8).
bool SendDatagram(const std::string& host, std::string_view bytes, int port,
                  const char* to_host = "127.0.0.1") {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return false;
  sockaddr_in from{};
  from.sin_family = AF_INET;
  inet_pton(AF_INET, host.c_str(), &from.sin_addr);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<std::uint16_t>(port));
  inet_pton(AF_INET, to_host, &to.sin_addr);
  bool sent = bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) == 0;
  sent = sent && sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to),
                        sizeof to) == static_cast<ssize_t>(bytes.size());
  close(fd);
  return sent;
}

// Waits without the event loop: the listener runs on its own thread.
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

bool Knows(const TFormMain& form, const std::string& ip) {
  for (const ServerInfo& s : form.server_list.Entries())
    if (s.ip == ip) return true;
  return false;
}

std::string Bytes(std::string_view head, std::string_view text, std::string_view trailer) {
  return std::string(head) + std::string(text) + std::string(trailer);
}

constexpr std::string_view kHead = "vellumark\x01";
constexpr std::string_view kTrailer = "0123456789";

class Discovery : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    ResetConnectState();
  }
  void TearDown() override {
    ResetConnectState();
    rtl::SetSystemAnsiCodePage(rtl::LocaleAnsiCodePage());
    WindowTest::TearDown();
  }
  // A window that only listens: no auto-connect.
  std::unique_ptr<TFormMain> ListeningWindow() {
    auto form = MakeWindow();
    form->timer_find->SetEnabled(false);
    return form;
  }
  // One datagram to the listener of the window made last, sent from `host`.
  bool SendFrom(const std::string& host, std::string_view bytes) {
    return SendDatagram(host, bytes, ListenerPort());
  }
  // The board's beacon, as the board sends it.
  bool SendBeacon(const board_peer::BoardPeer& board) {
    return SendFrom(board.Host(), board.BeaconBytes());
  }
};

TEST_F(Discovery, BeaconLayoutDecidesWhetherAndUnderWhichNameABoardIsTaken) {
  struct Case {
    const char* what;
    std::string bytes;
    bool taken;
    std::string name;  // in the system ANSI code page, here Western European
  };
  const Case cases[] = {
      {"10 bytes", "vellumark\x01", false, ""},
      {"11 bytes with the keyword", "vellumark\x01x", true, ""},
      {"keyword in capitals", board_peer::MakeBeacon("Board").replace(0, 9, "VELLUMARK"), false,
       ""},
      {"a keyword byte above 0x7F", board_peer::MakeBeacon("Board").replace(3, 1, "\xEC"), false,
       ""},
      {"name before the first ;", board_peer::MakeBeacon("Board A"), true, "Board A"},
      {"byte 9 is not read", Bytes("vellumark;", "Nine;x", kTrailer), true, "Nine"},
      {"no ;", Bytes(kHead, "NoSemicolon", kTrailer), true, ""},
      {"leading ;", Bytes(kHead, ";Name", kTrailer), true, ""},
      {"the text ends at a NUL", Bytes(kHead, std::string("Nm\0;x;", 6), kTrailer), true, ""},
      {"a NUL after the name", Bytes(kHead, std::string("Nm;x\0y", 6), kTrailer), true, "Nm"},
      {"a ; in the last 10 bytes is not read", Bytes(kHead, "Name", "01234;6789"), true, ""},
      {"20 bytes carry no text", Bytes(kHead, "", "Ab;defghij"), true, ""},
      {"UTF-8 name in the ANSI code page",
       board_peer::MakeBeacon("Gr\xC3\xB6\xC3\x9F"
                              "e"),
       true,
       "Gr\xF6\xDF"
       "e"},
  };
  rtl::SetSystemAnsiCodePage("WINDOWS-1252");
  const std::string board = "127.77.0.1";
  const std::string sentinel = "127.77.0.2";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto form = ListeningWindow();
    StdoutCapture out;
    ASSERT_TRUE(SendFrom(board, c.bytes));
    // The listener takes datagrams in order: once the sentinel is in, the case was handled.
    ASSERT_TRUE(SendFrom(sentinel, board_peer::MakeBeacon("sentinel")));
    ASSERT_TRUE(WaitFor([&] { return Knows(*form, sentinel); }));

    const auto known = form->server_list.Entries();
    ASSERT_EQ(known.size(), c.taken ? 2u : 1u);
    if (c.taken) {
      EXPECT_EQ(known[0].ip, board);
      EXPECT_EQ(known[0].name, c.name);
      EXPECT_FALSE(known[0].flg_connect);
    }
    EXPECT_EQ(known.back().name, "sentinel");
    EXPECT_EQ(out.Lines("receive udp"), c.taken ? 2 : 1);
  }
}

TEST_F(Discovery, BoardsStayInTheOrderFirstHeardAndAKnownAddressChangesNothing) {
  auto form = ListeningWindow();
  StdoutCapture out;
  ASSERT_TRUE(SendFrom("127.77.0.1", board_peer::MakeBeacon("One")));
  ASSERT_TRUE(SendFrom("127.77.0.2", board_peer::MakeBeacon("Two")));
  ASSERT_TRUE(SendFrom("127.77.0.1", board_peer::MakeBeacon("Renamed")));
  ASSERT_TRUE(SendFrom("127.77.0.2", "vellumark\x01x"));  // now with an empty name
  ASSERT_TRUE(SendFrom("127.77.0.3", board_peer::MakeBeacon("Three")));
  ASSERT_TRUE(WaitFor([&] { return Knows(*form, "127.77.0.3"); }));

  const auto known = form->server_list.Entries();
  ASSERT_EQ(known.size(), 3u);
  EXPECT_EQ(known[0].ip, "127.77.0.1");
  EXPECT_EQ(known[0].name, "One");
  EXPECT_EQ(known[1].ip, "127.77.0.2");
  EXPECT_EQ(known[1].name, "Two");
  EXPECT_EQ(known[2].ip, "127.77.0.3");
  EXPECT_EQ(known[2].name, "Three");
  EXPECT_EQ(out.Lines("receive udp"), 5);  // known boards are still reported
}

TEST_F(Discovery, BoardsBeyondTheTwentiethAreIgnored) {
  auto form = ListeningWindow();
  StdoutCapture out;
  const auto host = [](int i) { return "127.77.1." + std::to_string(i); };
  for (int i = 1; i <= 22; ++i)
    ASSERT_TRUE(SendFrom(host(i), board_peer::MakeBeacon("Board " + std::to_string(i))));
  // A beacon of a known board after them: once it is reported, the 22nd was handled.
  ASSERT_TRUE(SendFrom(host(1), board_peer::MakeBeacon("again")));
  ASSERT_TRUE(WaitFor([&] { return out.Lines("receive udp") == 23; }));

  const auto known = form->server_list.Entries();
  ASSERT_EQ(known.size(), 20u);
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(known[i].ip, host(i + 1));
    EXPECT_EQ(known[i].name, "Board " + std::to_string(i + 1));
  }
  EXPECT_EQ(form->count_server(), 20);
}

TEST_F(Discovery, TheProgramsWindowListensOnUdp3395OfEveryAddress) {
  // The one window on the real port. A lock file keeps test runs of other build folders on
  // this machine off the port meanwhile; a program that holds it skips the test.
  const clienttest::RealUdpPortLock lock;

  ui::SetScreenMetrics(std::make_shared<ui::FixedScreenMetrics>(QSize(960, 540), 1.0));
  std::unique_ptr<TFormMain> form;
  try {
    form = std::make_unique<TFormMain>(nullptr);
  } catch (const net::Error& e) {
    if (std::string_view(e.what()).find("already in use") != std::string_view::npos)
      GTEST_SKIP() << "UDP 3395 is held by another program (" << e.what() << ")";
    throw;
  }
  form->timer_find->SetEnabled(false);
  EXPECT_EQ(form->udp->BoundPort(), 3395);
  // Every local address: 127.0.0.2 reaches it as well as 127.0.0.1.
  ASSERT_TRUE(SendDatagram("127.77.0.1", board_peer::MakeBeacon("One"), 3395, "127.0.0.1"));
  ASSERT_TRUE(SendDatagram("127.77.0.2", board_peer::MakeBeacon("Two"), 3395, "127.0.0.2"));
  ASSERT_TRUE(WaitFor([&] { return form->count_server() == 2; }));
  const auto known = form->server_list.Entries();
  EXPECT_EQ(known[0].name, "One");
  EXPECT_EQ(known[1].name, "Two");
}

// ---------------------------------------------------------------- auto-connect

class AutoConnect : public Discovery {
 protected:
  std::unique_ptr<board_peer::BoardPeer> StartBoard(const std::string& name) {
    return clienttest::StartBoard(name);
  }
  static void MakeSlides(int count) {
    fs::create_directory("img_default");
    for (int i = 1; i <= count; ++i) {
      QImage page(32, 18, QImage::Format_RGB32);
      page.fill(Qt::white);
      ASSERT_TRUE(page.save(QStringLiteral("img_default/page%1.png").arg(i), "PNG"));
    }
  }
};

TEST_F(AutoConnect, FirstBeaconConnectsOnceSaysReloadAndFillsTheStrip) {
  MakeSlides(3);
  auto board = StartBoard("Room 4");
  auto form = MakeWindow();
  StdoutCapture out;
  ASSERT_TRUE(SendBeacon(*board));
  ASSERT_TRUE(PumpUntil([&] { return form->img_sw_con->Enabled(); }));

  ASSERT_TRUE(board->WaitForTexts(2, 5s));
  const auto texts = board->Texts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0].raw, R"({"pcup":""})");
  EXPECT_EQ(texts[1].raw, R"({"phone":{"sendToId":531864207,"message":{"msgId":3,"msgType":2,)"
                          R"("msg":{"command":"reload","id":")" +
                              form->device_id + R"("}}}})");
  EXPECT_EQ(board->ConnectionCount(), 1u);

  EXPECT_TRUE(form->img_connect_info->Visible());
  EXPECT_EQ(form->txt_name->GetText(), QStringLiteral("Room 4"));
  EXPECT_EQ(form->txt_ip->GetText(), QString::fromStdString(board->Host()));
  EXPECT_EQ(form->FrameSetting->ip_server, board->Host());
  EXPECT_TRUE(form->FrameSetting->layout_exp->Enabled());
  EXPECT_TRUE(form->FrameSetting->layout_exp->HitTest());
  EXPECT_TRUE(form->img_clear->Enabled());
  EXPECT_EQ(form->scroll_view->Content()->ChildrenCount(), 3);
  EXPECT_EQ(form->bitmap_list.size(), 3u);
  EXPECT_FALSE(form->timer_find->Enabled());
  char host[256] = {};
  ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
  EXPECT_EQ(m_PCname, host);
  auto known = form->server_list.Entries();
  ASSERT_EQ(known.size(), 1u);
  EXPECT_TRUE(known[0].flg_connect);
  EXPECT_EQ(out.Lines("receive udp"), 1);
  EXPECT_EQ(out.Lines("./img_default"), 1);
  EXPECT_TRUE(dialogs_.empty());

  // A later board joins the table and is left alone.
  auto second = StartBoard("Room 5");
  ASSERT_TRUE(SendBeacon(*second));
  ASSERT_TRUE(PumpUntil([&] { return form->server_list.Entries().size() == 2; }));
  Pump(300ms);
  EXPECT_EQ(second->ConnectionCount(), 0u);
  EXPECT_EQ(board->ConnectionCount(), 1u);
  known = form->server_list.Entries();
  EXPECT_FALSE(known[1].flg_connect);
  form.reset();  // before the board goes, so the supervisor does not reconnect
}

TEST_F(AutoConnect, AFailedConnectShowsTheDialogOnceAndIsNotRetried) {
  MakeSlides(1);
  const std::string silent = board_peer::BoardPeer::FreeLoopbackHost();  // nobody listens
  ASSERT_FALSE(silent.empty());
  auto form = MakeWindow();
  ASSERT_TRUE(SendFrom(silent, board_peer::MakeBeacon("Gone")));
  ASSERT_TRUE(PumpUntil([&] { return !dialogs_.empty(); }));
  EXPECT_FALSE(form->timer_find->Enabled());

  auto later = StartBoard("Later");
  ASSERT_TRUE(SendBeacon(*later));
  ASSERT_TRUE(PumpUntil([&] { return form->server_list.Entries().size() == 2; }));
  Pump(400ms);
  EXPECT_EQ(later->ConnectionCount(), 0u);
  ASSERT_EQ(dialogs_.size(), 1u);
  EXPECT_EQ(dialogs_[0], QStringLiteral("Please check the network connection status"));
  EXPECT_FALSE(form->server_list.Entries()[0].flg_connect);
  EXPECT_FALSE(form->img_connect_info->Visible());
  EXPECT_FALSE(form->img_sw_con->Enabled());
  EXPECT_EQ(form->scroll_view->Content()->ChildrenCount(), 0);
}

TEST_F(AutoConnect, MissingSlideFolderStopsTheSequenceAfterReload) {
  auto board = StartBoard("No slides");
  auto form = MakeWindow();
  ASSERT_TRUE(SendBeacon(*board));
  ASSERT_TRUE(PumpUntil([&] { return !dialogs_.empty(); }));
  ASSERT_EQ(dialogs_.size(), 1u);
  EXPECT_EQ(dialogs_[0], QStringLiteral("The specified path was not found"));
  ASSERT_TRUE(board->WaitForTexts(2, 5s));
  EXPECT_EQ(board->Texts()[1].json["phone"]["message"]["msg"]["command"], "reload");
  EXPECT_TRUE(form->img_connect_info->Visible());  // the steps before it stay done
  EXPECT_TRUE(form->img_clear->Enabled());
  EXPECT_FALSE(form->img_sw_con->Enabled());
  EXPECT_FALSE(form->server_list.Entries()[0].flg_connect);
  EXPECT_EQ(form->scroll_view->Content()->ChildrenCount(), 0);
  form.reset();
}

TEST_F(AutoConnect, AFailedReloadLeavesTheStripUnbuilt) {
  MakeSlides(2);
  auto form = MakeWindow();
  form->timer_find->SetEnabled(false);
  ui::Guarded([&] { form->ReLoadView(); });  // no connection: the send raises
  EXPECT_EQ(dialogs_.size(), 1u);
  EXPECT_TRUE(form->img_connect_info->Visible());
  EXPECT_TRUE(form->FrameSetting->layout_exp->Enabled());
  EXPECT_TRUE(form->img_clear->Enabled());
  EXPECT_EQ(form->scroll_view->Content()->ChildrenCount(), 0);
  EXPECT_FALSE(form->img_sw_con->Enabled());
}

}  // namespace
