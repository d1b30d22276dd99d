#include "SocketUtil.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "net/Error.h"

namespace net::detail {
namespace {

// strerror_r comes in a GNU flavour (returns the text) and a POSIX one (fills the buffer).
[[maybe_unused]] const char* ErrorString(const char* result, const char* /*buffer*/) {
  return result;
}
[[maybe_unused]] const char* ErrorString(int result, const char* buffer) {
  return result == 0 ? buffer : "Unknown error";
}

}  // namespace

std::string SocketErrorText(int err) {
  char buffer[256] = {};
  const char* text = ErrorString(strerror_r(err, buffer, sizeof buffer), buffer);
  return "Socket Error # " + std::to_string(err) + "\n" + text + ".";
}

void ThrowSocketError(int err) {
  throw Error(SocketErrorText(err));
}

WakeFd::WakeFd() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (fd_ < 0) ThrowSocketError(errno);
}

WakeFd::~WakeFd() {
  ::close(fd_);
}

void WakeFd::Signal() noexcept {
  const std::uint64_t one = 1;
  // Only fails when the counter would overflow, and then it is readable anyway.
  [[maybe_unused]] const ssize_t written = ::write(fd_, &one, sizeof one);
}

bool WakeFd::Signalled() const noexcept {
  pollfd p{fd_, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0;
}

int PollFor(pollfd* fds, nfds_t count, int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const bool bounded = timeoutMs > 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int wait = -1;
    if (bounded) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      wait = left > 0 ? static_cast<int>(left) : 0;
    }
    const int rc = ::poll(fds, count, wait);
    if (rc >= 0 || errno != EINTR) return rc;
  }
}

}  // namespace net::detail
