// Runs the built programs from a temporary copy of the toimg folder, as the client starts them.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "TestSupport.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

enum class Input { Pipe, Empty, Closed };

class Child {
 public:
  Child(const fs::path& program, const std::vector<std::string>& args, Input input,
        const std::vector<std::string>& env = {}) {
    int outPipe[2];
    int inPipe[2];
    EXPECT_EQ(::pipe2(outPipe, O_CLOEXEC), 0);
    EXPECT_EQ(::pipe2(inPipe, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
    switch (input) {
      case Input::Pipe:
        posix_spawn_file_actions_adddup2(&actions, inPipe[0], STDIN_FILENO);
        break;
      case Input::Empty:
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        break;
      case Input::Closed:
        posix_spawn_file_actions_addclose(&actions, STDIN_FILENO);
        break;
    }
    std::vector<std::string> argStrings{program.string()};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argStrings) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStrings = env;
    for (char** e = environ; *e != nullptr; ++e) envStrings.emplace_back(*e);
    std::vector<char*> envp;
    for (std::string& e : envStrings) envp.push_back(e.data());
    envp.push_back(nullptr);
    EXPECT_EQ(::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data()),
              0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(outPipe[1]);
    ::close(inPipe[0]);
    out_ = outPipe[0];
    in_ = inPipe[1];
    pidfd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
    EXPECT_GE(pidfd_, 0) << std::strerror(errno);
  }
  ~Child() {
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) ::close(out_);
    if (in_ >= 0) ::close(in_);
    if (pidfd_ >= 0) ::close(pidfd_);
  }

  void Send(std::string_view bytes) {
    EXPECT_EQ(::write(in_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  // True once a thread of the child sits in a read of its standard input, which is how waiting
  // for Enter looks from outside; false when the child ends first or `limit` passes. Only
  // meaningful while nothing has been sent: a read of an empty pipe blocks until we write.
  bool WaitsForInput(std::chrono::milliseconds limit = kLimit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
      if (ReadsStandardInput()) return true;
      if (std::chrono::steady_clock::now() > end) return false;
      // Wakes at once when the child ends; otherwise looks again shortly.
      if (Ended(10ms)) return false;
    }
  }

  // The exit code, or -1000 when the child did not end in time (it is then killed).
  int Wait(std::chrono::milliseconds limit = kLimit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          end - std::chrono::steady_clock::now());
      if (Ended(std::max(left, 0ms))) {
        int status = 0;
        EXPECT_EQ(::waitpid(pid_, &status, 0), pid_);
        exited_ = true;
        Drain();
        return WIFEXITED(status) ? WEXITSTATUS(status) : -2000;
      }
      if (left <= 0ms) return -1000;
    }
  }

  std::string Output() {
    Drain();
    return output_;
  }

  // Bounds that only a broken program reaches; a slow machine does not.
  static constexpr std::chrono::milliseconds kLimit = 60s;

 private:
  // Waits up to `span` for the child to end, taking in its output meanwhile; true when it has
  // ended (it is not reaped).
  bool Ended(std::chrono::milliseconds span) {
    const auto end = std::chrono::steady_clock::now() + span;
    for (;;) {
      pollfd p[2] = {{pidfd_, POLLIN, 0}, {out_, POLLIN, 0}};
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          end - std::chrono::steady_clock::now());
      const int ready = ::poll(p, out_ >= 0 ? 2 : 1, static_cast<int>(std::max(left, 0ms).count()));
      if (ready < 0 && errno != EINTR) {
        ADD_FAILURE() << "poll: " << std::strerror(errno);
        return true;
      }
      if ((p[0].revents & POLLIN) != 0) return true;
      if ((p[1].revents & (POLLIN | POLLHUP)) != 0) Drain();
      if (left <= 0ms) return false;
    }
  }

  // Whether one of the child's threads is blocked in read(0, ...): /proc/<pid>/task/<tid>/syscall
  // starts with the number of the system call and its first argument.
  bool ReadsStandardInput() const {
    std::error_code error;
    for (const auto& task :
         fs::directory_iterator(fs::path("/proc") / std::to_string(pid_) / "task", error)) {
      std::ifstream in(task.path() / "syscall");
      long number = -1;
      std::string fd;
      if (in >> number >> fd && number == SYS_read && fd == "0x0") return true;
    }
    return false;
  }

  void Drain() {
    if (out_ < 0) return;
    pollfd p{out_, POLLIN, 0};
    while (::poll(&p, 1, 0) > 0 && (p.revents & (POLLIN | POLLHUP)) != 0) {
      char buffer[4096];
      const ssize_t got = ::read(out_, buffer, sizeof buffer);
      if (got == 0) {  // the child closed its output: nothing more will come
        ::close(out_);
        out_ = -1;
      }
      if (got <= 0) break;
      output_.append(buffer, static_cast<std::size_t>(got));
    }
  }

  pid_t pid_ = -1;
  int out_ = -1;
  int in_ = -1;
  int pidfd_ = -1;  // readable once the child has ended
  bool exited_ = false;
  std::string output_;
};

