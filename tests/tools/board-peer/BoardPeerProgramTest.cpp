// The board-peer program, driven through its stdin and stdout like a person at a terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "SocketHelpers.h"
#include "board_peer/BoardPeer.h"

extern char** environ;

namespace board_peer {
namespace {

using namespace std::chrono_literals;
using testing::Socket;

class Program {
 public:
  explicit Program(std::vector<std::string> args) {
    int in[2], out[2];
    EXPECT_EQ(::pipe2(in, O_CLOEXEC), 0);
    EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&fa, out[1], STDOUT_FILENO);
    args.insert(args.begin(), BOARD_PEER_EXE);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    EXPECT_EQ(posix_spawn(&pid_, BOARD_PEER_EXE, &fa, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&fa);
    ::close(in[0]);
    ::close(out[1]);
    stdin_ = in[1];
    stdout_ = out[0];
  }
  ~Program() {
    CloseStdin();
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (stdout_ >= 0) ::close(stdout_);
  }

  void Command(const std::string& line) {
    const std::string text = line + "\n";
    EXPECT_EQ(::write(stdin_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  void CloseStdin() {
    if (stdin_ >= 0) ::close(stdin_);
    stdin_ = -1;
  }

  // The next output line that starts with prefix, skipping others; empty after the time-out.
  std::string LineStartingWith(const std::string& prefix, int timeout_ms = 3000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      std::size_t eol;
      while ((eol = buffer_.find('\n')) != std::string::npos) {
        std::string line = buffer_.substr(0, eol);
        buffer_.erase(0, eol + 1);
        if (line.rfind(prefix, 0) == 0) return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
      if (left <= 0) return {};
      pollfd p{stdout_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left)) != 1) return {};
      char buf[4096];
      const ssize_t n = ::read(stdout_, buf, sizeof buf);
      if (n <= 0) return {};
      buffer_.append(buf, static_cast<std::size_t>(n));
    }
  }

  // Exit code after a signal, or -1 when it does not end within the time-out.
  int StopWith(int sig, int timeout_ms = 5000) {
    ::kill(pid_, sig);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(10ms);
    }
    return -1;
  }

 private:
  pid_t pid_ = -1;
  int stdin_ = -1;
  int stdout_ = -1;
  bool exited_ = false;
  std::string buffer_;
};

TEST(BoardPeerProgramTest, CommandsDriveTheBoardAndItOutlivesStdin) {
  const std::string host = BoardPeer::FreeLoopbackHost();
  ASSERT_FALSE(host.empty());
  Program p({"--host", host, "--interval", "0", "--name", "Demo"});
  const std::string banner = p.LineStartingWith("board ");
  ASSERT_NE(banner.find(host), std::string::npos) << banner;

  Socket s = Socket::Connect(host, 3392);
  ASSERT_TRUE(s.valid());
  EXPECT_NE(p.LineStartingWith("connected 0"), "");
  ASSERT_TRUE(s.Send("{\"pcup\":\"\"}pqend"));
  EXPECT_EQ(p.LineStartingWith("text "), "text 0: {\"pcup\":\"\"}");

  p.Command("tosmall");
  p.Command("reset");
  p.Command("frame hello board");
  EXPECT_EQ(s.Read(13 + 13 + 6 + 11),
            MakeFrame("tosmall") + MakeFrame("1_reset") + MakeFrame("hello board"));

  p.Command("refuse");
  EXPECT_NE(p.LineStartingWith("refusing"), "");
  int err = 0;
  EXPECT_FALSE(Socket::Connect(host, 3392, 2000, &err).valid());
  EXPECT_EQ(err, ECONNREFUSED);
  p.Command("accept");
  EXPECT_NE(p.LineStartingWith("accepting"), "");
  p.Command("stall");
  EXPECT_NE(p.LineStartingWith("stalled"), "");
  ASSERT_TRUE(s.Send("{\"pcup\":\"\"}pqend"));
  p.Command("resume");  // its answer and the text it lets in come in either order
  EXPECT_EQ(p.LineStartingWith("text "), "text 0: {\"pcup\":\"\"}") << "read after resume";
  p.Command("close");
  EXPECT_NE(p.LineStartingWith("closed 0"), "");

  // Started in the background, stdin may end: the board keeps serving.
  p.CloseStdin();
  std::this_thread::sleep_for(300ms);
  Socket again = Socket::Connect(host, 3392);
  ASSERT_TRUE(again.valid());
  EXPECT_NE(p.LineStartingWith("connected 1"), "");

  EXPECT_EQ(p.StopWith(SIGTERM), 0);
}

TEST(BoardPeerProgramTest, QuitCommandAndInterrupt) {
  const std::string host = BoardPeer::FreeLoopbackHost();
  {
    Program p({"--host", host, "--interval", "0"});
    ASSERT_NE(p.LineStartingWith("board "), "");
    p.Command("quit");
    EXPECT_NE(p.LineStartingWith("stopped"), "");
    EXPECT_EQ(p.StopWith(0), 0);
  }
  Program p({"--host", host, "--interval", "0"});
  ASSERT_NE(p.LineStartingWith("board "), "");
  EXPECT_EQ(p.StopWith(SIGINT), 0);
}

TEST(BoardPeerProgramTest, BadOptionsAndHelp) {
  {
    Program p({"--help"});
    EXPECT_NE(p.LineStartingWith("usage: board-peer"), "");
    EXPECT_EQ(p.StopWith(0), 0);
  }
  {
    Program p({"--interval", "soon"});
    EXPECT_EQ(p.StopWith(0), 2);
  }
  {
    Program p({"--rcvbuf", "0"});
    EXPECT_EQ(p.StopWith(0), 2);
  }
  {
    Program p({"--host", "not-an-address"});
    EXPECT_EQ(p.StopWith(0), 1);
  }
}

}  // namespace
}  // namespace board_peer
