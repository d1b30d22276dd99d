#include "office/TextDocument.h"

#include <filesystem>

#include "Soffice.h"

namespace fs = std::filesystem;

namespace office {
namespace {

void SetError(std::string* error, std::string text) {
  if (error) *error = std::move(text);
}

}  // namespace

std::unique_ptr<TextDocument> TextDocument::Open(const std::string& document,
                                                 const ConvertOptions& options,
                                                 std::string* error) {
  const fs::path input = detail::ExistingDocument(document);
  if (input.empty()) {
    SetError(error, "no such document: " + document);
    return nullptr;
  }
  std::string pdf;
  {
    detail::TempDir temp;
    const fs::path outDir = temp.Folder("out");
    if (outDir.empty()) {
      SetError(error, "cannot create a temporary folder");
      return nullptr;
    }
    // The Writer filter refuses documents that LibreOffice opens in another module.
    if (!detail::RunConversion(options, "pdf:writer_pdf_Export", outDir, {input}, temp.path(),
                               error)) {
      return nullptr;
    }
    const fs::path pdfPath = detail::FindOutput(outDir, ".pdf");
    if (pdfPath.empty()) {
      SetError(error, "LibreOffice cannot open the document as a text");
      return nullptr;
    }
    if (!detail::ReadWholeFile(pdfPath, pdf) || pdf.empty()) {
      SetError(error, "cannot read the converted PDF");
      return nullptr;
    }
  }
  const std::optional<std::string> creator = detail::PdfCreator(pdf);
  if (!creator) {
    SetError(error, "the converted PDF cannot be read");
    return nullptr;
  }
  if (creator->find("Writer") == std::string::npos) {
    SetError(error, "the document is not a text");
    return nullptr;
  }
  return std::unique_ptr<TextDocument>(new TextDocument(std::move(pdf)));
}

bool TextDocument::SavePdf(const std::string& path, std::string* error) const {
  if (path.empty() || !detail::WriteWholeFile(path, pdf_)) {
    SetError(error, "cannot write " + path);
    return false;
  }
  return true;
}

}  // namespace office
