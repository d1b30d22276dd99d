#pragma once
// One headless LibreOffice conversion, shared by the text and spreadsheet engines: a private
// profile (copied from a kept, set-up one when there is one), arguments as a vector, a bounded
// wait.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "office/ImpressDeck.h"

namespace office::detail {

// A private folder, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  // Empty when the folder could not be made.
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// The document as an absolute, normalised path when it is an existing regular file; empty
// otherwise (also for an empty name).
std::filesystem::path ExistingDocument(const std::string& document);

// Runs soffice --convert-to `target` --outdir `outDir` on each input, with a profile in
// `scratch`. False, with `error` set, when soffice is missing, cannot start, times out or fails.
bool RunConversion(const ConvertOptions& options, const std::string& target,
                   const std::filesystem::path& outDir,
                   const std::vector<std::filesystem::path>& inputs,
                   const std::filesystem::path& scratch, std::string* error);

bool ReadWholeFile(const std::filesystem::path& path, std::string& data);
// Writes the bytes at `path`; on failure nothing is left there.
bool WriteWholeFile(const std::string& path, const std::string& data);

// The PDF's "Creator" entry (LibreOffice names its module there: "Writer", "Calc", ...);
// nullopt when the bytes are no readable PDF.
std::optional<std::string> PdfCreator(const std::string& pdf);

}  // namespace office::detail
