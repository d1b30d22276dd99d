#include "net/HttpClient.h"

#include <curl/curl.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

#include "net/Error.h"
#include "net/MultipartBody.h"
#include "rtl/CodePage.h"

namespace net {

namespace {

constexpr const char* kDefaultAccept =
    "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";
constexpr const char* kDefaultUserAgent = "Mozilla/3.0 (compatible; Indy Library)";

// libcurl is loaded when the first request is made, not with the program: it brings some thirty
// libraries (TLS, Kerberos, LDAP, ...) of its own, whose loading and linking was a good part of
// the client's start-up and of its resident memory, for two requests per import.
struct CurlLibrary {
  decltype(&curl_global_init) global_init = nullptr;
  decltype(&curl_easy_strerror) easy_strerror = nullptr;
  decltype(&curl_easy_init) easy_init = nullptr;
  decltype(&curl_easy_cleanup) easy_cleanup = nullptr;
  decltype(&curl_easy_setopt) easy_setopt = nullptr;
  decltype(&curl_easy_perform) easy_perform = nullptr;
  decltype(&curl_easy_getinfo) easy_getinfo = nullptr;
  decltype(&curl_slist_append) slist_append = nullptr;
  decltype(&curl_slist_free_all) slist_free_all = nullptr;
  decltype(&curl_share_init) share_init = nullptr;
  decltype(&curl_share_setopt) share_setopt = nullptr;
  decltype(&curl_share_cleanup) share_cleanup = nullptr;
};

// The library, loaded and initialised once; raises net::Error when it cannot be.
const CurlLibrary& Curl() {
  static std::once_flag once;
  static CurlLibrary lib;
  static std::string failure;
  std::call_once(once, [] {
    void* handle = ::dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
      const char* why = ::dlerror();
      failure = std::string("HTTP library not available: ") + (why ? why : "libcurl.so.4");
      return;
    }
    bool complete = true;
    const auto bind = [&](auto& function, const char* name) {
      void* symbol = ::dlsym(handle, name);
      complete = complete && symbol;
      function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(symbol);
    };
    bind(lib.global_init, "curl_global_init");
    bind(lib.easy_strerror, "curl_easy_strerror");
    bind(lib.easy_init, "curl_easy_init");
    bind(lib.easy_cleanup, "curl_easy_cleanup");
    bind(lib.easy_setopt, "curl_easy_setopt");
    bind(lib.easy_perform, "curl_easy_perform");
    bind(lib.easy_getinfo, "curl_easy_getinfo");
    bind(lib.slist_append, "curl_slist_append");
    bind(lib.slist_free_all, "curl_slist_free_all");
    bind(lib.share_init, "curl_share_init");
    bind(lib.share_setopt, "curl_share_setopt");
    bind(lib.share_cleanup, "curl_share_cleanup");
    if (!complete) {
      failure = "HTTP library not available: libcurl.so.4 lacks a function";
      return;
    }
    const CURLcode result = lib.global_init(CURL_GLOBAL_DEFAULT);
    if (result != CURLE_OK)
      failure = std::string("HTTP library initialisation failed: ") + lib.easy_strerror(result);
  });
  if (!failure.empty()) throw Error(failure);
  return lib;
}

bool HasControlChar(std::string_view s) {
  return std::any_of(s.begin(), s.end(), [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return b < 0x20 || b == 0x7F;
  });
}

void CheckHeaderValue(std::string_view what, std::string_view value) {
  if (HasControlChar(value)) throw Error(std::string("Invalid ") + std::string(what) + " header");
}

class OwnedFd {
 public:
  explicit OwnedFd(int fd) : fd_(fd) {}
  ~OwnedFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  OwnedFd(OwnedFd&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
  OwnedFd& operator=(OwnedFd&&) = delete;
  OwnedFd(const OwnedFd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// The request body as a sequence of memory pieces and open files, read in order by libcurl.
class BodySource {
 public:
  void AddText(std::string text) {
    if (!text.empty()) pieces_.push_back(Piece{std::move(text), std::nullopt, 0});
  }
  void AddFile(OwnedFd fd, std::uint64_t size, std::string name) {
    pieces_.push_back(Piece{std::move(name), std::move(fd), size});
  }
  std::uint64_t Size() const {
    std::uint64_t n = 0;
    for (const auto& p : pieces_) n += p.file ? p.size : p.data.size();
    return n;
  }
  const std::string& Failure() const { return failure_; }

  static size_t Read(char* buffer, size_t size, size_t nitems, void* self) {
    return static_cast<BodySource*>(self)->Fill(buffer, size * nitems);
  }

 private:
  struct Piece {
    std::string data;  // the bytes, or the file's path for messages
    std::optional<OwnedFd> file;
    std::uint64_t size = 0;  // file pieces: bytes to send
  };

  size_t Fill(char* buffer, size_t room) {
    size_t filled = 0;
    while (filled < room && index_ < pieces_.size()) {
      Piece& p = pieces_[index_];
      if (!p.file) {
        const size_t n = std::min(room - filled, p.data.size() - offset_);
        std::memcpy(buffer + filled, p.data.data() + offset_, n);
        filled += n;
        offset_ += n;
        if (offset_ == p.data.size()) Next();
        continue;
      }
      const std::uint64_t left = p.size - offset_;
      if (left == 0) {
        Next();
        continue;
      }
      const size_t want = static_cast<size_t>(std::min<std::uint64_t>(left, room - filled));
      const ssize_t n = ::read(p.file->get(), buffer + filled, want);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        failure_ = "Cannot read file \"" + p.data + "\". " + std::strerror(errno);
        return CURL_READFUNC_ABORT;
      }
      if (n == 0) {
        // The length is already on the wire: a shorter file cannot make a sound request.
        failure_ = "File \"" + p.data + "\" became shorter while it was sent";
        return CURL_READFUNC_ABORT;
      }
      filled += static_cast<size_t>(n);
      offset_ += static_cast<std::uint64_t>(n);
    }
    return filled;
  }
  void Next() {
    pieces_[index_].file.reset();  // close each file once it is sent
    ++index_;
    offset_ = 0;
  }

  std::vector<Piece> pieces_;
  std::size_t index_ = 0;
  std::uint64_t offset_ = 0;
  std::string failure_;
};

OwnedFd OpenForSending(const std::filesystem::path& file, std::uint64_t& size) {
  const std::string name = file.string();
  OwnedFd fd(::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (fd.get() < 0) {
    throw Error("Cannot open file \"" + name + "\". " + std::strerror(errno));
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) {
    throw Error("Cannot open file \"" + name + "\". " + std::strerror(errno));
  }
  // A FIFO or device has no length to announce, and a folder no bytes.
  if (!S_ISREG(st.st_mode)) throw Error("Cannot open file \"" + name + "\". Not a regular file");
  size = static_cast<std::uint64_t>(st.st_size);
  return fd;
}

struct CurlHandle {
  CURL* h = Curl().easy_init();
  ~CurlHandle() {
    if (h) Curl().easy_cleanup(h);
  }
};

struct HeaderList {
  curl_slist* list = nullptr;
  ~HeaderList() {
    if (list) Curl().slist_free_all(list);
  }
  void Add(const std::string& line) {
    curl_slist* next = Curl().slist_append(list, line.c_str());
    if (!next) throw Error("Out of memory");
    list = next;
  }
};

struct ReplyState {
  std::string status_line;
};

// Aborts a request whose connection moves no byte for the bound; the connect phase has a
// bound of its own. libcurl's low-speed check averages over several seconds and so overshoots.
struct StallGuard {
  using Clock = std::chrono::steady_clock;
  CURL* handle = nullptr;
  std::chrono::milliseconds bound{0};
  curl_off_t moved = -1;
  Clock::time_point last = Clock::now();
  bool fired = false;

  static int OnProgress(void* self, curl_off_t dltotal, curl_off_t dlnow, curl_off_t ultotal,
                        curl_off_t ulnow) {
    (void)dltotal;
    (void)ultotal;
    return static_cast<StallGuard*>(self)->Check(dlnow + ulnow);
  }
  int Check(curl_off_t now_moved) {
    const auto now = Clock::now();
    curl_off_t connected = 0;
    Curl().easy_getinfo(handle, CURLINFO_CONNECT_TIME_T, &connected);
    if (connected == 0 || now_moved != moved) {
      moved = now_moved;
      last = now;
      return 0;
    }
    if (now - last < bound) return 0;
    fired = true;
    return 1;
  }
};

size_t DropBody(char*, size_t size, size_t nmemb, void*) {
  return size * nmemb;
}

size_t OnHeader(char* buffer, size_t size, size_t nitems, void* user) {
  const size_t n = size * nitems;
  std::string_view line(buffer, n);
  if (line.starts_with("HTTP/")) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    static_cast<ReplyState*>(user)->status_line = std::string(line);
  }
  return n;
}

}  // namespace

std::string MimeTypeForFile(const std::filesystem::path& file) {
  static constexpr std::pair<std::string_view, std::string_view> kTypes[] = {
      {".jpg", "image/jpeg"},        {".jpeg", "image/jpeg"},  {".jpe", "image/jpeg"},
      {".png", "image/png"},         {".gif", "image/gif"},    {".bmp", "image/bmp"},
      {".tif", "image/tiff"},        {".tiff", "image/tiff"},  {".webp", "image/webp"},
      {".svg", "image/svg+xml"},     {".ico", "image/x-icon"}, {".pdf", "application/pdf"},
      {".txt", "text/plain"},        {".htm", "text/html"},    {".html", "text/html"},
      {".json", "application/json"}, {".xml", "text/xml"},     {".zip", "application/zip"},
  };
  std::string ext = file.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  });
  for (const auto& [e, type] : kTypes) {
    if (ext == e) return std::string(type);
  }
  return "application/octet-stream";
}

