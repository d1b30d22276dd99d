#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "LoopbackPeer.h"
#include "net/Error.h"
#include "net/TcpClient.h"

namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using nettest::Listener;
using nettest::Peer;
using Clock = std::chrono::steady_clock;

std::string Text(const std::vector<std::uint8_t>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

std::span<const std::uint8_t> Bytes(const std::string& s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

class TcpClientTest : public ::testing::Test {
 protected:
  // Connects the client to the listener and returns the server end.
  Peer ConnectPeer(int readTimeoutMs = 3000) {
    client.SetHost(u"127.0.0.1");
    client.SetPort(listener.port());
    client.SetConnectTimeout(2000);
    client.SetReadTimeout(readTimeoutMs);
    client.Connect();
    return listener.Accept();
  }

  Listener listener;
  net::TcpClient client;
};

TEST(TcpClientConnect, RefusedPortRaisesSocketError) {
  // Bound but not listening: the kernel answers with a reset.
  nettest::Fd closed = nettest::TcpOnLoopback(-1);
  net::TcpClient client;
  client.SetHost(u"127.0.0.1");
  client.SetPort(nettest::BoundPort(closed.get()));
  client.SetConnectTimeout(2000);
  try {
    client.Connect();
    FAIL() << "connect succeeded";
  } catch (const net::Error& e) {
    EXPECT_EQ(std::string(e.what()), "Socket Error # 111\nConnection refused.");
  }
  EXPECT_FALSE(client.Connected());
}

TEST(TcpClientConnect, UnusableSettingsRaise) {
  struct Case {
    const char16_t* host;
    int port;
    const char* message;
  } cases[] = {
      {u"", 3392, "Host not found."},
      {u"127.0.0.1", 70000, "Invalid port 70000."},
      {u"127.0.0.1", -1, "Invalid port -1."},
  };
  for (const auto& c : cases) {
    net::TcpClient client;
    client.SetHost(c.host);
    client.SetPort(c.port);
    try {
      client.Connect();
      ADD_FAILURE() << c.message << ": connect succeeded";
    } catch (const net::Error& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
    EXPECT_FALSE(client.Connected());
  }
}

TEST(TcpClientConnect, NotConnectedOperationsRaise) {
  net::TcpClient client;
  EXPECT_FALSE(client.Connected());
  EXPECT_THROW(client.Write(Bytes("x")), net::Error);
  EXPECT_THROW(client.Write({}), net::Error);
  EXPECT_THROW(client.ReadBytes(1), net::Error);
  EXPECT_TRUE(client.ReadBytes(0).empty());
  client.ClearInputBuffer();
  client.Disconnect();  // never raises, even twice
  client.Disconnect();
}

// A listener whose accept queue is full drops further SYNs, so a connect to it hangs.
class FullBacklogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    listening = nettest::TcpOnLoopback(0);
    port = nettest::BoundPort(listening.get());
    for (int i = 0; i < 16; ++i) {
      nettest::Fd filler(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
      const sockaddr_in a = nettest::Loopback(port);
      ::connect(filler.get(), reinterpret_cast<const sockaddr*>(&a), sizeof a);
      pollfd p{filler.get(), POLLOUT, 0};
      const bool completed = ::poll(&p, 1, 300) > 0;
      fillers.push_back(std::move(filler));
      if (!completed) return;
    }
    GTEST_SKIP() << "the kernel accepts every connect; cannot build a hanging one";
  }

  nettest::Fd listening;
  int port = 0;
  std::vector<nettest::Fd> fillers;
};

TEST_F(FullBacklogTest, ConnectTimeOutIsBounded) {
  net::TcpClient client;
  client.SetHost(u"127.0.0.1");
  client.SetPort(port);
  client.SetConnectTimeout(300);
  const auto start = Clock::now();
  try {
    client.Connect();
    FAIL() << "connect succeeded";
  } catch (const net::Error& e) {
    EXPECT_EQ(std::string(e.what()), "Connect timed out.");
  }
  const auto took = Clock::now() - start;
  EXPECT_GE(took, 290ms);
  EXPECT_LT(took, 2000ms);
  EXPECT_FALSE(client.Connected());
}

TEST_F(FullBacklogTest, DisconnectAbortsPendingConnect) {
  net::TcpClient client;
  client.SetHost(u"127.0.0.1");
  client.SetPort(port);
  client.SetConnectTimeout(20000);
  auto connect = std::async(std::launch::async, [&] { client.Connect(); });
  std::this_thread::sleep_for(100ms);
  const auto start = Clock::now();
  client.Disconnect();
  ASSERT_EQ(connect.wait_for(2s), std::future_status::ready);
  EXPECT_LT(Clock::now() - start, 1000ms);
  EXPECT_THROW(connect.get(), net::Error);
  EXPECT_FALSE(client.Connected());
}

TEST_F(TcpClientTest, ConnectWhileConnectedRaises) {
  Peer peer = ConnectPeer();
  try {
    client.Connect();
    FAIL() << "second connect succeeded";
  } catch (const net::Error& e) {
    EXPECT_EQ(std::string(e.what()), "Already connected.");
  }
  EXPECT_TRUE(client.Connected());
}

TEST_F(TcpClientTest, ReadsExactCountsWhateverTheSegmentation) {
  Peer peer = ConnectPeer();
  std::jthread sender([&] {
    // One frame split over three segments, then two frames in one segment.
    peer.Send("\x01\x02\x03");
    std::this_thread::sleep_for(30ms);
    peer.Send("\x04\x07\x00tos"s);
    std::this_thread::sleep_for(30ms);
    peer.Send("mall");
    std::this_thread::sleep_for(30ms);
    peer.Send("HHHH\x00\x00HHHH\x02\x00ok"s);
  });
  EXPECT_EQ(Text(client.ReadBytes(6)), "\x01\x02\x03\x04\x07\x00"s);
  EXPECT_EQ(Text(client.ReadBytes(7)), "tosmall");
  EXPECT_EQ(Text(client.ReadBytes(6)), "HHHH\x00\x00"s);
  EXPECT_EQ(Text(client.ReadBytes(6)), "HHHH\x02\x00"s);
  EXPECT_EQ(Text(client.ReadBytes(2)), "ok");
  sender.join();
}

TEST_F(TcpClientTest, LargeReadArrivesWhole) {
  Peer peer = ConnectPeer();
  std::string big(300000, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 % 251);
  std::jthread sender([&] { peer.Send(big); });
  EXPECT_EQ(Text(client.ReadBytes(big.size())), big);
  sender.join();
}

TEST_F(TcpClientTest, ReadTimeOutKeepsPartialBytes) {
  Peer peer = ConnectPeer(200);
  peer.Send("abc");
  const auto start = Clock::now();
  try {
    client.ReadBytes(6);
    FAIL() << "read returned";
  } catch (const net::ReadTimeout& e) {
    EXPECT_EQ(std::string(e.what()), "Read timed out.");
  }
  EXPECT_GE(Clock::now() - start, 190ms);
  EXPECT_LT(Clock::now() - start, 2000ms);
  EXPECT_TRUE(client.Connected());
  peer.Send("def");
  EXPECT_EQ(Text(client.ReadBytes(6)), "abcdef");
}

TEST_F(TcpClientTest, ClearInputBufferDropsUnreadBytes) {
  Peer peer = ConnectPeer(200);
  peer.Send("stale");
  EXPECT_THROW(client.ReadBytes(6), net::ReadTimeout);
  client.ClearInputBuffer();
  peer.Send("fresh!");
  EXPECT_EQ(Text(client.ReadBytes(6)), "fresh!");
}

TEST_F(TcpClientTest, PeerCloseAfterDataLetsTheRestBeRead) {
  Peer peer = ConnectPeer();
  peer.Send("abc");
  peer.Close();
  EXPECT_EQ(Text(client.ReadBytes(2)), "ab");
  EXPECT_TRUE(client.Connected());  // closed, but "c" is still unread
  EXPECT_EQ(Text(client.ReadBytes(1)), "c");
  try {
    client.ReadBytes(1);
    FAIL() << "read returned";
  } catch (const net::ConnClosedGracefully& e) {
    EXPECT_EQ(std::string(e.what()), "Connection Closed Gracefully.");
  }
  EXPECT_FALSE(client.Connected());
  EXPECT_THROW(client.Write(Bytes("x")), net::Error);
}

TEST_F(TcpClientTest, PeerCloseInsideAReadReleasesTheConnection) {
  Peer peer = ConnectPeer();
  peer.Send("ab");
  std::jthread closer([&] {
    std::this_thread::sleep_for(50ms);
    peer.Close();
  });
  EXPECT_THROW(client.ReadBytes(6), net::ConnClosedGracefully);
  closer.join();
  // The two bytes could never make a whole read; the client must not stay "connected".
  EXPECT_FALSE(client.Connected());
  EXPECT_THROW(client.ReadBytes(1), net::Error);
}

TEST_F(TcpClientTest, ConnectedNoticesPeerCloseWithoutARead) {
  Peer peer = ConnectPeer();
  EXPECT_TRUE(client.Connected());
  peer.Close();
  EXPECT_TRUE(nettest::WaitUntil([&] { return !client.Connected(); }));
}

TEST_F(TcpClientTest, ReconnectsAfterPeerClose) {
  Peer first = ConnectPeer();
  first.Send("old");
  first.Close();
  ASSERT_TRUE(nettest::WaitUntil([&] {
    try {
      client.ReadBytes(4);
    } catch (const net::Error&) {
    }
    return !client.Connected();
  }));
  client.Connect();
  Peer second = listener.Accept();
  second.Send("new!");
  EXPECT_EQ(Text(client.ReadBytes(4)), "new!");
}

TEST_F(TcpClientTest, DisconnectFromAnotherThreadUnblocksRead) {
  Peer peer = ConnectPeer(20000);
  peer.Send("xy");
  auto read = std::async(std::launch::async, [&] { return client.ReadBytes(6); });
  std::this_thread::sleep_for(100ms);
  const auto start = Clock::now();
  client.Disconnect();
  ASSERT_EQ(read.wait_for(2s), std::future_status::ready);
  EXPECT_LT(Clock::now() - start, 1000ms);
  EXPECT_THROW(read.get(), net::Error);
  EXPECT_FALSE(client.Connected());
  EXPECT_TRUE(peer.SeesClose());
  // Bytes of the old connection never reach a new one.
  client.Connect();
  Peer next = listener.Accept();
  next.Send("123456");
  EXPECT_EQ(Text(client.ReadBytes(6)), "123456");
}

TEST_F(TcpClientTest, WritesArriveInOrder) {
  Peer peer = ConnectPeer();
  client.Write(Bytes(R"({"pcup":""}pqend)"));
  client.Write(Bytes("second"));
  EXPECT_EQ(peer.Receive(22), R"({"pcup":""}pqendsecond)");
}

TEST_F(TcpClientTest, ConcurrentWritesNeverInterleave) {
  Peer peer = ConnectPeer();
  constexpr int kThreads = 4;
  constexpr int kWrites = 12;
  // Larger than the socket buffers, so each write needs many send calls.
  constexpr std::size_t kBlock = 256 * 1024;
  const std::size_t total = kThreads * kWrites * kBlock;

  std::string received;
  std::jthread reader([&] { received = peer.Receive(total, 20000ms); });
  std::vector<std::jthread> writers;
  std::atomic<int> failures{0};
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([&, t] {
      // Each write is uniform in the writer's byte, so any mix inside a block shows.
      const std::vector<std::uint8_t> block(kBlock, static_cast<std::uint8_t>('A' + t));
      for (int i = 0; i < kWrites; ++i) {
        try {
          client.Write(block);
        } catch (const net::Error&) {
          ++failures;
        }
      }
    });
  }
  for (auto& w : writers) w.join();
  reader.join();
  EXPECT_EQ(failures, 0);
  ASSERT_EQ(received.size(), total);
  int perThread[kThreads] = {};
  for (std::size_t at = 0; at < total; at += kBlock) {
    const char owner = received[at];
    ASSERT_GE(owner, 'A');
    ASSERT_LT(owner, 'A' + kThreads);
    const auto first = received.begin() + static_cast<std::ptrdiff_t>(at);
    ASSERT_TRUE(std::all_of(first, first + kBlock, [&](char c) { return c == owner; }))
        << "write interleaved in block " << at / kBlock;
    ++perThread[owner - 'A'];
  }
  for (int n : perThread) EXPECT_EQ(n, kWrites);
}

TEST_F(TcpClientTest, WriteAfterDisconnectRaises) {
  Peer peer = ConnectPeer();
  client.Disconnect();
  try {
    client.Write(Bytes("x"));
    FAIL() << "write succeeded";
  } catch (const net::Error& e) {
    EXPECT_EQ(std::string(e.what()), "Not Connected");
  }
}

}  // namespace
