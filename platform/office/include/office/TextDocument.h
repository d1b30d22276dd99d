#pragma once
// A text document opened through LibreOffice Writer: a headless soffice run turns it into PDF,
// which the Word server saves where it is asked to.

#include <memory>
#include <string>

#include "office/ImpressDeck.h"

namespace office {

class TextDocument {
 public:
  // Null when the document is missing, LibreOffice does not open it as a text document, or the
  // run fails or times out; `error` then says why. Nothing of the run stays on disk.
  static std::unique_ptr<TextDocument> Open(const std::string& document,
                                            const ConvertOptions& options = {},
                                            std::string* error = nullptr);

  // Writes the document as PDF at `path`; false, with nothing left there, when that fails.
  bool SavePdf(const std::string& path, std::string* error = nullptr) const;
  const std::string& Pdf() const { return pdf_; }

 private:
  explicit TextDocument(std::string pdf) : pdf_(std::move(pdf)) {}
  std::string pdf_;
};

}  // namespace office