void MultipartForm::AddFile(std::string field, std::filesystem::path file,
                            std::string contentType) {
  parts_.push_back(Part{std::move(field), std::move(file), std::move(contentType)});
}

struct HttpClient::Impl {
  mutable std::mutex mu;
  bool allow_cookies = true;
  std::string accept = kDefaultAccept;
  std::string user_agent = kDefaultUserAgent;
  int connect_timeout_ms = kDefaultConnectTimeoutMs;
  int stall_timeout_ms = kDefaultStallTimeoutMs;
  // The cookie store, shared by the easy handle of each request; made by the first request after
  // the client was made or its cookies cleared.
  CURLSH* share = nullptr;
  int last_status = 0;
  std::string last_status_line;

  ~Impl() { DropShare(); }

  void DropShare() {
    if (share) Curl().share_cleanup(share);
    share = nullptr;
  }

  CURLSH* Share() {
    if (share) return share;
    const CurlLibrary& curl = Curl();
    CURLSH* s = curl.share_init();
    if (!s) throw Error("Out of memory");
    if (curl.share_setopt(s, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE) != CURLSHE_OK) {
      curl.share_cleanup(s);
      throw Error("HTTP cookie store unavailable");
    }
    share = s;
    return share;
  }

  void Perform(std::u16string_view url, BodySource& body, const std::string& contentType);
};

