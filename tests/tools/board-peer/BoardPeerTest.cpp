#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "SocketHelpers.h"
#include "board_peer/BoardPeer.h"

namespace board_peer {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using testing::Socket;
using testing::UdpReceiver;

constexpr auto kWait = 3000ms;

const std::string kHandshake = "{\"pcup\":\"\"}";
const std::string kAddPage =
    "{\"phone\":{\"sendToId\":531864207,\"message\":{\"msgId\":1,\"msgType\":2,\"msg\":{"
    "\"action\":\"add\",\"x\":4354,\"y\":648,\"scale\":1,\"src\":3,\"id\":0}}}}";
const std::string kClear =
    "{\"phone\":{\"sendToId\":531864207,\"message\":{\"msgId\":3,\"msgType\":2,\"msg\":{"
    "\"command\":\"clear\",\"id\":\"12345678\"}}}}";

class BoardPeerTest : public ::testing::Test {
 protected:
  void StartPeer(Options o = {}) {
    o.host = "";  // a loopback address of our own, at the real ports
    o.beacon_interval = 0ms;
    peer_ = std::make_unique<BoardPeer>(std::move(o));
    std::string error;
    ASSERT_TRUE(peer_->Start(&error)) << error;
  }
  void SetUp() override { StartPeer(); }

  Socket ConnectBoard() {
    Socket s = Socket::Connect(peer_->Host(), peer_->TcpPort());
    EXPECT_TRUE(s.valid());
    return s;
  }

  // One HTTP/1.0 request as the client's HTTP component writes it; returns the whole reply.
  std::string PostHttp10(const std::string& path, const std::string& content_type,
                         const std::string& body, const std::string& cookie = {},
                         bool* closed = nullptr) {
    Socket s = Socket::Connect(peer_->Host(), peer_->HttpPort());
    EXPECT_TRUE(s.valid());
    std::string req = "POST " + path + " HTTP/1.0\r\n";
    req += "Connection: keep-alive\r\n";
    if (!content_type.empty()) req += "Content-Type: " + content_type + "\r\n";
    req += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    req += "Host: " + peer_->Host() + ":" + std::to_string(peer_->HttpPort()) + "\r\n";
    req += "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8\r\n";
    req += "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n";
    if (!cookie.empty()) req += "Cookie: " + cookie + "\r\n";
    req += "\r\n";
    EXPECT_TRUE(s.Send(req + body));
    bool ended = false;
    std::string reply = s.ReadToEnd(&ended);
    if (closed) *closed = ended;
    return reply;
  }

  std::unique_ptr<BoardPeer> peer_;
};

const std::string kUploadPath = "/fileServer/uploadFile_531864207_12345678_images";
const std::string kDeletePath = "/fileServer/delFile_531864207_12345678";

std::string Part(const std::string& name, const std::string& file, const std::string& bytes) {
  return "--IdBoundary42\r\n"
         "Content-Disposition: form-data; name=\"" +
         name + "\"; filename=\"" + file +
         "\"\r\n"
         "Content-Type: image/jpeg\r\n"
         "Content-Transfer-Encoding: binary\r\n"
         "\r\n" +
         bytes + "\r\n";
}

TEST_F(BoardPeerTest, TextsAreSplitWhateverTheSegmentation) {
  Socket s = ConnectBoard();
  ASSERT_TRUE(peer_->WaitForConnections(1, kWait));
  // Several texts in one segment, then one text over three segments with a split terminator.
  ASSERT_TRUE(s.Send(kHandshake + "pqend" + kAddPage + "pqend"));
  ASSERT_TRUE(peer_->WaitForTexts(2, kWait));
  ASSERT_TRUE(s.Send(kClear.substr(0, 20)));
  std::this_thread::sleep_for(20ms);
  ASSERT_TRUE(s.Send(kClear.substr(20) + "pq"));
  std::this_thread::sleep_for(20ms);
  ASSERT_TRUE(s.Send("end"));
  ASSERT_TRUE(peer_->WaitForTexts(3, kWait));

  const auto texts = peer_->Texts();
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts[0].raw, kHandshake);
  EXPECT_EQ(texts[1].raw, kAddPage);
  EXPECT_EQ(texts[2].raw, kClear);
  for (const auto& t : texts) {
    EXPECT_EQ(t.connection, 0u);
    EXPECT_TRUE(t.is_json);
    EXPECT_FALSE(t.truncated);
  }
  // Member order is kept as sent.
  EXPECT_EQ(texts[1].json.dump(), kAddPage);
  EXPECT_EQ(texts[2].json["phone"]["message"]["msg"]["command"], "clear");
  EXPECT_EQ(peer_->Connections().at(0).stream,
            kHandshake + "pqend" + kAddPage + "pqend" + kClear + "pqend");
}

