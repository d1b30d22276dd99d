#pragma once
// A UDP server on one port of every IPv4 address. A listener thread hands each datagram, with
// the sender's dotted address, to the handler, one datagram per call.

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

namespace net {

class UdpServer {
 public:
  using ReadHandler = std::function<void(std::span<const std::uint8_t> data,
                                         const std::string& peerIp, int peerPort)>;

  UdpServer();
  ~UdpServer();  // stops the listener
  UdpServer(const UdpServer&) = delete;
  UdpServer& operator=(const UdpServer&) = delete;

  void SetDefaultPort(int port);
  int DefaultPort() const;
  // An explicit binding: `ip` (dotted IPv4) at `port` instead of every address at the default
  // port; port 0 lets the system pick a free one. An empty ip goes back to the default. Takes
  // effect at the next activation.
  void SetBinding(const std::string& ip, int port);
  // The port the active server listens on (the system's pick for port 0); 0 while inactive.
  int BoundPort() const;
  // Set before activating. An exception escaping the handler is dropped; the listener goes on
  // with the next datagram.
  void SetOnRead(ReadHandler handler);
  // true: binds 0.0.0.0:port (or the binding) and starts the listener (raises net::Error when
  // the bind fails);
  // false: stops the listener and waits until a running handler call has returned. Called
  // from the handler itself, it only asks the listener to end after that call.
  // No SO_REUSEADDR: a second server on the same port fails to bind instead of sharing it.
  void SetActive(bool active);
  bool Active() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace net