void HttpClient::Impl::Perform(std::u16string_view url, BodySource& body,
                               const std::string& contentType) {
  last_status = 0;
  last_status_line.clear();

  const std::string url8 = rtl::UnicodeToUtf8(url);
  if (url8.empty() || HasControlChar(url8)) throw Error("Invalid URL \"" + url8 + "\"");

  const CurlLibrary& lib = Curl();
  CurlHandle curl;
  if (!curl.h) throw Error("Out of memory");
  CURL* h = curl.h;
  char errbuf[CURL_ERROR_SIZE] = {};
  ReplyState reply;

  HeaderList headers;
  // An empty "Name:" line removes a header libcurl would add of its own.
  headers.Add(accept.empty() ? "Accept:" : "Accept: " + accept);
  if (!user_agent.empty()) headers.Add("User-Agent: " + user_agent);
  headers.Add("Connection: keep-alive");
  headers.Add(contentType.empty() ? "Content-Type:" : "Content-Type: " + contentType);
  headers.Add("Expect:");

  const curl_off_t size = static_cast<curl_off_t>(body.Size());

  bool ok = lib.easy_setopt(h, CURLOPT_ERRORBUFFER, errbuf) == CURLE_OK;
  auto set = [&](CURLoption opt, auto value) {
    ok = ok && lib.easy_setopt(h, opt, value) == CURLE_OK;
  };
  set(CURLOPT_URL, url8.c_str());
  set(CURLOPT_PROTOCOLS_STR, "http");
  set(CURLOPT_NOSIGNAL, 1L);
  set(CURLOPT_PROXY, "");  // also ignores http_proxy and friends in the environment
  set(CURLOPT_FOLLOWLOCATION, 0L);
  set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
  set(CURLOPT_FRESH_CONNECT, 1L);
  set(CURLOPT_FORBID_REUSE, 1L);
  set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(std::max(connect_timeout_ms, 0)));
  StallGuard stall;
  stall.handle = h;
  stall.bound = std::chrono::milliseconds(stall_timeout_ms);
  if (stall_timeout_ms > 0) {
    set(CURLOPT_NOPROGRESS, 0L);
    set(CURLOPT_XFERINFOFUNCTION, &StallGuard::OnProgress);
    set(CURLOPT_XFERINFODATA, static_cast<void*>(&stall));
  }
  set(CURLOPT_HTTPHEADER, headers.list);
  set(CURLOPT_POST, 1L);
  set(CURLOPT_POSTFIELDSIZE_LARGE, size);
  set(CURLOPT_READFUNCTION, &BodySource::Read);
  set(CURLOPT_READDATA, static_cast<void*>(&body));
  set(CURLOPT_WRITEFUNCTION, &DropBody);
  set(CURLOPT_HEADERFUNCTION, &OnHeader);
  set(CURLOPT_HEADERDATA, static_cast<void*>(&reply));
  if (allow_cookies) {
    set(CURLOPT_SHARE, Share());
    set(CURLOPT_COOKIEFILE, "");  // switches the cookie engine on, loading no file
  }
  if (!ok) throw Error("HTTP request could not be set up");

  const CURLcode rc = lib.easy_perform(h);
  if (!body.Failure().empty()) throw Error(body.Failure());
  if (stall.fired) {
    throw Error("Read timed out: no data moved for " + std::to_string(stall_timeout_ms) + " ms");
  }
  if (rc != CURLE_OK) {
    const std::string detail = errbuf[0] ? errbuf : lib.easy_strerror(rc);
    throw Error(detail);
  }
  long code = 0;
  lib.easy_getinfo(h, CURLINFO_RESPONSE_CODE, &code);
  last_status = static_cast<int>(code);
  last_status_line = reply.status_line;
  if (code < 200 || code > 299) {
    throw Error(reply.status_line.empty() ? "HTTP status " + std::to_string(code)
                                          : reply.status_line);
  }
}