TEST_F(BoardPeerTest, GarbageNeverStopsTheStream) {
  peer_->Stop();
  Options o;
  o.max_text_bytes = 256;
  StartPeer(o);
  Socket s = ConnectBoard();
  const std::string invalid_utf8 = "{\"a\":\"\xc3\x28\"}";
  ASSERT_TRUE(s.Send("{not json" + "pqend"s + invalid_utf8 + "pqend" + std::string(10000, '[') +
                     "pqend" + "\x00\xff"s + "pqend" + kHandshake + "pqend" + "{\"half\":"));
  ASSERT_TRUE(peer_->WaitForTexts(5, kWait));
  s.Close();
  ASSERT_TRUE(peer_->WaitForClosed(1, kWait));

  const auto texts = peer_->Texts();
  ASSERT_EQ(texts.size(), 5u);
  EXPECT_FALSE(texts[0].is_json);
  EXPECT_EQ(texts[0].raw, "{not json");
  EXPECT_FALSE(texts[1].is_json);
  EXPECT_EQ(texts[1].raw, invalid_utf8);
  EXPECT_TRUE(texts[2].truncated);
  EXPECT_EQ(texts[2].raw.size(), 256u);
  EXPECT_FALSE(texts[3].is_json);
  EXPECT_TRUE(texts[4].is_json);
  EXPECT_TRUE(texts[4].json.is_object());
  const auto conns = peer_->Connections();
  ASSERT_EQ(conns.size(), 1u);
  EXPECT_FALSE(conns[0].open);
  EXPECT_EQ(conns[0].unterminated, "{\"half\":");
  EXPECT_EQ(peer_->State().handshakes, 1u);

  // The board still serves the next client.
  Socket again = ConnectBoard();
  ASSERT_TRUE(again.Send(kHandshake + "pqend"));
  ASSERT_TRUE(peer_->WaitForTexts(6, kWait));
  EXPECT_EQ(peer_->Texts().back().connection, 1u);
}

TEST_F(BoardPeerTest, NewConnectionReplacesTheOldAndStateSurvives) {
  Socket first = ConnectBoard();
  ASSERT_TRUE(first.Send(kHandshake + "pqend" + kAddPage + "pqend"));
  ASSERT_TRUE(peer_->WaitForTexts(2, kWait));

  Socket second = ConnectBoard();
  ASSERT_TRUE(peer_->WaitForConnections(2, kWait));
  bool closed = false;
  first.ReadToEnd(&closed);
  EXPECT_TRUE(closed) << "the replaced connection is closed";
  ASSERT_TRUE(second.Send(kHandshake + "pqend"));
  ASSERT_TRUE(peer_->WaitForTexts(3, kWait));

  BoardState state = peer_->State();
  EXPECT_EQ(state.handshakes, 2u);
  ASSERT_EQ(state.pages.count(0), 1u);
  EXPECT_EQ(state.pages[0].src, 3);
  EXPECT_EQ(state.pages[0].x, 4354);
  EXPECT_EQ(state.pages[0].y, 648);
  EXPECT_EQ(peer_->Texts().back().connection, 1u);

  ASSERT_TRUE(second.Send(kClear + "pqend"));
  ASSERT_TRUE(peer_->WaitForTexts(4, kWait));
  state = peer_->State();
  EXPECT_TRUE(state.pages.empty());
  EXPECT_EQ(state.commands, std::vector<std::string>{"clear"});
  EXPECT_EQ(state.last_device_id, "12345678");
}

