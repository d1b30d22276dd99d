#include "net/TcpClient.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "SocketUtil.h"
#include "net/Error.h"
#include "rtl/CodePage.h"

namespace net {
namespace {

constexpr const char* kNotConnected = "Not Connected";
constexpr const char* kDisconnected = "Disconnected.";
constexpr const char* kWriteTimedOut = "Write timed out.";
constexpr auto kWaitSlice = std::chrono::milliseconds(kWaitSliceMs);
constexpr auto kLongestPoll = std::chrono::hours(1);  // poll takes an int of milliseconds

// One socket, shared by the threads that use it: the descriptor is closed only when the last
// user lets go, so no thread ever polls a closed (or reused) descriptor number.
struct Socket {
  explicit Socket(int descriptor) : fd(descriptor) {}
  ~Socket() {
    if (fd >= 0) ::close(fd);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  int fd;
  detail::WakeFd wake;  // signalled by Disconnect: every wait on this socket ends
  // Guarded by the client's state mutex.
  bool ended = false;  // the peer closed (endError 0) or reset the connection
  int endError = 0;
};

}  // namespace

struct TcpClient::Impl {
  // Guards the fields below. Every recv runs under it too, so bytes always reach the input
  // buffer in the order they came. It is never held while waiting.
  mutable std::mutex mu;
  std::u16string host;
  int port = 0;
  int connectTimeout = 0;
  int readTimeout = 0;
  int writeTimeout = 0;
  WaitHook waitHook;
  std::shared_ptr<Socket> sock;        // the open connection
  std::shared_ptr<Socket> connecting;  // a connect in progress, so Disconnect can abort it
  std::vector<std::uint8_t> buffer;    // received, not yet read: [head, size)
  std::size_t head = 0;

  std::mutex connectMu;  // one Connect at a time
  std::mutex readMu;     // one ReadBytes at a time
  TimedMutex writeMu;    // one Write at a time: writes never interleave

  std::size_t BufferedLocked() const { return buffer.size() - head; }

  void ClearBufferLocked() {
    buffer.clear();
    head = 0;
  }

  std::vector<std::uint8_t> TakeLocked(std::size_t n) {
    const auto first = buffer.begin() + static_cast<std::ptrdiff_t>(head);
    std::vector<std::uint8_t> out(first, first + static_cast<std::ptrdiff_t>(n));
    head += n;
    if (head == buffer.size()) {
      ClearBufferLocked();
    } else if (head >= 64 * 1024 && head * 2 >= buffer.size()) {
      buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(head));
      head = 0;
    }
    return out;
  }

  // Moves what the kernel holds for `s` into the input buffer without waiting, and notes an
  // end of the connection. Bounded, so a fast sender cannot keep the mutex taken.
  void PumpLocked(Socket& s) {
    std::uint8_t chunk[16 * 1024];
    for (int round = 0; round < 16 && !s.ended; ++round) {
      const ssize_t got = ::recv(s.fd, chunk, sizeof chunk, MSG_DONTWAIT);
      if (got > 0) {
        buffer.insert(buffer.end(), chunk, chunk + got);
        if (static_cast<std::size_t>(got) < sizeof chunk) return;
      } else if (got == 0) {
        s.ended = true;
        s.endError = 0;
      } else if (errno == EINTR) {
        continue;
      } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
        return;
      } else {
        s.ended = true;
        s.endError = errno;
      }
    }
  }

  // True while `sock` is usable; releases a socket that ended once the buffer is drained.
  bool ConnectedLocked() {
    if (!sock) return false;
    PumpLocked(*sock);
    if (sock->ended && BufferedLocked() == 0) {
      sock.reset();
      return false;
    }
    return true;
  }

  // Waits until `s` takes bytes again, fails or is disconnected. Past the deadline, closes the
  // connection (when it is still the client's) and raises WriteTimeout.
  void WaitForRoom(Socket& s, Clock::time_point deadline, const WaitHook& hook) {
    for (;;) {
      const auto now = Clock::now();
      if (now >= deadline) {
        {
          std::lock_guard lock(mu);
          if (sock.get() == &s) {
            sock.reset();
            ClearBufferLocked();
          }
        }
        s.wake.Signal();  // a read on this connection ends too
        ::shutdown(s.fd, SHUT_RDWR);
        throw net::WriteTimeout(kWriteTimedOut);
      }
      // Without a hook one wait up to the deadline does; with one, slices of kWaitSlice.
      int wait = 0;  // no limit
      if (hook || deadline != Clock::time_point::max()) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        left = std::min<std::chrono::milliseconds>(left, hook ? kWaitSlice : kLongestPoll);
        wait = static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 1));
      }
      pollfd fds[2] = {{s.fd, POLLOUT, 0}, {s.wake.fd(), POLLIN, 0}};
      const int rc = detail::PollFor(fds, 2, wait);
      if (rc < 0) detail::ThrowSocketError(errno);
      if (rc > 0) return;  // room, an error or a Disconnect: the next send tells which
      if (hook) hook();
    }
  }
};

