#pragma once
// The sheets of a flat ODF spreadsheet (.fods, as LibreOffice writes it), and copies of it in
// which every sheet but one is hidden: LibreOffice prints no hidden sheet, so such a copy
// prints that one sheet alone.

#include <memory>
#include <string>

namespace office::detail {

class FlatSpreadsheet {
 public:
  // Null when the text is no well-formed flat ODF document with a spreadsheet body.
  static std::unique_ptr<FlatSpreadsheet> Parse(const std::string& xml);
  ~FlatSpreadsheet();
  FlatSpreadsheet(const FlatSpreadsheet&) = delete;
  FlatSpreadsheet& operator=(const FlatSpreadsheet&) = delete;

  // The sheets of the body, embedded tables (chart data and the like) not counted.
  int SheetCount() const;
  // Sheet n (1-based) as UTF-8; empty for a number out of range.
  std::string SheetName(int n) const;
  // The document as UTF-8 with every sheet but sheet n hidden; empty for a number out of range.
  std::string WithOnlySheet(int n) const;

 private:
  struct Impl;
  explicit FlatSpreadsheet(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace office::detail
