#include "net/MultipartBody.h"

#include <random>

namespace net {

namespace {

// A quoted parameter of a part's Content-Disposition: the quote and line breaks would end it
// early, so they are percent-encoded as browsers do.
std::string QuoteParam(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"') {
      out += "%22";
    } else if (c == '\r') {
      out += "%0D";
    } else if (c == '\n') {
      out += "%0A";
    } else {
      out += c;
    }
  }
  out += '"';
  return out;
}

}  // namespace

std::string NewMultipartBoundary() {
  std::random_device rd;
  std::uniform_int_distribution<int> hex(0, 15);
  std::string b = "----VellumarkFormBoundary";
  for (int i = 0; i < 32; ++i) b += "0123456789abcdef"[hex(rd)];
  return b;
}

std::string PartContentType(const MultipartForm::Part& part) {
  return part.content_type.empty() ? MimeTypeForFile(part.file) : part.content_type;
}

std::vector<MultipartPiece> MultipartLayout(std::string_view boundary, const MultipartForm& form) {
  std::vector<MultipartPiece> pieces;
  const std::string delimiter = "--" + std::string(boundary);
  const auto& parts = form.Parts();
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const auto& part = parts[i];
    pieces.push_back(
        {delimiter + "\r\n" + "Content-Disposition: form-data; name=" + QuoteParam(part.field) +
             "; filename=" + QuoteParam(part.file.filename().string()) + "\r\n" + "Content-Type: " +
             PartContentType(part) + "\r\n" + "Content-Transfer-Encoding: binary\r\n" + "\r\n",
         std::nullopt});
    pieces.push_back({{}, i});
    pieces.push_back({"\r\n", std::nullopt});
  }
  if (!parts.empty()) pieces.push_back({delimiter + "--\r\n", std::nullopt});
  return pieces;
}

}  // namespace net
