#pragma once
// Small helpers shared by the socket classes of this layer.

#include <poll.h>

#include <chrono>
#include <string>

namespace net::detail {

// "Socket Error # 111\nConnection refused." for an errno value.
std::string SocketErrorText(int err);

// Raises net::Error with SocketErrorText(err).
[[noreturn]] void ThrowSocketError(int err);

// An eventfd that, once signalled, stays readable: every poll that includes it returns.
class WakeFd {
 public:
  WakeFd();
  ~WakeFd();
  WakeFd(const WakeFd&) = delete;
  WakeFd& operator=(const WakeFd&) = delete;

  int fd() const { return fd_; }
  void Signal() noexcept;
  bool Signalled() const noexcept;

 private:
  int fd_;
};

// poll() that restarts after EINTR with the remaining time. timeoutMs <= 0 waits without
// limit. Returns poll's result (0 on time-out); -1 only for errors other than EINTR.
int PollFor(pollfd* fds, nfds_t count, int timeoutMs);

}  // namespace net::detail
