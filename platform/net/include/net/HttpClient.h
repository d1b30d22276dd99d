#pragma once
// An HTTP client that posts a byte stream or a multipart form of files, on libcurl.
//
// Every request is an HTTP/1.0 POST on a TCP connection of its own, with "Connection:
// keep-alive", the client's Accept and User-Agent headers, an exact Content-Length (never a
// chunked body) and, when cookies are allowed, the cookies that earlier replies set. Proxy
// settings of the environment are ignored; redirects are not followed; there is no
// authentication. A reply status outside 200-299 and every transport failure raise net::Error.
// The reply body is read and dropped.
//
// One object is kept for the life of its owner: it holds the cookie store. Requests on one
// object are serialised; separate objects may work on separate threads.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace net {

// The MIME type for a file name by its extension (letter case ignored), for example
// "image/jpeg" for ".jpg" and ".jpeg"; "application/octet-stream" when the extension is unknown.
std::string MimeTypeForFile(const std::filesystem::path& file);

// Files to post as "multipart/form-data", one part per file, in the order added. Files are
// opened only when the form is posted.
class MultipartForm {
 public:
  struct Part {
    std::string field;           // form field name, UTF-8
    std::filesystem::path file;  // sent under its name without folder
    std::string content_type;    // empty: MimeTypeForFile(file)
  };

  void AddFile(std::string field, std::filesystem::path file, std::string contentType = {});
  const std::vector<Part>& Parts() const { return parts_; }
  bool Empty() const { return parts_.empty(); }
  void Clear() { parts_.clear(); }

 private:
  std::vector<Part> parts_;
};

class HttpClient {
 public:
  static constexpr int kDefaultConnectTimeoutMs = 10000;
  static constexpr int kDefaultStallTimeoutMs = 30000;

  HttpClient();
  ~HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  // Cookies on (the default): cookies that replies set are kept and sent back on later
  // requests. Off: none are sent; the kept ones stay for when they are allowed again.
  void SetAllowCookies(bool allow);
  bool AllowCookies() const;
  // Forgets every kept cookie.
  void ClearCookies();

  // Header values; empty sends no such header. A value with a control character raises
  // net::Error. Defaults: the Accept "text/html,application/xhtml+xml,application/xml;q=0.9,
  // */*;q=0.8" and the User-Agent "Mozilla/3.0 (compatible; Indy Library)".
  void SetAccept(std::string value);
  std::string Accept() const;
  void SetUserAgent(std::string value);
  std::string UserAgent() const;

  // Bounds, so that a dead peer cannot hold a request forever. Connect: the longest wait for
  // the TCP connection. Stall: a request that moves no byte in either direction for this long
  // is aborted (checked about once a second). 0 or less: no bound of ours (libcurl still gives
  // up on a connect after 300 s).
  void SetConnectTimeout(int milliseconds);
  int ConnectTimeout() const;
  void SetStallTimeout(int milliseconds);
  int StallTimeout() const;

  // Posts the bytes as they are, with no Content-Type header.
  void Post(std::u16string_view url, std::span<const std::uint8_t> body);
  void Post(std::u16string_view url, std::string_view body);
  // Posts the form with "Content-Type: multipart/form-data; boundary=...". Every part:
  // Content-Disposition form-data with the field name and the file name without folder, its
  // Content-Type, "Content-Transfer-Encoding: binary", then the file's bytes unchanged. A form
  // without parts is an empty body. A file that cannot be opened raises before anything is
  // sent; a file that shrinks while it is sent aborts the request.
  void PostMultipart(std::u16string_view url, const MultipartForm& form);

  // Status code and status line (for example "HTTP/1.1 200 OK") of the last reply; 0 and
  // empty when the last request got none.
  int LastStatus() const;
  std::string LastStatusLine() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace net
