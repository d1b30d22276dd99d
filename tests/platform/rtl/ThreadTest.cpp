#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>

#include "rtl/Exception.h"
#include "rtl/Thread.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Runs `body` as Execute; built the way every derived thread class is.
class FunctionThread final : public rtl::Thread {
 public:
  FunctionThread(bool createSuspended, std::function<void(FunctionThread&)> body)
      : Thread(createSuspended), body_(std::move(body)) {
    AfterConstruction();
  }
  ~FunctionThread() override { Stop(); }

  bool Nap(int milliseconds) { return SleepFor(milliseconds); }

 protected:
  void Execute() override { body_(*this); }

 private:
  std::function<void(FunctionThread&)> body_;
};

// Waits up to five seconds for `condition`.
bool Eventually(const std::function<bool()>& condition) {
  const auto deadline = Clock::now() + 5s;
  while (!condition()) {
    if (Clock::now() > deadline) return false;
    rtl::Thread::Sleep(1);
  }
  return true;
}

TEST(ThreadTest, RunsAtOnceAndStopEndsTheLoop) {
  std::atomic<int> turns{0};
  FunctionThread thread(false, [&](FunctionThread& self) {
    while (!self.Terminated()) {
      ++turns;
      self.Nap(1);
    }
  });
  EXPECT_TRUE(Eventually([&] { return turns.load() > 0; }));
  thread.Stop();
  const int after = turns.load();
  rtl::Thread::Sleep(20);
  EXPECT_EQ(turns.load(), after);
  EXPECT_TRUE(thread.Terminated());
  EXPECT_FALSE(thread.FatalException());
}

TEST(ThreadTest, SuspendedThreadRunsOnlyAfterStart) {
  std::atomic<bool> ran{false};
  FunctionThread thread(true, [&](FunctionThread&) { ran = true; });
  rtl::Thread::Sleep(50);
  EXPECT_FALSE(ran.load());
  thread.Start();
  thread.Start();  // a second Start does nothing
  thread.WaitFor();
  EXPECT_TRUE(ran.load());
}

TEST(ThreadTest, StopOfANeverStartedThreadReturnsAndItNeverRuns) {
  std::atomic<bool> ran{false};
  {
    FunctionThread thread(true, [&](FunctionThread&) { ran = true; });
    const auto start = Clock::now();
    thread.Stop();
    EXPECT_LT(Clock::now() - start, 1s);
  }
  EXPECT_FALSE(ran.load());
}

TEST(ThreadTest, SleepForReturnsEarlyOnTerminate) {
  std::atomic<bool> slept{false};
  std::atomic<bool> result{true};
  std::atomic<bool> asleep{false};
  FunctionThread thread(false, [&](FunctionThread& self) {
    asleep = true;
    result = self.Nap(60'000);
    slept = true;
  });
  ASSERT_TRUE(Eventually([&] { return asleep.load(); }));
  const auto start = Clock::now();
  thread.Terminate();
  thread.WaitFor();
  EXPECT_LT(Clock::now() - start, 10s);
  EXPECT_TRUE(slept.load());
  EXPECT_FALSE(result.load());
}

TEST(ThreadTest, SleepForRunsItsTimeWithoutTerminate) {
  std::atomic<bool> result{false};
  std::atomic<long long> elapsedMs{0};
  FunctionThread thread(false, [&](FunctionThread& self) {
    const auto start = Clock::now();
    result = self.Nap(30);
    elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  });
  thread.WaitFor();
  EXPECT_TRUE(result.load());
  EXPECT_GE(elapsedMs.load(), 30);
}

TEST(ThreadTest, EscapedExceptionIsKeptAsFatal) {
  FunctionThread thread(false, [](FunctionThread&) { throw rtl::Exception(u"boom"); });
  thread.WaitFor();
  const std::exception_ptr fatal = thread.FatalException();
  ASSERT_TRUE(fatal);
  try {
    std::rethrow_exception(fatal);
  } catch (const rtl::Exception& e) {
    EXPECT_EQ(e.Message(), u"boom");
  }
}

TEST(ThreadTest, ConcurrentWaitersAllReturn) {
  FunctionThread thread(false, [](FunctionThread& self) {
    while (!self.Terminated()) self.Nap(5);
  });
  std::atomic<int> done{0};
  {
    FunctionThread a(false, [&](FunctionThread&) {
      thread.WaitFor();
      ++done;
    });
    FunctionThread b(false, [&](FunctionThread&) {
      thread.WaitFor();
      ++done;
    });
    rtl::Thread::Sleep(20);
    thread.Terminate();
    a.WaitFor();
    b.WaitFor();
  }
  EXPECT_EQ(done.load(), 2);
}

}  // namespace
