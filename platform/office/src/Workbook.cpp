#include "office/Workbook.h"

#include <algorithm>
#include <filesystem>
#include <optional>

#include "FlatSheets.h"
#include "Soffice.h"

namespace fs = std::filesystem;

namespace office {
namespace {

// Sheets printed by one soffice run: each costs a copy of the document on disk for the run.
constexpr int kSheetsPerRun = 16;

void SetError(std::string* error, std::string text) {
  if (error) *error = std::move(text);
}

}  // namespace

struct Workbook::Impl {
  ConvertOptions options;
  std::unique_ptr<detail::FlatSpreadsheet> flat;
  std::mutex mutex;  // one print run at a time
  std::vector<std::optional<std::string>> pdfs;
  std::vector<bool> tried;
};

Workbook::Workbook(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Workbook::~Workbook() = default;

std::unique_ptr<Workbook> Workbook::Open(const std::string& document, const ConvertOptions& options,
                                         std::string* error) {
  const fs::path input = detail::ExistingDocument(document);
  if (input.empty()) {
    SetError(error, "no such document: " + document);
    return nullptr;
  }
  std::string xml;
  {
    detail::TempDir temp;
    const fs::path outDir = temp.Folder("out");
    if (outDir.empty()) {
      SetError(error, "cannot create a temporary folder");
      return nullptr;
    }
    // The spreadsheet filter refuses documents that LibreOffice opens in another module.
    if (!detail::RunConversion(options, "fods:OpenDocument Spreadsheet Flat XML", outDir, {input},
                               temp.path(), error)) {
      return nullptr;
    }
    const fs::path flatPath = detail::FindOutput(outDir, ".fods");
    if (flatPath.empty() || !detail::ReadWholeFile(flatPath, xml)) {
      SetError(error, "LibreOffice cannot open the document as a spreadsheet");
      return nullptr;
    }
  }
  auto impl = std::make_unique<Impl>();
  impl->options = options;
  impl->flat = detail::FlatSpreadsheet::Parse(xml, input.string());
  if (!impl->flat) {
    SetError(error, "the document is not a spreadsheet");
    return nullptr;
  }
  const auto count = static_cast<std::size_t>(impl->flat->SheetCount());
  impl->pdfs.resize(count);
  impl->tried.resize(count, false);
  return std::unique_ptr<Workbook>(new Workbook(std::move(impl)));
}

int Workbook::SheetCount() const {
  return impl_->flat->SheetCount();
}

std::string Workbook::SheetName(int n) const {
  return impl_->flat->SheetName(n);
}

bool Workbook::SheetShown(int n) const {
  return n >= 1 && n <= SheetCount() && !impl_->flat->SheetHidden(n);
}

bool Workbook::ExportSheetPdf(int n, const std::string& path, std::string* error) {
  if (n < 1 || n > SheetCount()) {
    SetError(error, "no sheet " + std::to_string(n));
    return false;
  }
  if (!SheetShown(n)) {
    SetError(error, "sheet " + std::to_string(n) + " is hidden");
    return false;
  }
  std::lock_guard lock(impl_->mutex);
  const auto index = static_cast<std::size_t>(n - 1);
  if (!impl_->tried[index]) {
    detail::TempDir temp;
    const fs::path inDir = temp.Folder("in");
    const fs::path outDir = inDir.empty() ? fs::path() : temp.Folder("out");
    if (outDir.empty()) {
      SetError(error, "cannot create a temporary folder");
      return false;
    }
    std::vector<fs::path> inputs;
    std::vector<int> batch;
    for (int k = n; k <= SheetCount() && static_cast<int>(batch.size()) < kSheetsPerRun; ++k) {
      if (impl_->tried[static_cast<std::size_t>(k - 1)] || !SheetShown(k)) continue;
      const fs::path copy = inDir / ("sheet" + std::to_string(k) + ".fods");
      if (!detail::WriteWholeFile(copy.string(), impl_->flat->WithOnlySheet(k))) {
        SetError(error, "cannot write " + copy.string());
        return false;
      }
      inputs.push_back(copy);
      batch.push_back(k);
    }
    const bool ran = detail::RunConversion(impl_->options, "pdf:calc_pdf_Export", outDir, inputs,
                                           temp.path(), error);
    for (int k : batch) {
      const auto i = static_cast<std::size_t>(k - 1);
      impl_->tried[i] = true;
      std::string pdf;
      if (ran && detail::ReadWholeFile(outDir / ("sheet" + std::to_string(k) + ".pdf"), pdf) &&
          !pdf.empty()) {
        impl_->pdfs[i] = std::move(pdf);
      }
    }
    if (!ran) return false;
  }
  if (!impl_->pdfs[index]) {
    SetError(error, "sheet " + std::to_string(n) + " cannot be printed");
    return false;
  }
  if (path.empty() || !detail::WriteWholeFile(path, *impl_->pdfs[index])) {
    SetError(error, "cannot write " + path);
    return false;
  }
  return true;
}

}  // namespace office
