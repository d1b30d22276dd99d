#include "net/UdpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "SocketUtil.h"
#include "net/Error.h"

namespace net {
namespace {

void Listen(int fd, int wakeFd, const UdpServer::ReadHandler& handler) {
  std::vector<std::uint8_t> datagram(64 * 1024);
  for (;;) {
    pollfd fds[2] = {{wakeFd, POLLIN, 0}, {fd, POLLIN, 0}};
    const int rc = detail::PollFor(fds, 2, 0);
    if (fds[0].revents != 0) return;  // checked first, so a flood of datagrams cannot delay a stop
    if (rc < 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    sockaddr_in from{};
    socklen_t fromLen = sizeof from;
    const ssize_t got = ::recvfrom(fd, datagram.data(), datagram.size(), MSG_DONTWAIT,
                                   reinterpret_cast<sockaddr*>(&from), &fromLen);
    if (got < 0) {
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      continue;
    }
    char ip[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &from.sin_addr, ip, sizeof ip);
    if (!handler) continue;
    try {
      handler(std::span<const std::uint8_t>(datagram.data(), static_cast<std::size_t>(got)), ip,
              ntohs(from.sin_port));
    } catch (...) {
      // One bad datagram must not end the listener: the next one is handled as usual.
    }
  }
}

}  // namespace

struct UdpServer::Impl {
  mutable std::mutex mu;  // guards port, the binding and handler
  int port = 0;
  std::string bindIp;  // empty: every address at `port`
  int bindPort = 0;
  ReadHandler handler;
  std::atomic<int> boundPort{0};

  std::mutex control;  // serialises SetActive; held while the listener is joined
  std::atomic<bool> active{false};
  std::atomic<std::thread::id> listenerId{};
  int fd = -1;
  std::unique_ptr<detail::WakeFd> wake;
  std::thread listener;

  // Ends a listener that was told to stop and releases its socket. Needs `control`.
  void ReapLocked() {
    if (listener.joinable()) listener.join();
    listenerId = std::thread::id{};
    if (fd >= 0) ::close(fd);
    fd = -1;
    boundPort = 0;
    wake.reset();
  }
};

UdpServer::UdpServer() : impl_(std::make_unique<Impl>()) {}

UdpServer::~UdpServer() {
  SetActive(false);
}

void UdpServer::SetDefaultPort(int port) {
  std::lock_guard lock(impl_->mu);
  impl_->port = port;
}

int UdpServer::DefaultPort() const {
  std::lock_guard lock(impl_->mu);
  return impl_->port;
}

void UdpServer::SetBinding(const std::string& ip, int port) {
  std::lock_guard lock(impl_->mu);
  impl_->bindIp = ip;
  impl_->bindPort = port;
}

int UdpServer::BoundPort() const {
  return impl_->boundPort;
}

void UdpServer::SetOnRead(ReadHandler handler) {
  std::lock_guard lock(impl_->mu);
  impl_->handler = std::move(handler);
}

void UdpServer::SetActive(bool active) {
  Impl& d = *impl_;
  if (!active && std::this_thread::get_id() == d.listenerId.load()) {
    // Called from the handler: the listener cannot wait for itself. It ends when the handler
    // returns; the next SetActive or the destructor reaps it.
    if (d.active.exchange(false) && d.wake) d.wake->Signal();
    return;
  }
  std::lock_guard control(d.control);
  if (!active) {
    if (d.wake) d.wake->Signal();
    d.ReapLocked();
    d.active = false;
    return;
  }
  if (d.active) return;
  d.ReapLocked();

  int port = 0;
  std::string ip;
  ReadHandler handler;
  {
    std::lock_guard lock(d.mu);
    port = d.bindIp.empty() ? d.port : d.bindPort;
    ip = d.bindIp;
    handler = d.handler;
  }
  if (port < 0 || port > 65535) throw Error("Invalid port " + std::to_string(port) + ".");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  if (!ip.empty() && ::inet_pton(AF_INET, ip.c_str(), &address.sin_addr) != 1)
    throw Error("Invalid IPv4 address " + ip + ".");
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) detail::ThrowSocketError(errno);
  // No SO_REUSEADDR: on Linux it would let a second server share the port and silently split
  // the datagrams between the two.
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    const int err = errno;
    ::close(fd);
    if (err == EADDRINUSE) {
      throw Error("Could not bind socket. Address and port are already in use.");
    }
    detail::ThrowSocketError(err);
  }
  try {
    d.wake = std::make_unique<detail::WakeFd>();
  } catch (...) {
    ::close(fd);
    throw;
  }
  sockaddr_in bound{};
  socklen_t boundLen = sizeof bound;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &boundLen);
  d.boundPort = ntohs(bound.sin_port);
  d.fd = fd;
  d.active = true;
  d.listener = std::thread([&d, fd, wakeFd = d.wake->fd(), handler = std::move(handler)] {
    // Stored here, before any handler call, so a handler that stops the server sees it.
    d.listenerId = std::this_thread::get_id();
    Listen(fd, wakeFd, handler);
  });
}

bool UdpServer::Active() const {
  return impl_->active;
}

}  // namespace net
