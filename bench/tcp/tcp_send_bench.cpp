// Cost of one image message on the wire: building the envelope, its JSON text, the code-page
// round trip and the write, beside a bare write of the same bytes on the same connection.

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "TcpThread.h"

namespace {

// A loopback listener that accepts one connection and discards whatever arrives.
class Sink {
 public:
  Sink() {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(listener_, 1);
    socklen_t len = sizeof addr;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    drain_ = std::thread([this] {
      const int fd = ::accept(listener_, nullptr, nullptr);
      char buffer[65536];
      while (::read(fd, buffer, sizeof buffer) > 0) {
      }
      ::close(fd);
    });
  }
  ~Sink() {
    drain_.join();
    ::close(listener_);
  }
  int port() const { return port_; }

 private:
  int listener_ = -1;
  int port_ = 0;
  std::thread drain_;
};

rtl::JsonObject image_message() {
  rtl::JsonObject msg;
  msg.AddPair(u"action", u"move").AddPair(u"x", 4531).AddPair(u"y", 6018);
  msg.AddPair(u"scale", 1).AddPair(u"src", 3).AddPair(u"id", 2);
  rtl::JsonObject board;
  board.AddPair(u"msgId", 1).AddPair(u"msgType", 2).AddPair(u"msg", std::move(msg));
  return board;
}

struct Connection {
  Sink sink;
  net::TcpClient tcp;
  TcpThread supervisor{true, &tcp};  // suspended: only its send path is measured
  Connection() {
    tcp.SetHost(u"127.0.0.1");
    tcp.SetPort(sink.port());
    tcp.Connect();
  }
  ~Connection() { tcp.Disconnect(); }
};

void BM_ImageMessageEnvelope(benchmark::State& state) {
  Connection c;
  for (auto _ : state) c.supervisor.tcp_send(image_message());
}
BENCHMARK(BM_ImageMessageEnvelope)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_BareWriteSameBytes(benchmark::State& state) {
  Connection c;
  const std::string text =
      R"({"phone":{"sendToId":531864207,"message":{"msgId":1,"msgType":2,"msg":{"action":"move","x":4531,"y":6018,"scale":1,"src":3,"id":2}}}}pqend)";
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
  for (auto _ : state) c.tcp.Write({bytes, text.size()});
}
BENCHMARK(BM_BareWriteSameBytes)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
