#pragma once
// What the kernel knows about the loopback TCP sockets of the tests (Linux): their states and
// queues from /proc/net/tcp, and the descriptor of a connection made by code under test, so a
// test can wait on a real condition ("the connect is under way", "the bytes are in the client's
// input", "the send buffer is full") instead of sleeping.

#include <arpa/inet.h>
#include <dirent.h>
#include <linux/sock_diag.h>
#include <linux/tcp.h>  // tcp_info with the peer's window (not in <netinet/tcp.h>)
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace socktest {

enum TcpState { kEstablished = 1, kSynSent = 2, kListen = 10 };

struct TcpSocket {
  std::uint32_t local_addr = 0;  // network byte order, like in_addr.s_addr
  int local_port = 0;
  std::uint32_t remote_addr = 0;
  int remote_port = 0;
  int state = 0;
  unsigned long tx_queue = 0;  // sent and not yet acknowledged, or not yet sent
  unsigned long rx_queue = 0;  // received and not yet read by the program
  unsigned long inode = 0;
};

inline std::uint32_t Address(const std::string& dotted) {
  in_addr a{};
  inet_pton(AF_INET, dotted.c_str(), &a);
  return a.s_addr;
}

// The IPv4 TCP sockets of this network namespace.
inline std::vector<TcpSocket> TcpSockets() {
  std::vector<TcpSocket> out;
  std::ifstream in("/proc/net/tcp");
  std::string line;
  std::getline(in, line);  // the heading
  while (std::getline(in, line)) {
    TcpSocket s;
    unsigned local = 0, remote = 0, lport = 0, rport = 0, state = 0;
    unsigned long tx = 0, rx = 0, inode = 0;
    // sl local rem st tx:rx tr:when retrnsmt uid timeout inode
    if (std::sscanf(line.c_str(), " %*d: %8X:%4X %8X:%4X %2X %8lX:%8lX %*x:%*x %*x %*u %*d %lu",
                    &local, &lport, &remote, &rport, &state, &tx, &rx, &inode) != 8)
      continue;
    s.local_addr = local;
    s.local_port = static_cast<int>(lport);
    s.remote_addr = remote;
    s.remote_port = static_cast<int>(rport);
    s.state = static_cast<int>(state);
    s.tx_queue = tx;
    s.rx_queue = rx;
    s.inode = inode;
    out.push_back(s);
  }
  return out;
}

// The socket of a connection (or connect under way) to host:port, if there is one.
inline bool SocketTo(const std::string& host, int port, TcpSocket* found) {
  const std::uint32_t addr = Address(host);
  for (const TcpSocket& s : TcpSockets()) {
    if (s.remote_addr == addr && s.remote_port == port &&
        (s.state == kEstablished || s.state == kSynSent)) {
      *found = s;
      return true;
    }
  }
  return false;
}

// The descriptor number, in process `pid`, of the socket with that inode; -1 when none.
inline int DescriptorOfInode(pid_t pid, unsigned long inode) {
  const std::string dir = "/proc/" + std::to_string(pid) + "/fd";
  const std::string want = "socket:[" + std::to_string(inode) + "]";
  int fd = -1;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d)) {
      char target[64] = {};
      const std::string link = dir + "/" + e->d_name;
      const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
      if (n > 0 && want == std::string(target, static_cast<std::size_t>(n))) {
        fd = std::atoi(e->d_name);
        break;
      }
    }
    ::closedir(d);
  }
  return fd;
}

// A descriptor of this process for the socket that process `pid` (this one or a child) holds
// connected to host:port; -1 when there is none. For another process it is a duplicate
// (pidfd_getfd), to be closed by the caller; for this process it is the socket's own.
inline int ConnectionDescriptor(pid_t pid, const std::string& host, int port) {
  TcpSocket s;
  if (!SocketTo(host, port, &s)) return -1;
  const int fd = DescriptorOfInode(pid, s.inode);
  if (fd < 0 || pid == ::getpid()) return fd;
  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (pidfd < 0) return -1;
  const int dup = static_cast<int>(::syscall(SYS_pidfd_getfd, pidfd, fd, 0));
  ::close(pidfd);
  return dup;
}

// True when a write on `fd` would block: the bytes queued for sending fill the send buffer.
inline bool SendBufferFull(int fd) {
  std::uint32_t mem[SK_MEMINFO_VARS] = {};
  socklen_t len = sizeof mem;
  if (::getsockopt(fd, SOL_SOCKET, SO_MEMINFO, mem, &len) != 0) return false;
  return mem[SK_MEMINFO_WMEM_QUEUED] >= mem[SK_MEMINFO_SNDBUF];
}

// True when nothing queued on `fd` can move until the peer reads: the send buffer is full, the
// peer's window is shut and nothing is on the way. Every further write then blocks.
inline bool SendsStuck(int fd) {
  tcp_info info{};
  socklen_t len = sizeof info;
  if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &len) != 0) return false;
  return SendBufferFull(fd) && info.tcpi_snd_wnd == 0 && info.tcpi_unacked == 0;
}

}  // namespace socktest
