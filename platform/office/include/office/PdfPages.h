#pragma once
// The pages of a PDF file rendered as JPEG images.

#include <memory>
#include <string>

namespace office {

class PdfPages {
 public:
  // Null, with `error` set, when the file is missing, no PDF, or locked by a password.
  static std::unique_ptr<PdfPages> Load(const std::string& path, std::string* error = nullptr);
  ~PdfPages();
  PdfPages(const PdfPages&) = delete;
  PdfPages& operator=(const PdfPages&) = delete;

  int PageCount() const;
  // Writes page n (1-based) at `dpi` as a JPEG, as the page is shown (its rotation applied);
  // a page too large for that is rendered smaller. The file is written under a temporary name
  // and renamed, so that `path` holds either the whole image or nothing new. False, with
  // `error` set, when the page cannot be rendered or written.
  bool ExportJpeg(int n, const std::string& path, double dpi, std::string* error = nullptr) const;
  // Whether page n shows nothing at all: every pixel white. False when it cannot be rendered.
  bool PageIsBlank(int n) const;

 private:
  struct Impl;
  explicit PdfPages(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace office
