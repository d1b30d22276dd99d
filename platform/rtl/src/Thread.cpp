#include "rtl/Thread.h"

#include <chrono>

namespace rtl {

Thread::~Thread() {
  // A derived class has already stopped the thread; this only guards against a forgotten Stop().
  Stop();
  // Destroyed by its own Execute: the thread cannot join itself, and a joinable std::thread
  // would end the process.
  if (thread_.joinable()) thread_.detach();
}

void Thread::AfterConstruction() {
  if (!suspended_) Start();
}

void Thread::Start() {
  std::lock_guard lock(mutex_);
  if (started_) return;
  started_ = true;
  suspended_ = false;
  thread_ = std::thread([this] { Run(); });
}

void Thread::Run() {
  try {
    Execute();
  } catch (...) {
    std::lock_guard lock(mutex_);
    fatal_ = std::current_exception();
  }
}

void Thread::Terminate() {
  {
    std::lock_guard lock(mutex_);
    terminated_ = true;
  }
  wake_.notify_all();
}

void Thread::WaitFor() {
  std::lock_guard joining(joinMutex_);
  {
    // Start() may be creating the thread on another thread right now.
    std::lock_guard lock(mutex_);
    if (!thread_.joinable() || thread_.get_id() == std::this_thread::get_id()) return;
  }
  // Not under mutex_: Execute's SleepFor() and Run() need it to finish.
  thread_.join();
}

void Thread::Stop() {
  Terminate();
  WaitFor();
}

bool Thread::Terminated() const {
  std::lock_guard lock(mutex_);
  return terminated_;
}

std::exception_ptr Thread::FatalException() const {
  std::lock_guard lock(mutex_);
  return fatal_;
}

void Thread::Sleep(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

bool Thread::SleepFor(int milliseconds) {
  std::unique_lock lock(mutex_);
  return !wake_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                         [this] { return terminated_; });
}

}  // namespace rtl