TEST_F(BoardPeerTest, FramesOnTheWire) {
  EXPECT_FALSE(peer_->SendFrame("tosmall")) << "no connection yet";
  Socket s = ConnectBoard();
  ASSERT_TRUE(peer_->WaitForConnections(1, kWait));

  ASSERT_TRUE(peer_->SendFrame("tosmall"));
  EXPECT_EQ(s.Read(13), "\x00\x00\x00\x00\x07\x00tosmall"s);
  ASSERT_TRUE(peer_->SendFrame("1_reset", {0xAA, 0xBB, 0xCC, 0xDD}));
  EXPECT_EQ(s.Read(13), "\xAA\xBB\xCC\xDD\x07\x00"s + "1_reset");
  ASSERT_TRUE(peer_->SendFrame(""));
  EXPECT_EQ(s.Read(6), std::string(6, '\0'));
  EXPECT_FALSE(peer_->SendFrame(std::string(kMaxFramePayload + 1, 'x')));

  // A frame split over two writes arrives as the same bytes.
  const std::string frame = MakeFrame("tosmall");
  ASSERT_TRUE(peer_->SendRaw(frame.substr(0, 3)));
  ASSERT_TRUE(peer_->SendRaw(frame.substr(3)));
  EXPECT_EQ(s.Read(frame.size()), frame);

  ASSERT_TRUE(peer_->CloseConnection());
  bool closed = false;
  EXPECT_EQ(s.ReadToEnd(&closed), "");
  EXPECT_TRUE(closed);
  EXPECT_FALSE(peer_->CloseConnection());
  EXPECT_FALSE(peer_->SendRaw("x"));
  EXPECT_FALSE(peer_->Connected());
}

TEST_F(BoardPeerTest, RefuseMakesConnectFailAtOnce) {
  ASSERT_TRUE(peer_->SetRefuse(true));
  int err = 0;
  Socket refused = Socket::Connect(peer_->Host(), peer_->TcpPort(), 2000, &err);
  EXPECT_FALSE(refused.valid());
  EXPECT_EQ(err, ECONNREFUSED);

  ASSERT_TRUE(peer_->SetRefuse(false));
  Socket s = ConnectBoard();
  ASSERT_TRUE(peer_->WaitForConnections(1, kWait));
  EXPECT_EQ(peer_->ConnectionCount(), 1u);
  ASSERT_TRUE(peer_->SetRefuse(true));
  ASSERT_TRUE(peer_->SendFrame("tosmall")) << "the open connection stays";
  EXPECT_EQ(s.Read(13).size(), 13u);
}

TEST_F(BoardPeerTest, AStalledBoardTakesNothingUntilItResumes) {
  Options o;
  o.receive_buffer = 4096;
  StartPeer(o);
  Socket s = ConnectBoard();
  const int small = 4096;
  ASSERT_EQ(::setsockopt(s.fd(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small), 0);
  ASSERT_TRUE(s.Send(kHandshake + "pqend"));
  ASSERT_TRUE(peer_->WaitForTexts(1, kWait));

  ASSERT_TRUE(peer_->SetStalled(true));
  EXPECT_TRUE(peer_->Stalled());
  // Whole texts until the socket has taken none for half a second: with both buffers small
  // that is soon; a board that read would take them on and on.
  const std::string text = kClear + "pqend";
  std::size_t sent = 0;
  for (;;) {
    const std::size_t at = sent % text.size();
    const ssize_t n =
        ::send(s.fd(), text.data() + at, text.size() - at, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) {
      pollfd p{s.fd(), POLLOUT, 0};
      if (::poll(&p, 1, 500) == 0) break;
      continue;
    }
    sent += static_cast<std::size_t>(n);
    ASSERT_LT(sent, 4u << 20) << "the board keeps taking bytes";
  }
  const std::size_t texts = sent / text.size();
  EXPECT_LT(sent, 1u << 20) << "the small receive buffer";
  EXPECT_EQ(peer_->TextCount(), 1u);
  ASSERT_TRUE(peer_->SendFrame("tosmall")) << "frames still go out";
  EXPECT_EQ(s.Read(13), MakeFrame("tosmall"));

  ASSERT_TRUE(peer_->SetStalled(false));
  EXPECT_FALSE(peer_->Stalled());
  ASSERT_TRUE(peer_->WaitForTexts(1 + texts, kWait)) << "what waited is read";
  EXPECT_EQ(peer_->State().commands.size(), texts);
}

TEST_F(BoardPeerTest, BeaconsComeFromTheBoardAddress) {
  UdpReceiver rx;
  peer_->Stop();
  Options o;
  o.name = "Salle \xc3\xa9t\xc3\xa9";
  o.beacon_port = rx.port();
  StartPeer(o);

  ASSERT_TRUE(peer_->SendBeacon());
  std::string bytes, from;
  ASSERT_TRUE(rx.Receive(bytes, from));
  EXPECT_EQ(from, peer_->Host());
  EXPECT_EQ(bytes, peer_->BeaconBytes());
  ASSERT_GE(bytes.size(), 21u);
  EXPECT_EQ(bytes.substr(0, 9), "vellumark");
  const std::string text = bytes.substr(10, bytes.size() - 20);
  EXPECT_EQ(text.substr(0, text.find(';')), o.name);

  ASSERT_TRUE(peer_->SendDatagram("vellumark"));
  ASSERT_TRUE(rx.Receive(bytes, from));
  EXPECT_EQ(bytes, "vellumark");
  EXPECT_EQ(from, peer_->Host());
}

TEST_F(BoardPeerTest, PeriodicBeacons) {
  UdpReceiver rx;
  peer_->Stop();
  Options o;
  o.host = "";
  o.beacon_port = rx.port();
  o.beacon_interval = 20ms;
  peer_ = std::make_unique<BoardPeer>(o);
  ASSERT_TRUE(peer_->Start());
  std::string bytes, from;
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(rx.Receive(bytes, from)) << "beacon " << i;
    EXPECT_EQ(bytes, MakeBeacon("Vellumark Board"));
  }
}

