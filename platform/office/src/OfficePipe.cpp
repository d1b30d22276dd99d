#include "OfficePipe.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QByteArray>
#include <QString>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <thread>

namespace office::detail {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr std::string_view kSendArguments = "InternalIPC::SendArguments";
constexpr std::string_view kArguments = "InternalIPC::Arguments";
constexpr std::string_view kProcessingDone = "InternalIPC::ProcessingDone";

bool ValidUtf8(const std::string& text) {
  const QByteArray bytes(text.data(), static_cast<qsizetype>(text.size()));
  return QString::fromUtf8(bytes).toUtf8() == bytes;
}

// Commas part the arguments; a backslash escapes a comma, itself or a NUL ("\0").
void AppendEscaped(std::string& out, const std::string& text) {
  for (char c : text) {
    switch (c) {
      case '\0':
        out += "\\0";
        break;
      case ',':
        out += "\\,";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        out += c;
    }
  }
}

class Socket {
 public:
  Socket() : fd_(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)) {}
  ~Socket() {
    if (fd_ >= 0) close(fd_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

int MillisecondsLeft(Clock::time_point end) {
  const auto left = std::chrono::duration_cast<milliseconds>(end - Clock::now()).count();
  return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 1000));
}

// A full queue of waiting connections refuses a non-blocking connect for now; a missing or
// dead instance for good.
HandOver Connect(const Socket& s, const std::filesystem::path& pipe, Clock::time_point end) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string path = pipe.string();
  if (path.size() >= sizeof address.sun_path) return HandOver::Failed;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  for (;;) {
    if (connect(s.fd(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
      return HandOver::Done;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN) return HandOver::Failed;
    if (Clock::now() >= end) return HandOver::TimedOut;
    std::this_thread::sleep_for(milliseconds(10));
  }
}

// Reads one message, up to its NUL.
HandOver Receive(const Socket& s, std::string& message, Clock::time_point end) {
  message.clear();
  for (;;) {
    char buffer[256];
    const ssize_t got = recv(s.fd(), buffer, sizeof buffer, 0);
    if (got > 0) {
      message.append(buffer, static_cast<std::size_t>(got));
      if (const std::size_t nul = message.find('\0'); nul != std::string::npos) {
        message.resize(nul);
        return HandOver::Done;
      }
      continue;
    }
    if (got == 0) return HandOver::Failed;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return HandOver::Failed;
    const int wait = MillisecondsLeft(end);
    if (wait == 0) return HandOver::TimedOut;
    pollfd p{s.fd(), POLLIN, 0};
    poll(&p, 1, wait);
  }
}

HandOver Send(const Socket& s, std::string_view data, Clock::time_point end) {
  while (!data.empty()) {
    const ssize_t put = send(s.fd(), data.data(), data.size(), MSG_NOSIGNAL);
    if (put > 0) {
      data.remove_prefix(static_cast<std::size_t>(put));
      continue;
    }
    if (put < 0 && errno == EINTR) continue;
    if (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return HandOver::Failed;
    const int wait = MillisecondsLeft(end);
    if (wait == 0) return HandOver::TimedOut;
    pollfd p{s.fd(), POLLOUT, 0};
    poll(&p, 1, wait);
  }
  return HandOver::Done;
}

}  // namespace

std::optional<std::string> ArgumentsMessage(const std::string& cwdUrl,
                                            const std::vector<std::string>& args) {
  std::string message(kArguments);
  // "1" and a URL name the working folder; "0" leaves it to the instance.
  if (!cwdUrl.empty() && ValidUtf8(cwdUrl)) {
    message += '1';
    AppendEscaped(message, cwdUrl);
  } else {
    message += '0';
  }
  for (const std::string& arg : args) {
    if (!ValidUtf8(arg)) return std::nullopt;
    message += ',';
    AppendEscaped(message, arg);
  }
  message += '\0';
  return message;
}

HandOver HandOverArguments(const std::filesystem::path& pipe, const std::string& message,
                           milliseconds timeout) {
  const auto end = Clock::now() + timeout;
  Socket s;
  if (s.fd() < 0) return HandOver::Failed;
  if (const HandOver c = Connect(s, pipe, end); c != HandOver::Done) return c;
  // The instance greets once it has started up and takes one command line at a time.
  std::string answer;
  if (const HandOver r = Receive(s, answer, end); r != HandOver::Done) return r;
  if (answer != kSendArguments) return HandOver::Failed;
  if (const HandOver w = Send(s, message, end); w != HandOver::Done) return w;
  if (const HandOver r = Receive(s, answer, end); r != HandOver::Done) return r;
  return answer == kProcessingDone ? HandOver::Done : HandOver::Failed;
}

}  // namespace office::detail
