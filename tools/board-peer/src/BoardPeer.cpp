#include "board_peer/BoardPeer.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <httplib.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <random>
#include <thread>

namespace board_peer {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kStartWait = std::chrono::seconds(5);
constexpr auto kTaskWait = std::chrono::seconds(5);
constexpr int kSendTimeoutMs = 3000;
constexpr int kPollMs = 250;
constexpr std::size_t kReadChunk = 64 * 1024;
// Holds the Content-Type of a multipart request while the body is read as plain bytes.
constexpr const char* kHiddenContentType = "X-Board-Peer-Content-Type";

std::string ErrnoText(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

std::optional<sockaddr_in> MakeAddr(const std::string& host, std::uint16_t port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  if (inet_pton(AF_INET, host.c_str(), &addr.sin_addr) != 1) return std::nullopt;
  return addr;
}

std::string AddrText(const sockaddr_in& addr) {
  char buf[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &addr.sin_addr, buf, sizeof buf);
  return std::string(buf) + ":" + std::to_string(ntohs(addr.sin_port));
}

const sockaddr* AsSockaddr(const sockaddr_in* addr) {
  return reinterpret_cast<const sockaddr*>(addr);
}
sockaddr* AsSockaddr(sockaddr_in* addr) {
  return reinterpret_cast<sockaddr*>(addr);
}

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// A nonblocking TCP listener on host:port; errno tells why on failure. receive_buffer > 0 sets
// SO_RCVBUF, which the accepted connections take over.
int Listen(const std::string& host, std::uint16_t port, std::uint16_t* bound_port,
           int receive_buffer = 0) {
  const auto addr = MakeAddr(host, port);
  if (!addr) {
    errno = EINVAL;
    return -1;
  }
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const int yes = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  if (receive_buffer > 0)
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
  if (::bind(fd, AsSockaddr(&*addr), sizeof *addr) != 0 || ::listen(fd, 16) != 0) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return -1;
  }
  if (bound_port) {
    sockaddr_in got{};
    socklen_t len = sizeof got;
    ::getsockname(fd, AsSockaddr(&got), &len);
    *bound_port = ntohs(got.sin_port);
  }
  return fd;
}

bool CanBind(const std::string& host, std::uint16_t port) {
  if (port == 0) return true;
  const auto addr = MakeAddr(host, port);
  if (!addr) return false;
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const int yes = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  const bool ok = ::bind(fd, AsSockaddr(&*addr), sizeof *addr) == 0;
  ::close(fd);
  return ok;
}

// Writes all bytes within the send time-out.
bool SendAll(int fd, std::string_view bytes) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(kSendTimeoutMs);
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd p{fd, POLLOUT, 0};
    ::poll(&p, 1, static_cast<int>(left));
  }
  return true;
}

// Open sockets of this process connected from local_addr:local_port, optionally to one remote
// address and port (remote_port -1: any).
std::vector<int> FindConnectionFds(const std::string& local_addr, int local_port,
                                   const std::string& remote_addr = {}, int remote_port = -1) {
  std::vector<int> found;
  DIR* dir = ::opendir("/proc/self/fd");
  if (!dir) return found;
  while (dirent* entry = ::readdir(dir)) {
    char* end = nullptr;
    const long fd = std::strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0' || fd == ::dirfd(dir)) continue;
    sockaddr_in local{};
    sockaddr_in remote{};
    socklen_t len = sizeof local;
    if (::getsockname(static_cast<int>(fd), AsSockaddr(&local), &len) != 0 ||
        local.sin_family != AF_INET || ntohs(local.sin_port) != local_port)
      continue;
    len = sizeof remote;
    if (::getpeername(static_cast<int>(fd), AsSockaddr(&remote), &len) != 0) continue;
    if (remote_port >= 0 && ntohs(remote.sin_port) != remote_port) continue;
    if (!local_addr.empty() && AddrText(local).rfind(local_addr + ":", 0) != 0) continue;
    if (!remote_addr.empty() && AddrText(remote).rfind(remote_addr + ":", 0) != 0) continue;
    found.push_back(static_cast<int>(fd));
  }
  ::closedir(dir);
  return found;
}

