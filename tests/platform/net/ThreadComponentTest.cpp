#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>
#include <thread>

#include "LoopbackPeer.h"
#include "net/ThreadComponent.h"

namespace {

using namespace std::chrono_literals;
using nettest::WaitUntil;

TEST(ThreadComponent, CallsTheHandlerAgainUntilStopped) {
  std::atomic<int> calls{0};
  net::ThreadComponent thread;
  EXPECT_FALSE(thread.Active());
  thread.SetOnRun([&] {
    ++calls;
    std::this_thread::sleep_for(1ms);
  });
  thread.Start();
  EXPECT_TRUE(thread.Active());
  EXPECT_FALSE(thread.Stopped());
  ASSERT_TRUE(WaitUntil([&] { return calls.load() >= 5; }));
  thread.Stop();
  EXPECT_TRUE(thread.Stopped());
  thread.WaitFor();
  EXPECT_FALSE(thread.Active());
  const int after = calls;
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(calls, after);
}

TEST(ThreadComponent, StopDoesNotWaitForTheRunningCall) {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<bool> entered{false};
  std::atomic<bool> sawStop{false};
  net::ThreadComponent thread;
  thread.SetOnRun([&] {
    entered = true;
    if (released.wait_for(5s) != std::future_status::ready) return;
    sawStop = thread.Stopped();
  });
  thread.Start();
  ASSERT_TRUE(WaitUntil([&] { return entered.load(); }));
  const auto start = std::chrono::steady_clock::now();
  thread.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);
  EXPECT_TRUE(thread.Active());  // still inside the handler
  release.set_value();
  thread.WaitFor();
  EXPECT_TRUE(sawStop);
  EXPECT_FALSE(thread.Active());
}

TEST(ThreadComponent, ExceptionsDoNotEndTheThread) {
  std::atomic<int> calls{0};
  net::ThreadComponent thread;
  thread.SetOnRun([&] {
    const int n = ++calls;
    if (n == 1) throw std::runtime_error("first call fails");
    if (n == 2) throw 42;  // not even a std::exception
  });
  thread.Start();
  EXPECT_TRUE(WaitUntil([&] { return calls.load() >= 4; }));
  EXPECT_TRUE(thread.Active());
}

TEST(ThreadComponent, RestartsAfterAStop) {
  std::atomic<int> calls{0};
  net::ThreadComponent thread;
  thread.SetOnRun([&] { ++calls; });
  thread.Start();
  ASSERT_TRUE(WaitUntil([&] { return calls.load() > 0; }));
  thread.Stop();
  thread.WaitFor();
  const int first = calls;
  thread.Start();
  EXPECT_FALSE(thread.Stopped());
  EXPECT_TRUE(WaitUntil([&] { return calls.load() > first; }));
}

TEST(ThreadComponent, DestructorStopsAndJoins) {
  std::atomic<bool> running{false};
  {
    net::ThreadComponent thread;
    thread.SetOnRun([&] {
      running = true;
      std::this_thread::sleep_for(1ms);
    });
    thread.Start();
    ASSERT_TRUE(WaitUntil([&] { return running.load(); }));
  }
  // Leaving the scope did not hang and the handler no longer runs.
  running = false;
  std::this_thread::sleep_for(20ms);
  EXPECT_FALSE(running);
}

TEST(ThreadComponent, WaitForWithoutStartReturns) {
  net::ThreadComponent thread;
  thread.WaitFor();
  thread.Stop();
  EXPECT_FALSE(thread.Active());
}

}  // namespace