void TimedMutex::lock() {
  std::unique_lock guard(mu_);
  released_.wait(guard, [this] { return !held_; });
  held_ = true;
}

bool TimedMutex::try_lock() {
  std::lock_guard guard(mu_);
  if (held_) return false;
  held_ = true;
  return true;
}

bool TimedMutex::try_lock_until(Clock::time_point deadline) {
  std::unique_lock guard(mu_);
  if (!released_.wait_until(guard, deadline, [this] { return !held_; })) return false;
  held_ = true;
  return true;
}

void TimedMutex::unlock() {
  {
    std::lock_guard guard(mu_);
    held_ = false;
  }
  released_.notify_one();
}

bool LockUntil(std::unique_lock<TimedMutex>& lock, Clock::time_point deadline,
               const WaitHook& hook) {
  if (lock.try_lock()) return true;
  for (;;) {
    const auto now = Clock::now();
    if (now >= deadline) return false;
    if (lock.try_lock_until(deadline - now > kWaitSlice ? now + kWaitSlice : deadline)) return true;
    if (hook) hook();
  }
}

TcpClient::TcpClient() : impl_(std::make_unique<Impl>()) {}

TcpClient::~TcpClient() {
  Disconnect();
}

void TcpClient::SetHost(std::u16string host) {
  std::lock_guard lock(impl_->mu);
  impl_->host = std::move(host);
}

std::u16string TcpClient::Host() const {
  std::lock_guard lock(impl_->mu);
  return impl_->host;
}

void TcpClient::SetPort(int port) {
  std::lock_guard lock(impl_->mu);
  impl_->port = port;
}

int TcpClient::Port() const {
  std::lock_guard lock(impl_->mu);
  return impl_->port;
}

void TcpClient::SetConnectTimeout(int milliseconds) {
  std::lock_guard lock(impl_->mu);
  impl_->connectTimeout = milliseconds;
}

int TcpClient::ConnectTimeout() const {
  std::lock_guard lock(impl_->mu);
  return impl_->connectTimeout;
}

void TcpClient::SetReadTimeout(int milliseconds) {
  std::lock_guard lock(impl_->mu);
  impl_->readTimeout = milliseconds;
}

int TcpClient::ReadTimeout() const {
  std::lock_guard lock(impl_->mu);
  return impl_->readTimeout;
}

void TcpClient::SetWriteTimeout(int milliseconds) {
  std::lock_guard lock(impl_->mu);
  impl_->writeTimeout = milliseconds;
}

int TcpClient::WriteTimeout() const {
  std::lock_guard lock(impl_->mu);
  return impl_->writeTimeout;
}

Clock::time_point TcpClient::WriteDeadline() const {
  const int timeout = WriteTimeout();
  if (timeout <= 0) return Clock::time_point::max();
  return Clock::now() + std::chrono::milliseconds(timeout);
}

void TcpClient::SetWaitHook(WaitHook hook) {
  std::lock_guard lock(impl_->mu);
  impl_->waitHook = std::move(hook);
}

WaitHook TcpClient::GetWaitHook() const {
  std::lock_guard lock(impl_->mu);
  return impl_->waitHook;
}

void TcpClient::Connect() {
  Impl& d = *impl_;
  std::lock_guard connectLock(d.connectMu);

  std::u16string host;
  int port = 0;
  int timeout = 0;
  {
    std::lock_guard lock(d.mu);
    if (d.ConnectedLocked()) throw Error("Already connected.");
    d.ClearBufferLocked();
    host = d.host;
    port = d.port;
    timeout = d.connectTimeout;
  }
  if (port < 0 || port > 65535) throw Error("Invalid port " + std::to_string(port) + ".");

  const std::string hostUtf8 = rtl::UnicodeToUtf8(host);
  if (hostUtf8.empty() || hostUtf8.find('\0') != std::string::npos) {
    throw Error("Host not found.");
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(hostUtf8.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
    throw Error("Host not found.");
  }
  sockaddr_in address{};
  std::memcpy(&address, found->ai_addr, sizeof address);
  ::freeaddrinfo(found);
  address.sin_port = htons(static_cast<std::uint16_t>(port));

  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) detail::ThrowSocketError(errno);
  auto s = std::make_shared<Socket>(fd);
  // The client's messages are small and must go out at once.
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

  {
    std::lock_guard lock(d.mu);
    d.connecting = s;
  }
  struct ClearConnecting {
    Impl& d;
    ~ClearConnecting() {
      std::lock_guard lock(d.mu);
      d.connecting.reset();
    }
  } clearConnecting{d};

  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    if (errno != EINPROGRESS && errno != EINTR) detail::ThrowSocketError(errno);
    pollfd fds[2] = {{fd, POLLOUT, 0}, {s->wake.fd(), POLLIN, 0}};
    const int rc = detail::PollFor(fds, 2, timeout);
    if (rc < 0) detail::ThrowSocketError(errno);
    if (rc == 0) throw Error("Connect timed out.");
    if (fds[1].revents != 0) throw Error(kDisconnected);
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
    if (err != 0) detail::ThrowSocketError(err);
  }

  std::lock_guard lock(d.mu);
  if (s->wake.Signalled()) throw Error(kDisconnected);
  d.ClearBufferLocked();
  d.sock = std::move(s);
}

