#pragma once
// A TCP client over IPv4 in the shape the client's connection code uses.
//
// Thread use: Connect, Disconnect and Write may come from any thread while another thread is
// blocked in ReadBytes. One Write goes out whole: two writes never interleave on the wire.
// Disconnect unblocks a blocked ReadBytes or Write, which then raises. Every failure raises
// net::Error (or a class derived from it) carrying the message text.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace net {

using Clock = std::chrono::steady_clock;

// Called again and again by a thread while it waits inside a write (for the write lock or for
// the peer to take bytes), every kWaitSliceMs or so, on that thread. It may end the wait at once
// by disconnecting the client. It must not write on the same client itself.
using WaitHook = std::function<void()>;
constexpr int kWaitSliceMs = 25;

// A mutex whose timed waits go by the steady clock, for std::unique_lock. std::timed_mutex does
// the same through pthread_mutex_clocklock, which ThreadSanitizer does not intercept: it would take
// a lock got by a timed wait for no lock at all. This one waits on a condition variable.
class TimedMutex {
 public:
  void lock();
  bool try_lock();
  bool try_lock_until(Clock::time_point deadline);
  void unlock();

 private:
  std::mutex mu_;
  std::condition_variable released_;
  bool held_ = false;  // guarded by mu_
};

// Takes `lock`'s mutex, waiting at most until `deadline` and calling `hook` (when set) between
// slices of the wait. False when the deadline passed first.
bool LockUntil(std::unique_lock<TimedMutex>& lock, Clock::time_point deadline,
               const WaitHook& hook);

class TcpClient {
 public:
  TcpClient();
  ~TcpClient();  // closes an open connection
  TcpClient(const TcpClient&) = delete;
  TcpClient& operator=(const TcpClient&) = delete;

  void SetHost(std::u16string host);
  std::u16string Host() const;
  void SetPort(int port);
  int Port() const;
  // Time-outs of 0 or less wait without limit (the default).
  void SetConnectTimeout(int milliseconds);
  int ConnectTimeout() const;
  void SetReadTimeout(int milliseconds);
  int ReadTimeout() const;
  // Bounds every Write, the wait for a write of another thread included.
  void SetWriteTimeout(int milliseconds);
  int WriteTimeout() const;
  // Now + WriteTimeout(), or no limit.
  Clock::time_point WriteDeadline() const;
  // Set by the owner; see WaitHook.
  void SetWaitHook(WaitHook hook);
  WaitHook GetWaitHook() const;

  // Opens the connection to Host():Port(), bounded by ConnectTimeout(). Raises when already
  // connected, when the host does not resolve, on refusal and on time-out.
  void Connect();
  // True while the connection is open, or closed by the peer with received bytes still unread.
  // Once the peer has closed and the input is drained, false (and the socket is released).
  // Never waits for the network.
  bool Connected();
  // Closes the connection, if any, and drops unread bytes; aborts a Connect in progress on
  // another thread. Never raises.
  void Disconnect();
  // Drops the received bytes not yet read.
  void ClearInputBuffer();
  // Reads exactly n bytes (none for n = 0). Each wait for more data is bounded by ReadTimeout();
  // on time-out raises ReadTimeout and keeps the bytes received so far for the next read.
  // Raises ConnClosedGracefully when the peer closed before n bytes came (the shorter rest can
  // never make a whole read: it is dropped and the connection released, so Connected() turns
  // false), Error when not connected or when Disconnect() interrupted the read.
  std::vector<std::uint8_t> ReadBytes(std::size_t n);
  // Writes all bytes in one piece, by WriteDeadline(). Raises when not connected or when the
  // write fails. When the deadline passes while another write holds the connection, raises
  // WriteTimeout and leaves the connection to that write, which its own deadline bounds.
  // When it passes while the peer does not take the bytes, raises WriteTimeout and closes the
  // connection: a text cut short would corrupt the stream, and a peer that takes nothing for
  // that long is treated as gone. A Disconnect during the wait ends it at once.
  void Write(std::span<const std::uint8_t> bytes);
  // The same with a deadline of the caller's, for one that waited for a lock of its own first.
  void Write(std::span<const std::uint8_t> bytes, Clock::time_point deadline);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace net
