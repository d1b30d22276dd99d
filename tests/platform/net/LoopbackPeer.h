#pragma once
// Plain-socket peers on 127.0.0.1 for the network tests, with bounded waits only.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace nettest {

using namespace std::chrono_literals;

// Polls `done` every few milliseconds until it holds or `limit` has passed.
inline bool WaitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::milliseconds(3000)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

inline sockaddr_in Loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  return a;
}

inline int BoundPort(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    throw std::runtime_error("getsockname");
  }
  return ntohs(a.sin_port);
}

// An owned descriptor.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(Fd&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
  Fd& operator=(Fd&& o) noexcept {
    if (this != &o) {
      Reset();
      fd_ = o.fd_;
      o.fd_ = -1;
    }
    return *this;
  }
  int get() const { return fd_; }
  void Reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

// A TCP socket bound to 127.0.0.1 on an ephemeral port; listening when `backlog` >= 0.
// receiveBuffer > 0 sets SO_RCVBUF, which accepted connections take over.
inline Fd TcpOnLoopback(int backlog, int receiveBuffer = 0) {
  Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const sockaddr_in a = Loopback(0);
  if (fd.get() >= 0 && receiveBuffer > 0)
    ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  if (fd.get() < 0 || ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
    throw std::runtime_error("bind");
  }
  if (backlog >= 0 && ::listen(fd.get(), backlog) != 0) throw std::runtime_error("listen");
  return fd;
}

// The server end of one accepted connection.
class Peer {
 public:
  explicit Peer(Fd fd) : fd_(std::move(fd)) {}
  int fd() const { return fd_.get(); }

  void Send(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::send(fd(), bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n < 0) throw std::runtime_error("send");
      done += static_cast<std::size_t>(n);
    }
  }
  // Reads what comes within `limit`; stops early at end of stream or after `want` bytes.
  std::string Receive(std::size_t want, std::chrono::milliseconds limit = 3000ms) {
    std::string out;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (out.size() < want) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
      if (left <= 0) break;
      pollfd p{fd(), POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left)) <= 0) break;
      char chunk[64 * 1024];
      const ssize_t n = ::recv(fd(), chunk, sizeof chunk, 0);
      if (n <= 0) {
        eof_ = (n == 0);
        break;
      }
      out.append(chunk, static_cast<std::size_t>(n));
    }
    return out;
  }
  // True once the client's side is closed (end of stream or reset), waiting up to `limit`.
  bool SeesClose(std::chrono::milliseconds limit = 3000ms) {
    while (!eof_) {
      pollfd p{fd(), POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(limit.count())) <= 0) return false;
      char chunk[4096];
      const ssize_t n = ::recv(fd(), chunk, sizeof chunk, 0);
      if (n <= 0) eof_ = true;
    }
    return true;
  }
  void Close() { fd_.Reset(); }

 private:
  Fd fd_;
  bool eof_ = false;
};

// A listening socket on 127.0.0.1; receiveBuffer > 0 gives its connections that SO_RCVBUF.
class Listener {
 public:
  explicit Listener(int receiveBuffer = 0)
      : fd_(TcpOnLoopback(8, receiveBuffer)), port_(BoundPort(fd_.get())) {}
  int port() const { return port_; }
  Peer Accept(std::chrono::milliseconds limit = 3000ms) {
    pollfd p{fd_.get(), POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(limit.count())) <= 0) {
      throw std::runtime_error("no connection came");
    }
    return Peer(Fd(::accept4(fd_.get(), nullptr, nullptr, SOCK_CLOEXEC)));
  }

 private:
  Fd fd_;
  int port_;
};

}  // namespace nettest