TEST_F(BoardPeerTest, FreeLoopbackHostsAreDistinctAndUsable) {
  std::vector<std::unique_ptr<BoardPeer>> boards;
  std::set<std::string> hosts = {peer_->Host()};
  for (int i = 0; i < 3; ++i) {
    Options o;
    o.host = BoardPeer::FreeLoopbackHost();
    o.beacon_interval = 0ms;
    ASSERT_FALSE(o.host.empty());
    EXPECT_EQ(o.host.rfind("127.", 0), 0u);
    EXPECT_NE(o.host, "127.0.0.1");
    // The ports of the boards already running there are taken, so each host is new.
    EXPECT_TRUE(hosts.insert(o.host).second) << o.host;
    boards.push_back(std::make_unique<BoardPeer>(o));
    ASSERT_TRUE(boards.back()->Start());
    EXPECT_EQ(boards.back()->TcpPort(), 3392);
    EXPECT_EQ(boards.back()->HttpPort(), 3391);
  }
  for (auto& b : boards) {
    Socket s = Socket::Connect(b->Host(), 3392);
    ASSERT_TRUE(s.valid());
    ASSERT_TRUE(b->WaitForConnections(1, kWait));
  }
  EXPECT_EQ(peer_->ConnectionCount(), 0u);
}