bool TcpClient::Connected() {
  std::lock_guard lock(impl_->mu);
  return impl_->ConnectedLocked();
}

void TcpClient::Disconnect() {
  std::shared_ptr<Socket> open;
  std::shared_ptr<Socket> pending;
  {
    std::lock_guard lock(impl_->mu);
    open = std::move(impl_->sock);
    pending = std::move(impl_->connecting);
    impl_->ClearBufferLocked();
  }
  for (const auto& s : {open, pending}) {
    if (!s) continue;
    // The wake first, so a waiting write or read ends as disconnected rather than on the
    // socket error the shutdown causes.
    s->wake.Signal();
    ::shutdown(s->fd, SHUT_RDWR);  // the peer sees the close now, not when the last user lets go
  }
}

void TcpClient::ClearInputBuffer() {
  std::lock_guard lock(impl_->mu);
  impl_->ClearBufferLocked();
}

std::vector<std::uint8_t> TcpClient::ReadBytes(std::size_t n) {
  Impl& d = *impl_;
  std::lock_guard readLock(d.readMu);
  if (n == 0) return {};

  std::shared_ptr<Socket> s;
  int timeout = 0;
  {
    std::lock_guard lock(d.mu);
    if (d.BufferedLocked() >= n) return d.TakeLocked(n);
    if (!d.sock) throw Error(kNotConnected);
    s = d.sock;
    timeout = d.readTimeout;
  }
  for (;;) {
    {
      std::lock_guard lock(d.mu);
      if (d.sock != s) {
        // Released meanwhile: by Disconnect, or by Connected() after the peer's close.
        if (s->ended && s->endError == 0) {
          throw ConnClosedGracefully("Connection Closed Gracefully.");
        }
        throw Error(kDisconnected);
      }
      d.PumpLocked(*s);
      if (d.BufferedLocked() >= n) return d.TakeLocked(n);
      if (s->ended) {
        // Nothing more can come: a remainder shorter than n could never be read whole, and
        // keeping it would leave the client "connected" to a dead peer for good.
        const int err = s->endError;
        d.sock.reset();
        d.ClearBufferLocked();
        if (err == 0) throw ConnClosedGracefully("Connection Closed Gracefully.");
        detail::ThrowSocketError(err);
      }
    }
    pollfd fds[2] = {{s->fd, POLLIN, 0}, {s->wake.fd(), POLLIN, 0}};
    const int rc = detail::PollFor(fds, 2, timeout);
    if (rc == 0) throw net::ReadTimeout("Read timed out.");
    if (rc < 0) detail::ThrowSocketError(errno);
    // Data, an end of the connection or a Disconnect: the checks above sort them out.
  }
}

void TcpClient::Write(std::span<const std::uint8_t> bytes) {
  Write(bytes, WriteDeadline());
}

void TcpClient::Write(std::span<const std::uint8_t> bytes, Clock::time_point deadline) {
  Impl& d = *impl_;
  const WaitHook hook = GetWaitHook();
  std::unique_lock writeLock(d.writeMu, std::defer_lock);
  if (!LockUntil(writeLock, deadline, hook)) throw net::WriteTimeout(kWriteTimedOut);
  std::shared_ptr<Socket> s;
  {
    std::lock_guard lock(d.mu);
    if (!d.sock) throw Error(kNotConnected);
    s = d.sock;
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    if (s->wake.Signalled()) throw Error(kDisconnected);
    const ssize_t sent =
        ::send(s->fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent >= 0) {
      done += static_cast<std::size_t>(sent);
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      d.WaitForRoom(*s, deadline, hook);
    } else if (errno != EINTR) {
      detail::ThrowSocketError(errno);
    }
  }
}

}  // namespace net
