#include "office/Workbook.h"

#include <algorithm>
#include <filesystem>
#include <optional>

#include "FlatSheets.h"
#include "Soffice.h"
#include "office/PdfPages.h"

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
  // Printed alone to one page that shows nothing: Calc gives a sheet without print pages that
  // page when nothing else of the document prints.
  std::vector<bool> blank;

  int SheetCount() const { return flat->SheetCount(); }

  // Prints sheet n and the shown sheets after it not yet tried, as many as one run takes;
  // with the mutex held. False when the run fails.
  bool PrintFrom(int n, std::string* error) {
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
      if (tried[static_cast<std::size_t>(k - 1)] || flat->SheetHidden(k)) continue;
      const fs::path copy = inDir / ("sheet" + std::to_string(k) + ".fods");
      if (!detail::WriteWholeFile(copy.string(), flat->WithOnlySheet(k))) {
        SetError(error, "cannot write " + copy.string());
        return false;
      }
      inputs.push_back(copy);
      batch.push_back(k);
    }
    const bool ran =
        detail::RunConversion(options, "pdf:calc_pdf_Export", outDir, inputs, temp.path(), error);
    for (int k : batch) {
      const auto i = static_cast<std::size_t>(k - 1);
      tried[i] = true;
      const fs::path printed = outDir / ("sheet" + std::to_string(k) + ".pdf");
      std::string pdf;
      if (ran && detail::ReadWholeFile(printed, pdf) && !pdf.empty()) {
        const auto pages = PdfPages::Load(printed.string());
        blank[i] = pages && pages->PageCount() == 1 && pages->PageIsBlank(1);
        pdfs[i] = std::move(pdf);
      }
    }
    return ran;
  }
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
  impl->blank.resize(count, false);
  return std::unique_ptr<Workbook>(new Workbook(std::move(impl)));
}

int Workbook::SheetCount() const {
  return impl_->flat->SheetCount();
}

std::string Workbook::SheetName(int n) const {
  return impl_->flat->SheetName(n);
}

bool Workbook::SheetPrints(int n) {
  if (n < 1 || n > SheetCount() || impl_->flat->SheetHidden(n)) return false;
  std::lock_guard lock(impl_->mutex);
  const auto index = static_cast<std::size_t>(n - 1);
  if (!impl_->tried[index]) impl_->PrintFrom(n, nullptr);  // a failure is the export's to report
  return !impl_->blank[index];
}

bool Workbook::ExportSheetPdf(int n, const std::string& path, std::string* error) {
  if (n < 1 || n > SheetCount()) {
    SetError(error, "no sheet " + std::to_string(n));
    return false;
  }
  if (impl_->flat->SheetHidden(n)) {
    SetError(error, "sheet " + std::to_string(n) + " is hidden");
    return false;
  }
  std::lock_guard lock(impl_->mutex);
  const auto index = static_cast<std::size_t>(n - 1);
  if (!impl_->tried[index] && !impl_->PrintFrom(n, error)) return false;
  if (impl_->blank[index]) {
    SetError(error, "sheet " + std::to_string(n) + " has nothing to print");
    return false;
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