TEST_F(BoardPeerTest, Http10MultipartUploadIsRecordedInOrder) {
  const std::string jpeg_a = "\xff\xd8\xff\xe0\x00\x10JFIF\r\n--IdBoundary4\r\n\xff\xd9"s;
  const std::string body = Part("picture", "Picture002.jpg", jpeg_a) +
                           Part("picture", "Picture001.jpg", "B") +
                           Part("picture", "Picture010.jpg", "") + "--IdBoundary42--\r\n";
  bool closed = false;
  const std::string reply =
      PostHttp10(kUploadPath, "multipart/form-data; boundary=IdBoundary42", body, {}, &closed);
  EXPECT_EQ(reply.rfind("HTTP/1.1 200", 0), 0u) << reply;
  EXPECT_NE(reply.find("Set-Cookie: " + peer_->SessionCookie()), std::string::npos) << reply;
  EXPECT_TRUE(closed) << "the reply ends within the time-out";

  ASSERT_TRUE(peer_->WaitForHttpRequests(1, kWait));
  const HttpRequest r = peer_->HttpRequests().at(0);
  EXPECT_EQ(r.method, "POST");
  EXPECT_EQ(r.path, kUploadPath);
  EXPECT_EQ(r.version, "HTTP/1.0");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.Header("connection"), "keep-alive");
  EXPECT_EQ(r.Header("Content-Length"), std::to_string(body.size()));
  EXPECT_EQ(r.Header("Content-Type"), "multipart/form-data; boundary=IdBoundary42");
  EXPECT_EQ(r.Header("User-Agent"), "Mozilla/3.0 (compatible; Indy Library)");
  EXPECT_FALSE(r.HasHeader("Transfer-Encoding"));
  EXPECT_EQ(r.body, body);
  EXPECT_TRUE(r.multipart);
  EXPECT_TRUE(r.multipart_ok);
  ASSERT_EQ(r.parts.size(), 3u);
  EXPECT_EQ(r.parts[0].filename, "Picture002.jpg");
  EXPECT_EQ(r.parts[0].content, jpeg_a);
  EXPECT_EQ(r.parts[1].filename, "Picture001.jpg");
  EXPECT_EQ(r.parts[2].filename, "Picture010.jpg");
  EXPECT_EQ(r.parts[2].content, "");
  for (const auto& p : r.parts) {
    EXPECT_EQ(p.name, "picture");
    EXPECT_EQ(p.content_type, "image/jpeg");
    ASSERT_EQ(p.headers.size(), 3u);
    EXPECT_EQ(p.headers[2],
              (std::pair<std::string, std::string>{"Content-Transfer-Encoding", "binary"}));
  }
  auto images = peer_->Images("12345678");
  ASSERT_EQ(images.size(), 3u);
  EXPECT_EQ(images[0].bytes, jpeg_a);
  EXPECT_EQ(images[1].filename, "Picture001.jpg");

  // The delete removes this device's images only.
  PostHttp10("/fileServer/uploadFile_531864207_87654321_images",
             "multipart/form-data; boundary=IdBoundary42",
             Part("picture", "x.jpg", "x") + "--IdBoundary42--\r\n");
  const std::string del = PostHttp10(kDeletePath, "", "{\"1\":\"all\"}");
  EXPECT_EQ(del.rfind("HTTP/1.1 200", 0), 0u) << del;
  ASSERT_TRUE(peer_->WaitForHttpRequests(3, kWait));
  EXPECT_TRUE(peer_->Images("12345678").empty());
  EXPECT_EQ(peer_->Images("87654321").size(), 1u);
  const HttpRequest d = peer_->HttpRequests().at(2);
  EXPECT_EQ(d.body, "{\"1\":\"all\"}");
  EXPECT_FALSE(d.HasHeader("Content-Type"));
  EXPECT_FALSE(d.multipart);
}

TEST_F(BoardPeerTest, EmptyAndBrokenForms) {
  PostHttp10(kUploadPath, "multipart/form-data; boundary=IdBoundary42", "");
  const std::string bad = PostHttp10(kUploadPath, "multipart/form-data; boundary=IdBoundary42",
                                     Part("picture", "a.jpg", "unterminated"));
  ASSERT_TRUE(peer_->WaitForHttpRequests(2, kWait));
  const auto reqs = peer_->HttpRequests();
  EXPECT_EQ(reqs[0].status, 200);
  EXPECT_TRUE(reqs[0].multipart_ok);
  EXPECT_TRUE(reqs[0].parts.empty());
  EXPECT_EQ(reqs[1].status, 400);
  EXPECT_FALSE(reqs[1].multipart_ok);
  EXPECT_EQ(bad.rfind("HTTP/1.1 400", 0), 0u) << bad;
  EXPECT_TRUE(peer_->Images("12345678").empty());

  // A reused HTTP component may send the delete with the last upload's content type.
  PostHttp10(kUploadPath, "multipart/form-data; boundary=IdBoundary42",
             Part("picture", "a.jpg", "A") + "--IdBoundary42--\r\n");
  const std::string del =
      PostHttp10(kDeletePath, "multipart/form-data; boundary=IdBoundary42", "{\"1\":\"all\"}");
  EXPECT_EQ(del.rfind("HTTP/1.1 200", 0), 0u) << del;
  ASSERT_TRUE(peer_->WaitForHttpRequests(4, kWait));
  EXPECT_EQ(peer_->HttpRequests().at(3).body, "{\"1\":\"all\"}");
  EXPECT_TRUE(peer_->Images("12345678").empty());
}

