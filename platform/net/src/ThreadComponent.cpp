#include "net/ThreadComponent.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <mutex>
#include <thread>

namespace net {
namespace {

// What the thread itself touches. Shared with it, so a component destroyed from its own
// handler leaves the thread nothing dangling to finish on.
struct Shared {
  std::mutex mu;  // guards the pause's wake-up
  std::condition_variable wake;
  std::atomic<bool> stopped{false};
  std::atomic<bool> running{false};

  // Sleeps up to `ms`, ending early on Stop().
  void Pause(int ms) {
    std::unique_lock lock(mu);
    wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopped.load(); });
  }
};

void Loop(Shared& s, const ThreadComponent::RunHandler& run) {
  while (!s.stopped) {
    if (!run) {
      s.Pause(10);
      continue;
    }
    try {
      run();
    } catch (const std::exception& e) {
      // A failing call does not end the thread: the next call comes after a short pause, so
      // a handler that keeps failing does not spin.
      std::fprintf(stderr, "thread: %s\n", e.what());
      s.Pause(10);
    } catch (...) {
      std::fprintf(stderr, "thread: unknown exception\n");
      s.Pause(10);
    }
  }
  s.running = false;
}

}  // namespace

struct ThreadComponent::Impl {
  std::shared_ptr<Shared> shared = std::make_shared<Shared>();
  std::mutex handlerMu;
  RunHandler handler;
  std::mutex joinMu;  // Start, WaitFor and the destructor never touch `thread` at once
  std::thread thread;

  void JoinLocked() {
    if (thread.joinable() && thread.get_id() != std::this_thread::get_id()) thread.join();
  }
};

ThreadComponent::ThreadComponent() : impl_(std::make_unique<Impl>()) {}

ThreadComponent::~ThreadComponent() {
  Stop();
  std::lock_guard lock(impl_->joinMu);
  impl_->JoinLocked();
  // Destroyed from its own handler: nothing can wait for the thread, which ends on its own.
  if (impl_->thread.joinable()) impl_->thread.detach();
}

void ThreadComponent::SetOnRun(RunHandler handler) {
  std::lock_guard lock(impl_->handlerMu);
  impl_->handler = std::move(handler);
}

void ThreadComponent::Start() {
  Impl& d = *impl_;
  std::lock_guard lock(d.joinMu);
  if (d.shared->running) return;
  d.JoinLocked();                   // an earlier run that has ended
  if (d.thread.joinable()) return;  // Start from the handler of a run that is ending
  RunHandler run;
  {
    std::lock_guard handlerLock(d.handlerMu);
    run = d.handler;
  }
  d.shared->stopped = false;
  d.shared->running = true;
  d.thread = std::thread([s = d.shared, run = std::move(run)] { Loop(*s, run); });
}

void ThreadComponent::Stop() {
  Shared& s = *impl_->shared;
  {
    std::lock_guard lock(s.mu);
    s.stopped = true;
  }
  s.wake.notify_all();
}

void ThreadComponent::WaitFor() {
  std::lock_guard lock(impl_->joinMu);
  impl_->JoinLocked();
}

bool ThreadComponent::Active() const {
  return impl_->shared->running;
}

bool ThreadComponent::Stopped() const {
  return impl_->shared->stopped;
}

}  // namespace net
