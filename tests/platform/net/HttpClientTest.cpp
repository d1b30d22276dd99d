#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "LoopbackPeer.h"
#include "board_peer/BoardPeer.h"
#include "net/Error.h"
#include "net/HttpClient.h"
#include "rtl/CodePage.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace std::string_literals;

constexpr auto kWait = 3000ms;
const std::string kDevice = "12345678";
const std::string kDeletePath = "/fileServer/delFile_531864207_" + kDevice;
const std::string kUploadPath = "/fileServer/uploadFile_531864207_" + kDevice + "_images";
const std::string kDeleteBody = "{\"1\":\"all\"}";
const std::string kAccept = "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";
const std::string kAgent = "Mozilla/3.0 (compatible; Indy Library)";

std::u16string Url(const std::string& host, int port, const std::string& path) {
  return rtl::Utf8ToUnicode("http://" + host + ":" + std::to_string(port) + path);
}

// Bytes that would confuse a sloppy multipart writer or reader: line breaks, dashes, NULs.
std::string BinaryBytes(int seed) {
  std::string s = "\xff\xd8\xff\xe0\r\n--\r\n\0--"s;
  for (int i = 0; i < 256; ++i) s += static_cast<char>((i * 7 + seed) & 0xFF);
  s += "\r\n--\r\n";
  return s;
}

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "vm-http-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp");
    path_ = tmpl;
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  fs::path Write(const std::string& name, const std::string& bytes) const {
    const fs::path p = path_ / name;
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << bytes;
    return p;
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

bool CurlLoaded() {
  std::ifstream maps("/proc/self/maps");
  for (std::string line; std::getline(maps, line);)
    if (line.find("libcurl") != std::string::npos) return true;
  return false;
}

// libcurl brings some thirty libraries of its own: a program that makes no request (a client
// starting up) does not load it. In a fresh process of its own, so no earlier request counts.
TEST(HttpClientLibrary, IsLoadedByTheFirstRequestOnly) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        const bool atStart = CurlLoaded();
        net::HttpClient http;
        http.SetAccept(kAccept);
        http.ClearCookies();
        const bool made = CurlLoaded();
        try {
          http.Post(Url("127.0.0.1", 9, "/"), kDeleteBody);  // nothing listens there
        } catch (const net::Error&) {
        }
        std::_Exit(!atStart && !made && CurlLoaded() ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

class HttpClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    board_peer::Options o;
    o.host = "";  // a loopback address of our own, at the real ports
    o.beacon_interval = 0ms;
    peer_ = std::make_unique<board_peer::BoardPeer>(std::move(o));
    std::string error;
    ASSERT_TRUE(peer_->Start(&error)) << error;
  }
  std::u16string DeleteUrl() const { return Url(peer_->Host(), 3391, kDeletePath); }
  std::u16string UploadUrl() const { return Url(peer_->Host(), 3391, kUploadPath); }
  board_peer::HttpRequest Request(std::size_t i) const {
    EXPECT_TRUE(peer_->WaitForHttpRequests(i + 1, kWait));
    return peer_->HttpRequests().at(i);
  }

  std::unique_ptr<board_peer::BoardPeer> peer_;
  net::HttpClient http_;
};

TEST_F(HttpClientTest, DeleteRequestAsTheBoardSeesIt) {
  http_.Post(DeleteUrl(), kDeleteBody);
  EXPECT_EQ(http_.LastStatus(), 200);
  EXPECT_EQ(http_.LastStatusLine(), "HTTP/1.1 200 OK");

  const auto r = Request(0);
  EXPECT_EQ(r.method, "POST");
  EXPECT_EQ(r.path, kDeletePath);
  EXPECT_EQ(r.version, "HTTP/1.0");
  EXPECT_EQ(r.body, kDeleteBody);
  std::set<std::string> names;
  for (const auto& [k, v] : r.headers) {
    // The server library adds the peer's addresses as pseudo headers.
    if (k.starts_with("REMOTE_") || k.starts_with("LOCAL_")) continue;
    names.insert(k);
  }
  EXPECT_EQ(names, (std::set<std::string>{"Accept", "Connection", "Content-Length", "Host",
                                          "User-Agent"}));
  EXPECT_EQ(r.Header("Host"), peer_->Host() + ":3391");
  EXPECT_EQ(r.Header("Accept"), kAccept);
  EXPECT_EQ(r.Header("User-Agent"), kAgent);
  EXPECT_EQ(r.Header("Connection"), "keep-alive");
  EXPECT_EQ(r.Header("Content-Length"), "11");
}