TEST_F(BoardPeerTest, CookieIsSetAndRecordedWhenSentBack) {
  httplib::Client cli(peer_->Host(), peer_->HttpPort());
  cli.set_connection_timeout(2);
  cli.set_read_timeout(3);
  auto first = cli.Post(kDeletePath, "{\"1\":\"all\"}", "text/plain");
  ASSERT_TRUE(first);
  EXPECT_EQ(first->status, 200);
  const std::string set_cookie = first->get_header_value("Set-Cookie");
  ASSERT_EQ(set_cookie.rfind(peer_->SessionCookie() + ";", 0), 0u) << set_cookie;
  EXPECT_EQ(peer_->SessionCookie().rfind("board_session=", 0), 0u);

  const std::string cookie = set_cookie.substr(0, set_cookie.find(';'));
  auto second = cli.Post(kDeletePath, {{"Cookie", cookie}}, "{\"1\":\"all\"}", "text/plain");
  ASSERT_TRUE(second);
  ASSERT_TRUE(peer_->WaitForHttpRequests(2, kWait));
  const auto reqs = peer_->HttpRequests();
  EXPECT_TRUE(reqs[0].cookies.empty());
  const auto sep = cookie.find('=');
  const HeaderList expected = {{cookie.substr(0, sep), cookie.substr(sep + 1)}};
  EXPECT_EQ(reqs[1].cookies, expected);
}

TEST_F(BoardPeerTest, ErrorStatusOnDemand) {
  const std::string body = Part("picture", "a.jpg", "A") + "--IdBoundary42--\r\n";
  const std::string type = "multipart/form-data; boundary=IdBoundary42";
  struct Case {
    HttpFailure mode;
    int status;
    std::string path_part;
    int delete_status;
    int upload_status;
  };
  const std::vector<Case> cases = {
      {HttpFailure::Status, 500, "", 500, 500},
      {HttpFailure::Status, 503, "uploadFile", 200, 503},
      {HttpFailure::Status, 404, "delFile", 404, 200},
      {HttpFailure::None, 0, "", 200, 200},
  };
  std::size_t n = 0;
  for (const auto& c : cases) {
    peer_->SetHttpFailure(c.mode, c.status, c.path_part);
    const std::string del = PostHttp10(kDeletePath, "", "{\"1\":\"all\"}");
    const std::string up = PostHttp10(kUploadPath, type, body);
    n += 2;
    ASSERT_TRUE(peer_->WaitForHttpRequests(n, kWait));
    EXPECT_EQ(del.rfind("HTTP/1.1 " + std::to_string(c.delete_status), 0), 0u) << del;
    EXPECT_EQ(up.rfind("HTTP/1.1 " + std::to_string(c.upload_status), 0), 0u) << up;
    const auto reqs = peer_->HttpRequests();
    EXPECT_EQ(reqs[n - 2].status, c.delete_status);
    EXPECT_EQ(reqs[n - 1].status, c.upload_status);
    // A failed upload stores nothing.
    EXPECT_EQ(peer_->Images("12345678").size(), c.upload_status == 200 ? 1u : 0u)
        << c.upload_status;
  }
}

TEST_F(BoardPeerTest, DropClosesWithoutAnAnswer) {
  peer_->SetHttpFailure(HttpFailure::Drop);
  bool closed = false;
  const std::string reply = PostHttp10(kDeletePath, "", "{\"1\":\"all\"}", {}, &closed);
  EXPECT_TRUE(closed);
  EXPECT_EQ(reply, "");
  ASSERT_TRUE(peer_->WaitForHttpRequests(1, kWait));
  const HttpRequest r = peer_->HttpRequests().at(0);
  EXPECT_TRUE(r.dropped);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.body, "{\"1\":\"all\"}");

  httplib::Client cli(peer_->Host(), peer_->HttpPort());
  cli.set_read_timeout(3);
  EXPECT_FALSE(cli.Post(kUploadPath, "", "text/plain"));

  peer_->SetHttpFailure(HttpFailure::None);
  auto ok = cli.Post(kDeletePath, "{\"1\":\"all\"}", "text/plain");
  ASSERT_TRUE(ok);
  EXPECT_EQ(ok->status, 200);
}

