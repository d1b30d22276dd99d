#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "LoopbackPeer.h"
#include "net/Error.h"
#include "net/UdpServer.h"

namespace {

using namespace std::chrono_literals;

struct Datagram {
  std::string data;
  std::string ip;
  int port;
};

// Collects what the handler gets, for bounded waits from the test thread.
class Inbox {
 public:
  net::UdpServer::ReadHandler Handler() {
    return [this](std::span<const std::uint8_t> data, const std::string& ip, int port) {
      std::lock_guard lock(mu_);
      got_.push_back({std::string(data.begin(), data.end()), ip, port});
      cv_.notify_all();
    };
  }
  bool WaitFor(std::size_t count, std::chrono::milliseconds limit = 3000ms) {
    std::unique_lock lock(mu_);
    return cv_.wait_for(lock, limit, [&] { return got_.size() >= count; });
  }
  std::vector<Datagram> Got() {
    std::lock_guard lock(mu_);
    return got_;
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<Datagram> got_;
};

// A UDP socket on 127.0.0.1 and an ephemeral port, to send from.
class Sender {
 public:
  Sender() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    const sockaddr_in a = nettest::Loopback(0);
    if (::bind(fd_.get(), reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
      throw std::runtime_error("bind");
    }
  }
  int port() const { return nettest::BoundPort(fd_.get()); }
  void SendTo(int port, const std::string& bytes) { SendTo(nettest::Loopback(port), bytes); }
  void SendTo(const sockaddr_in& a, const std::string& bytes) {
    if (::sendto(fd_.get(), bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&a),
                 sizeof a) != static_cast<ssize_t>(bytes.size())) {
      throw std::runtime_error("sendto");
    }
  }

