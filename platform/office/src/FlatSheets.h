#pragma once
// The sheets of a flat ODF spreadsheet (.fods, as LibreOffice writes it), and copies of it in
// which every sheet but one is hidden: LibreOffice prints no hidden sheet, so such a copy
// prints that one sheet alone. A copy is printed under a name of its own, so its file-name
// fields (a footer's "&F") are turned into the text they show for the original document.

#include <memory>
#include <string>

namespace office::detail {

class FlatSpreadsheet {
 public:
  // Null when the text is no well-formed flat ODF document with a spreadsheet body. `document`
  // is the absolute path (UTF-8) of the document the text was made from; without one the
  // copies keep their file-name fields.
  static std::unique_ptr<FlatSpreadsheet> Parse(const std::string& xml,
                                                const std::string& document = {});
  ~FlatSpreadsheet();
  FlatSpreadsheet(const FlatSpreadsheet&) = delete;
  FlatSpreadsheet& operator=(const FlatSpreadsheet&) = delete;

  // The sheets of the body, embedded tables (chart data and the like) not counted.
  int SheetCount() const;
  // Sheet n (1-based) as UTF-8; empty for a number out of range.
  std::string SheetName(int n) const;
  // Whether sheet n is hidden in the document itself. LibreOffice prints no hidden sheet, and
  // when every sheet is hidden it shows the first instead, so a copy for a hidden sheet would
  // print another sheet.
  bool SheetHidden(int n) const;
  // The document as UTF-8 with every sheet but sheet n hidden; empty for a number out of range.
  std::string WithOnlySheet(int n) const;

 private:
  struct Impl;
  explicit FlatSpreadsheet(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace office::detail
