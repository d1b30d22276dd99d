// The multipart body of the HTTP client: a form of parts with any field name, file path,
// content type and file bytes, laid out by the client's own function, is read back by a small
// parser of our own (RFC 2046 delimiters, the Content-Disposition parameters as quoted strings):
// the same parts in order, the same names (after undoing the client's percent escapes), types
// and bytes, and a boundary that nothing but the delimiters holds. The boundary's shape is
// checked on one made by NewMultipartBoundary.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "FuzzInput.h"
#include "net/MultipartBody.h"

namespace {

// What the client sends a part as, and what a reader gets back.
struct Part {
  std::string name;
  std::string filename;
  std::string type;
  std::string bytes;
  bool operator==(const Part&) const = default;
};

bool HasControlChar(std::string_view s) {
  for (const char c : s) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
  }
  return false;
}

std::string Unescape(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const std::string_view rest = s.substr(i, 3);
    if (rest == "%22" || rest == "%0D" || rest == "%0A") {
      out += rest == "%22" ? '"' : rest == "%0D" ? '\r' : '\n';
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

bool HasEscapeText(std::string_view s) {
  return s.find("%22") != std::string_view::npos || s.find("%0D") != std::string_view::npos ||
         s.find("%0A") != std::string_view::npos;
}

// `key="value"` in a Content-Disposition after "; ": the value up to the next quote.
bool TakeParam(std::string_view& line, std::string_view key, std::string& value) {
  const std::string start = "; " + std::string(key) + "=\"";
  if (!line.starts_with(start)) return false;
  line.remove_prefix(start.size());
  const std::size_t quote = line.find('"');
  if (quote == std::string_view::npos) return false;
  value = std::string(line.substr(0, quote));
  line.remove_prefix(quote + 1);
  return true;
}

// A strict reader of the body; false when it is not a well-formed body of such parts.
bool Parse(std::string_view body, std::string_view boundary, std::vector<Part>& parts) {
  const std::string delimiter = "--" + std::string(boundary);
  if (!body.starts_with(delimiter)) return false;
  std::size_t at = delimiter.size();
  for (;;) {
    const std::string_view after = body.substr(at);
    if (after == "--\r\n") return true;
    if (!after.starts_with("\r\n")) return false;
    at += 2;
    const std::size_t headersEnd = body.find("\r\n\r\n", at);
    if (headersEnd == std::string_view::npos) return false;
    Part part;
    std::string_view headers = body.substr(at, headersEnd + 2 - at);
    int seen = 0;
    while (!headers.empty()) {
      const std::size_t end = headers.find("\r\n");
      std::string_view line = headers.substr(0, end);
      headers.remove_prefix(end + 2);
      if (line.starts_with("Content-Disposition: form-data")) {
        line.remove_prefix(30);
        if (!TakeParam(line, "name", part.name) || !TakeParam(line, "filename", part.filename) ||
            !line.empty())
          return false;
        seen |= 1;
      } else if (line.starts_with("Content-Type: ")) {
        part.type = std::string(line.substr(14));
        seen |= 2;
      } else if (line == "Content-Transfer-Encoding: binary") {
        seen |= 4;
      } else {
        return false;
      }
    }
    if (seen != 7) return false;
    at = headersEnd + 4;
    const std::size_t next = body.find("\r\n" + delimiter, at);
    if (next == std::string_view::npos) return false;
    part.bytes = std::string(body.substr(at, next - at));
    parts.push_back(std::move(part));
    at = next + 2 + delimiter.size();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string made = net::NewMultipartBoundary();
  FUZZ_CHECK(made.size() == 57 && made.starts_with("----VellumarkFormBoundary"));
  FUZZ_CHECK(made.find_first_not_of("0123456789abcdef", 25) == std::string::npos);

  // A boundary of the same shape, fixed so a run can be repeated.
  const std::string boundary = "----VellumarkFormBoundary0f1e2d3c4b5a69788796a5b4c3d2e1f0";
  fuzz::Input in(data, size);
  net::MultipartForm form;
  std::vector<Part> expected;
  std::vector<std::string> files;
  const std::size_t count = in.Byte() % 5;
  for (std::size_t i = 0; i < count; ++i) {
    std::string field = in.Bytes(64);
    std::string path = in.Bytes(64);
    std::string type = in.Bytes(64);
    std::string bytes = in.Bytes();
    form.AddFile(field, path, type);
    const std::string sentType = net::PartContentType(form.Parts().back());
    // The client refuses such a type before it lays out the body.
    if (HasControlChar(sentType)) return 0;
    // With 128 random bits in the real boundary, no file holds it.
    if (bytes.find(boundary) != std::string::npos) return 0;
    expected.push_back({field, std::filesystem::path(path).filename().string(), sentType, bytes});
    files.push_back(std::move(bytes));
  }

  std::string body;
  for (const net::MultipartPiece& piece : net::MultipartLayout(boundary, form)) {
    if (piece.file_of) {
      FUZZ_CHECK(*piece.file_of < files.size());
      body += files[*piece.file_of];
    } else {
      FUZZ_CHECK(!piece.text.empty());
      body += piece.text;
    }
  }
  if (form.Empty()) {
    FUZZ_CHECK(body.empty());
    return 0;
  }

  std::vector<Part> parsed;
  FUZZ_CHECK(Parse(body, boundary, parsed));
  FUZZ_CHECK(parsed.size() == expected.size());
  for (std::size_t i = 0; i < parsed.size(); ++i) {
    Part& got = parsed[i];
    const Part& sent = expected[i];
    for (const std::string* quoted : {&got.name, &got.filename}) {
      FUZZ_CHECK(quoted->find_first_of("\"\r\n") == std::string::npos);
    }
    // A name that holds an escape's text itself cannot be told from an escaped one (browsers
    // write the same), so only the others are compared.
    for (auto [mine, theirs] : {std::pair{&got.name, &sent.name}, {&got.filename, &sent.filename}})
      *mine = HasEscapeText(*theirs) ? *theirs : Unescape(*mine);
    FUZZ_CHECK(got == sent);
  }
  // A delimiter after a line end stands only where a part ends: no header holds one.
  const std::string delimiter = "\r\n--" + boundary;
  std::size_t delimiters = 0;
  for (std::size_t at = body.find(delimiter); at != std::string::npos;
       at = body.find(delimiter, at + 1))
    ++delimiters;
  FUZZ_CHECK(delimiters == expected.size());
  return 0;
}
