// A board that accepts the connection and then stops reading: the receive thread's "clear"
// answers fill the buffers and block, the UI thread's sends wait behind them. The window must
// keep living, every send must fail within the write deadline, Escape and "Close the Program"
// must end the program at once, and the supervisor must connect again.

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BoardSession.h"
#include "ClientQtEnvironment.h"
#include "MainForm.h"
#include "SocketTable.h"
#include "board_peer/BoardPeer.h"
#include "board_peer/Wire.h"
#include "net/Error.h"
#include "ui/Application.h"

namespace {

using namespace std::chrono_literals;
using clienttest::WindowTest;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr std::string_view kHandshake = R"({"pcup":""}pqend)";
constexpr auto kDeadline = std::chrono::milliseconds(TcpThread::kWriteTimeoutMs);
// The machine is shared and loaded: what must take "about a second" gets this much more.
constexpr auto kMargin = 2500ms;

std::unique_ptr<board_peer::BoardPeer> StartStallingBoard() {
  board_peer::Options options;
  options.host = "";
  options.beacon_interval = 0ms;
  options.receive_buffer = 4096;
  auto board = std::make_unique<board_peer::BoardPeer>(options);
  std::string error;
  EXPECT_TRUE(board->Start(&error)) << error;
  return board;
}

std::string Resets(int n) {
  std::string frames;
  for (int i = 0; i < n; ++i) frames += board_peer::MakeFrame("1_reset");
  return frames;
}

// Ends a wait that nothing else would end (without the write deadline): the test then fails
// on its time bounds instead of hanging.
class Watchdog {
 public:
  Watchdog(std::chrono::milliseconds after, std::function<void()> act)
      : thread_([this, after, act = std::move(act)] {
          std::unique_lock lock(mutex_);
          if (!cv_.wait_for(lock, after, [this] { return done_; })) act();
        }) {}
  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
  std::thread thread_;
};

// A shown window connected to a board that stalls, with its waits in writes counted: the
// window's own wait hook stays in place and runs as before.
class BlockedWrite : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    clienttest::ResetConnectState();
  }
  void TearDown() override {
    form_.reset();
    if (fd_ >= 0) ::close(fd_);
    board_.reset();
    clienttest::ResetConnectState();
    WindowTest::TearDown();
  }

  void Open() {
    board_ = StartStallingBoard();
    form_ = MakeWindow();
    form_->timer_find->SetEnabled(false);
    form_->Show();
    const net::WaitHook serve = form_->tcp->GetWaitHook();
    ASSERT_TRUE(serve);
    form_->tcp->SetWaitHook([this, serve] {
      ++(ui::IsUiThread() ? ui_waits_ : other_waits_);
      serve();
    });
    ASSERT_TRUE(form_->tcp_thread->tcp_connect(board_->Host()));
    ASSERT_TRUE(board_->WaitForTexts(1, 5s));
    // A small send buffer, so a few hundred answers fill it.
    fd_ = socktest::ConnectionDescriptor(::getpid(), board_->Host(), TcpThread::kPort);
    ASSERT_GE(fd_, 0);
    fd_ = ::dup(fd_);  // the window closes its own
    const int small = 4096;
    ASSERT_EQ(::setsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &small, sizeof small), 0);
  }

  // The board stops reading and sends "1_reset" frames until the "clear" answers have filled
  // every buffer on the way and the receive thread waits in the write of one (holding the
  // write lock) that cannot move any more.
  void BlockTheReceiveThread() {
    ASSERT_TRUE(board_->SetStalled(true));
    ASSERT_TRUE(board_->SendRaw(Resets(1000)));
    // Every answer repaints the window on the UI thread: in a sanitizer build on a loaded
    // machine the thousand take well over 30 s. A passing run waits only as long as they take.
    ASSERT_TRUE(PumpUntil([&] { return socktest::SendsStuck(fd_); }, 90s))
        << "the answers never filled the buffers";
    const int waits = other_waits_;
    ASSERT_TRUE(PumpUntil([&] { return other_waits_ >= waits + 2; }, 10s))
        << "the receive thread does not wait in a write";
  }

  std::unique_ptr<board_peer::BoardPeer> board_;
  std::unique_ptr<TFormMain> form_;
  int fd_ = -1;
  std::atomic<int> ui_waits_{0};
  std::atomic<int> other_waits_{0};
};

// Counts the paint events of a widget.
class PaintCounter : public QObject {
 public:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) ++paints;
    return false;
  }
  std::atomic<int> paints{0};
};

