#pragma once
// A thread that calls its run handler again and again until it is stopped.
//
// An exception escaping the handler does not end the thread or the process: its text goes to
// standard error and the next call follows after a pause of 10 ms.

#include <functional>
#include <memory>

namespace net {

class ThreadComponent {
 public:
  using RunHandler = std::function<void()>;

  ThreadComponent();
  ~ThreadComponent();  // stops and waits
  ThreadComponent(const ThreadComponent&) = delete;
  ThreadComponent& operator=(const ThreadComponent&) = delete;

  void SetOnRun(RunHandler handler);  // set before starting
  // Starts the thread (again, after it has ended); does nothing while it runs.
  void Start();
  // Asks the thread to end after the current handler call; does not wait.
  void Stop();
  // Waits until the thread has ended.
  void WaitFor();
  bool Active() const;
  // True once Stop() was called, until the next Start() (the handler may look at it).
  bool Stopped() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace net