 private:
  nettest::Fd fd_;
};

// A high port that was free a moment ago (the kernel's pick, never the board port).
int FreeUdpPort() {
  nettest::Fd probe(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  ::bind(probe.get(), reinterpret_cast<const sockaddr*>(&a), sizeof a);
  return nettest::BoundPort(probe.get());
}

// Activates `server` on a free port, trying again should another process take it first.
int ActivateOnFreePort(net::UdpServer& server) {
  for (int attempt = 0;; ++attempt) {
    const int port = FreeUdpPort();
    server.SetDefaultPort(port);
    try {
      server.SetActive(true);
      return port;
    } catch (const net::Error&) {
      if (attempt == 5) throw;
    }
  }
}

TEST(UdpServer, DatagramsReachTheHandlerWithTheSender) {
  Inbox inbox;
  net::UdpServer server;
  server.SetOnRead(inbox.Handler());
  const int port = ActivateOnFreePort(server);
  EXPECT_TRUE(server.Active());
  EXPECT_EQ(server.DefaultPort(), port);

  const std::string big(60000, 'z');
  const std::vector<std::string> sent = {"vellumark\x01Board;rest0123456789", "", big, "x"};
  Sender sender;
  for (const auto& d : sent) sender.SendTo(port, d);
  ASSERT_TRUE(inbox.WaitFor(sent.size()));
  const auto got = inbox.Got();
  ASSERT_EQ(got.size(), sent.size());
  for (std::size_t i = 0; i < sent.size(); ++i) {
    EXPECT_EQ(got[i].data, sent[i]) << "datagram " << i;
    EXPECT_EQ(got[i].ip, "127.0.0.1");
    EXPECT_EQ(got[i].port, sender.port());
  }
}

TEST(UdpServer, HandlerExceptionDoesNotEndTheListener) {
  Inbox inbox;
  auto keep = inbox.Handler();
  net::UdpServer server;
  server.SetOnRead([&](std::span<const std::uint8_t> data, const std::string& ip, int port) {
    keep(data, ip, port);
    if (data.size() == 3) throw std::runtime_error("bad datagram");
  });
  const int port = ActivateOnFreePort(server);
  Sender sender;
  sender.SendTo(port, "bad");
  sender.SendTo(port, "good");
  ASSERT_TRUE(inbox.WaitFor(2));
  EXPECT_EQ(inbox.Got()[1].data, "good");
}

TEST(UdpServer, BindOfATakenPortRaises) {
  net::UdpServer first;
  const int port = ActivateOnFreePort(first);
  net::UdpServer second;
  second.SetDefaultPort(port);
  try {
    second.SetActive(true);
    FAIL() << "second bind succeeded";
  } catch (const net::Error& e) {
    EXPECT_EQ(std::string(e.what()), "Could not bind socket. Address and port are already in use.");
  }
  EXPECT_FALSE(second.Active());
  EXPECT_TRUE(first.Active());
}

TEST(UdpServer, AnExplicitBindingTakesItsAddressAndAFreePortWhateverHoldsTheDefault) {
  // Another socket holds the default port on every address.
  nettest::Fd holder(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  sockaddr_in any{};
  any.sin_family = AF_INET;
  any.sin_addr.s_addr = htonl(INADDR_ANY);
  ASSERT_EQ(::bind(holder.get(), reinterpret_cast<const sockaddr*>(&any), sizeof any), 0);
  const int held = nettest::BoundPort(holder.get());

  Inbox inbox;
  net::UdpServer server;
  server.SetOnRead(inbox.Handler());
  server.SetDefaultPort(held);
  server.SetBinding("127.0.0.1", 0);
  EXPECT_EQ(server.BoundPort(), 0);
  server.SetActive(true);
  const int port = server.BoundPort();
  EXPECT_GT(port, 0);
  EXPECT_NE(port, held);
  EXPECT_EQ(server.DefaultPort(), held);

  // Only 127.0.0.1 listens: a datagram to another loopback address at that port goes nowhere.
  Sender sender;
  sockaddr_in elsewhere = nettest::Loopback(port);
  ::inet_pton(AF_INET, "127.0.0.2", &elsewhere.sin_addr);
  sender.SendTo(elsewhere, "elsewhere");
  sender.SendTo(port, "here");
  ASSERT_TRUE(inbox.WaitFor(1));
  ASSERT_EQ(inbox.Got().size(), 1u);
  EXPECT_EQ(inbox.Got()[0].data, "here");

  server.SetActive(false);
  EXPECT_EQ(server.BoundPort(), 0);
  // An empty address goes back to every address at the default port, which is taken.
  server.SetBinding("", 0);
  EXPECT_THROW(server.SetActive(true), net::Error);
  EXPECT_FALSE(server.Active());
}

TEST(UdpServer, ABindingToANameRatherThanAnAddressRaises) {
  net::UdpServer server;
  server.SetBinding("localhost", 0);
  EXPECT_THROW(server.SetActive(true), net::Error);
  EXPECT_FALSE(server.Active());
}

TEST(UdpServer, StopWaitsForTheHandlerAndFreesThePort) {
  std::atomic<bool> inHandler{false};
  std::atomic<bool> handlerDone{false};
  std::atomic<int> calls{0};
  net::UdpServer server;
  server.SetOnRead([&](std::span<const std::uint8_t>, const std::string&, int) {
    ++calls;
    inHandler = true;
    std::this_thread::sleep_for(200ms);
    handlerDone = true;
  });
  const int port = ActivateOnFreePort(server);
  Sender sender;
  sender.SendTo(port, "one");
  ASSERT_TRUE(nettest::WaitUntil([&] { return inHandler.load(); }));
  const auto start = std::chrono::steady_clock::now();
  server.SetActive(false);
  EXPECT_TRUE(handlerDone);  // the running call finished before SetActive returned
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2000ms);
  EXPECT_FALSE(server.Active());

  sender.SendTo(port, "after stop");
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(calls, 1);

  // The port is free again: the same server starts on it once more.
  server.SetActive(true);
  sender.SendTo(port, "again");
  EXPECT_TRUE(nettest::WaitUntil([&] { return calls.load() == 2; }));
}

TEST(UdpServer, IdleStopAndDestructionAreQuick) {
  const auto start = std::chrono::steady_clock::now();
  {
    net::UdpServer server;
    ActivateOnFreePort(server);
    server.SetActive(true);  // already active: nothing happens
    EXPECT_TRUE(server.Active());
    std::this_thread::sleep_for(20ms);
  }  // the destructor stops the listener
  {
    net::UdpServer never;
    never.SetActive(false);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2000ms);
}

TEST(UdpServer, HandlerMayStopTheServer) {
  net::UdpServer server;
  std::atomic<int> calls{0};
  server.SetOnRead([&](std::span<const std::uint8_t>, const std::string&, int) {
    ++calls;
    server.SetActive(false);
  });
  const int port = ActivateOnFreePort(server);
  Sender sender;
  sender.SendTo(port, "stop");
  ASSERT_TRUE(nettest::WaitUntil([&] { return !server.Active(); }));
  sender.SendTo(port, "ignored");
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(calls, 1);
  server.SetActive(true);  // reaps the old listener and binds anew
  EXPECT_TRUE(server.Active());
}

}  // namespace
