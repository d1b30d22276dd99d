// board-peer: a demo Vellumark board. Prints what it receives, takes commands on stdin, keeps
// running when stdin ends (it may run in the background) and stops on SIGINT or SIGTERM.
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "board_peer/BoardPeer.h"

namespace {

std::mutex g_out_mu;

void Say(const std::string& line) {
  std::lock_guard lk(g_out_mu);
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

constexpr const char* kHelp =
    "usage: board-peer [options]\n"
    "  --host ADDR         address to bind, the only one (default 127.0.0.1)\n"
    "  --name NAME         board name in the beacons (default \"Vellumark Board\")\n"
    "  --beacon-to ADDR[:PORT]  where beacons go (default 127.0.0.1:3395)\n"
    "  --interval MS       beacon interval, 0 for none (default 1000)\n"
    "  --tcp-port PORT     board connection port (default 3392)\n"
    "  --http-port PORT    file server port (default 3391)\n"
    "  --rcvbuf BYTES      receive buffer of the board connection (default: the system's)\n"
    "  --help              this text\n"
    "commands on stdin, one per line:\n"
    "  tosmall | reset | frame TEXT | close | refuse | accept | stall | resume | beacon | state |"
    " quit\n"
    "  (stall: stop reading the connection, like a hung board; resume: read again)\n";

bool ParsePort(const std::string& text, std::uint16_t& port) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || end == text.c_str() || *end != '\0' || v < 0 || v > 65535) return false;
  port = static_cast<std::uint16_t>(v);
  return true;
}

void PrintState(const board_peer::BoardPeer& peer) {
  const board_peer::BoardState s = peer.State();
  Say("state: handshakes " + std::to_string(s.handshakes) + ", messages " +
      std::to_string(s.messages) + ", pages " + std::to_string(s.pages.size()) + ", ideas " +
      std::to_string(s.ideas.size()) + ", enlarged " + std::to_string(s.enlarged_id) + ", pc \"" +
      s.pc_name + "\" " + s.pc_ip);
  for (const auto& [id, page] : s.pages) {
    Say("  page " + std::to_string(id) + ": src " + std::to_string(page.src) + " at " +
        std::to_string(page.x) + "," + std::to_string(page.y));
  }
  for (const auto& [id, idea] : s.ideas) {
    Say("  idea " + std::to_string(id) + ": " + idea.user + " " + idea.time + " " + idea.text);
  }
  for (const auto& [device, images] : s.images) {
    Say("  images of " + device + ": " + std::to_string(images.size()));
  }
}

void RunCommand(board_peer::BoardPeer& peer, const std::string& line) {
  auto report = [](bool ok, const char* what) {
    Say(ok ? std::string(what) : "failed: " + std::string(what));
  };
  if (line.empty()) return;
  if (line == "tosmall") {
    report(peer.SendFrame("tosmall"), "sent tosmall");
  } else if (line == "reset") {
    report(peer.SendFrame("1_reset"), "sent 1_reset");
  } else if (line.rfind("frame ", 0) == 0) {
    report(peer.SendFrame(line.substr(6)), "sent frame");
  } else if (line == "close") {
    report(peer.CloseConnection(), "close");
  } else if (line == "refuse") {
    report(peer.SetRefuse(true), "refusing connections");
  } else if (line == "accept") {
    report(peer.SetRefuse(false), "accepting connections");
  } else if (line == "stall") {
    report(peer.SetStalled(true), "stalled: not reading the connection");
  } else if (line == "resume") {
    report(peer.SetStalled(false), "reading the connection again");
  } else if (line == "beacon") {
    report(peer.SendBeacon(), "sent beacon");
  } else if (line == "state") {
    PrintState(peer);
  } else if (line == "quit") {
    ::kill(::getpid(), SIGTERM);
  } else {
    Say("unknown command: " + line +
        " (tosmall, reset, frame TEXT, close, refuse, accept, stall, resume, "
        "beacon, state, quit)");
  }
}

