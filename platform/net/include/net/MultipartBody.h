#pragma once
// The body of a "multipart/form-data" post, laid out without opening a file: the texts around
// the files' bytes, which the HTTP client reads from the files while it sends.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/HttpClient.h"

namespace net {

// "----VellumarkFormBoundary" and 32 random hexadecimal digits: 128 random bits, so no file
// holds it by chance.
std::string NewMultipartBoundary();

// The Content-Type a part is sent with: its own, or MimeTypeForFile of its file.
std::string PartContentType(const MultipartForm::Part& part);

// One piece of the body: the text, or, where `file_of` is set, the whole bytes of that part's
// file.
struct MultipartPiece {
  std::string text;
  std::optional<std::size_t> file_of;
};

// The body in order. Per part: "--" boundary, a line end, the Content-Disposition (form-data,
// the field name and the file name without folder, quoted; a quote, CR and LF in them are
// percent-encoded), the Content-Type, "Content-Transfer-Encoding: binary", a blank line, the
// file's bytes and a line end; then "--" boundary "--" and a line end. No piece for a form
// without parts. Content types are taken as they are (the HTTP client refuses control
// characters in them before it calls this).
std::vector<MultipartPiece> MultipartLayout(std::string_view boundary, const MultipartForm& form);

}  // namespace net
