#include "board_peer/Wire.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace board_peer {

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

// Splits "type; a=1; b=\"x;y\"" into lower-case parameter names and unquoted values.
HeaderList HeaderParams(std::string_view value) {
  HeaderList params;
  std::size_t i = value.find(';');
  while (i != std::string_view::npos && i < value.size()) {
    ++i;
    while (i < value.size() && (value[i] == ' ' || value[i] == '\t')) ++i;
    std::size_t eq = i;
    while (eq < value.size() && value[eq] != '=' && value[eq] != ';') ++eq;
    std::string key = Lower(Trim(value.substr(i, eq - i)));
    std::string val;
    std::size_t next = eq;
    if (eq < value.size() && value[eq] == '=') {
      std::size_t j = eq + 1;
      while (j < value.size() && (value[j] == ' ' || value[j] == '\t')) ++j;
      if (j < value.size() && value[j] == '"') {
        ++j;
        while (j < value.size() && value[j] != '"') {
          if (value[j] == '\\' && j + 1 < value.size()) ++j;
          val.push_back(value[j]);
          ++j;
        }
        next = value.find(';', j);
      } else {
        next = value.find(';', j);
        val = std::string(
            Trim(value.substr(j, next == std::string_view::npos ? value.npos : next - j)));
      }
    } else if (eq >= value.size()) {
      next = std::string_view::npos;
    }
    if (!key.empty()) params.emplace_back(std::move(key), std::move(val));
    i = next;
  }
  return params;
}

std::string ParamValue(const HeaderList& params, std::string_view key) {
  for (const auto& [k, v] : params) {
    if (k == key) return v;
  }
  return {};
}

}  // namespace

std::string MakeBeacon(std::string_view name, std::string_view rest) {
  std::string out(kBeaconKeyword);
  out.push_back('\x01');
  out.append(name);
  out.push_back(';');
  out.append(rest);
  out.append(10, '\0');
  return out;
}

std::string MakeFrame(std::string_view payload, std::array<std::uint8_t, 4> head) {
  if (payload.size() > kMaxFramePayload) throw std::length_error("frame payload too long");
  std::string out;
  out.reserve(kFrameHeaderSize + payload.size());
  for (std::uint8_t b : head) out.push_back(static_cast<char>(b));
  const auto len = static_cast<std::uint16_t>(payload.size());
  out.push_back(static_cast<char>(len & 0xFF));
  out.push_back(static_cast<char>(len >> 8));
  out.append(payload);
  return out;
}

TextSplitter::TextSplitter(std::size_t max_text_bytes) : max_(max_text_bytes) {}

void TextSplitter::Keep(std::string_view bytes) {
  const std::size_t room = text_.size() < max_ ? max_ - text_.size() : 0;
  if (bytes.size() > room) {
    truncated_ = true;
    bytes = bytes.substr(0, room);
  }
  text_.append(bytes);
}

void TextSplitter::Feed(std::string_view data, std::vector<Piece>& out) {
  // The carry holds at most the terminator's length - 1 bytes, so the window is one chunk.
  std::string window = carry_;
  window.append(data);
  carry_.clear();
  std::string_view w = window;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = w.find(kTextEnd, start);
    if (end == std::string_view::npos) break;
    Keep(w.substr(start, end - start));
    out.push_back(Piece{std::move(text_), truncated_});
    text_.clear();
    truncated_ = false;
    start = end + kTextEnd.size();
  }
  std::string_view rest = w.substr(start);
  const std::size_t hold = std::min(rest.size(), kTextEnd.size() - 1);
  Keep(rest.substr(0, rest.size() - hold));
  carry_.assign(rest.substr(rest.size() - hold));
}

std::string TextSplitter::Pending() const {
  std::string out = text_;
  if (out.size() < max_) out.append(carry_.substr(0, max_ - out.size()));
  return out;
}

void TextSplitter::Reset() {
  text_.clear();
  carry_.clear();
  truncated_ = false;
}

std::string MultipartBoundary(std::string_view content_type) {
  return ParamValue(HeaderParams(content_type), "boundary");
}

bool ParseMultipart(std::string_view boundary, std::string_view body,
                    std::vector<MultipartPart>& parts) {
  if (body.empty()) return true;
  if (boundary.empty()) return false;
  const std::string delim = "--" + std::string(boundary);
  const std::string inner = "\r\n" + delim;

  // The first delimiter opens the body or follows a preamble line.
  std::size_t pos;
  if (body.substr(0, delim.size()) == delim) {
    pos = delim.size();
  } else {
    const std::size_t at = body.find(inner);
    if (at == std::string_view::npos) return false;
    pos = at + inner.size();
  }

  for (;;) {
    if (body.substr(pos, 2) == "--") return true;  // closing delimiter
    while (pos < body.size() && (body[pos] == ' ' || body[pos] == '\t')) ++pos;
    if (body.substr(pos, 2) != "\r\n") return false;
    pos += 2;

    MultipartPart part;
    for (;;) {
      const std::size_t eol = body.find("\r\n", pos);
      if (eol == std::string_view::npos) return false;
      std::string_view line = body.substr(pos, eol - pos);
      pos = eol + 2;
      if (line.empty()) break;
      const std::size_t colon = line.find(':');
      if (colon == std::string_view::npos) return false;
      part.headers.emplace_back(std::string(Trim(line.substr(0, colon))),
                                std::string(Trim(line.substr(colon + 1))));
    }
    for (const auto& [key, value] : part.headers) {
      const std::string k = Lower(key);
      if (k == "content-disposition") {
        const HeaderList params = HeaderParams(value);
        part.name = ParamValue(params, "name");
        part.filename = ParamValue(params, "filename");
      } else if (k == "content-type") {
        part.content_type = value;
      }
    }
    const std::size_t end = body.find(inner, pos);
    if (end == std::string_view::npos) return false;
    part.content.assign(body.substr(pos, end - pos));
    parts.push_back(std::move(part));
    pos = end + inner.size();
  }
}

HeaderList ParseCookies(std::string_view header) {
  HeaderList out;
  std::size_t i = 0;
  while (i < header.size()) {
    std::size_t end = header.find(';', i);
    if (end == std::string_view::npos) end = header.size();
    std::string_view item = Trim(header.substr(i, end - i));
    if (!item.empty()) {
      const std::size_t eq = item.find('=');
      if (eq == std::string_view::npos) {
        out.emplace_back(std::string(item), std::string());
      } else {
        out.emplace_back(std::string(Trim(item.substr(0, eq))),
                         std::string(Trim(item.substr(eq + 1))));
      }
    }
    i = end + 1;
  }
  return out;
}

std::string PrintableLine(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size());
  for (char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '\\') {
      out += "\\\\";
    } else if (c < 0x20 || c == 0x7F) {
      out += "\\x";
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0xF]);
    } else {
      out.push_back(ch);
    }
  }
  return out;
}

}  // namespace board_peer