// A server of our own that records the request bytes exactly and answers with a length but
// leaves the connection open, so only the client can end it.
TEST(HttpClientWireTest, DeleteRequestBytesAndOwnConnectionPerRequest) {
  nettest::Listener listener;
  net::HttpClient http;
  const std::string host = "127.0.0.1:" + std::to_string(listener.port());
  const std::string expected = "POST " + kDeletePath + " HTTP/1.0\r\n" + "Host: " + host + "\r\n" +
                               "Accept: " + kAccept + "\r\n" + "User-Agent: " + kAgent + "\r\n" +
                               "Connection: keep-alive\r\n" + "Content-Length: 11\r\n" + "\r\n" +
                               kDeleteBody;
  for (int round = 0; round < 2; ++round) {
    auto post = std::async(std::launch::async, [&] {
      http.Post(Url("127.0.0.1", listener.port(), kDeletePath), kDeleteBody);
    });
    nettest::Peer peer = listener.Accept();
    EXPECT_EQ(peer.Receive(expected.size()), expected) << "round " << round;
    peer.Send("HTTP/1.0 200 OK\r\nContent-Length: 2\r\nConnection: keep-alive\r\n\r\nok");
    ASSERT_EQ(post.wait_for(kWait), std::future_status::ready);
    post.get();
    EXPECT_TRUE(peer.SeesClose()) << "the client closes the connection after each reply";
  }
}

TEST_F(HttpClientTest, MultipartUploadKeepsPartsInOrderAndBytesUnchanged) {
  TempDir dir;
  struct File {
    std::string name;
    std::string type;
    std::string bytes;
  };
  const std::vector<File> files = {
      {"Picture002.jpg", "image/jpeg", BinaryBytes(1)},
      {"Picture001.png", "image/png", BinaryBytes(2)},
      {"Picture010.jpeg", "image/jpeg", BinaryBytes(3)},
  };
  net::MultipartForm form;
  for (const auto& f : files) form.AddFile("picture", dir.Write("out/" + f.name, f.bytes));
  http_.PostMultipart(UploadUrl(), form);

  const auto r = Request(0);
  EXPECT_EQ(r.version, "HTTP/1.0");
  EXPECT_EQ(r.path, kUploadPath);
  EXPECT_EQ(r.status, 200);
  EXPECT_FALSE(r.HasHeader("Transfer-Encoding"));
  EXPECT_FALSE(r.HasHeader("Expect"));
  EXPECT_EQ(r.Header("Content-Length"), std::to_string(r.body.size()));
  const std::string type = r.Header("Content-Type");
  const std::string prefix = "multipart/form-data; boundary=";
  ASSERT_TRUE(type.starts_with(prefix)) << type;
  const std::string boundary = type.substr(prefix.size());

  std::string body;
  for (const auto& f : files) {
    body += "--" + boundary + "\r\n" +
            "Content-Disposition: form-data; name=\"picture\"; filename=\"" + f.name + "\"\r\n" +
            "Content-Type: " + f.type + "\r\n" + "Content-Transfer-Encoding: binary\r\n\r\n" +
            f.bytes + "\r\n";
  }
  body += "--" + boundary + "--\r\n";
  EXPECT_EQ(r.body, body);

  ASSERT_TRUE(r.multipart_ok);
  ASSERT_EQ(r.parts.size(), files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    EXPECT_EQ(r.parts[i].name, "picture");
    EXPECT_EQ(r.parts[i].filename, files[i].name);
    EXPECT_EQ(r.parts[i].content_type, files[i].type);
    EXPECT_EQ(r.parts[i].content, files[i].bytes);
  }
}

TEST_F(HttpClientTest, EmptyFormIsAnEmptyBody) {
  http_.PostMultipart(UploadUrl(), net::MultipartForm{});
  const auto r = Request(0);
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "");
  EXPECT_EQ(r.Header("Content-Length"), "0");
  EXPECT_TRUE(r.Header("Content-Type").starts_with("multipart/form-data; boundary="));
}

