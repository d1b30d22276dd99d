// Plain loopback sockets for playing the client against the board peer. Every wait is bounded.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace board_peer::testing {

inline sockaddr_in Addr(const std::string& host, std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  inet_pton(AF_INET, host.c_str(), &a.sin_addr);
  return a;
}

inline sockaddr* Sa(sockaddr_in* a) {
  return reinterpret_cast<sockaddr*>(a);
}

class Socket {
 public:
  Socket() = default;
  explicit Socket(int fd) : fd_(fd) {}
  Socket(Socket&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
  Socket& operator=(Socket&& o) noexcept {
    if (this != &o) {
      Close();
      fd_ = o.fd_;
      o.fd_ = -1;
    }
    return *this;
  }
  ~Socket() { Close(); }

  int fd() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  // Connects within timeout_ms; errno_out gets the failure (ECONNREFUSED, ETIMEDOUT, ...).
  static Socket Connect(const std::string& host, std::uint16_t port, int timeout_ms = 2000,
                        int* errno_out = nullptr) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in a = Addr(host, port);
    int err = 0;
    if (::connect(fd, Sa(&a), sizeof a) != 0) {
      err = errno;
      if (err == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, timeout_ms) == 1) {
          socklen_t len = sizeof err;
          ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
        } else {
          err = ETIMEDOUT;
        }
      }
    }
    if (errno_out) *errno_out = err;
    if (err != 0) {
      ::close(fd);
      return Socket();
    }
    const int yes = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    return Socket(fd);
  }

  bool Send(std::string_view bytes) const {
    while (!bytes.empty()) {
      pollfd p{fd_, POLLOUT, 0};
      if (::poll(&p, 1, 2000) != 1) return false;
      const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n <= 0) return false;
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
  }

  // Reads exactly n bytes, or what came before the time-out or the end of the stream.
  std::string Read(std::size_t n, int timeout_ms = 2000) const {
    std::string out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (out.size() < n) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
      if (left <= 0) break;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left)) != 1) break;
      char buf[4096];
      const std::size_t want = std::min(sizeof buf, n - out.size());
      const ssize_t got = ::recv(fd_, buf, want, 0);
      if (got <= 0) break;
      out.append(buf, static_cast<std::size_t>(got));
    }
    return out;
  }

  // Reads until the peer closes; *closed tells whether it did within the time-out.
  std::string ReadToEnd(bool* closed, int timeout_ms = 3000) const {
    std::string out;
    *closed = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
      if (left <= 0) return out;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left)) != 1) return out;
      char buf[4096];
      const ssize_t got = ::recv(fd_, buf, sizeof buf, 0);
      if (got <= 0) {
        *closed = true;
        return out;
      }
      out.append(buf, static_cast<std::size_t>(got));
    }
  }

 private:
  int fd_ = -1;
};

// A UDP socket on 127.0.0.1 at a random free high port.
class UdpReceiver {
 public:
  UdpReceiver() {
    sock_ = Socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in a = Addr("127.0.0.1", 0);
    ::bind(sock_.fd(), Sa(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(sock_.fd(), Sa(&a), &len);
    port_ = ntohs(a.sin_port);
  }
  std::uint16_t port() const { return port_; }

  // One datagram and its sender's address, or false after the time-out.
  bool Receive(std::string& bytes, std::string& from, int timeout_ms = 2000) const {
    pollfd p{sock_.fd(), POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) != 1) return false;
    char buf[2048];
    sockaddr_in src{};
    socklen_t len = sizeof src;
    const ssize_t n = ::recvfrom(sock_.fd(), buf, sizeof buf, 0, Sa(&src), &len);
    if (n < 0) return false;
    bytes.assign(buf, static_cast<std::size_t>(n));
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &src.sin_addr, text, sizeof text);
    from = text;
    return true;
  }

 private:
  Socket sock_;
  std::uint16_t port_ = 0;
};

}  // namespace board_peer::testing
