#pragma once
// The run-time library's thread class: Execute runs on a thread of its own.
//
// A derived class is final, starts itself at the end of its own constructor with
// AfterConstruction() (so Execute never runs on a half-built object), and calls Stop() in its
// destructor (so Execute never runs on a half-destroyed one).

#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

namespace rtl {

class Thread {
 public:
  explicit Thread(bool createSuspended) : suspended_(createSuspended) {}
  virtual ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Starts a thread created suspended. Calling it again does nothing.
  void Start();
  // Asks Execute to end: sets Terminated() and wakes a SleepFor() of this thread.
  void Terminate();
  // Waits until Execute has returned (at once when it never started).
  void WaitFor();
  // Terminate(), then WaitFor().
  void Stop();

  bool Terminated() const;
  // The exception that escaped Execute, if any; it ended the thread.
  std::exception_ptr FatalException() const;

  // Plain sleep of the calling thread.
  static void Sleep(int milliseconds);

 protected:
  virtual void Execute() = 0;
  // Call last in the derived constructor: starts the thread unless created suspended.
  void AfterConstruction();
  // Sleeps up to `milliseconds`; returns false early when Terminate() was called.
  bool SleepFor(int milliseconds);

 private:
  void Run();

  mutable std::mutex mutex_;
  std::mutex joinMutex_;  // one WaitFor() joins at a time
  std::condition_variable wake_;
  bool suspended_;
  bool started_ = false;
  bool terminated_ = false;
  std::exception_ptr fatal_;
  std::thread thread_;
};

}  // namespace rtl
