// A Vellumark board on loopback (or any local IPv4 address): beacons, the board connection on
// TCP 3392 and the file server on HTTP 3391. Used as the client's test peer and as a demo board.
//
// Thread-safe. Every wait is bounded. The destructor stops and joins everything. Start() ignores
// SIGPIPE for the whole process, since writes to a peer that has gone away must not kill it.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "board_peer/Wire.h"

namespace board_peer {

struct Options {
  // Address to bind, and the only one. Empty: pick a free address in 127.1.0.0/16 at Start().
  std::string host = "127.0.0.1";
  std::string name = "Vellumark Board";
  std::uint16_t tcp_port = 3392;   // 0: any free port
  std::uint16_t http_port = 3391;  // 0: any free port
  std::string beacon_host = "127.0.0.1";
  std::uint16_t beacon_port = 3395;
  std::chrono::milliseconds beacon_interval{1000};  // 0: no periodic beacons
  std::size_t max_text_bytes = 1 << 20;
  std::size_t max_stream_bytes = 16 << 20;  // per connection, for the recorded raw stream
  std::size_t max_http_body_bytes = 64 << 20;
  // SO_RCVBUF of the board connection in bytes (0: the system's). A small one, with a stalled
  // board, makes the client's writes block soon.
  int receive_buffer = 0;
  // False: keep counters and board state only (for long demo runs), no texts/streams/requests.
  bool keep_records = true;
};

struct Text {
  std::size_t connection = 0;  // 0-based, in accept order
  std::string raw;             // without "pqend"
  bool truncated = false;      // longer than max_text_bytes
  bool is_json = false;
  nlohmann::ordered_json json;  // null unless is_json
};

struct Connection {
  std::size_t index = 0;
  std::string peer;  // "a.b.c.d:port"
  bool open = false;
  std::string stream;  // every byte received, up to max_stream_bytes
  bool stream_truncated = false;
  std::string unterminated;  // a half text left when it closed
};

struct HttpRequest {
  std::string method;
  std::string path;
  std::string version;  // "HTTP/1.0"
  HeaderList headers;   // names as sent; order by name
  std::string body;     // raw
  bool multipart = false;
  bool multipart_ok = false;
  std::vector<MultipartPart> parts;  // in wire order
  HeaderList cookies;                // from the Cookie header
  std::string remote;                // "a.b.c.d:port"
  int status = 0;                    // answered status; 0 when dropped
  bool dropped = false;

  // First value of a header, compared without letter case; empty when absent.
  std::string Header(std::string_view name) const;
  bool HasHeader(std::string_view name) const;
};

struct StoredImage {
  std::string filename;
  std::string content_type;
  std::string bytes;
};

// What the board shows, kept across reconnects like a real device.
struct BoardState {
  struct Page {
    int src = -1;
    int x = 0;
    int y = 0;
  };
  struct Idea {
    std::string user;
    std::string time;
    std::string text;
  };
  std::size_t handshakes = 0;
  std::size_t messages = 0;   // envelopes with a message
  std::size_t unknown = 0;    // texts that are neither
  std::map<int, Page> pages;  // by placed page id
  int enlarged_id = -1;       // -1: no enlarged page
  int enlarged_src = -1;
  std::map<int, Idea> ideas;  // by card number
  std::vector<std::string> commands;
  std::string last_device_id;
  std::string pc_name;
  std::string pc_ip;
  std::map<std::string, std::vector<StoredImage>> images;  // by device id
};

enum class HttpFailure {
  None,    // answer 200
  Status,  // answer the given status
  Drop,    // read the request, then close without an answer
};

struct Event {
  enum class Kind { Connected, Closed, Text, Http };
  Kind kind = Kind::Connected;
  std::size_t connection = 0;  // Connected, Closed, Text
  std::string detail;          // peer address; text bytes; "POST /path HTTP/1.0 200"
};

class BoardPeer {
 public:
  explicit BoardPeer(Options options = {});
  ~BoardPeer();
  BoardPeer(const BoardPeer&) = delete;
  BoardPeer& operator=(const BoardPeer&) = delete;

  // Binds everything and waits until the peer serves. False (and *error) on failure.
  bool Start(std::string* error = nullptr);
  void Stop();
  bool Running() const;

  // Called on the peer's threads, never under its locks; it may call anything but Stop().
  // Set before Start(). Each event comes after its record is made, so the handler sees it in the
  // counts and lists. The board connection's events come from one thread, in their order
  // (connected, its texts, closed); the file server's come from its own threads, in no order
  // with the connection's.
  void SetEventHandler(std::function<void(const Event&)> handler);

  std::string Host() const;
  std::uint16_t TcpPort() const;
  std::uint16_t HttpPort() const;
  std::string SessionCookie() const;  // "board_session=<n>", set on every reply

  // A random address in 127.1.0.0/16 whose TCP ports can be bound right now; empty when none
  // was found after a number of tries.
  static std::string FreeLoopbackHost(std::uint16_t tcp_port = 3392,
                                      std::uint16_t http_port = 3391);

  // Beacons, sent from Host().
  std::string BeaconBytes() const;
  bool SendBeacon();
  bool SendDatagram(std::string_view bytes);

  // Board connection (the newest accepted one).
  bool SendFrame(std::string_view payload, std::array<std::uint8_t, 4> head = {});
  bool SendRaw(std::string_view bytes);
  bool CloseConnection();       // true when one was open
  bool SetRefuse(bool refuse);  // refuse: close the listener, so connects get ECONNREFUSED
  // stall: stop reading the board connection, the open one and any accepted later, like a hung
  // board (its buffers fill, the client's writes block); connections are still accepted and
  // frames can still be sent. Resuming reads what waits.
  bool SetStalled(bool stalled);
  bool Stalled() const;
  bool Connected() const;

  std::size_t ConnectionCount() const;
  std::size_t ClosedCount() const;
  std::size_t TextCount() const;
  std::vector<Connection> Connections() const;
  std::vector<Text> Texts() const;

  bool WaitForConnections(std::size_t n, std::chrono::milliseconds timeout) const;
  bool WaitForClosed(std::size_t n, std::chrono::milliseconds timeout) const;
  bool WaitForTexts(std::size_t n, std::chrono::milliseconds timeout) const;

  // File server.
  void SetHttpFailure(HttpFailure mode, int status = 500, std::string path_contains = {});
  std::size_t HttpRequestCount() const;
  std::vector<HttpRequest> HttpRequests() const;
  bool WaitForHttpRequests(std::size_t n, std::chrono::milliseconds timeout) const;
  std::vector<StoredImage> Images(const std::string& device_id) const;

  BoardState State() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace board_peer