int IntOr(const nlohmann::ordered_json& obj, const char* key, int fallback) {
  const auto it = obj.find(key);
  return it != obj.end() && it->is_number_integer() ? it->get<int>() : fallback;
}

std::string StrOr(const nlohmann::ordered_json& obj, const char* key) {
  const auto it = obj.find(key);
  return it != obj.end() && it->is_string() ? it->get<std::string>() : std::string();
}

void ApplyImage(BoardState& s, const nlohmann::ordered_json& m) {
  const std::string action = StrOr(m, "action");
  const int id = IntOr(m, "id", -1);
  if (action == "add") {
    s.pages[id] = BoardState::Page{IntOr(m, "src", -1), IntOr(m, "x", 0), IntOr(m, "y", 0)};
  } else if (action == "move") {
    if (auto it = s.pages.find(id); it != s.pages.end()) {
      it->second.x = IntOr(m, "x", it->second.x);
      it->second.y = IntOr(m, "y", it->second.y);
    }
  } else if (action == "enlarge") {
    s.enlarged_id = id;
    s.enlarged_src = IntOr(m, "src", -1);
  } else if (action == "shrink") {
    s.enlarged_id = -1;
    s.enlarged_src = -1;
  } else if (action == "delete") {
    s.pages.erase(id);
    if (s.enlarged_id == id) {
      s.enlarged_id = -1;
      s.enlarged_src = -1;
    }
  } else if (action == "left") {
    if (s.enlarged_src > 1) --s.enlarged_src;
  } else if (action == "right") {
    if (s.enlarged_src > 0) ++s.enlarged_src;
  }
}

void ApplyText(BoardState& s, const nlohmann::ordered_json& j) {
  if (!j.is_object()) {
    ++s.unknown;
    return;
  }
  if (j.size() == 1 && j.contains("pcup")) {
    ++s.handshakes;
    return;
  }
  const auto phone = j.find("phone");
  if (phone == j.end() || !phone->is_object()) {
    ++s.unknown;
    return;
  }
  const auto message = phone->find("message");
  if (message == phone->end() || !message->is_object()) {
    ++s.unknown;
    return;
  }
  const auto msg = message->find("msg");
  if (msg == message->end() || !msg->is_object()) {
    ++s.unknown;
    return;
  }
  ++s.messages;
  switch (IntOr(*message, "msgId", 0)) {
    case 1:
      ApplyImage(s, *msg);
      break;
    case 2: {
      const std::string action = StrOr(*msg, "action");
      const int id = IntOr(*msg, "id", -1);
      if (action == "add" || action == "edit") {
        s.ideas[id] =
            BoardState::Idea{StrOr(*msg, "user"), StrOr(*msg, "time"), StrOr(*msg, "text")};
      } else if (action == "delete") {
        s.ideas.erase(id);
      }
      break;
    }
    case 3: {
      const std::string command = StrOr(*msg, "command");
      s.commands.push_back(command);
      s.last_device_id = StrOr(*msg, "id");
      if (command == "clear") {
        s.pages.clear();
        s.enlarged_id = -1;
        s.enlarged_src = -1;
      }
      break;
    }
    case 4:
      s.pc_name = StrOr(*msg, "name");
      s.pc_ip = StrOr(*msg, "ip");
      break;
    default:
      break;
  }
}

bool IEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

}  // namespace

std::string HttpRequest::Header(std::string_view name) const {
  for (const auto& [k, v] : headers) {
    if (IEquals(k, name)) return v;
  }
  return {};
}

bool HttpRequest::HasHeader(std::string_view name) const {
  for (const auto& h : headers) {
    if (IEquals(h.first, name)) return true;
  }
  return false;
}

struct BoardPeer::Impl {
  explicit Impl(Options o) : options(std::move(o)), splitter(options.max_text_bytes) {}