TEST_F(BlockedWrite, AUiSendBehindABlockedClearFailsWithinTheDeadlineWhileTheWindowRepaints) {
  Open();
  BlockTheReceiveThread();

  bool in_send = false;
  PaintCounter painted;
  form_->Widget()->installEventFilter(&painted);
  form_->Repaint();
  // Work queued for the UI thread and a running timer: held back during the wait, not lost.
  int queued_runs = 0;
  bool queued_ran_inside = false;
  ui::PostToUiThread([&] {
    ++queued_runs;
    queued_ran_inside = in_send;
  });
  int ticks = 0;
  bool ticked_inside = false;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    ++ticks;
    ticked_inside = ticked_inside || in_send;
  });
  timer.start(10);
  // A click on the settings button: dropped, not delivered later.
  QWindow* window = form_->Widget()->windowHandle();
  ASSERT_NE(window, nullptr);
  const QPointF at = form_->img_set_con->LocalToForm().map(
      QPointF(form_->img_set_con->Width() / 2, form_->img_set_con->Height() / 2));
  QCoreApplication::postEvent(
      window, new QMouseEvent(QEvent::MouseButtonPress, at, window->mapToGlobal(at), Qt::LeftButton,
                              Qt::LeftButton, Qt::NoModifier));
  QCoreApplication::postEvent(
      window, new QMouseEvent(QEvent::MouseButtonRelease, at, window->mapToGlobal(at),
                              Qt::LeftButton, Qt::NoButton, Qt::NoModifier));

  std::string error;
  const auto start = Clock::now();
  {
    Watchdog watchdog(kDeadline + 15s, [&] { form_->tcp->Disconnect(); });
    in_send = true;
    try {
      form_->CreateCommandMessage(u"reload");
    } catch (const net::Error& e) {
      error = e.what();
    }
    in_send = false;
  }
  const auto took = Clock::now() - start;
  std::printf(
      "the UI send failed after %lld ms: %s\n",
      static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()),
      error.c_str());

  EXPECT_TRUE(error == "Write timed out." || error == "Not Connected") << error;
  EXPECT_LE(took, kDeadline + kMargin);
  EXPECT_GT(ui_waits_, 0) << "the UI thread waited with the hook";
  EXPECT_GT(painted.paints, 0) << "no repaint during the wait";
  EXPECT_FALSE(queued_ran_inside);
  EXPECT_FALSE(ticked_inside);

  // The window handles events again: the held work runs once, the timer ticks on.
  const int ticks_before = ticks;
  EXPECT_TRUE(PumpUntil([&] { return queued_runs == 1 && ticks > ticks_before; }, 5s));
  EXPECT_EQ(queued_runs, 1);
  EXPECT_FALSE(form_->shade_set->Visible()) << "the click made during the wait acted";
  form_->Widget()->removeEventFilter(&painted);

  // The stuck connection is gone; once the board reads again the supervisor's new connection
  // carries the handshake, and sends work again.
  ASSERT_TRUE(board_->SetStalled(false));
  ASSERT_TRUE(PumpUntil(
      [&] {
        const auto connections = board_->Connections();
        return connections.size() >= 2 && connections.back().stream == kHandshake &&
               form_->tcp->Connected();
      },
      15s))
      << "no reconnect";
  form_->CreateCommandMessage(u"reload");
  EXPECT_TRUE(PumpUntil(
      [&] { return board_->Connections().back().stream.size() > kHandshake.size(); }, 5s));
  EXPECT_TRUE(dialogs_.empty());
}

