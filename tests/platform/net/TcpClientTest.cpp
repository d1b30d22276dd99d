#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "LoopbackPeer.h"
#include "SocketTable.h"
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
  // The kernel shows the client's connect under way once it has begun (the last filler's hangs
  // too: it is told apart by its port).
  std::vector<int> fillerPorts;
  for (const auto& f : fillers) fillerPorts.push_back(nettest::BoundPort(f.get()));
  ASSERT_TRUE(nettest::WaitUntil([&] {
    for (const socktest::TcpSocket& s : socktest::TcpSockets())
      if (s.remote_port == port && s.state == socktest::kSynSent &&
          std::find(fillerPorts.begin(), fillerPorts.end(), s.local_port) == fillerPorts.end())
        return true;
    return false;
  })) << "no connect under way";
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
  // The two bytes wait in the kernel until the read takes them: then it waits for the rest.
  auto input = [&] {
    socktest::TcpSocket s;
    return socktest::SocketTo("127.0.0.1", listener.port(), &s) ? s.rx_queue : 99ul;
  };
  ASSERT_TRUE(nettest::WaitUntil([&] { return input() == 2; }));
  auto read = std::async(std::launch::async, [&] { return client.ReadBytes(6); });
  ASSERT_TRUE(nettest::WaitUntil([&] { return input() == 0; })) << "the read did not start";
  const auto start = Clock::now();
  client.Disconnect();
  ASSERT_EQ(read.wait_for(2s), std::future_status::ready);
  EXPECT_LT(Clock::now() - start, 1000ms);
  try {
    read.get();
    FAIL() << "read returned";
  } catch (const net::Error& e) {
    EXPECT_EQ(std::string(e.what()), "Disconnected.") << "interrupted, not refused at the start";
  }
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

// ---------------------------------------------------------------- write deadline

// A peer that accepts and never reads, with a small receive buffer: the client's writes soon
// have nowhere to go. A write far larger than every buffer on the way blocks for certain.
class StalledPeerTest : public ::testing::Test {
 protected:
  Peer ConnectPeer() {
    client.SetHost(u"127.0.0.1");
    client.SetPort(listener.port());
    client.SetConnectTimeout(2000);
    client.Connect();
    return listener.Accept();
  }

  // The calls of the wait hook, per thread.
  void RecordWaits(std::function<void()> also = {}) {
    client.SetWaitHook([this, also] {
      {
        std::lock_guard lock(mutex);
        ++waits[std::this_thread::get_id()];
      }
      if (also) also();
    });
  }
  int WaitsOf(std::thread::id thread) {
    std::lock_guard lock(mutex);
    return waits[thread];
  }

  nettest::Listener listener{4096};
  net::TcpClient client;
  const std::vector<std::uint8_t> big = std::vector<std::uint8_t>(32 << 20, 'x');
  std::mutex mutex;
  std::map<std::thread::id, int> waits;
};

// Waits for a write on another thread; without a deadline only a Disconnect ends it, and the
// test fails instead of hanging.
bool Ends(std::future<void>& write, net::TcpClient& client, std::chrono::milliseconds limit) {
  if (write.wait_for(limit) == std::future_status::ready) return true;
  client.Disconnect();
  write.wait();
  return false;
}

TEST_F(StalledPeerTest, AWriteThePeerDoesNotTakeFailsAtTheDeadlineAndClosesTheConnection) {
  Peer peer = ConnectPeer();
  client.SetWriteTimeout(300);
  const auto start = Clock::now();
  auto write = std::async(std::launch::async, [&] { client.Write(big); });
  ASSERT_TRUE(Ends(write, client, 10s)) << "the write was still blocked after 10 s";
  const auto took = Clock::now() - start;
  try {
    write.get();
    FAIL() << "the write went out";
  } catch (const net::WriteTimeout& e) {
    EXPECT_EQ(std::string(e.what()), "Write timed out.");
  }
  EXPECT_GE(took, 290ms);
  EXPECT_LT(took, 3000ms);
  // Half a write on the wire would corrupt the stream: the connection is gone.
  EXPECT_FALSE(client.Connected());
  EXPECT_THROW(client.Write(Bytes("x")), net::Error);
  EXPECT_TRUE(peer.SeesClose(10s));
}