  enum class Route { Delete, Upload, Other };

  Options options;
  std::function<void(const Event&)> on_event;

  // Fixed while running.
  std::string host;
  std::uint16_t tcp_port = 0;
  std::uint16_t http_port = 0;
  std::string cookie;
  std::optional<sockaddr_in> beacon_to;
  std::atomic<bool> started{false};
  std::atomic<bool> stopping{false};
  int wake_r = -1;
  int wake_w = -1;
  int udp_fd = -1;

  // Owned by the TCP thread once it runs.
  int listen_fd = -1;
  int conn_fd = -1;
  std::atomic<bool> stalled{false};
  TextSplitter splitter;
  std::atomic<std::thread::id> tcp_thread_id{};

  std::thread tcp_thread;
  std::thread beacon_thread;
  std::thread http_thread;
  std::atomic<bool> http_done{false};
  std::unique_ptr<httplib::Server> server;

  std::mutex task_mu;
  std::deque<std::function<void()>> tasks;

  std::mutex beacon_mu;
  std::condition_variable beacon_cv;

  mutable std::mutex mu;
  mutable std::condition_variable cv;
  std::vector<Connection> connections;
  std::size_t connection_count = 0;
  std::size_t closed_count = 0;
  std::vector<Text> texts;
  std::size_t text_count = 0;
  std::vector<HttpRequest> requests;
  std::size_t request_count = 0;
  BoardState state;
  HttpFailure failure = HttpFailure::None;
  int failure_status = 500;
  std::string failure_path;

  void Emit(Event::Kind kind, std::size_t conn, std::string detail) {
    if (on_event) on_event(Event{kind, conn, std::move(detail)});
  }

  bool BindAll(std::string* error);
  void CloseAll();
  void SetupServer();
  void Wake() {
    const char b = 1;
    [[maybe_unused]] ssize_t n = ::write(wake_w, &b, 1);
  }

  // Runs fn on the TCP thread and returns its result, or nullopt when it did not run in time.
  template <class R>
  std::optional<R> OnTcpThread(std::function<R()> fn);

  void TcpLoop();
  void Accept();
  void ReadConn();
  void CloseConn();
  void OnBytes(std::string_view bytes);
  void BeaconLoop();
  void HandleHttp(const httplib::Request& req, httplib::Response& res, Route route);
};

template <class R>
std::optional<R> BoardPeer::Impl::OnTcpThread(std::function<R()> fn) {
  if (!started || stopping) return std::nullopt;
  if (std::this_thread::get_id() == tcp_thread_id.load()) return fn();
  struct Slot {
    std::mutex m;
    std::condition_variable c;
    std::optional<R> result;
  };
  auto slot = std::make_shared<Slot>();
  {
    std::lock_guard lk(task_mu);
    tasks.emplace_back([slot, fn = std::move(fn)] {
      R r = fn();
      std::lock_guard l(slot->m);
      slot->result = std::move(r);
      slot->c.notify_all();
    });
  }
  Wake();
  std::unique_lock lk(slot->m);
  slot->c.wait_for(lk, kTaskWait, [&] { return slot->result.has_value(); });
  return slot->result;
}

bool BoardPeer::Impl::BindAll(std::string* error) {
  auto fail = [&](std::string why) {
    if (error) *error = std::move(why);
    CloseAll();
    return false;
  };
  if (!MakeAddr(host, 0)) return fail("not an IPv4 address: " + host);

  listen_fd = Listen(host, options.tcp_port, &tcp_port, options.receive_buffer);
  if (listen_fd < 0) return fail(ErrnoText(("tcp " + host).c_str()));

  udp_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (udp_fd < 0) return fail(ErrnoText("udp socket"));
  const int yes = 1;
  ::setsockopt(udp_fd, SOL_SOCKET, SO_BROADCAST, &yes, sizeof yes);
  const auto from = MakeAddr(host, 0);
  if (::bind(udp_fd, AsSockaddr(&*from), sizeof *from) != 0) return fail(ErrnoText("udp bind"));

  server = std::make_unique<httplib::Server>();
  SetupServer();
  if (options.http_port == 0) {
    const int port = server->bind_to_any_port(host);
    if (port <= 0) return fail("http " + host + ": cannot bind");
    http_port = static_cast<std::uint16_t>(port);
  } else {
    if (!server->bind_to_port(host, options.http_port)) {
      return fail("http " + host + ":" + std::to_string(options.http_port) + ": cannot bind");
    }
    http_port = options.http_port;
  }
  return true;
}