TEST_F(BoardPeerTest, UnknownPathsAreRecordedAndNotFound) {
  httplib::Client cli(peer_->Host(), peer_->HttpPort());
  cli.set_read_timeout(3);
  auto get = cli.Get("/index.html");
  ASSERT_TRUE(get);
  EXPECT_EQ(get->status, 404);
  auto post = cli.Post("/fileServer/uploadFile_1_2_images", "x", "text/plain");
  ASSERT_TRUE(post);
  EXPECT_EQ(post->status, 404);
  ASSERT_TRUE(peer_->WaitForHttpRequests(2, kWait));
  EXPECT_EQ(peer_->HttpRequests().at(0).method, "GET");
  EXPECT_EQ(peer_->HttpRequests().at(1).status, 404);
}

TEST_F(BoardPeerTest, StopsWhileClientsHoldConnections) {
  Socket board = ConnectBoard();
  Socket idle_http = Socket::Connect(peer_->Host(), peer_->HttpPort());
  ASSERT_TRUE(idle_http.valid());
  ASSERT_TRUE(idle_http.Send("POST / HTTP/1.1\r\nContent-Length: 100\r\n\r\nhalf"));
  ASSERT_TRUE(peer_->WaitForConnections(1, kWait));
  peer_.reset();  // must not hang on either connection
  bool closed = false;
  board.ReadToEnd(&closed);
  EXPECT_TRUE(closed);
}

// The board connection's events come from one thread, in their order; the file server's from its
// own threads, in no order with those. Each event comes after its record, so the handler sees it.
TEST_F(BoardPeerTest, EventsReportConnectionsTextsAndRequests) {
  peer_->Stop();
  std::mutex mu;
  std::condition_variable more;
  std::vector<std::string> connection_events;
  std::vector<std::string> http_events;
  std::vector<std::string> unrecorded;  // events whose record the handler could not see
  Options o;
  o.host = "";
  o.beacon_interval = 0ms;
  peer_ = std::make_unique<BoardPeer>(o);
  peer_->SetEventHandler([&](const Event& e) {
    std::string line;
    bool recorded = false;
    switch (e.kind) {
      case Event::Kind::Connected:
        line = "connected " + std::to_string(e.connection);
        recorded = peer_->ConnectionCount() > e.connection;
        break;
      case Event::Kind::Closed:
        line = "closed " + std::to_string(e.connection);
        recorded = peer_->ClosedCount() > 0 && peer_->Connections().size() > e.connection &&
                   !peer_->Connections()[e.connection].open;
        break;
      case Event::Kind::Text:
        line = "text " + std::to_string(e.connection) + " " + e.detail;
        recorded = std::ranges::any_of(peer_->Texts(), [&](const Text& t) {
          return t.connection == e.connection && t.raw == e.detail;
        });
        break;
      case Event::Kind::Http:
        line = "http " + e.detail;
        recorded = peer_->HttpRequestCount() > 0;
        break;
    }
    std::lock_guard lk(mu);
    (e.kind == Event::Kind::Http ? http_events : connection_events).push_back(line);
    if (!recorded) unrecorded.push_back(line);
    more.notify_all();
  });
  ASSERT_TRUE(peer_->Start());
  {
    Socket s = ConnectBoard();
    ASSERT_TRUE(s.Send("abcpqend"));
    ASSERT_TRUE(peer_->WaitForTexts(1, kWait));
  }
  ASSERT_TRUE(peer_->WaitForClosed(1, kWait));
  PostHttp10(kDeletePath, "", "{}");
  ASSERT_TRUE(peer_->WaitForHttpRequests(1, kWait));
  // The records are made before their events, so the last events may still be on their way.
  std::unique_lock lk(mu);
  EXPECT_TRUE(more.wait_for(lk, kWait,
                            [&] { return connection_events.size() >= 3 && !http_events.empty(); }));
  const std::vector<std::string> expected_connection = {"connected 0", "text 0 abc", "closed 0"};
  EXPECT_EQ(connection_events, expected_connection);
  const std::vector<std::string> expected_http = {"http POST " + kDeletePath + " HTTP/1.0 200"};
  EXPECT_EQ(http_events, expected_http);
  EXPECT_EQ(unrecorded, std::vector<std::string>{});
}

}  // namespace
}  // namespace board_peer