// Reads commands until stdin ends or the program stops; polls so that it can be joined.
void ReadCommands(board_peer::BoardPeer& peer, const std::atomic<bool>& quit) {
  std::string pending;
  char buf[4096];
  while (!quit) {
    pollfd p{STDIN_FILENO, POLLIN, 0};
    const int r = ::poll(&p, 1, 200);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return;
    if (r == 0) continue;
    const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // stdin closed: keep serving, stop reading
    pending.append(buf, static_cast<std::size_t>(n));
    std::size_t eol;
    while ((eol = pending.find('\n')) != std::string::npos) {
      std::string line = pending.substr(0, eol);
      pending.erase(0, eol + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      RunCommand(peer, line);
    }
    if (pending.size() > 65536) pending.clear();
  }
}

}  // namespace

int main(int argc, char** argv) {
  board_peer::Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) {
        std::cerr << "board-peer: " << arg << " needs a value\n";
        return false;
      }
      out = argv[++i];
      return true;
    };
    std::string v;
    if (arg == "--help" || arg == "-h") {
      std::cout << kHelp;
      return 0;
    } else if (arg == "--host") {
      if (!value(options.host)) return 2;
    } else if (arg == "--name") {
      if (!value(options.name)) return 2;
    } else if (arg == "--beacon-to") {
      if (!value(v)) return 2;
      const std::size_t colon = v.find(':');
      options.beacon_host = v.substr(0, colon);
      if (colon != std::string::npos && !ParsePort(v.substr(colon + 1), options.beacon_port)) {
        std::cerr << "board-peer: bad port in --beacon-to " << v << "\n";
        return 2;
      }
    } else if (arg == "--interval") {
      if (!value(v)) return 2;
      char* end = nullptr;
      const long ms = std::strtol(v.c_str(), &end, 10);
      if (end == v.c_str() || *end != '\0' || ms < 0) {
        std::cerr << "board-peer: bad --interval " << v << "\n";
        return 2;
      }
      options.beacon_interval = std::chrono::milliseconds(ms);
    } else if (arg == "--rcvbuf") {
      if (!value(v)) return 2;
      char* end = nullptr;
      const long bytes = std::strtol(v.c_str(), &end, 10);
      if (end == v.c_str() || *end != '\0' || bytes <= 0 || bytes > (1 << 30)) {
        std::cerr << "board-peer: bad --rcvbuf " << v << "\n";
        return 2;
      }
      options.receive_buffer = static_cast<int>(bytes);
    } else if (arg == "--tcp-port" || arg == "--http-port") {
      if (!value(v)) return 2;
      if (!ParsePort(v, arg == "--tcp-port" ? options.tcp_port : options.http_port)) {
        std::cerr << "board-peer: bad " << arg << " " << v << "\n";
        return 2;
      }
    } else {
      std::cerr << "board-peer: unknown option " << arg << "\n" << kHelp;
      return 2;
    }
  }
  options.keep_records = false;  // a demo may run for hours; print instead of keeping

  // Every thread inherits the blocked signals; only sigwait below takes them.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  board_peer::BoardPeer peer(options);
  peer.SetEventHandler([](const board_peer::Event& e) {
    using Kind = board_peer::Event::Kind;
    switch (e.kind) {
      case Kind::Connected:
        Say("connected " + std::to_string(e.connection) + " from " + e.detail);
        break;
      case Kind::Closed:
        Say("closed " + std::to_string(e.connection));
        break;
      case Kind::Text:
        Say("text " + std::to_string(e.connection) + ": " + board_peer::PrintableLine(e.detail));
        break;
      case Kind::Http:
        Say("http " + e.detail);
        break;
    }
  });
  std::string error;
  if (!peer.Start(&error)) {
    std::cerr << "board-peer: " << error << "\n";
    return 1;
  }
  Say("board \"" + options.name + "\" on " + peer.Host() + " (tcp " +
      std::to_string(peer.TcpPort()) + ", http " + std::to_string(peer.HttpPort()) +
      "), beacons to " + options.beacon_host + ":" + std::to_string(options.beacon_port) +
      (options.beacon_interval.count() > 0
           ? " every " + std::to_string(options.beacon_interval.count()) + " ms"
           : std::string(" on demand")));

  std::atomic<bool> quit{false};
  std::thread input([&] { ReadCommands(peer, quit); });

  int sig = 0;
  while (sigwait(&stop_signals, &sig) != 0) {
  }
  quit = true;
  input.join();
  peer.Stop();
  Say("stopped");
  return 0;
}
