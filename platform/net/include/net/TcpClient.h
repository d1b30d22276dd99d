#pragma once
// A TCP client over IPv4 in the shape the client's connection code uses.
//
// Thread use: Connect, Disconnect and Write may come from any thread while another thread is
// blocked in ReadBytes. One Write goes out whole: two writes never interleave on the wire.
// Disconnect unblocks a blocked ReadBytes, which then raises. Every failure raises net::Error
// (or a class derived from it) carrying the message text.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace net {

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
  // Writes all bytes in one piece. Raises when not connected or when the write fails.
  void Write(std::span<const std::uint8_t> bytes);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace net
