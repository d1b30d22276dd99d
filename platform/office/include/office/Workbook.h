#pragma once
// A workbook opened through LibreOffice Calc. Opening turns it into flat ODF, which tells the
// sheets; a sheet is printed to PDF alone by a copy in which every other sheet is hidden.

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "office/ImpressDeck.h"

namespace office {

class Workbook {
 public:
  // Null when the document is missing, LibreOffice does not open it as a spreadsheet, or the
  // run fails or times out; `error` then says why. Nothing of the run stays on disk.
  static std::unique_ptr<Workbook> Open(const std::string& document,
                                        const ConvertOptions& options = {},
                                        std::string* error = nullptr);
  ~Workbook();
  Workbook(const Workbook&) = delete;
  Workbook& operator=(const Workbook&) = delete;

  int SheetCount() const;
  // Sheet n (1-based); empty for a number out of range.
  std::string SheetName(int n) const;
  // False for a sheet with nothing to print: one the workbook hides, or one that prints alone
  // to a single page showing nothing (an empty sheet), and for a number out of range. Prints
  // the sheet, in its batch, when it has not been printed yet.
  bool SheetPrints(int n);
  // Writes sheet n alone as PDF at `path`, with all its print pages. Sheets are printed in
  // batches by one soffice run each, on first demand.
  // False, with nothing left at `path`, when the number is out of range, the sheet has nothing
  // to print or printing fails.
  bool ExportSheetPdf(int n, const std::string& path, std::string* error = nullptr);

 private:
  struct Impl;
  explicit Workbook(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace office