// Escape and "Close the Program" while the UI thread itself waits in a send, delivered from
// another thread as the window system delivers input: to the window, through the event queue.
TEST_F(BlockedWrite, EscapeOrCloseTheProgramDuringABlockedSendEndsAtOnceWithoutADialog) {
  struct Case {
    const char* what;
    bool settings;  // the settings overlay open on its General page
  } cases[] = {{"Escape", false}, {"Close the Program", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ui_waits_ = 0;
    other_waits_ = 0;
    Open();
    BlockTheReceiveThread();
    if (c.settings) form_->img_set_click(nullptr);

    QWindow* window = form_->Widget()->windowHandle();
    ASSERT_NE(window, nullptr);
    std::vector<QEvent*> input;
    if (c.settings) {
      ui::Control* finish = form_->FrameSetting->img_finish;
      const QPointF at =
          finish->LocalToForm().map(QPointF(finish->Width() / 2, finish->Height() / 2));
      input.push_back(new QMouseEvent(QEvent::MouseButtonPress, at, window->mapToGlobal(at),
                                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
      input.push_back(new QMouseEvent(QEvent::MouseButtonRelease, at, window->mapToGlobal(at),
                                      Qt::LeftButton, Qt::NoButton, Qt::NoModifier));
    } else {
      input.push_back(
          new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier, QString(QChar(27))));
    }

    // Once the UI thread waits inside the send, the input comes.
    std::atomic<bool> stop{false};
    Clock::time_point delivered{};
    std::thread user([&] {
      while (ui_waits_ == 0 && !stop) std::this_thread::sleep_for(1ms);
      delivered = Clock::now();
      for (QEvent* e : input) {
        if (stop)
          delete e;  // the send ended without waiting
        else
          QCoreApplication::postEvent(window, e);
      }
    });

    Clock::time_point returned{};
    {
      Watchdog watchdog(kDeadline + 15s, [&] { form_->tcp->Disconnect(); });
      // As a handler runs it: a failure raises out of it into the UI layer.
      ui::Guarded([&] { form_->CreateCommandMessage(u"reload"); });
      returned = Clock::now();
    }
    stop = true;
    user.join();
    const auto reacted = returned - delivered;
    std::printf("%s: the send ended %lld ms after the input\n", c.what,
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(reacted).count()));
    EXPECT_LT(reacted, 1000ms + kMargin);
    EXPECT_FALSE(form_->flg_run);
    EXPECT_FALSE(form_->IsShown());
    EXPECT_FALSE(form_->tcp->Connected());
    EXPECT_TRUE(dialogs_.empty()) << "a dialog over the closing window: "
                                  << dialogs_.front().toStdString();

    // The window's end waits for no blocked write.
    const auto closing = Clock::now();
    form_.reset();
    EXPECT_LT(Clock::now() - closing, 1000ms + kMargin);
    ::close(fd_);
    fd_ = -1;
    board_.reset();
    clienttest::ResetConnectState();
    dialogs_.clear();
  }
}

// ---------------------------------------------------------------- the program itself

// A minimal viewer on Qt's VNC platform: the client program draws on it and takes its pointer
// and keys, as from a real window system outside the process.
class VncViewer {
 public:
  bool Connect(int port) {
    for (const auto until = Clock::now() + 20s; Clock::now() < until;) {
      fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(static_cast<std::uint16_t>(port));
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) break;
      ::close(fd_);
      fd_ = -1;
      std::this_thread::sleep_for(20ms);  // the program is starting: poll for its server
    }
    if (fd_ < 0) return false;
    // RFB 3.3: version, the server's security type (none), shared session, server init.
    std::string version = Read(12);
    if (version.rfind("RFB 003.", 0) != 0) return false;
    Write("RFB 003.003\n");
    if (Read(4) != std::string("\0\0\0\1", 4)) return false;
    Write(std::string(1, '\1'));
    const std::string init = Read(24);
    if (init.size() != 24) return false;
    const std::uint32_t name_length =
        static_cast<std::uint8_t>(init[20]) << 24 | static_cast<std::uint8_t>(init[21]) << 16 |
        static_cast<std::uint8_t>(init[22]) << 8 | static_cast<std::uint8_t>(init[23]);
    return Read(name_length).size() == name_length;
  }
  ~VncViewer() {
    if (fd_ >= 0) ::close(fd_);
  }
  void Pointer(std::uint8_t buttons, int x, int y) {
    Write({5, static_cast<char>(buttons), static_cast<char>(x >> 8), static_cast<char>(x),
           static_cast<char>(y >> 8), static_cast<char>(y)});
  }
  void Key(std::uint32_t keysym, bool down) {
    Write({4, static_cast<char>(down), 0, 0, static_cast<char>(keysym >> 24),
           static_cast<char>(keysym >> 16), static_cast<char>(keysym >> 8),
           static_cast<char>(keysym)});
  }

 private:
  void Write(const std::string& bytes) {
    [[maybe_unused]] const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  }
  std::string Read(std::size_t n) {
    std::string out;
    while (out.size() < n) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 10000) != 1) break;
      char buf[256];
      const ssize_t got = ::recv(fd_, buf, std::min(sizeof buf, n - out.size()), 0);
      if (got <= 0) break;
      out.append(buf, static_cast<std::size_t>(got));
    }
    return out;
  }
  int fd_ = -1;
};

int FreeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

