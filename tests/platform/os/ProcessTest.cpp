#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "os/Process.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string kRecorder = ARGV_RECORDER;

class ScopedEnv {
 public:
  ScopedEnv(std::string name, const std::string& value) : name_(std::move(name)) {
    ::setenv(name_.c_str(), value.c_str(), 1);
  }
  ~ScopedEnv() { ::unsetenv(name_.c_str()); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
};

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class ProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "os-test-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

TEST_F(ProcessTest, EveryArgumentArrivesWholeAndNoShellRuns) {
  const fs::path log = dir_ / "args";
  ScopedEnv record("RECORD_ARGS", log.string());
  // What a shell would split, expand or run: none of it may happen.
  const std::u16string odd[] = {u"two words",
                                u"\"quoted\" 'too'",
                                u"a;touch marker",
                                u"$(touch marker)",
                                u"`touch marker`",
                                u"",
                                u"* ?",
                                u"Grüße €"};
  std::vector<std::u16string> argv = {std::u16string(kRecorder.begin(), kRecorder.end())};
  argv.insert(argv.end(), std::begin(odd), std::end(odd));
  const fs::path old = fs::current_path();
  fs::current_path(dir_);
  const int code = os::RunAndWait(argv);
  fs::current_path(old);
  EXPECT_EQ(code, 0);
  std::string expected;
  for (const std::u16string& a : odd) expected += *os::ToUtf8(a) + '\0';
  EXPECT_EQ(ReadAll(log), expected);
  EXPECT_FALSE(fs::exists(dir_ / "marker"));
}

TEST_F(ProcessTest, GivesTheExitCodeOrMinusOne) {
  struct Case {
    const char* name;
    std::u16string program;
    const char* env;
    int expected;
  };
  const std::u16string recorder(kRecorder.begin(), kRecorder.end());
  const Case cases[] = {
      {"zero", recorder, nullptr, 0},
      {"four", recorder, "4", 4},
      {"largest", recorder, "255", 255},
      {"missing program", u"/no/such/program", nullptr, -1},
      {"bare name not on PATH", u"no-such-program-vellumark", nullptr, -1},
      {"no UTF-8 form", recorder + std::u16string(1, char16_t{0xD800}), nullptr, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<ScopedEnv> exitCode;
    if (c.env) exitCode.emplace("RECORD_EXIT", c.env);
    EXPECT_EQ(os::RunAndWait({c.program}), c.expected);
  }
  ScopedEnv kill("RECORD_KILL", "1");
  EXPECT_EQ(os::RunAndWait({recorder}), -1);
}

// Entries of the options replace an inherited variable of the same name (only one of the two
// reaches the program) and add new ones; a longer name that merely starts alike stays.
TEST_F(ProcessTest, TheOptionsEnvironmentReplacesOrJoinsTheInheritedOne) {
  const fs::path log = dir_ / "args";
  ScopedEnv inherited("RECORD_EXIT", "3");
  ScopedEnv alike("RECORD_EXITX", "1");
  os::RunOptions options;
  options.environment = {"RECORD_EXIT=7", "RECORD_ARGS=" + log.string()};
  const os::RunResult run = os::Run({kRecorder, "seen"}, options);
  EXPECT_EQ(run.end, os::RunResult::End::Exited);
  EXPECT_EQ(run.code, 7);
  EXPECT_EQ(ReadAll(log), std::string("seen") + '\0');
  EXPECT_EQ(os::Run({kRecorder}).code, 3) << "the caller's own environment changed";
}

TEST_F(ProcessTest, RunAndWaitSharesTheConsoleAndQuietRunsDoNot) {
  ScopedEnv say("RECORD_SAY", "hello from the child");
  const fs::path caught = dir_ / "stdout";
  const int file = ::open(caught.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(file, 0);
  std::fflush(stdout);
  const int saved = ::dup(STDOUT_FILENO);
  ::dup2(file, STDOUT_FILENO);
  const std::u16string recorder(kRecorder.begin(), kRecorder.end());
  const int loud = os::RunAndWait({recorder});
  os::RunOptions quiet;
  quiet.quiet = true;
  const os::RunResult silent = os::Run({kRecorder}, quiet);
  ::dup2(saved, STDOUT_FILENO);
  ::close(saved);
  ::close(file);
  EXPECT_EQ(loud, 0);
  EXPECT_EQ(silent.end, os::RunResult::End::Exited);
  EXPECT_EQ(ReadAll(caught), "hello from the child");
}

TEST_F(ProcessTest, ATimeOutKillsTheProgram) {
  ScopedEnv hang("RECORD_HANG", "1");
  os::RunOptions options;
  options.timeout = 200ms;
  const auto start = std::chrono::steady_clock::now();
  const os::RunResult result = os::Run({kRecorder}, options);
  EXPECT_EQ(result.end, os::RunResult::End::TimedOut);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
}

}  // namespace