HttpClient::HttpClient() : impl_(std::make_unique<Impl>()) {}

HttpClient::~HttpClient() = default;

void HttpClient::SetAllowCookies(bool allow) {
  std::lock_guard lk(impl_->mu);
  impl_->allow_cookies = allow;
}
bool HttpClient::AllowCookies() const {
  std::lock_guard lk(impl_->mu);
  return impl_->allow_cookies;
}
void HttpClient::ClearCookies() {
  std::lock_guard lk(impl_->mu);
  impl_->DropShare();
}

void HttpClient::SetAccept(std::string value) {
  CheckHeaderValue("Accept", value);
  std::lock_guard lk(impl_->mu);
  impl_->accept = std::move(value);
}
std::string HttpClient::Accept() const {
  std::lock_guard lk(impl_->mu);
  return impl_->accept;
}
void HttpClient::SetUserAgent(std::string value) {
  CheckHeaderValue("User-Agent", value);
  std::lock_guard lk(impl_->mu);
  impl_->user_agent = std::move(value);
}
std::string HttpClient::UserAgent() const {
  std::lock_guard lk(impl_->mu);
  return impl_->user_agent;
}

void HttpClient::SetConnectTimeout(int milliseconds) {
  std::lock_guard lk(impl_->mu);
  impl_->connect_timeout_ms = std::max(milliseconds, 0);
}
int HttpClient::ConnectTimeout() const {
  std::lock_guard lk(impl_->mu);
  return impl_->connect_timeout_ms;
}
void HttpClient::SetStallTimeout(int milliseconds) {
  std::lock_guard lk(impl_->mu);
  impl_->stall_timeout_ms = std::max(milliseconds, 0);
}
int HttpClient::StallTimeout() const {
  std::lock_guard lk(impl_->mu);
  return impl_->stall_timeout_ms;
}

void HttpClient::Post(std::u16string_view url, std::span<const std::uint8_t> body) {
  Post(url, std::string_view(reinterpret_cast<const char*>(body.data()), body.size()));
}

void HttpClient::Post(std::u16string_view url, std::string_view body) {
  BodySource source;
  source.AddText(std::string(body));
  std::lock_guard lk(impl_->mu);
  impl_->Perform(url, source, {});
}

void HttpClient::PostMultipart(std::u16string_view url, const MultipartForm& form) {
  const std::string boundary = NewMultipartBoundary();
  // Every file is opened, and its length taken, before a byte goes out.
  std::vector<std::pair<OwnedFd, std::uint64_t>> files;
  files.reserve(form.Parts().size());
  for (const auto& part : form.Parts()) {
    CheckHeaderValue("Content-Type", PartContentType(part));
    std::uint64_t size = 0;
    OwnedFd fd = OpenForSending(part.file, size);
    files.emplace_back(std::move(fd), size);
  }
  BodySource source;
  for (MultipartPiece& piece : MultipartLayout(boundary, form)) {
    if (piece.file_of) {
      auto& [fd, size] = files[*piece.file_of];
      source.AddFile(std::move(fd), size, form.Parts()[*piece.file_of].file.string());
    } else {
      source.AddText(std::move(piece.text));
    }
  }
  std::lock_guard lk(impl_->mu);
  impl_->Perform(url, source, "multipart/form-data; boundary=" + boundary);
}

int HttpClient::LastStatus() const {
  std::lock_guard lk(impl_->mu);
  return impl_->last_status;
}
std::string HttpClient::LastStatusLine() const {
  std::lock_guard lk(impl_->mu);
  return impl_->last_status_line;
}

}  // namespace net