// A run folder of its own: <tmp>/toimg/<program> and <tmp>/out.
class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("slidepress-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_ / "toimg");
    fs::create_directories(root_ / "out");
    fs::copy_file(SLIDEPRESS_EXE, root_ / "toimg" / "Slidepress");
    fs::copy_file(FAKE_SLIDEPRESS_EXE, root_ / "toimg" / "FakeSlidepress");
  }
  void TearDown() override { fs::remove_all(root_); }

  fs::path Program() const { return root_ / "toimg" / "Slidepress"; }
  fs::path Fake() const { return root_ / "toimg" / "FakeSlidepress"; }
  fs::path Status() const { return root_ / "toimg" / "pdf_temp"; }
  std::string Out() const { return (root_ / "out").string(); }

  fs::path root_;
};

TEST_F(ProgramTest, NoArgumentWaitsForEnterAndEndsWithMinusOne) {
  Child child(Program(), {}, Input::Pipe);
  // Everything it printed before it began to wait is in the pipe by then.
  ASSERT_TRUE(child.WaitsForInput()) << "ended or never read its input: " << child.Output();
  EXPECT_EQ(child.Output(), "please input the office file path.");
  child.Send("\n");
  EXPECT_EQ(child.Wait(), 255);
  EXPECT_EQ(child.Output(), "please input the office file path.");
  EXPECT_FALSE(fs::exists(Status()));
}

TEST_F(ProgramTest, NoArgumentWithoutInputDoesNotHang) {
  for (Input input : {Input::Empty, Input::Closed}) {
    SCOPED_TRACE(static_cast<int>(input));
    Child child(Program(), {}, input);
    EXPECT_EQ(child.Wait(), 255);
    EXPECT_EQ(child.Output(), "please input the office file path.");
  }
  EXPECT_FALSE(fs::exists(Status()));
}

TEST_F(ProgramTest, PathWithoutRoadDoesNothing) {
  Child child(Program(), {(root_ / "deck.PPTX").string(), Out()}, Input::Empty);
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_EQ(child.Output(), "");
  EXPECT_FALSE(fs::exists(Status()));
  EXPECT_TRUE(fs::is_empty(root_ / "out"));
}

TEST_F(ProgramTest, FinishedRunLeavesImagesAndStatusBesideTheProgram) {
  Child child(Fake(), {"/docs/deck.pptx", Out(), "ignored"}, Input::Empty);
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_EQ(child.Output(), "");
  EXPECT_EQ(testsupport::ReadFile(Status()), "success\r\n");
  EXPECT_EQ(testsupport::ReadFile(root_ / "out" / "Picture001.jpg"), "960x540\n");
  EXPECT_TRUE(fs::exists(root_ / "out" / "Picture002.jpg"));
}

TEST_F(ProgramTest, OrderlyFailureRewritesAnOldStatus) {
  { std::ofstream(Status(), std::ios::binary) << "success\r\nold and long text"; }
  Child child(Fake(), {"deck.ppt", Out()}, Input::Empty, {"FAKE_PPT=none"});
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_EQ(child.Output(),
            "CLSIDFromProgID(\"PowerPoint.Application\") failed w/err 0x800401f3\n");
  EXPECT_EQ(testsupport::ReadFile(Status()), "error\r\nCLSIDFromProgID failed");
}

TEST_F(ProgramTest, FailingCallEndsWithOneAndNoStatus) {
  Child child(Fake(), {"deck.pptx", Out()}, Input::Empty, {"FAKE_PPT=fail-export"});
  EXPECT_EQ(child.Wait(), 1);
  EXPECT_EQ(child.Output(), "IDispatch::Invoke(\"Export\"=00000002) failed w/err 0x80004005\n");
  EXPECT_FALSE(fs::exists(Status()));
}

TEST_F(ProgramTest, StatusThatCannotBeWrittenIsNoFailure) {
  fs::create_directory(Status());  // not writable as a file, not even by root
  Child child(Fake(), {"deck.pptx", Out()}, Input::Empty);
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_TRUE(fs::is_directory(Status()));
  EXPECT_TRUE(fs::exists(root_ / "out" / "Picture002.jpg"));
}

}  // namespace
