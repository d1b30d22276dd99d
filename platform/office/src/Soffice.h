#pragma once
// One headless LibreOffice conversion, shared by the office engines: a private
// profile (copied from a kept, set-up one when there is one), arguments as a vector, a bounded
// wait.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
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
  // Makes the folder `name` in this one and gives its path; empty when that fails.
  std::filesystem::path Folder(const std::string& name) const;

 private:
  std::filesystem::path path_;
};

// The document as an absolute, normalised path when it is an existing regular file; empty
// otherwise (also for an empty name).
std::filesystem::path ExistingDocument(const std::string& document);

// Runs soffice --convert-to `target` --outdir `outDir` on each input, with a profile in
// `scratch`. False, with `error` set, when soffice is missing, cannot start or times out, when it
// ends without success (`error` is then `failure`), or when `made`, asked after a successful run
// whether it made what was wanted, says no (it sets `error` itself). A fresh profile is kept for
// later runs only from a run that succeeded in full.
bool RunConversion(const ConvertOptions& options, const std::string& target,
                   const std::filesystem::path& outDir,
                   const std::vector<std::filesystem::path>& inputs,
                   const std::filesystem::path& scratch, std::string* error,
                   const std::string& failure = "LibreOffice failed",
                   const std::function<bool()>& made = {});

// The regular file in `folder` whose name ends in `extension` (".pdf"); empty when there is none.
// soffice names its output after the input, so a fresh folder for one input holds just one.
std::filesystem::path FindOutput(const std::filesystem::path& folder, const std::string& extension);

bool ReadWholeFile(const std::filesystem::path& path, std::string& data);
bool ReadWholeFile(const std::filesystem::path& path, std::vector<char>& data);
// Writes the bytes at `path`; on failure nothing is left there.
bool WriteWholeFile(const std::string& path, std::string_view data);

// The PDF's "Creator" entry (LibreOffice names its module there: "Writer", "Calc", ...);
// nullopt when the bytes are no readable PDF.
std::optional<std::string> PdfCreator(const std::string& pdf);

}  // namespace office::detail