TEST_F(HttpClientTest, UnreadableFileRaisesBeforeAnythingIsSent) {
  TempDir dir;
  const fs::path good = dir.Write("a.jpg", "A");
  fs::create_directories(dir.path() / "folder.jpg");
  for (const fs::path& bad : {dir.path() / "missing.jpg", dir.path() / "folder.jpg"}) {
    net::MultipartForm form;
    form.AddFile("picture", good);
    form.AddFile("picture", bad);
    try {
      http_.PostMultipart(UploadUrl(), form);
      ADD_FAILURE() << "no error for " << bad;
    } catch (const net::Error& e) {
      EXPECT_NE(std::string(e.what()).find(bad.string()), std::string::npos) << e.what();
    }
  }
  // The board is still there for a request that follows, and it is the first it sees.
  http_.Post(DeleteUrl(), kDeleteBody);
  EXPECT_EQ(Request(0).path, kDeletePath);
  EXPECT_EQ(peer_->HttpRequestCount(), 1u);
}

TEST_F(HttpClientTest, CookiesOfARepliesAreSentBackWhileAllowed) {
  http_.Post(DeleteUrl(), kDeleteBody);
  EXPECT_TRUE(Request(0).cookies.empty());

  net::MultipartForm empty;
  http_.PostMultipart(UploadUrl(), empty);
  const std::string cookie = peer_->SessionCookie();
  EXPECT_EQ(Request(1).Header("Cookie"), cookie);

  http_.SetAllowCookies(false);
  http_.Post(DeleteUrl(), kDeleteBody);
  EXPECT_FALSE(Request(2).HasHeader("Cookie"));

  http_.SetAllowCookies(true);
  http_.Post(DeleteUrl(), kDeleteBody);
  EXPECT_EQ(Request(3).Header("Cookie"), cookie);

  http_.ClearCookies();
  http_.Post(DeleteUrl(), kDeleteBody);
  EXPECT_FALSE(Request(4).HasHeader("Cookie"));
}

TEST_F(HttpClientTest, StatusOutsideTheSuccessRangeRaisesWithTheStatusLine) {
  struct Case {
    int status;
    std::string line;
  };
  const std::vector<Case> cases = {
      {500, "HTTP/1.1 500 Internal Server Error"},
      {404, "HTTP/1.1 404 Not Found"},
      {302, "HTTP/1.1 302 Found"},  // redirects are not followed
      {403, "HTTP/1.1 403 Forbidden"},
  };
  for (const auto& c : cases) {
    peer_->SetHttpFailure(board_peer::HttpFailure::Status, c.status);
    try {
      http_.Post(DeleteUrl(), kDeleteBody);
      ADD_FAILURE() << "no error for " << c.status;
    } catch (const net::Error& e) {
      EXPECT_EQ(std::string(e.what()), c.line);
    }
    EXPECT_EQ(http_.LastStatus(), c.status);
  }
  EXPECT_EQ(peer_->HttpRequestCount(), cases.size());
  for (int ok : {201, 204}) {
    peer_->SetHttpFailure(board_peer::HttpFailure::Status, ok);
    EXPECT_NO_THROW(http_.Post(DeleteUrl(), kDeleteBody)) << ok;
    EXPECT_EQ(http_.LastStatus(), ok);
  }
}

TEST_F(HttpClientTest, DroppedAndRefusedConnectionsRaise) {
  peer_->SetHttpFailure(board_peer::HttpFailure::Drop);
  EXPECT_THROW(http_.Post(DeleteUrl(), kDeleteBody), net::Error);
  EXPECT_EQ(http_.LastStatus(), 0);

  const std::string host = peer_->Host();
  peer_.reset();  // no board at that address any more
  try {
    http_.Post(Url(host, 3391, kDeletePath), kDeleteBody);
    ADD_FAILURE() << "no error without a board";
  } catch (const net::Error& e) {
    EXPECT_NE(std::string(e.what()).find(host), std::string::npos) << e.what();
  }
}

TEST_F(HttpClientTest, EachRequestOnAConnectionOfItsOwn) {
  http_.Post(DeleteUrl(), kDeleteBody);
  http_.PostMultipart(UploadUrl(), net::MultipartForm{});
  http_.Post(DeleteUrl(), kDeleteBody);
  std::set<std::string> remotes;
  for (std::size_t i = 0; i < 3; ++i) remotes.insert(Request(i).remote);
  EXPECT_EQ(remotes.size(), 3u);
}