TEST_F(StalledPeerTest, TheWaitForAnotherWriteCountsAndLeavesThatWriteAlone) {
  Peer peer = ConnectPeer();
  RecordWaits();
  // The first write has all the time in the world; it blocks in the socket.
  auto first = std::async(std::launch::async, [&] { client.Write(big, Clock::now() + 60s); });
  struct EndsFirst {  // whatever fails below, the first write ends with the test
    net::TcpClient& client;
    ~EndsFirst() { client.Disconnect(); }
  } ends_first{client};
  ASSERT_TRUE(nettest::WaitUntil([&] {
    std::lock_guard lock(mutex);
    for (const auto& [thread, n] : waits)
      if (n > 0) return true;
    return false;
  })) << "the first write never waited";

  client.SetWriteTimeout(300);
  std::thread::id secondThread;
  const auto start = Clock::now();
  auto second = std::async(std::launch::async, [&] {
    secondThread = std::this_thread::get_id();
    client.Write(Bytes("second"));
  });
  ASSERT_TRUE(Ends(second, client, 10s)) << "the second write was still waiting after 10 s";
  const auto took = Clock::now() - start;
  try {
    second.get();
    FAIL() << "the second write went out";
  } catch (const net::WriteTimeout& e) {
    EXPECT_EQ(std::string(e.what()), "Write timed out.");
  }
  EXPECT_GE(took, 290ms);
  EXPECT_LT(took, 3000ms);
  EXPECT_GT(WaitsOf(secondThread), 0) << "the wait for the lock calls the hook";
  EXPECT_TRUE(client.Connected()) << "the connection stays with the write that holds it";
  EXPECT_EQ(first.wait_for(0ms), std::future_status::timeout);

  client.Disconnect();
  ASSERT_EQ(first.wait_for(2s), std::future_status::ready) << "a Disconnect ends the wait";
  try {
    first.get();
    FAIL() << "the first write went out";
  } catch (const net::Error& e) {
    EXPECT_EQ(std::string(e.what()), "Disconnected.");
  }
}

TEST_F(StalledPeerTest, TheWaitHookRunsOnTheWaitingThreadAndMayEndTheWait) {
  Peer peer = ConnectPeer();
  // No write time-out: the hook alone ends this wait, from the waiting thread itself.
  int calls = 0;
  std::thread::id writer;
  std::thread::id hookThread;
  client.SetWaitHook([&] {
    hookThread = std::this_thread::get_id();
    if (++calls == 3) client.Disconnect();
  });
  const auto start = Clock::now();
  auto write = std::async(std::launch::async, [&] {
    writer = std::this_thread::get_id();
    client.Write(big);
  });
  ASSERT_TRUE(Ends(write, client, 10s)) << "the hook did not end the wait";
  EXPECT_THROW(write.get(), net::Error);
  EXPECT_EQ(calls, 3) << "the write ends at once after the hook's Disconnect";
  EXPECT_EQ(hookThread, writer);
  EXPECT_LT(Clock::now() - start, 3000ms) << "the hook comes every few tens of ms";
  EXPECT_FALSE(client.Connected());
}

// The write lock: taken at once when free, taken when its holder lets go during the wait, given up
// at the deadline. What the holder wrote under the lock is seen by the thread that takes it next.
TEST(TimedMutexLockUntil, TakesTheLockWhenFreeOrReleasedInTimeAndGivesUpAtTheDeadline) {
  struct Case {
    const char* name;
    bool held;                // another thread holds the lock when the wait starts
    bool releaseAtFirstHook;  // ... and lets go when the waiter's hook first runs
    bool takes;
  };
  for (const Case& c :
       {Case{"free", false, false, true}, Case{"released during the wait", true, true, true},
        Case{"held past the deadline", true, false, false}}) {
    SCOPED_TRACE(c.name);
    net::TimedMutex mutex;
    int written = 0;  // guarded by mutex
    std::promise<void> holding;
    std::promise<void> release;
    std::thread holder;
    if (c.held) {
      holder = std::thread([&] {
        std::lock_guard hold(mutex);
        written = 1;
        holding.set_value();
        release.get_future().wait();
      });
      holding.get_future().wait();
    }
    const auto waiter = std::this_thread::get_id();
    int hooks = 0;
    bool hooksOnWaiter = true;
    const auto deadline = Clock::now() + 300ms;
    std::unique_lock lock(mutex, std::defer_lock);
    const bool took = net::LockUntil(lock, deadline, [&] {
      hooksOnWaiter = hooksOnWaiter && std::this_thread::get_id() == waiter;
      if (hooks++ == 0 && c.releaseAtFirstHook) release.set_value();
    });
    const auto ended = Clock::now();
    EXPECT_EQ(took, c.takes);
    EXPECT_EQ(lock.owns_lock(), c.takes);
    if (took) {
      EXPECT_EQ(written, c.held ? 1 : 0);
    } else {
      EXPECT_GE(ended, deadline);
    }
    EXPECT_LT(ended - deadline, 2s);
    EXPECT_EQ(hooks > 0, c.held) << "the hook runs between slices of a wait, and only then";
    EXPECT_TRUE(hooksOnWaiter);
    if (c.held && !c.releaseAtFirstHook) release.set_value();
    if (holder.joinable()) holder.join();
  }
}

}  // namespace