std::string ReadText(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(BlockedWrite, TheProgramEndsWithZeroWhenEscapeComesDuringABlockedSend) {
  // The client's run folder: two pages in its slide folder.
  fs::create_directories(dir_ / "img_default");
  clienttest::WritePicture(dir_ / "img_default" / "page1.png");
  clienttest::WritePicture(dir_ / "img_default" / "page2.png");
  // Where the first thumbnail lies on a 960 x 540 screen, from a window of the same build.
  QPointF thumb;
  {
    auto probe = MakeWindow({960, 540});
    probe->timer_find->SetEnabled(false);
    probe->SetLayoutValue();
    ASSERT_GE(probe->scroll_view->Content()->ChildrenCount(), 1);
    ui::Control* first = probe->scroll_view->Content()->Child(0);
    thumb = first->LocalToForm().map(QPointF(first->Width() / 2, first->Height() / 2));
  }

  // The program listens on the real port 3395.
  const clienttest::RealUdpPortLock lock;
  board_ = StartStallingBoard();
  const int vnc_port = FreeLoopbackPort();
  const std::string platform = "vnc:size=960x540:port=" + std::to_string(vnc_port);
  const fs::path out = dir_ / "stdout.txt";
  const fs::path err = dir_ / "stderr.txt";
  // Everything the child needs is made before the fork: after it, only exec-safe calls.
  // In a sanitizer build, the leak check of the program leaves out what Qt's VNC platform
  // itself keeps at exit; every leak of the program's own code is still reported.
  const fs::path leaks = dir_ / "lsan.supp";
  WriteFile(leaks, "leak:libqvnc.so\n");
  std::string lsan = "LSAN_OPTIONS=suppressions=" + leaks.string();
  std::vector<std::string> env_text;
  for (char** e = environ; *e; ++e) {
    const std::string_view entry(*e);
    if (entry.rfind("QT_QPA_PLATFORM=", 0) == 0) continue;
    if (entry.rfind("LSAN_OPTIONS=", 0) == 0) {
      lsan += ":" + std::string(entry.substr(13));
      continue;
    }
    env_text.emplace_back(entry);
  }
  env_text.push_back("QT_QPA_PLATFORM=" + platform);
  env_text.push_back(lsan);
  std::vector<char*> envp;
  for (std::string& e : env_text) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string program = VM_CLIENT_PROGRAM;
  char* argv[] = {program.data(), nullptr};
  const int out_fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const int err_fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(out_fd, 0);
  ASSERT_GE(err_fd, 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::dup2(out_fd, STDOUT_FILENO);
    ::dup2(err_fd, STDERR_FILENO);
    ::execve(argv[0], argv, envp.data());
    ::_exit(127);
  }
  ::close(out_fd);
  ::close(err_fd);
  int status = -1;
  auto ended = [&](std::chrono::milliseconds limit) {
    const auto until = Clock::now() + limit;
    while (::waitpid(child, &status, WNOHANG) != child) {
      if (Clock::now() >= until) return false;
      std::this_thread::sleep_for(5ms);
    }
    return true;
  };
  struct Reaper {
    pid_t pid;
    int* status;
    ~Reaper() {
      if (::waitpid(pid, status, WNOHANG) == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, status, 0);
      }
    }
  } reaper{child, &status};

  VncViewer viewer;
  if (!viewer.Connect(vnc_port)) {
    if (ended(0ms) && ReadText(err).find("platform plugin") != std::string::npos)
      GTEST_SKIP() << "Qt's VNC platform is not installed (qt6-qpa-plugins): " << ReadText(err);
    FAIL() << "no VNC server came up: " << ReadText(err);
  }
  // Discovery: the first beacon, and the client connects, shakes hands and asks for "reload".
  ASSERT_TRUE(PumpUntil(
      [&] {
        board_->SendBeacon();
        return clienttest::CountOf(clienttest::Commands(*board_), "reload") == 1;
      },
      20s))
      << ReadText(err);
  ASSERT_TRUE(board_->SetStalled(true));
  const int fd = socktest::ConnectionDescriptor(child, board_->Host(), TcpThread::kPort);
  ASSERT_GE(fd, 0) << "the client's connection";
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  const int small = 4096;
  ASSERT_EQ(::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &small, sizeof small), 0);
  ASSERT_TRUE(board_->SendRaw(Resets(1000)));
  // The "clear" answers fill the buffers; from then on every write of the client blocks until
  // its deadline, the receive thread's first.
  ASSERT_TRUE(PumpUntil([&] { return socktest::SendsStuck(fd); }, 30s));

  // A click on a thumbnail places its page, and the page's messages go out from the click's
  // handler: that send waits. The Escape behind the click can only be handled inside it.
  const int x = static_cast<int>(thumb.x());
  const int y = static_cast<int>(thumb.y());
  viewer.Pointer(0, x, y);
  viewer.Pointer(1, x, y);
  viewer.Pointer(0, x, y);
  viewer.Key(0xff1b, true);  // Escape
  viewer.Key(0xff1b, false);
  const auto pressed = Clock::now();
  const bool exited = ended(1000ms + kMargin);
  const auto took = Clock::now() - pressed;
  std::printf(
      "the program ended %lld ms after Escape\n",
      static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
  ASSERT_TRUE(exited) << "still running " << kMargin.count() + 1000 << " ms after Escape";
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status) << ": " << ReadText(err);
  EXPECT_EQ(WEXITSTATUS(status), 0) << ReadText(err);
  // The click's send failed because of the stop: its error was not shown over the closing
  // window, it went to standard error.
  const std::string errors = ReadText(err);
  EXPECT_TRUE(errors.find("Not Connected") != std::string::npos ||
              errors.find("Disconnected.") != std::string::npos)
      << "the click's send was not under way: " << errors;
}

}  // namespace