TEST_F(HttpClientTest, ProxyEnvironmentIsIgnored) {
  const char* names[] = {"http_proxy", "HTTP_PROXY", "ALL_PROXY", "all_proxy"};
  std::vector<std::optional<std::string>> saved;
  for (const char* n : names) {
    const char* v = std::getenv(n);
    saved.push_back(v ? std::optional<std::string>(v) : std::nullopt);
    ::setenv(n, "http://127.0.0.1:9", 1);
  }
  ::unsetenv("no_proxy");
  ::unsetenv("NO_PROXY");
  EXPECT_NO_THROW(http_.Post(DeleteUrl(), kDeleteBody));
  for (std::size_t i = 0; i < saved.size(); ++i) {
    if (saved[i]) {
      ::setenv(names[i], saved[i]->c_str(), 1);
    } else {
      ::unsetenv(names[i]);
    }
  }
  EXPECT_EQ(Request(0).path, kDeletePath);
}

TEST(HttpClientWireTest, SilentServerIsGivenUpAfterTheStallBound) {
  nettest::Listener listener;
  net::HttpClient http;
  http.SetStallTimeout(1000);
  auto post = std::async(std::launch::async, [&] {
    http.Post(Url("127.0.0.1", listener.port(), kDeletePath), kDeleteBody);
  });
  nettest::Peer peer = listener.Accept();
  ASSERT_EQ(post.wait_for(6s), std::future_status::ready) << "no bound on a silent server";
  EXPECT_THROW(post.get(), net::Error);
}

// The length is on the wire before the bytes: a file cut short while it is sent must end the
// request with an error, never pass for a sent image.
TEST(HttpClientWireTest, FileCutShortWhileSentRaises) {
  TempDir dir;
  const fs::path big = dir.Write("Picture001.jpg", std::string(32 << 20, 'j'));
  net::MultipartForm form;
  form.AddFile("picture", big);
  nettest::Listener listener;
  net::HttpClient http;
  auto post = std::async(std::launch::async, [&] {
    http.PostMultipart(Url("127.0.0.1", listener.port(), kUploadPath), form);
  });
  nettest::Peer peer = listener.Accept();
  fs::resize_file(big, 1000);
  std::size_t received = 0;
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (post.wait_for(0ms) != std::future_status::ready &&
         std::chrono::steady_clock::now() < deadline) {
    received += peer.Receive(1 << 20, 100ms).size();
  }
  ASSERT_EQ(post.wait_for(kWait), std::future_status::ready);
  try {
    post.get();
    ADD_FAILURE() << "a cut file passed as sent";
  } catch (const net::Error& e) {
    EXPECT_NE(std::string(e.what()).find("shorter"), std::string::npos) << e.what();
  }
  EXPECT_LT(received, (32u << 20) + 1000);
}

TEST(HttpClientInputTest, ControlCharactersNeverReachTheWire) {
  net::HttpClient http;
  EXPECT_THROW(http.SetUserAgent("a\r\nX-Injected: 1"), net::Error);
  EXPECT_THROW(http.SetAccept("*/*\n"), net::Error);
  EXPECT_EQ(http.UserAgent(), kAgent);
  EXPECT_EQ(http.Accept(), kAccept);
  const std::u16string urls[] = {u"http://127.0.0.1:9/a\r\nX: 1", u"", u"http://127.0.0.1:9/\x7f"};
  for (const auto& url : urls) EXPECT_THROW(http.Post(url, kDeleteBody), net::Error);
}

TEST_F(HttpClientTest, FileNameIsQuotedSafely) {
  TempDir dir;
  net::MultipartForm form;
  form.AddFile("picture", dir.Write("a\"b.jpg", "x"));
  form.AddFile("picture", dir.Write("Seite \xc3\xa4.png", "y"));
  http_.PostMultipart(UploadUrl(), form);
  const auto r = Request(0);
  ASSERT_TRUE(r.multipart_ok);
  ASSERT_EQ(r.parts.size(), 2u);
  EXPECT_EQ(r.parts[0].filename, "a%22b.jpg");
  EXPECT_EQ(r.parts[0].content, "x");
  EXPECT_EQ(r.parts[1].filename, "Seite \xc3\xa4.png");
}

TEST(MimeTypeTest, ByExtensionIgnoringCase) {
  const std::pair<const char*, const char*> cases[] = {
      {"out/Picture001.jpg", "image/jpeg"},
      {"a.JPEG", "image/jpeg"},
      {"a.png", "image/png"},
      {"a.Png", "image/png"},
      {"a.gif", "image/gif"},
      {"a.bmp", "image/bmp"},
      {"a.pdf", "application/pdf"},
      {"ajpg", "application/octet-stream"},
      {"a.xyz", "application/octet-stream"},
      {"noext", "application/octet-stream"},
  };
  for (const auto& [file, type] : cases) EXPECT_EQ(net::MimeTypeForFile(file), type) << file;
}

}  // namespace