void BoardPeer::Impl::CloseAll() {
  CloseFd(listen_fd);
  CloseFd(conn_fd);
  CloseFd(udp_fd);
  server.reset();
}

void BoardPeer::Impl::SetupServer() {
  // Only SO_REUSEADDR: a shared port would let two boards answer on one address.
  server->set_socket_options([](int sock) {
    const int yes = 1;
    ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  server->set_keep_alive_timeout(1);
  server->set_read_timeout(5, 0);
  server->set_write_timeout(5, 0);
  server->set_payload_max_length(options.max_http_body_bytes);
  server->set_pre_routing_handler([](const httplib::Request& creq, httplib::Response&) {
    // The multipart body is wanted raw, part headers and all, so the library must not parse
    // it. The request object is not const; it is handed to routing by const reference only.
    auto& req = const_cast<httplib::Request&>(creq);
    if (req.is_multipart_form_data()) {
      const std::string type = req.get_header_value("Content-Type");
      req.headers.erase("Content-Type");
      req.headers.emplace("Content-Type", "application/octet-stream");
      req.headers.emplace(kHiddenContentType, type);
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });
  auto route = [this](Route r) {
    return
        [this, r](const httplib::Request& req, httplib::Response& res) { HandleHttp(req, res, r); };
  };
  server->Post(R"(/fileServer/delFile_531864207_(.*))", route(Route::Delete));
  server->Post(R"(/fileServer/uploadFile_531864207_(.*)_images)", route(Route::Upload));
  server->Post(".*", route(Route::Other));
  server->Get(".*", route(Route::Other));
  server->Put(".*", route(Route::Other));
  server->Delete(".*", route(Route::Other));
  server->Patch(".*", route(Route::Other));
  server->Options(".*", route(Route::Other));
}

void BoardPeer::Impl::HandleHttp(const httplib::Request& req, httplib::Response& res, Route route) {
  HttpRequest rec;
  rec.method = req.method;
  rec.path = req.path;
  rec.version = req.version;
  rec.remote = req.remote_addr + ":" + std::to_string(req.remote_port);
  std::string content_type = req.get_header_value("Content-Type");
  for (const auto& [k, v] : req.headers) {
    if (IEquals(k, kHiddenContentType)) continue;
    if (IEquals(k, "Content-Type") && req.has_header(kHiddenContentType)) {
      content_type = req.get_header_value(kHiddenContentType);
      rec.headers.emplace_back(k, content_type);
      continue;
    }
    rec.headers.emplace_back(k, v);
  }
  rec.body = req.body;
  rec.cookies = ParseCookies(req.get_header_value("Cookie"));
  rec.multipart = content_type.rfind("multipart/form-data", 0) == 0;
  if (rec.multipart) {
    rec.multipart_ok = ParseMultipart(MultipartBoundary(content_type), rec.body, rec.parts);
  }
  const std::string device = route == Route::Other ? std::string() : std::string(req.matches[1]);

  HttpFailure mode;
  int status = route == Route::Other ? 404 : 200;
  {
    std::lock_guard lk(mu);
    mode = failure_path.empty() || rec.path.find(failure_path) != std::string::npos
               ? failure
               : HttpFailure::None;
    if (mode == HttpFailure::Status) status = failure_status;
    if (mode == HttpFailure::None && route == Route::Upload && rec.multipart && !rec.multipart_ok)
      status = 400;
    if (mode != HttpFailure::Drop && status == 200) {
      if (route == Route::Delete) {
        state.images.erase(device);
      } else if (route == Route::Upload) {
        auto& images = state.images[device];
        for (const auto& part : rec.parts) {
          if (part.name == "picture") {
            images.push_back(StoredImage{part.filename, part.content_type, part.content});
          }
        }
      }
    }
    rec.dropped = mode == HttpFailure::Drop;
    rec.status = rec.dropped ? 0 : status;
  }
  const std::string summary = rec.method + " " + rec.path + " " + rec.version + " " +
                              (rec.dropped ? std::string("dropped") : std::to_string(rec.status));
  {
    std::lock_guard lk(mu);
    ++request_count;
    if (options.keep_records) requests.push_back(std::move(rec));
  }
  cv.notify_all();
  Emit(Event::Kind::Http, 0, summary);

  if (mode == HttpFailure::Drop) {
    // The library offers no way to hang up from a handler: shut the socket down, so the
    // client sees the connection end without a byte, and the library's reply goes nowhere.
    const auto fds =
        FindConnectionFds(req.local_addr, req.local_port, req.remote_addr, req.remote_port);
    if (!fds.empty()) {
      ::shutdown(fds.front(), SHUT_RDWR);
      return;
    }
    status = 500;  // not found: fail loudly rather than answer success
  }
  res.status = status;
  res.set_header("Set-Cookie", cookie + "; Path=/");
  res.set_content(status == 200 ? "{\"code\":0}" : "{\"code\":" + std::to_string(status) + "}",
                  "application/json");
}

void BoardPeer::Impl::TcpLoop() {
  tcp_thread_id = std::this_thread::get_id();
  while (!stopping) {
    pollfd fds[3];
    nfds_t n = 0;
    fds[n++] = pollfd{wake_r, POLLIN, 0};
    const int lfd = listen_fd;
    const int cfd = conn_fd;
    if (lfd >= 0) fds[n++] = pollfd{lfd, POLLIN, 0};
    if (cfd >= 0 && !stalled) fds[n++] = pollfd{cfd, POLLIN, 0};
    if (::poll(fds, n, kPollMs) < 0 && errno != EINTR) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    if (fds[0].revents & POLLIN) {
      char drain[64];
      while (::read(wake_r, drain, sizeof drain) > 0) {
      }
    }
    std::deque<std::function<void()>> run;
    {
      std::lock_guard lk(task_mu);
      run.swap(tasks);
    }
    if (!run.empty()) {
      for (auto& task : run) task();
      continue;  // the sockets may have changed; poll them again
    }
    for (nfds_t i = 1; i < n; ++i) {
      if (fds[i].revents == 0) continue;
      if (fds[i].fd == lfd && lfd == listen_fd) {
        Accept();
      } else if (fds[i].fd == cfd && cfd == conn_fd) {
        ReadConn();
      }
    }
  }
  if (conn_fd >= 0) CloseConn();
}

void BoardPeer::Impl::Accept() {
  sockaddr_in peer{};
  socklen_t len = sizeof peer;
  const int fd = ::accept4(listen_fd, AsSockaddr(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return;
  if (conn_fd >= 0) CloseConn();  // a new connection replaces the old one
  const int yes = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
  conn_fd = fd;
  splitter.Reset();
  std::size_t index;
  const std::string from = AddrText(peer);
  {
    std::lock_guard lk(mu);
    index = connection_count++;
    Connection c;
    c.index = index;
    c.peer = from;
    c.open = true;
    connections.push_back(std::move(c));
  }
  cv.notify_all();
  Emit(Event::Kind::Connected, index, from);
}

void BoardPeer::Impl::ReadConn() {
  std::string buf(kReadChunk, '\0');
  for (int round = 0; round < 16; ++round) {
    const ssize_t n = ::recv(conn_fd, buf.data(), buf.size(), 0);
    if (n > 0) {
      OnBytes(std::string_view(buf.data(), static_cast<std::size_t>(n)));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    CloseConn();  // end of stream or a failed connection
    return;
  }
}

void BoardPeer::Impl::OnBytes(std::string_view bytes) {
  std::vector<TextSplitter::Piece> pieces;
  splitter.Feed(bytes, pieces);
  std::vector<std::pair<std::size_t, std::string>> events;
  {
    std::lock_guard lk(mu);
    const std::size_t index = connection_count - 1;
    if (options.keep_records) {
      Connection& c = connections.back();
      const std::size_t room = c.stream.size() < options.max_stream_bytes
                                   ? options.max_stream_bytes - c.stream.size()
                                   : 0;
      if (bytes.size() > room) c.stream_truncated = true;
      c.stream.append(bytes.substr(0, std::min(room, bytes.size())));
    }
    for (auto& piece : pieces) {
      Text t;
      t.connection = index;
      t.truncated = piece.truncated;
      if (!piece.truncated) {
        t.json = nlohmann::ordered_json::parse(piece.bytes, nullptr, false);
        t.is_json = !t.json.is_discarded();
        if (!t.is_json) t.json = nullptr;
      }
      if (t.is_json) {
        ApplyText(state, t.json);
      } else {
        ++state.unknown;
      }
      ++text_count;
      if (on_event) events.emplace_back(index, piece.bytes);
      if (options.keep_records) {
        t.raw = std::move(piece.bytes);
        texts.push_back(std::move(t));
      }
    }
  }
  if (!pieces.empty()) cv.notify_all();
  for (auto& [index, text] : events) Emit(Event::Kind::Text, index, std::move(text));
}

void BoardPeer::Impl::CloseConn() {
  CloseFd(conn_fd);
  std::size_t index;
  {
    std::lock_guard lk(mu);
    index = connection_count - 1;
    Connection& c = connections.back();
    c.open = false;
    if (options.keep_records) c.unterminated = splitter.Pending();
    ++closed_count;
  }
  splitter.Reset();
  cv.notify_all();
  Emit(Event::Kind::Closed, index, {});
}

void BoardPeer::Impl::BeaconLoop() {
  std::unique_lock lk(beacon_mu);
  while (!stopping) {
    lk.unlock();
    const std::string beacon = MakeBeacon(options.name);
    ::sendto(udp_fd, beacon.data(), beacon.size(), 0, AsSockaddr(&*beacon_to), sizeof *beacon_to);
    lk.lock();
    beacon_cv.wait_for(lk, options.beacon_interval, [&] { return stopping.load(); });
  }
}

BoardPeer::BoardPeer(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}

BoardPeer::~BoardPeer() {
  Stop();
}

bool BoardPeer::Start(std::string* error) {
  Impl& d = *impl_;
  if (d.started) return true;
  std::signal(SIGPIPE, SIG_IGN);

  d.beacon_to = MakeAddr(d.options.beacon_host, d.options.beacon_port);
  if (!d.beacon_to) {
    if (error) *error = "not an IPv4 address: " + d.options.beacon_host;
    return false;
  }
  const bool pick = d.options.host.empty();
  bool bound = false;
  for (int attempt = 0; attempt < (pick ? 32 : 1) && !bound; ++attempt) {
    d.host = pick ? FreeLoopbackHost(d.options.tcp_port, d.options.http_port) : d.options.host;
    if (d.host.empty()) break;
    bound = d.BindAll(error);
  }
  if (!bound) {
    if (error && error->empty()) *error = "no free loopback address";
    return false;
  }
  if (error) error->clear();

  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_NONBLOCK | O_CLOEXEC) != 0) {
    if (error) *error = ErrnoText("pipe");
    d.CloseAll();
    return false;
  }
  d.wake_r = pipe_fds[0];
  d.wake_w = pipe_fds[1];

  std::random_device rd;
  d.cookie = "board_session=" + std::to_string(rd() % 900000000u + 100000000u);
  d.stopping = false;
  d.http_done = false;
  d.started = true;

  d.http_thread = std::thread([&d] {
    d.server->listen_after_bind();
    d.http_done = true;
  });
  d.tcp_thread = std::thread([&d] { d.TcpLoop(); });
  if (d.options.beacon_interval.count() > 0)
    d.beacon_thread = std::thread([&d] { d.BeaconLoop(); });

  const auto deadline = Clock::now() + kStartWait;
  while (!d.server->is_running() && !d.http_done && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (!d.server->is_running()) {
    if (error) *error = "http server did not start";
    Stop();
    return false;
  }
  return true;
}

void BoardPeer::Stop() {
  Impl& d = *impl_;
  if (!d.started) return;
  {
    std::lock_guard lk(d.beacon_mu);
    d.stopping = true;
  }
  d.beacon_cv.notify_all();
  d.Wake();
  // stop() only takes effect once the listen loop runs; repeat it until the loop has ended.
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (!d.http_done && Clock::now() < deadline) {
    d.server->stop();
    // Workers wait on their clients up to the read time-out; end those waits now.
    for (int fd : FindConnectionFds(d.host, d.http_port)) ::shutdown(fd, SHUT_RDWR);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (d.http_thread.joinable()) d.http_thread.join();
  if (d.tcp_thread.joinable()) d.tcp_thread.join();
  if (d.beacon_thread.joinable()) d.beacon_thread.join();
  d.CloseAll();
  CloseFd(d.wake_r);
  CloseFd(d.wake_w);
  {
    std::lock_guard lk(d.task_mu);
    d.tasks.clear();
  }
  d.started = false;
}

bool BoardPeer::Running() const {
  return impl_->started && !impl_->stopping;
}

void BoardPeer::SetEventHandler(std::function<void(const Event&)> handler) {
  impl_->on_event = std::move(handler);
}

std::string BoardPeer::Host() const {
  return impl_->host;
}
std::uint16_t BoardPeer::TcpPort() const {
  return impl_->tcp_port;
}
std::uint16_t BoardPeer::HttpPort() const {
  return impl_->http_port;
}
std::string BoardPeer::SessionCookie() const {
  return impl_->cookie;
}

std::string BoardPeer::FreeLoopbackHost(std::uint16_t tcp_port, std::uint16_t http_port) {
  std::random_device rd;
  std::mt19937 gen(rd());
  std::uniform_int_distribution<int> octet(0, 255);
  std::uniform_int_distribution<int> last(1, 254);
  for (int attempt = 0; attempt < 64; ++attempt) {
    const std::string host =
        "127.1." + std::to_string(octet(gen)) + "." + std::to_string(last(gen));
    if (CanBind(host, tcp_port) && CanBind(host, http_port)) return host;
  }
  return {};
}

std::string BoardPeer::BeaconBytes() const {
  return MakeBeacon(impl_->options.name);
}

bool BoardPeer::SendBeacon() {
  return SendDatagram(BeaconBytes());
}

bool BoardPeer::SendDatagram(std::string_view bytes) {
  Impl& d = *impl_;
  if (!d.started || d.udp_fd < 0) return false;
  const ssize_t n = ::sendto(d.udp_fd, bytes.data(), bytes.size(), 0, AsSockaddr(&*d.beacon_to),
                             sizeof *d.beacon_to);
  return n == static_cast<ssize_t>(bytes.size());
}

bool BoardPeer::SendFrame(std::string_view payload, std::array<std::uint8_t, 4> head) {
  if (payload.size() > kMaxFramePayload) return false;
  return SendRaw(MakeFrame(payload, head));
}

bool BoardPeer::SendRaw(std::string_view bytes) {
  Impl& d = *impl_;
  auto r = d.OnTcpThread<bool>(
      [&d, data = std::string(bytes)] { return d.conn_fd >= 0 && SendAll(d.conn_fd, data); });
  return r.value_or(false);
}

bool BoardPeer::CloseConnection() {
  Impl& d = *impl_;
  auto r = d.OnTcpThread<bool>([&d] {
    if (d.conn_fd < 0) return false;
    d.CloseConn();
    return true;
  });
  return r.value_or(false);
}

bool BoardPeer::SetRefuse(bool refuse) {
  Impl& d = *impl_;
  auto r = d.OnTcpThread<bool>([&d, refuse] {
    if (refuse) {
      CloseFd(d.listen_fd);
      return true;
    }
    if (d.listen_fd < 0)
      d.listen_fd = Listen(d.host, d.tcp_port, nullptr, d.options.receive_buffer);
    return d.listen_fd >= 0;
  });
  return r.value_or(false);
}

bool BoardPeer::SetStalled(bool stalled) {
  Impl& d = *impl_;
  // On the TCP thread, which polls the connection again after every task.
  auto r = d.OnTcpThread<bool>([&d, stalled] {
    d.stalled = stalled;
    return true;
  });
  return r.value_or(false);
}

bool BoardPeer::Stalled() const {
  return impl_->stalled;
}

bool BoardPeer::Connected() const {
  std::lock_guard lk(impl_->mu);
  return impl_->connection_count > impl_->closed_count;
}

std::size_t BoardPeer::ConnectionCount() const {
  std::lock_guard lk(impl_->mu);
  return impl_->connection_count;
}

std::size_t BoardPeer::ClosedCount() const {
  std::lock_guard lk(impl_->mu);
  return impl_->closed_count;
}

std::size_t BoardPeer::TextCount() const {
  std::lock_guard lk(impl_->mu);
  return impl_->text_count;
}

std::vector<Connection> BoardPeer::Connections() const {
  std::lock_guard lk(impl_->mu);
  return impl_->connections;
}

std::vector<Text> BoardPeer::Texts() const {
  std::lock_guard lk(impl_->mu);
  return impl_->texts;
}

bool BoardPeer::WaitForConnections(std::size_t n, std::chrono::milliseconds timeout) const {
  std::unique_lock lk(impl_->mu);
  return impl_->cv.wait_for(lk, timeout, [&] { return impl_->connection_count >= n; });
}

bool BoardPeer::WaitForClosed(std::size_t n, std::chrono::milliseconds timeout) const {
  std::unique_lock lk(impl_->mu);
  return impl_->cv.wait_for(lk, timeout, [&] { return impl_->closed_count >= n; });
}

bool BoardPeer::WaitForTexts(std::size_t n, std::chrono::milliseconds timeout) const {
  std::unique_lock lk(impl_->mu);
  return impl_->cv.wait_for(lk, timeout, [&] { return impl_->text_count >= n; });
}

void BoardPeer::SetHttpFailure(HttpFailure mode, int status, std::string path_contains) {
  std::lock_guard lk(impl_->mu);
  impl_->failure = mode;
  impl_->failure_status = status;
  impl_->failure_path = std::move(path_contains);
}

std::size_t BoardPeer::HttpRequestCount() const {
  std::lock_guard lk(impl_->mu);
  return impl_->request_count;
}

std::vector<HttpRequest> BoardPeer::HttpRequests() const {
  std::lock_guard lk(impl_->mu);
  return impl_->requests;
}

bool BoardPeer::WaitForHttpRequests(std::size_t n, std::chrono::milliseconds timeout) const {
  std::unique_lock lk(impl_->mu);
  return impl_->cv.wait_for(lk, timeout, [&] { return impl_->request_count >= n; });
}

std::vector<StoredImage> BoardPeer::Images(const std::string& device_id) const {
  std::lock_guard lk(impl_->mu);
  const auto it = impl_->state.images.find(device_id);
  return it == impl_->state.images.end() ? std::vector<StoredImage>{} : it->second;
}

BoardState BoardPeer::State() const {
  std::lock_guard lk(impl_->mu);
  return impl_->state;
}

}  // namespace board_peer
